// Every supported format, mono and stereo, at 44.1, 48 and 96 kHz, loaded for a 48 kHz device
// (and a few for 44.1 kHz): the decoded tone must come out at the right frequency, level and
// length, on the right channels. The format name shown for a media says what the file holds,
// whatever its name; a WAV file written to a pipe (its sizes left at 0xFFFFFFFF) is read to
// its end.

#include "MediaTestSupport.h"
#include "audio/media/MediaLoad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;
using namespace vantrel::testing;

enum class Container { wav, aiff, flac, mp3, m4a };

struct FormatCase
{
    const char* label;
    Container container;
    PcmEncoding encoding;
    int rate;
    int channels;
    double deviceRate;
};

/** The case's name in the test's name (its bytes would hold pointers, new at every run). */
void PrintTo (const FormatCase& c, std::ostream* out) { *out << c.label; }

const char* extensionOf (Container container)
{
    switch (container)
    {
        case Container::wav:  return "wav";
        case Container::aiff: return "aiff";
        case Container::flac: return "flac";
        case Container::mp3:  return "mp3";
        case Container::m4a:  return "m4a";
    }
    return "";
}

const char* formatNameOf (Container container)
{
    switch (container)
    {
        case Container::wav:  return "WAV";
        case Container::aiff: return "AIFF";
        case Container::flac: return "FLAC";
        case Container::mp3:  return "MP3";
        case Container::m4a:  return "AAC";
    }
    return "";
}

bool isLossy (Container container)
{
    return container == Container::mp3 || container == Container::m4a;
}

std::vector<FormatCase> formatCases()
{
    std::vector<FormatCase> cases;
    const struct { const char* name; Container container; PcmEncoding encoding; } kinds[] = {
        { "wav16", Container::wav, PcmEncoding::int16 },     { "wav24", Container::wav, PcmEncoding::int24 },
        { "wav32", Container::wav, PcmEncoding::int32 },     { "wavFloat", Container::wav, PcmEncoding::float32 },
        { "aiff16", Container::aiff, PcmEncoding::int16 },   { "aiff24", Container::aiff, PcmEncoding::int24 },
        { "flac16", Container::flac, PcmEncoding::int16 },   { "flac24", Container::flac, PcmEncoding::int24 },
        { "mp3", Container::mp3, PcmEncoding::int16 },       { "m4a", Container::m4a, PcmEncoding::int16 },
    };
    static std::vector<std::string> labels;
    labels.reserve (200);
    for (const auto& kind : kinds)
        for (const int rate : { 44100, 48000, 96000 })
            for (const int channels : { 1, 2 })
            {
                if (kind.container == Container::mp3 && rate > 48000)
                    continue;   // MPEG-1 layer III ends at 48 kHz
                labels.push_back (std::string (kind.name) + "_" + std::to_string (rate) + (channels == 1 ? "_mono" : "_stereo"));
                cases.push_back ({ labels.back().c_str(), kind.container, kind.encoding, rate, channels, 48000.0 });
            }

    for (const int deviceRate : { 44100 })
        for (const auto& kind : { kinds[0], kinds[6], kinds[8], kinds[9] })
        {
            labels.push_back (std::string (kind.name) + "_48000_stereo_to_" + std::to_string (deviceRate));
            cases.push_back ({ labels.back().c_str(), kind.container, kind.encoding, 48000, 2, (double) deviceRate });
        }
    return cases;
}

class MediaFormats : public ::testing::TestWithParam<FormatCase>
{
protected:
    /** Makes the case's file: a one-second tone written by sox, transcoded for lossy formats. */
    juce::File makeFixture (const FormatCase& c)
    {
        const auto out = folder / (juce::String ("tone.") + extensionOf (c.container)).toRawUTF8();
        if (! isLossy (c.container))
        {
            EXPECT_TRUE (soxSynth (out, c.rate, c.channels, c.encoding, toneEffects (c.channels, 1.0)));
            return out;
        }
        const auto source = folder / "source.wav";
        EXPECT_TRUE (soxSynth (source, c.rate, c.channels, PcmEncoding::int16, toneEffects (c.channels, 1.0)));
        EXPECT_TRUE (ffmpegEncode (source, out));
        return out;
    }

    TempFolder folder;
};

