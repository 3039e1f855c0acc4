// The auto-cue search: the first loud frame that opens a window at least half loud.

#include "audio/media/CuePoint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

namespace orvane::audio
{
namespace
{
const CueSearchSettings standard;   // -50 dBFS, 5 ms

CuePoint searchMono (const std::vector<float>& samples, double rate, const CueSearchSettings& settings = standard)
{
    return findCuePoint (samples.data(), samples.size(), 1, rate, settings);
}

TEST (CuePoint, StandardSettingsGiveTheDocumentedThresholdAndWindow)
{
    // At 48 kHz the window is 240 frames: 120 loud frames after a loud start are just enough.
    std::vector<float> samples (48000, 0.0f);
    for (std::size_t i = 1000; i < 1120; ++i)
        samples[i] = 0.0032f;   // just above 10^-2.5 = 0.0031623
    const auto found = searchMono (samples, 48000.0);
    ASSERT_TRUE (found.found);
    EXPECT_EQ (found.frame, 1000u);
    EXPECT_DOUBLE_EQ (found.seconds, 1000.0 / 48000.0);

    samples[1119] = 0.0f;   // 119 of 240: less than half
    EXPECT_FALSE (searchMono (samples, 48000.0).found);

    std::vector<float> quiet (48000, 0.0031f);   // just below the threshold
    EXPECT_FALSE (searchMono (quiet, 48000.0).found);
}

TEST (CuePoint, DocumentedCases)
{
    {   // One second of silence, then -20 dBFS.
        std::vector<float> samples (96000, 0.0f);
        std::fill (samples.begin() + 48000, samples.end(), 0.1f);
        const auto found = searchMono (samples, 48000.0);
        ASSERT_TRUE (found.found);
        EXPECT_EQ (found.frame, 48000u);
        EXPECT_DOUBLE_EQ (found.seconds, 1.0);
    }
    {   // A single click is not a start.
        std::vector<float> samples (48000, 0.0f);
        samples[500] = 1.0f;
        EXPECT_FALSE (searchMono (samples, 48000.0).found);
    }
    {   // -60 dBFS then -20 dBFS from frame 1000.
        std::vector<float> samples (48000, 0.001f);
        std::fill (samples.begin() + 1000, samples.end(), 0.1f);
        const auto found = searchMono (samples, 48000.0);
        ASSERT_TRUE (found.found);
        EXPECT_EQ (found.frame, 1000u);
    }
    {   // Silence and audio shorter than the window are never a start.
        EXPECT_FALSE (searchMono (std::vector<float> (48000, 0.0f), 48000.0).found);
        EXPECT_FALSE (searchMono (std::vector<float> (239, 0.5f), 48000.0).found);
        EXPECT_TRUE (searchMono (std::vector<float> (240, 0.5f), 48000.0).found);
    }
}

TEST (CuePoint, LoudnessIsTheLargestChannelOfAFrame)
{
    // Left silent, right loud from frame 300: the start is frame 300 at 44.1 kHz (window 221).
    std::vector<float> stereo (2 * 10000, 0.0f);
    for (std::size_t i = 300; i < 10000; ++i)
        stereo[2 * i + 1] = -0.2f;
    const auto found = findCuePoint (stereo.data(), stereo.size(), 2, 44100.0, standard);
    ASSERT_TRUE (found.found);
    EXPECT_EQ (found.frame, 300u);

    std::vector<float> left (10000, 0.0f);
    std::vector<float> right (10000, 0.0f);
    std::fill (right.begin() + 300, right.end(), -0.2f);
    const auto planar = findCuePoint (left.data(), right.data(), 10000, 44100.0, standard, {});
    ASSERT_TRUE (planar.found);
    EXPECT_EQ (planar.frame, 300u);
}

TEST (CuePoint, ExactlyHalfLoudWindowQualifies)
{
    // A 1 ms window at 4 kHz is 4 frames; alternate loud and silent frames from frame 10.
    CueSearchSettings settings;
    settings.window = 1.0;
    std::vector<float> samples (100, 0.0f);
    for (std::size_t i = 10; i < 100; i += 2)
        samples[i] = 0.5f;
    const auto found = searchMono (samples, 4000.0, settings);
    ASSERT_TRUE (found.found);
    EXPECT_EQ (found.frame, 10u);
}

TEST (CuePoint, UnusableArgumentsFindNothing)
{
    const std::vector<float> loud (4800, 0.5f);
    CueSearchSettings nanThreshold;
    nanThreshold.threshold = std::nan ("");
    CueSearchSettings negativeWindow;
    negativeWindow.window = -1.0;
    CueSearchSettings infiniteWindow;
    infiniteWindow.window = INFINITY;
    CueSearchSettings hugeThreshold;
    hugeThreshold.threshold = 1.0e6;   // 10^50000 is not finite

    EXPECT_FALSE (findCuePoint (loud.data(), loud.size(), 0, 48000.0, standard).found);
    EXPECT_FALSE (findCuePoint (loud.data(), loud.size() - 1, 2, 48000.0, standard).found);
    EXPECT_FALSE (findCuePoint (loud.data(), 0, 1, 48000.0, standard).found);
    EXPECT_FALSE (findCuePoint (loud.data(), loud.size(), 1, std::nan (""), standard).found);
    EXPECT_FALSE (findCuePoint (loud.data(), loud.size(), 1, 0.0, standard).found);
    EXPECT_FALSE (findCuePoint (loud.data(), loud.size(), 1, 48000.0, nanThreshold).found);
    EXPECT_FALSE (findCuePoint (loud.data(), loud.size(), 1, 48000.0, negativeWindow).found);
    EXPECT_FALSE (findCuePoint (loud.data(), loud.size(), 1, 48000.0, infiniteWindow).found);
    EXPECT_FALSE (findCuePoint (loud.data(), loud.size(), 1, 48000.0, hugeThreshold).found);
    EXPECT_TRUE (findCuePoint (loud.data(), loud.size(), 1, 48000.0, standard).found);
}

TEST (CuePoint, PlanarAndInterleavedSearchesAgree)
{
    std::mt19937 generator (42);
    std::uniform_real_distribution<float> level (-0.006f, 0.006f);
    for (int round = 0; round < 50; ++round)
    {
        const std::size_t frames = 2000 + (std::size_t) round * 37;
        std::vector<float> left (frames), right (frames), interleaved (2 * frames);
        for (std::size_t i = 0; i < frames; ++i)
        {
            left[i] = level (generator);
            right[i] = level (generator) * 0.5f;
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
        const auto a = findCuePoint (interleaved.data(), interleaved.size(), 2, 44100.0, standard);
        const auto b = findCuePoint (left.data(), right.data(), frames, 44100.0, standard, {});
        ASSERT_EQ (a.found, b.found) << round;
        ASSERT_EQ (a.frame, b.frame) << round;
    }
}

TEST (CuePoint, PlanarCheckpointRunsEvery65536FramesAndMayAbandon)
{
    std::vector<float> silence (200000, 0.0f);
    int calls = 0;
    EXPECT_FALSE (findCuePoint (silence.data(), silence.data(), silence.size(), 48000.0, standard, [&calls] { ++calls; }).found);
    EXPECT_EQ (calls, 4);   // frames 0, 65536, 131072 and 196608

    EXPECT_THROW (findCuePoint (silence.data(), silence.data(), silence.size(), 48000.0, standard,
                                [] { throw std::runtime_error ("stop"); }),
                  std::runtime_error);
}
TEST (CuePoint, PiecewiseSearchesOverAdjoiningRangesAgreeWithTheWholeSearch)
{
    // Stereo at 8 kHz: a 40-frame window. Random loud frames from 1700 on (the first window at
    // least half loud opens at 1732), loud from the first frame, silent throughout.
    std::mt19937 random (7);
    std::vector<std::vector<float>> signals;
    for (int kind = 0; kind < 3; ++kind)
    {
        std::vector<float> s (2 * 3000, 0.0f);
        for (std::size_t f = 0; f < 3000; ++f)
        {
            const bool loud = kind == 0 ? (random() % 2 == 0 && f > 1700) : kind == 1;
            s[2 * f + (f % 2)] = loud ? 0.5f : 0.001f;
        }
        signals.push_back (s);
    }
    for (const auto& s : signals)
    {
        const auto whole = findCuePoint (s.data(), s.size(), 2, 8000.0, standard);
        for (const std::uint64_t split : { 0u, 1u, 1750u, 1775u, 2961u, 3000u })
            for (const std::uint64_t piece : { 1u, 7u, 1000u })
            {
                CueSearch first (2, 8000.0, 3000, standard, 0, split == 0 ? 0 : split - 1);
                CueSearch rest (2, 8000.0, 3000, standard, split, 3000);
                for (auto* search : { &first, &rest })
                    for (std::uint64_t at = search->firstNeeded(); at < search->framesNeeded(); at += piece)
                        search->feed (s.data() + 2 * at, at, std::min<std::uint64_t> (piece, 3000 - at));
                const auto& found = split > 0 && first.result().found ? first.result() : rest.result();
                EXPECT_EQ (found.found, whole.found) << split << " " << piece;
                EXPECT_EQ (found.frame, whole.frame) << split << " " << piece;
            }
    }
}

} // namespace
} // namespace orvane::audio
