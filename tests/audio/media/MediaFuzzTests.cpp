// Mutated small files of every format through the whole load: every outcome is either playable
// PCM or one of the operator texts, never a crash (run under the address and undefined-behaviour
// sanitizers as well). VANTREL_MEDIA_FUZZ_ITERATIONS sets the number of mutations,
// VANTREL_MEDIA_FUZZ_SEED the random sequence.

#include "MediaTestSupport.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaTexts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;
using namespace vantrel::testing;

int positiveSetting (const char* name, int fallback)
{
    const char* text = std::getenv (name);
    const int value = text != nullptr ? std::atoi (text) : 0;
    return value > 0 ? value : fallback;
}

TEST (MediaFuzz, MutatedFilesNeverCrashAndAlwaysGiveAnOutcome)
{
    TempFolder folder;
    struct Seed
    {
        juce::String extension;
        int rate;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Seed> seeds;
    const auto makeSeed = [&] (const char* name, int rate, int channels, PcmEncoding encoding)
    {
        const auto out = folder / name;
        if (out.hasFileExtension ("mp3;m4a;aac"))
        {
            const auto source = folder / "source.wav";
            ASSERT_TRUE (soxSynth (source, rate, channels, PcmEncoding::int16, toneEffects (channels, 0.15, 0.02)));
            ASSERT_TRUE (runTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName(), "-c:a",
                                    out.hasFileExtension ("mp3") ? "libmp3lame" : "aac", "-b:a", "96k", out.getFullPathName() }));
        }
        else
        {
            ASSERT_TRUE (soxSynth (out, rate, channels, encoding, toneEffects (channels, 0.15, 0.02)));
        }
        seeds.push_back ({ out.getFileExtension(), rate, readFileBytes (out) });
    };
    makeSeed ("seed.wav", 48000, 2, PcmEncoding::int16);
    makeSeed ("seed-float.wav", 44100, 1, PcmEncoding::float32);
    makeSeed ("seed.aiff", 44100, 2, PcmEncoding::int24);
    makeSeed ("seed.flac", 48000, 2, PcmEncoding::int16);
    makeSeed ("seed.mp3", 44100, 2, PcmEncoding::int16);
    makeSeed ("seed.m4a", 48000, 2, PcmEncoding::int16);
    makeSeed ("seed.aac", 44100, 1, PcmEncoding::int16);
    ASSERT_EQ (seeds.size(), 7u);

    std::mt19937 random ((unsigned) positiveSetting ("VANTREL_MEDIA_FUZZ_SEED", 20240611));
    const int iterations = positiveSetting ("VANTREL_MEDIA_FUZZ_ITERATIONS", 4000);
    int playable = 0;
    std::set<juce::String> seen;
    for (int i = 0; i < iterations; ++i)
    {
        const auto& seed = seeds[(std::size_t) i % seeds.size()];
        auto bytes = mutateBytes (seed.bytes, random);
        if (random() % 4 == 0)
            bytes = mutateBytes (std::move (bytes), random);
        const auto file = folder.path().getChildFile ("mutant" + seed.extension);
        ASSERT_TRUE (writeFileBytes (file, bytes));

        // Half at the file's own rate (read straight into the PCM), half resampled.
        const double deviceRate = i % 2 == 0 ? seed.rate : 32000.0;
        const auto media = loadMedia (requestFor (file, deviceRate), nullptr);
        ASSERT_NE (media, nullptr);
        if (media->error.isEmpty())
        {
            ASSERT_NE (media->pcm, nullptr) << "mutation " << i;
            ASSERT_FALSE (media->pcm->left.empty());
            ASSERT_EQ (media->pcm->left.size(), media->pcm->right.size());
            ASSERT_LT (media->pcm->cueFrame, (std::int64_t) media->pcm->left.size());
            for (const float sample : media->pcm->left)
                ASSERT_TRUE (std::isfinite (sample)) << "mutation " << i;
            ++playable;
        }
        else
        {
            ASSERT_EQ (media->pcm, nullptr);
            ASSERT_EQ (loadFailureTexts().count (media->error), 1u) << "mutation " << i << ": " << media->error;
            seen.insert (media->error);
        }
    }
    // The run must have exercised both outcomes and many kinds of failure.
    EXPECT_GT (playable, iterations / 20);
    EXPECT_GE (seen.size(), 5u);
    std::cout << "[ fuzz     ] " << iterations << " mutations, " << playable << " playable, " << seen.size()
              << " different failure texts\n";
}
} // namespace
} // namespace vantrel
