#pragma once

#include "audio/output/CallbackStatistics.h"
#include "audio/rack/VstRackRecords.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

namespace vantrel
{
/** The adapter's state that "audio-diagnostics.json" reports beside the callback statistics. */
struct AudioDiagnosticsState
{
    juce::String outputType;
    juce::String outputName;
    double sampleRate = 48000.0;
    int bufferSamples = 0;
    int driverLatencySamples = 0;
    bool ready = false;
    int driverXruns = -1;           // -1 until a device reports its count
    juce::String lastOutputError;
    juce::StringArray driverErrors;   // libjack's last error texts while a JACK output was open
};

/** The callback statistics as read at one moment (each value read by itself, as the statistics
    allow), so that the document can be built later on another thread. */
struct CallbackFigures
{
    int64_t callbacks = 0, stopNotifications = 0, successfulDriverRestarts = 0, deviceErrors = 0, rateChangeGates = 0,
            confirmedLossEvents = 0, callbackLongGaps = 0, callbackBudgetOverruns = 0, maxCallbackGapMicros = 0,
            maxRenderMicros = 0, fastCallbacks = 0, maxCallbackBurstFrames = 0;
    std::vector<int64_t> recentGaps;   // read only when asked for (the document lists them on a rack fault)
};

/** Reads the statistics now; `withGaps`: the recent gaps too. Message thread. */
CallbackFigures readCallbackFigures (const CallbackStatistics& statistics, bool withGaps);

/** What the document reports, copied on the message thread, and the moment it was taken. */
struct AudioDiagnosticsSnapshot
{
    AudioDiagnosticsState state;
    CallbackFigures figures;
    VstRackStatus rack;
    juce::Time time;
};

/** Builds the diagnostics document: one object whose keys keep a fixed order; the recent callback
    gaps appear only while the rack reports an audio fault. The snapshot's time is written as local
    ISO 8601 time; the last output error in the user interface's language, as the status line
    shows it. Any thread. */
juce::var buildAudioDiagnostics (const AudioDiagnosticsSnapshot& snapshot);

/** The same document from the live statistics, read now. Message thread. */
juce::var buildAudioDiagnostics (const AudioDiagnosticsState& state, const CallbackStatistics& statistics,
                                 const VstRackStatus& rack, juce::Time now);
} // namespace vantrel
