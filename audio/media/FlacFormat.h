#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

namespace vantrel
{
/** The FLAC format ("FLAC file", .flac) for reading, on the system's libFLAC. Unlike the
    framework's own FLAC reader, whose reads fill damaged or missing audio with silence and
    report success, its reader's reads fail when the decoder reports an error (lost sync, a
    bad frame header, a CRC mismatch), when frames go missing or when the stream ends before
    the length its header announces. Writing is not offered. */
class FlacFormat : public juce::AudioFormat
{
public:
    FlacFormat();

    juce::Array<int> getPossibleSampleRates() override;
    juce::Array<int> getPossibleBitDepths() override;
    bool canDoStereo() override  { return true; }
    bool canDoMono() override    { return true; }
    bool isCompressed() override { return true; }

    juce::AudioFormatReader* createReaderFor (juce::InputStream* sourceStream, bool deleteStreamIfOpeningFails) override;

    juce::AudioFormatWriter* createWriterFor (juce::OutputStream*, double, unsigned int, int,
                                              const juce::StringPairArray&, int) override
    {
        return nullptr;
    }
    using juce::AudioFormat::createWriterFor;
};
} // namespace vantrel
