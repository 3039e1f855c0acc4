#pragma once

// The master output stage written the straightforward way, one sample at a time: ring indices
// taken modulo 512, each 128-tap interpolation summed in order into one float, the 256-value
// maximum scanned in full for every sample, the attack curve computed where it is used. The production stage must give exactly
// the same samples and meters; the benchmark compares the cost of both.

#include "audio/dsp/MasterOutputProcessor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace orvane::audio::testing
{
class PlainMasterOutput
{
public:
    float thresholdDb = -3.0f, ceilingDb = -0.5f, releaseMs = 120.0f, driveDb = 0.0f, outputGainDb = 0.0f;
    bool enabled = true;
    MasterOutputMeters meters;

    explicit PlainMasterOutput (const TruePeakStage::Taps& tapsToUse) : taps (tapsToUse)  {}

    void prepare (double sampleRate)
    {
        rate = (std::isfinite (sampleRate) && sampleRate > 1000.0) ? sampleRate : 48000.0;
        const auto t = targets();
        historyLeft.fill (0.0f);
        historyRight.fill (0.0f);
        peakRing.fill (0.0f);
        counter = 0;
        smoothedThreshold = t.threshold;
        smoothedCeiling = t.ceiling;
        smoothedOutputGain = t.outputGain;
        smoothedDrive = t.drive;
        enableMix = t.mix;
        smoothedRelease = t.release;
        limiterReduction = truePeakReduction = attackFrom = attackGoal = 0.0f;
        attackLeft = 0;
        meters = {};
    }

    void process (float* const* channels, int numChannels, int numSamples)
    {
        if (channels == nullptr || numChannels < 1 || numSamples < 1)
            return;

        const auto t = targets();
        float largestL = 0, largestR = 0, smallestGe = 1, smallestTp = 1;

        for (int j = 0; j < numSamples; ++j)
        {
            smoothedThreshold = (smoothedThreshold - t.threshold) * t.w + t.threshold;
            smoothedCeiling = (smoothedCeiling - t.ceiling) * t.w + t.ceiling;
            smoothedDrive = (smoothedDrive - t.drive) * t.w + t.drive;
            smoothedRelease = (smoothedRelease - t.release) * t.w + t.release;
            enableMix = (enableMix - t.mix) * t.w + t.mix;
            if (std::abs (enableMix - t.mix) < 1.0e-5f)
                enableMix = t.mix;

            float l = channels[0] != nullptr ? channels[0][j] : 0.0f;
            float r = (numChannels > 1 && channels[1] != nullptr) ? channels[1][j] : l;
            l = (std::isfinite (l) ? std::clamp (l, -1.0e6f, 1.0e6f) : 0.0f) * smoothedDrive;
            r = (std::isfinite (r) ? std::clamp (r, -1.0e6f, 1.0e6f) : 0.0f) * smoothedDrive;

            const float level = std::min (smoothedThreshold, smoothedCeiling);
            const float peak = std::max (std::abs (l), std::abs (r));
            const float targetReduction = peak > level ? 1.0f - level / peak : 0.0f;
            limiterReduction = limiterReduction < targetReduction ? targetReduction : std::max (limiterReduction * smoothedRelease, targetReduction);
            const float ge = 1.0f - limiterReduction * enableMix;
            smallestGe = std::min (smallestGe, ge);

            smoothedOutputGain = (smoothedOutputGain - t.outputGain) * t.w + t.outputGain;
            float outL = 0, outR = 0;
            const float tp = truePeakStage (ge * l * smoothedOutputGain, ge * r * smoothedOutputGain, t.limit, t.r50, outL, outR);
            smallestTp = std::min (smallestTp, tp);

            if (channels[0] != nullptr)
                channels[0][j] = outL;
            if (numChannels > 1 && channels[1] != nullptr)
                channels[1][j] = outR;
            for (int c = 2; c < numChannels; ++c)
                if (channels[c] != nullptr)
                    channels[c][j] = 0.0f;

            largestL = std::max (largestL, std::abs (outL));
            largestR = std::max (largestR, std::abs (outR));
        }

        const float fall = static_cast<float> (numSamples / rate) * 24.0f;
        const auto peakDb = [] (float v) { return std::max (20.0f * std::log10 (std::max (v, 1.0e-6f)), -120.0f); };
        const auto reductionDb = [] (float v) { return std::max (0.0f, -20.0f * std::log10 (std::clamp (v, 1.0e-9f, 1.0f))); };
        meters.outputPeakLeftDb = std::max (meters.outputPeakLeftDb - fall, peakDb (largestL));
        meters.outputPeakRightDb = std::max (meters.outputPeakRightDb - fall, peakDb (largestR));
        meters.limiterReductionDb = std::max (meters.limiterReductionDb - fall, reductionDb (smallestGe));
        meters.truePeakReductionDb = std::max (meters.truePeakReductionDb - fall, reductionDb (smallestTp));
    }

private:
    struct Targets
    {
        float threshold, ceiling, drive, outputGain, limit, mix, release, r50, w;
    };

    static float linear (float dB)  { return dB <= -120.0f ? 0.0f : (float) std::pow (10.0, dB / 20.0); }

    Targets targets() const
    {
        return { linear (thresholdDb), linear (ceilingDb), enabled ? linear (driveDb) : 1.0f, linear (outputGainDb),
                 linear (-1.0f), enabled ? 1.0f : 0.0f,
                 (float) std::exp (-1.0 / (std::max ((double) releaseMs / 1000.0, 0.01) * rate)),
                 (float) std::exp (-1.0 / (0.05 * rate)), (float) std::exp (-1.0 / (0.02 * rate)) };
    }

    float truePeakStage (float x, float y, float limit, float r50, float& outL, float& outR)
    {
        const uint64_t n = counter;
        historyLeft[n % 512] = x;
        historyRight[n % 512] = y;
        counter = n + 1;

        float peak = std::max (std::abs (x), std::abs (y));
        for (int p = 0; p < 3; ++p)
        {
            float iL = 0.0f, iR = 0.0f;
            for (int k = 0; k < 128; ++k)
            {
                iL += taps[(size_t) p][(size_t) k] * historyLeft[(n - 127 + (uint64_t) k) % 512];
                iR += taps[(size_t) p][(size_t) k] * historyRight[(n - 127 + (uint64_t) k) % 512];
            }
            peak = std::max ({ peak, std::abs (iL), std::abs (iR) });
        }

        peakRing[n % 256] = peak;
        float m = 0.0f;
        for (float v : peakRing)
            m = std::max (m, v);

        const float aim = limit * 0.96605086f;
        const float targetReduction = m > aim ? 1.0f - aim / m : 0.0f;
        if (targetReduction > (attackLeft > 0 ? attackGoal : truePeakReduction))
        {
            attackFrom = truePeakReduction;
            attackGoal = targetReduction;
            attackLeft = 64;
        }
        if (attackLeft > 0)
        {
            --attackLeft;
            const auto progress = (float) (0.5 - 0.5 * std::cos (3.141592653589793238462643383279502884 * (double) (64 - attackLeft) / 64));
            truePeakReduction = attackLeft == 0 ? attackGoal : attackFrom + (attackGoal - attackFrom) * progress;
        }
        else
        {
            truePeakReduction = std::max (truePeakReduction * r50, targetReduction);
        }
        const float truePeakGain = 1.0f - truePeakReduction;

        const float dL = historyLeft[(n - 192) % 512];
        const float dR = historyRight[(n - 192) % 512];
        outL = dL + (std::clamp (truePeakGain * dL, -limit, limit) - dL) * enableMix;
        outR = dR + (std::clamp (truePeakGain * dR, -limit, limit) - dR) * enableMix;
        return 1.0f - truePeakReduction * enableMix;
    }

    TruePeakStage::Taps taps;
    double rate = 48000.0;
    std::array<float, 512> historyLeft {}, historyRight {};
    std::array<float, 256> peakRing {};
    uint64_t counter = 0;
    float smoothedThreshold = 1, smoothedCeiling = 1, smoothedOutputGain = 1, smoothedDrive = 1, enableMix = 1, smoothedRelease = 0;
    float limiterReduction = 0, truePeakReduction = 0;   // 1 - gain
    float attackFrom = 0, attackGoal = 0;
    int attackLeft = 0;
};
} // namespace orvane::audio::testing
