#include "audio/media/WaveformPeaks.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace orvane::audio
{
namespace
{
constexpr float positiveInfinity = std::numeric_limits<float>::infinity();
constexpr std::uint64_t maxUint64 = std::numeric_limits<std::uint64_t>::max();

constexpr std::uint8_t cacheMagic[8] = { 'O', 'R', 'W', 'P', 'K', '0', '2', 0 };
constexpr std::uint32_t cacheVersion = 2;
constexpr std::size_t cacheHeaderBytes = 48;

/** The largest C * P for which 48 + 8 * C * P still fits in 64 bits. */
constexpr std::uint64_t maxCachedValuesPerSide = (maxUint64 - cacheHeaderBytes) / 8;

/** Folds one sample into a running minimum and maximum. A NaN compares false
    both ways and so changes nothing. */
inline void fold (float sample, float& low, float& high) noexcept
{
    low = sample < low ? sample : low;
    high = sample > high ? sample : high;
}

/** Four floats handled as one value; the compiler maps min/max on it to vector instructions. */
typedef float Float4 __attribute__ ((vector_size (16)));

inline Float4 load4 (const float* samples) noexcept
{
    Float4 value;
    std::memcpy (&value, samples, sizeof (value));
    return value;
}

/** Min/max of one peak's samples (a whole number of interleaved frames), folded into
    low[channel] / high[channel] before clamping. Sixteen lanes (four vectors of four) keep
    independent running values; lane k only ever sees channel k % channels because 16 is a
    multiple of the channel count. */
void reduceBlockInLanes (const float* samples, std::size_t count, int channels, float* low, float* high) noexcept
{
    constexpr int lanes = 16;
    Float4 vectorLow[4];
    Float4 vectorHigh[4];
    for (int j = 0; j < 4; ++j)
    {
        vectorLow[j] = Float4 { positiveInfinity, positiveInfinity, positiveInfinity, positiveInfinity };
        vectorHigh[j] = -vectorLow[j];
    }

    std::size_t i = 0;
    for (; i + lanes <= count; i += lanes)
        for (int j = 0; j < 4; ++j)
        {
            const Float4 s = load4 (samples + i + 4 * (std::size_t) j);
            vectorLow[j] = s < vectorLow[j] ? s : vectorLow[j];
            vectorHigh[j] = s > vectorHigh[j] ? s : vectorHigh[j];
        }

    float laneLow[lanes];
    float laneHigh[lanes];
    for (int k = 0; k < lanes; ++k)
    {
        laneLow[k] = vectorLow[k / 4][k % 4];
        laneHigh[k] = vectorHigh[k / 4][k % 4];
    }
    for (int k = 0; i + (std::size_t) k < count; ++k)
        fold (samples[i + (std::size_t) k], laneLow[k], laneHigh[k]);

    for (int k = 0; k < lanes; ++k)
    {
        const int channel = k % channels;
        low[channel] = laneLow[k] < low[channel] ? laneLow[k] : low[channel];
        high[channel] = laneHigh[k] > high[channel] ? laneHigh[k] : high[channel];
    }
}

void reduceBlockScalar (const float* samples, std::size_t count, int channels, float* low, float* high) noexcept
{
    for (std::size_t i = 0; i < count; i += (std::size_t) channels)
        for (int c = 0; c < channels; ++c)
            fold (samples[i + (std::size_t) c], low[c], high[c]);
}

/** Clamping commutes with min/max, so it is applied once per peak. A channel
    that saw only NaN keeps +inf/-inf (low above high); any real sample makes
    low <= high. */
void clampPeak (float& low, float& high) noexcept
{
    if (low > high)
        return;

    low = std::clamp (low, -1.0f, 1.0f);
    high = std::clamp (high, -1.0f, 1.0f);
}

/** Writes the low `bytes` bytes of value at out, lowest first; returns the position after them. */
std::uint8_t* putLittleEndian (std::uint8_t* out, std::uint64_t value, int bytes) noexcept
{
    for (int i = 0; i < bytes; ++i)
        *out++ = (std::uint8_t) (value >> (8 * i));
    return out;
}

std::uint64_t readLittleEndian (const std::uint8_t* in, int bytes) noexcept
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= (std::uint64_t) in[i] << (8 * i);
    return value;
}

std::uint64_t bitsOf (double value) noexcept
{
    std::uint64_t bits;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

double doubleFromBits (std::uint64_t bits) noexcept
{
    double value;
    std::memcpy (&value, &bits, sizeof (value));
    return value;
}

float floatFromBits (std::uint32_t bits) noexcept
{
    float value;
    std::memcpy (&value, &bits, sizeof (value));
    return value;
}

std::uint32_t bitsOf (float value) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

/** Reads count float32 values; false at the first non-finite one. */
bool readFiniteFloats (const std::uint8_t* in, std::uint64_t count, std::vector<float>& out)
{
    out.resize ((std::size_t) count);
    for (std::uint64_t i = 0; i < count; ++i)
    {
        const float value = floatFromBits ((std::uint32_t) readLittleEndian (in + 4 * i, 4));
        if (! std::isfinite (value))
            return false;
        out[(std::size_t) i] = value;
    }
    return true;
}
} // namespace

double WaveformPeakData::durationSeconds() const
{
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0 || totalFrames == 0)
        return 0.0;

    return (double) totalFrames / sampleRate;
}

