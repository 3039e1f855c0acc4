#include "ui/ProductInfoWindow.h"

#include "session/UiLanguage.h"
#include "ui/Theme.h"

#include <algorithm>

namespace vantrel
{
ProductInfoPanel::ProductInfoPanel()
{
    setComponentID ("product-info-panel");
    name.setComponentID ("product-info-name");
    name.setText ("Vantrel! Ver.1.0.0", juce::dontSendNotification);
    name.setFont (juce::Font (22.0f, juce::Font::bold));
    addAndMakeVisible (name);
    addAndMakeVisible (branding);
    lookAndFeelChanged();
    setSize (650, 250);
}

void ProductInfoPanel::paint (juce::Graphics& g)
{
    g.fillAll (themeColour (*this, panelColourId));
}

void ProductInfoPanel::lookAndFeelChanged()
{
    name.setColour (juce::Label::textColourId, themeColour (*this, textColourId));
}

void ProductInfoPanel::parentHierarchyChanged()
{
    lookAndFeelChanged();
}

void ProductInfoPanel::colourChanged()
{
    lookAndFeelChanged();
}

void ProductInfoPanel::resized()
{
    const auto area = getLocalBounds();
    const int innerWidth = std::max (0, area.getWidth() - 32), innerHeight = std::max (0, area.getHeight() - 32);
    const int nameHeight = std::min (innerHeight, 38);
    name.setBounds (area.getX() + 16, area.getY() + 16, innerWidth, nameHeight);
    branding.setBounds (area.getX() + 16, area.getY() + 16 + nameHeight, innerWidth, innerHeight - nameHeight);
}

ProductInfoWindow::ProductInfoWindow()
    : juce::DocumentWindow (juce::String::fromUTF8 (uiLanguage() != 0 ? "Vantrel! — About" : "Vantrel! — 製品情報"),
                            themeColour (juce::LookAndFeel::getDefaultLookAndFeel(), panelColourId),
                            juce::DocumentWindow::closeButton, true)
{
    setComponentID ("product-info-window");
    setUsingNativeTitleBar (true);
    setResizable (false, false);
    setAlwaysOnTop (true);
    setWantsKeyboardFocus (true);
    setContentOwned (new ProductInfoPanel(), true);
    centreWithSize (getWidth(), getHeight());
    setVisible (true);
}

bool ProductInfoWindow::keyPressed (const juce::KeyPress& key)
{
    if (key != juce::KeyPress::escapeKey)
        return false;
    setVisible (false);
    return true;
}

void ProductInfoWindow::closeButtonPressed()
{
    setVisible (false);
}
} // namespace vantrel
