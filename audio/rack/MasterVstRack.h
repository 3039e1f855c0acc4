#pragma once

// Threads:
//  - message thread: start, stop, prepare, and every request and query of RackControl;
//  - the rack's control thread (ThreadRole::control for its whole run): requests, slot loads,
//    saves, the block exchange, status polls; the only thread that touches the slot workers;
//  - the scan thread (RackPluginScan): one short-lived worker per bundle;
//  - the audio thread: processBlock, realtime-safe (no lock, no allocation, no system call).
// setPlaybackActive, tryMarkPlaybackActive and the diagnostics counters are lock-free and may be
// called on any thread.

#include "audio/rack/RackBridge.h"
#include "audio/rack/RackControl.h"
#include "audio/rack/RackPluginScan.h"
#include "audio/rack/RackRequestQueue.h"
#include "audio/rack/RackSettings.h"
#include "audio/rack/RackSlotWorkers.h"
#include "audio/rack/RackState.h"
#include "audio/rack/VstRackRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace vantrel
{
/** The master bus's insert rack: two slots, each holding at most one VST3 effect in a worker
    process of its own. The message thread posts requests that the control thread carries out
    one at a time; the audio thread cuts the master bus into 512-frame blocks that the control
    thread sends through the workers and hands back a fixed bridge latency later, falling back to
    the equally delayed dry signal whenever a processed block is missing.

    How the rack behaves around the show:
    - while a slot loads, the states are captured or a reload waits, the master carries on with
      the dry signal delayed as the plug-in path would delay it, so nothing jumps ahead and
      nothing falls silent; when it is done, the blocks still in flight are dropped and the
      processed signal fades back in, while the dry history goes on;
    - after prepare the states are saved and every configured slot is reloaded at the new rate;
      when that save fails, the slots still reload (with the state last stored) and the failure
      is reported on its own;
    - an automatic capture of the plug-in states never keeps the show from starting: a start
      during it is granted and the capture stops without writing, to try again in the next quiet
      period; closing the editors counts a slot's state as changed only when its change count
      moved;
    - a captured state that differs from the stored one marks the settings as changed until
      they are written, so a failed write is tried again.

    The parts: RackBridge (rings, dry history, latency, faults), RackSlotWorkers (the slots'
    workers), RackPluginScan (the catalogue), RackSettings (master-vst.json) and
    RackRequestQueue; RackState holds what they share. This class owns them, runs the control
    loop and offers the interface. */
class MasterVstRack final : public RackControl
{
public:
    using Clock = RackClock;

    static constexpr int numSlots = RackState::numSlots;
    static constexpr int maxRequests = RackRequestQueue::maxRequests;

    MasterVstRack();
    explicit MasterVstRack (Clock clock);
    MasterVstRack (Clock clock, MasterVstRackOptions options);
    ~MasterVstRack() override;   // stop()

    MasterVstRack (const MasterVstRack&) = delete;
    MasterVstRack& operator= (const MasterVstRack&) = delete;

    // ---- message thread ----------------------------------------------------------------------

    /** Message thread only. Reads the settings file and starts the control thread (which scans
        first, then loads the configured slots). An empty workerExecutable means "OrvaneVstHost"
        beside this program. Does nothing while the control thread runs. */
    void start (const juce::File& configFile, const juce::File& workerExecutable);

    /** Message thread only (never the control thread): stops the control thread, which ends
        every worker and answers waiting saves. */
    void stop();

    // RackControl (message thread only).
    VstRackStatus status() const override;
    bool needsAttention() const override;
    bool hasReadySlots() const override;
    bool isBusy() const override;
    bool choosePlugin (int slot, const juce::String& classId) override;
    bool setSlotEnabled (int slot, bool enabled) override;
    bool openEditor (int slot) override;
    void closeEditors() override;
    bool addSearchFolder (const juce::File& folder) override;
    bool removeSearchFolder (const juce::String& folder) override;
    void requestRescan() override;
    StoreResult saveAndWait() override;

    /** Any thread: idle -> active when `active`, active -> idle when not; a capture is left as
        it is. Returns the state found. */
    RackPlaybackState setPlaybackActive (bool active) override;

    /** Any thread: marks playback active before media starts, from idle or from a capture (which
        then gives way). Always true. */
    bool tryMarkPlaybackActive();

    /** Any thread: requests posted and not yet taken by the control thread (diagnostics). */
    std::size_t queuedRequests() const { return requests.size(); }

    /** Any thread: stop() has been called since the last start (diagnostics). */
    bool isStopping() const noexcept { return state.stopRequested.load(); }

    /** Any thread: passes the control thread has finished. Once it has grown by 2, one whole
        pass began after the moment it was read (diagnostics). */
    std::uint64_t controlPasses() const noexcept { return passCount.load (std::memory_order_acquire); }

    /** Any thread but the audio thread: a control thread that waits with nothing to serve runs
        a pass now (diagnostics; as when its clock has moved past a due save). */
    void wakeControlThread();

    /** Any thread: how many scan catalogues have been taken (the first one after the initial
        load of the slots). */
    std::uint64_t catalogueGeneration() const noexcept { return catalogueCount.load (std::memory_order_acquire); }

    /** Any thread: whether the control thread got real-time scheduling. */
    bool controlThreadRealtime() const noexcept { return realtimeGranted.load (std::memory_order_relaxed); }

    static juce::StringArray defaultVst3Folders();

    // ---- audio side --------------------------------------------------------------------------

    /** Message thread only, before the device starts (never while processBlock runs): the bridge
        latency for the rate and the device block, a fresh dry history, a new epoch, faults
        cleared; then the slots are reloaded at the new rate. Allocates. */
    void prepare (double sampleRate, int maxBlockFrames);

    /** Message thread only, before a device starts again at the rate it was prepared for (never
        while processBlock runs): the bridge forgets the audio it holds from before, so the new
        start sounds none of it. The slots stay loaded, with their parameters and states; each
        plug-in's processing is restarted (which clears what it holds) before the control thread
        sends it the first block of the new start. */
    void clearHeldAudio();

    /** Audio thread, realtime-safe: passes the master bus (channel 0 left, 1 right) through the
        rack in place. */
    void processBlock (float* const* channels, int numChannels, int numSamples) noexcept;

    /** Any thread: the bridge latency in samples. */
    std::int32_t bridgeLatencySamples() const noexcept { return bridge.latencySamples(); }

    /** Any thread: blocks the audio thread has handed to the control thread, and blocks the
        control thread has taken off that ring (processed or dropped). When the two are equal,
        every block sent so far is back in the inbound ring or was dropped. */
    std::uint64_t blocksSent() const noexcept { return bridge.blocksSent(); }
    std::uint64_t blocksTaken() const noexcept { return bridge.blocksTaken(); }

private:
    // Control thread.
    void controlLoop();
    /** Control thread: no slot configured, nothing loading, scanning or owed, no request queued. */
    bool nothingToServe() const;
    /** Control thread, with nothing to serve: waits until woken, or at the latest until the next
        automatic save is due. */
    void waitForWork();
    /** Message thread: posts the request and wakes the control thread. */
    bool post (VstRackRequest request);
    void runRequest (VstRackRequest& request);
    void reloadAfterPrepare();
    void startScan();
    void takeScanResults();
    void automaticSave();
    void recreateRequestedSlots();
    int moveBlocks();
    std::int64_t now() const { return clock(); }

    Clock clock;
    const MasterVstRackOptions options;

    RackState state;
    RackBridge bridge;
    RackRequestQueue requests { state.stopRequested };
    RackPluginScan scan { state.stopRequested };
    RackSlotWorkers workers { state, bridge, options, clock };
    RackSettings settings { state, workers };
    std::thread controlThread;

    std::atomic<bool> reloadOwed { false };   // prepare's reload when the queue was full
    std::atomic<std::uint64_t> restartEpoch { 0 };   // the plug-ins restart before a block of this epoch or later
    std::uint64_t restartedEpoch = 0;                 // control thread: the last restartEpoch served
    std::atomic<bool> controlRunning { false };
    std::atomic<bool> realtimeGranted { false };
    std::atomic<std::uint64_t> catalogueCount { 0 };
    std::atomic<std::uint64_t> passCount { 0 };

    // An idle control thread sleeps here; the message thread's requests, rescans, prepare and
    // stop wake it. The audio thread never does: while blocks can come a slot is configured and
    // the thread polls instead.
    std::mutex wakeMutex;
    std::condition_variable wakeCondition;
    bool wakeRequested = false;   // guarded by wakeMutex

    std::int64_t lastLiveStatusPoll = 0;   // control thread (and start)
    std::int64_t lastAutosaveCheck = 0;
};
} // namespace vantrel
