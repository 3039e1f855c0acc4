// MPEG audio frame headers and the info frame (frame count, encoder delay and padding) are
// read, and a decoded MP3 lines up with its source sample for sample, with the source's length.

#include "MediaTestSupport.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/Mp3Frames.h"
#include "audio/media/Mp3Reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using namespace vantrel::testing;

/** A layer III frame header and the size of its side information. */
struct FrameKind
{
    const char* name;
    std::uint8_t header[4];
    std::size_t sideInformation;
    int samplesPerFrame;
};

const FrameKind frameKinds[] = {
    { "mpeg1_stereo", { 0xff, 0xfb, 0x90, 0x00 }, 32, 1152 },   // 128 kbit/s, 44.1 kHz
    { "mpeg1_mono", { 0xff, 0xfb, 0x90, 0xc0 }, 17, 1152 },
    { "mpeg2_stereo", { 0xff, 0xf3, 0x90, 0x00 }, 17, 576 },    // 80 kbit/s, 22.05 kHz
    { "mpeg25_mono", { 0xff, 0xe3, 0x90, 0xc0 }, 9, 576 },      // 80 kbit/s, 11.025 kHz
};

/** An info frame of the given kind ("Info" with the given flags, a frame count of 1234567,
    and a LAME extension by encoder), after an optional ID3v2 tag. */
