#pragma once
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace vantrel
{
/** The keys an operator types at a text box that refuses editing (a locked value box, title,
    note or memo): such a box takes no keyboard focus, so without this its text would reach the
    show's shortcuts. From a click on the box until Escape, a click elsewhere or a key of the show:
    - a key that edits the text or moves within it (see editsText) is typing: it does nothing but
      say again why the box refuses;
    - once typing, every key is the box's (as in a text field with the focus, no shortcut runs),
      and the Return, Tab or Escape that ends the typing does nothing either;
    - before any typing, any other key (Return for GO, F-keys, Ctrl+Z) is the show's as always,
      and ends this: an accidental click on a locked box takes no key of the show away. */
class RefusedTyping
{
public:
    /** A click on `box`, which refuses editing; `sayWhy` puts the reason in the status line. */
    void arm (juce::Component& box, std::function<void()> sayWhy);
    /** Escape, a click elsewhere, a dialog or the window losing the keyboard. */
    void disarm();

    /** A key press at the main window, before the shortcuts: true when it was typed at the box
        (it then does nothing else). */
    bool keep (const juce::KeyPress& key);

    /** What a text field takes as editing its text or moving within it: characters (Space and
        the keypad's digits included), Backspace and Delete, the arrows, Home, End, Page Up and
        Page Down (with Shift or Ctrl too), Ctrl+A, Ctrl+C, Ctrl+X, Ctrl+V and Shift or Ctrl
        with Insert. */
    static bool editsText (const juce::KeyPress& key);

private:
    juce::Component::SafePointer<juce::Component> box;
    std::function<void()> sayWhy;
    bool isTyping = false;
};
} // namespace vantrel
