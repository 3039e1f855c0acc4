#include "ui/RefusedTyping.h"

#include "ui/KeyRouting.h"

namespace vantrel
{
void RefusedTyping::arm (juce::Component& target, std::function<void()> why)
{
    box = &target;
    sayWhy = std::move (why);
    isTyping = false;
    if (sayWhy)
        sayWhy();
}

void RefusedTyping::disarm()
{
    box = nullptr;
    sayWhy = nullptr;
    isTyping = false;
}

bool RefusedTyping::typesText (const juce::KeyPress& key)
{
    const auto mods = key.getModifiers();
    if (mods.isCtrlDown() || mods.isAltDown() || mods.isCommandDown())
        return false;
    if (key.getKeyCode() == juce::KeyPress::backspaceKey)
        return true;
    const auto c = key.getTextCharacter();
    return c >= ' ' && c != 127;
}

bool RefusedTyping::keep (const juce::KeyPress& key)
{
    if (box == nullptr)
        return false;
    // A field that has the keyboard now (a dialog's, an editor opened since) takes its own keys.
    if (! box->isShowing() || textInputActive() || juce::Component::getCurrentlyModalComponent() != nullptr)
    {
        disarm();
        return false;
    }
    const auto code = key.getKeyCode();
    const bool ends = code == juce::KeyPress::returnKey || code == juce::KeyPress::tabKey || code == juce::KeyPress::escapeKey;
    if (isTyping)
    {
        // What was typed is refused once more, also by the key that would have entered it.
        if ((ends || typesText (key)) && sayWhy)
            sayWhy();
        if (ends)
            disarm();
        return true;
    }
    if (typesText (key))
    {
        isTyping = true;
        if (sayWhy)
            sayWhy();
        return true;
    }
    disarm();   // a key of the show, or Escape before any typing: it goes its usual way
    return false;
}
} // namespace vantrel
