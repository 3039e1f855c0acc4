// The adapter's periodic service, the PCM cache trim, the offline renderer and the block callback.
#include "audio/output/JuceAudioAdapter.h"

#include "audio/output/AudioDiagnostics.h"
#include "audio/rack/MasterVstRack.h"
#include "platform/ThreadContract.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vantrel
{
using orvane::audio::EngineCommand;
using orvane::audio::EngineCommandKind;

namespace
{
std::int64_t monotonicMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds> (
               std::chrono::steady_clock::now().time_since_epoch()).count() + 1;
}
} // namespace

void JuceAudioAdapter::pushBusEqs()
{
    if (currentRate != eqRate)
    {
        eqRate = currentRate;
        playlistEqDirty = masterEqDirty = true;
    }
    if (playlistEqDirty)
    {
        EngineCommand command;
        command.kind = EngineCommandKind::setPlaylistBus;
        command.coefficients = orvane::audio::designEq (playlistEq, currentRate);
        command.gainDb = playlistGainDb;
        command.sampleRate = currentRate;
        playlistEqDirty = ! engine.push (command);
    }
    if (masterEqDirty)
    {
        EngineCommand command;
        command.kind = EngineCommandKind::setMasterEq;
        command.coefficients = orvane::audio::designEq (masterEq, currentRate);
        command.sampleRate = currentRate;
        masterEqDirty = ! engine.push (command);
    }
}

void JuceAudioAdapter::retryVoiceGainsAndEqs()
{
    for (int v = 0; v < numVoices; ++v)
    {
        if (! gainRetry[(size_t) v])
            continue;
        const auto found = media.find (slots[(size_t) v].key);
        if (found == media.end())
        {
            gainRetry[(size_t) v] = false;
            continue;
        }
        EngineCommand command;
        command.kind = EngineCommandKind::setVoiceGain;
        command.voice = v;
        command.gainDb = found->second.gainDb;
        gainRetry[(size_t) v] = ! pushAndDrainWhenIdle (command);
    }
    for (int v = 0; v < 2; ++v)
    {
        if (! trackEqRetry[(size_t) v])
            continue;
        const auto found = media.find (slots[(size_t) v].key);
        if (found == media.end())
        {
            trackEqRetry[(size_t) v] = false;
            continue;
        }
        EngineCommand command;
        command.kind = EngineCommandKind::setTrackEq;
        command.voice = v;
        command.playToken = slots[(size_t) v].playToken;
        command.coefficients = orvane::audio::designEq (found->second.eq, currentRate);
        command.sampleRate = currentRate;
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
    auto& state = snapshot.state;
    state.outputType = outputSettings.type;
    state.outputName = outputName;
    state.sampleRate = currentRate;
    state.bufferSamples = bufferSize;
    state.driverLatencySamples = driverLatency;
    state.ready = running.load();
    state.driverXruns = driverXruns;
    state.lastOutputError = lastErrorText;
    snapshot.rack = masterRack->status();
    snapshot.figures = readCallbackFigures (stats, snapshot.rack.audioFault);
    snapshot.time = juce::Time::getCurrentTime();
    return snapshot;
}

bool JuceAudioAdapter::tick()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    pushBusEqs();
    bool lost = false;
    if (! offline.load())
    {
        lost = handleDeviceLoss();
        if (device != nullptr)
            driverXruns = device->getXRunCount();
        diagnostics.setPath (diagnosticsFile);
        // Only the figures are copied here; the writer's thread builds and writes the document.
        diagnostics.tick (juce::Time::getMillisecondCounter(), [this]
        {
            return [snapshot = diagnosticsSnapshot()] { return buildAudioDiagnostics (snapshot); };
        });
    }
    if (! offline.load() && device == nullptr && autoReopen && outputSettings.id.isNotEmpty())
    {
        const auto now = millisecondCounter();
        if (static_cast<std::int32_t> (now - lastReopenAttemptMs) >= 1000)
        {
            lastReopenAttemptMs = now;
            openDevice (voiceStatus (0).playing || voiceStatus (1).playing);
        }
    }
    adoptLoadResults();
    retryVoiceGainsAndEqs();
    dropAppliedRetired();
    trimPcmCache();
    return lost;
}

