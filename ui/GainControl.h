#pragma once

// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace vantrel
{
/** The gain slider: 0.5 dB steps while dragged, 0.1 dB otherwise. A typed text that is not a
    number keeps the current value (JUCE would read it as 0 dB). A press changes nothing (it is
    how the operator binds the wheel), nor does a hand that slips less than `dragThreshold`
    screen pixels before the release. Once the pointer has gone that far from the press point the
    drag moves the value from where it was by the pointer's whole travel along the track, at the
    track's own scale, so the thumb moves as far as the pointer; back where the drag began it is
    the value it began with. */
class GainSlider : public juce::Slider
{
public:
    GainSlider();

    double snapValue (double attemptedValue, DragMode) override;
    double getValueFromText (const juce::String&) override;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    /** A drag across the whole track covers the whole range, so the thumb keeps to the pointer. */
    void resized() override;
    /** JUCE builds the value box anew on a colour change, which would drop the typing in it (or
        the press that opens it): the colours are painted, the box keeps its editor. */
    void colourChanged() override;

    /** How far, in screen pixels, the pointer must move from the press point before a press
        becomes a drag. */
    static constexpr float dragThreshold = 4.0f;

    /** True between a mouse press on the slider and its release. */
    bool pointerHeld = false;

private:
    double valueAtPress = 0.0;
    bool pointerAtPress = false;   // held where it was pressed, along the track
    bool dragging = false;         // the pointer has gone dragThreshold from the press point
};

/** The widget with which the operator sets a gain in dB (-60..+12). A drag, a reset click or a
    wheel step is one edit: onEditStart, any number of onValue, onEditEnd. A typed value is a
    single onValue with no edit around it. */
class GainControl : public juce::Component
{
public:
    explicit GainControl (bool vertical);
    ~GainControl() override;

    /** Shows a value of the model without notifying; ignored while the slider is held or its
        text box is being typed into. */
    void syncValue (float db);

    /** Marks the control as the mouse-wheel target (orange) or not. */
    void setWheelActive (bool on);

    /** One wheel step of the main view: applied only when the control is enabled, not being
        typed into and not in an edit; the value moves by 0.5 dB per notch as one whole edit.
        Returns whether it was applied. */
    bool applyWheelStep (float notches);

    /** The slider's current value in dB. */
    float value() const;

    void paintOverChildren (juce::Graphics&) override;
    void resized() override;

    GainSlider slider;
    juce::TextButton resetButton { "0" };
    std::function<void()> onEditStart;
    /** Called when an edit ends, with the final value in dB. An owner whose pending edit was
        closed under the control meanwhile (an undo or LIVE LOCK during the drag) commits this
        value as a normal edit, so the end of the drag still reaches the history and the disk. */
    std::function<void (float finalDb)> onEditEnd;
    std::function<void (float)> onValue;
    const bool vertical;
    bool editing = false;
    bool wheelActive = false;

private:
    bool textBeingEdited() const;
    void beginEdit();
    void endEdit();

    int dragDepth = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GainControl)
};
} // namespace vantrel
