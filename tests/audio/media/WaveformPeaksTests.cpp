#include "audio/media/WaveformPeaks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

using namespace orvane::audio;

namespace
{
constexpr float inf = std::numeric_limits<float>::infinity();
const float nanSample = std::nanf ("");

/** The reduction written sample by sample, the obvious way, to hold the fast one against. */
WaveformPeakData referencePeaks (const std::vector<float>& samples, int channels, double rate, std::uint64_t perPeak)
{
    WaveformPeakData peaks;
    const std::uint64_t frames = samples.size() / (std::size_t) channels;
    peaks.channels = channels;
    peaks.sampleRate = rate;
    peaks.totalFrames = frames;
    peaks.framesPerPeak = perPeak;
    peaks.peakCount = (frames - 1) / perPeak + 1;
    peaks.minima.assign (peaks.peakCount * (std::uint64_t) channels, inf);
    peaks.maxima.assign (peaks.minima.size(), -inf);
    for (std::uint64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
        {
            const float raw = samples[i * (std::uint64_t) channels + (std::uint64_t) c];
            if (std::isnan (raw))
                continue;
            const float s = std::clamp (raw, -1.0f, 1.0f);
            const auto index = (i / perPeak) * (std::uint64_t) channels + (std::uint64_t) c;
            peaks.minima[index] = std::min (peaks.minima[index], s);
            peaks.maxima[index] = std::max (peaks.maxima[index], s);
        }
    return peaks;
}

WaveformPeakData compute (const std::vector<float>& samples, int channels, double rate = 48000.0,
                          std::uint64_t perPeak = defaultFramesPerPeak)
{
    return computeWaveformPeaks (samples.data(), samples.size(), channels, rate, perPeak);
}

/** A small valid record: 2 channels, 5 frames, 2 frames per peak, so 3 peaks. */
WaveformPeakData smallRecord()
{
    return compute ({ 0.1f, -0.2f, 0.5f, 0.3f, -0.7f, 0.9f, 0.0f, 0.0f, 0.25f, -1.0f }, 2, 44100.0, 2);
}
} // namespace

TEST (WaveformPeaks, OneFrameOfOneChannelIsOnePeakOfTheClampedSample)
{
    for (float sample : { 0.25f, 1.5f, -7.0f, inf, -inf })
    {
        const auto peaks = compute ({ sample }, 1);
        const float expected = std::clamp (sample, -1.0f, 1.0f);
        ASSERT_EQ (peaks.peakCount, 1u);
        EXPECT_EQ (peaks.minima, std::vector<float> { expected }) << sample;
        EXPECT_EQ (peaks.maxima, std::vector<float> { expected }) << sample;
        EXPECT_TRUE (peaks.isValid()) << sample;
    }
}

TEST (WaveformPeaks, TheLastPeakCoversTheRemainingFrames)
{
    std::vector<float> samples (257, 0.0f);
    samples[255] = 0.5f;   // last frame of the first peak
    samples[256] = -0.75f; // the only frame of the second
    const auto peaks = compute (samples, 1);

    EXPECT_EQ (peaks.totalFrames, 257u);
    EXPECT_EQ (peaks.framesPerPeak, 256u);
    ASSERT_EQ (peaks.peakCount, 2u);
    EXPECT_EQ (peaks.minima, (std::vector<float> { 0.0f, -0.75f }));
    EXPECT_EQ (peaks.maxima, (std::vector<float> { 0.5f, -0.75f }));
    EXPECT_EQ (compute (std::vector<float> (256, 0.0f), 1).peakCount, 1u);
}

TEST (WaveformPeaks, NanSamplesAreIgnoredAndAnAllNanPeakMakesTheRecordInvalid)
{
    const auto mixed = compute ({ nanSample, 0.5f, -0.25f, nanSample }, 1);
    EXPECT_EQ (mixed.minima, std::vector<float> { -0.25f });
    EXPECT_EQ (mixed.maxima, std::vector<float> { 0.5f });
    EXPECT_TRUE (mixed.isValid());

    // Channel 1 of the second peak sees only NaN; channel 0 is fine.
    const auto silentChannel = compute ({ 0.1f, 0.2f, 0.3f, nanSample, 0.4f, nanSample }, 2, 48000.0, 2);
    ASSERT_EQ (silentChannel.peakCount, 2u);
    EXPECT_EQ (silentChannel.minima[3], inf);
    EXPECT_EQ (silentChannel.maxima[3], -inf);
    EXPECT_EQ (silentChannel.minima[2], 0.4f);
    EXPECT_FALSE (silentChannel.isValid());
    EXPECT_TRUE (encodePeakCache (silentChannel).empty()) << "an invalid record is never cached";
}

TEST (WaveformPeaks, RefusesArgumentsItCannotReduce)
{
    const std::vector<float> six (6, 0.5f);
    const WaveformPeakData empty;
    EXPECT_EQ (compute (six, 0), empty);
    EXPECT_EQ (compute (six, -2), empty);
    EXPECT_EQ (compute (six, 4), empty) << "6 samples are not whole frames of 4 channels";
    EXPECT_EQ (compute ({}, 1), empty);
    EXPECT_EQ (compute (six, 2, 48000.0, 0), empty);
    for (double rate : { 0.0, -48000.0, std::nan (""), std::numeric_limits<double>::infinity() })
        EXPECT_EQ (compute (six, 2, rate), empty) << rate;
    EXPECT_EQ (computeWaveformPeaks (nullptr, 6, 2, 48000.0, 256), empty);
    EXPECT_FALSE (empty.isValid());
    EXPECT_EQ (empty.durationSeconds(), 0.0);
}

TEST (WaveformPeaks, MatchesTheSampleBySampleReductionOnHostileAudio)
{
    std::mt19937 random (20240611);
    std::uniform_real_distribution<float> level (-1.6f, 1.6f);
    std::uniform_int_distribution<int> oneIn (0, 40);
    for (int channels : { 1, 2, 3, 4, 5, 6, 8, 16, 17 })
        for (std::uint64_t perPeak : { 1u, 3u, 7u, 16u, 256u, 1000u })
        {
            const std::size_t frames = 1 + random() % 3000;
            std::vector<float> samples (frames * (std::size_t) channels);
            for (auto& s : samples)
            {
                const int pick = oneIn (random);
                s = pick == 0 ? nanSample : pick == 1 ? inf : pick == 2 ? -inf : level (random);
            }
            // Whole stretches of NaN as well, so some peaks see nothing but NaN.
            std::fill (samples.begin(), samples.begin() + (std::ptrdiff_t) std::min<std::size_t> (samples.size(), 40), nanSample);

            const auto fast = compute (samples, channels, 44100.0, perPeak);
            const auto slow = referencePeaks (samples, channels, 44100.0, perPeak);
            ASSERT_EQ (fast, slow) << channels << " channels, " << perPeak << " frames per peak";
        }
}

TEST (WaveformPeaks, DurationIsFramesOverRate)
{
    auto peaks = compute (std::vector<float> (96000, 0.0f), 2);
    EXPECT_DOUBLE_EQ (peaks.durationSeconds(), 1.0);
    peaks.sampleRate = 0.0;
    EXPECT_EQ (peaks.durationSeconds(), 0.0);
    peaks.sampleRate = std::numeric_limits<double>::infinity();
    EXPECT_EQ (peaks.durationSeconds(), 0.0);
    peaks.sampleRate = 48000.0;
    peaks.totalFrames = 0;
    EXPECT_EQ (peaks.durationSeconds(), 0.0);
}

TEST (WaveformPeaks, ValidityRejectsEveryBrokenField)
{
    ASSERT_TRUE (smallRecord().isValid());

    const std::vector<std::pair<const char*, std::function<void (WaveformPeakData&)>>> breaks {
        { "no channels", [] (WaveformPeakData& p) { p.channels = 0; } },
        { "negative channels", [] (WaveformPeakData& p) { p.channels = -2; } },
        { "zero rate", [] (WaveformPeakData& p) { p.sampleRate = 0.0; } },
        { "NaN rate", [] (WaveformPeakData& p) { p.sampleRate = std::nan (""); } },
        { "infinite rate", [] (WaveformPeakData& p) { p.sampleRate = std::numeric_limits<double>::infinity(); } },
        { "no frames", [] (WaveformPeakData& p) { p.totalFrames = 0; } },
        { "no frames per peak", [] (WaveformPeakData& p) { p.framesPerPeak = 0; } },
        { "no peaks", [] (WaveformPeakData& p) { p.peakCount = 0; } },
        { "peak count off by one", [] (WaveformPeakData& p) { p.totalFrames = 7; } },
        { "overflowing size", [] (WaveformPeakData& p) { p.peakCount = (1ull << 63) + 1; } },
        { "short minima", [] (WaveformPeakData& p) { p.minima.pop_back(); } },
        { "long maxima", [] (WaveformPeakData& p) { p.maxima.push_back (0.0f); } },
        { "NaN minimum", [] (WaveformPeakData& p) { p.minima[4] = std::nanf (""); } },
        { "infinite maximum", [] (WaveformPeakData& p) { p.maxima[1] = inf; } },
        { "minimum below range", [] (WaveformPeakData& p) { p.minima[0] = -1.0002f; } },
        { "maximum above range", [] (WaveformPeakData& p) { p.maxima[0] = 1.0002f; } },
        { "minimum above maximum", [] (WaveformPeakData& p) { p.minima[2] = 0.95f; } },
    };

    for (const auto& [name, apply] : breaks)
    {
        auto peaks = smallRecord();
        apply (peaks);
        EXPECT_FALSE (peaks.isValid()) << name;
        EXPECT_TRUE (encodePeakCache (peaks).empty()) << name;
    }

    auto edge = smallRecord();
    edge.minima[0] = -1.0001f;
    edge.maxima[5] = 1.0001f;
    EXPECT_TRUE (edge.isValid()) << "the tolerance bounds themselves are valid";
}
