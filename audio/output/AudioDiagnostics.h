#pragma once

#include "audio/output/CallbackStatistics.h"
#include "audio/rack/VstRackRecords.h"

#include <juce_core/juce_core.h>

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
};

/** Builds the diagnostics document: one object whose keys keep a fixed order; the recent callback
    gaps appear only while the rack reports an audio fault. `now` is written as local ISO 8601 time.
    Message thread. */
juce::var buildAudioDiagnostics (const AudioDiagnosticsState& state, const CallbackStatistics& statistics,
                                 const VstRackStatus& rack, juce::Time now);
} // namespace vantrel
