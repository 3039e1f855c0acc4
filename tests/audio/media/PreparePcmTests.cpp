// The direct path (file rate = device rate): straight reads into the PCM, the two-reader split
// for long WAV files, the cue frame, the peaks through their cache, and the checks against a
// file that changes while it is read.

#include "MediaTestSupport.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/PeakCacheFile.h"
#include "audio/media/PreparePcm.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;
using namespace vantrel::testing;

/** The file's frames as the framework's own reader gives them, planar. */
std::vector<std::vector<float>> framesOf (const juce::File& file)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> buffer ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&buffer, 0, (int) reader->lengthInSamples, 0, true, true);
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        channels.emplace_back (buffer.getReadPointer (c), buffer.getReadPointer (c) + buffer.getNumSamples());
    return channels;
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

class DirectPath : public ::testing::Test
{
protected:
    juce::File toneFile (const char* name, int rate, int channels, double seconds, double lead = 0.0)
    {
        const auto file = folder / name;
        EXPECT_TRUE (soxSynth (file, rate, channels, PcmEncoding::int16, toneEffects (channels, seconds, lead)));
        return file;
    }

    TempFolder folder;
};

TEST_F (DirectPath, FileAtTheDeviceRateIsReadStraightIntoThePcm)
{
    for (const int channels : { 1, 2 })
    {
        const auto file = toneFile (channels == 1 ? "mono.wav" : "stereo.wav", 48000, channels, 1.5);
        const auto media = loadMedia (requestFor (file, 48000.0), nullptr);
        ASSERT_TRUE (media->error.isEmpty()) << media->error;
        EXPECT_EQ (media->validationMs, 0.0);   // nothing is decoded and validated on this path
        EXPECT_EQ (media->format, "WAV");
        EXPECT_DOUBLE_EQ (media->duration, 1.5);

        const auto expected = framesOf (file);
        ASSERT_EQ ((int) expected.size(), channels);
        EXPECT_EQ (media->pcm->left, expected[0]);
        EXPECT_EQ (media->pcm->right, expected[(std::size_t) channels - 1]);
        EXPECT_EQ (media->pcm->sampleRate, 48000.0);

        // The same file for a 44.1 kHz device is decoded, validated and resampled instead.
        const auto resampled = loadMedia (requestFor (file, 44100.0), nullptr);
        ASSERT_TRUE (resampled->error.isEmpty());
        EXPECT_GT (resampled->validationMs, 0.0);
        EXPECT_EQ (resampled->pcm->left.size(), 66150u);
        // Peaks describe the source on both paths, identically.
        EXPECT_TRUE (*media->peaks == *resampled->peaks);
    }
}

TEST_F (DirectPath, PcmIsMarkedWithTheRequestRate)
{
    // A reader within 0.001 Hz of the request takes this path; the PCM carries the request's rate.
    const auto file = toneFile ("rate.wav", 48000, 2, 0.5);
    auto reader = openMediaReader (file);
    ASSERT_NE (reader, nullptr);
    auto request = requestFor (file, 48000.0005);
    LoadedMedia media;
    ASSERT_TRUE (preparePcm (*reader, request, media, nullptr, 1, {}));
    EXPECT_EQ (media.pcm->sampleRate, 48000.0005);
    EXPECT_EQ (media.pcm->left.size(), 24000u);
    EXPECT_EQ (media.peaks->sampleRate, 48000.0);
}

TEST_F (DirectPath, TwoReadersGiveTheSameVectorsAsOne)
{
    for (const int channels : { 1, 2 })
    {
        // 6.5 s at 48 kHz: 312000 frames, split at frame 131072.
        const auto file = toneFile (channels == 1 ? "long-mono.wav" : "long.wav", 48000, channels, 6.5, 0.25);
        const auto request = requestFor (file, 48000.0);
        LoadedMedia one;
        LoadedMedia two;
        auto first = openMediaReader (file);
        ASSERT_TRUE (preparePcm (*first, request, one, nullptr, 1, {}));
        auto second = openMediaReader (file);
        ASSERT_TRUE (preparePcm (*second, request, two, nullptr, 2, {}));

        EXPECT_TRUE (*one.pcm == *two.pcm);
        EXPECT_TRUE (*one.peaks == *two.peaks);
        EXPECT_EQ (two.pcm->cueFrame, 12001);   // 0.25 s of silence, and the sine's first sample is 0
        EXPECT_EQ (two.pcm->left, framesOf (file)[0]);
    }
}

TEST_F (DirectPath, WavReplacedBetweenTheTwoReadersIsNoticed)
{
    const auto file = toneFile ("replaced.wav", 48000, 2, 6.0);
    const auto request = requestFor (file, 48000.0);
    auto first = openMediaReader (file);
    ASSERT_NE (first, nullptr);

    const auto longer = toneFile ("longer.wav", 48000, 2, 7.0);
    ASSERT_TRUE (longer.moveFileTo (file));
    LoadedMedia media;
    EXPECT_EQ (failureOf ([&] { preparePcm (*first, request, media, nullptr, 2, {}); }), mediatext::changedWhileLoading);
    EXPECT_EQ (media.pcm, nullptr);
}

