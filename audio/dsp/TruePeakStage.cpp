#include "audio/dsp/TruePeakStage.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvane::audio
{
namespace
{
    constexpr double pi = 3.141592653589793238462643383279502884;
    constexpr uint64_t historyMask = TruePeakStage::historySize - 1;
    constexpr uint32_t queueMask = TruePeakStage::peakWindow - 1;

    // Four floats side by side (SSE on x86-64); element-wise arithmetic, so every lane rounds
    // exactly like the scalar expression it stands for.
    typedef float Float4 __attribute__ ((vector_size (16)));

    uint32_t bits (float value)
    {
        uint32_t word;
        std::memcpy (&word, &value, sizeof (word));
        return word;
    }

    Float4 load4 (const float* source)
    {
        Float4 v;
        std::memcpy (&v, source, sizeof (v));
        return v;
    }

    TruePeakStage::Taps buildTaps()
    {
        TruePeakStage::Taps taps {};

        for (int p = 1; p <= TruePeakStage::numPhases; ++p)
        {
            auto& phase = taps[(size_t) p - 1];
            double sum = 0.0;

            for (int k = 0; k < TruePeakStage::numTaps; ++k)
            {
                const double a = k - 63.0 - p / 4.0;
                const double window = 0.42 + 0.5 * std::cos (pi * a / 64.0) + 0.08 * std::cos (2.0 * pi * a / 64.0);
                const double sinc = std::abs (a) < 1.0e-12 ? 1.0 : std::sin (pi * a) / (pi * a);
                phase[(size_t) k] = static_cast<float> (window * sinc);
                sum += phase[(size_t) k];
            }

            for (auto& tap : phase)
                tap = static_cast<float> (tap / sum);
        }

        return taps;
    }
} // namespace

TruePeakStage::TruePeakStage()
    : interpolationTaps (buildTaps())
{
    for (size_t k = 0; k < attackShape.size(); ++k)
        attackShape[k] = static_cast<float> (0.5 - 0.5 * std::cos (pi * (double) k / attackSamples));
}

void TruePeakStage::reset()
{
    historyLeft.fill (0.0f);
    historyRight.fill (0.0f);
    queueHead = 0;
    queueSize = 0;
    counter = 0;
    silentRun = 0;
    gainReduction = 0.0f;
    attackGoal = 0.0f;
    attackStart = 0.0f;
    attackRemaining = 0;
}

void TruePeakStage::writeHistory (const float* x, const float* y, int count)
{
    for (int j = 0; j < count; ++j)
    {
        const auto i = (size_t) ((counter + (uint64_t) j) & historyMask);
        historyLeft[i] = historyLeft[i + historySize] = x[j];
        historyRight[i] = historyRight[i + historySize] = y[j];
        silentRun = (bits (x[j]) | bits (y[j])) == 0 ? silentRun + 1 : 0;
    }
}

void TruePeakStage::interpolatedPeaks (const float* x, const float* y, int count, float* peaks) const
{
    // Eight consecutive samples at a time: lanes 0-3 in the first vector, 4-7 in the second.
    // Lanes past `count` read older history and are thrown away.
    for (int j0 = 0; j0 < count; j0 += 8)
    {
        const auto start = (size_t) ((counter + (uint64_t) j0 - (numTaps - 1)) & historyMask);
        const float* left = historyLeft.data() + start;
        const float* right = historyRight.data() + start;

        Float4 sumLeft[numPhases][2] = {};
        Float4 sumRight[numPhases][2] = {};

        for (int k = 0; k < numTaps; ++k)
        {
            const Float4 l0 = load4 (left + k), l1 = load4 (left + k + 4);
            const Float4 r0 = load4 (right + k), r1 = load4 (right + k + 4);

            for (int p = 0; p < numPhases; ++p)
            {
                const float tap = interpolationTaps[(size_t) p][(size_t) k];
                sumLeft[p][0] = sumLeft[p][0] + tap * l0;
                sumLeft[p][1] = sumLeft[p][1] + tap * l1;
                sumRight[p][0] = sumRight[p][0] + tap * r0;
                sumRight[p][1] = sumRight[p][1] + tap * r1;
            }
        }

        const int lanes = std::min (8, count - j0);
        for (int lane = 0; lane < lanes; ++lane)
        {
            const int j = j0 + lane;
            float peak = std::max (std::abs (x[j]), std::abs (y[j]));

            for (int p = 0; p < numPhases; ++p)
            {
                peak = std::max (peak, std::abs (sumLeft[p][lane / 4][lane % 4]));
                peak = std::max (peak, std::abs (sumRight[p][lane / 4][lane % 4]));
            }

            peaks[j] = peak;
        }
    }
}

float TruePeakStage::runningMaximum (float peak, uint64_t n)
{
    while (queueSize > 0 && queueIndices[queueHead] + peakWindow <= n)
    {
        queueHead = (queueHead + 1) & queueMask;
        --queueSize;
    }

    while (queueSize > 0 && queuePeaks[(queueHead + queueSize - 1) & queueMask] <= peak)
        --queueSize;

    const auto back = (queueHead + queueSize) & queueMask;
    queuePeaks[back] = peak;
    queueIndices[back] = n;
    ++queueSize;

    return queuePeaks[queueHead];
}

void TruePeakStage::processChunk (const float* x, const float* y, const float* mix, int count, float limit,
                                  float r50, float* outLeft, float* outRight, float& smallestGain)
{
    VANTREL_ASSERT_AUDIO_THREAD;
    count = std::clamp (count, 0, maxChunk);

    float peaks[maxChunk];
    writeHistory (x, y, count);
    interpolatedPeaks (x, y, count, peaks);

    const float aim = limit * targetShare;

    for (int j = 0; j < count; ++j)
    {
        const uint64_t n = counter;
        const float m = runningMaximum (peaks[j], n);
        const float reduction = nextReduction (m > aim ? 1.0f - aim / m : 0.0f, r50);
        const float t = 1.0f - reduction;

        const auto delayed = (size_t) ((n - delaySamples) & historyMask);
        const float dL = historyLeft[delayed];
        const float dR = historyRight[delayed];
        outLeft[j] = dL + (std::clamp (t * dL, -limit, limit) - dL) * mix[j];
        outRight[j] = dR + (std::clamp (t * dR, -limit, limit) - dR) * mix[j];

        smallestGain = std::min (smallestGain, 1.0f - reduction * mix[j]);
        counter = n + 1;
    }
}

float TruePeakStage::nextReduction (float targetReduction, float r50)
{
    // A deeper target starts (or restarts, from where the gain stands) a raised-cosine attack
    // that reaches it within attackSamples; otherwise the gain returns towards 1 with r50,
    // never above the target.
    const float deepest = attackRemaining > 0 ? attackGoal : gainReduction;
    if (targetReduction > deepest)
    {
        attackStart = gainReduction;
        attackGoal = targetReduction;
        attackRemaining = attackSamples;
    }

    if (attackRemaining > 0)
    {
        --attackRemaining;
        const auto progress = attackShape[(size_t) (attackSamples - attackRemaining)];
        gainReduction = attackRemaining == 0 ? attackGoal : attackStart + (attackGoal - attackStart) * progress;
    }
    else
    {
        gainReduction = std::max (gainReduction * r50, targetReduction);
    }

    return gainReduction;
}
} // namespace orvane::audio
