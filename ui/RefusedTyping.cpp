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

bool RefusedTyping::editsText (const juce::KeyPress& key)
{
    using K = juce::KeyPress;
    const auto mods = key.getModifiers();
    if (mods.isAltDown())
        return false;
    const auto code = key.getKeyCode();
    // The caret, the selection and deletion: as a text field takes them, with Shift or Ctrl too.
    for (const auto caretKey : { K::backspaceKey, K::deleteKey, K::leftKey, K::rightKey, K::upKey, K::downKey,
                                 K::homeKey, K::endKey, K::pageUpKey, K::pageDownKey })
        if (code == caretKey)
            return true;
    const bool ctrl = mods.isCtrlDown() || mods.isCommandDown();
    if (code == K::insertKey)
        return ctrl || mods.isShiftDown();   // copy, paste
    if (ctrl)   // select all, copy, cut, paste (JUCE reports a letter under Ctrl in either case)
        return juce::String ("aAcCxXvV").containsChar ((juce::juce_wchar) code);
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
        if ((ends || editsText (key)) && sayWhy)
            sayWhy();
        if (ends)
            disarm();
        return true;
    }
    if (editsText (key))
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
