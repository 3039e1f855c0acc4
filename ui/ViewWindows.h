#pragma once
// The windows of the main view's panels and the routine that fits a panel to the screen.
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

namespace vantrel
{
/** Holds one panel, which it owns, drawn through a scale transform; the panel keeps its own size. */
class FittedPanel : public juce::Component
{
public:
    FittedPanel (std::unique_ptr<juce::Component> panel, float scale);
    ~FittedPanel() override;

    juce::Component* panel() const  { return child.get(); }
    float scale() const  { return factor; }

private:
    std::unique_ptr<juce::Component> child;
    float factor;
};

/** The scale at which a panel of panelWidth x panelHeight is shown in a user area: never above 1,
    the panel shrunk to fit the area less 40 x 80, but the target never below 200 x 180 per axis. */
float fittedPanelScale (int panelWidth, int panelHeight, juce::Rectangle<int> userArea);

/** A window's bounds clamped into a user area with a margin of 20: each edge kept inside, and the
    size cut to the area less 40 where the window is larger. */
juce::Rectangle<int> clampIntoUserArea (juce::Rectangle<int> window, juce::Rectangle<int> userArea);

/** A window of the view: its title, the look-and-feel's panel colour (ui/Theme.h) behind, the
    close button only, always on top, the given look-and-feel, on the desktop. Closing runs `onClose` (by default it hides). */
class ViewWindow : public juce::DocumentWindow
{
public:
    ViewWindow (const juce::String& title, juce::LookAndFeel& lookAndFeel);
    ~ViewWindow() override;

    void closeButtonPressed() override;

    /** The panel inside, null before showInFittedPanel. */
    juce::Component* panel() const;

    std::function<void()> onClose;
};

/** Puts the panel into the window at the scale that fits the display holding the anchor's screen
    bounds (1380 x 900 at 0, 0 when there is none), centred on the anchor and clamped into the
    display's user area, then shows the window. */
void showInFittedPanel (juce::DocumentWindow& window, std::unique_ptr<juce::Component> panel, juce::Component& anchor);
} // namespace vantrel