TEST_P (MediaFormats, DecodesAndResamplesTheToneToTheDeviceRate)
{
    const auto& c = GetParam();
    const auto file = makeFixture (c);
    ASSERT_TRUE (file.existsAsFile());

    const auto media = loadMedia (requestFor (file, c.deviceRate), nullptr);
    ASSERT_TRUE (media->error.isEmpty()) << media->error;
    EXPECT_EQ (media->format, formatNameOf (c.container));
    EXPECT_EQ (media->fileName, file.getFileName());
    ASSERT_NE (media->pcm, nullptr);
    const auto& pcm = *media->pcm;
    EXPECT_EQ (pcm.sampleRate, c.deviceRate);
    ASSERT_EQ (pcm.left.size(), pcm.right.size());

    // Length: exact for lossless files; for lossy ones what ffmpeg itself decodes (gapless).
    std::int64_t sourceFrames = c.rate;
    if (isLossy (c.container))
        sourceFrames = ffmpegDecodedFrames (file, c.channels, folder / "decoded.raw");
    const auto expectedFrames = (std::int64_t) std::llround ((double) sourceFrames * c.deviceRate / c.rate);
    EXPECT_EQ ((std::int64_t) pcm.left.size(), expectedFrames);
    EXPECT_NEAR (media->duration, (double) sourceFrames / c.rate, 1.0e-9);

    // The tone, away from the ends.
    const auto begin = (std::size_t) (0.1 * c.deviceRate);
    const auto end = (std::size_t) (0.9 * c.deviceRate);
    const double levelTolerance = isLossy (c.container) ? 0.03 : 0.003;
    EXPECT_NEAR (toneFrequency (pcm.left, c.deviceRate, begin, end), 1000.0, 0.2);
    EXPECT_NEAR (toneAmplitude (pcm.left, begin, end), 0.5, levelTolerance);
    if (c.channels == 1)
    {
        EXPECT_EQ (pcm.left, pcm.right);
    }
    else
    {
        EXPECT_NEAR (toneFrequency (pcm.right, c.deviceRate, begin, end), 1500.0, 0.3);
        EXPECT_NEAR (toneAmplitude (pcm.right, begin, end), 0.5, levelTolerance);
    }

    // A tone from the start: the cue point lies within the first millisecond (lossy: 20 ms).
    EXPECT_LT (pcm.cueFrame, (std::int64_t) (c.deviceRate * (isLossy (c.container) ? 0.02 : 0.001)));

    // Peaks describe the source audio at the source rate.
    ASSERT_NE (media->peaks, nullptr);
    EXPECT_TRUE (media->peaks->isValid());
    EXPECT_EQ (media->peaks->channels, c.channels);
    EXPECT_EQ (media->peaks->sampleRate, (double) c.rate);
    EXPECT_EQ ((std::int64_t) media->peaks->totalFrames, sourceFrames);
    EXPECT_NEAR (media->peaks->maxima[(media->peaks->peakCount / 2) * (std::uint64_t) c.channels], 0.5, levelTolerance);
}

INSTANTIATE_TEST_SUITE_P (EveryFormat, MediaFormats, ::testing::ValuesIn (formatCases()),
                          [] (const ::testing::TestParamInfo<FormatCase>& info) { return std::string (info.param.label); });
struct NamingCase
{
    const char* label;
    juce::StringArray ffmpegOptions;   // codec and container of the encode
    const char* fileName;
    const char* formatName;
};

/** The case's name in the test's name (its bytes would hold pointers, new at every run). */
void PrintTo (const NamingCase& c, std::ostream* out) { *out << c.label; }

class FormatNames : public ::testing::TestWithParam<NamingCase>
{
protected:
    TempFolder folder;
};

