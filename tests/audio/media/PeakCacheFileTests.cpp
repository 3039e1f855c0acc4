#include "audio/media/PeakCacheFile.h"

#include "support/AudioTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <stdexcept>

using namespace orvane::audio;
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;

namespace
{
using Bytes = std::vector<std::uint8_t>;

/** Stereo audio of a known shape and its peaks, as a load would compute them. */
struct Audio
{
    std::vector<float> samples;
    int channels = 2;
    double rate = 44100.0;

    std::uint64_t frames() const  { return samples.size() / (std::size_t) channels; }
    WaveformPeakData peaks() const
    {
        return computeWaveformPeaks (samples.data(), samples.size(), channels, rate, defaultFramesPerPeak);
    }
};

Audio makeAudio()
{
    Audio audio;
    audio.samples.resize (2 * 3000);
    for (std::size_t i = 0; i < audio.samples.size(); ++i)
        audio.samples[i] = 0.8f * (float) std::sin (0.01 * (double) i);
    return audio;
}

/** Runs the loader's use of the cache and counts how often the peaks were computed. */
struct CacheUse
{
    const Audio& audio;
    int computations = 0;

    WaveformPeakData operator() (const juce::File& file)
    {
        return peaksFromCacheOrCompute (file, audio.frames(), audio.rate, audio.channels, [this] {
            ++computations;
            return audio.peaks();
        });
    }
};

void putLittleEndian (Bytes& bytes, std::size_t offset, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[offset + (std::size_t) i] = (std::uint8_t) (value >> (8 * i));
}
} // namespace

TEST (PeakCacheFile, WritesIntoNewFoldersAndReadsTheSameRecordBack)
{
    TempFolder temp;
    const auto audio = makeAudio();
    const auto file = temp / "playlists/p1/waveforms/row-12-34-v2.bin";

    ASSERT_TRUE (writePeakCacheFile (file, audio.peaks()));
    EXPECT_EQ (readFileBytes (file), encodePeakCache (audio.peaks()));
    EXPECT_EQ (file.getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1)
        << "no temporary file is left beside the cache file";

    const auto read = readPeakCacheFile (file, audio.frames(), audio.rate, audio.channels);
    ASSERT_TRUE (read.has_value());
    EXPECT_EQ (*read, audio.peaks());

    CacheUse use { audio };
    EXPECT_EQ (use (file), audio.peaks());
    EXPECT_EQ (use.computations, 0) << "a matching cache file spares the scan";
}

TEST (PeakCacheFile, IgnoresACacheOfOtherAudio)
{
    TempFolder temp;
    const auto audio = makeAudio();
    const auto file = temp / "cache.bin";
    ASSERT_TRUE (writePeakCacheFile (file, audio.peaks()));

    EXPECT_FALSE (readPeakCacheFile (file, audio.frames() + 1, audio.rate, audio.channels));
    EXPECT_FALSE (readPeakCacheFile (file, audio.frames(), std::nextafter (audio.rate, 1e9), audio.channels));
    EXPECT_FALSE (readPeakCacheFile (file, audio.frames(), audio.rate, 1));

    // The loader recomputes for the other audio and replaces the file.
    Audio other = audio;
    other.rate = 48000.0;
    CacheUse use { other };
    EXPECT_EQ (use (file), other.peaks());
    EXPECT_EQ (use.computations, 1);
    EXPECT_EQ (readFileBytes (file), encodePeakCache (other.peaks()));
}

TEST (PeakCacheFile, DamagedFilesAreRecomputedAndReplacedSilently)
{
    const auto audio = makeAudio();
    const Bytes good = encodePeakCache (audio.peaks());
    const std::size_t values = 48 + 4 * (std::size_t) audio.peaks().peakCount * 2;

    const std::vector<std::pair<const char*, std::function<void (Bytes&)>>> damages {
        { "empty file", [] (Bytes& b) { b.clear(); } },
        { "truncated", [] (Bytes& b) { b.erase (b.end() - 3, b.end()); } },
        { "extra byte", [] (Bytes& b) { b.push_back (0); } },
        { "bad magic", [] (Bytes& b) { b[1] = 'Q'; } },
        { "version 3", [] (Bytes& b) { putLittleEndian (b, 8, 3, 4); } },
        { "NaN value", [values] (Bytes& b) { putLittleEndian (b, values, 0x7fc00000u, 4); } },
        { "overflowing sizes", [] (Bytes& b) { putLittleEndian (b, 40, (1ull << 63) + 12, 8); } },
    };

    for (const auto& [name, damage] : damages)
    {
        TempFolder temp;
        const auto file = temp / "cache.bin";
        Bytes bytes = good;
        damage (bytes);
        ASSERT_TRUE (writeFileBytes (file, bytes)) << name;

        CacheUse use { audio };
        EXPECT_EQ (use (file), audio.peaks()) << name;
        EXPECT_EQ (use.computations, 1) << name;
        EXPECT_EQ (readFileBytes (file), good) << name << ": the damaged file is replaced";
    }
}

