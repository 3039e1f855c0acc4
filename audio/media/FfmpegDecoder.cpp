#include "audio/media/FfmpegDecoder.h"

#include "audio/media/MediaFoundationScope.h"
#include "audio/media/MediaTexts.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cstring>

namespace vantrel
{
namespace
{
/** A decoder failure with its operator-facing text; caught inside decodeWithMediaFoundation. */
struct StreamFailure
{
    const char* text;
};

[[noreturn]] void failStream (const char* text)
{
    throw StreamFailure { text };
}

/** More reads than this in a row without decoded audio mean the decoder is stuck. */
constexpr int maximumReadsWithoutAudio = 1024;

/** Only these containers are opened: a file named .m4a cannot make the library follow a
    playlist or read other files. */
constexpr const char* allowedContainers = "mov,mp4,m4a,3gp,3g2,mj2,aac,mp3";

int interruptWhenCancelled (void* opaque)
{
    return isCancelled (static_cast<CancelFlag> (opaque)) ? 1 : 0;
}

bool isConvertible (AVSampleFormat format)
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

/** The value of sample i of a channel plane (or of an interleaved buffer) as float. */
template <typename Sample, typename Convert>
void appendConverted (const AVFrame& frame, bool planar, int channels, float* out, Convert convert)
{
    const int frames = frame.nb_samples;
    if (planar)
    {
        for (int c = 0; c < channels; ++c)
        {
            const auto* plane = reinterpret_cast<const Sample*> (frame.extended_data[c]);
            for (int i = 0; i < frames; ++i)
                out[(std::size_t) i * (std::size_t) channels + (std::size_t) c] = convert (plane[i]);
        }
        return;
    }

    const auto* data = reinterpret_cast<const Sample*> (frame.extended_data[0]);
    const std::size_t count = (std::size_t) frames * (std::size_t) channels;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = convert (data[i]);
}

void convertFrame (const AVFrame& frame, int channels, float* out)
{
    const auto format = (AVSampleFormat) frame.format;
    const bool planar = av_sample_fmt_is_planar (format) != 0;

    switch (av_get_packed_sample_fmt (format))
    {
        case AV_SAMPLE_FMT_FLT:
            appendConverted<float> (frame, planar, channels, out, [] (float v) { return v; });
            break;
        case AV_SAMPLE_FMT_S16:
            appendConverted<std::int16_t> (frame, planar, channels, out,
                                           [] (std::int16_t v) { return (float) v * (1.0f / 32768.0f); });
            break;
        case AV_SAMPLE_FMT_S32:
            appendConverted<std::int32_t> (frame, planar, channels, out,
                                           [] (std::int32_t v) { return (float) ((double) v * (1.0 / 2147483648.0)); });
            break;
        case AV_SAMPLE_FMT_DBL:
            appendConverted<double> (frame, planar, channels, out, [] (double v) { return (float) v; });
            break;
        case AV_SAMPLE_FMT_U8:
            appendConverted<std::uint8_t> (frame, planar, channels, out,
                                           [] (std::uint8_t v) { return ((float) v - 128.0f) * (1.0f / 128.0f); });
            break;
        default:
            failStream (mediatext::pcmConversionFailed);
    }
}

/** One decoding session over one file; owns every library object it creates. */
class StreamSession
{
public:
    StreamSession (CancelFlag cancelFlag, std::uint64_t limit) : cancel (cancelFlag), sampleLimit (limit) {}

    ~StreamSession()
    {
        av_frame_free (&frame);
        av_packet_free (&packet);
        avcodec_free_context (&codec);
        avformat_close_input (&container);
    }

    StreamSession (const StreamSession&) = delete;
    StreamSession& operator= (const StreamSession&) = delete;

    /** Opens the file, selects its first audio stream and sets up float output. */
    void open (const juce::File& file, DecodedAudio& result)
    {
        container = avformat_alloc_context();
        if (container == nullptr)
            throw std::bad_alloc();
        container->interrupt_callback.callback = interruptWhenCancelled;
        container->interrupt_callback.opaque = const_cast<void*> (static_cast<const void*> (cancel));

        AVDictionary* options = nullptr;
        av_dict_set (&options, "protocol_whitelist", "file", 0);
        av_dict_set (&options, "format_whitelist", allowedContainers, 0);
        const auto url = "file:" + file.getFullPathName();
        const int opened = avformat_open_input (&container, url.toRawUTF8(), nullptr, &options);
        av_dict_free (&options);
        if (opened < 0)
            failStream (mediatext::pcmConversionFailed);   // the library freed the context

        if (avformat_find_stream_info (container, nullptr) < 0)
            failStream (mediatext::pcmConversionFailed);

        selectFirstAudioStream();
        const AVCodecParameters& parameters = *container->streams[streamIndex]->codecpar;
        result.format = parameters.codec_id == AV_CODEC_ID_AAC ? "AAC" : streamDecoderFallbackFormat;

        openDecoder (parameters);
        channels = codec->ch_layout.nb_channels;
        sampleRate = codec->sample_rate;
        sampleFormat = codec->sample_fmt;
        if (! isUsableMediaRate ((double) sampleRate) || channels < 1 || channels > 2 || ! isConvertible (sampleFormat))
            failStream (mediatext::pcmConversionFailed);

        result.channels = channels;
        result.sampleRate = (double) sampleRate;
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (packet == nullptr || frame == nullptr)
            throw std::bad_alloc();
    }

