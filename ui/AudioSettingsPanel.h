#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <vector>

namespace vantrel
{
/** What one output device offers: its rates, buffer sizes and output channel names. */
using OutputDeviceCapabilities = JuceAudioAdapter::DeviceCapabilities;

/** The credit block of the audio drivers this build plays through (JACK and ALSA): a drawn
    plug mark, the title and the credit text. */
class AsioBranding : public juce::Component
{
public:
    AsioBranding();

    void resized() override;
    /** The plug mark is drawn in the palette colours (ui/Theme.h) the block finds. */
    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;
    void colourChanged() override;

private:
    juce::ImageComponent logo;
    juce::Label title, credit;
};

/** The audio output choice: type, device, rate, buffer and channel pair, applied through the
    coordinator. It reads the devices and their capabilities when built and on each type or
    device change, never in the background; the applied state lives in the coordinator. */
class AudioSettingsPanel : public juce::Component
{
public:
    explicit AudioSettingsPanel (SessionCoordinator& coordinator);
    ~AudioSettingsPanel() override;

    /** Lists the devices of the selected type; `initial` preselects the open output (nothing is
        shown as chosen while no output is open). */
    void refreshDevices (bool initial);
    /** Fills the rate, buffer and pair boxes for the selected device: from the applied choice
        when `initial` (a saved value the device does not confirm is offered marked as such),
        else from the automatic choices. */
    void refreshCapabilities (bool initial);
    /** The choice on screen; empty type, name and id while no device is selected. */
    OutputDeviceSettings selectedSettings() const;

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Called when the panel is done (a change was applied). */
    std::function<void()> onDone;

private:
    void apply();
    void driverSettings();
    /** The driver button serves the applied output, whatever the boxes show. */
    void updateDriverButton();

    AsioBranding branding;
    SessionCoordinator& coordinator;
    juce::StringArray typeNames;
    std::vector<OutputDeviceSettings> devices;
    OutputDeviceCapabilities capabilities;
    bool rateUnconfirmed = false, bufferUnconfirmed = false;

    std::array<juce::Label, 5> rowLabels;
    juce::ComboBox typeBox, deviceBox, rateBox, bufferBox, pairBox;
    juce::Label typeHint, applyResult, systemSounds;
    juce::TextButton driverButton, applyButton;
};
} // namespace vantrel
