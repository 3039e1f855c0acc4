#pragma once

#include "audio/media/Mp3GaplessInfo.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace vantrel
{
/** Wraps the framework's MP3 reader, which ignores the encoder delay and padding that an
    encoder's info tag announces, so the audio starts about 1100 samples late and the file is
    too long. This reader starts at the first real sample and ends at the last one, so starts,
    cue points and durations match the source that was encoded. Reads must go forward in
    order from frame 0 (as every load reads); a read elsewhere fails. */
class GaplessMp3Reader : public juce::AudioFormatReader
{
public:
    GaplessMp3Reader (std::unique_ptr<juce::AudioFormatReader> wrapped, const Mp3GaplessInfo& info);

    /** Opens format's reader on a new stream and wraps it when the file announces its
        encoder delay; otherwise returns the reader as it is. */
    static std::unique_ptr<juce::AudioFormatReader> open (juce::AudioFormat& format, const juce::File& file);

    /** Frames of the wrapped reader's output that come before the first real sample. */
    juce::int64 leadingFramesSkipped() const noexcept  { return skip; }

    bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                      juce::int64 startSampleInFile, int numSamples) override;

private:
    bool skipLeadingFrames();

    std::unique_ptr<juce::AudioFormatReader> inner;
    juce::int64 skip = 0;
    juce::int64 nextFrame = 0;   // the next frame a forward read continues from
    bool skipped = false;
};
} // namespace vantrel
