// The audio bridge: the audio thread cuts the master bus into 512-frame blocks for the control
// thread, which sends them through the slots' workers and hands them back; the audio thread plays
// each processed block exactly the bridge latency after it left, and the equally delayed dry
// signal whenever none is due.
#include "audio/rack/MasterVstRack.h"

#include "audio/rack/RackTexts.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vantrel
{
namespace
{
constexpr int blockFrames = RackBlock::frames;
constexpr int maxBridgeBlocks = 248;
constexpr int blocksPerPass = 8;

float peakOf (const float* samples, std::size_t count)
{
    float peak = 0.0f;

    for (std::size_t i = 0; i < count; ++i)
        peak = std::max (peak, std::fabs (samples[i]));

    return peak;
}

float toDb (float peak)
{
    return 20.0f * std::log10 (std::max (peak, 1.0e-6f));
}
} // namespace

void MasterVstRack::prepare (double rate, int maxBlockFrames)
{
    // A rate the device cannot mean would make the sizes below meaningless.
    if (! std::isfinite (rate) || rate < 1.0 || rate > 1.0e6)
        rate = 48000.0;

    maxBlockFrames = std::clamp (maxBlockFrames, 0, 1 << 20);
    sampleRate = rate;

    const auto a = (int) std::ceil (rate * 0.032 * 0.001953125);
    const auto b = (int) std::ceil (rate * 0.042666666666666665 * 0.001953125);
    const auto lower = std::max (4, b);
    const auto need = std::max (3, a) + (maxBlockFrames + 511) / 512;
    const auto blocks = need > maxBridgeBlocks ? maxBridgeBlocks : std::max (lower, need);
    bridgeLatency = blocks * blockFrames;

    dryHistory.assign ((size_t) std::ceil (4.0 * rate) + (size_t) bridgeLatency.load() + 2, { 0.0f, 0.0f });
    frameCounter = 0;
    historyWritePosition = 0;
    historyFrames = 0;
    lastEpochSeen = 0;
    missedBlocks = 0;
    haveOutputBlock = false;
    wetMix = 1.0f;
    inboundRing.clear();

    ++epoch;
    audioFault = false;
    faultCode = 0;

    if (! controlRunning)
        return;

    // The workers must follow the new rate: until they are reloaded the bridge holds the
    // delayed dry signal.
    if (configuredSlots.load() > 0)
        reloadPending = true;

    if (! post ({ VstRackRequest::reloadAfterPrepare, 0, {}, false, nullptr }))
    {
        ++pendingOperations;
        reloadOwed = true;
    }
}

void MasterVstRack::processBlock (float* const* channels, int numChannels, int numSamples) noexcept
{
    if (channels == nullptr || numChannels < 1 || numSamples < 1 || dryHistory.empty())
        return;

    // No configured slot: the bus passes untouched, and a later delay starts from silence.
    if (configuredSlots.load (std::memory_order_acquire) == 0)
    {
        inboundRing.clear();
        historyFrames = 0;
        return;
    }

    // A load, a capture or a pending reload: the delayed dry signal goes on, blocks in flight are
    // dropped and none are sent.
    const bool holding = loading.load() || reloadPending.load() || capturing.load();
    const auto currentEpoch = epoch.load (std::memory_order_acquire);

    if (currentEpoch != lastEpochSeen)
    {
        lastEpochSeen = currentEpoch;
        frameCounter = 0;
        haveOutputBlock = false;
        missedBlocks = 0;
        wetMix = 1.0f;
    }

    if (holding)
        inboundRing.clear();

    const auto c = (std::uint64_t) bridgeLatency.load (std::memory_order_relaxed);
    const auto size = (std::uint64_t) dryHistory.size();
    const auto f = std::min<std::uint64_t> (c + (std::uint64_t) std::max (0, latencySum.load()), size - 1);
    const auto coefficient = (float) (1.0 / (sampleRate.load (std::memory_order_relaxed) * 0.01));
    const bool playing = playbackState.load() == 1;
    bool faulted = audioFault.load();

    auto* left = channels[0];
    auto* right = numChannels > 1 ? channels[1] : nullptr;

    for (int j = 0; j < numSamples; ++j)
    {
        const auto n = frameCounter;
        const auto k = (int) (n % blockFrames);

        const auto inL = left != nullptr ? left[j] : 0.0f;
        const auto inR = right != nullptr ? right[j] : inL;
        inputBlock.samples[(size_t) (2 * k)] = inL;
        inputBlock.samples[(size_t) (2 * k + 1)] = inR;
        dryHistory[historyWritePosition] = { inL, inR };

        float dL = 0.0f;
        float dR = 0.0f;

        if (historyFrames >= f)
        {
            const auto& delayed = dryHistory[(historyWritePosition + size - f) % size];
            dL = delayed[0];
            dR = delayed[1];
        }

        historyWritePosition = (historyWritePosition + 1) % size;

        if (historyFrames < size)
            ++historyFrames;

        if (k == blockFrames - 1 && ! holding)
        {
            inputBlock.sequence = n / blockFrames;
            inputBlock.epoch = currentEpoch;

            if (outboundRing.push (inputBlock))
                blocksSentCount.fetch_add (1, std::memory_order_release);
            else if (playing)
            {
                latchFault (1);
                faulted = true;
            }
        }

        if (k == 0 && n >= c && ! holding)
        {
            const auto due = n / blockFrames - c / blockFrames;
            haveOutputBlock = false;

            for (std::uint32_t taken = 0; taken < RackBlockRing::size; ++taken)
            {
                const auto* head = inboundRing.front();

                if (head == nullptr)
                    break;

                if (head->epoch != currentEpoch || head->sequence < due)
                {
                    inboundRing.dropFront();
                    continue;
                }

                if (head->sequence == due)
                {
                    outputBlock = *head;
                    inboundRing.dropFront();
                    haveOutputBlock = true;
                    break;
                }

                // A newer block than the one due: it stays, and the gap is a fault.
                if (playing)
                {
                    latchFault (2);
                    faulted = true;
                }

                break;
            }

            if (! haveOutputBlock && ! faulted && playing)
            {
                underruns.fetch_add (1, std::memory_order_relaxed);

                if (++missedBlocks >= 3)
                {
                    latchFault (3);
                    faulted = true;
                }
            }
            else
                missedBlocks = 0;
        }

        float wL = dL;
        float wR = dR;
        float target = 0.0f;

        if (! holding && n >= c && haveOutputBlock && ! faulted)
        {
            wL = outputBlock.samples[(size_t) (2 * k)];
            wR = outputBlock.samples[(size_t) (2 * k + 1)];
            target = 1.0f;
        }

        wetMix += coefficient * (target - wetMix);
        const auto outL = dL + (wL - dL) * wetMix;
        const auto outR = dR + (wR - dR) * wetMix;

        if (numChannels == 1)
        {
            if (left != nullptr)
                left[j] = (outL + outR) * 0.5f;
        }
        else
        {
            if (left != nullptr)
                left[j] = outL;

            if (right != nullptr)
                right[j] = outR;
        }

        ++frameCounter;
    }
}

void MasterVstRack::latchFault (std::int32_t code) noexcept
{
    auto none = 0;
    faultCode.compare_exchange_strong (none, code);
    audioFault = true;
}

int MasterVstRack::moveBlocks()
{
    int moved = 0;

    for (; moved < blocksPerPass; ++moved)
    {
        auto& block = exchangeScratch;

        if (! outboundRing.pop (block))
            break;

        if (block.epoch == epoch.load() && ! audioFault && ! reloadPending)
        {
            exchangeBlock (block);

            if (block.epoch == epoch.load() && ! inboundRing.push (block) && playbackState.load() == 1)
            {
                latchFault (4);
                publishStatus();
            }
        }

        blocksTakenCount.fetch_add (1, std::memory_order_release);
    }

    return moved;
}

void MasterVstRack::exchangeBlock (RackBlock& block)
{
    const auto coefficient = (float) (1.0 / (sampleRate.load() * 0.01));

    for (int slot = 0; slot < numSlots; ++slot)
    {
        auto& worker = workers[(size_t) slot];
        bool enabled = false;

        {
            const std::lock_guard<std::mutex> lock (mutex);
            enabled = slots[(size_t) slot].enabled;
        }

        if (worker.client == nullptr && worker.latency == 0)
            continue;

        auto& samples = block.samples;
        const auto inputPeak = peakOf (samples.data(), samples.size());
        dryCopy = samples;

        if (worker.latency > 0 && ! worker.dryDelay.empty())
        {
            const auto delaySize = (std::uint64_t) worker.dryDelay.size();

            for (int frame = 0; frame < blockFrames; ++frame)
            {
                auto& pair = worker.dryDelay[worker.dryDelayPosition];
                pair = { dryCopy[(size_t) (2 * frame)], dryCopy[(size_t) (2 * frame + 1)] };
                worker.dryDelayPosition = (worker.dryDelayPosition + 1) % delaySize;
                const auto& delayed = worker.dryDelay[worker.dryDelayPosition];
                dryCopy[(size_t) (2 * frame)] = delayed[0];
                dryCopy[(size_t) (2 * frame + 1)] = delayed[1];
            }
        }

        bool processed = false;
        double callMs = 0.0;

        if (worker.client != nullptr)
        {
            juce::String error;
            const auto start = std::chrono::steady_clock::now();
            processed = worker.client->processF32 (samples.data(), blockFrames, block.sequence, error, options.blockTimeoutMs);
            callMs = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();

            if (! processed)
                bypassSlot (slot, error);
        }

        if (! processed)
            samples = dryCopy;

        const auto target = processed && enabled ? 1.0f : 0.0f;

        for (int frame = 0; frame < blockFrames; ++frame)
        {
            worker.mix += coefficient * (target - worker.mix);

            for (int channel = 0; channel < 2; ++channel)
            {
                const auto i = (size_t) (2 * frame + channel);
                samples[i] = dryCopy[i] + (samples[i] - dryCopy[i]) * worker.mix;
            }
        }

        if (processed)
        {
            const auto outputPeak = peakOf (samples.data(), samples.size());
            const std::lock_guard<std::mutex> lock (mutex);
            auto& status = slotStatus[(size_t) slot];
            ++status.processedBlocks;
            status.maxProcessMs = std::max (status.maxProcessMs, callMs);
            status.editRevision = worker.editRevision;
            status.inputPeakDb = toDb (inputPeak);
            status.outputPeakDb = toDb (outputPeak);
        }
    }
}
} // namespace vantrel