void JuceAudioAdapter::trimPcmCache()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // The kept PCM grows only when a load result is adopted (or the limit changes): until then a
    // catalog of thousands of entries is not walked on every tick.
    if (! pcmCacheMayExceed)
        return;
    std::uint64_t total = 0;
    std::vector<MediaEntry*> holding;
    for (auto& [key, entry] : media)
        if (entry.media != nullptr && entry.media->pcm != nullptr)
        {
            total += entry.media->pcm->byteSize();
            holding.push_back (&entry);
        }
    if (total <= limits.cache)
    {
        pcmCacheMayExceed = false;
        return;
    }
    std::sort (holding.begin(), holding.end(), [] (const MediaEntry* a, const MediaEntry* b) { return a->lastUse < b->lastUse; });
    const auto inUse = [this] (const std::shared_ptr<LoadedMedia>& m) {
        for (const auto& slot : slots)
            if (slot.media == m)
                return true;
        for (const auto& r : retired)
            if (r.media == m)
                return true;
        return false;
    };
    for (auto* entry : holding)
    {
        if (total <= limits.cache)
            break;
        if (inUse (entry->media))
            continue;
        total -= entry->media->pcm->byteSize();
        entry->media->pcm.reset();
    }
    // What the voices still hold could not go: try again at the next tick.
    pcmCacheMayExceed = total > limits.cache;
}

// ---- offline output ---------------------------------------------------------------------------------

void JuceAudioAdapter::startOfflineRenderer (double sampleRate, Pacing pacing)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    stopOffline();
    currentRate = sampleRate;
    bufferSize = 512;
    engine.prepare (sampleRate);
    masterRack->prepare (sampleRate, bufferSize);
    offlineLeft.assign (512, 0.0f);
    offlineRight.assign (512, 0.0f);
    outputName = "Offline acceptance renderer";
    offline.store (true);
    callbackReady.store (true);
    running.store (true);
    if (pacing == Pacing::realTime)
    {
        offlineQuit.store (false);
        offlineThread = std::thread ([this] { offlineLoop(); });
    }
}

void JuceAudioAdapter::stopOffline()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (offlineThread.joinable())
    {
        offlineQuit.store (true);
        offlineThread.join();
    }
    if (offline.exchange (false))
    {
        running.store (false);
        callbackReady.store (false);
        engine.applyPending();
    }
}

void JuceAudioAdapter::offlineLoop()
{
    const ThreadRoleScope audioRole (ThreadRole::audio);
    using Clock = std::chrono::steady_clock;
    const auto block = std::chrono::duration<double> (512.0 / currentRate);
    auto next = Clock::now();
    while (! offlineQuit.load())
    {
        float* channels[] = { offlineLeft.data(), offlineRight.data() };
        renderBlock (channels, 2, 512);
        next += std::chrono::duration_cast<Clock::duration> (block);
        std::this_thread::sleep_until (next);
    }
}

void JuceAudioAdapter::renderOfflineFrames (int frames, float* left, float* right)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // Anything else renders already (a device or the renderer thread): a second render at the
    // same time would race it for the engine.
    if (! offline.load() || offlineThread.joinable())
        return;
    const ThreadRoleScope audioRole (ThreadRole::audio);
    for (int done = 0; done < frames;)
    {
        const int n = std::min (512, frames - done);
        float* channels[] = { left != nullptr ? left + done : offlineLeft.data(),
                              right != nullptr ? right + done : offlineRight.data() };
        renderBlock (channels, 2, n);
        done += n;
    }
}

// ---- device callbacks -------------------------------------------------------------------------------

void JuceAudioAdapter::renderBlock (float* const* channels, int numChannels, int numSamples) noexcept
{
    VANTREL_ASSERT_AUDIO_THREAD;
    const auto now = monotonicMicros();
    const auto period = stats.recordCallback (now, numSamples, currentRate);
    // Announced before callbackReady is read: a message thread that clears callbackReady and
    // then sees no render in flight knows the engine is its own (see stopRendering).
    rendering.store (true);
    if (callbackReady.load())
    {
        for (int c = 0; c < numChannels; ++c)
            if (channels[c] != nullptr)
                std::fill (channels[c], channels[c] + numSamples, 0.0f);
        engine.render (channels, numChannels, numSamples, false);
        masterRack->processBlock (channels, numChannels, numSamples);
        engine.masterOutput().process (channels, numChannels, numSamples);
        // After a lost device: whatever a plug-in still rings with from before the loss stays
        // unheard until the engine sounds again.
        if (silentUntilSounding.load (std::memory_order_relaxed))
        {
            if (engine.sounding())
                silentUntilSounding.store (false, std::memory_order_relaxed);
            else
                for (int c = 0; c < numChannels; ++c)
                    if (channels[c] != nullptr)
                        std::fill (channels[c], channels[c] + numSamples, 0.0f);
        }
    }
    else
    {
        for (int c = 0; c < numChannels; ++c)
            if (channels[c] != nullptr)
                std::fill (channels[c], channels[c] + numSamples, 0.0f);
    }
    rendering.store (false);
    stats.recordRender (monotonicMicros() - now, period);
}

void JuceAudioAdapter::stopRendering() noexcept
{
    callbackReady.store (false);
    // A device thread that was given up for lost may still be inside a block it began before:
    // render never blocks, so this wait is a few microseconds at most.
    while (rendering.load())
        std::this_thread::yield();
}

} // namespace vantrel
