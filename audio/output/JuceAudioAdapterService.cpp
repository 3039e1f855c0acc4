// The adapter's periodic service, the PCM cache trim and the offline renderer's operations.
#include "audio/output/JuceAudioAdapter.h"

#include "audio/output/AudioDiagnostics.h"
#include "audio/output/JackMessages.h"
#include "audio/rack/MasterVstRack.h"
#include "platform/ThreadContract.h"

#include <algorithm>

namespace vantrel
{
using orvane::audio::EngineCommand;
using orvane::audio::EngineCommandKind;

void JuceAudioAdapter::pushBusEqs()
{
    if (session.sampleRate() != eqRate)
    {
        eqRate = session.sampleRate();
        playlistEqDirty = masterEqDirty = true;
    }
    if (playlistEqDirty)
    {
        EngineCommand command;
        command.kind = EngineCommandKind::setPlaylistBus;
        command.coefficients = orvane::audio::designEq (playlistEq, session.sampleRate());
        command.gainDb = playlistGainDb;
        command.sampleRate = session.sampleRate();
        playlistEqDirty = ! engine.push (command);
    }
    if (masterEqDirty)
    {
        EngineCommand command;
        command.kind = EngineCommandKind::setMasterEq;
        command.coefficients = orvane::audio::designEq (masterEq, session.sampleRate());
        command.sampleRate = session.sampleRate();
        masterEqDirty = ! engine.push (command);
    }
}

void JuceAudioAdapter::retryVoiceGainsAndEqs()
{
    for (int v = 0; v < numVoices; ++v)
    {
        if (! gainRetry[(size_t) v])
            continue;
        const auto held = registry.heldMix (slots[(size_t) v].key);
        if (! held)
        {
            gainRetry[(size_t) v] = false;
            continue;
        }
        EngineCommand command;
        command.kind = EngineCommandKind::setVoiceGain;
        command.voice = v;
        command.gainDb = held->gainDb;
        gainRetry[(size_t) v] = ! pushAndDrainWhenIdle (command);
    }
    for (int v = 0; v < 2; ++v)
    {
        if (! trackEqRetry[(size_t) v])
            continue;
        const auto held = registry.heldMix (slots[(size_t) v].key);
        if (! held)
        {
            trackEqRetry[(size_t) v] = false;
            continue;
        }
        EngineCommand command;
        command.kind = EngineCommandKind::setTrackEq;
        command.voice = v;
        command.playToken = slots[(size_t) v].playToken;
        command.coefficients = orvane::audio::designEq (held->eq, session.sampleRate());
        command.sampleRate = session.sampleRate();
        trackEqRetry[(size_t) v] = ! pushAndDrainWhenIdle (command);
    }
}

void JuceAudioAdapter::dropAppliedRetired()
{
    const auto applied = engine.lastAppliedSerial();
    retired.erase (std::remove_if (retired.begin(), retired.end(),
                                   [applied] (const RetiredPcm& r) { return r.serial <= applied; }),
                   retired.end());
}

juce::var JuceAudioAdapter::diagnosticsJson() const
{
    return buildAudioDiagnostics (diagnosticsSnapshot());
}

AudioDiagnosticsSnapshot JuceAudioAdapter::diagnosticsSnapshot() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    AudioDiagnosticsSnapshot snapshot;
    snapshot.state = session.diagnosticsState();
    snapshot.state.lastOutputError = lastErrorText;
    snapshot.state.driverErrors = jack_messages::recentErrors();
    snapshot.rack = masterRack->status();
    snapshot.figures = readCallbackFigures (session.statistics(), snapshot.rack.audioFault);
    snapshot.time = juce::Time::getCurrentTime();
    return snapshot;
}

bool JuceAudioAdapter::tick()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    pushBusEqs();
    bool lost = false;
    if (! offlineRenderer.isRunning())
    {
        if (const auto lossText = session.handleDeviceLoss())
        {
            lastErrorText = *lossText;
            lost = true;
        }
        if (const auto connected = session.finishConnecting())
            noteOpenResult (*connected);
        session.readDriverXruns();
        diagnostics.setPath (diagnosticsFile);
        // Only the figures are copied here; the writer's thread builds and writes the document.
        diagnostics.tick (juce::Time::getMillisecondCounter(), [this]
        {
            return [snapshot = diagnosticsSnapshot()] { return buildAudioDiagnostics (snapshot); };
        });
    }
    if (! offlineRenderer.isRunning() && session.reopenDue())
        noteOpenResult (session.open (voiceStatus (0).playing || voiceStatus (1).playing));
    registry.adoptLoadResults();
    retryVoiceGainsAndEqs();
    dropAppliedRetired();
    trimPcmCache();
    return lost;
}

void JuceAudioAdapter::trimPcmCache()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    registry.trimCache ([this] (const std::shared_ptr<LoadedMedia>& m) {
        for (const auto& slot : slots)
            if (slot.media == m)
                return true;
        for (const auto& r : retired)
            if (r.media == m)
                return true;
        return false;
    });
}

// ---- offline output ---------------------------------------------------------------------------------

void JuceAudioAdapter::startOfflineRenderer (double sampleRate, Pacing pacing)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    offlineRenderer.start (sampleRate, pacing);
}

void JuceAudioAdapter::stopOffline()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    offlineRenderer.stop();
}

void JuceAudioAdapter::renderOfflineFrames (int frames, float* left, float* right)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    offlineRenderer.renderFrames (frames, left, right);
}
} // namespace vantrel