bool WaveformPeakData::isValid() const
{
    if (channels <= 0 || ! std::isfinite (sampleRate) || sampleRate <= 0.0)
        return false;
    if (totalFrames == 0 || framesPerPeak == 0 || peakCount == 0)
        return false;
    if (peakCount > maxUint64 / (std::uint64_t) channels)
        return false;

    const std::uint64_t values = (std::uint64_t) channels * peakCount;
    if (minima.size() != values || maxima.size() != values)
        return false;
    if (peakCount != (totalFrames - 1) / framesPerPeak + 1)
        return false;

    for (std::size_t i = 0; i < minima.size(); ++i)
    {
        const float low = minima[i];
        const float high = maxima[i];
        if (! std::isfinite (low) || ! std::isfinite (high))
            return false;
        if (low < -1.0001f || high > 1.0001f || low > high)
            return false;
    }
    return true;
}

bool WaveformPeakData::operator== (const WaveformPeakData& other) const
{
    return channels == other.channels && sampleRate == other.sampleRate && totalFrames == other.totalFrames
        && framesPerPeak == other.framesPerPeak && peakCount == other.peakCount && minima == other.minima
        && maxima == other.maxima;
}

WaveformPeakData computeWaveformPeaks (const float* interleaved, std::size_t sampleCount, int channels,
                                       double sampleRate, std::uint64_t framesPerPeak)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    WaveformPeakData peaks;
    if (interleaved == nullptr || channels <= 0 || ! std::isfinite (sampleRate) || sampleRate <= 0.0
        || framesPerPeak == 0 || sampleCount == 0 || sampleCount % (std::size_t) channels != 0)
        return peaks;

    const std::uint64_t frames = sampleCount / (std::size_t) channels;
    const std::uint64_t peakCount = (frames - 1) / framesPerPeak + 1;

    peaks.channels = channels;
    peaks.sampleRate = sampleRate;
    peaks.totalFrames = frames;
    peaks.framesPerPeak = framesPerPeak;
    peaks.peakCount = peakCount;
    peaks.minima.assign ((std::size_t) (peakCount * (std::uint64_t) channels), positiveInfinity);
    peaks.maxima.assign (peaks.minima.size(), -positiveInfinity);

    const bool lanesFit = 16 % channels == 0;
    for (std::uint64_t p = 0; p < peakCount; ++p)
    {
        const std::uint64_t first = p * framesPerPeak;
        const std::uint64_t blockFrames = std::min (framesPerPeak, frames - first);
        const float* block = interleaved + first * (std::uint64_t) channels;
        const auto blockSamples = (std::size_t) (blockFrames * (std::uint64_t) channels);
        float* low = peaks.minima.data() + p * (std::uint64_t) channels;
        float* high = peaks.maxima.data() + p * (std::uint64_t) channels;

        if (lanesFit)
            reduceBlockInLanes (block, blockSamples, channels, low, high);
        else
            reduceBlockScalar (block, blockSamples, channels, low, high);

        for (int c = 0; c < channels; ++c)
            clampPeak (low[c], high[c]);
    }
    return peaks;
}

