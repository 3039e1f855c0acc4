// Damaged, unsupported and unusable input: every case ends in the operator text for it, with
// no PCM, and never in a crash or in silence reported as success.

#include "MediaTestSupport.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaTexts.h"
#include "platform/FileStatus.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;
using namespace vantrel::testing;

class DamagedMedia : public ::testing::Test
{
protected:
    /** A two-second stereo tone in the given container, written by sox (and ffmpeg). */
    juce::File tone (const char* name, int rate = 44100, int channels = 2)
    {
        const auto out = folder / name;
        if (out.hasFileExtension ("mp3;m4a"))
        {
            const auto source = folder / "source.wav";
            EXPECT_TRUE (soxSynth (source, rate, channels, PcmEncoding::int16, toneEffects (channels, 2.0)));
            EXPECT_TRUE (ffmpegEncode (source, out));
        }
        else
        {
            EXPECT_TRUE (soxSynth (out, rate, channels, PcmEncoding::int16, toneEffects (channels, 2.0)));
        }
        return out;
    }

    /** Keeps the first share of the file's bytes. */
    static void cutTo (const juce::File& file, double share)
    {
        auto bytes = readFileBytes (file);
        bytes.resize ((std::size_t) ((double) bytes.size() * share));
        ASSERT_TRUE (writeFileBytes (file, bytes));
    }

    /** Where a four-character box name starts in the file's bytes; npos when absent. */
    static std::size_t findBox (const std::vector<std::uint8_t>& bytes, const char* name)
    {
        for (std::size_t i = 4; i + 4 <= bytes.size(); ++i)
            if (std::memcmp (bytes.data() + i, name, 4) == 0)
                return i;
        return std::string::npos;
    }

    /** Loads for a device at the given rate, with one worker and with two (decoding in halves
        or beside the resampler), and checks the failure: the text, no PCM. */
    void expectFailure (const juce::File& file, double deviceRate, const char* text)
    {
        for (const int workers : { 1, 2 })
        {
            MediaLoadOptions options;
            options.workers = workers;
            const auto media = loadMedia (requestFor (file, deviceRate), nullptr, options);
            EXPECT_EQ (media->error, juce::String::fromUTF8 (text)) << file.getFileName() << " at " << deviceRate
                                                                   << " with " << workers << " workers";
            EXPECT_EQ (media->pcm, nullptr);
            EXPECT_EQ (media->fileName, file.getFileName());
        }
    }

    TempFolder folder;
};

TEST_F (DamagedMedia, TruncatedWavAndAiffFailInsteadOfPlayingSilence)
{
    for (const char* name : { "cut.wav", "cut.aiff" })
    {
        const auto file = tone (name);
        cutTo (file, 0.6);
        expectFailure (file, 44100.0, mediatext::decodeFailed);   // read straight into the PCM
        expectFailure (file, 48000.0, mediatext::decodeFailed);   // decoded and resampled
    }
}

TEST_F (DamagedMedia, WavCutInsideItsHeaderHasNoReader)
{
    auto bytes = readFileBytes (tone ("full.wav"));
    bytes.resize (30);
    const auto file = folder / "header.wav";
    ASSERT_TRUE (writeFileBytes (file, bytes));
    expectFailure (file, 48000.0, mediatext::unsupportedOrDamaged);
}

TEST_F (DamagedMedia, FlacCutMidFrameOrCorruptedFails)
{
    const auto cut = tone ("cut.flac");
    cutTo (cut, 0.55);
    expectFailure (cut, 44100.0, mediatext::decodeFailed);
    expectFailure (cut, 48000.0, mediatext::decodeFailed);

    const auto corrupt = tone ("corrupt.flac");
    auto bytes = readFileBytes (corrupt);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i)
        bytes[i] ^= 0x5a;
    ASSERT_TRUE (writeFileBytes (corrupt, bytes));
    expectFailure (corrupt, 44100.0, mediatext::decodeFailed);
    expectFailure (corrupt, 48000.0, mediatext::decodeFailed);
}

TEST_F (DamagedMedia, CutMp3FailsLikeTheOtherCutFormats)
{
    // The info frame announces how many frames the stream has; a file that holds fewer has
    // lost audio, like a cut WAV or FLAC file.
    const auto file = tone ("cut.mp3");
    const auto whole = readFileBytes (file);
    for (const std::size_t kept : { whole.size() / 2, whole.size() * 9 / 10, whole.size() - 50 })
    {
        auto bytes = whole;
        bytes.resize (kept);
        ASSERT_TRUE (writeFileBytes (file, bytes));
        expectFailure (file, 44100.0, mediatext::decodeFailed);   // read straight into the PCM
        expectFailure (file, 48000.0, mediatext::decodeFailed);   // decoded and resampled
    }
}

