#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace vantrel
{
// Where the program's popup menus open. Every menu goes through one of these two, so that none
// opens anywhere else. The menu is drawn at the scale of the component it belongs to (the main
// view and the panels are drawn scaled), and the toolkit flips or shifts it at a screen edge.
// Message thread only.

/** At the pointer of the press that opened the menu: its top-left corner there. `owner` is the
    long-lived component the menu belongs to (a list, a pad); the menu closes when it goes. */
juce::PopupMenu::Options menuAtPointer (juce::Component& owner, const juce::MouseEvent& press);

/** Under the button whose click opened the menu, at its left edge (over it at the screen's bottom). */
juce::PopupMenu::Options menuAtButton (juce::Component& button);
} // namespace vantrel
