#include "audio/media/TruncationCheckedReader.h"

#include <algorithm>

namespace vantrel
{
namespace
{
void copyProperties (const juce::AudioFormatReader& from, juce::AudioFormatReader& to)
{
    to.sampleRate = from.sampleRate;
    to.bitsPerSample = from.bitsPerSample;
    to.lengthInSamples = from.lengthInSamples;
    to.numChannels = from.numChannels;
    to.usesFloatingPointData = from.usesFloatingPointData;
    to.metadataValues = from.metadataValues;
}

/** The framework's WAV and AIFF readers convert only 8, 16, 24 and 32-bit samples (any other
    depth reads as silence, reported as success), and read through a 5760-byte buffer (a
    larger frame makes a read loop forever). */
bool isReadableShape (const juce::AudioFormatReader& reader)
{
    const auto bits = reader.bitsPerSample;
    const bool knownDepth = bits == 8 || bits == 16 || bits == 24 || bits == 32;
    return knownDepth && (std::uint64_t) reader.numChannels * bits / 8 <= 5760;
}

/** Where a mapped reader's sample data lie in the file. The framework keeps them to itself and
    finds them only through a memory map, which some file systems refuse (FUSE with direct I/O,
    some network mounts): read from the reader that knows them instead. */
struct DataChunk : juce::MemoryMappedAudioFormatReader
{
    static juce::int64 start (const juce::MemoryMappedAudioFormatReader& r)  { return r.*(&DataChunk::dataChunkStart); }
    static int frameBytes (const juce::MemoryMappedAudioFormatReader& r)     { return r.*(&DataChunk::bytesPerFrame); }
};

/** How many frames of the format's sample data the file holds: the frames from the data
    region's start to the file's real end, at most the reader's length. -1 when the format
    cannot say. The file is not mapped, only measured. */
juce::int64 framesHeldByFile (juce::AudioFormat& format, const juce::File& file)
{
    std::unique_ptr<juce::MemoryMappedAudioFormatReader> located (format.createMemoryMappedReader (file));
    if (located == nullptr)
        return -1;
    const auto frameBytes = DataChunk::frameBytes (*located);
    const auto bytesAfterStart = file.getSize() - DataChunk::start (*located);
    if (located->lengthInSamples <= 0 || frameBytes <= 0 || bytesAfterStart <= 0)
        return 0;
    return std::min (located->lengthInSamples, bytesAfterStart / frameBytes);
}

/** True when the file is a RIFF WAVE file whose data chunk announces 0xFFFFFFFF bytes: what a
    writer puts there when it writes to a pipe and cannot go back to fill in the size (FFmpeg,
    sox). Its sample data run to the end of the file. */
bool hasOpenEndedWavData (const juce::File& file)
{
    const auto tag = [] (const char* name) { return (int) juce::ByteOrder::littleEndianInt (name); };
    juce::FileInputStream in (file);
    if (! in.openedOk() || in.readInt() != tag ("RIFF"))
        return false;
    in.readInt();   // the RIFF size: often 0xFFFFFFFF in such files too, and not needed here
    if (in.readInt() != tag ("WAVE"))
        return false;

    while (in.getNumBytesRemaining() >= 8)
    {
        const int type = in.readInt();
        const auto size = (std::uint32_t) in.readInt();
        if (type == tag ("data"))
            return size == 0xffffffffu;
        if (! in.setPosition (in.getPosition() + (juce::int64) size + (juce::int64) (size & 1)))
            return false;
    }
    return false;
}
} // namespace

TruncationCheckedReader::TruncationCheckedReader (std::unique_ptr<juce::AudioFormatReader> wrapped, juce::int64 framesInFile)
    : juce::AudioFormatReader (nullptr, wrapped->getFormatName()),
      inner (std::move (wrapped))
{
    copyProperties (*inner, *this);
    framesPresent = std::clamp<juce::int64> (framesInFile, 0, lengthInSamples);
}

std::unique_ptr<juce::AudioFormatReader> TruncationCheckedReader::open (juce::AudioFormat& format, const juce::File& file)
{
    auto stream = file.createInputStream();
    if (stream == nullptr)
        return nullptr;

    std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (stream.release(), true));
    if (reader == nullptr || ! isReadableShape (*reader))
        return nullptr;

    const auto held = framesHeldByFile (format, file);
    if (held < 0)
        return reader;
    auto checked = std::make_unique<TruncationCheckedReader> (std::move (reader), held);
    if (dynamic_cast<juce::WavAudioFormat*> (&format) != nullptr && hasOpenEndedWavData (file))
        checked->lengthInSamples = checked->framesPresent;   // the frames the file holds are all there is
    return checked;
}

bool TruncationCheckedReader::readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                                           juce::int64 startSampleInFile, int numSamples)
{
    if (isTruncated() && startSampleInFile + numSamples > framesPresent)
        return false;

    return inner->readSamples (destChannels, numDestChannels, startOffsetInDestBuffer, startSampleInFile, numSamples);
}
} // namespace vantrel
