#pragma once
// Message thread only.

#include "ui/AudioSettingsPanel.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace vantrel
{
/** The application's name and version with the audio driver's branding below. */
class ProductInfoPanel : public juce::Component
{
public:
    ProductInfoPanel();
    void paint (juce::Graphics& g) override;
    void resized() override;
    /** The name's colour follows the palette ids (ui/Theme.h) of the window the panel is in. */
    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;
    void colourChanged() override;

private:
    juce::Label name;
    AsioBranding branding;
};

/** The product information window, built on first use by its owner and shown again on later
    requests. Escape and the close button hide it; its title keeps the language it was built in.
    Kept above other windows: the settings window that opens it stays on top of everything. */
class ProductInfoWindow : public juce::DocumentWindow
{
public:
    ProductInfoWindow();

    bool keyPressed (const juce::KeyPress& key) override;
    void closeButtonPressed() override;
};
} // namespace vantrel
