// MP3 encoder delay and padding: the info frame is read, and a decoded MP3 lines up with its
// source sample for sample, with the source's length.

#include "MediaTestSupport.h"
#include "audio/media/GaplessMp3Reader.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/Mp3GaplessInfo.h"

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

/** An MPEG-1 layer III stereo frame header (128 kbit/s, 44.1 kHz) with an info frame carrying
    a LAME extension, after an optional ID3v2 tag. */
std::vector<std::uint8_t> infoFrame (int delay, int padding, std::uint32_t flags, bool id3, const char* encoder = "LAME3.100")
{
    std::vector<std::uint8_t> bytes;
    if (id3)
    {
        const std::uint8_t tag[10] = { 'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0 };   // 128-byte body
        bytes.insert (bytes.end(), tag, tag + 10);
        bytes.resize (bytes.size() + 128, 0);
    }
    const std::uint8_t header[4] = { 0xff, 0xfb, 0x90, 0x00 };
    bytes.insert (bytes.end(), header, header + 4);
    bytes.resize (bytes.size() + 32, 0);   // stereo side information
    bytes.insert (bytes.end(), { 'I', 'n', 'f', 'o', 0, 0, 0, (std::uint8_t) flags });
    std::size_t fields = (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
    bytes.resize (bytes.size() + fields, 0);
    const auto lame = bytes.size();
    bytes.resize (lame + 36, 0);
    std::memcpy (bytes.data() + lame, encoder, std::min<std::size_t> (9, std::strlen (encoder)));
    bytes[lame + 21] = (std::uint8_t) (delay >> 4);
    bytes[lame + 22] = (std::uint8_t) (((delay & 15) << 4) | (padding >> 8));
    bytes[lame + 23] = (std::uint8_t) (padding & 255);
    return bytes;
}

TEST (Mp3GaplessInfo, ReadsDelayAndPaddingWhereverTheOptionalFieldsPutThem)
{
    for (const std::uint32_t flags : { 0u, 1u, 3u, 7u, 15u, 12u })
        for (const bool id3 : { false, true })
        {
            const auto bytes = infoFrame (576, 1234, flags, id3);
            const auto info = findMp3GaplessInfo (bytes.data(), bytes.size());
            ASSERT_TRUE (info.has_value()) << "flags " << flags << " id3 " << id3;
            EXPECT_EQ (info->encoderDelay, 576);
            EXPECT_EQ (info->padding, 1234);
        }

    const auto lavc = infoFrame (4095, 4095, 15, false, "Lavc59.37");
    EXPECT_EQ (findMp3GaplessInfo (lavc.data(), lavc.size())->padding, 4095);
}

TEST (Mp3GaplessInfo, NothingWithoutAnInfoFrameOrExtension)
{
    auto bytes = infoFrame (576, 1000, 15, false);
    EXPECT_FALSE (findMp3GaplessInfo (bytes.data(), bytes.size() - 20).has_value());   // cut inside the tag

    auto noExtension = infoFrame (576, 1000, 15, false, "XXXX");
    EXPECT_FALSE (findMp3GaplessInfo (noExtension.data(), noExtension.size()).has_value());

    auto mpeg2 = bytes;
    mpeg2[1] = 0xf3;   // MPEG-2: 576 samples per frame
    EXPECT_FALSE (findMp3GaplessInfo (mpeg2.data(), mpeg2.size()).has_value());

    auto noTag = bytes;
    std::memcpy (noTag.data() + 36, "Abcd", 4);
    EXPECT_FALSE (findMp3GaplessInfo (noTag.data(), noTag.size()).has_value());

    EXPECT_FALSE (findMp3GaplessInfo (nullptr, 0).has_value());

    // Any bytes at all: never a read outside the buffer (checked under the address sanitizer).
    std::mt19937 generator (9);
    for (int round = 0; round < 2000; ++round)
    {
        auto mutated = infoFrame (576, 1000, (std::uint32_t) (round % 16), round % 2 == 0);
        mutated.resize (generator() % (mutated.size() + 1));
        for (auto& byte : mutated)
            if (generator() % 16 == 0)
                byte = (std::uint8_t) generator();
        findMp3GaplessInfo (mutated.data(), mutated.size());
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
        const auto* gapless = dynamic_cast<GaplessMp3Reader*> (reader.get());
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
    EXPECT_EQ (dynamic_cast<GaplessMp3Reader*> (reader.get()), nullptr);

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
