#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace orvane::audio
{
/** The true-peak stage at the end of the master output: it looks 4x between samples, seen
    192 samples ahead, and holds the interpolated peak 0.3 dB under its limit, hard-limiting
    every sample to +-limit.

    Per sample n (x, y the stage's input):
      1. the histories take x and y at n;
      2. peak = max(|x|, |y|) and the magnitudes of three interpolated values per channel at
         n - 64 + p/4 (p = 1, 2, 3), each a 128-tap sum over the history n-127..n taken in order
         k = 0..127 in float;
      3. m = the largest peak of the last 256 samples (at least 0);
      4. target = limit x 0.96605086 / m when m is above limit x 0.96605086, else 1;
      5. a deeper target moves gain t there along a raised-cosine curve within 64 samples,
         starting from where t stands; otherwise t returns towards 1 with r50, never above the
         target. A peak reaches the output 128 samples or more after it is seen, so t stands
         still around it; a sudden drop of t next to other loud samples would itself put new
         peaks between them. t is kept as its distance below 1, so that the return reaches
         exactly 1;
      6. the sample 192 behind is output as d + (clamp(t d, -limit, limit) - d) x mix.

    The work is done a chunk of samples at a time: the history is kept twice (mirrored) so that
    every 128-tap span is contiguous and eight samples are interpolated side by side, and the
    256-sample maximum is a running maximum (a monotonic queue). Both give exactly the values of
    the plain per-sample reading above, sample for sample.

    Audio thread, realtime-safe: no allocation, lock or system call. */
class TruePeakStage
{
public:
    static constexpr int historySize = 512;
    static constexpr int delaySamples = 192;
    static constexpr int numTaps = 128;
    static constexpr int numPhases = 3;
    static constexpr int peakWindow = 256;
    static constexpr float targetShare = 0.96605086f; // 0.3 dB under the limit
    static constexpr int maxChunk = 64;
    static constexpr int attackSamples = 64;

    using Taps = std::array<std::array<float, numTaps>, numPhases>;

    TruePeakStage();

    /** Zeroes the histories, the peak window and the sample counter; gain 1. */
    void reset();

    /** Runs `count` samples (0..maxChunk). x, y: the stage's input; mix: the enable mix of each
        sample. Writes the outputs to outLeft and outRight and lowers smallestGain to the
        smallest effective gain ((t - 1) x mix + 1) of the chunk. */
    void processChunk (const float* x, const float* y, const float* mix, int count, float limit, float r50,
                       float* outLeft, float* outRight, float& smallestGain);

    /** The interpolation taps: Blackman-windowed sinc, 128 taps per phase, each phase
        normalised to a sum of 1. Phase index 0..2 holds p = 1..3. */
    const Taps& taps() const  { return interpolationTaps; }

    float gain() const  { return 1.0f - gainReduction; }
    /** The effective gain at an enable mix, as processChunk counts it for smallestGain. */
    float effectiveGain (float mix) const  { return 1.0f - gainReduction * mix; }
    uint64_t sampleCount() const  { return counter; }

    /** True when a chunk of silence (every input +0.0) would leave the stage exactly as it is
        but for its sample counter and give +0.0 out: the last historySize inputs were all +0.0
        (so every history value and every peak of the window is 0, and the window holds one
        entry), no attack runs and the gain's return with r50 stays where it is. */
    bool atRest (float r50) const
    {
        return silentRun >= (uint64_t) historySize && attackRemaining == 0 && std::max (gainReduction * r50, 0.0f) == gainReduction;
    }

    /** What processChunk does over `count` samples of silence while atRest holds, without the
        arithmetic: the counter moves on and the window's one entry is the newest sample. */
    void skipSilence (int count)
    {
        counter += (uint64_t) count;
        silentRun += (uint64_t) count;
        queueIndices[queueHead] = counter - 1;
    }

private:
    void writeHistory (const float* x, const float* y, int count);
    void interpolatedPeaks (const float* x, const float* y, int count, float* peaks) const;
    float runningMaximum (float peak, uint64_t n);
    float nextReduction (float targetReduction, float r50);

    // Each history holds every sample twice, at i and i + 512, so that reads of up to 512
    // consecutive samples never wrap.
    alignas (64) std::array<float, 2 * historySize> historyLeft {};
    alignas (64) std::array<float, 2 * historySize> historyRight {};

    // Running maximum over the last 256 peaks: a queue of (sample index, peak) with falling
    // peaks, oldest first.
    std::array<float, peakWindow> queuePeaks {};
    std::array<uint64_t, peakWindow> queueIndices {};
    uint32_t queueHead = 0;
    uint32_t queueSize = 0;

    Taps interpolationTaps {};
    uint64_t counter = 0;
    uint64_t silentRun = 0;   // how many of the newest inputs, left and right, were +0.0
    // The gain t, kept as 1 - t so that the return reaches exactly 1 again, and its attack.
    float gainReduction = 0.0f;
    float attackStart = 0.0f;
    float attackGoal = 0.0f;
    int attackRemaining = 0;
    std::array<float, attackSamples + 1> attackShape {};   // 0.5 - 0.5 cos(pi k / attackSamples)
};
} // namespace orvane::audio