std::vector<std::uint8_t> encodePeakCache (const WaveformPeakData& peaks)
{
    if (! peaks.isValid())
        return {};

    const std::uint64_t values = (std::uint64_t) peaks.channels * peaks.peakCount;
    if (values > maxCachedValuesPerSide)
        return {};

    std::vector<std::uint8_t> out ((std::size_t) (cacheHeaderBytes + 8 * values));
    std::uint8_t* at = std::copy (std::begin (cacheMagic), std::end (cacheMagic), out.data());
    at = putLittleEndian (at, cacheVersion, 4);
    at = putLittleEndian (at, (std::uint32_t) peaks.channels, 4);
    at = putLittleEndian (at, bitsOf (peaks.sampleRate), 8);
    at = putLittleEndian (at, peaks.totalFrames, 8);
    at = putLittleEndian (at, peaks.framesPerPeak, 8);
    at = putLittleEndian (at, peaks.peakCount, 8);
    for (float value : peaks.minima)
        at = putLittleEndian (at, bitsOf (value), 4);
    for (float value : peaks.maxima)
        at = putLittleEndian (at, bitsOf (value), 4);
    return out;
}

std::optional<WaveformPeakData> decodePeakCache (const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr || size < cacheHeaderBytes)
        return std::nullopt;
    if (std::memcmp (data, cacheMagic, sizeof (cacheMagic)) != 0)
        return std::nullopt;
    if (readLittleEndian (data + 8, 4) != cacheVersion)
        return std::nullopt;

    const auto channels = (std::uint32_t) readLittleEndian (data + 12, 4);
    if (channels == 0 || (channels & 0x80000000u) != 0)
        return std::nullopt;

    const double sampleRate = doubleFromBits (readLittleEndian (data + 16, 8));
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0)
        return std::nullopt;

    const std::uint64_t totalFrames = readLittleEndian (data + 24, 8);
    const std::uint64_t framesPerPeak = readLittleEndian (data + 32, 8);
    const std::uint64_t peakCount = readLittleEndian (data + 40, 8);
    if (totalFrames == 0 || framesPerPeak == 0 || peakCount == 0)
        return std::nullopt;

    if (peakCount > maxUint64 / channels)
        return std::nullopt;
    const std::uint64_t values = (std::uint64_t) channels * peakCount;
    if (values > maxCachedValuesPerSide)
        return std::nullopt;
    if ((std::uint64_t) size != cacheHeaderBytes + 8 * values)
        return std::nullopt;

    // The exact size check above bounds every allocation and read below by the input.
    WaveformPeakData peaks;
    peaks.channels = (std::int32_t) channels;
    peaks.sampleRate = sampleRate;
    peaks.totalFrames = totalFrames;
    peaks.framesPerPeak = framesPerPeak;
    peaks.peakCount = peakCount;

    const std::uint8_t* values0 = data + cacheHeaderBytes;
    if (! readFiniteFloats (values0, values, peaks.minima) || ! readFiniteFloats (values0 + 4 * values, values, peaks.maxima))
        return std::nullopt;

    if (! peaks.isValid())
        return std::nullopt;

    return peaks;
}
} // namespace orvane::audio
