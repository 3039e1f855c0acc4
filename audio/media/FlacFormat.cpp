#include "audio/media/FlacFormat.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <vector>

namespace vantrel
{
namespace
{
/** Reads a FLAC stream from a framework input stream. Decoded frames land in a small
    reservoir (one frame); reads copy from it and decode further frames in order. Any decoder
    error, a frame that does not start where the previous one ended, or an end of stream
    before the announced length makes this and every later read fail. */
class FlacStreamReader : public juce::AudioFormatReader
{
public:
    explicit FlacStreamReader (juce::InputStream* in) : juce::AudioFormatReader (in, "FLAC file")
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

        if (startSampleInFile != reservoirEnd() && ! seekTo (startSampleInFile))
            return false;

        while (numSamples > 0)
        {
            if (startSampleInFile >= reservoirEnd() && ! decodeNextFrame())
                return false;

            const auto offset = (std::size_t) (startSampleInFile - reservoirStart);
            const int available = (int) (reservoirEnd() - startSampleInFile);
            const int count = std::min (available, numSamples);
            for (int c = 0; c < numDestChannels; ++c)
                if (destChannels[c] != nullptr)
                    std::copy_n (reservoir[(std::size_t) c].data() + offset, count, destChannels[c] + startOffsetInDestBuffer);

            startOffsetInDestBuffer += count;
            startSampleInFile += count;
            numSamples -= count;
        }
        return true;
    }

private:
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

    bool seekTo (juce::int64 sample)
    {
        reservoirStart = sample;
        reservoirFrames = 0;
        if (! FLAC__stream_decoder_seek_absolute (decoder, (FLAC__uint64) sample))
            failed = true;
        return ! failed;
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

        const int shift = 32 - (int) bitsPerSample;
        for (std::size_t c = 0; c < numChannels; ++c)
        {
            auto& channel = reservoir[c];
            channel.resize ((std::size_t) frames);
            for (int i = 0; i < frames; ++i)
                channel[(std::size_t) i] = (int) ((std::uint32_t) buffer[c][i] << shift);
        }
        reservoirStart = first;
        reservoirFrames = frames;
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

    static FLAC__StreamDecoderReadStatus readCallback (const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* client)
    {
        auto& stream = *self (client).input;
        const int wanted = (int) std::min<size_t> (*bytes, 1 << 20);
        const int got = stream.read (buffer, wanted);
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
        return self (client).input->setPosition ((juce::int64) offset) ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
                                                                      : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    }

    static FLAC__StreamDecoderTellStatus tellCallback (const FLAC__StreamDecoder*, FLAC__uint64* offset, void* client)
    {
        *offset = (FLAC__uint64) self (client).input->getPosition();
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }

    static FLAC__StreamDecoderLengthStatus lengthCallback (const FLAC__StreamDecoder*, FLAC__uint64* length, void* client)
    {
        const auto total = self (client).input->getTotalLength();
        if (total < 0)
            return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
        *length = (FLAC__uint64) total;
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }

    static FLAC__bool eofCallback (const FLAC__StreamDecoder*, void* client)
    {
        return self (client).input->isExhausted();
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
    std::vector<std::vector<int>> reservoir;   // one decoded frame per channel, left-justified
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
