#pragma once

#include "audio/media/DecodedAudio.h"
#include "audio/media/MediaLimits.h"

#include <juce_core/juce_core.h>

#include <cstdint>

namespace vantrel
{
/** Told of a stream decoding's progress, on the decoding thread, so that the samples can be
    used (and need not be kept) while the rest of the stream is still being decoded. */
class DecodeObserver
{
public:
    virtual ~DecodeObserver() = default;

    /** The stream is open: its channels and rate, and the frames the buffer was sized for (0
        when the stream does not announce its length). */
    virtual void opened (int channels, double sampleRate, std::uint64_t expectedFrames) = 0;

    /** Whether the result keeps the samples; else each piece goes to taken() alone and the
        result's samples stay empty (decodedSamples counts them). Asked once the stream is open. */
    virtual bool keepsSamples() const = 0;

    /** The next count samples, valid during the call (when the samples are not kept). */
    virtual void taken (const float* samples, std::size_t count) = 0;
};

/** Decodes the first audio stream of an M4A/AAC file, or of an MP3 file the MP3 reader could
    not read, into interleaved floats at the stream's own rate. On Linux the decoding library
    stands in for the platform's source reader, step for step: float output (16-bit integer
    output scaled by 2^-15), one or two channels at 8000..384000 Hz, the cancel flag checked
    before every read, at most sampleLimit samples, and at most 1024 reads in a row without
    decoded audio. Only local files of the MP4, ADTS-AAC and MP3 container kinds are opened,
    whatever their name; the result's format names what the stream holds ("AAC", "MP3", ...,
    see formatNameOfCodec), as soon as the stream is found. Every failure is reported in the
    result's error with empty samples; never throws except for an exhausted allocation or a
    failure the observer raises (it then propagates). An observer is told of the stream and may
    take the samples instead of the result. Loading thread. */
DecodedAudio decodeWithMediaFoundation (const juce::File& file, std::uint64_t sampleLimit, CancelFlag cancel,
                                        DecodeObserver* observer = nullptr);
} // namespace vantrel
