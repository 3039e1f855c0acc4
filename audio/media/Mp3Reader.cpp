#include "audio/media/Mp3Reader.h"

#include "audio/media/FfmpegStream.h"
#include "audio/media/Mp3Frames.h"

#include "platform/ThreadContract.h"

#include <algorithm>

namespace vantrel
{
namespace
{
/** The library's container kind for a stream of MPEG audio frames (layers I to III). */
constexpr const char* mpegAudioContainer = "mp3";

/** Enough of the file after its ID3v2 tags for the first frame search and the info frame. */
constexpr int infoSearchBytes = 8192;

bool isMpegAudio (AVCodecID codec)
{
    return codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_MP1;
}

/** The info frame of the stream, read from the first bytes after the ID3v2 tags however large
    they are (cover pictures make them hundreds of kilobytes). */
std::optional<Mp3InfoFrame> readInfoFrame (const juce::File& file)
{
    constexpr int tagsFollowed = 8;
    juce::FileInputStream in (file);
    if (! in.openedOk())
        return std::nullopt;

    std::vector<std::uint8_t> head ((std::size_t) infoSearchBytes);
    juce::int64 position = 0;
    for (int tags = 0;; ++tags)
    {
        if (! in.setPosition (position))
            return std::nullopt;
        const int got = in.read (head.data(), infoSearchBytes);
        if (got <= 0)
            return std::nullopt;
        const auto tag = id3v2TagLength (head.data(), (std::size_t) got);
        if (tag == 0 || tags == tagsFollowed)
            return findMp3InfoFrame (head.data(), (std::size_t) got);
        position += (juce::int64) tag;
    }
}

/** The samples of the frame a packet holds; 0 for a packet that is not a whole frame (a tag,
    damaged data, or a frame cut off by the end of the file). */
int samplesInPacket (const AVPacket& packet)
{
    const auto size = (std::size_t) std::max (0, packet.size);
    const auto header = readMp3FrameHeader (packet.data, size);
    if (! header || (std::size_t) header->frameBytes > size)
        return 0;
    return header->samplesPerFrame;
}

bool isInfoPacket (const AVPacket& packet)
{
    return isMp3InfoFrame (packet.data, (std::size_t) std::max (0, packet.size));
}

/** Decoded samples per channel that the file's whole frames hold, its info frame left out. */
juce::int64 countSamples (FfmpegStream& stream)
{
    juce::int64 samples = 0;
    bool first = true;
    while (av_read_frame (stream.container, stream.packet) >= 0)
    {
        if (stream.packet->stream_index == stream.streamIndex)
        {
            if (! (first && isInfoPacket (*stream.packet)))
                samples += samplesInPacket (*stream.packet);
            first = false;
        }
        av_packet_unref (stream.packet);
    }
    return samples;
}
} // namespace

Mp3Reader::Mp3Reader (std::unique_ptr<FfmpegStream> decoding, const juce::String& formatName)
    : juce::AudioFormatReader (nullptr, formatName),
      stream (std::move (decoding))
{
}

Mp3Reader::~Mp3Reader() = default;

std::unique_ptr<Mp3Reader> Mp3Reader::open (const juce::File& file)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    juce::int64 counted = 0;
    {
        FfmpegStream counting (nullptr);
        if (! counting.open (file, mpegAudioContainer) || ! isMpegAudio (counting.parameters().codec_id))
            return nullptr;
        counted = countSamples (counting);
    }

    auto decoding = std::make_unique<FfmpegStream> (nullptr);
    if (! decoding->open (file, mpegAudioContainer) || ! isMpegAudio (decoding->parameters().codec_id)
        || ! decoding->openDecoder (FfmpegStream::Trim::none))
        return nullptr;

    const AVCodecContext& codec = *decoding->codec;
    const int channels = codec.ch_layout.nb_channels;
    if (channels < 1 || channels > 2 || codec.sample_rate <= 0 || ! isConvertibleSampleFormat (codec.sample_fmt))
        return nullptr;