TEST_F (DamagedMedia, CutMp3WithoutFrameCountPlaysWhatIsThere)
{
    // Without an info frame nothing says how long the stream was: the whole frames that are
    // there are the file, with their real duration, as sox reads it too (the frame cut in two
    // by the end of the file is left out).
    const auto source = folder / "source.wav";
    ASSERT_TRUE (soxSynth (source, 44100, 2, PcmEncoding::int16, toneEffects (2, 2.0)));
    const auto file = folder / "plain.mp3";
    ASSERT_TRUE (runTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName(), "-c:a", "libmp3lame",
                            "-b:a", "192k", "-write_xing", "0", file.getFullPathName() }));
    cutTo (file, 0.5);
    const auto decodedBySox = folder / "sox.raw";
    ASSERT_TRUE (runTool ({ "sox", "-R", "-q", file.getFullPathName(), "-t", "f32", decodedBySox.getFullPathName() }));
    const auto expectedFrames = decodedBySox.getSize() / (2 * 4);
    for (const double rate : { 44100.0, 48000.0 })
    {
        const auto media = loadMedia (requestFor (file, rate), nullptr);
        ASSERT_TRUE (media->error.isEmpty()) << rate << ": " << media->error;
        EXPECT_EQ (media->format, "MP3");
        EXPECT_DOUBLE_EQ (media->duration, (double) expectedFrames / 44100.0);
        EXPECT_NEAR (media->duration, 1.0, 0.05);
        const auto& left = media->pcm->left;
        EXPECT_NEAR (toneFrequency (left, rate, left.size() / 10, left.size() * 9 / 10), 1000.0, 0.5);
    }
}

TEST_F (DamagedMedia, M4aWithoutOrWithDamagedIndexFails)
{
    const auto removed = tone ("noindex.m4a");
    auto bytes = readFileBytes (removed);
    const auto moov = findBox (bytes, "moov");
    ASSERT_NE (moov, std::string::npos);
    bytes.resize (moov - 4);   // the index is written after the audio: cut it off
    ASSERT_TRUE (writeFileBytes (removed, bytes));
    expectFailure (removed, 48000.0, mediatext::pcmConversionFailed);

    const auto damaged = tone ("badindex.m4a");
    bytes = readFileBytes (damaged);
    const auto index = findBox (bytes, "moov");
    ASSERT_NE (index, std::string::npos);
    for (std::size_t i = index + 8; i < std::min (bytes.size(), index + 200); ++i)
        bytes[i] = (std::uint8_t) (i * 7);
    ASSERT_TRUE (writeFileBytes (damaged, bytes));
    expectFailure (damaged, 48000.0, mediatext::pcmConversionFailed);
}

TEST_F (DamagedMedia, EmptyAndMisnamedFiles)
{
    for (const char* name : { "empty.wav", "empty.flac", "empty.aiff", "empty.txt" })
    {
        const auto file = folder / name;
        ASSERT_TRUE (file.create());
        expectFailure (file, 48000.0, mediatext::unsupportedOrDamaged);
    }
    for (const char* name : { "empty.mp3", "empty.m4a", "empty.aac" })
    {
        const auto file = folder / name;
        ASSERT_TRUE (file.create());
        expectFailure (file, 48000.0, mediatext::pcmConversionFailed);
    }

    const auto text = folder / "notes.wav";
    ASSERT_TRUE (text.replaceWithText ("This is not audio, only a text file with a .wav name.\n"));
    expectFailure (text, 48000.0, mediatext::unsupportedOrDamaged);

    // A real WAV under an extension no format claims.
    const auto renamed = folder / "tone.txt";
    ASSERT_TRUE (tone ("real.wav").copyFileTo (renamed));
    expectFailure (renamed, 48000.0, mediatext::unsupportedOrDamaged);

    // A WAV inside an .m4a name is not opened as MP4.
    const auto wavAsM4a = folder / "wave.m4a";
    ASSERT_TRUE (tone ("other.wav").copyFileTo (wavAsM4a));
    expectFailure (wavAsM4a, 48000.0, mediatext::pcmConversionFailed);
}

TEST_F (DamagedMedia, SixChannelFilesAreRefused)
{
    const auto wav = folder / "six.wav";
    ASSERT_TRUE (soxSynth (wav, 48000, 6, PcmEncoding::int16, toneEffects (1, 1.0)));
    expectFailure (wav, 48000.0, mediatext::channelsOrLengthUnusable);
    expectFailure (wav, 44100.0, mediatext::channelsOrLengthUnusable);

    const auto flac = folder / "six.flac";
    ASSERT_TRUE (soxSynth (flac, 48000, 6, PcmEncoding::int16, toneEffects (1, 1.0)));
    expectFailure (flac, 48000.0, mediatext::channelsOrLengthUnusable);

    const auto m4a = folder / "six.m4a";
    ASSERT_TRUE (ffmpegEncode (wav, m4a));
    expectFailure (m4a, 48000.0, mediatext::pcmConversionFailed);
}

