#include "audio/media/FlacFormat.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <vector>

namespace vantrel
{
namespace
{
/** Reads a FLAC stream from a framework input stream. The decoder writes each frame straight
    into the buffers of the read in progress; the part of a frame beyond that read waits in a
    small reservoir for the next one. A read that starts elsewhere seeks. Any decoder error, a
    frame that does not start where the previous one ended, or an end of stream before the
    announced length makes this and every later read fail. The stream is read in blocks of
    256 KiB through a buffer of its own. */
class FlacStreamReader : public juce::AudioFormatReader
{
public:
    explicit FlacStreamReader (juce::InputStream* in)
        : juce::AudioFormatReader (in, "FLAC file"), streamLength (in != nullptr ? in->getTotalLength() : -1), streamPosition (in != nullptr ? in->getPosition() : 0)
    {
        decoder = FLAC__stream_decoder_new();
        if (decoder == nullptr)
            return;

        if (FLAC__stream_decoder_init_stream (decoder, readCallback, seekCallback, tellCallback, lengthCallback,
                                              eofCallback, writeCallback, metadataCallback, errorCallback, this)
            != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return;

        if (! FLAC__stream_decoder_process_until_end_of_metadata (decoder) || ! hasStreamInfo || failed)
            return;

        if (lengthInSamples == 0)
            countFramesByDecoding();

        opened = ! failed;
    }

    ~FlacStreamReader() override
    {
        if (decoder != nullptr)
            FLAC__stream_decoder_delete (decoder);
    }

    bool isOpen() const  { return opened; }

    bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                      juce::int64 startSampleInFile, int numSamples) override
    {
        if (! opened || failed)
            return false;
        if (numSamples <= 0)
            return true;

        if (startSampleInFile >= reservoirStart && startSampleInFile <= reservoirEnd())
        {
            const auto offset = (std::size_t) (startSampleInFile - reservoirStart);
            const int count = std::min ((int) (reservoirEnd() - startSampleInFile), numSamples);
            for (int c = 0; c < numDestChannels; ++c)
                if (destChannels[c] != nullptr)
                    std::copy_n (reservoir[(std::size_t) c].data() + offset, count, destChannels[c] + startOffsetInDestBuffer);
            startOffsetInDestBuffer += count;
            startSampleInFile += count;
            numSamples -= count;
        }
        target = { destChannels, numDestChannels, startOffsetInDestBuffer, numSamples };

        if (numSamples > 0 && startSampleInFile != reservoirEnd())
            seekTo (startSampleInFile);
        while (! failed && target.remaining > 0)
            decodeNextFrame();
        target = {};
        return ! failed;
    }

private:
    /** Where the decoder writes the frames of the read in progress. */
    struct Target
    {
        int* const* channels = nullptr;
        int count = 0;
        int offset = 0;
        int remaining = 0;
    };

    static constexpr int readBufferBytes = 1 << 18;

    juce::int64 reservoirEnd() const  { return reservoirStart + reservoirFrames; }

    /** Decodes one more frame into the reservoir; false at an error or an early end. */
    bool decodeNextFrame()
    {
        const auto before = reservoirEnd();
        while (! failed && reservoirEnd() == before)
        {
            const auto state = FLAC__stream_decoder_get_state (decoder);
            if (state == FLAC__STREAM_DECODER_END_OF_STREAM || ! FLAC__stream_decoder_process_single (decoder))
                failed = true;
        }
        return ! failed;
    }

    /** The decoder then writes the frame holding sample, from that sample on. */
    void seekTo (juce::int64 sample)
    {
        reservoirStart = sample;
        reservoirFrames = 0;
        if (! FLAC__stream_decoder_seek_absolute (decoder, (FLAC__uint64) sample))
            failed = true;
    }

    /** The header gave no length: decode the whole stream once to count the frames, then
        return to the start. A damaged stream fails to open. */
    void countFramesByDecoding()
    {
        counting = true;
        if (! FLAC__stream_decoder_process_until_end_of_stream (decoder))
            failed = true;
        counting = false;
        lengthInSamples = countedFrames;
        if (! FLAC__stream_decoder_reset (decoder) || ! FLAC__stream_decoder_process_until_end_of_metadata (decoder))
            failed = true;
        reservoirStart = 0;
        reservoirFrames = 0;
    }

    void useFrame (const FLAC__Frame& frame, const FLAC__int32* const buffer[])
    {
        const int frames = (int) frame.header.blocksize;
        if (counting)
        {
            countedFrames += frames;
            return;
        }

        const auto first = (juce::int64) frame.header.number.sample_number;
        if (frame.header.number_type != FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER || first != reservoirEnd()
            || (int) frame.header.channels != (int) numChannels || (unsigned) frame.header.bits_per_sample != bitsPerSample
            || first + frames > lengthInSamples)
        {
            failed = true;
            return;
        }

        // Left-justified, as the framework's readers give integer samples.
        const int shift = 32 - (int) bitsPerSample;
        const int direct = std::min (frames, target.remaining);
        for (int c = 0; c < target.count && c < (int) numChannels; ++c)
            if (int* out = target.channels[c])
                leftJustify (buffer[c], out + target.offset, direct, shift);
        target.offset += direct;
        target.remaining -= direct;

        for (std::size_t c = 0; c < numChannels; ++c)
        {
            auto& channel = reservoir[c];
            if (channel.size() < (std::size_t) (frames - direct))
                channel.resize ((std::size_t) frames);
            leftJustify (buffer[c] + direct, channel.data(), frames - direct, shift);
        }
        reservoirStart = first + direct;
        reservoirFrames = frames - direct;
    }

