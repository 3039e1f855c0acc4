#pragma once
// The program's tooltips, made while the pointer moves over its windows and let go once it rests.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <optional>
#include <vector>

namespace vantrel
{
/** A juce::TooltipWindow (a desktop tip after `delayMs`) that exists only while the pointer is
    used: JUCE's tooltip window polls the pointer ten times a second (itself, and through the
    desktop's global mouse listener) for as long as it lives, which would wake an idle program
    some twenty times a second. The tip window is made at the first mouse event in one of the
    program's windows and let go once no mouse event has come for `restMs`: a tip still shown
    then goes away, as a tip does that has been up for a while. The owner calls `followWindows`
    now and then (the main view at every tick): it watches the program's new windows and lets go
    of a rested tip window. */
class TooltipsOnDemand final : private juce::MouseListener
{
public:
    TooltipsOnDemand (int delayMs, int restMs, std::function<double()> clockMs = nullptr);
    ~TooltipsOnDemand() override;

    void followWindows();
    bool isActive() const  { return window.has_value(); }

private:
    void used();
    void mouseMove (const juce::MouseEvent&) override               { used(); }
    void mouseEnter (const juce::MouseEvent&) override              { used(); }
    void mouseExit (const juce::MouseEvent&) override               { used(); }
    void mouseDown (const juce::MouseEvent&) override               { used(); }
    void mouseDrag (const juce::MouseEvent&) override               { used(); }
    void mouseUp (const juce::MouseEvent&) override                 { used(); }
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override  { used(); }

    const int delayMs, restMs;
    std::function<double()> clock;
    std::optional<juce::TooltipWindow> window;
    double lastUseMs = 0.0;
    std::vector<juce::Component::SafePointer<juce::Component>> watched;
};
} // namespace vantrel
