#include "audio/rack/RackBridge.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>

namespace vantrel
{
namespace
{
constexpr int blockFrames = RackBridge::blockFrames;

// The bridge holds at least four blocks, and at any rate at least as long as four blocks last at
// 48 kHz (about 42.7 ms).
constexpr int minimumBridgeBlocks = 4;
constexpr double minimumBridgeSeconds = minimumBridgeBlocks * blockFrames / 48000.0;

// On top of the device's own block, the control thread has at least three blocks and 32 ms to
// take a block, send it through the workers and hand it back.
constexpr int minimumExchangeBlocks = 3;
constexpr double exchangeAllowanceSeconds = 0.032;

// So that every block in flight fits in a ring (255 blocks); 126,976 samples.
constexpr int maxBridgeBlocks = 248;

// The dry fallback waits the bridge latency plus the plug-ins' latencies, each at most 2 s, so
// the history covers both slots' 4 s beyond the bridge latency, plus the frame being written and
// one spare.
constexpr double longestPluginDelaySeconds = 4.0;
constexpr std::size_t historySpareFrames = 2;

constexpr double crossfadeTimeConstantSeconds = 0.01;

// Three blocks in a row without their processed block latch a fault during playback.
constexpr std::int32_t maxMissedBlocks = 3;

// Device blocks above this are no device's: they would only overflow the block arithmetic.
constexpr int largestDeviceBlock = 1 << 20;

/** A rate the device cannot mean would make every size here meaningless: taken as 48 kHz. */
double usableRate (double rate) noexcept
{
    return std::isfinite (rate) && rate >= 1.0 && rate <= 1.0e6 ? rate : 48000.0;
}

int blocksFor (double rate, double seconds) noexcept
{
    return (int) std::ceil (rate * seconds / blockFrames);
}
} // namespace

std::int32_t RackBridge::latencyFor (double sampleRate, int maxBlockFrames) noexcept
{
    const auto rate = usableRate (sampleRate);
    const auto deviceBlocks = (std::clamp (maxBlockFrames, 0, largestDeviceBlock) + blockFrames - 1) / blockFrames;
    const auto floorBlocks = std::max (minimumBridgeBlocks, blocksFor (rate, minimumBridgeSeconds));
    const auto neededBlocks = std::max (minimumExchangeBlocks, blocksFor (rate, exchangeAllowanceSeconds)) + deviceBlocks;
    const auto blocks = neededBlocks > maxBridgeBlocks ? maxBridgeBlocks : std::max (floorBlocks, neededBlocks);
    return blocks * blockFrames;
}

float RackBridge::crossfadeStep (double sampleRate) noexcept
{
    return (float) (1.0 / (sampleRate * crossfadeTimeConstantSeconds));
}

void RackBridge::prepare (double sampleRate, int maxBlockFrames)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    const auto deviceRate = usableRate (sampleRate);
    rate = deviceRate;
    bridgeLatency = latencyFor (deviceRate, maxBlockFrames);

    const auto historyLength = (std::size_t) std::ceil (longestPluginDelaySeconds * deviceRate)
                             + (std::size_t) bridgeLatency.load() + historySpareFrames;
    dryHistory.assign (historyLength, { 0.0f, 0.0f });
    frameCounter = 0;
    historyWritePosition = 0;
    historyFrames = 0;
    lastEpochSeen = 0;
    missedBlocks = 0;
    haveOutputBlock = false;
    wetMix = 1.0f;
    inboundRing.clear();

    startNewEpoch();
    clearFault();
}

void RackBridge::clearHeldAudio() noexcept
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    std::fill (dryHistory.begin(), dryHistory.end(), std::array<float, 2> { 0.0f, 0.0f });
    frameCounter = 0;
    historyWritePosition = 0;
    historyFrames = 0;
    missedBlocks = 0;
    haveOutputBlock = false;
    wetMix = 1.0f;
    inboundRing.clear();
    // Blocks still on their way through the workers belong to the old epoch: both sides drop them.
    startNewEpoch();
}