    const auto name = formatNameOfCodec (decoding->parameters().codec_id);
    std::unique_ptr<Mp3Reader> reader (new Mp3Reader (std::move (decoding), name));
    reader->sampleRate = (double) codec.sample_rate;
    reader->numChannels = (unsigned int) channels;
    reader->bitsPerSample = 32;
    reader->usesFloatingPointData = true;

    // The announced frame count is the length the file should have; without one, the frames
    // the file holds are all there is.
    const auto info = readInfoFrame (file);
    const bool announced = info && info->frames && *info->frames > 0;
    const juce::int64 total = announced ? (juce::int64) *info->frames * info->samplesPerFrame : counted;

    juce::int64 skip = 0;
    juce::int64 length = total;
    if (info && info->hasGapless)
    {
        skip = (juce::int64) info->encoderDelay + mp3DecoderDelay;
        length = std::min (total - info->encoderDelay - info->padding, total - skip);
        if (length <= 0)
        {
            skip = 0;   // an announcement that leaves nothing is not believed
            length = total;
        }
    }
    reader->skip = skip;
    reader->toSkip = skip;
    reader->lengthInSamples = length;
    reader->framesPresent = std::max<juce::int64> (0, counted - skip);
    return reader;
}

bool Mp3Reader::readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                             juce::int64 startSampleInFile, int numSamples)
{
    if (startSampleInFile != nextFrame)
        return false;
    nextFrame = startSampleInFile + numSamples;
    clearSamplesBeyondAvailableLength (destChannels, numDestChannels, startOffsetInDestBuffer, startSampleInFile,
                                       numSamples, lengthInSamples);

    const int outputs = std::min (numDestChannels, (int) numChannels);
    for (int done = 0; done < numSamples;)
    {
        if (pendingRead == pendingFrames)
        {
            if (! decodeNextFrame())
                return false;
            continue;
        }

        const int count = (int) std::min ((std::size_t) (numSamples - done), pendingFrames - pendingRead);
        for (int c = 0; c < outputs; ++c)
            if (destChannels[c] != nullptr)
                std::copy_n (pending.data() + (std::size_t) c * pendingFrames + pendingRead, count,
                             reinterpret_cast<float*> (destChannels[c]) + startOffsetInDestBuffer + done);
        pendingRead += (std::size_t) count;
        done += count;
    }
    return true;
}

bool Mp3Reader::decodeNextFrame()
{
    for (;;)
    {
        const int received = avcodec_receive_frame (stream->codec, stream->frame);
        if (received >= 0)
        {
            const bool taken = takeDecodedFrame();
            av_frame_unref (stream->frame);
            if (! taken)
                return false;
            if (pendingRead < pendingFrames)
                return true;
            continue;   // the whole frame lay in the leading skip
        }
        if (received != AVERROR (EAGAIN) || draining)
            return false;   // the end of the stream, or damaged data

        const int read = av_read_frame (stream->container, stream->packet);
        if (read == AVERROR_EOF)
        {
            draining = true;
            if (avcodec_send_packet (stream->codec, nullptr) < 0)
                return false;
            continue;
        }
        if (read < 0)
            return false;

        int sent = 0;
        if (stream->packet->stream_index == stream->streamIndex)
        {
            const bool isInfo = firstPacket && isInfoPacket (*stream->packet);
            firstPacket = false;
            if (! isInfo)
                sent = avcodec_send_packet (stream->codec, stream->packet);
        }
        av_packet_unref (stream->packet);
        if (sent < 0)
            return false;
    }
}

bool Mp3Reader::takeDecodedFrame()
{
    const AVFrame& frame = *stream->frame;
    if (frame.ch_layout.nb_channels != (int) numChannels || frame.sample_rate != (int) sampleRate || frame.nb_samples < 0)
        return false;   // the stream changed its shape mid-way

    const auto frames = (std::size_t) frame.nb_samples;
    pending.resize (frames * numChannels);
    float* planes[2] = { pending.data(), pending.data() + frames };
    if (! convertToPlanarFloat (frame, (int) numChannels, planes))
        return false;

    const auto skipped = (std::size_t) std::min<juce::int64> (toSkip, (juce::int64) frames);
    toSkip -= (juce::int64) skipped;
    pendingFrames = frames;
    pendingRead = skipped;
    return true;
}
} // namespace vantrel
