#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace vantrel
{
/** The main window's content: holds the view (not owned) as its only child, lays it out at the
    design size stretched to the window's aspect and draws it scaled to fill the window.
    Message thread only. */
class FittedContent : public juce::Component
{
public:
    static constexpr float designWidth = 1140.0f, designHeight = 740.0f;

    explicit FittedContent (juce::Component& view);
    ~FittedContent() override;

    void resized() override;

private:
    juce::Component::SafePointer<juce::Component> view;

    JUCE_DECLARE_NON_COPYABLE (FittedContent)
};
} // namespace vantrel
