#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace vantrel
{
/** Wraps a framework WAV or AIFF reader, which takes its length from the header and silently
    fills the part of a truncated file that is missing with zeros. This reader knows how many
    frames the file really holds; a read that reaches beyond them fails instead. Reads within
    them go straight to the wrapped reader. A WAV file whose data chunk announces 0xFFFFFFFF
    bytes (written to a pipe) is not cut: its length is the frames the file holds. */
class TruncationCheckedReader : public juce::AudioFormatReader
{
public:
    /** framesInFile: how many of the reader's frames the file holds (at most its length). */
    TruncationCheckedReader (std::unique_ptr<juce::AudioFormatReader> wrapped, juce::int64 framesInFile);

    /** Opens format's reader for the file on a new stream, wrapped when the format can say
        where its sample data lie (WAV, AIFF); other readers are returned as they are. A file
        whose samples the framework cannot convert (a depth other than 8, 16, 24 or 32 bits,
        or frames beyond its read buffer) gets no reader: reading it would give silence or
        never end. */
    static std::unique_ptr<juce::AudioFormatReader> open (juce::AudioFormat& format, const juce::File& file);

    /** True when the file ends before the reader's last frame: some read will fail. */
    bool isTruncated() const noexcept  { return framesPresent < lengthInSamples; }

    bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                      juce::int64 startSampleInFile, int numSamples) override;

private:
    std::unique_ptr<juce::AudioFormatReader> inner;
    juce::int64 framesPresent;
};
} // namespace vantrel