    /** Decodes to the end of the stream. */
    void readAll (std::vector<float>& samples)
    {
        samples.reserve (expectedSamples());
        int readsWithoutAudio = 0;

        for (;;)
        {
            if (isCancelled (cancel))
                failStream (mediatext::cancelled);

            const int read = av_read_frame (container, packet);
            if (read == AVERROR_EOF)
            {
                if (avcodec_send_packet (codec, nullptr) < 0)
                    failStream (mediatext::wholeDecodeFailed);
                receiveFrames (samples);
                return;
            }
            if (read < 0)
                failStream (isCancelled (cancel) ? mediatext::cancelled : mediatext::wholeDecodeFailed);

            if (packet->stream_index != streamIndex)
            {
                av_packet_unref (packet);
                continue;
            }

            int sent = avcodec_send_packet (codec, packet);
            int frames = 0;
            if (sent == AVERROR (EAGAIN))
            {
                frames += receiveFrames (samples);
                sent = avcodec_send_packet (codec, packet);
            }
            av_packet_unref (packet);
            if (sent < 0)
                failStream (mediatext::wholeDecodeFailed);

            frames += receiveFrames (samples);
            readsWithoutAudio = frames > 0 ? 0 : readsWithoutAudio + 1;
            if (readsWithoutAudio > maximumReadsWithoutAudio)
                failStream (mediatext::decoderStalled);
        }
    }

private:
    void selectFirstAudioStream()
    {
        for (unsigned int i = 0; i < container->nb_streams; ++i)
        {
            const bool isAudio = container->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
            if (isAudio && streamIndex < 0)
                streamIndex = (int) i;
            else
                container->streams[i]->discard = AVDISCARD_ALL;
        }
        if (streamIndex < 0)
            failStream (mediatext::pcmConversionFailed);
    }

    void openDecoder (const AVCodecParameters& parameters)
    {
        const AVCodec* decoder = avcodec_find_decoder (parameters.codec_id);
        if (decoder == nullptr)
            failStream (mediatext::pcmConversionFailed);

        codec = avcodec_alloc_context3 (decoder);
        if (codec == nullptr)
            throw std::bad_alloc();
        if (avcodec_parameters_to_context (codec, &parameters) < 0)
            failStream (mediatext::pcmConversionFailed);

        codec->thread_count = 1;
        codec->request_sample_fmt = AV_SAMPLE_FMT_FLT;
        codec->pkt_timebase = container->streams[streamIndex]->time_base;
        if (avcodec_open2 (codec, decoder, nullptr) < 0)
            failStream (mediatext::pcmConversionFailed);
    }

    /** The stream's announced length in samples plus a little, so that decoding does not
        regrow (and briefly double) the buffer; 0 when unknown or beyond the limit. */
    std::size_t expectedSamples() const
    {
        const AVStream& stream = *container->streams[streamIndex];
        double seconds = 0.0;
        if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0)
            seconds = (double) stream.duration * av_q2d (stream.time_base);
        else if (container->duration != AV_NOPTS_VALUE && container->duration > 0)
            seconds = (double) container->duration / AV_TIME_BASE;

        const double frames = seconds * sampleRate * 1.002 + 8192.0;
        const double wanted = frames * channels;
        if (! (seconds > 0.0) || wanted > (double) sampleLimit)
            return 0;
        return (std::size_t) wanted;
    }

    /** Takes every frame the decoder has ready; returns how many carried audio. */
    int receiveFrames (std::vector<float>& samples)
    {
        int withAudio = 0;
        for (;;)
        {
            const int received = avcodec_receive_frame (codec, frame);
            if (received == AVERROR (EAGAIN) || received == AVERROR_EOF)
                return withAudio;
            if (received < 0)
                failStream (mediatext::wholeDecodeFailed);

            appendFrame (samples);
            if (frame->nb_samples > 0)
                ++withAudio;
            av_frame_unref (frame);
        }
    }

    void appendFrame (std::vector<float>& samples)
    {
        if (frame->format != sampleFormat || frame->sample_rate != sampleRate
            || frame->ch_layout.nb_channels != channels)
            failStream (mediatext::wholeDecodeFailed);   // the output type changed mid-stream

        if (frame->nb_samples <= 0)
            return;

        const std::uint64_t added = (std::uint64_t) frame->nb_samples * (std::uint64_t) channels;
        if (samples.size() + added > sampleLimit)
            failStream (mediatext::sizeOrBoundaryInvalid);

        const std::size_t start = samples.size();
        samples.resize (start + (std::size_t) added);
        convertFrame (*frame, channels, samples.data() + start);
    }

    CancelFlag cancel;
    std::uint64_t sampleLimit;
    AVFormatContext* container = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int streamIndex = -1;
    int channels = 0;
    int sampleRate = 0;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
};
} // namespace

DecodedAudio decodeWithMediaFoundation (const juce::File& file, std::uint64_t sampleLimit, CancelFlag cancel)
{
    DecodedAudio result;
    MediaFoundationScope scope;
    if (! scope.started())
    {
        result.error = juce::String::fromUTF8 (mediatext::decoderStartFailed);
        return result;
    }

    try
    {
        StreamSession session (cancel, sampleLimit);
        session.open (file, result);
        session.readAll (result.samples);
        if (result.samples.empty())
            failStream (mediatext::noPlayablePcm);
    }
    catch (const StreamFailure& failure)
    {
        result.error = juce::String::fromUTF8 (failure.text);
        std::vector<float>().swap (result.samples);
    }
    return result;
}
} // namespace vantrel