void RackBridge::process (float* const* channels, int numChannels, int numSamples, const BlockConditions& conditions) noexcept
{
    VANTREL_ASSERT_AUDIO_THREAD;

    if (channels == nullptr || numChannels < 1 || numSamples < 1 || dryHistory.empty())
        return;

    // No configured slot: the bus passes untouched, and a later delay starts from silence.
    if (! conditions.slotsConfigured)
    {
        inboundRing.clear();
        historyFrames = 0;
        return;
    }

    // While the rack holds (a load, a capture, a pending reload) the delayed dry signal goes on,
    // blocks in flight are dropped and none are sent.
    const bool holding = conditions.holding;
    const auto currentEpoch = epochNumber.load (std::memory_order_acquire);

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

    // Processed blocks play exactly the bridge latency after their dry block left; the dry
    // fallback waits the plug-ins' latency on top, which the processed signal carries inside it.
    const auto bridgeDelay = (std::uint64_t) bridgeLatency.load (std::memory_order_relaxed);
    const auto bridgeBlocks = bridgeDelay / blockFrames;
    const auto historyLength = (std::uint64_t) dryHistory.size();
    const auto longestDryDelay = historyLength - 1;
    const auto dryDelay = std::min<std::uint64_t> (bridgeDelay + (std::uint64_t) std::max (0, conditions.pluginLatency), longestDryDelay);
    const auto fadeStep = crossfadeStep (rate.load (std::memory_order_relaxed));
    const bool playing = conditions.playing;
    bool faultedNow = faulted.load();

    auto* left = channels[0];
    auto* right = numChannels > 1 ? channels[1] : nullptr;

    for (int j = 0; j < numSamples; ++j)
    {
        const auto frame = frameCounter;
        const auto frameInBlock = (std::size_t) (frame % blockFrames);
        const auto leftIndex = 2 * frameInBlock;
        const auto rightIndex = leftIndex + 1;

        const auto inL = left != nullptr ? left[j] : 0.0f;
        const auto inR = right != nullptr ? right[j] : inL;
        inputBlock.samples[leftIndex] = inL;
        inputBlock.samples[rightIndex] = inR;
        dryHistory[historyWritePosition] = { inL, inR };

        // Silence until the history reaches back as far as the dry delay.
        float dryL = 0.0f;
        float dryR = 0.0f;

        if (historyFrames >= dryDelay)
        {
            const auto& delayed = dryHistory[(historyWritePosition + historyLength - dryDelay) % historyLength];
            dryL = delayed[0];
            dryR = delayed[1];
        }

        historyWritePosition = (historyWritePosition + 1) % historyLength;

        if (historyFrames < historyLength)
            ++historyFrames;

        const bool lastFrameOfBlock = frameInBlock == (std::size_t) blockFrames - 1;

        if (lastFrameOfBlock && ! holding)
        {
            inputBlock.sequence = frame / blockFrames;
            inputBlock.epoch = currentEpoch;

            if (outboundRing.push (inputBlock))
                blocksSentCount.fetch_add (1, std::memory_order_release);
            else if (playing)
            {
                latchFault (RackFault::inputQueueOverflow);
                faultedNow = true;
            }
        }

        // The processed signal can play from the bridge latency on: at each block's first frame
        // the block sent that many blocks earlier is due.
        const bool processedCanPlay = frame >= bridgeDelay;

        if (frameInBlock == 0 && processedCanPlay && ! holding)
            takeDueBlock (frame / blockFrames - bridgeBlocks, currentEpoch, playing, faultedNow);

        float wetL = dryL;
        float wetR = dryR;
        float target = 0.0f;

        if (! holding && processedCanPlay && haveOutputBlock && ! faultedNow)
        {
            wetL = outputBlock.samples[leftIndex];
            wetR = outputBlock.samples[rightIndex];
            target = 1.0f;
        }

        wetMix += fadeStep * (target - wetMix);
        const auto outL = dryL + (wetL - dryL) * wetMix;
        const auto outR = dryR + (wetR - dryR) * wetMix;

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

void RackBridge::takeDueBlock (std::uint64_t dueSequence, std::uint64_t currentEpoch, bool playing, bool& faultedNow) noexcept
{
    haveOutputBlock = false;

    for (std::uint32_t taken = 0; taken < RackBlockRing::size; ++taken)
    {
        const auto* head = inboundRing.front();

        if (head == nullptr)
            break;

        if (head->epoch != currentEpoch || head->sequence < dueSequence)
        {
            inboundRing.dropFront();
            continue;
        }

        if (head->sequence == dueSequence)
        {
            outputBlock = *head;
            inboundRing.dropFront();
            haveOutputBlock = true;
            break;
        }

        // A newer block than the one due: it stays, and the gap is a fault.
        if (playing)
        {
            latchFault (RackFault::sequenceDiscontinuity);
            faultedNow = true;
        }

        break;
    }

    if (! haveOutputBlock && ! faultedNow && playing)
    {
        underrunCount.fetch_add (1, std::memory_order_relaxed);

        if (++missedBlocks >= maxMissedBlocks)
        {
            latchFault (RackFault::missedDeadlines);
            faultedNow = true;
        }
    }
    else
        missedBlocks = 0;
}

void RackBridge::latchFault (RackFault kind) noexcept
{
    auto none = RackFault::none;
    faultKind.compare_exchange_strong (none, kind);
    faulted = true;
}

void RackBridge::clearFault() noexcept
{
    faulted = false;
    faultKind = RackFault::none;
}

RackBlock* RackBridge::takeSentBlock() noexcept
{
    VANTREL_ASSERT_CONTROL_THREAD;
    return outboundRing.pop (exchangeBlock) ? &exchangeBlock : nullptr;
}

bool RackBridge::isExchangeable (const RackBlock& block) const noexcept
{
    VANTREL_ASSERT_CONTROL_THREAD;
    return block.epoch == epoch() && ! audioFault();
}

bool RackBridge::returnBlock (const RackBlock& block) noexcept
{
    VANTREL_ASSERT_CONTROL_THREAD;
    return block.epoch != epoch() || inboundRing.push (block);
}

void RackBridge::finishTakenBlock() noexcept
{
    VANTREL_ASSERT_CONTROL_THREAD;
    blocksTakenCount.fetch_add (1, std::memory_order_release);
}
} // namespace vantrel
