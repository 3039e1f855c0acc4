// MPEG audio decoding: what a load makes of an MP3 file is what ffmpeg itself decodes from it,
// sample for sample, on both paths of a load; and damaged MP3 data (run under the address and
// undefined-behaviour sanitizers as well) is read within bounds and always ends in playable
// PCM or an operator text. VANTREL_MEDIA_FUZZ_ITERATIONS and VANTREL_MEDIA_FUZZ_SEED set the
// damaged-data run as for the other fuzz test.

#include "MediaTestSupport.h"
#include "audio/media/MediaDecoding.h"
#include "audio/media/MediaLimits.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaReaders.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

struct EncodedCase
{
    const char* label;
    int rate;
    int channels;
    juce::StringArray ffmpegOptions;   // codec and container options of the encode
    const char* formatName;
};

/** The case's name in the test's name (its bytes would hold pointers, new at every run). */
void PrintTo (const EncodedCase& c, std::ostream* out) { *out << c.label; }

std::vector<EncodedCase> encodedCases()
{
    return {
        { "lame_cbr_44100_stereo", 44100, 2, { "-c:a", "libmp3lame", "-b:a", "128k" }, "MP3" },
        { "lame_vbr_48000_mono", 48000, 1, { "-c:a", "libmp3lame", "-q:a", "2" }, "MP3" },
        { "lame_mpeg2_22050_stereo", 22050, 2, { "-c:a", "libmp3lame", "-b:a", "64k" }, "MP3" },
        { "lame_without_info_frame_44100_stereo", 44100, 2, { "-c:a", "libmp3lame", "-b:a", "192k", "-write_xing", "0" }, "MP3" },
        { "layer2_48000_stereo", 48000, 2, { "-c:a", "mp2", "-b:a", "192k", "-f", "mp2" }, "MP2" },
    };
}

/** Square waves (100 Hz left, 37 Hz right): their edges make the encoder switch block types,
    where a faulty decoder goes wrong. */
juce::StringArray squareEffects (int channels, double seconds)
{
    juce::StringArray effects { "synth", juce::String (seconds, 3), "square", "100" };
    if (channels == 2)
        effects.addArray ({ "square", "37" });
    effects.addArray ({ "vol", "0.3" });
    return effects;
}

