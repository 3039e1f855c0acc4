// The JUCE test plug-in: a stereo gain (output = input x gain, gain 0..2 with 1 at the
// parameter's middle), a 4-byte state, a reported latency of 128 samples and a generic editor.
#include <juce_audio_processors/juce_audio_processors.h>

namespace
{
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

    juce::AudioProcessorEditor* createEditor() override { return new juce::GenericAudioProcessorEditor (*this); }
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
};
} // namespace

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new OrvaneTestGain();
}