TEST_P (FormatNames, SayWhatTheFileHoldsWhateverItsName)
{
    const auto& c = GetParam();
    const auto source = folder / "source.wav";
    ASSERT_TRUE (soxSynth (source, 48000, 2, PcmEncoding::int16, toneEffects (2, 1.0)));
    const auto file = folder / c.fileName;
    juce::StringArray command { "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName() };
    command.addArray (c.ffmpegOptions);
    command.add (file.getFullPathName());
    ASSERT_TRUE (runTool (command));

    for (const double deviceRate : { 48000.0, 44100.0 })
    {
        const auto media = loadMedia (requestFor (file, deviceRate), nullptr);
        ASSERT_TRUE (media->error.isEmpty()) << deviceRate << ": " << media->error;
        EXPECT_EQ (media->format, c.formatName) << deviceRate;
        const auto& left = media->pcm->left;
        EXPECT_NEAR (toneFrequency (left, deviceRate, left.size() / 10, left.size() * 9 / 10), 1000.0, 0.3) << deviceRate;
    }
}

INSTANTIATE_TEST_SUITE_P (
    Contents, FormatNames,
    ::testing::Values (
        NamingCase { "mp3", { "-c:a", "libmp3lame", "-f", "mp3" }, "tone.mp3", "MP3" },
        NamingCase { "mp3_named_m4a", { "-c:a", "libmp3lame", "-f", "mp3" }, "tone.m4a", "MP3" },
        NamingCase { "mp3_named_aac", { "-c:a", "libmp3lame", "-f", "mp3" }, "tone.aac", "MP3" },
        NamingCase { "layer2_named_mp3", { "-c:a", "mp2", "-f", "mp2" }, "tone.mp3", "MP2" },
        NamingCase { "m4a", { "-c:a", "aac", "-f", "mp4" }, "tone.m4a", "AAC" },
        NamingCase { "m4a_named_mp3", { "-c:a", "aac", "-f", "mp4" }, "tone.mp3", "AAC" },
        NamingCase { "adts", { "-c:a", "aac", "-f", "adts" }, "tone.aac", "AAC" },
        NamingCase { "adts_named_mp3", { "-c:a", "aac", "-f", "adts" }, "tone.mp3", "AAC" },
        NamingCase { "alac_in_m4a", { "-c:a", "alac", "-f", "mp4" }, "tone.m4a", "ALAC" }),
    [] (const ::testing::TestParamInfo<NamingCase>& info) { return std::string (info.param.label); });

/** Sets the 32-bit little-endian field at offset. */
void setField (std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = (std::uint8_t) (value >> (8 * i));
}

std::size_t dataChunkSizeOffset (const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t at = 12; at + 8 <= bytes.size();)
    {
        const std::uint32_t size = (std::uint32_t) bytes[at + 4] | ((std::uint32_t) bytes[at + 5] << 8)
                                 | ((std::uint32_t) bytes[at + 6] << 16) | ((std::uint32_t) bytes[at + 7] << 24);
        if (std::memcmp (bytes.data() + at, "data", 4) == 0)
            return at + 4;
        at += 8 + size + (size & 1);
    }
    return 0;
}

TEST (StreamedWav, SizesLeftOpenMeanToTheEndOfTheFile)
{
    TempFolder folder;
    const auto source = folder / "source.wav";
    ASSERT_TRUE (soxSynth (source, 44100, 2, PcmEncoding::int16, toneEffects (2, 4.0, 0.5)));
    const auto sourceBytes = readFileBytes (source);
    const auto dataSize = dataChunkSizeOffset (sourceBytes);
    ASSERT_GT (dataSize, 0u);

    // What ffmpeg writes to a pipe: both sizes 0xFFFFFFFF.
    const auto piped = folder / "piped.wav";
    ASSERT_TRUE (runTool ({ "sh", "-c", "ffmpeg -nostdin -v error -i \"$0\" -f wav pipe:1 > \"$1\"",
                            source.getFullPathName(), piped.getFullPathName() }));
    const auto pipedBytes = readFileBytes (piped);
    ASSERT_EQ (std::memcmp (pipedBytes.data() + 4, "\xff\xff\xff\xff", 4), 0);
    ASSERT_EQ (std::memcmp (pipedBytes.data() + dataChunkSizeOffset (pipedBytes), "\xff\xff\xff\xff", 4), 0);

    struct Variant
    {
        const char* name;
        bool openRiff;
        bool openData;
        bool oddTail;   // a partial frame after the last whole one
    };
    const Variant variants[] = { { "data.wav", false, true, false }, { "both.wav", true, true, false },
                                 { "riff.wav", true, false, false }, { "tail.wav", true, true, true } };
    std::vector<juce::File> files { piped };
    for (const auto& variant : variants)
    {
        auto bytes = sourceBytes;
        if (variant.openRiff)
            setField (bytes, 4, 0xffffffff);
        if (variant.openData)
            setField (bytes, dataSize, 0xffffffff);
        if (variant.oddTail)
            bytes.insert (bytes.end(), { 0x12, 0x34, 0x56 });
        files.push_back (folder / variant.name);
        ASSERT_TRUE (writeFileBytes (files.back(), bytes));
    }

    for (const double deviceRate : { 44100.0, 48000.0 })
    {
        const auto expected = loadMedia (requestFor (source, deviceRate), nullptr);
        ASSERT_TRUE (expected->error.isEmpty()) << expected->error;
        for (const auto& file : files)
        {
            const auto media = loadMedia (requestFor (file, deviceRate), nullptr);
            ASSERT_TRUE (media->error.isEmpty()) << file.getFileName() << " at " << deviceRate << ": " << media->error;
            EXPECT_EQ (media->format, "WAV");
            EXPECT_DOUBLE_EQ (media->duration, 4.5) << file.getFileName();
            EXPECT_EQ (media->pcm->left, expected->pcm->left) << file.getFileName() << " at " << deviceRate;
            EXPECT_EQ (media->pcm->right, expected->pcm->right) << file.getFileName() << " at " << deviceRate;
            EXPECT_EQ (media->pcm->cueFrame, expected->pcm->cueFrame);
        }
    }
}

} // namespace
} // namespace vantrel
