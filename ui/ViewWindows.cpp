// The windows of the main view's panels and the routine that fits a panel to the screen.
#include "ui/ViewWindows.h"

#include "ui/Theme.h"

#include <cmath>

namespace vantrel
{
FittedPanel::FittedPanel (std::unique_ptr<juce::Component> panel, float scale)
    : child (std::move (panel)), factor (scale)
{
    addAndMakeVisible (*child);
    child->setTopLeftPosition (0, 0);
    child->setTransform (juce::AffineTransform::scale (factor));
    setSize (juce::roundToInt (child->getWidth() * factor), juce::roundToInt (child->getHeight() * factor));
}

FittedPanel::~FittedPanel()
{
    child.reset();
}

float fittedPanelScale (int panelWidth, int panelHeight, juce::Rectangle<int> area)
{
    if (panelWidth <= 0 || panelHeight <= 0)
        return 1.0f;
    return std::min ({ 1.0f, std::max ((float) area.getWidth() - 40.0f, 200.0f) / (float) panelWidth,
                       std::max ((float) area.getHeight() - 80.0f, 180.0f) / (float) panelHeight });
}

juce::Rectangle<int> clampIntoUserArea (juce::Rectangle<int> window, juce::Rectangle<int> area)
{
    const int roomWidth = std::max (0, area.getWidth() - 40), roomHeight = std::max (0, area.getHeight() - 40);
    const auto clampEdge = [] (int edge, int low, int room, int size) {
        const int high = size > room ? low : low + (room - size);
        return juce::jlimit (low, high, edge);
    };
    return { clampEdge (window.getX(), area.getX() + 20, roomWidth, window.getWidth()),
             clampEdge (window.getY(), area.getY() + 20, roomHeight, window.getHeight()),
             std::min (roomWidth, window.getWidth()), std::min (roomHeight, window.getHeight()) };
}

ViewWindow::ViewWindow (const juce::String& title, juce::LookAndFeel& lookAndFeel)
    : juce::DocumentWindow (title, themeColour (lookAndFeel, panelColourId), juce::DocumentWindow::closeButton, true)
{
    setLookAndFeel (&lookAndFeel);
    setUsingNativeTitleBar (false);
    setAlwaysOnTop (true);
}

ViewWindow::~ViewWindow()
{
    clearContentComponent();
    setLookAndFeel (nullptr);
}

void ViewWindow::closeButtonPressed()
{
    if (onClose)
        onClose();
    else
        setVisible (false);
}

juce::Component* ViewWindow::panel() const
{
    auto* fitted = dynamic_cast<FittedPanel*> (getContentComponent());
    return fitted != nullptr ? fitted->panel() : nullptr;
}

void showInFittedPanel (juce::DocumentWindow& window, std::unique_ptr<juce::Component> panel, juce::Component& anchor)
{
    juce::Rectangle<int> area (0, 0, 1380, 900);
    const auto anchorBounds = anchor.getScreenBounds();
    if (auto* display = juce::Desktop::getInstance().getDisplays().getDisplayForRect (anchorBounds))
        area = display->userArea;

    const auto scale = fittedPanelScale (panel->getWidth(), panel->getHeight(), area);
    window.setContentOwned (new FittedPanel (std::move (panel), scale), true);
    window.setResizable (false, false);
    window.centreAroundComponent (&anchor, window.getWidth(), window.getHeight());
    window.setBounds (clampIntoUserArea (window.getBounds(), area));
    window.setVisible (true);
}
} // namespace vantrel