/** A sox source encoded by ffmpeg into an .mp3 file. */
::testing::AssertionResult encode (const TempFolder& folder, const EncodedCase& c, double seconds, const juce::File& out)
{
    const auto source = folder / "source.wav";
    const auto made = soxSynth (source, c.rate, c.channels, PcmEncoding::int16, squareEffects (c.channels, seconds));
    if (! made)
        return made;
    juce::StringArray command { "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName() };
    command.addArray (c.ffmpegOptions);
    command.add (out.getFullPathName());
    return runTool (command);
}

/** Whether planar channels hold exactly the frames of interleaved reference samples, each
    within tolerance; else the largest difference and where it is. */
::testing::AssertionResult matchesInterleaved (const std::vector<const std::vector<float>*>& channels,
                                               const std::vector<float>& reference, double tolerance)
{
    const auto count = channels.size();
    if (reference.size() != channels[0]->size() * count)
        return ::testing::AssertionFailure() << channels[0]->size() << " frames, ffmpeg decodes " << reference.size() / count;
    double worst = 0.0;
    std::size_t worstAt = 0;
    for (std::size_t i = 0; i < reference.size(); ++i)
    {
        const double difference = std::abs ((double) (*channels[i % count])[i / count] - (double) reference[i]);
        if (! (difference <= worst))
        {
            worst = difference;
            worstAt = i;
        }
    }
    if (! (worst <= tolerance))
        return ::testing::AssertionFailure() << "frame " << worstAt / count << " channel " << worstAt % count << " differs by " << worst;
    return ::testing::AssertionSuccess();
}

class Mp3Decoding : public ::testing::TestWithParam<EncodedCase>
{
protected:
    TempFolder folder;
};

TEST_P (Mp3Decoding, EqualsFfmpegsOwnDecodeSampleForSample)
{
    const auto& c = GetParam();
    const auto file = folder / "encoded.mp3";
    ASSERT_TRUE (encode (folder, c, 3.0, file));
    const auto reference = ffmpegDecodedSamples (file, folder / "reference.raw");
    ASSERT_FALSE (reference.empty());
    constexpr double tolerance = 1.0e-5;   // two sound decoders agree within 2e-6

    // Read straight into the PCM (the device runs at the file's rate).
    const auto media = loadMedia (requestFor (file, c.rate), nullptr);
    ASSERT_TRUE (media->error.isEmpty()) << media->error;
    EXPECT_EQ (media->format, c.formatName);
    ASSERT_NE (media->pcm, nullptr);
    if (c.channels == 1)
    {
        EXPECT_EQ (media->pcm->left, media->pcm->right);
    }
    std::vector<const std::vector<float>*> planes { &media->pcm->left };
    if (c.channels == 2)
        planes.push_back (&media->pcm->right);
    EXPECT_TRUE (matchesInterleaved (planes, reference, tolerance)) << "direct path";
    EXPECT_DOUBLE_EQ (media->duration, (double) (reference.size() / (std::size_t) c.channels) / c.rate);

    // Decoded whole before resampling (the device runs at another rate).
    auto reader = openMediaReader (file);
    ASSERT_NE (reader, nullptr);
    DecodedAudio decoded;
    ASSERT_TRUE (decodeWithReader (*reader, file, nullptr, decoded));
    ASSERT_EQ (decoded.channels, c.channels);
    EXPECT_EQ (decoded.sampleRate, (double) c.rate);
    std::vector<std::vector<float>> planar ((std::size_t) c.channels, std::vector<float> (decoded.frames()));
    for (std::size_t i = 0; i < decoded.samples.size(); ++i)
        planar[i % (std::size_t) c.channels][i / (std::size_t) c.channels] = decoded.samples[i];
    std::vector<const std::vector<float>*> decodedPlanes;
    for (const auto& plane : planar)
        decodedPlanes.push_back (&plane);
    EXPECT_TRUE (matchesInterleaved (decodedPlanes, reference, tolerance)) << "decoding path";
}

INSTANTIATE_TEST_SUITE_P (Encodings, Mp3Decoding, ::testing::ValuesIn (encodedCases()),
                          [] (const ::testing::TestParamInfo<EncodedCase>& info) { return std::string (info.param.label); });

/** Reads the whole reader in blocks of random sizes; false when a read failed or the reader
    has no usable channel count. */
bool readInRandomBlocks (juce::AudioFormatReader& reader, std::mt19937& random, std::vector<std::vector<float>>& out)
{
    if (reader.numChannels < 1 || reader.numChannels > 2)
        return false;
    const auto length = (std::size_t) std::max<juce::int64> (0, reader.lengthInSamples);
    out.assign (reader.numChannels, std::vector<float> (length));
    for (std::size_t start = 0; start < length;)
    {
        const auto count = std::min<std::size_t> (length - start, 1 + random() % 5000);
        float* planes[2] = { out[0].data() + start, out.back().data() + start };
        if (! reader.read (planes, (int) reader.numChannels, (juce::int64) start, (int) count))
            return false;
        start += count;
    }
    return true;
}

TEST (Mp3Damage, DamagedDataIsReadWithinBoundsAndEndsInPlayablePcmOrAnOperatorText)
{
    // Noise under a square wave, so that the encoder uses every tool it has (short blocks,
    // intensity stereo at low bitrates), in every kind of stream.
    TempFolder folder;
    const auto source = folder / "source.wav";
    ASSERT_TRUE (soxSynth (source, 48000, 2, PcmEncoding::int16, { "synth", "0.5", "whitenoise", "square", "37", "vol", "0.9" }));
    const juce::StringArray encodings[] = {
        { "-c:a", "libmp3lame", "-b:a", "320k", "-ar", "44100" },
        { "-c:a", "libmp3lame", "-b:a", "32k", "-ar", "22050" },
        { "-c:a", "libmp3lame", "-b:a", "8k", "-ar", "8000", "-ac", "1" },
        { "-c:a", "libmp3lame", "-q:a", "0" },
        { "-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0" },
        { "-c:a", "mp2", "-b:a", "192k", "-f", "mp2" },
    };
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const auto& options : encodings)
    {
        const auto seed = folder / "seed.mp3";
        juce::StringArray command { "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName() };
        command.addArray (options);
        command.add (seed.getFullPathName());
        ASSERT_TRUE (runTool (command));
        seeds.push_back (readFileBytes (seed));
    }

    std::mt19937 random ((unsigned) positiveSetting ("VANTREL_MEDIA_FUZZ_SEED", 20240611));
    const int iterations = positiveSetting ("VANTREL_MEDIA_FUZZ_ITERATIONS", 500);
    int playable = 0;
    int failed = 0;
    const auto file = folder / "mutant.mp3";
    for (int i = 0; i < iterations; ++i)
    {
        auto bytes = seeds[(std::size_t) i % seeds.size()];
        if (i % 2 == 0)
        {
            bytes = mutateBytes (std::move (bytes), random);
        }
        else
        {
            for (int flips = 1 + (int) (random() % 200); flips > 0; --flips)   // damage spread through the frames
                bytes[random() % bytes.size()] ^= (std::uint8_t) (1u << (random() % 8));
        }
        ASSERT_TRUE (writeFileBytes (file, bytes));

        // The reader alone, in blocks of any size.
        std::vector<std::vector<float>> blocks;
        double rate = 44100.0;
        bool readWhole = false;
        if (auto reader = openMediaReader (file))
        {
            rate = reader->sampleRate;
            if (! isKnownTruncated (*reader) && reader->lengthInSamples <= (juce::int64) preparedFrameLimit)
                readWhole = readInRandomBlocks (*reader, random, blocks);
        }

        // A load at the file's rate reads in blocks of its own: the same samples.
        const auto media = loadMedia (requestFor (file, rate), nullptr);
        if (media->error.isEmpty())
        {
            ASSERT_NE (media->pcm, nullptr) << "mutation " << i;
            ASSERT_FALSE (media->pcm->left.empty()) << "mutation " << i;
            ASSERT_EQ (media->pcm->left.size(), media->pcm->right.size());
            for (const float sample : media->pcm->left)
                ASSERT_TRUE (std::isfinite (sample)) << "mutation " << i;
            if (readWhole)
            {
                EXPECT_EQ (media->pcm->left, blocks[0]) << "mutation " << i;
            }
            ++playable;
        }
        else
        {
            ASSERT_EQ (media->pcm, nullptr);
            ASSERT_EQ (loadFailureTexts().count (media->error), 1u) << "mutation " << i << ": " << media->error;
            ++failed;
        }

        // Resampled from the whole decoded file.
        const auto resampled = loadMedia (requestFor (file, 32000.0), nullptr);
        if (resampled->error.isNotEmpty())
        {
            ASSERT_EQ (loadFailureTexts().count (resampled->error), 1u) << "mutation " << i << ": " << resampled->error;
        }
        else
        {
            ASSERT_NE (resampled->pcm, nullptr);
        }
    }
    EXPECT_GT (playable, iterations / 10);
    EXPECT_GT (failed, iterations / 10);
}
} // namespace
} // namespace vantrel
