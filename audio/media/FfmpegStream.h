#pragma once

#include "audio/media/MediaLimits.h"

#include <juce_core/juce_core.h>

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vantrel
{
/** One pass of the decoding library over one local file: the container, its first audio
    stream and that stream's decoder, with a packet and a frame to move the data through.
    Every library object is freed with it. Loading thread. */
struct FfmpegStream
{
    /** The cancel flag (may be null) interrupts the library's reads. */
    explicit FfmpegStream (CancelFlag cancel);
    ~FfmpegStream();

    FfmpegStream (const FfmpegStream&) = delete;
    FfmpegStream& operator= (const FfmpegStream&) = delete;

    /** Opens the file as one of the container kinds named (the library's names, separated by
        commas; only the file itself is read, never another file or URL it names), reads its
        stream information and selects its first audio stream, discarding the others. False
        when the file does not open as one of these kinds or holds no audio stream. Raises the
        standard allocation failure. */
    bool open (const juce::File& file, const char* containers);

    /** What the decoder does with the encoder delay and padding that the container announces. */
    enum class Trim { asAnnounced, none };

    /** Opens a one-thread decoder for the selected stream, asking for float output. False when
        there is no decoder for the stream or it does not open. */
    bool openDecoder (Trim trim);

    const AVCodecParameters& parameters() const noexcept  { return *container->streams[streamIndex]->codecpar; }
    const AVStream& stream() const noexcept  { return *container->streams[streamIndex]; }

    AVFormatContext* container = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;

private:
    CancelFlag cancel;
};

/** Whether frames of this sample format can be converted to float. */
bool isConvertibleSampleFormat (AVSampleFormat format);

/** Writes the frame's first channels channels to out, interleaved, as float: float as it is,
    16-bit integers as value x 2^-15, 32-bit as value x 2^-31, unsigned 8-bit as (value - 128)
    x 2^-7. False (nothing written) for a sample format that cannot be converted. */
bool convertToInterleavedFloat (const AVFrame& frame, int channels, float* out);

/** The same values into one plane per channel: planes[c] receives channel c's nb_samples. */
bool convertToPlanarFloat (const AVFrame& frame, int channels, float* const* planes);

/** The format name shown for a stream the library decodes, from what its data are: "AAC",
    "MP3", "MP2", "MP1", otherwise the library's name of the codec in capitals ("ALAC"). */
juce::String formatNameOfCodec (AVCodecID codec);

/** Turns the library's own console logging off, once per process: its failures are reported
    through the results of our calls. */
void quietFfmpegLogging() noexcept;
} // namespace vantrel
