#include "audio/media/PeakCacheFile.h"

#include "platform/ThreadContract.h"

#include <vector>

namespace orvane::audio
{
namespace
{
bool isEmptyPath (const juce::File& file)
{
    return file.getFullPathName().isEmpty();
}

/** The whole file, or nothing when it is missing, too large or cannot be read completely. */
std::optional<std::vector<std::uint8_t>> readWholeFileBelowLimit (const juce::File& file)
{
    if (! file.existsAsFile())
        return std::nullopt;

    juce::FileInputStream stream (file);
    if (! stream.openedOk())
        return std::nullopt;

    const juce::int64 length = stream.getTotalLength();
    if (length < 0 || length >= peakCacheFileLimitBytes)
        return std::nullopt;

    std::vector<std::uint8_t> bytes ((std::size_t) length);
    if (length > 0 && stream.read (bytes.data(), (int) length) != (int) length)
        return std::nullopt;

    return bytes;
}
} // namespace

std::optional<WaveformPeakData> readPeakCacheFile (const juce::File& file, std::uint64_t totalFrames,
                                                   double sampleRate, int channels)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    if (isEmptyPath (file))
        return std::nullopt;

    const auto bytes = readWholeFileBelowLimit (file);
    if (! bytes)
        return std::nullopt;

    auto peaks = decodePeakCache (*bytes);
    if (! peaks || peaks->totalFrames != totalFrames || peaks->sampleRate != sampleRate || peaks->channels != channels)
        return std::nullopt;

    return peaks;
}

bool writePeakCacheFile (const juce::File& file, const WaveformPeakData& peaks)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    if (isEmptyPath (file))
        return false;

    const auto bytes = encodePeakCache (peaks);
    if (bytes.empty())
        return false;

    if (! file.getParentDirectory().createDirectory().wasOk())
        return false;

    juce::TemporaryFile temporary (file);
    {
        juce::FileOutputStream out (temporary.getFile());
        if (! out.openedOk() || ! out.write (bytes.data(), bytes.size()))
            return false;
        out.flush();
        if (out.getStatus().failed())
            return false;
    }
    return temporary.overwriteTargetFileWithTemporary();
}

WaveformPeakData peaksFromCacheOrCompute (const juce::File& file, std::uint64_t totalFrames, double sampleRate,
                                          int channels, const std::function<WaveformPeakData()>& compute)
{
    if (auto cached = readPeakCacheFile (file, totalFrames, sampleRate, channels))
        return std::move (*cached);

    auto peaks = compute();
    writePeakCacheFile (file, peaks);
    return peaks;
}
} // namespace orvane::audio
