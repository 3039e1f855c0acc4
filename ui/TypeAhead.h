#pragma once
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <deque>

namespace vantrel
{
/** The keys an operator types ahead of a dialog's text field: from the press that opens the
    dialog until the field has the keyboard focus, every key press offered (at the main window)
    or reaching the dialog's window is kept, in order, and none goes anywhere else. Once the field
    has the focus, the kept keys go into it one by one as if typed then, before any later key.
    A key the dialog closes on (Return, Escape) ends the hand-over: the keys after it wait for the
    next field (the dialog asked again) and are dropped when none comes. */
class TypeAhead : private juce::KeyListener,
                  private juce::Timer
{
public:
    TypeAhead() = default;
    ~TypeAhead() override;

    /** A press that opens a dialog with a field was taken (or may have been: a menu is up). */
    void hold();
    /** No field comes: the kept keys are dropped and keys go their usual way again. */
    void release();
    bool holding() const  { return isHolding; }
    /** True from typeInto until the field's window closes. */
    bool hasField() const  { return field != nullptr; }

    /** The dialog's window and its field, both shown or about to be: the field is asked for the
        keyboard focus until it has it (the window takes it only once the X server shows it; at
        most ten seconds); the kept keys then go in. Holds if not holding yet. */
    void typeInto (juce::Component& window, juce::TextEditor& field);
    /** The field's window closes: it takes no more keys, the kept ones wait for the next field. */
    void fieldClosing();

    /** A key press that reached the main window: true when it is kept for the field. */
    bool keep (const juce::KeyPress& key);

private:
    bool keyPressed (const juce::KeyPress& key, juce::Component* origin) override;
    void timerCallback() override;
    /** Gives the field the focus if it can take it now; hands the kept keys over once it has it. */
    void focusField();
    void handOver();
    /** A key one of the window's buttons answers, or Escape: the window closes on it. */
    bool closesWindow (const juce::KeyPress& key) const;
    void leaveWindow();

    juce::Component::SafePointer<juce::Component> window;
    juce::Component::SafePointer<juce::TextEditor> field;
    std::deque<juce::KeyPress> kept;
    bool isHolding = false;
    bool typing = false;       // the field had the focus and took the kept keys
    bool closing = false;      // a key the window closes on went in: the next keys wait
    bool handingOver = false;
    int focusAttemptsLeft = 0;

    JUCE_DECLARE_NON_COPYABLE (TypeAhead)
};
} // namespace vantrel
