#pragma once
// The text caret of every text field: it blinks only while its field has the keyboard focus.

#include <juce_gui_basics/juce_gui_basics.h>

namespace vantrel
{
/** JUCE's caret blinks on a timer from the first time its field places it, focused or not, and
    never stops: a window with a memo, a search box or a name field would wake several times a
    second with nothing to show. This caret is the same bar, shown while its field has the
    focus (and no modal window blocks it) and blinking at the same 380 ms; without the focus it is
    hidden and its timer stands still. */
class FocusCaret final : public juce::CaretComponent
{
public:
    explicit FocusCaret (juce::Component* keyFocusOwner);

    void setCaretPosition (const juce::Rectangle<int>& characterArea) override;
    bool isBlinking() const  { return blink.isTimerRunning(); }

    static constexpr int blinkMs = 380;

private:
    bool hasFocus() const;
    bool shouldBeShown() const;

    struct Blink final : juce::Timer
    {
        explicit Blink (FocusCaret& c) : caret (c) {}
        void timerCallback() override;
        FocusCaret& caret;
    };

    juce::Component* owner;
    Blink blink { *this };
};
} // namespace vantrel
