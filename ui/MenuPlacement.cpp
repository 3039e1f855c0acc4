#include "ui/MenuPlacement.h"

namespace vantrel
{
juce::PopupMenu::Options menuAtPointer (juce::Component& owner, const juce::MouseEvent& press)
{
    // A target of one pixel at the pointer, in screen coordinates: the toolkit puts the menu's
    // top-left corner just below it. (A target component alone would put it beside the whole
    // component; an empty target puts it on whichever side faces the screen's centre.)
    const auto pointer = press.getScreenPosition();
    return juce::PopupMenu::Options().withTargetComponent (&owner).withTargetScreenArea ({ pointer.x, pointer.y, 1, 1 });
}

juce::PopupMenu::Options menuAtButton (juce::Component& button)
{
    return juce::PopupMenu::Options().withTargetComponent (&button);
}
} // namespace vantrel
