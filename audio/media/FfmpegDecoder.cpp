#include "audio/media/FfmpegDecoder.h"

#include "audio/media/FfmpegStream.h"
#include "audio/media/LargeBuffers.h"
#include "audio/media/MediaFoundationScope.h"
#include "audio/media/MediaTexts.h"

#include "platform/ThreadContract.h"

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

void convertFrame (const AVFrame& frame, int channels, float* out)
{
    if (! convertToInterleavedFloat (frame, channels, out))
        failStream (mediatext::pcmConversionFailed);
}

/** One decoding session over one file. */
class StreamSession
{
public:
    StreamSession (CancelFlag cancelFlag, std::uint64_t limit, DecodeObserver* decodeObserver)
        : cancel (cancelFlag), sampleLimit (limit), observer (decodeObserver), stream (cancelFlag)
    {
    }

    /** Opens the file, selects its first audio stream and sets up float output; the format
        name is known once the stream is. */
    void open (const juce::File& file, DecodedAudio& result)
    {
        if (! stream.open (file, allowedContainers))
            failStream (mediatext::pcmConversionFailed);
        result.format = formatNameOfCodec (stream.parameters().codec_id);

        if (! stream.openDecoder (FfmpegStream::Trim::asAnnounced))
            failStream (mediatext::pcmConversionFailed);
        channels = stream.codec->ch_layout.nb_channels;
        sampleRate = stream.codec->sample_rate;
        sampleFormat = stream.codec->sample_fmt;
        if (! isUsableMediaRate ((double) sampleRate) || channels < 1 || channels > 2 || ! isConvertibleSampleFormat (sampleFormat))
            failStream (mediatext::pcmConversionFailed);

        result.channels = channels;
        result.sampleRate = (double) sampleRate;
    }

    std::uint64_t decodedSampleCount() const noexcept  { return decodedSamples; }

    /** Decodes to the end of the stream. */
    void readAll (std::vector<float>& samples)
    {
        const auto expected = expectedSamples();
        if (observer != nullptr)
        {
            observer->opened (channels, (double) sampleRate, (std::uint64_t) expected / (std::uint64_t) channels);
            keeping = observer->keepsSamples();
        }
        if (keeping)
            reserveLarge (samples, expected);
        int readsWithoutAudio = 0;

        for (;;)
        {
            if (isCancelled (cancel))
                failStream (mediatext::cancelled);

            const int read = av_read_frame (stream.container, stream.packet);
            if (read == AVERROR_EOF)
            {
                if (avcodec_send_packet (stream.codec, nullptr) < 0)
                    failStream (mediatext::wholeDecodeFailed);
                receiveFrames (samples);
                return;
            }
            if (read < 0)
                failStream (isCancelled (cancel) ? mediatext::cancelled : mediatext::wholeDecodeFailed);

            if (stream.packet->stream_index != stream.streamIndex)
            {
                av_packet_unref (stream.packet);
                continue;
            }

            int sent = avcodec_send_packet (stream.codec, stream.packet);
            int frames = 0;
            if (sent == AVERROR (EAGAIN))
            {
                frames += receiveFrames (samples);
                sent = avcodec_send_packet (stream.codec, stream.packet);
            }
            av_packet_unref (stream.packet);
            if (sent < 0)
                failStream (mediatext::wholeDecodeFailed);

            frames += receiveFrames (samples);
            readsWithoutAudio = frames > 0 ? 0 : readsWithoutAudio + 1;
            if (readsWithoutAudio > maximumReadsWithoutAudio)
                failStream (mediatext::decoderStalled);
        }
    }

private:
    /** The stream's announced length in samples plus a little, so that decoding does not
        regrow (and briefly double) the buffer; 0 when unknown or beyond the limit. */
    std::size_t expectedSamples() const
    {
        const AVStream& audio = stream.stream();
        double seconds = 0.0;
        if (audio.duration != AV_NOPTS_VALUE && audio.duration > 0)
            seconds = (double) audio.duration * av_q2d (audio.time_base);
        else if (stream.container->duration != AV_NOPTS_VALUE && stream.container->duration > 0)
            seconds = (double) stream.container->duration / AV_TIME_BASE;

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
            const int received = avcodec_receive_frame (stream.codec, stream.frame);
            if (received == AVERROR (EAGAIN) || received == AVERROR_EOF)
                return withAudio;
            if (received < 0)
                failStream (mediatext::wholeDecodeFailed);

            appendFrame (*stream.frame, samples);
            if (stream.frame->nb_samples > 0)
                ++withAudio;
            av_frame_unref (stream.frame);
        }
    }

    void appendFrame (const AVFrame& frame, std::vector<float>& samples)
    {
        if (frame.format != sampleFormat || frame.sample_rate != sampleRate || frame.ch_layout.nb_channels != channels)
            failStream (mediatext::wholeDecodeFailed);   // the output type changed mid-stream

        if (frame.nb_samples <= 0)
            return;

        const std::uint64_t added = (std::uint64_t) frame.nb_samples * (std::uint64_t) channels;
        if (decodedSamples + added > sampleLimit)
            failStream (mediatext::sizeOrBoundaryInvalid);
        decodedSamples += added;

        if (! keeping)
        {
            piece.resize ((std::size_t) added);
            convertFrame (frame, channels, piece.data());
            observer->taken (piece.data(), piece.size());
            return;
        }

        const std::size_t start = samples.size();
        samples.resize (start + (std::size_t) added);
        convertFrame (frame, channels, samples.data() + start);
    }

    CancelFlag cancel;
    std::uint64_t sampleLimit;
    DecodeObserver* observer;
    std::vector<float> piece;   // one frame's samples when the observer takes them
    FfmpegStream stream;
    int channels = 0;
    int sampleRate = 0;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    std::uint64_t decodedSamples = 0;   // kept or handed to the observer
    bool keeping = true;
};
} // namespace

DecodedAudio decodeWithMediaFoundation (const juce::File& file, std::uint64_t sampleLimit, CancelFlag cancel,
                                        DecodeObserver* observer)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    DecodedAudio result;
    MediaFoundationScope scope;
    if (! scope.started())
    {
        result.error = juce::String::fromUTF8 (mediatext::decoderStartFailed);
        return result;
    }

    try
    {
        StreamSession session (cancel, sampleLimit, observer);
        session.open (file, result);
        session.readAll (result.samples);
        result.decodedSamples = session.decodedSampleCount();
        if (result.decodedSamples == 0)
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
