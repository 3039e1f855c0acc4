#pragma once

// Threads: the rack's control thread only (it is the only user of the slot workers and their
// clients, and long-lived workers must be started on it: a worker ends when the thread that
// started it ends). Two exceptions, both while no control thread runs: setWorkerProgram, and
// publishStatus from start on the message thread.

#include "audio/rack/RackBridge.h"
#include "audio/rack/RackState.h"
#include "audio/rack/VstRackWorkerSlot.h"

#include <juce_core/juce_core.h>

#include <array>
#include <functional>

namespace vantrel
{
/** The life of the rack's two slots on the control thread: loading a plug-in into its own worker
    (with its stored state, at the device rate, warmed up), switching slots on and off, their
    editors, the status polls, the block exchange through the workers, capturing the plug-in
    states for a save, and bypassing a slot whose worker failed. A bypassed slot keeps its
    configuration (class id and state), so a later enable, reload or restart tries again; its
    audio goes on as the dry signal delayed by its latency. */
class RackSlotWorkers
{
public:
    enum class LoadOrigin
    {
        user,        // a failure leaves the slot as it was and reports on the status line
        automatic    // a failure bypasses the slot with the reason
    };

    /** How capturing the states for a save ended. */
    struct Capture
    {
        enum class Outcome
        {
            captured,   // every live worker's state is in the configurations
            gaveWay,    // playback began: the capture stopped, nothing more was asked
            failed      // `error` is the save's failure text
        };

        Outcome outcome = Outcome::captured;
        juce::String error;
    };

    RackSlotWorkers (RackState& state, RackBridge& bridge, const MasterVstRackOptions& options, const RackClock& clock);

    RackSlotWorkers (const RackSlotWorkers&) = delete;
    RackSlotWorkers& operator= (const RackSlotWorkers&) = delete;

    /** While no control thread runs: the worker program that slots and scans start. */
    void setWorkerProgram (const juce::File& program) { workerExecutable = program; }
    const juce::File& workerProgram() const noexcept { return workerExecutable; }

    /** Control thread: puts `configuration` into `slot` and loads it (an empty class id empties
        the slot). The audio holds the delayed dry signal meanwhile, and a new epoch starts when
        the load ends, however it ends. True when the slot holds the configuration. */
    bool loadSlot (int slot, const VstRackSlot& configuration, LoadOrigin origin);

    /** Control thread: switches a configured slot on or off. Off keeps the worker running (its
        audio fades out); on reloads the slot when it has no worker or an audio fault is
        latched. */
    void setEnabled (int slot, bool enabled);

    /** Control thread: asks the slot's worker to open its editor; a failure is reported on the
        status line, and a worker found ended bypasses the slot. */
    void openEditor (int slot);

    /** Control thread: closes every worker's editor; a slot's state counts as changed only when
        its change count moved (a status poll right after the close sees the last edits). */
    void closeEditors();

    /** Control thread: "LIVE_STATUS" of every worker: editor, change count and latency. A worker
        that does not answer, or whose latency leaves the bounds, is bypassed. */
    void pollLiveStatus();

    /** Control thread: every worker's plug-in restarts its processing ("RESET_SEEK": the
        format's stop, deactivate, activate, start), which clears the audio it holds, and every
        slot's dry delay starts again from silence. Parameters, states and the change counts stay
        as they are. A worker that fails the restart is bypassed with the reason. */
    void restartProcessing();

    /** Control thread: one block through slot 0 then slot 1, in place. */
    void exchangeBlock (RackBlock& block);

    /** Control thread: "SAVE_STATE" of every live worker into its slot configuration (a changed
        state marks the settings dirty); asks `giveWay` before each worker. */
    Capture captureStates (const std::function<bool()>& giveWay);

    /** Control thread: some worker's plug-in has asked to be loaded again and may be now. */
    bool anyReloadRequested() const;

    /** Control thread: loads every slot whose plug-in asked for it again, in a new worker with
        the state the old one holds now (the last stored state when it cannot give it). When the
        new worker cannot be loaded, the old one goes on and the status line says why. A slot is
        loaded again for this at most once a minute, so a plug-in that asks after every load
        does not keep the rack loading. */
    void recreateRequestedSlots();

    /** Control thread: some worker's state may differ from the stored one. */
    bool anyStateDirty() const noexcept;

    /** Control thread, when the rack stops: every worker ends. */
    void endAll();

    /** The slot status and the counts refreshed from the configurations and the workers, under
        the state's mutex: control thread, or the message thread while no control thread runs. */
    void publishStatus();

private:
    bool runLoadChain (VstWorkerClient& client, const VstRackSlot& configuration, const VstPluginInfo& plugin,
                       VstRackSlot& loaded, std::int32_t& latency, juce::String& error);
    bool warmUp (VstWorkerClient& client, std::int32_t latency, juce::String& error);
    void bypassSlot (int slot, const juce::String& reason);
    bool pollSlotLiveStatus (int slot);
    bool reloadDue (int slot) const;
    void publishStatusLocked();   // the state's mutex held

    RackState& state;
    RackBridge& bridge;
    const MasterVstRackOptions& options;
    const RackClock& clock;
    juce::File workerExecutable;
    std::array<VstRackWorkerSlot, RackState::numSlots> workers;
    std::array<std::int64_t, RackState::numSlots> lastReloads {};   // clock time of each slot's last one
    std::array<bool, RackState::numSlots> reloaded {};              // a slot has been loaded again for a request
};
} // namespace vantrel
