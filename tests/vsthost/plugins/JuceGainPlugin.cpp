// The JUCE test plug-in: a stereo gain (output = input x gain, gain 0..2 with 1 at the
// parameter's middle), a 4-byte state, a reported latency of 128 samples, and an editor of solid
// colours (JuceGainEditorLook.h) whose size follows the "Editor large" parameter.
#include "../JuceGainEditorLook.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace
{
/** Paints the known colours; a 30 Hz timer (served by the host's run loop) follows the size
    parameter, so the editor asks its host for a new size whenever it changes. */
class GainEditor final : public juce::AudioProcessorEditor, private juce::Timer
{
public:
    GainEditor (juce::AudioProcessor& processor, juce::AudioParameterBool& largeParameter)
        : AudioProcessorEditor (processor), large (largeParameter)
    {
        setOpaque (true);
        followSizeParameter();
        startTimerHz (30);
    }

    void paint (juce::Graphics& g) override
    {
        g.fillAll (juce::Colour (0xff000000 | gain_editor::bodyColour));
        g.setColour (juce::Colour (0xff000000 | gain_editor::stripColour));
        g.fillRect (0, 0, getWidth(), gain_editor::stripHeight);
    }

private:
    void timerCallback() override { followSizeParameter(); }

    void followSizeParameter()
    {
        const auto isLarge = large.get();
        setSize (isLarge ? gain_editor::largeWidth : gain_editor::smallWidth,
                 isLarge ? gain_editor::largeHeight : gain_editor::smallHeight);
    }

    juce::AudioParameterBool& large;
};

class OrvaneTestGain final : public juce::AudioProcessor
{
public:
    OrvaneTestGain()
        : AudioProcessor (BusesProperties()
                              .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                              .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
    {
        gain = new juce::AudioParameterFloat (juce::ParameterID { "gain", 1 }, "Gain",
                                              juce::NormalisableRange<float> (0.0f, 2.0f), 1.0f);
        addParameter (gain);
        editorLarge = new juce::AudioParameterBool (juce::ParameterID { "editorLarge", 1 }, gain_editor::sizeParameterTitle, false);
        addParameter (editorLarge);
        setLatencySamples (128);
    }

    const juce::String getName() const override { return "OrvaneTestGain"; }

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override
    {
        return layouts.getMainInputChannelSet() == juce::AudioChannelSet::stereo()
            && layouts.getMainOutputChannelSet() == juce::AudioChannelSet::stereo();
    }

    void prepareToPlay (double, int) override {}
    void releaseResources() override {}

    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override
    {
        const auto factor = gain->get();

        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
        {
            auto* samples = buffer.getWritePointer (channel);

            for (int i = 0; i < buffer.getNumSamples(); ++i)
                samples[i] *= factor;
        }
    }

    juce::AudioProcessorEditor* createEditor() override { return new GainEditor (*this, *editorLarge); }
    bool hasEditor() const override { return true; }

    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}

    void getStateInformation (juce::MemoryBlock& destination) override
    {
        juce::MemoryOutputStream stream (destination, false);
        stream.writeFloat (gain->get());
    }

    void setStateInformation (const void* data, int size) override
    {
        if (size != 4)
            return;

        juce::MemoryInputStream stream (data, static_cast<size_t> (size), false);
        *gain = stream.readFloat();
    }

private:
    juce::AudioParameterFloat* gain = nullptr;
    juce::AudioParameterBool* editorLarge = nullptr;
};
} // namespace

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new OrvaneTestGain();
}
