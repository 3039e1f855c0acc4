#include "audio/media/MediaDecoding.h"

#include "audio/media/FfmpegDecoder.h"
#include "audio/media/LargeBuffers.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/MediaTexts.h"
#include "audio/media/StreamedLoad.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vantrel
{
namespace
{
constexpr int readerBlockFrames = 8192;

bool hasUsableShape (const juce::AudioFormatReader& reader)
{
    return reader.numChannels >= 1 && reader.numChannels <= 2 && isUsableMediaRate (reader.sampleRate)
        && reader.lengthInSamples >= 1;
}

[[noreturn]] void failWith (const juce::String& text)
{
    throw std::runtime_error (text.toStdString());
}
} // namespace

juce::String normaliseFormatName (const juce::String& readerFormatName)
{
    const auto upper = readerFormatName.toUpperCase();
    if (upper.contains ("WAV") && ! upper.contains ("WINDOWS"))
        return "WAV";
    if (upper.contains ("AIFF"))
        return "AIFF";
    if (upper.contains ("FLAC"))
        return "FLAC";
    if (upper.contains ("MP3") || upper.contains ("MPEG"))
        return "MP3";
    return readerFormatName;
}

void checkTargetRate (double targetRate)
{
    if (! isUsableMediaRate (targetRate))
        failLoad (mediatext::targetRateUnusable);
}

bool allowsDirectPath (const juce::AudioFormatReader& reader, double targetRate)
{
    return hasUsableShape (reader) && std::abs (reader.sampleRate - targetRate) < sameRateTolerance;
}

void checkReaderCanBeDecoded (const juce::AudioFormatReader& reader)
{
    if (! hasUsableShape (reader))
        failLoad (mediatext::channelsOrLengthUnusable);
    if ((std::uint64_t) reader.lengthInSamples > decodedSampleLimit / (std::uint64_t) reader.numChannels)
        failLoad (mediatext::memoryLimit);
    if (isKnownTruncated (reader))
        failLoad (mediatext::decodeFailed);   // the file ends inside its sample data
}

bool decodeWithReader (juce::AudioFormatReader& reader, const juce::File& file, CancelFlag cancel, DecodedAudio& decoded)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    checkReaderCanBeDecoded (reader);
    const int channels = (int) reader.numChannels;
    const auto frames = (std::uint64_t) reader.lengthInSamples;

    decoded.samples.clear();
    resizeLarge (decoded.samples, (std::size_t) (frames * (std::uint64_t) channels));
    decoded.channels = channels;
    decoded.sampleRate = reader.sampleRate;
    FrameSource source (reader, file);

    for (std::uint64_t start = 0; start < frames; start += readerBlockFrames)
    {
        if (isCancelled (cancel))
            failLoad (mediatext::cancelled);

        const int count = (int) std::min<std::uint64_t> (readerBlockFrames, frames - start);
        if (! source.read (decoded.samples.data() + start * (std::uint64_t) channels, (std::int64_t) start, count))
        {
            if (file.hasFileExtension ("mp3"))
            {
                std::vector<float>().swap (decoded.samples);
                return false;
            }
            failLoad (mediatext::decodeFailed);
        }
    }
    return true;
}

DecodedAudio decodeWithoutReader (const juce::File& file, CancelFlag cancel, juce::String& format, DecodeObserver* observer)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    if (! file.hasFileExtension ("mp3;m4a;aac"))
        failLoad (mediatext::unsupportedOrDamaged);

    // The decoder's reads are interrupted by the cancel flag, and an interrupted read is a
    // failed one: a load cancelled before or during the decoding says so, not that it failed.
    if (isCancelled (cancel))
        failLoad (mediatext::cancelled);
    auto decoded = decodeWithMediaFoundation (file, decodedSampleLimit, cancel, observer);
    if (decoded.format.isNotEmpty())
        format = decoded.format;   // what the stream holds, whatever the file's name says
    if (decoded.error.isNotEmpty())
        failWith (isCancelled (cancel) ? juce::String::fromUTF8 (mediatext::cancelled) : decoded.error);
    return decoded;
}

void validateDecodedAudio (const DecodedAudio& decoded)
{
    if (decoded.samples.empty() || decoded.channels < 1 || decoded.channels > 2
        || ! std::isfinite (decoded.sampleRate) || decoded.sampleRate <= 0.0)
        failLoad (mediatext::noPlayablePcm);

    if (! allSamplesFinite (decoded.samples.data(), decoded.samples.size()))
        failLoad (mediatext::nonFiniteSamples);
}

bool allSamplesFinite (const float* samples, std::size_t count)
{
    // A float is infinite or NaN exactly when all its exponent bits are set.
    constexpr std::uint32_t exponent = 0x7f800000;
    constexpr std::size_t chunk = 4096;
    for (std::size_t start = 0; start < count; start += chunk)
    {
        const std::size_t end = std::min (count, start + chunk);
        std::uint32_t nonFinite = 0;
        for (std::size_t i = start; i < end; ++i)
        {
            std::uint32_t bits;
            std::memcpy (&bits, samples + i, sizeof (bits));
            nonFinite |= (std::uint32_t) ((bits & exponent) == exponent);
        }
        if (nonFinite != 0)
            return false;
    }
    return true;
}
} // namespace vantrel
