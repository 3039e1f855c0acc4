#pragma once

#include "audio/rack/RackSlotWorkers.h"
#include "audio/rack/RackState.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The rack's settings file "master-vst.json": read once when the rack starts, written by every
    save after the plug-in states have been captured. A damaged file stops the whole rack until
    the program restarts: nothing is loaded, scanned or saved, and the file is never
    overwritten. A failed save leaves the settings dirty, so the next automatic save tries
    again. */
class RackSettings
{
public:
    enum class CaptureMode
    {
        always,
        yieldToPlayback   // the automatic save: stops as soon as playback becomes active
    };

    RackSettings (RackState& state, RackSlotWorkers& workers);

    RackSettings (const RackSettings&) = delete;
    RackSettings& operator= (const RackSettings&) = delete;

    /** Message thread, in start before the control thread runs: reads `file` into the slot
        configurations and search folders. A missing file leaves the defaults; a damaged one
        marks the rack corrupt with its status text. */
    void load (const juce::File& file);

    /** Control thread: captures the live workers' states and writes the file atomically, keeping
        the previous one as a backup. With yieldToPlayback the save stops without writing when
        playback becomes active (`gaveWay` then says so, and the result is a failure without a
        text). The result of a failed capture or write is also kept as the status's save error
        until a save succeeds. */
    StoreResult save (CaptureMode mode, bool* gaveWay = nullptr);

private:
    StoreResult setSaveError (const juce::String& text);

    RackState& state;
    RackSlotWorkers& workers;
    juce::File configFile;
};
} // namespace vantrel