    static void leftJustify (const FLAC__int32* in, int* out, int count, int shift)
    {
        for (int i = 0; i < count; ++i)
            out[i] = (int) ((std::uint32_t) in[i] << shift);
    }

    void useStreamInfo (const FLAC__StreamMetadata_StreamInfo& info)
    {
        if (hasStreamInfo)
            return;
        hasStreamInfo = true;
        sampleRate = info.sample_rate;
        bitsPerSample = info.bits_per_sample;
        numChannels = info.channels;
        lengthInSamples = (juce::int64) info.total_samples;
        usesFloatingPointData = false;
        if (bitsPerSample < 4 || bitsPerSample > 32 || numChannels < 1 || numChannels > 8)
            failed = true;
        else
            reservoir.resize (numChannels);
    }

    static FlacStreamReader& self (void* client)  { return *static_cast<FlacStreamReader*> (client); }

    /** Up to wanted bytes from the read buffer, refilled from the stream when empty; -1 at a
        stream error. */
    int readBuffered (FLAC__byte* out, int wanted)
    {
        if (bufferedRead == buffered.size())
        {
            buffered.resize ((std::size_t) readBufferBytes);
            const int got = input->read (buffered.data(), readBufferBytes);
            buffered.resize ((std::size_t) std::max (0, got));
            bufferedRead = 0;
            if (got <= 0)
                return got;
        }
        const int count = std::min (wanted, (int) (buffered.size() - bufferedRead));
        std::copy_n (buffered.data() + bufferedRead, count, out);
        bufferedRead += (std::size_t) count;
        streamPosition += count;
        return count;
    }

    static FLAC__StreamDecoderReadStatus readCallback (const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* client)
    {
        const int got = self (client).readBuffered (buffer, (int) std::min<size_t> (*bytes, 1 << 20));
        if (got < 0)
        {
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        *bytes = (size_t) got;
        return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderSeekStatus seekCallback (const FLAC__StreamDecoder*, FLAC__uint64 offset, void* client)
    {
        auto& reader = self (client);
        reader.buffered.clear();
        reader.bufferedRead = 0;
        if (! reader.input->setPosition ((juce::int64) offset))
        {
            reader.streamPosition = reader.input->getPosition();
            return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        }
        reader.streamPosition = (juce::int64) offset;
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }

    static FLAC__StreamDecoderTellStatus tellCallback (const FLAC__StreamDecoder*, FLAC__uint64* offset, void* client)
    {
        *offset = (FLAC__uint64) self (client).streamPosition;
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }

    static FLAC__StreamDecoderLengthStatus lengthCallback (const FLAC__StreamDecoder*, FLAC__uint64* length, void* client)
    {
        const auto total = self (client).streamLength;
        if (total < 0)
            return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
        *length = (FLAC__uint64) total;
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }

    /** The length taken when the reader opened: asking the stream would ask the file system
        before every read. */
    static FLAC__bool eofCallback (const FLAC__StreamDecoder*, void* client)
    {
        auto& reader = self (client);
        if (reader.bufferedRead < reader.buffered.size())
            return false;
        return reader.streamLength >= 0 ? reader.streamPosition >= reader.streamLength : reader.input->isExhausted();
    }

    static FLAC__StreamDecoderWriteStatus writeCallback (const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                         const FLAC__int32* const buffer[], void* client)
    {
        auto& reader = self (client);
        reader.useFrame (*frame, buffer);
        return reader.failed ? FLAC__STREAM_DECODER_WRITE_STATUS_ABORT : FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void metadataCallback (const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client)
    {
        if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO)
            self (client).useStreamInfo (metadata->data.stream_info);
    }

    static void errorCallback (const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client)
    {
        self (client).failed = true;
    }

    FLAC__StreamDecoder* decoder = nullptr;
    std::vector<std::vector<int>> reservoir;   // the rest of the last frame per channel, left-justified
    Target target;
    std::vector<FLAC__byte> buffered;          // read from the stream, not yet given to the decoder
    std::size_t bufferedRead = 0;
    juce::int64 streamLength;
    juce::int64 streamPosition;                // of the decoder: the stream's position less what is buffered
    juce::int64 reservoirStart = 0;
    int reservoirFrames = 0;
    juce::int64 countedFrames = 0;
    bool hasStreamInfo = false;
    bool counting = false;
    bool failed = false;
    bool opened = false;
};
} // namespace

FlacFormat::FlacFormat() : juce::AudioFormat ("FLAC file", ".flac") {}

juce::Array<int> FlacFormat::getPossibleSampleRates()
{
    return { 8000, 11025, 12000, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000 };
}

juce::Array<int> FlacFormat::getPossibleBitDepths()
{
    return { 16, 24, 32 };
}

juce::AudioFormatReader* FlacFormat::createReaderFor (juce::InputStream* sourceStream, bool deleteStreamIfOpeningFails)
{
    auto reader = std::make_unique<FlacStreamReader> (sourceStream);
    if (reader->isOpen())
        return reader.release();

    if (! deleteStreamIfOpeningFails)
        reader->input = nullptr;
    return nullptr;
}
} // namespace vantrel
