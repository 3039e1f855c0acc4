#pragma once

#include "audio/media/WaveformPeaks.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace orvane::audio
{
/** A peak cache file this size or larger is never read. */
constexpr std::int64_t peakCacheFileLimitBytes = 64 * 1024 * 1024;

/** Reads a waveform peak cache file and returns its record only when the file
    exists, is smaller than peakCacheFileLimitBytes (a larger one is not read at
    all), decodes, and describes this audio: the same total frames, exactly the
    same rate and the same channel count. An empty path, a missing, unreadable or
    damaged file gives an empty result, silently. Loader thread. */
std::optional<WaveformPeakData> readPeakCacheFile (const juce::File& file, std::uint64_t totalFrames,
                                                   double sampleRate, int channels);

/** Encodes the record and replaces the cache file through a temporary sibling
    file, creating the folder (and its parents) first. Writes nothing for an
    empty path or a record that cannot be encoded. Returns whether the file was
    replaced; callers ignore a failure (the cache is only an optimisation).
    Loader thread. */
bool writePeakCacheFile (const juce::File& file, const WaveformPeakData& peaks);

/** The loader's use of the cache: the cached record when readPeakCacheFile
    accepts it; otherwise compute() runs, its result is written to the cache
    (failures ignored) and returned. Exceptions from compute() (a cancelled load)
    pass through and nothing is written. */
WaveformPeakData peaksFromCacheOrCompute (const juce::File& file, std::uint64_t totalFrames, double sampleRate,
                                          int channels, const std::function<WaveformPeakData()>& compute);
} // namespace orvane::audio
