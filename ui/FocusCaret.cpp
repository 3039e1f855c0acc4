#include "ui/FocusCaret.h"

namespace vantrel
{
FocusCaret::FocusCaret (juce::Component* keyFocusOwner) : juce::CaretComponent (keyFocusOwner), owner (keyFocusOwner) {}

bool FocusCaret::hasFocus() const
{
    return owner == nullptr || owner->hasKeyboardFocus (false);
}

bool FocusCaret::shouldBeShown() const
{
    return hasFocus() && (owner == nullptr || ! owner->isCurrentlyBlockedByAnotherModalComponent());
}

void FocusCaret::setCaretPosition (const juce::Rectangle<int>& characterArea)
{
    // A field places its caret whenever its text, its size or its focus changes, so a field that
    // gains or loses the focus starts or stops the blink here.
    if (hasFocus())
        blink.startTimer (blinkMs);
    else
        blink.stopTimer();
    setVisible (shouldBeShown());
    setBounds (characterArea.withWidth (2));
}

void FocusCaret::Blink::timerCallback()
{
    // A modal window over the field hides the caret while it blinks on; the focus lost stops it.
    caret.setVisible (caret.shouldBeShown() && ! caret.isVisible());
    if (! caret.hasFocus())
        stopTimer();
}
} // namespace vantrel