TEST (PeakCacheFile, AFileOf64MiBOrMoreIsNeverRead)
{
    // Valid records whose files are one entry below, and exactly at, the limit.
    const auto recordOfSize = [] (std::uint64_t fileBytes) {
        WaveformPeakData peaks;
        peaks.channels = 2;
        peaks.sampleRate = 48000.0;
        peaks.peakCount = (fileBytes - 48) / 16;
        peaks.framesPerPeak = 256;
        peaks.totalFrames = peaks.peakCount * 256;
        peaks.minima.assign (peaks.peakCount * 2, -0.5f);
        peaks.maxima.assign (peaks.peakCount * 2, 0.5f);
        return peaks;
    };

    TempFolder temp;
    const auto file = temp / "big.bin";
    const auto below = recordOfSize ((std::uint64_t) peakCacheFileLimitBytes - 16);
    ASSERT_TRUE (writePeakCacheFile (file, below));
    ASSERT_EQ (file.getSize(), peakCacheFileLimitBytes - 16);
    EXPECT_TRUE (readPeakCacheFile (file, below.totalFrames, 48000.0, 2).has_value());

    const auto atLimit = recordOfSize ((std::uint64_t) peakCacheFileLimitBytes);
    ASSERT_TRUE (writePeakCacheFile (file, atLimit));
    ASSERT_EQ (file.getSize(), peakCacheFileLimitBytes);
    ASSERT_TRUE (decodePeakCache (readFileBytes (file)).has_value()) << "the bytes themselves are a valid cache";
    EXPECT_FALSE (readPeakCacheFile (file, atLimit.totalFrames, 48000.0, 2).has_value());
}

TEST (PeakCacheFile, WriteFailuresLeaveTheComputedPeaks)
{
    TempFolder temp;
    const auto audio = makeAudio();

    // A folder stands where the cache file should be.
    const auto folderInTheWay = temp / "in-the-way.bin";
    ASSERT_TRUE (folderInTheWay.getChildFile ("keep.txt").create().wasOk());
    // A regular file stands where the cache folder should be.
    const auto fileAsFolder = temp / "not-a-folder";
    ASSERT_TRUE (fileAsFolder.replaceWithText ("x"));

    for (const auto& file : { folderInTheWay, fileAsFolder.getChildFile ("cache.bin"), juce::File() })
    {
        CacheUse use { audio };
        EXPECT_EQ (use (file), audio.peaks()) << file.getFullPathName();
        EXPECT_EQ (use.computations, 1);
        EXPECT_FALSE (writePeakCacheFile (file, audio.peaks())) << file.getFullPathName();
    }
    EXPECT_TRUE (folderInTheWay.getChildFile ("keep.txt").existsAsFile());
    EXPECT_EQ (fileAsFolder.loadFileAsString(), "x");
}

TEST (PeakCacheFile, InvalidPeaksAndCancelledComputationsWriteNothing)
{
    TempFolder temp;
    const auto file = temp / "cache.bin";

    std::vector<float> allNan (512, std::nanf (""));
    const auto invalid = computeWaveformPeaks (allNan.data(), allNan.size(), 1, 48000.0, 256);
    EXPECT_FALSE (writePeakCacheFile (file, invalid));
    EXPECT_EQ (peaksFromCacheOrCompute (file, 512, 48000.0, 1, [&] { return invalid; }), invalid);
    EXPECT_FALSE (file.exists());

    EXPECT_THROW (peaksFromCacheOrCompute (file, 512, 48000.0, 1,
                                           []() -> WaveformPeakData { throw std::runtime_error ("cancelled"); }),
                  std::runtime_error);
    EXPECT_FALSE (file.exists());
}
