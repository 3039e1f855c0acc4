#include "audio/media/FfmpegStream.h"

#include "platform/ThreadContract.h"

extern "C"
{
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdint>
#include <new>

namespace vantrel
{
namespace
{
int interruptWhenCancelled (void* opaque)
{
    return isCancelled (static_cast<CancelFlag> (opaque)) ? 1 : 0;
}

enum class Output { interleaved, planes };

/** Writes the frame's first channels channels as float: interleaved into out[0], or into one
    plane per channel (out[c]). Stereo planes are interleaved in one pass, which vectorises. */
template <typename Sample, typename Convert>
void convertFrameSamples (const AVFrame& frame, bool planar, int channels, float* const* out, Output output, Convert convert)
{
    const bool toPlanes = output == Output::planes;
    const auto frames = (std::size_t) std::max (0, frame.nb_samples);
    const auto width = (std::size_t) channels;
    if (planar && toPlanes)
    {
        for (int c = 0; c < channels; ++c)
        {
            const auto* plane = reinterpret_cast<const Sample*> (frame.extended_data[c]);
            for (std::size_t i = 0; i < frames; ++i)
                out[c][i] = convert (plane[i]);
        }
    }
    else if (planar && channels == 2)
    {
        const auto* left = reinterpret_cast<const Sample*> (frame.extended_data[0]);
        const auto* right = reinterpret_cast<const Sample*> (frame.extended_data[1]);
        float* interleaved = out[0];
        for (std::size_t i = 0; i < frames; ++i)
        {
            interleaved[2 * i] = convert (left[i]);
            interleaved[2 * i + 1] = convert (right[i]);
        }
    }
    else if (planar)
    {
        for (int c = 0; c < channels; ++c)
        {
            const auto* plane = reinterpret_cast<const Sample*> (frame.extended_data[c]);
            for (std::size_t i = 0; i < frames; ++i)
                out[0][i * width + (std::size_t) c] = convert (plane[i]);
        }
    }
    else
    {
        // Interleaved data holds all of the frame's channels; channels may be fewer.
        const auto stride = (std::size_t) std::max (channels, frame.ch_layout.nb_channels);
        const auto* data = reinterpret_cast<const Sample*> (frame.extended_data[0]);
        if (stride == width && ! toPlanes)
        {
            for (std::size_t i = 0; i < frames * width; ++i)
                out[0][i] = convert (data[i]);
            return;
        }
        if (toPlanes && stride == 2 && width == 2)
        {
            float* left = out[0];
            float* right = out[1];
            for (std::size_t i = 0; i < frames; ++i)
            {
                left[i] = convert (data[2 * i]);
                right[i] = convert (data[2 * i + 1]);
            }
            return;
        }
        for (std::size_t c = 0; c < width; ++c)
        {
            float* plane = toPlanes ? out[c] : out[0] + c;
            const std::size_t step = toPlanes ? 1 : width;
            for (std::size_t i = 0; i < frames; ++i)
                plane[i * step] = convert (data[i * stride + c]);
        }
    }
}

bool convertFrame (const AVFrame& frame, int channels, float* const* out, Output output)
{
    const auto format = (AVSampleFormat) frame.format;
    const bool planar = av_sample_fmt_is_planar (format) != 0;

    switch (av_get_packed_sample_fmt (format))
    {
        case AV_SAMPLE_FMT_FLT:
            convertFrameSamples<float> (frame, planar, channels, out, output, [] (float v) { return v; });
            return true;
        case AV_SAMPLE_FMT_S16:
            convertFrameSamples<std::int16_t> (frame, planar, channels, out, output,
                                               [] (std::int16_t v) { return (float) v * (1.0f / 32768.0f); });
            return true;
        case AV_SAMPLE_FMT_S32:
            convertFrameSamples<std::int32_t> (frame, planar, channels, out, output,
                                               [] (std::int32_t v) { return (float) ((double) v * (1.0 / 2147483648.0)); });
            return true;
        case AV_SAMPLE_FMT_DBL:
            convertFrameSamples<double> (frame, planar, channels, out, output, [] (double v) { return (float) v; });
            return true;
        case AV_SAMPLE_FMT_U8:
            convertFrameSamples<std::uint8_t> (frame, planar, channels, out, output,
                                               [] (std::uint8_t v) { return ((float) v - 128.0f) * (1.0f / 128.0f); });
            return true;
        default:
            return false;
    }
}
} // namespace

FfmpegStream::FfmpegStream (CancelFlag cancelFlag) : cancel (cancelFlag)
{
    quietFfmpegLogging();
}

FfmpegStream::~FfmpegStream()
{
    av_frame_free (&frame);
    av_packet_free (&packet);
    avcodec_free_context (&codec);
    avformat_close_input (&container);
}

bool FfmpegStream::open (const juce::File& file, const char* containers)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    container = avformat_alloc_context();
    if (container == nullptr)
        throw std::bad_alloc();
    container->interrupt_callback.callback = interruptWhenCancelled;
    container->interrupt_callback.opaque = const_cast<void*> (static_cast<const void*> (cancel));

    AVDictionary* options = nullptr;
    av_dict_set (&options, "protocol_whitelist", "file", 0);
    av_dict_set (&options, "format_whitelist", containers, 0);
    const auto url = "file:" + file.getFullPathName();
    const int opened = avformat_open_input (&container, url.toRawUTF8(), nullptr, &options);
    av_dict_free (&options);
    if (opened < 0)
        return false;   // the library freed the context

    if (avformat_find_stream_info (container, nullptr) < 0)
        return false;

    for (unsigned int i = 0; i < container->nb_streams; ++i)
    {
        const bool isAudio = container->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        if (isAudio && streamIndex < 0)
            streamIndex = (int) i;
        else
            container->streams[i]->discard = AVDISCARD_ALL;
    }
    if (streamIndex < 0)
        return false;

    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (packet == nullptr || frame == nullptr)
        throw std::bad_alloc();
    return true;
}

bool FfmpegStream::openDecoder (Trim trim)
{
    const AVCodec* decoder = avcodec_find_decoder (parameters().codec_id);
    if (decoder == nullptr)
        return false;

    codec = avcodec_alloc_context3 (decoder);
    if (codec == nullptr)
        throw std::bad_alloc();
    if (avcodec_parameters_to_context (codec, &parameters()) < 0)
        return false;

    codec->thread_count = 1;
    codec->request_sample_fmt = AV_SAMPLE_FMT_FLT;
    codec->pkt_timebase = stream().time_base;
    if (trim == Trim::none)
        codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;   // the announcement stays on the frames, unapplied
    return avcodec_open2 (codec, decoder, nullptr) >= 0;
}

bool isConvertibleSampleFormat (AVSampleFormat format)
{
    switch (format)
    {
        case AV_SAMPLE_FMT_FLT: case AV_SAMPLE_FMT_FLTP:
        case AV_SAMPLE_FMT_S16: case AV_SAMPLE_FMT_S16P:
        case AV_SAMPLE_FMT_S32: case AV_SAMPLE_FMT_S32P:
        case AV_SAMPLE_FMT_DBL: case AV_SAMPLE_FMT_DBLP:
        case AV_SAMPLE_FMT_U8:  case AV_SAMPLE_FMT_U8P:
            return true;
        default:
            return false;
    }
}

bool convertToInterleavedFloat (const AVFrame& frame, int channels, float* out)
{
    float* planes[1] = { out };
    return convertFrame (frame, channels, planes, Output::interleaved);
}

bool convertToPlanarFloat (const AVFrame& frame, int channels, float* const* planes)
{
    return convertFrame (frame, channels, planes, Output::planes);
}

juce::String formatNameOfCodec (AVCodecID codec)
{
    switch (codec)
    {
        case AV_CODEC_ID_AAC: return "AAC";
        case AV_CODEC_ID_MP3: return "MP3";
        case AV_CODEC_ID_MP2: return "MP2";
        case AV_CODEC_ID_MP1: return "MP1";
        default: break;
    }
    const char* name = avcodec_get_name (codec);   // never null
    return juce::String (name).toUpperCase();
}

void quietFfmpegLogging() noexcept
{
    static const bool quiet = [] { av_log_set_level (AV_LOG_QUIET); return true; }();
    (void) quiet;
}
} // namespace vantrel
