#include "audio/output/AudioDiagnostics.h"

#include "session/UiText.h"

namespace vantrel
{
namespace
{
juce::var integer (int64_t value)  { return static_cast<juce::int64> (value); }

juce::var slotObject (const VstRackSlotStatus& slot)
{
    auto* object = new juce::DynamicObject();
    juce::var result (object);
    object->setProperty ("loaded", slot.loaded);
    object->setProperty ("enabled", slot.enabled);
    object->setProperty ("editorOpen", slot.editorOpen);
    object->setProperty ("editRevision", static_cast<juce::int64> (slot.editRevision));
    object->setProperty ("processedBlocks", static_cast<juce::int64> (slot.processedBlocks));
    object->setProperty ("inputPeakDb", static_cast<double> (slot.inputPeakDb));
    object->setProperty ("outputPeakDb", static_cast<double> (slot.outputPeakDb));
    object->setProperty ("warmupMs", slot.warmupMs);
    object->setProperty ("maxProcessMs", slot.maxProcessMs);
    return result;
}
} // namespace

CallbackFigures readCallbackFigures (const CallbackStatistics& statistics, bool withGaps)
{
    CallbackFigures f;
    f.callbacks = statistics.callbacks.load();
    f.stopNotifications = statistics.stopNotifications.load();
    f.successfulDriverRestarts = statistics.successfulDriverRestarts.load();
    f.deviceErrors = statistics.deviceErrors.load();
    f.rateChangeGates = statistics.rateChangeGates.load();
    f.confirmedLossEvents = statistics.confirmedLossEvents.load();
    f.callbackLongGaps = statistics.callbackLongGaps.load();
    f.callbackBudgetOverruns = statistics.callbackBudgetOverruns.load();
    f.maxCallbackGapMicros = statistics.maxCallbackGapMicros.load();
    f.maxRenderMicros = statistics.maxRenderMicros.load();
    f.fastCallbacks = statistics.fastCallbacks.load();
    f.maxCallbackBurstFrames = statistics.maxCallbackBurstFrames.load();
    if (withGaps)
        f.recentGaps = statistics.recentGaps();
    return f;
}

juce::var buildAudioDiagnostics (const AudioDiagnosticsState& state, const CallbackStatistics& statistics,
                                 const VstRackStatus& rack, juce::Time now)
{
    return buildAudioDiagnostics ({ state, readCallbackFigures (statistics, rack.audioFault), rack, now });
}

juce::var buildAudioDiagnostics (const AudioDiagnosticsSnapshot& snapshot)
{
    const auto& state = snapshot.state;
    const auto& statistics = snapshot.figures;
    const auto& rack = snapshot.rack;
    const auto now = snapshot.time;
    auto* object = new juce::DynamicObject();
    juce::var document (object);
    object->setProperty ("time", now.toISO8601 (true));
    object->setProperty ("outputType", state.outputType);
    object->setProperty ("outputName", state.outputName);
    object->setProperty ("sampleRate", state.sampleRate);
    object->setProperty ("bufferSamples", state.bufferSamples);
    object->setProperty ("driverLatencySamples", state.driverLatencySamples);
    object->setProperty ("ready", state.ready);
    object->setProperty ("callbacks", integer (statistics.callbacks));
    object->setProperty ("stopNotifications", integer (statistics.stopNotifications));
    object->setProperty ("successfulDriverRestarts", integer (statistics.successfulDriverRestarts));
    object->setProperty ("deviceErrors", integer (statistics.deviceErrors));
    object->setProperty ("rateChangeGates", integer (statistics.rateChangeGates));
    object->setProperty ("confirmedLossEvents", integer (statistics.confirmedLossEvents));
    object->setProperty ("callbackLongGaps", integer (statistics.callbackLongGaps));
    object->setProperty ("callbackBudgetOverruns", integer (statistics.callbackBudgetOverruns));
    object->setProperty ("maxCallbackGapUs", integer (statistics.maxCallbackGapMicros));
    object->setProperty ("maxRenderUs", integer (statistics.maxRenderMicros));
    object->setProperty ("driverXruns", state.driverXruns);
    object->setProperty ("vstUnderruns", static_cast<juce::int64> (rack.underruns));
    object->setProperty ("vstAudioFault", rack.audioFault);
    object->setProperty ("vstBridgeSamples", rack.bridgeLatency);
    object->setProperty ("lastOutputError", translateMessage (state.lastOutputError));
    object->setProperty ("fastCallbacks", integer (statistics.fastCallbacks));
    object->setProperty ("maxCallbackBurstFrames", integer (statistics.maxCallbackBurstFrames));
    if (rack.audioFault)
    {
        juce::Array<juce::var> gaps;
        for (const auto gap : statistics.recentGaps)
            gaps.add (static_cast<juce::int64> (gap));
        object->setProperty ("recentCallbackGapsUs", gaps);
    }
    object->setProperty ("vstFaultReason", rack.faultText);
    object->setProperty ("vstStateCaptures", static_cast<juce::int64> (rack.stateCaptures));
    juce::Array<juce::var> slots;
    for (const auto& slot : rack.slots)
        slots.add (slotObject (slot));
    object->setProperty ("vstSlots", slots);
    juce::Array<juce::var> driverErrors;
    for (const auto& error : state.driverErrors)
        driverErrors.add (error);
    object->setProperty ("driverErrors", driverErrors);
    return document;
}
} // namespace vantrel
