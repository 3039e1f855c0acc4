#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvane::audio
{
/** The min/max overview of decoded audio: one minimum and one maximum per
    channel for every framesPerPeak frames. Value [peak * channels + channel].
    An all-zero record with no values means "no peaks". A plain value; the
    loader thread builds it and shares it read-only afterwards. */
struct WaveformPeakData
{
    std::int32_t channels = 0;
    double sampleRate = 0.0;          // Hz, the rate of the audio the peaks describe
    std::uint64_t totalFrames = 0;
    std::uint64_t framesPerPeak = 0;  // 256 as the loader computes them
    std::uint64_t peakCount = 0;      // (totalFrames - 1) / framesPerPeak + 1
    std::vector<float> minima;        // channels * peakCount values
    std::vector<float> maxima;        // same size and order

    /** totalFrames / sampleRate; 0 without frames or without a positive finite rate. */
    double durationSeconds() const;

    /** True only for a complete, consistent record whose values are all finite,
        within -1.0001..+1.0001 and ordered (minimum <= maximum). */
    bool isValid() const;

    bool operator== (const WaveformPeakData& other) const;
    bool operator!= (const WaveformPeakData& other) const  { return ! operator== (other); }
};

/** The frames per peak the loader uses. */
constexpr std::uint64_t defaultFramesPerPeak = 256;

/** Reduces interleaved samples to peaks. Samples are clamped to -1..+1 and NaN
    samples are ignored, so a peak made only of NaN keeps +inf/-inf and the
    record is invalid. Returns an empty record unless channels > 0, the rate is
    finite and positive, framesPerPeak > 0 and the sample count is a positive
    whole multiple of channels. Loader thread; allocates the result only. */
WaveformPeakData computeWaveformPeaks (const float* interleaved, std::size_t sampleCount, int channels,
                                       double sampleRate, std::uint64_t framesPerPeak);

/** The peak cache file's bytes ("ORWPK02\0", version 2, little-endian, exactly
    48 + 8 * C * P bytes). Empty when the record is invalid or too large to
    encode. */
std::vector<std::uint8_t> encodePeakCache (const WaveformPeakData& peaks);

/** Reads peak cache bytes. Every damaged form (short, long, wrong magic or
    version, impossible sizes, non-finite or inconsistent values) gives an empty
    result, silently; the caller recomputes. Never reads outside [data, data + size). */
std::optional<WaveformPeakData> decodePeakCache (const std::uint8_t* data, std::size_t size);

inline std::optional<WaveformPeakData> decodePeakCache (const std::vector<std::uint8_t>& bytes)
{
    return decodePeakCache (bytes.data(), bytes.size());
}
} // namespace orvane::audio
