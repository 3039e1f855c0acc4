// The windowed-sinc resampler: lengths and rounding, the same-rate copy, mono to both sides,
// DC and sine accuracy, the vector path against a plain reading of the formula, two workers
// against one, limits and cancellation.

#include "MediaTestSupport.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/ResampleKernel.h"
#include "audio/media/Resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace vantrel
{
namespace
{
using orvane::audio::testing::pi;

std::vector<float> noise (std::size_t count, unsigned seed)
{
    std::mt19937 generator (seed);
    std::uniform_real_distribution<float> value (-0.9f, 0.9f);
    std::vector<float> samples (count);
    for (auto& s : samples)
        s = value (generator);
    return samples;
}

std::vector<float> interleavedSine (double frequency, double rate, std::size_t frames, int channels)
{
    std::vector<float> samples (frames * (std::size_t) channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * (std::size_t) channels + (std::size_t) c]
                = (float) (0.5 * std::sin (2.0 * pi * frequency * (c + 1) * (double) i / rate));
    return samples;
}

std::string failureOf (const std::function<void()>& action)
{
    try
    {
        action();
    }
    catch (const std::exception& failure)
    {
        return failure.what();
    }
    return {};
}

/** Output frame i read straight from the formula: every tap, bounds-checked, in tap order. */
double referenceFrame (const std::vector<float>& source, int channels, int channel, double step,
                       const std::vector<double>& table, std::size_t i)
{
    const std::size_t n = source.size() / (std::size_t) channels;
    const double t = (double) i * step;
    const auto d = (std::int64_t) t;
    const int p = std::min (1023, std::max (0, (int) ((t - (double) d) * 1024.0)));
    double sum = 0.0;
    for (int k = 0; k < 64; ++k)
    {
        const std::int64_t frame = d - 31 + k;
        if (frame >= 0 && frame < (std::int64_t) n)
            sum += table[(std::size_t) p * 64 + (std::size_t) k] * source[(std::size_t) frame * (std::size_t) channels + (std::size_t) channel];
    }
    return sum;
}

TEST (Resampler, LengthIsTheRoundedRatioWithHalvesAwayFromZero)
{
    const struct { std::size_t frames; double source, target; std::size_t expected; } cases[] = {
        { 44100, 44100.0, 48000.0, 48000 },
        { 48000, 48000.0, 44100.0, 44100 },
        { 1, 16000.0, 8000.0, 1 },      // 0.5 rounds up
        { 3, 16000.0, 8000.0, 2 },      // 1.5 rounds up
        { 5, 16000.0, 8000.0, 3 },      // 2.5 rounds up
        { 1000, 96000.0, 8000.0, 83 },  // 83.33
    };
    for (const auto& c : cases)
    {
        const auto pcm = resamplePcm (std::vector<float> (c.frames, 0.25f), 1, c.source, c.target, nullptr, 1);
        EXPECT_EQ (pcm->left.size(), c.expected) << c.frames << " frames " << c.source << " -> " << c.target;
        EXPECT_EQ (pcm->right.size(), c.expected);
        EXPECT_EQ (pcm->sampleRate, c.target);
        EXPECT_EQ (pcm->cueFrame, 0);
    }
}

TEST (Resampler, NearlyEqualRatesCopyTheSourceUnchanged)
{
    const auto source = noise (2 * 44100, 7);
    const auto pcm = resamplePcm (source, 2, 44100.0, 44100.0005, nullptr, 1);
    ASSERT_EQ (pcm->left.size(), 44100u);
    EXPECT_EQ (pcm->sampleRate, 44100.0005);
    for (std::size_t i = 0; i < 44100; ++i)
    {
        ASSERT_EQ (pcm->left[i], source[2 * i]);
        ASSERT_EQ (pcm->right[i], source[2 * i + 1]);
    }
}

TEST (Resampler, MonoSourceGivesTheSameSignalOnBothSides)
{
    for (const double target : { 48000.0, 44100.0, 22050.0 })
    {
        const auto pcm = resamplePcm (noise (30000, 3), 1, 44100.0, target, nullptr, 1);
        EXPECT_EQ (pcm->left, pcm->right) << target;
    }
}

TEST (Resampler, ConstantStaysConstantWhereAllTapsLieInsideTheSource)
{
    const std::size_t n = 4410;
    for (const double target : { 48000.0, 32000.0, 96000.0 })
    {
        const auto pcm = resamplePcm (std::vector<float> (2 * n, 0.5f), 2, 44100.0, target, nullptr, 1);
        const double step = 44100.0 / target;
        for (std::size_t i = 0; i < pcm->left.size(); ++i)
        {
            const auto d = (std::int64_t) ((double) i * step);
            if (d >= 31 && d <= (std::int64_t) n - 33)
            {
                ASSERT_NEAR (pcm->left[i], 0.5f, 1.0e-6f) << "frame " << i << " at " << target;
                ASSERT_NEAR (pcm->right[i], 0.5f, 1.0e-6f);
            }
        }
        // At the very start the 31 taps before the source are missing and count as 0: frame 0
        // (phase 0) is 0.5 times the sum of the remaining coefficients, visibly off 0.5.
        const auto table = buildResampleTable (std::min (target / 44100.0, 1.0) * 0.94);
        double inside = 0.0;
        for (std::size_t k = 31; k < 64; ++k)
            inside += table[k];
        EXPECT_NEAR (pcm->left.front(), 0.5 * inside, 1.0e-6);
        EXPECT_GT (std::abs (pcm->left.front() - 0.5f), 1.0e-3f);
        EXPECT_GT (std::abs (pcm->left.back() - 0.5f), 1.0e-3f);
    }
}

TEST (Resampler, SineComesOutCleanAtTheNewRate)
{
    for (const auto& rates : { std::pair<double, double> { 44100.0, 48000.0 }, { 48000.0, 44100.0 }, { 96000.0, 48000.0 } })
    {
        const std::size_t n = (std::size_t) rates.first;
        const auto pcm = resamplePcm (interleavedSine (1000.0, rates.first, n, 2), 2, rates.first, rates.second, nullptr, 1);
        double error = 0.0;
        double signal = 0.0;
        for (std::size_t i = 100; i + 100 < pcm->left.size(); ++i)
        {
            const double expectedLeft = 0.5 * std::sin (2.0 * pi * 1000.0 * (double) i / rates.second);
            const double expectedRight = 0.5 * std::sin (2.0 * pi * 2000.0 * (double) i / rates.second);
            error += std::pow (pcm->left[i] - expectedLeft, 2) + std::pow (pcm->right[i] - expectedRight, 2);
            signal += expectedLeft * expectedLeft + expectedRight * expectedRight;
        }
        EXPECT_LT (10.0 * std::log10 (error / signal), -70.0) << rates.first << " -> " << rates.second;
    }
}

TEST (Resampler, VectorPathMatchesThePlainFormula)
{
    for (const int channels : { 1, 2 })
        for (const auto& rates : { std::pair<double, double> { 44100.0, 48000.0 }, { 48000.0, 44100.0 }, { 8000.0, 44100.0 } })
        {
            const auto source = noise (20000 * (std::size_t) channels, 11);
            const auto pcm = resamplePcm (source, channels, rates.first, rates.second, nullptr, 1);
            const auto table = buildResampleTable (std::min (rates.second / rates.first, 1.0) * 0.94);
            const double step = rates.first / rates.second;
            for (std::size_t i = 0; i < pcm->left.size(); ++i)
            {
                ASSERT_NEAR (pcm->left[i], referenceFrame (source, channels, 0, step, table, i), 2.0e-6)
                    << "frame " << i << ", " << channels << " channels, " << rates.first << " -> " << rates.second;
                ASSERT_NEAR (pcm->right[i], referenceFrame (source, channels, channels - 1, step, table, i), 2.0e-6);
            }
        }
}

TEST (Resampler, TableRowsSumToOneAndTheWindowClosesAtTheOuterTaps)
{
    const auto table = buildResampleTable (0.94);
    ASSERT_EQ (table.size(), 1024u * 64u);
    for (std::size_t p = 0; p < 1024; ++p)
    {
        double sum = 0.0;
        for (std::size_t k = 0; k < 64; ++k)
            sum += table[p * 64 + k];
        ASSERT_NEAR (sum, 1.0, 1.0e-12);
    }
    EXPECT_NEAR (table[63], 0.0, 1.0e-15);          // phase 0, u = 32
    EXPECT_NEAR (table[31], 1.0, 0.1);              // phase 0, u = 0: the centre tap dominates
}

TEST (Resampler, TwoWorkersGiveExactlyTheSameOutputAsOne)
{
    for (const int channels : { 1, 2 })
        for (const std::size_t frames : { (std::size_t) 300001, (std::size_t) 44100 * 6 })
        {
            const auto source = noise (frames * (std::size_t) channels, 5);
            const auto one = resamplePcm (source, channels, 44100.0, 48000.0, nullptr, 1);
            const auto two = resamplePcm (source, channels, 44100.0, 48000.0, nullptr, 2);
            EXPECT_TRUE (*one == *two) << channels << " channels, " << frames << " frames";
        }
}

TEST (Resampler, OutputOutsideOneToTheFrameLimitIsTheMemoryLimit)
{
    EXPECT_EQ (failureOf ([] { resamplePcm ({}, 1, 44100.0, 48000.0, nullptr, 1); }), mediatext::memoryLimit);
    EXPECT_EQ (failureOf ([] { resamplePcm ({ 0.1f }, 1, 384000.0, 8000.0, nullptr, 1); }), mediatext::memoryLimit);
    // 1,398,102 frames at 8 kHz are 67,108,896 frames at 384 kHz: just over the limit.
    EXPECT_EQ (failureOf ([] { resamplePcm (std::vector<float> (1398102), 1, 8000.0, 384000.0, nullptr, 1); }),
               mediatext::memoryLimit);
    EXPECT_EQ (failureOf ([] { resamplePcm (std::vector<float> (1398101), 1, 8000.0, 384000.0, nullptr, 1); }), "");
}

TEST (Resampler, SetCancelFlagStopsWithTheCancelledText)
{
    std::atomic<bool> cancel { true };
    for (const int workers : { 1, 2 })
        EXPECT_EQ (failureOf ([&] { resamplePcm (noise (200000, 1), 2, 44100.0, 48000.0, &cancel, workers); }),
                   mediatext::cancelled);
    // The same-rate copy has no cancellation point of its own.
    EXPECT_EQ (failureOf ([&] { resamplePcm (noise (2000, 1), 2, 48000.0, 48000.0, &cancel, 1); }), "");
}
} // namespace
} // namespace vantrel
