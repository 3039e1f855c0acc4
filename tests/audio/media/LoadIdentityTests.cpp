// Whole loads of every format at every pair of file and device rates, with one and two workers
// and on the portable inner loop, equal bit for bit to the plain formulation of the same load
// (ReferenceLoad.h): the fast paths change how fast a load is, never what it gives.

#include "MediaTestSupport.h"
#include "ReferenceLoad.h"
#include "audio/media/MediaLoad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace vantrel
{
namespace
{
using testing::PcmEncoding;

struct Format
{
    const char* extension;
    PcmEncoding encoding;    // of the file itself, or of the WAV an encoder reads
    bool encoded;            // made from a WAV by ffmpeg
    std::vector<int> rates;
    std::vector<int> channels;
};

bool sameFloats (const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp (a.data(), b.data(), a.size() * sizeof (float)) == 0);
}

/** A short file of pink noise after 0.15 s of silence (so that it has a cue point). */
juce::File makeFile (const testing::TempFolder& folder, const Format& format, int rate, int channels,
                     const juce::StringArray& effects = { "synth", "1.2", "pinknoise", "vol", "0.4", "pad", "0.15" })
{
    const auto base = juce::String (format.extension) + "-" + juce::String ((int) format.encoding) + "-"
                    + juce::String (rate) + "-" + juce::String (channels);
    const auto wav = folder / (base + (format.encoded ? "-source.wav" : "." + juce::String (format.extension)));
    EXPECT_TRUE (testing::soxSynth (wav, rate, channels, format.encoding, effects));
    if (! format.encoded)
        return wav;
    const auto encoded = folder / (base + "." + format.extension);
    EXPECT_TRUE (testing::ffmpegEncode (wav, encoded));
    return encoded;
}

TEST (LoadIdentity, EveryFormatAndRatePairEqualsThePlainLoadOnEveryPath)
{
    testing::TempFolder folder ("load-identity");
    const std::vector<int> allRates { 22050, 32000, 44100, 48000, 96000 };
    const Format formats[] = {
        { "wav", PcmEncoding::int16, false, allRates, { 1, 2 } },
        { "wav", PcmEncoding::int24, false, allRates, { 2 } },
        { "wav", PcmEncoding::float32, false, { 44100, 48000 }, { 1, 2 } },
        { "aiff", PcmEncoding::int16, false, allRates, { 1, 2 } },
        { "flac", PcmEncoding::int16, false, allRates, { 1, 2 } },
        { "flac", PcmEncoding::int24, false, { 44100, 96000 }, { 2 } },
        { "mp3", PcmEncoding::int16, true, { 22050, 32000, 44100, 48000 }, { 1, 2 } },
        { "m4a", PcmEncoding::int16, true, allRates, { 1, 2 } },
    };
    const bool fused = resamplePathInUse (ResamplePath::widest) != ResamplePath::portable;

    for (const auto& format : formats)
        for (const int rate : format.rates)
            for (const int channels : format.channels)
            {
                const auto file = makeFile (folder, format, rate, channels);
                for (const double deviceRate : { 44100.0, 48000.0, 96000.0 })
                {
                    struct Run
                    {
                        const char* name;
                        int workers;
                        ResamplePath path;
                    };
                    const Run runs[] = { { "one worker", 1, ResamplePath::widest }, { "two workers", 2, ResamplePath::widest },
                                         { "portable", 1, ResamplePath::portable } };
                    const auto widest = testing::referenceLoad (file, deviceRate, fused);
                    const auto portable = fused ? testing::referenceLoad (file, deviceRate, false) : widest;
                    ASSERT_TRUE (widest.error.isEmpty()) << file.getFileName() << ": " << widest.error;

                    for (const auto& run : runs)
                    {
                        const auto& expected = run.path == ResamplePath::portable ? portable : widest;
                        MediaLoadOptions options;
                        options.workers = run.workers;
                        options.resamplePath = run.path;
                        const auto media = loadMedia (testing::requestFor (file, deviceRate), nullptr, options);
                        const auto where = file.getFileName() + " at " + juce::String (deviceRate) + ", " + run.name;
                        ASSERT_TRUE (media->error.isEmpty()) << where << ": " << media->error;
                        EXPECT_TRUE (sameFloats (media->pcm->left, expected.left)) << where;
                        EXPECT_TRUE (sameFloats (media->pcm->right, expected.right)) << where;
                        EXPECT_EQ (media->pcm->cueFrame, expected.cueFrame) << where;
                        EXPECT_GT (media->pcm->cueFrame, 0) << where;
                        EXPECT_TRUE (*media->peaks == expected.peaks) << where;
                    }
                }
            }
}
} // namespace
} // namespace vantrel

