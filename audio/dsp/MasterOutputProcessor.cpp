#include "audio/dsp/MasterOutputProcessor.h"

#include "platform/ThreadContract.h"
#include "session/GainRange.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvane::audio
{
namespace
{
    constexpr double smoothingSeconds = 0.02;
    constexpr double truePeakReleaseSeconds = 0.05;
    constexpr float snapDistance = 1.0e-5f;
    constexpr float inputLimit = 1.0e6f;
    constexpr float meterFallDbPerSecond = 24.0f;
    constexpr float meterFloorDb = -120.0f;

    /** 0 at or below -120 dB, else 10^(dB/20). */
    float linear (float dB)
    {
        return dB <= -120.0f ? 0.0f : static_cast<float> (std::pow (10.0, dB / 20.0));
    }

    float clampedOr (float value, float low, float high, float fallback)
    {
        return std::isfinite (value) ? std::clamp (value, low, high) : fallback;
    }

    float onePole (double seconds, double rate)
    {
        return static_cast<float> (std::exp (-1.0 / (seconds * rate)));
    }

    float sanitise (float sample)
    {
        return std::isfinite (sample) ? std::clamp (sample, -inputLimit, inputLimit) : 0.0f;
    }

    float smooth (float value, float target, float w)
    {
        return (value - target) * w + target;
    }
} // namespace

struct MasterOutputProcessor::BlockTargets
{
    bool enabled;
    float threshold, ceiling, drive, outputGain, limit, mix;
    float release, release50, smoothing;
};

MasterOutputProcessor::MasterOutputProcessor()
{
    prepare (48000.0);
}

void MasterOutputProcessor::setThresholdDb (float dB)  { threshold.store (clampedOr (dB, -30.0f, 0.0f, -30.0f), std::memory_order_relaxed); }
void MasterOutputProcessor::setCeilingDb (float dB)  { ceiling.store (clampedOr (dB, -12.0f, 0.0f, -12.0f), std::memory_order_relaxed); }
void MasterOutputProcessor::setReleaseMs (float ms)  { release.store (clampedOr (ms, 10.0f, 2000.0f, 120.0f), std::memory_order_relaxed); }
void MasterOutputProcessor::setDriveDb (float dB)  { drive.store (clampedOr (dB, 0.0f, 24.0f, 0.0f), std::memory_order_relaxed); }
void MasterOutputProcessor::setOutputGainDb (float dB)  { outputGain.store (clampedOr (dB, vantrel::minGainDb, vantrel::maxGainDb, vantrel::minGainDb), std::memory_order_relaxed); }
void MasterOutputProcessor::setEnabled (bool shouldBeEnabled)  { enabled.store (shouldBeEnabled, std::memory_order_relaxed); }

MasterOutputMeters MasterOutputProcessor::meters() const
{
    return { meterPeakLeft.load (std::memory_order_relaxed), meterPeakRight.load (std::memory_order_relaxed),
             meterLimiterReduction.load (std::memory_order_relaxed), meterTruePeakReduction.load (std::memory_order_relaxed) };
}

void MasterOutputProcessor::prepare (double sampleRate)
{
    rate = (std::isfinite (sampleRate) && sampleRate > 1000.0) ? sampleRate : 48000.0;
    reset();
}

void MasterOutputProcessor::reset()
{
    const auto targets = blockTargets();

    truePeak.reset();
    smoothedThreshold = targets.threshold;
    smoothedCeiling = targets.ceiling;
    smoothedOutputGain = targets.outputGain;
    smoothedDrive = targets.drive;
    enableMix = targets.mix;
    smoothedRelease = targets.release;
    limiterReduction = 0.0f;

    meterPeakLeft.store (meterFloorDb, std::memory_order_relaxed);
    meterPeakRight.store (meterFloorDb, std::memory_order_relaxed);
    meterLimiterReduction.store (0.0f, std::memory_order_relaxed);
    meterTruePeakReduction.store (0.0f, std::memory_order_relaxed);
}

MasterOutputProcessor::BlockTargets MasterOutputProcessor::blockTargets() const
{
    BlockTargets t {};
    t.enabled = isEnabled();
    t.threshold = linear (thresholdDb());
    t.ceiling = linear (ceilingDb());
    t.drive = t.enabled ? linear (driveDb()) : 1.0f;
    t.outputGain = linear (outputGainDb());
    t.limit = linear (truePeakLimitDb);
    t.mix = t.enabled ? 1.0f : 0.0f;
    t.release = onePole (std::max (static_cast<double> (releaseMs()) / 1000.0, 0.01), rate);
    t.release50 = onePole (truePeakReleaseSeconds, rate);
    t.smoothing = onePole (smoothingSeconds, rate);
    return t;
}

void MasterOutputProcessor::process (float* const* channels, int numChannels, int numSamples)
{
    VANTREL_ASSERT_AUDIO_THREAD;
    if (channels == nullptr || numChannels < 1 || numSamples < 1)
        return;

    const auto targets = blockTargets();
    largestLeft = largestRight = 0.0f;
    smallestLimiterGain = smallestTruePeakGain = 1.0f;

    if (skipsRest && restsThrough (channels, numChannels, numSamples, targets))
    {
        // What every sample of the block would give: +0.0 out, the same state, the same gains.
        smallestLimiterGain = std::min (smallestLimiterGain, 1.0f - limiterReduction * enableMix);
        smallestTruePeakGain = std::min (smallestTruePeakGain, truePeak.effectiveGain (enableMix));
        truePeak.skipSilence (numSamples);
        for (int c = 0; c < std::min (numChannels, 2); ++c)
            if (channels[c] != nullptr)
                std::fill (channels[c], channels[c] + numSamples, 0.0f);
        ++skippedBlocks;
    }
    else
    {
        for (int offset = 0; offset < numSamples; offset += TruePeakStage::maxChunk)
            runChunk (channels, numChannels, offset, std::min (TruePeakStage::maxChunk, numSamples - offset), targets);
    }

    for (int c = 2; c < numChannels; ++c)
        if (channels[c] != nullptr)
            std::fill (channels[c], channels[c] + numSamples, 0.0f);

    updateMeters (numSamples);
}

bool MasterOutputProcessor::restsThrough (float* const* channels, int numChannels, int numSamples,
                                          const BlockTargets& targets) const
{
    // One sample of silence, as runChunk computes it, must leave every smoothed value, the enable
    // mix and the limiter exactly where they are: then so does every further one. With a silent
    // input the limiter's target is no reduction (its level is above 0) and the true-peak stage
    // gets +0.0 (every factor before it is positive).
    const float w = targets.smoothing;
    const auto stays = [w] (float value, float target) { return smooth (value, target, w) == value; };
    float mix = smooth (enableMix, targets.mix, w);
    if (std::abs (mix - targets.mix) < snapDistance)
        mix = targets.mix;
    if (! (stays (smoothedThreshold, targets.threshold) && stays (smoothedCeiling, targets.ceiling)
           && stays (smoothedDrive, targets.drive) && stays (smoothedRelease, targets.release)
           && stays (smoothedOutputGain, targets.outputGain) && mix == enableMix
           && std::max (limiterReduction * smoothedRelease, 0.0f) == limiterReduction
           && truePeak.atRest (targets.release50)))
        return false;

    // The input: every sample +0.0 (a -0.0 or anything else is computed).
    const float* left = channels[0];
    const float* right = (numChannels > 1 && channels[1] != nullptr) ? channels[1] : left;
    std::uint32_t any = 0;
    for (const float* channel : { left, right })
        if (channel != nullptr)
            for (int j = 0; j < numSamples; ++j)
            {
                std::uint32_t word;
                std::memcpy (&word, channel + j, sizeof (word));
                any |= word;
            }
    return any == 0;
}

void MasterOutputProcessor::runChunk (float* const* channels, int numChannels, int offset, int count,
                                      const BlockTargets& targets)
{
    float* left = channels[0] != nullptr ? channels[0] + offset : nullptr;
    float* right = (numChannels > 1 && channels[1] != nullptr) ? channels[1] + offset : nullptr;
    const float w = targets.smoothing;

    float x[TruePeakStage::maxChunk] {}, y[TruePeakStage::maxChunk] {}, mix[TruePeakStage::maxChunk] {};

    for (int j = 0; j < count; ++j)
    {
        smoothedThreshold = smooth (smoothedThreshold, targets.threshold, w);
        smoothedCeiling = smooth (smoothedCeiling, targets.ceiling, w);
        smoothedDrive = smooth (smoothedDrive, targets.drive, w);
        smoothedRelease = smooth (smoothedRelease, targets.release, w);
        enableMix = smooth (enableMix, targets.mix, w);
        if (std::abs (enableMix - targets.mix) < snapDistance)
            enableMix = targets.mix;

        const float inLeft = left != nullptr ? left[j] : 0.0f;
        const float inRight = right != nullptr ? right[j] : inLeft;
        const float l = sanitise (inLeft) * smoothedDrive;
        const float r = sanitise (inRight) * smoothedDrive;

        const float level = std::min (smoothedThreshold, smoothedCeiling);
        const float peak = std::max (std::abs (l), std::abs (r));
        const float targetReduction = peak > level ? 1.0f - level / peak : 0.0f;

        // Instant attack, exponential return towards gain 1, never above the target.
        if (limiterReduction < targetReduction)
            limiterReduction = targetReduction;
        else
            limiterReduction = std::max (limiterReduction * smoothedRelease, targetReduction);

        const float ge = 1.0f - limiterReduction * enableMix;
        smallestLimiterGain = std::min (smallestLimiterGain, ge);

        smoothedOutputGain = smooth (smoothedOutputGain, targets.outputGain, w);
        x[j] = ge * l * smoothedOutputGain;
        y[j] = ge * r * smoothedOutputGain;
        mix[j] = enableMix;
    }

    float outLeft[TruePeakStage::maxChunk], outRight[TruePeakStage::maxChunk];
    truePeak.processChunk (x, y, mix, count, targets.limit, targets.release50, outLeft, outRight, smallestTruePeakGain);

    for (int j = 0; j < count; ++j)
    {
        largestLeft = std::max (largestLeft, std::abs (outLeft[j]));
        largestRight = std::max (largestRight, std::abs (outRight[j]));
    }

    // count is 1..maxChunk here; the unsigned length keeps the copy's bound visible to the compiler.
    const auto length = static_cast<size_t> (count);
    if (left != nullptr)
        std::copy_n (outLeft, length, left);
    if (right != nullptr)
        std::copy_n (outRight, length, right);
}

void MasterOutputProcessor::updateMeters (int numSamples)
{
    const auto fall = static_cast<float> (numSamples / rate) * meterFallDbPerSecond;
    const auto falling = [fall] (const std::atomic<float>& meter, float reading)
    {
        return std::max (meter.load (std::memory_order_relaxed) - fall, reading);
    };
    const auto peakDb = [] (float largest)
    {
        return std::max (20.0f * std::log10 (std::max (largest, 1.0e-6f)), meterFloorDb);
    };
    const auto reductionDb = [] (float smallest)
    {
        return std::max (0.0f, -20.0f * std::log10 (std::clamp (smallest, 1.0e-9f, 1.0f)));
    };

    meterPeakLeft.store (falling (meterPeakLeft, peakDb (largestLeft)), std::memory_order_relaxed);
    meterPeakRight.store (falling (meterPeakRight, peakDb (largestRight)), std::memory_order_relaxed);
    meterLimiterReduction.store (falling (meterLimiterReduction, reductionDb (smallestLimiterGain)), std::memory_order_relaxed);
    meterTruePeakReduction.store (falling (meterTruePeakReduction, reductionDb (smallestTruePeakGain)), std::memory_order_relaxed);
}
} // namespace orvane::audio
