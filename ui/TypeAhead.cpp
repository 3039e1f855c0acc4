#include "ui/TypeAhead.h"

namespace vantrel
{
namespace
{
constexpr int focusAttemptMs = 20;
constexpr int focusAttempts = 500;   // ten seconds
} // namespace

TypeAhead::~TypeAhead()
{
    leaveWindow();
}

void TypeAhead::hold()
{
    JUCE_ASSERT_MESSAGE_THREAD
    isHolding = true;
}

void TypeAhead::release()
{
    JUCE_ASSERT_MESSAGE_THREAD
    leaveWindow();
    kept.clear();
    isHolding = false;
}

void TypeAhead::typeInto (juce::Component& dialogWindow, juce::TextEditor& dialogField)
{
    JUCE_ASSERT_MESSAGE_THREAD
    leaveWindow();
    isHolding = true;
    window = &dialogWindow;
    field = &dialogField;
    // The field's listener comes first in a walk that starts at the field; the window's sees the
    // walks that start at the window (the modal target while the field has no focus).
    dialogWindow.addKeyListener (this);
    dialogField.addKeyListener (this);
    focusAttemptsLeft = focusAttempts;
    focusField();
    if (! typing)
        startTimer (focusAttemptMs);
}

void TypeAhead::fieldClosing()
{
    JUCE_ASSERT_MESSAGE_THREAD
    leaveWindow();
}

void TypeAhead::leaveWindow()
{
    stopTimer();
    if (window != nullptr)
        window->removeKeyListener (this);
    if (field != nullptr)
        field->removeKeyListener (this);
    window = nullptr;
    field = nullptr;
    typing = false;
    closing = false;
}

bool TypeAhead::keep (const juce::KeyPress& key)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! isHolding || (typing && ! closing))
        return false;   // no dialog coming, or its field takes its keys itself
    kept.push_back (key);
    if (field != nullptr && ! typing)
        focusField();
    return true;
}

bool TypeAhead::keyPressed (const juce::KeyPress& key, juce::Component* origin)
{
    if (handingOver || field == nullptr)
        return false;
    auto* focused = juce::Component::getCurrentlyFocusedComponent();
    if (! typing && focused == field.getComponent())
        handOver();   // the focus came before the next attempt: the kept keys go first
    if (! typing)
    {
        kept.push_back (key);
        return true;
    }
    if (focused != field.getComponent() || origin != field.getComponent())
        return false;   // the dialog's own (a button with the focus, a key the field passed on)
    if (closing)
    {
        kept.push_back (key);
        return true;
    }
    closing = closesWindow (key);
    return false;
}

void TypeAhead::timerCallback()
{
    if (field == nullptr || typing || --focusAttemptsLeft <= 0)
    {
        stopTimer();
        return;
    }
    focusField();
    if (typing)
        stopTimer();
}

void TypeAhead::focusField()
{
    if (field == nullptr)
        return;
    if (field->isShowing() && ! field->hasKeyboardFocus (false))
        field->grabKeyboardFocus();   // refused until the X server shows the window
    if (field != nullptr && field->hasKeyboardFocus (false))
        handOver();
}

void TypeAhead::handOver()
{
    typing = true;
    const juce::ScopedValueSetter<bool> handing (handingOver, true);
    while (! kept.empty() && ! closing && field != nullptr && field->hasKeyboardFocus (false))
    {
        const auto key = kept.front();
        kept.pop_front();
        closing = closesWindow (key);
        // JUCE's own walk from the focused field: the field, then the window (its buttons' keys).
        if (auto* peer = field->getPeer())
            peer->handleKeyPress (key);
    }
}

bool TypeAhead::closesWindow (const juce::KeyPress& key) const
{
    if (key.isKeyCode (juce::KeyPress::escapeKey))
        return true;
    if (window == nullptr)
        return false;
    for (auto* child : window->getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child); button != nullptr && button->isRegisteredForShortcut (key))
            return true;
    return false;
}
} // namespace vantrel
