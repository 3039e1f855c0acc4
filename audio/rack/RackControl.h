#pragma once

#include "audio/rack/VstRackRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
/** What the layers above the audio side use of the master VST rack: the session coordinator,
    and through it the VST rack panel and the main view. Every method is for the message thread
    only. The requests are carried out later, one at a time, by the rack's control thread: they
    return whether the request was queued. A refusal by the rack's own state returns false without
    a text (the caller writes its own); what a queued request leads to shows in the next status. */
class RackControl
{
public:
    virtual ~RackControl() = default;

    /** Message thread only. A copy of the rack: both slots, the plug-in catalogue, the search
        folders, the status line (the last failed save's text while there is one), the fault
        text, the flags scanning, busy, settings damaged and audio fault, the scan progress, the
        latencies and the counters. */
    virtual VstRackStatus status() const = 0;

    /** Message thread only. True while an audio fault is latched, a configured slot carries a
        failure or bypass text, the settings file was found damaged, or the last save failed: the
        status line shows a VST warning. */
    virtual bool needsAttention() const = 0;

    /** Message thread only. True while at least one enabled slot is loaded and no audio fault is
        latched. */
    virtual bool hasReadySlots() const = 0;

    /** Message thread only. True while a slot load, a reload or a queued slot request is under
        way: rack and output changes wait, and so do starts of media. An automatic capture of the
        plug-in states does not count. */
    virtual bool isBusy() const = 0;

    /** Message thread only. Queues loading the plug-in with `classId` (32 hexadecimal digits, any
        case) into slot 0 or 1; an empty id empties the slot. False while the settings are
        damaged, the rack is busy or captures the plug-in states, for another slot, or for an id
        that is not 32 hexadecimal digits. */
    virtual bool choosePlugin (int slot, const juce::String& classId) = 0;

    /** Message thread only. Queues switching a configured slot on or off: off keeps its worker
        and fades its audio out; on fades it in, and reloads a slot that has no worker (or after
        an audio fault). False while the settings are damaged, for another slot, or for an empty
        slot. */
    virtual bool setSlotEnabled (int slot, bool enabled) = 0;

    /** Message thread only. Queues opening the editor window of a loaded slot (also during
        playback). False for another slot or a slot that is not loaded; a failure to open shows on
        the status line. */
    virtual bool openEditor (int slot) = 0;

    /** Message thread only. Queues closing the editor windows of every loaded slot and returns
        at once. */
    virtual void closeEditors() = 0;

    /** Message thread only. Queues adding an existing folder (normalised) to the search folders,
        which starts a new scan. False while the settings are damaged or playback is active, for
        a folder that does not exist or cannot be named to the worker, or when 16 folders are
        listed and this one is not among them. */
    virtual bool addSearchFolder (const juce::File& folder) = 0;

    /** Message thread only. Queues removing a search folder, named as the status lists it,
        which starts a new scan. False while the settings are damaged or playback is active. */
    virtual bool removeSearchFolder (const juce::String& folder) = 0;

    /** Message thread only. Asks for a new scan of the standard and search folders; nothing
        happens while the settings are damaged or playback is active. */
    virtual void requestRescan() = 0;

    /** Message thread only; blocks the caller until the save is done, at most 12 s. Captures
        every plug-in state and writes master-vst.json, and returns the save's result; failure
        with "VST保存要求が混雑しています" when the request queue is full, with
        "VST状態の保存が時間内に完了しませんでした" when the save did not finish in time, and
        success without a text when the rack does not run. */
    virtual StoreResult saveAndWait() = 0;

    /** Any thread: tells the rack whether a track or a pad sounds (idle -> active when `active`,
        active -> idle when not; a capture of the plug-in states is left as it is). Returns the
        state found. */
    virtual RackPlaybackState setPlaybackActive (bool active) = 0;
};
} // namespace vantrel
