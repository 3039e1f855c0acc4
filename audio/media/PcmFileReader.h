#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdint>
#include <memory>

namespace vantrel
{
/** Reads the sample data of an uncompressed WAV or AIFF file in large blocks straight from the
    file and converts it with vector instructions: the floats are exactly those the framework's
    reader gives for the same frames, and a read fails where that reader's read fails (a file
    that ends inside its sample data). Each reader has its own file handle, so two readers may
    read different ranges of one file at once. */
class PcmFileReader
{
public:
    virtual ~PcmFileReader() = default;

    /** A reader for the file `reader` was opened on, when it is a WAV or AIFF file whose
        sample layout this reader converts the same way; nullptr otherwise (read with `reader`). */
    static std::unique_ptr<PcmFileReader> open (const juce::AudioFormatReader& reader, const juce::File& file);

    /** Frames [start, start + count) as interleaved floats, channels per frame. Frames before 0
        or beyond the reader's length are zeros, as the framework's reads give them; false when
        the range reaches frames the file does not hold. Not for two threads at once. */
    virtual bool readInterleaved (float* destination, std::int64_t start, int count) = 0;

    /** The same frames into one plane per channel of the file (planes[0] left, planes[1]
        right; a mono file writes planes[0] only). */
    virtual bool readPlanar (float* const* planes, std::int64_t start, int count) = 0;
};
} // namespace vantrel