TEST_F (DirectPath, FileChangedWhileReadingFailsButKeepsItsPeaks)
{
    for (const double deviceRate : { 48000.0, 44100.0 })   // direct path, then decoding path
    {
        const auto file = toneFile ("growing.wav", 48000, 2, 1.0);
        MediaLoadOptions options;
        options.beforeFinalCheck = [&file] { file.appendText ("appended while the file was being read"); };
        const auto media = loadMedia (requestFor (file, deviceRate), nullptr, options);
        EXPECT_EQ (media->error, juce::String::fromUTF8 (mediatext::changedWhileLoading)) << deviceRate;
        EXPECT_EQ (media->pcm, nullptr);
        ASSERT_NE (media->peaks, nullptr);
        EXPECT_TRUE (media->peaks->isValid());
        EXPECT_EQ (media->format, "WAV");
        EXPECT_DOUBLE_EQ (media->duration, 1.0);
        ASSERT_TRUE (file.deleteFile());
    }
}

TEST_F (DirectPath, CancelledLoadStopsWithItsText)
{
    std::atomic<bool> cancel { true };
    const auto file = toneFile ("cancel.wav", 48000, 2, 1.0);
    for (const double deviceRate : { 48000.0, 44100.0 })
    {
        const auto media = loadMedia (requestFor (file, deviceRate), &cancel);
        EXPECT_EQ (media->error, juce::String::fromUTF8 (mediatext::cancelled));
        EXPECT_EQ (media->pcm, nullptr);
    }
}

TEST_F (DirectPath, CueFrameIsConvertedToTheDeviceRate)
{
    // 1 s of silence, then the tone: the first loud frame is 1 s + 1 frame at the file's rate.
    const auto file = toneFile ("lead.wav", 44100, 2, 1.0, 1.0);
    const auto atFileRate = loadMedia (requestFor (file, 44100.0), nullptr);
    EXPECT_EQ (atFileRate->pcm->cueFrame, 44101);
    const auto resampled = loadMedia (requestFor (file, 48000.0), nullptr);
    EXPECT_EQ (resampled->pcm->cueFrame, (std::int64_t) (44101.0 / 44100.0 * 48000.0));

    const auto silent = folder / "silent.wav";
    ASSERT_TRUE (soxSynth (silent, 48000, 2, PcmEncoding::int16, { "trim", "0", "1" }));
    EXPECT_EQ (loadMedia (requestFor (silent, 48000.0), nullptr)->pcm->cueFrame, 0);
    EXPECT_EQ (loadMedia (requestFor (silent, 44100.0), nullptr)->pcm->cueFrame, 0);
}

class LoadPeakCache : public DirectPath
{
protected:
    static orvane::audio::WaveformPeakData alteredCopy (const orvane::audio::WaveformPeakData& peaks)
    {
        auto altered = peaks;
        altered.minima[0] = -0.75f;
        altered.maxima[0] = 0.75f;
        return altered;
    }
};

TEST_F (LoadPeakCache, MatchingCacheIsUsedAndAStaleOneIsReplaced)
{
    for (const double deviceRate : { 48000.0, 44100.0 })
    {
        const auto file = toneFile ("cached.wav", 48000, 2, 1.0);
        const auto cache = (folder / "cache").getChildFile ("row-1-v2.bin");
        ASSERT_TRUE (cache.deleteFile());

        const auto first = loadMedia (requestFor (file, deviceRate, cache), nullptr);
        ASSERT_TRUE (first->error.isEmpty());
        ASSERT_TRUE (cache.existsAsFile());
        EXPECT_TRUE (*orvane::audio::decodePeakCache (readFileBytes (cache)) == *first->peaks);

        // A valid cache for this audio is used as it stands, not recomputed.
        const auto altered = alteredCopy (*first->peaks);
        ASSERT_TRUE (orvane::audio::writePeakCacheFile (cache, altered));
        const auto second = loadMedia (requestFor (file, deviceRate, cache), nullptr);
        EXPECT_TRUE (*second->peaks == altered);

        // A cache for other audio (another length) is ignored, recomputed and replaced.
        auto other = *first->peaks;
        other.totalFrames += 1;
        ASSERT_TRUE (orvane::audio::writePeakCacheFile (cache, other));
        const auto third = loadMedia (requestFor (file, deviceRate, cache), nullptr);
        EXPECT_TRUE (*third->peaks == *first->peaks);
        EXPECT_TRUE (*orvane::audio::decodePeakCache (readFileBytes (cache)) == *first->peaks);
        ASSERT_TRUE (file.deleteFile());
    }
}

TEST_F (LoadPeakCache, UncreatableCacheFolderLeavesTheLoadSuccessful)
{
    const auto file = toneFile ("nocache.wav", 48000, 2, 0.5);
    const auto blocker = folder / "blocked";
    ASSERT_TRUE (blocker.replaceWithText ("a file where the cache folder should be"));
    const auto cache = blocker.getChildFile ("row-v2.bin");
    for (const double deviceRate : { 48000.0, 44100.0 })
    {
        const auto media = loadMedia (requestFor (file, deviceRate, cache), nullptr);
        EXPECT_TRUE (media->error.isEmpty()) << media->error;
        EXPECT_NE (media->peaks, nullptr);
        EXPECT_FALSE (cache.exists());
    }
}
} // namespace
} // namespace vantrel