TEST_F (DamagedMedia, SampleFormatsTheReadersCannotConvertAreRefusedNotSilent)
{
    // 64-bit float WAV: the framework reader would return silence and report success.
    const auto wide = folder / "double.wav";
    ASSERT_TRUE (runTool ({ "sox", "-R", "-q", "-n", "-r", "48000", "-c", "2", "-e", "floating-point", "-b", "64",
                            wide.getFullPathName(), "synth", "1", "sine", "1000", "vol", "0.5" }));
    expectFailure (wide, 48000.0, mediatext::unsupportedOrDamaged);
    expectFailure (wide, 44100.0, mediatext::unsupportedOrDamaged);

    // An AIFF whose sample size says 32767 bits: its frames would not fit the framework
    // reader's buffer and a read would loop forever.
    const auto aiff = tone ("wide.aiff");
    auto bytes = readFileBytes (aiff);
    const auto comm = findBox (bytes, "COMM");
    ASSERT_NE (comm, std::string::npos);
    bytes[comm + 14] = 0x7f;   // sampleSize, after the channel count and the frame count
    bytes[comm + 15] = 0xff;
    ASSERT_TRUE (writeFileBytes (aiff, bytes));
    expectFailure (aiff, 44100.0, mediatext::unsupportedOrDamaged);
    expectFailure (aiff, 48000.0, mediatext::unsupportedOrDamaged);
}

TEST_F (DamagedMedia, WavWithoutFramesHasNoUsableLength)
{
    const auto file = folder / "none.wav";
    ASSERT_TRUE (runTool ({ "sox", "-R", "-q", "-n", "-r", "48000", "-c", "2", "-b", "16", file.getFullPathName(), "trim", "0", "0" }));
    expectFailure (file, 48000.0, mediatext::channelsOrLengthUnusable);
}

TEST_F (DamagedMedia, NonFiniteSamplesAreRefusedOnBothPaths)
{
    const auto file = folder / "nan.wav";
    ASSERT_TRUE (soxSynth (file, 48000, 2, PcmEncoding::float32, toneEffects (2, 1.0)));
    auto bytes = readFileBytes (file);
    const std::uint32_t quietNan = 0x7fc00000;
    std::memcpy (bytes.data() + bytes.size() - 400, &quietNan, 4);
    ASSERT_TRUE (writeFileBytes (file, bytes));
    expectFailure (file, 48000.0, mediatext::nonFiniteSamples);
    expectFailure (file, 44100.0, mediatext::nonFiniteSamples);
}

TEST_F (DamagedMedia, TargetRateOutsideTheLimitsFailsBeforeDecoding)
{
    const auto file = tone ("fine.wav");
    for (const double rate : { 7999.999, 384000.001, 0.0, -48000.0, std::nan (""), (double) INFINITY })
        expectFailure (file, rate, mediatext::targetRateUnusable);
    for (const double rate : { 8000.0, 384000.0 })
    {
        const auto media = loadMedia (requestFor (file, rate), nullptr);
        EXPECT_TRUE (media->error.isEmpty()) << rate << ": " << media->error;
    }
}

TEST_F (DamagedMedia, MissingOrChangedFilesAreNotDecoded)
{
    const auto file = tone ("gone.wav");
    auto request = requestFor (file, 48000.0);
    ASSERT_TRUE (file.deleteFile());
    auto media = loadMedia (request, nullptr);
    EXPECT_EQ (media->error, juce::String::fromUTF8 (mediatext::fileMissing));
    EXPECT_EQ (media->pcm, nullptr);
    EXPECT_EQ (media->peaks, nullptr);

    const auto changed = tone ("touched.wav");
    request = requestFor (changed, 48000.0);
    ASSERT_TRUE (platform::setFileModifiedMillis (changed.getFullPathName().toStdString(),
                                                  request.signature.modified.toMilliseconds() + 1));
    media = loadMedia (request, nullptr);
    EXPECT_EQ (media->error, juce::String::fromUTF8 (mediatext::changedSinceRegistration));
    EXPECT_EQ (media->format, "");   // not opened at all
    EXPECT_EQ (media->peaks, nullptr);

    // A folder where the file was.
    const auto folderInstead = folder / "folder.wav";
    ASSERT_TRUE (folderInstead.createDirectory());
    media = loadMedia (requestFor (folderInstead, 48000.0), nullptr);
    EXPECT_EQ (media->error, juce::String::fromUTF8 (mediatext::fileMissing));
}
} // namespace
} // namespace vantrel