namespace vantrel
{
namespace
{
TEST (LoadIdentity, ACancelledLoadStopsWithItsTextWithOneWorkerAndWithTwo)
{
    testing::TempFolder folder ("load-cancel");
    std::atomic<bool> cancel { true };
    for (const char* extension : { "wav", "aiff", "flac", "mp3", "m4a" })
    {
        const Format format { extension, PcmEncoding::int16, juce::String (extension).startsWith ("m"), {}, {} };
        const auto file = makeFile (folder, format, 44100, 2);
        for (const double deviceRate : { 44100.0, 48000.0 })
            for (const int workers : { 1, 2 })
            {
                MediaLoadOptions options;
                options.workers = workers;
                const auto media = loadMedia (testing::requestFor (file, deviceRate), &cancel, options);
                EXPECT_EQ (media->error, juce::String::fromUTF8 (mediatext::cancelled))
                    << extension << " at " << deviceRate << " with " << workers << " workers";
                EXPECT_EQ (media->pcm, nullptr);
            }
    }
}
} // namespace
} // namespace vantrel

namespace vantrel
{
namespace
{
TEST (LoadIdentity, AStreamLongerThanItAnnouncesGivesThePlainLoadWhileItsPcmGrows)
{
    // An M4A file whose track header announces a quarter of its length: the PCM, reserved for
    // that length, grows (and moves) while the blocks are being resampled.
    testing::TempFolder folder ("load-growing");
    const auto wav = folder / "source.wav";
    const auto aac = folder / "growing.m4a";
    ASSERT_TRUE (testing::soxSynth (wav, 44100, 2, PcmEncoding::int16,
                                    { "synth", "8", "pinknoise", "vol", "0.5", "pad", "0.15" }));
    ASSERT_TRUE (testing::ffmpegEncode (wav, aac));
    auto bytes = orvane::audio::testing::readFileBytes (aac);
    const char header[] = "mdhd";
    const auto at = std::search (bytes.begin(), bytes.end(), header, header + 4);
    ASSERT_TRUE (at != bytes.end() && at[4] == 0);   // a version-0 header: 32-bit duration after 16 bytes
    auto duration = at + 20;
    const std::uint32_t announced = ((std::uint32_t) duration[0] << 24 | (std::uint32_t) duration[1] << 16
                                     | (std::uint32_t) duration[2] << 8 | (std::uint32_t) duration[3]) / 4;
    for (int i = 0; i < 4; ++i)
        duration[i] = (std::uint8_t) (announced >> (24 - 8 * i));
    ASSERT_TRUE (orvane::audio::testing::writeFileBytes (aac, bytes));

    const bool fused = resamplePathInUse (ResamplePath::widest) != ResamplePath::portable;
    const auto expected = testing::referenceLoad (aac, 48000.0, fused);
    ASSERT_TRUE (expected.error.isEmpty()) << expected.error;
    ASSERT_GT (expected.left.size(), (std::size_t) 48000 * 8);

    for (const int workers : { 1, 2 })
    {
        MediaLoadOptions options;
        options.workers = workers;
        const auto media = loadMedia (testing::requestFor (aac, 48000.0), nullptr, options);
        ASSERT_TRUE (media->error.isEmpty()) << media->error;
        EXPECT_TRUE (sameFloats (media->pcm->left, expected.left)) << workers << " workers";
        EXPECT_TRUE (sameFloats (media->pcm->right, expected.right)) << workers << " workers";
        EXPECT_EQ (media->pcm->cueFrame, expected.cueFrame);
        EXPECT_TRUE (*media->peaks == expected.peaks);
    }
}
} // namespace
} // namespace vantrel

namespace vantrel
{
namespace
{
TEST (LoadIdentity, TwoHalvesOnTwoThreadsGiveThePlainLoadWhereverTheCueIs)
{
    // Long enough to be read in two halves; the cue point in the first half, right at the
    // split between the halves, and in the second half.
    testing::TempFolder folder ("load-halves");
    const bool fused = resamplePathInUse (ResamplePath::widest) != ResamplePath::portable;
    for (const char* extension : { "wav", "aiff", "flac" })
        for (const double lead : { 0.5, 131072.0 / 44100.0 - 0.002, 4.0 })
        {
            const Format format { extension, PcmEncoding::int16, false, {}, {} };
            const auto file = makeFile (folder, format, 44100, 2, { "synth", "3.5", "pinknoise", "vol", "0.4", "pad",
                                                                    juce::String (lead, 4) });
            const auto expected = testing::referenceLoad (file, 48000.0, fused);
            MediaLoadOptions options;
            options.workers = 2;
            const auto media = loadMedia (testing::requestFor (file, 48000.0), nullptr, options);
            ASSERT_TRUE (media->error.isEmpty()) << media->error;
            const auto where = file.getFileName() + ", lead " + juce::String (lead);
            EXPECT_TRUE (sameFloats (media->pcm->left, expected.left)) << where;
            EXPECT_TRUE (sameFloats (media->pcm->right, expected.right)) << where;
            EXPECT_EQ (media->pcm->cueFrame, expected.cueFrame) << where;
            EXPECT_NEAR ((double) media->pcm->cueFrame, lead * 48000.0, 48.0) << where;
            EXPECT_TRUE (*media->peaks == expected.peaks) << where;
            EXPECT_LT (media->sourceBytesHeld, (std::uint64_t) 4 << 20) << where;
        }
}
} // namespace
} // namespace vantrel
