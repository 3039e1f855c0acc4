// A JUCE test plug-in with a memory: the stereo input delayed by 4800 samples (100 ms at 48 kHz),
// that latency reported, no parameter, no editor. Audio it took in before a pause of the host's
// blocks comes out after them, as a reverb's or an echo's tail would, unless the host restarts its
// processing in between (the VST3 wrapper resets the processor when processing stops).
#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <array>
#include <vector>

namespace
{
constexpr int delaySamples = 4800;

class OrvaneTestDelay final : public juce::AudioProcessor
{
public:
    OrvaneTestDelay()
        : AudioProcessor (BusesProperties()
                              .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                              .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
    {
        setLatencySamples (delaySamples);
        for (auto& line : lines)
            line.assign ((size_t) delaySamples, 0.0f);
    }

    const juce::String getName() const override { return "OrvaneTestDelay"; }

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override
    {
        return layouts.getMainInputChannelSet() == juce::AudioChannelSet::stereo()
            && layouts.getMainOutputChannelSet() == juce::AudioChannelSet::stereo();
    }

    // The memory is kept across prepares: only the audio itself or a reset clears it.
    void prepareToPlay (double, int) override {}
    void releaseResources() override {}

    void reset() override
    {
        for (auto& line : lines)
            std::fill (line.begin(), line.end(), 0.0f);
        position = 0;
    }

    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) override
    {
        const auto start = position;
        for (int channel = 0; channel < std::min (buffer.getNumChannels(), 2); ++channel)
        {
            auto& line = lines[(size_t) channel];
            auto* samples = buffer.getWritePointer (channel);
            auto at = start;
            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                std::swap (samples[i], line[at]);
                at = (at + 1) % (size_t) delaySamples;
            }
            position = at;
        }
    }

    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    double getTailLengthSeconds() const override { return 0.1; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock& destination) override { destination.setSize (1, true); }
    void setStateInformation (const void*, int) override {}

private:
    std::array<std::vector<float>, 2> lines;
    size_t position = 0;
};
} // namespace

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new OrvaneTestDelay();
}