std::vector<std::uint8_t> infoFrame (const FrameKind& kind, int delay, int padding, std::uint32_t flags, bool id3,
                                     const char* encoder = "LAME3.100")
{
    std::vector<std::uint8_t> bytes;
    if (id3)
    {
        const std::uint8_t tag[10] = { 'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0 };   // 128-byte body
        bytes.insert (bytes.end(), tag, tag + 10);
        bytes.resize (bytes.size() + 128, 0);
    }
    bytes.insert (bytes.end(), kind.header, kind.header + 4);
    bytes.resize (bytes.size() + kind.sideInformation, 0);
    bytes.insert (bytes.end(), { 'I', 'n', 'f', 'o', 0, 0, 0, (std::uint8_t) flags });
    if (flags & 1)
        bytes.insert (bytes.end(), { 0x00, 0x12, 0xd6, 0x87 });   // 1234567 frames
    std::size_t fields = (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
    bytes.resize (bytes.size() + fields, 0);
    const auto lame = bytes.size();
    bytes.resize (lame + 36, 0);
    std::memcpy (bytes.data() + lame, encoder, std::min<std::size_t> (9, std::strlen (encoder)));
    bytes[lame + 21] = (std::uint8_t) (delay >> 4);
    bytes[lame + 22] = (std::uint8_t) (((delay & 15) << 4) | (padding >> 8));
    bytes[lame + 23] = (std::uint8_t) (padding & 255);
    return bytes;
}

TEST (Mp3InfoFrame, ReadsFrameCountDelayAndPaddingWhereverTheOptionalFieldsPutThem)
{
    for (const auto& kind : frameKinds)
        for (const std::uint32_t flags : { 0u, 1u, 3u, 7u, 15u, 12u })
            for (const bool id3 : { false, true })
            {
                const auto bytes = infoFrame (kind, 576, 1234, flags, id3);
                const auto info = findMp3InfoFrame (bytes.data(), bytes.size());
                ASSERT_TRUE (info.has_value()) << kind.name << " flags " << flags << " id3 " << id3;
                EXPECT_EQ (info->samplesPerFrame, kind.samplesPerFrame) << kind.name;
                EXPECT_EQ (info->frames.has_value(), (flags & 1) != 0);
                if (info->frames)
                {
                    EXPECT_EQ (*info->frames, 1234567u);
                }
                EXPECT_TRUE (info->hasGapless);
                EXPECT_EQ (info->encoderDelay, 576);
                EXPECT_EQ (info->padding, 1234);
            }

    for (const char* encoder : { "Lavc59.37", "Lavf59.27" })
    {
        const auto ffmpegs = infoFrame (frameKinds[0], 4095, 4095, 15, false, encoder);
        EXPECT_EQ (findMp3InfoFrame (ffmpegs.data(), ffmpegs.size())->padding, 4095) << encoder;
    }
}

TEST (Mp3InfoFrame, NoDelayWithoutTheExtensionAndNothingWithoutAnInfoFrame)
{
    const auto bytes = infoFrame (frameKinds[0], 576, 1000, 15, false);
    const auto cut = findMp3InfoFrame (bytes.data(), bytes.size() - 20);   // cut inside the extension
    ASSERT_TRUE (cut.has_value());
    EXPECT_FALSE (cut->hasGapless);
    EXPECT_EQ (*cut->frames, 1234567u);

    const auto noExtension = infoFrame (frameKinds[0], 576, 1000, 15, false, "XXXX");
    const auto other = findMp3InfoFrame (noExtension.data(), noExtension.size());
    ASSERT_TRUE (other.has_value());
    EXPECT_FALSE (other->hasGapless);

    auto moved = bytes;
    moved[1] = 0xf3;   // an MPEG-2 header: its "Info" would stand 15 bytes earlier
    EXPECT_FALSE (findMp3InfoFrame (moved.data(), moved.size()).has_value());

    auto layer2 = bytes;
    layer2[1] = 0xfd;
    EXPECT_FALSE (findMp3InfoFrame (layer2.data(), layer2.size()).has_value());

    auto noTag = bytes;
    std::memcpy (noTag.data() + 36, "Abcd", 4);
    EXPECT_FALSE (findMp3InfoFrame (noTag.data(), noTag.size()).has_value());
    EXPECT_FALSE (isMp3InfoFrame (noTag.data(), noTag.size()));
    EXPECT_TRUE (isMp3InfoFrame (bytes.data(), bytes.size()));

    EXPECT_FALSE (findMp3InfoFrame (nullptr, 0).has_value());

    // Any bytes at all: never a read outside the buffer (checked under the address sanitizer).
    std::mt19937 generator (9);
    for (int round = 0; round < 2000; ++round)
    {
        auto mutated = infoFrame (frameKinds[(std::size_t) round % 4], 576, 1000, (std::uint32_t) (round % 16), round % 2 == 0);
        mutated.resize (generator() % (mutated.size() + 1));
        for (auto& byte : mutated)
            if (generator() % 16 == 0)
                byte = (std::uint8_t) generator();
        findMp3InfoFrame (mutated.data(), mutated.size());
        isMp3InfoFrame (mutated.data(), mutated.size());
        readMp3FrameHeader (mutated.data(), mutated.size());
    }
}

TEST (Mp3FrameHeader, GivesLayerRateSamplesAndFrameLength)
{
    struct Case
    {
        std::uint8_t header[4];
        int layer, rate, samples, bytes;
    };
    const Case cases[] = {
        { { 0xff, 0xfb, 0x90, 0x00 }, 3, 44100, 1152, 417 },   // MPEG-1 layer III 128 kbit/s
        { { 0xff, 0xfb, 0x92, 0x00 }, 3, 44100, 1152, 418 },   // ... with its padding byte
        { { 0xff, 0xfb, 0xe4, 0x00 }, 3, 48000, 1152, 960 },   // 320 kbit/s
        { { 0xff, 0xfa, 0x18, 0xc0 }, 3, 32000, 1152, 144 },   // 32 kbit/s with a checksum, mono
        { { 0xff, 0xf3, 0x90, 0x00 }, 3, 22050, 576, 261 },    // MPEG-2 layer III 80 kbit/s
        { { 0xff, 0xe3, 0x18, 0x00 }, 3, 8000, 576, 72 },      // MPEG-2.5 8 kbit/s
        { { 0xff, 0xfd, 0x94, 0x00 }, 2, 48000, 1152, 480 },   // MPEG-1 layer II 160 kbit/s
        { { 0xff, 0xff, 0x90, 0x00 }, 1, 44100, 384, 312 },    // MPEG-1 layer I 288 kbit/s
        { { 0xff, 0xfb, 0x00, 0x00 }, 3, 44100, 1152, 0 },     // free format: no length
    };
    for (const auto& c : cases)
    {
        const auto header = readMp3FrameHeader (c.header, 4);
        ASSERT_TRUE (header.has_value()) << (int) c.header[1] << " " << (int) c.header[2];
        EXPECT_EQ (header->layer, c.layer);
        EXPECT_EQ (header->sampleRate, c.rate);
        EXPECT_EQ (header->samplesPerFrame, c.samples);
        EXPECT_EQ (header->frameBytes, c.bytes) << (int) c.header[1] << " " << (int) c.header[2];
    }

    const std::uint8_t invalid[][4] = {
        { 0xff, 0xfb, 0xf0, 0x00 },   // bitrate index 15
        { 0xff, 0xfb, 0x9c, 0x00 },   // sample rate index 3
        { 0xff, 0xf9, 0x90, 0x00 },   // layer 0
        { 0xff, 0xeb, 0x90, 0x00 },   // the reserved version
        { 0xfe, 0xfb, 0x90, 0x00 },   // no frame sync
    };
    for (const auto& bytes : invalid)
        EXPECT_FALSE (readMp3FrameHeader (bytes, 4).has_value()) << (int) bytes[1] << " " << (int) bytes[2];
    EXPECT_FALSE (readMp3FrameHeader (cases[0].header, 3).has_value());
}

TEST (Mp3FrameHeader, FrameLengthsWalkRealFilesFromFrameToFrame)
{
    TempFolder folder;
    const auto source = folder / "source.wav";
    ASSERT_TRUE (soxSynth (source, 44100, 2, PcmEncoding::int16, { "synth", "1", "pinknoise", "vol", "0.4" }));
    const juce::StringArray encodings[] = {
        { "-c:a", "libmp3lame", "-b:a", "128k" },                  // MPEG-1, padding bytes here and there
        { "-c:a", "libmp3lame", "-q:a", "0" },                     // every bitrate
        { "-c:a", "libmp3lame", "-ar", "22050", "-b:a", "48k" },   // MPEG-2
        { "-c:a", "libmp3lame", "-ar", "8000", "-ac", "1" },       // MPEG-2.5, mono
        { "-c:a", "mp2", "-b:a", "256k", "-f", "mp2" },            // layer II
    };
    for (const auto& options : encodings)
    {
        const auto file = folder / "walk.mp3";
        juce::StringArray command { "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName() };
        command.addArray (options);
        command.add (file.getFullPathName());
        ASSERT_TRUE (runTool (command));

        const auto bytes = readFileBytes (file);
        std::size_t at = id3v2TagLength (bytes.data(), bytes.size());
        int frames = 0;
        while (at < bytes.size())
        {
            const auto header = readMp3FrameHeader (bytes.data() + at, bytes.size() - at);
            ASSERT_TRUE (header.has_value()) << options.joinIntoString (" ") << ": no frame at byte " << at;
            ASSERT_GT (header->frameBytes, 0);
            at += (std::size_t) header->frameBytes;
            ++frames;
        }
        EXPECT_EQ (at, bytes.size()) << options.joinIntoString (" ");
        EXPECT_GT (frames, 5) << options.joinIntoString (" ");
    }
}

class Mp3Alignment : public ::testing::Test
{
protected:
    TempFolder folder;
};

TEST_F (Mp3Alignment, DecodedMp3StartsAndEndsWhereItsSourceDoes)
{
    for (const int channels : { 1, 2 })
    {
        const auto source = folder / "noise.wav";
        ASSERT_TRUE (soxSynth (source, 44100, channels, PcmEncoding::int16,
                               { "synth", "1.5", "pinknoise", "vol", "0.4" }));
        const auto mp3 = folder / "noise.mp3";
        ASSERT_TRUE (ffmpegEncode (source, mp3));

        // The framework's reader alone starts 576 + 529 samples late and is too long.
        auto reader = openMediaReader (mp3);
        ASSERT_NE (reader, nullptr);
        const auto* gapless = dynamic_cast<Mp3Reader*> (reader.get());
        ASSERT_NE (gapless, nullptr);
        EXPECT_EQ (gapless->leadingFramesSkipped(), 1105);

        for (const double deviceRate : { 44100.0, 48000.0 })
        {
            const auto original = loadMedia (requestFor (source, deviceRate), nullptr);
            const auto decoded = loadMedia (requestFor (mp3, deviceRate), nullptr);
            ASSERT_TRUE (decoded->error.isEmpty()) << decoded->error;
            EXPECT_EQ (decoded->format, "MP3");
            EXPECT_EQ (decoded->pcm->left.size(), original->pcm->left.size()) << deviceRate;
            EXPECT_DOUBLE_EQ (decoded->duration, 1.5);
            EXPECT_EQ (bestLag (original->pcm->left, decoded->pcm->left, 2000), 0) << deviceRate;
            EXPECT_EQ (bestLag (original->pcm->right, decoded->pcm->right, 2000), 0) << deviceRate;
        }
        EXPECT_EQ (ffmpegDecodedFrames (mp3, channels, folder / "ffmpeg.raw"), 66150);
        ASSERT_TRUE (source.deleteFile() && mp3.deleteFile());
    }
}

TEST_F (Mp3Alignment, Mp3WithoutInfoFrameIsLeftAsDecoded)
{
    const auto source = folder / "noise.wav";
    ASSERT_TRUE (soxSynth (source, 44100, 2, PcmEncoding::int16, { "synth", "1", "pinknoise", "vol", "0.4" }));
    const auto mp3 = folder / "plain.mp3";
    ASSERT_TRUE (runTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName(), "-c:a", "libmp3lame",
                            "-b:a", "192k", "-write_xing", "0", mp3.getFullPathName() }));

    auto reader = openMediaReader (mp3);
    ASSERT_NE (reader, nullptr);
    const auto* mp3Reader = dynamic_cast<Mp3Reader*> (reader.get());
    ASSERT_NE (mp3Reader, nullptr);
    EXPECT_EQ (mp3Reader->leadingFramesSkipped(), 0);

    const auto media = loadMedia (requestFor (mp3, 44100.0), nullptr);
    ASSERT_TRUE (media->error.isEmpty()) << media->error;
    // Without the announcement nothing can be trimmed: whole frames, like ffmpeg decodes them.
    EXPECT_EQ ((std::int64_t) media->pcm->left.size(), ffmpegDecodedFrames (mp3, 2, folder / "ffmpeg.raw"));
    EXPECT_EQ (media->pcm->left.size() % 1152, 0u);
}

TEST_F (Mp3Alignment, AacThroughTheStreamDecoderLinesUpToo)
{
    const auto source = folder / "noise.wav";
    ASSERT_TRUE (soxSynth (source, 48000, 2, PcmEncoding::int16, { "synth", "1.5", "pinknoise", "vol", "0.4" }));
    const auto m4a = folder / "noise.m4a";
    ASSERT_TRUE (ffmpegEncode (source, m4a));
    const auto original = loadMedia (requestFor (source, 48000.0), nullptr);
    const auto decoded = loadMedia (requestFor (m4a, 48000.0), nullptr);
    ASSERT_TRUE (decoded->error.isEmpty()) << decoded->error;
    EXPECT_EQ (decoded->format, "AAC");
    // The container's edit list removes the encoder's priming at the start; the last frame's
    // padding (less than one 1024-sample frame) stays, as ffmpeg itself decodes it.
    EXPECT_GE (decoded->pcm->left.size(), original->pcm->left.size());
    EXPECT_LT (decoded->pcm->left.size(), original->pcm->left.size() + 1024);
    EXPECT_EQ ((std::int64_t) decoded->pcm->left.size(), ffmpegDecodedFrames (m4a, 2, folder / "ffmpeg.raw"));
    EXPECT_EQ (bestLag (original->pcm->left, decoded->pcm->left, 3000), 0);
}
} // namespace
} // namespace vantrel
