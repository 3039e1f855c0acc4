// The resampler's inner loop on each path, forced through the job: bit for bit what a plain
// scalar reading of that path's summation order gives (fused chains for the FMA paths,
// separate multiplies and adds for the portable one), over rate pairs, mono and stereo,
// sources shorter than the taps, and ranges split at odd frames; and cancellation.

#include "audio/media/MediaTexts.h"
#include "audio/media/ResampleKernel.h"
#include "audio/media/Resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace vantrel
{
namespace
{
struct Output
{
    std::vector<float> left, right;
};

/** Noise with a stretch of signed zeros (silence) in the middle. */
std::vector<float> source (std::size_t frames, int channels, unsigned seed)
{
    std::mt19937 generator (seed);
    std::uniform_real_distribution<float> value (-0.9f, 0.9f);
    std::vector<float> samples (frames * (std::size_t) channels);
    for (auto& s : samples)
        s = value (generator);
    for (std::size_t i = samples.size() / 2; i < std::min (samples.size(), samples.size() / 2 + 300); ++i)
        samples[i] = (i & 1) != 0 ? -0.0f : 0.0f;
    return samples;
}

/** Frame i of one channel as each path sums it. */
float referenceFrame (const std::vector<float>& s, int channels, int channel, double step,
                      const std::vector<double>& table, std::size_t i, bool fused)
{
    const auto n = (std::int64_t) (s.size() / (std::size_t) channels);
    const double t = (double) i * step;
    const auto d = (std::int64_t) t;
    const int p = std::min (1023, std::max (0, (int) ((t - (double) d) * 1024.0)));
    const double* c = table.data() + (std::size_t) p * 64;
    auto tap = [&] (int k) { return (double) s[(std::size_t) ((d - 31 + k) * channels + channel)]; };

    if (d < 31 || d + 33 >= n)   // near the ends: every tap inside the source, in order
    {
        double sum = 0.0;
        for (int k = 0; k < 64; ++k)
            if (d - 31 + k >= 0 && d - 31 + k < n)
                sum += c[k] * tap (k);
        return (float) sum;
    }
    if (! fused && channels == 1)
    {
        double sum[4] = {};
        for (int k = 0; k < 64; ++k)
            sum[k % 4] += c[k] * tap (k);
        return (float) ((sum[0] + sum[1]) + (sum[2] + sum[3]));
    }
    if (! fused)
    {
        double sum[2] = {};
        for (int k = 0; k < 64; ++k)
            sum[k % 2] += c[k] * tap (k);
        return (float) (sum[0] + sum[1]);
    }

    const int chains = channels == 1 ? 16 : 8;
    double chain[16] = {};
    for (int k = 0; k < 64; ++k)
        chain[k % chains] = std::fma (c[k], tap (k), chain[k % chains]);
    if (channels == 2)
        return (float) (((chain[0] + chain[2]) + (chain[4] + chain[6])) + ((chain[1] + chain[3]) + (chain[5] + chain[7])));
    double v[4];
    for (int j = 0; j < 4; ++j)
        v[j] = (chain[j] + chain[4 + j]) + (chain[8 + j] + chain[12 + j]);
    return (float) ((v[0] + v[2]) + (v[1] + v[3]));
}

struct Kernel
{
    std::vector<float> samples;
    std::vector<double> table;
    ResampleJob job;
    std::size_t outputFrames = 0;

    Kernel (std::size_t frames, int channels, double sourceRate, double targetRate, ResamplePath path)
        : samples (source (frames, channels, (unsigned) frames + (unsigned) channels)),
          table (buildResampleTable (std::min (targetRate / sourceRate, 1.0) * 0.94)),
          outputFrames ((std::size_t) std::round ((double) frames * targetRate / sourceRate))
    {
        job.source = samples.data();
        job.sourceFrames = frames;
        job.channels = channels;
        job.step = sourceRate / targetRate;
        job.table = table.data();
        job.path = path;
    }

    /** The output of resampleRange called once per range of splits (each split point ends one range). */
    Output run (std::vector<std::size_t> splits)
    {
        Output out { std::vector<float> (outputFrames, 7.0f), std::vector<float> (outputFrames, 7.0f) };
        job.left = out.left.data();
        job.right = out.right.data();
        splits.push_back (outputFrames);
        std::size_t begin = 0;
        for (const auto split : splits)
        {
            resampleRange (job, begin, split);
            begin = split;
        }
        return out;
    }

    Output reference (bool fused) const
    {
        Output out { std::vector<float> (outputFrames), std::vector<float> (outputFrames) };
        const int right = std::min (job.channels - 1, 1);
        for (std::size_t i = 0; i < outputFrames; ++i)
        {
            out.left[i] = referenceFrame (samples, job.channels, 0, job.step, table, i, fused);
            out.right[i] = referenceFrame (samples, job.channels, right, job.step, table, i, fused);
        }
        return out;
    }
};

bool sameBits (const Output& a, const Output& b)
{
    return a.left.size() == b.left.size() && a.right.size() == b.right.size()
        && std::memcmp (a.left.data(), b.left.data(), a.left.size() * sizeof (float)) == 0
        && std::memcmp (a.right.data(), b.right.data(), a.right.size() * sizeof (float)) == 0;
}

class ResampleKernelPath : public ::testing::TestWithParam<ResamplePath>
{
protected:
    void SetUp() override
    {
        if (resamplePathInUse (GetParam()) != GetParam())
            GTEST_SKIP() << "this processor lacks the " << resamplePathName (GetParam()) << " instructions";
    }
};

TEST_P (ResampleKernelPath, GivesBitForBitThePathsSummationOrder)
{
    const struct { double source, target; } rates[] = {
        { 44100.0, 48000.0 }, { 48000.0, 44100.0 }, { 22050.0, 48000.0 }, { 96000.0, 44100.0 },
        { 8000.0, 192000.0 }, { 44100.0, 44100.5 }, { 192000.0, 8000.0 },
    };
    const bool fused = GetParam() != ResamplePath::portable;
    for (const auto& rate : rates)
        for (const int channels : { 1, 2 })
            for (const std::size_t frames : { (std::size_t) 40, (std::size_t) 100, (std::size_t) (3.0 * rate.source) })
            {
                Kernel kernel (frames, channels, rate.source, rate.target, GetParam());
                const auto expected = kernel.reference (fused);
                const auto m = kernel.outputFrames;
                const std::size_t odd = (m / 3) | 1;
                EXPECT_TRUE (sameBits (kernel.run ({}), expected))
                    << rate.source << " -> " << rate.target << ", " << channels << " channels, " << frames << " frames";
                EXPECT_TRUE (sameBits (kernel.run ({ std::min (odd, m), std::min (odd + 7, m) }), expected))
                    << "split at " << odd << ": " << rate.source << " -> " << rate.target << ", " << channels
                    << " channels, " << frames << " frames";
            }
}

TEST_P (ResampleKernelPath, RaisesTheCancelledFailureWhenTheFlagIsSet)
{
    const std::atomic<bool> cancel { true };
    for (const int channels : { 1, 2 })
    {
        Kernel kernel (100000, channels, 44100.0, 48000.0, GetParam());
        std::vector<float> left (kernel.outputFrames), right (kernel.outputFrames);
        kernel.job.left = left.data();
        kernel.job.right = right.data();
        kernel.job.cancel = &cancel;
        for (const std::size_t begin : { (std::size_t) 0, (std::size_t) 1000 })   // checked at frame 0, at 65536
        {
            try
            {
                resampleRange (kernel.job, begin, kernel.outputFrames);
                ADD_FAILURE() << "not cancelled from frame " << begin;
            }
            catch (const std::runtime_error& failure)
            {
                EXPECT_STREQ (failure.what(), mediatext::cancelled);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Paths, ResampleKernelPath,
                          ::testing::Values (ResamplePath::portable, ResamplePath::avx2, ResamplePath::avx512),
                          [] (const auto& info) { return std::string (info.param == ResamplePath::portable ? "portable"
                                                                      : info.param == ResamplePath::avx2 ? "avx2" : "avx512"); });
} // namespace
} // namespace vantrel
