#include "audio/media/GaplessMp3Reader.h"

#include <algorithm>
#include <vector>

namespace vantrel
{
namespace
{
/** The file's first bytes, enough for an ID3v2 tag of ordinary size and the info frame. */
std::vector<std::uint8_t> readHead (const juce::File& file)
{
    constexpr int headBytes = 256 * 1024;
    std::vector<std::uint8_t> bytes;
    juce::FileInputStream in (file);
    if (! in.openedOk())
        return bytes;

    bytes.resize ((std::size_t) std::min<juce::int64> (headBytes, std::max<juce::int64> (0, in.getTotalLength())));
    const int got = in.read (bytes.data(), (int) bytes.size());
    bytes.resize ((std::size_t) std::max (0, got));
    return bytes;
}
} // namespace

GaplessMp3Reader::GaplessMp3Reader (std::unique_ptr<juce::AudioFormatReader> wrapped, const Mp3GaplessInfo& info)
    : juce::AudioFormatReader (nullptr, wrapped->getFormatName()),
      inner (std::move (wrapped))
{
    sampleRate = inner->sampleRate;
    bitsPerSample = inner->bitsPerSample;
    numChannels = inner->numChannels;
    usesFloatingPointData = inner->usesFloatingPointData;
    metadataValues = inner->metadataValues;

    const juce::int64 total = inner->lengthInSamples;
    skip = (juce::int64) info.encoderDelay + mp3DecoderDelay;
    const juce::int64 trimmed = total - info.encoderDelay - info.padding;
    lengthInSamples = std::min (trimmed, total - skip);
    if (lengthInSamples <= 0)
    {
        skip = 0;   // an announcement that leaves nothing is not believed
        lengthInSamples = total;
    }
}

std::unique_ptr<juce::AudioFormatReader> GaplessMp3Reader::open (juce::AudioFormat& format, const juce::File& file)
{
    auto stream = file.createInputStream();
    if (stream == nullptr)
        return nullptr;

    std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (stream.release(), true));
    if (reader == nullptr)
        return nullptr;

    const auto head = readHead (file);
    const auto info = findMp3GaplessInfo (head.data(), head.size());
    if (! info)
        return reader;
    return std::make_unique<GaplessMp3Reader> (std::move (reader), *info);
}

bool GaplessMp3Reader::skipLeadingFrames()
{
    constexpr int chunk = 1152;
    std::vector<int> scratch ((std::size_t) chunk * numChannels);
    std::vector<int*> channels;
    for (unsigned int c = 0; c < numChannels; ++c)
        channels.push_back (scratch.data() + (std::size_t) c * chunk);

    for (juce::int64 done = 0; done < skip;)
    {
        const int count = (int) std::min<juce::int64> (chunk, skip - done);
        if (! inner->readSamples (channels.data(), (int) numChannels, 0, done, count))
            return false;
        done += count;
    }
    skipped = true;
    return true;
}

bool GaplessMp3Reader::readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                                    juce::int64 startSampleInFile, int numSamples)
{
    if (startSampleInFile != nextFrame || (! skipped && ! skipLeadingFrames()))
        return false;

    if (! inner->readSamples (destChannels, numDestChannels, startOffsetInDestBuffer, startSampleInFile + skip, numSamples))
        return false;

    nextFrame += numSamples;
    return true;
}
} // namespace vantrel
