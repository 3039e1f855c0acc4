// The device session's real-time side: the device callbacks and the per-block render path.
#include "audio/output/DeviceSession.h"

#include "audio/engine/MixEngine.h"
#include "audio/rack/MasterVstRack.h"
#include "platform/ThreadContract.h"
#include "platform/ThreadPriority.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace vantrel
{
namespace
{
std::int64_t monotonicMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds> (
               std::chrono::steady_clock::now().time_since_epoch()).count() + 1;
}
} // namespace

void DeviceSession::audioDeviceIOCallbackWithContext (const float* const*, int, float* const* outputChannelData,
                                                         int numOutputChannels, int numSamples,
                                                         const juce::AudioIODeviceCallbackContext&)
{
    const ThreadRoleScope audioRole (ThreadRole::audio);
    // JUCE's ALSA thread runs at normal priority: promote it once, where permitted.
    if (! priorityPromoted.exchange (true))
        platform::tryRealtimePriority();
    renderBlock (outputChannelData, numOutputChannels, numSamples);
}

void DeviceSession::audioDeviceAboutToStart (juce::AudioIODevice* startingDevice)
{
    if (startingDevice == nullptr)
        return;
    const double rate = startingDevice->getCurrentSampleRate();
    const int buffer = startingDevice->getCurrentBufferSizeSamples();
    const bool rateChanged = std::abs (rate - currentRate.load()) > 0.1;
    bool voiceSounds = false;
    for (int v = 0; v < orvane::audio::MixEngine::numVoices && ! voiceSounds; ++v)
        voiceSounds = engine.voiceStatus (v).playing;

    if (startingDevice->getLastError().isNotEmpty() || rate <= 0.0 || buffer <= 0 || (rateChanged && voiceSounds))
    {
        if (rateChanged && voiceSounds)
        {
            stats.countRateChangeGate();
            rateChangePending.store (true);
        }
        callbackReady.store (false);
        running.store (false);
        deviceLost.store (true);
        return;
    }
    // JACK's block is the server's; the rack block is the device buffer.
    const int blockSize = buffer;
    if (rateChanged || buffer != bufferSize.load() || stats.callbacks.load() == 0 || blockSize != rackBlockSize)
    {
        rackBlockSize = blockSize;
        currentRate.store (rate);
        bufferSize.store (buffer);
        engine.prepare (rate);
        rack.prepare (rate, blockSize);
    }
    driverLatency.store (startingDevice->getOutputLatencyInSamples());
    if (deviceLost.exchange (false))
        stats.countDriverRestart();
    stats.forgetLastCallbackTime();
    callbackReady.store (true);
    running.store (true);
}

void DeviceSession::audioDeviceStopped()
{
    running.store (false);
    callbackReady.store (false);
    if (! changingDevice.load() && ! retiringDevice.load())
    {
        stats.countStopNotification();
        deviceLost.store (true);
    }
}

void DeviceSession::audioDeviceError (const juce::String&)
{
    stats.countDeviceError();
    running.store (false);
    callbackReady.store (false);
    deviceLost.store (true);
}

void DeviceSession::renderBlock (float* const* channels, int numChannels, int numSamples) noexcept
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
        rack.processBlock (channels, numChannels, numSamples);
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

void DeviceSession::stopRendering() noexcept
{
    callbackReady.store (false);
    // A device thread that was given up for lost may still be inside a block it began before:
    // render never blocks, so this wait is a few microseconds at most.
    while (rendering.load())
        std::this_thread::yield();
}

} // namespace vantrel
