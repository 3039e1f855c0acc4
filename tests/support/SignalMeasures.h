#pragma once

// Level measurements and signal makers shared by the DSP tests: peak and RMS over a range of a
// signal, dB conversions, a 4x windowed-sinc true-peak meter, the sample rates and block sizes
// every stream test runs over, and a helper that feeds a stream through any block processor in
// blocks of given sizes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace orvane::audio::testing
{
constexpr double pi = 3.141592653589793238462643383279502884;

inline const std::vector<double>& testSampleRates()
{
    static const std::vector<double> rates { 44100.0, 48000.0, 96000.0 };
    return rates;
}

inline double toDb (double linear)  { return 20.0 * std::log10 (std::max (linear, 1.0e-30)); }
inline double fromDb (double dB)  { return std::pow (10.0, dB / 20.0); }

/** Largest |x| over [begin, end) (clipped to the signal). */
template <typename Sample>
double peakOver (const std::vector<Sample>& signal, size_t begin = 0, size_t end = SIZE_MAX)
{
    end = std::min (end, signal.size());
    double peak = 0.0;
    for (size_t i = begin; i < end; ++i)
        peak = std::max (peak, std::abs ((double) signal[i]));
    return peak;
}

/** RMS over [begin, end) (clipped to the signal); 0 for an empty range. */
template <typename Sample>
double rmsOver (const std::vector<Sample>& signal, size_t begin = 0, size_t end = SIZE_MAX)
{
    end = std::min (end, signal.size());
    if (begin >= end)
        return 0.0;
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += (double) signal[i] * (double) signal[i];
    return std::sqrt (sum / (double) (end - begin));
}

/** Largest difference between neighbouring samples over [begin, end). */
template <typename Sample>
double largestStepOver (const std::vector<Sample>& signal, size_t begin = 1, size_t end = SIZE_MAX)
{
    end = std::min (end, signal.size());
    double step = 0.0;
    for (size_t i = std::max<size_t> (begin, 1); i < end; ++i)
        step = std::max (step, std::abs ((double) signal[i] - (double) signal[i - 1]));
    return step;
}

inline std::vector<double> sine (double frequency, double rate, size_t length, double amplitude = 1.0, double phase = 0.0)
{
    std::vector<double> out (length);
    for (size_t i = 0; i < length; ++i)
        out[i] = amplitude * std::sin (2.0 * pi * frequency * (double) i / rate + phase);
    return out;
}

/** The true peak of a signal: the largest magnitude of the samples and of the values a quarter,
    a half and three quarters of the way to the next sample, interpolated with a Kaiser-windowed
    sinc of 2 x 96 taps per phase (beta 9: stop band below -90 dB, flat to within 0.001 dB up
    to 0.42 of the rate). Samples before the signal count as 0 (a stream that starts there);
    the last 96 samples get no points between them: the stream goes on after the stretch a
    test holds, and a cut there is not in the signal. */
class TruePeakMeter
{
public:
    static constexpr int halfWidth = 96;

    TruePeakMeter()
    {
        for (int p = 1; p <= 3; ++p)
        {
            auto& phase = taps[(size_t) p - 1];
            phase.resize (2 * halfWidth);
            for (int k = 0; k < 2 * halfWidth; ++k)
            {
                // Tap k multiplies sample n - halfWidth + 1 + k; the point lies at n + p/4.
                const double a = (double) (k - halfWidth + 1) - p / 4.0;
                const double x = a / (halfWidth + 0.5);
                const double window = besselI0 (beta * std::sqrt (std::max (0.0, 1.0 - x * x))) / besselI0 (beta);
                const double sinc = std::abs (a) < 1.0e-12 ? 1.0 : std::sin (pi * a) / (pi * a);
                phase[(size_t) k] = window * sinc;
            }
        }
    }

    /** The true peak from sample `begin` on. */
    template <typename Sample>
    double truePeak (const std::vector<Sample>& signal, size_t begin = 0) const
    {
        double peak = peakOver (signal, begin);
        const auto length = (long long) signal.size();
        for (auto n = (long long) begin; n + halfWidth < length; ++n)
        {
            for (const auto& phase : taps)
            {
                double sum = 0.0;
                for (int k = 0; k < 2 * halfWidth; ++k)
                {
                    const long long i = n - halfWidth + 1 + k;
                    if (i >= 0)
                        sum += phase[(size_t) k] * (double) signal[(size_t) i];
                }
                peak = std::max (peak, std::abs (sum));
            }
        }
        return peak;
    }

private:
    static constexpr double beta = 9.0;

    static double besselI0 (double x)
    {
        double sum = 1.0, term = 1.0;
        for (int k = 1; k < 60; ++k)
        {
            term *= (x / (2.0 * k)) * (x / (2.0 * k));
            sum += term;
        }
        return sum;
    }

    std::vector<double> taps[3];
};

/** Block sizes for stream tests: fixed ones (1, odd, prime, powers of two, larger than any
    chunk) then random ones (0 included) until `total` samples are covered. */
inline std::vector<int> blockSizesCovering (size_t total, uint32_t seed, std::vector<int> fixed = { 0, 1, 7, 64, 65, 127, 512, 1000 })
{
    std::vector<int> sizes;
    std::mt19937 random (seed);
    std::uniform_int_distribution<int> size (0, 1500);
    size_t covered = 0;
    size_t next = 0;
    while (covered < total)
    {
        int n = next < fixed.size() ? fixed[next++] : size (random);
        n = (int) std::min<size_t> ((size_t) n, total - covered);
        sizes.push_back (n);
        covered += (size_t) n;
    }
    return sizes;
}

/** Feeds a planar stereo float stream through `process (pointers, channels, samples)` in blocks of
    the given sizes, in place. */
inline void processInBlocks (std::vector<float>& left, std::vector<float>& right, const std::vector<int>& sizes,
                             const std::function<void (float* const*, int, int)>& process)
{
    size_t offset = 0;
    for (int n : sizes)
    {
        float* channels[] = { left.data() + offset, right.data() + offset };
        process (channels, 2, n);
        offset += (size_t) n;
    }
}
} // namespace orvane::audio::testing
