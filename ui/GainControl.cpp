#include "ui/GainControl.h"

#include "session/GainRange.h"
#include "session/UiText.h"
#include "ui/Theme.h"

#include <cmath>

namespace vantrel
{
GainSlider::GainSlider()
{
    setSliderSnapsToMousePosition (false);
}

double GainSlider::snapValue (double attemptedValue, DragMode mode)
{
    // JUCE applies the press itself as a drag step, and so is a drag back to the press point:
    // both keep the value, which the skew's round trip and the 0.5 dB grid would move.
    if (mode != notDragging && pointerHeld && pointerAtPress)
        return valueAtPress;
    if (mode != notDragging)
        return std::round (2.0 * attemptedValue) * 0.5;
    return std::round (10.0 * attemptedValue) / 10.0;
}

double GainSlider::getValueFromText (const juce::String& text)
{
    auto t = text.trim();
    if (t.endsWith (getTextValueSuffix().trim()))
        t = t.dropLastCharacters (getTextValueSuffix().trim().length()).trim();
    while (t.startsWithChar ('+'))
        t = t.substring (1).trimStart();

    if (! t.initialSectionContainingOnly ("0123456789.,-").containsAnyOf ("0123456789"))
        return getValue();   // not a number: a typo must not jump the gain to 0 dB
    return Slider::getValueFromText (text);
}

void GainSlider::mouseDown (const juce::MouseEvent& e)
{
    pointerHeld = true;
    pointerAtPress = true;
    dragging = false;
    valueAtPress = getValue();
    Slider::mouseDown (e);
}

void GainSlider::mouseDrag (const juce::MouseEvent& e)
{
    // A hand seldom lets go on the pixel it pressed: a slip is still a press. The distance is the
    // hand's own, in whole screen pixels, however the view is scaled: the way back from the
    // scaled view to the screen leaves a pointer a hair short of a whole pixel at some places.
    if (! dragging && e.eventComponent != nullptr)
    {
        const auto now = e.eventComponent->localPointToGlobal (e.position).roundToInt();
        const auto pressed = e.eventComponent->localPointToGlobal (e.mouseDownPosition).roundToInt();
        if ((float) now.getDistanceSquaredFrom (pressed) < dragThreshold * dragThreshold)
            return;
    }
    dragging = true;

    const auto travel = isHorizontal() ? e.position.x - e.mouseDownPosition.x : e.position.y - e.mouseDownPosition.y;
    pointerAtPress = travel == 0.0f;
    Slider::mouseDrag (e);
}

void GainSlider::mouseUp (const juce::MouseEvent& e)
{
    juce::Component::SafePointer<GainSlider> self (this);
    Slider::mouseUp (e);
    if (self != nullptr)
        pointerHeld = false;
}

void GainSlider::resized()
{
    Slider::resized();
    const auto track = std::abs (getPositionOfValue (getMaximum()) - getPositionOfValue (getMinimum()));
    setMouseDragSensitivity (juce::jmax (1, juce::roundToInt (track)));
}

void GainSlider::colourChanged()
{
    for (auto* child : getChildren())
        if (auto* box = dynamic_cast<juce::Label*> (child))
        {
            box->setColour (juce::Label::outlineColourId, findColour (textBoxOutlineColourId));
            box->setColour (juce::Label::textColourId, findColour (textBoxTextColourId));
            box->setColour (juce::Label::backgroundColourId, findColour (textBoxBackgroundColourId));
        }
    repaint();
}

GainControl::GainControl (bool isVertical) : vertical (isVertical)
{
    slider.setSliderStyle (vertical ? juce::Slider::LinearVertical : juce::Slider::LinearHorizontal);
    slider.setTextBoxStyle (juce::Slider::TextBoxRight, false, vertical ? 60 : 65, 22);
    slider.setTextValueSuffix (" dB");
    slider.setRange (minGainDb, maxGainDb, 0.1);
    slider.setSkewFactorFromMidPoint (-10.0);
    slider.setNumDecimalPlacesToDisplay (1);
    slider.setValue (0.0, juce::dontSendNotification);
    slider.setDoubleClickReturnValue (true, 0.0, juce::ModifierKeys::altModifier);
    slider.setScrollWheelEnabled (false);
    slider.setWantsKeyboardFocus (false);
    slider.setMouseClickGrabsKeyboardFocus (false);
    resetButton.setWantsKeyboardFocus (false);
    resetButton.setMouseClickGrabsKeyboardFocus (false);
    resetButton.setTooltip (translate ("0 dBへ戻す"));

    // JUCE also brackets a typed value with drag notifications; only a held pointer makes an
    // edit. Presses nest (a double-click inside its own press), hence the depth.
    slider.onDragStart = [this]
    {
        if (slider.pointerHeld && dragDepth++ == 0)
            beginEdit();
    };
    slider.onDragEnd = [this]
    {
        if (dragDepth > 0 && --dragDepth == 0)
            endEdit();
    };
    slider.onValueChange = [this]
    {
        if (onValue)
            onValue ((float) slider.getValue());
    };
    resetButton.onClick = [this]
    {
        juce::Component::SafePointer<GainControl> self (this);
        beginEdit();
        if (self != nullptr)
            slider.setValue (0.0, juce::sendNotificationSync);
        if (self != nullptr)
            endEdit();
    };

    addAndMakeVisible (slider);
    addAndMakeVisible (resetButton);
}

GainControl::~GainControl()
{
    // A slider destroyed mid-drag still reports the drag's end; by then the callbacks are gone.
    slider.onDragStart = nullptr;
    slider.onDragEnd = nullptr;
    slider.onValueChange = nullptr;
}

void GainControl::beginEdit()
{
    editing = true;
    if (onEditStart)
        onEditStart();
}

void GainControl::endEdit()
{
    juce::Component::SafePointer<GainControl> self (this);
    if (onEditEnd)
        onEditEnd (value());
    if (self != nullptr)
        editing = false;
}

bool GainControl::textBeingEdited() const
{
    for (auto* child : slider.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (child); label != nullptr && label->isBeingEdited())
            return true;

    auto* focused = juce::Component::getCurrentlyFocusedComponent();
    return focused != nullptr && isParentOf (focused) && dynamic_cast<juce::TextEditor*> (focused) != nullptr;
}

void GainControl::syncValue (float db)
{
    if (slider.pointerHeld || slider.isMouseButtonDown() || textBeingEdited())
        return;
    slider.setValue (db, juce::dontSendNotification);
}

void GainControl::setWheelActive (bool on)
{
    wheelActive = on;
    getProperties().set ("wheel-active", on);
    const auto wheelTarget = themeColour (*this, wheelTargetColourId);
    const auto accent = themeColour (*this, accentColourId);
    slider.setColour (juce::Slider::thumbColourId, on ? wheelTarget : accent);
    slider.setColour (juce::Slider::trackColourId, on ? wheelTarget.darker (0.3f) : accent.darker (0.5f));
    slider.setColour (juce::Slider::textBoxOutlineColourId, on ? wheelTarget : themeColour (*this, lineColourId));
    repaint();
}

bool GainControl::applyWheelStep (float notches)
{
    if (! std::isfinite (notches) || ! isEnabled() || textBeingEdited() || editing)
        return false;

    juce::Component::SafePointer<GainControl> self (this);
    beginEdit();
    if (self != nullptr)
        slider.setValue (slider.getValue() + 0.5 * notches, juce::sendNotificationSync);
    if (self != nullptr)
        endEdit();
    return true;
}

float GainControl::value() const
{
    return (float) slider.getValue();
}

void GainControl::paintOverChildren (juce::Graphics& g)
{
    if (! wheelActive)
        return;
    g.setColour (themeColour (*this, wheelTargetColourId));
    g.drawRoundedRectangle (getLocalBounds().toFloat().reduced (0.8f), 3.0f, 1.5f);
}

void GainControl::resized()
{
    const auto w = getWidth();
    const auto h = getHeight();

    if (vertical)
    {
        slider.setBounds (getLocalBounds());
        const auto cellW = juce::jmin (w, 60);
        const auto cellH = juce::jmin (h, 20);
        resetButton.setBounds (w - cellW + (cellW - 28) / 2, h - cellH + (cellH - 18) / 2, 28, 18);
        resetButton.toFront (false);
        return;
    }

    const auto strip = juce::jmin (w, 23);
    resetButton.setBounds (w - strip + 2, 3, juce::jmax (strip - 4, 0), h < 7 ? 0 : h - 6);
    slider.setBounds (0, 0, w - strip, h);
}
} // namespace vantrel
