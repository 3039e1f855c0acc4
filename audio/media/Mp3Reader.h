#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>
#include <vector>

namespace vantrel
{
struct FfmpegStream;

/** Reads an MPEG audio file (layer III, and layers I and II in an .mp3 file) through the
    decoding library. The audio starts at the first real sample and ends at the last one:
    the encoder delay and padding that a LAME info frame announces, and the decoder's own
    delay, are left out, so that starts, cue points and durations match the source that was
    encoded. The length is known when the reader opens: from the info frame's frame count
    when it has one, else from the frames the file holds. A read fails when the decoder
    reports damaged data. Reads must go forward in order from frame 0 (as every load reads);
    a read elsewhere fails. Loading thread. */
class Mp3Reader : public juce::AudioFormatReader
{
public:
    ~Mp3Reader() override;

    /** A reader for the file when its content is an MPEG audio stream; nullptr otherwise.
        Walks the stream's frames once to count them (no decoding). */
    static std::unique_ptr<Mp3Reader> open (const juce::File& file);

    /** Frames of decoded output that come before the first real sample. */
    juce::int64 leadingFramesSkipped() const noexcept  { return skip; }

    /** True when the file ends before the reader's last frame (the info frame announces more
        frames than the file holds): some read will fail. */
    bool isTruncated() const noexcept  { return framesPresent < lengthInSamples; }

    bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                      juce::int64 startSampleInFile, int numSamples) override;

private:
    Mp3Reader (std::unique_ptr<FfmpegStream> decoding, const juce::String& formatName);

    bool decodeNextFrame();
    bool takeDecodedFrame();

    std::unique_ptr<FfmpegStream> stream;
    std::vector<float> pending;            // the last decoded frame, one plane per channel
    std::size_t pendingFrames = 0;
    std::size_t pendingRead = 0;           // frames of pending already handed out
    juce::int64 skip = 0;
    juce::int64 toSkip = 0;                // of the leading frames, those not decoded yet
    juce::int64 framesPresent = 0;         // output frames the file holds, after the skip
    juce::int64 nextFrame = 0;             // the next frame a forward read continues from
    bool firstPacket = true;
    bool draining = false;
};
} // namespace vantrel
