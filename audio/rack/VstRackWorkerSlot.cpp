#include "audio/rack/VstRackWorkerSlot.h"

#include "vsthost/ProtocolWords.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/VstPaths.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vantrel
{
namespace
{
constexpr int blockFrames = RackBlock::frames;

// SAVE_STATE answers "OK\t" + state.
constexpr int stateReplyPrefixLength = 3;

float peakOf (const std::array<float, RackBlock::frames * 2>& samples)
{
    float peak = 0.0f;

    for (const auto sample : samples)
        peak = std::max (peak, std::fabs (sample));

    return peak;
}
} // namespace

WorkerStateReply requestWorkerState (VstWorkerClient& client, int timeoutMs)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    using Outcome = WorkerStateReply::Outcome;
    std::vector<juce::String> reply;
    juce::String error;

    if (! client.command (orvane::vsthost::protocol::saveState, reply, error, timeoutMs))
    {
        // A state larger than the program takes is refused with the worker still in step.
        if (client.isAlive() && (error == workerText::replyExceededBound || error == rackText::workerStateBound))
            return { Outcome::tooLarge, {}, {} };

        return { Outcome::failed, {}, "SAVE_STATE: " + error };
    }

    auto stateHex = reply.back().substring (stateReplyPrefixLength);

    if (! isVstStateHex (stateHex))
        return { Outcome::tooLarge, {}, {} };

    return { Outcome::captured, std::move (stateHex), {} };
}

void VstRackWorkerSlot::resetDryDelay (std::int32_t samples)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    latency = samples;
    dryDelay.assign ((std::size_t) samples + 1, { 0.0f, 0.0f });
    dryDelayPosition = 0;
}

VstRackWorkerSlot::BlockResult VstRackWorkerSlot::process (RackBlock& block, bool enabled, float crossfadeStep, int timeoutMs)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    BlockResult result;
    auto& samples = block.samples;
    result.inputPeak = peakOf (samples);
    dryBlock = samples;

    // Each frame goes in at the position and the frame `latency` frames older comes out.
    if (latency > 0 && ! dryDelay.empty())
    {
        const auto delayLength = (std::uint64_t) dryDelay.size();

        for (std::size_t frame = 0; frame < (std::size_t) blockFrames; ++frame)
        {
            auto& pair = dryDelay[dryDelayPosition];
            pair = { dryBlock[2 * frame], dryBlock[2 * frame + 1] };
            dryDelayPosition = (dryDelayPosition + 1) % delayLength;
            const auto& delayed = dryDelay[dryDelayPosition];
            dryBlock[2 * frame] = delayed[0];
            dryBlock[2 * frame + 1] = delayed[1];
        }
    }

    if (client != nullptr)
    {
        const auto start = std::chrono::steady_clock::now();
        result.processed = client->processF32 (samples.data(), blockFrames, block.sequence, result.error, timeoutMs);
        result.callMs = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();
        result.workerFailed = ! result.processed;
    }

    if (! result.processed)
        samples = dryBlock;

    const auto target = result.processed && enabled ? 1.0f : 0.0f;

    for (std::size_t frame = 0; frame < (std::size_t) blockFrames; ++frame)
    {
        mix += crossfadeStep * (target - mix);

        for (std::size_t channel = 0; channel < 2; ++channel)
        {
            const auto i = 2 * frame + channel;
            samples[i] = dryBlock[i] + (samples[i] - dryBlock[i]) * mix;
        }
    }

    if (result.processed)
        result.outputPeak = peakOf (samples);

    return result;
}
} // namespace vantrel
