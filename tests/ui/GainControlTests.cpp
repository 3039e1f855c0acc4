#include "ui/GainControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace vantrel
{
namespace
{
// What the owner of a control sees: each callback with the value and the editing flag.
struct Recorder
{
    struct Event { char kind; float value; bool editing; };
    std::vector<Event> events;

    void attach (GainControl& control)
    {
        control.onEditStart = [this, &control] { events.push_back ({ 's', 0.0f, control.editing }); };
        control.onValue = [this, &control] (float v) { events.push_back ({ 'v', v, control.editing }); };
        control.onEditEnd = [this, &control] (float v) { events.push_back ({ 'e', v, control.editing }); };
    }

    std::string kinds() const
    {
        std::string s;
        for (const auto& e : events)
            s += e.kind;
        return s;
    }
};

juce::MouseEvent mouseAt (juce::Component& target, float x, juce::Point<float> downAt, bool dragged)
{
    const auto now = juce::Time::getCurrentTime();
    return { juce::Desktop::getInstance().getMainMouseSource(), { x, downAt.y },
             juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier), juce::MouseInputSource::defaultPressure,
             0.0f, 0.0f, 0.0f, 0.0f, &target, &target, now, downAt, now, 1, dragged };
}

struct GainControlTest : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    GainControl control { false };
    Recorder owner;

    void SetUp() override
    {
        control.setSize (300, 30);
        owner.attach (control);
    }

    void press (float x) { control.slider.mouseDown (mouseAt (control.slider, x, { x, 15.0f }, false)); }
    void dragTo (float x, float from) { control.slider.mouseDrag (mouseAt (control.slider, x, { from, 15.0f }, true)); }
    void release (float x, float from) { control.slider.mouseUp (mouseAt (control.slider, x, { from, 15.0f }, true)); }

    juce::TextEditor* openTextBox()
    {
        control.slider.showTextBox();
        for (auto* child : control.slider.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
                if (auto* editor = label->getCurrentTextEditor())
                    return editor;
        return nullptr;
    }
};

TEST_F (GainControlTest, DragIsOneEditOfHalfDecibelSteps)
{
    press (40.0f);
    for (float x = 47.0f; x <= 160.0f; x += 9.0f)
        dragTo (x, 40.0f);
    release (160.0f, 40.0f);

    const auto kinds = owner.kinds();
    ASSERT_GE (kinds.size(), 4u);
    EXPECT_EQ (kinds.front(), 's');
    EXPECT_EQ (kinds.back(), 'e');
    EXPECT_EQ (kinds.find_first_of ("se", 1), kinds.size() - 1) << kinds;
    for (const auto& e : owner.events)
        if (e.kind == 'v')
        {
            EXPECT_NEAR (e.value * 2.0f, std::round (e.value * 2.0f), 1.0e-3f) << e.value;
            EXPECT_TRUE (e.editing);
        }
    // The end carries the final value, for an owner whose pending edit was closed meanwhile.
    EXPECT_FLOAT_EQ (owner.events.back().value, control.value());
    EXPECT_FALSE (control.editing);
}

TEST_F (GainControlTest, TypedValueIsOneValueOnTheTenthGridWithoutEdit)
{
    const struct { const char* typed; float shown; const char* kinds; } cases[] {
        { "-3.27", -3.3f, "v" }, { "+5 dB", 5.0f, "v" }, { "40", 12.0f, "v" },
        { "abc", -20.0f, "" },   { " dB", -20.0f, "" },
    };
    for (const auto& c : cases)
    {
        control.syncValue (-20.0f);
        owner.events.clear();
        auto* editor = openTextBox();
        ASSERT_NE (editor, nullptr);
        editor->setText (c.typed, false);
        control.slider.hideTextBox (false);

        EXPECT_EQ (owner.kinds(), c.kinds) << c.typed;
        EXPECT_NEAR (control.value(), c.shown, 1.0e-4f) << c.typed;
        if (! owner.events.empty())
        {
            EXPECT_NEAR (owner.events.front().value, c.shown, 1.0e-4f) << c.typed;
            EXPECT_FALSE (owner.events.front().editing) << c.typed;
        }
    }
}

TEST_F (GainControlTest, ResetAndWheelStepAreWholeEdits)
{
    const struct { float start; bool wheel; float notches; const char* kinds; float end; } cases[] {
        { 0.0f, false, 0.0f, "se", 0.0f },  { -6.0f, false, 0.0f, "sve", 0.0f },
        { -6.0f, true, 2.0f, "sve", -5.0f }, { 11.8f, true, 3.0f, "sve", 12.0f },
    };
    for (const auto& c : cases)
    {
        control.syncValue (c.start);
        owner.events.clear();
        if (c.wheel)
            EXPECT_TRUE (control.applyWheelStep (c.notches));
        else
        {
            auto& button = static_cast<juce::Component&> (control.resetButton);   // clicked as the mouse does
            button.mouseDown (mouseAt (control.resetButton, 5.0f, { 5.0f, 15.0f }, false));
            button.mouseUp (mouseAt (control.resetButton, 5.0f, { 5.0f, 15.0f }, false));
        }
        EXPECT_EQ (owner.kinds(), c.kinds) << c.start;
        EXPECT_NEAR (control.value(), c.end, 1.0e-4f) << c.start;
        EXPECT_FALSE (control.editing);
    }
}

TEST_F (GainControlTest, ModelValuesWaitWhileTheOperatorHoldsTheControl)
{
    const struct { const char* during; bool applied; } cases[] { { "drag", false }, { "typing", false }, { "idle", true } };
    for (const auto& c : cases)
    {
        control.syncValue (-20.0f);
        const std::string during = c.during;
        if (during == "drag")
            press (40.0f);
        if (during == "typing")
        {
            ASSERT_NE (openTextBox(), nullptr);
        }
        const auto before = control.value();
        owner.events.clear();

        control.syncValue (6.0f);
        EXPECT_EQ (control.value() == 6.0f, c.applied) << c.during;
        if (! c.applied)
        {
            EXPECT_FALSE (control.applyWheelStep (1.0f)) << c.during;
            EXPECT_FLOAT_EQ (control.value(), before) << c.during;
        }

        if (during == "drag")
            release (40.0f, 40.0f);
        if (during == "typing")
            control.slider.hideTextBox (true);
    }
}

// A press binds the wheel and changes nothing, wherever it lands, and so does a hand that slips
// less than 4 px (on the screen) before the release; from 4 px on the thumb follows the pointer's
// whole travel from the press point, pixel for pixel, and back where the press was it is the value
// it began with; a double-click still returns to 0 dB. Horizontal (rows, playlist, pads) and
// vertical (master) controls alike, and a control drawn at twice its size.
TEST (GainControlPress, APressOrASlipChangesNothingAndADragKeepsTheThumbUnderThePointer)
{
    juce::ScopedJuceInitialiser_GUI gui;
    const auto byThumb = NAN;   // the end is where the thumb follows the pointer to, within 1 px
    const struct
    {
        bool vertical;
        float scale;
        float start;
        float besideThumb;   // px from the thumb along the track, where the press lands
        float along, across; // the pointer's travel from the press point before the release, px
        bool back;           // and back to where the press was
        bool doubleClick;
        const char* kinds;
        float end;
    } cases[] {
        { false, 1.0f, 0.0f, -25.0f, 0.0f, 0.0f, false, false, "se", 0.0f },
        { false, 1.0f, -3.3f, 20.0f, 0.0f, 0.0f, false, false, "se", -3.3f },      // off the drag's grid
        { true, 1.0f, -20.0f, -20.0f, 0.0f, 0.0f, false, false, "se", -20.0f },
        { false, 1.0f, 0.0f, -25.0f, 1.0f, 0.0f, false, false, "se", 0.0f },       // slips
        { false, 1.0f, -3.3f, 0.0f, -2.0f, 0.0f, false, false, "se", -3.3f },
        { false, 1.0f, 0.0f, 10.0f, 3.0f, 2.0f, false, false, "se", 0.0f },
        { true, 1.0f, -20.0f, -20.0f, -3.0f, 0.0f, false, false, "se", -20.0f },
        { false, 2.0f, 0.0f, 0.0f, 1.5f, 0.0f, false, false, "se", 0.0f },         // 3 px on the screen
        { false, 1.0f, 0.0f, 0.0f, 4.0f, 0.0f, false, false, "sve", byThumb },     // drags
        { false, 2.0f, 0.0f, 0.0f, 2.5f, 0.0f, false, false, "sve", byThumb },     // 5 px on the screen
        { false, 1.0f, -30.0f, -10.0f, 40.0f, 0.0f, false, false, "sve", byThumb },
        { false, 1.0f, 0.0f, 5.0f, -40.0f, 3.0f, false, false, "sve", byThumb },
        { true, 1.0f, -60.0f, -5.0f, -40.0f, 0.0f, false, false, "sve", byThumb },
        { true, 1.0f, 6.0f, 5.0f, 40.0f, 0.0f, false, false, "sve", byThumb },
        { false, 1.0f, -3.3f, 10.0f, -30.0f, 0.0f, true, false, "sve", -3.3f },
        { false, 1.0f, -6.0f, 10.0f, 0.0f, 0.0f, false, true, "sesve", 0.0f },
    };
    // The sizes of a row's control and of the master's: tracks of 78 and 73 px.
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.vertical ? "vertical " : "horizontal ") + juce::String (c.start) + " dB x" + juce::String (c.scale)
                      + ", press at " + juce::String (c.besideThumb) + " px, by " + juce::String (c.along) + " / " + juce::String (c.across));
        GainControl control (c.vertical);
        control.setSize (c.vertical ? 87 : 190, c.vertical ? 97 : 29);
        control.setTransform (juce::AffineTransform::scale (c.scale));
        control.syncValue (c.start);
        Recorder owner;
        owner.attach (control);

        auto& slider = control.slider;
        const auto along = [&] (float offset, float across)
        {
            const auto thumb = slider.getPositionOfValue (c.start) + offset;
            return c.vertical ? juce::Point<float> { 10.0f + across, thumb } : juce::Point<float> { thumb, 15.0f + across };
        };
        const auto down = along (c.besideThumb, 0.0f);
        const auto at = [&] (juce::Point<float> p, int clicks)
        {
            const auto now = juce::Time::getCurrentTime();
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p,
                                     juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier), juce::MouseInputSource::defaultPressure,
                                     0.0f, 0.0f, 0.0f, 0.0f, &slider, &slider, now, down, now, clicks, p != down);
        };

        slider.mouseDown (at (down, 1));
        if (c.along != 0.0f || c.across != 0.0f)
        {
            // The hand's way there, a pixel at a time.
            const auto steps = std::max (1, (int) std::ceil (std::max (std::abs (c.along), std::abs (c.across))));
            for (int step = 1; step <= steps; ++step)
                slider.mouseDrag (at (along (c.besideThumb + c.along * (float) step / (float) steps, c.across * (float) step / (float) steps), 1));
            if (c.back)
                slider.mouseDrag (at (down, 1));
        }
        if (c.doubleClick)
        {
            slider.mouseUp (at (down, 1));
            slider.mouseDown (at (down, 2));
            slider.mouseDoubleClick (at (down, 2));
        }
        slider.mouseUp (at (down, c.doubleClick ? 2 : 1));

        auto kinds = owner.kinds();   // one 'v' for each run of values
        kinds.erase (std::unique (kinds.begin(), kinds.end(), [] (char a, char b) { return a == 'v' && b == 'v'; }), kinds.end());
        EXPECT_EQ (kinds, c.kinds);
        const auto end = control.value();
        if (std::isnan (c.end))
        {
            EXPECT_NEAR (slider.getPositionOfValue (end) - slider.getPositionOfValue (c.start), c.along, 1.0f) << end << " dB";
            EXPECT_NEAR (end * 2.0f, std::round (end * 2.0f), 1.0e-3f) << end;
        }
        else
        {
            EXPECT_NEAR (end, c.end, 1.0e-4f);
        }
        // The press left no edit open: the next notch is one 0.5 dB step from there.
        EXPECT_TRUE (control.applyWheelStep (1.0f));
        EXPECT_NEAR (control.value(), end + 0.5f, 1.0e-4f);
    }
}

TEST_F (GainControlTest, DisabledControlIgnoresWheelAndDestroyedControlCallsNoOne)
{
    control.setEnabled (false);
    EXPECT_FALSE (control.applyWheelStep (1.0f));
    EXPECT_EQ (owner.kinds(), "");

    auto doomed = std::make_unique<GainControl> (false);
    doomed->setSize (300, 30);
    int ends = 0;
    doomed->onEditEnd = [&ends] (float) { ++ends; };
    doomed->slider.mouseDown (mouseAt (doomed->slider, 40.0f, { 40.0f, 15.0f }, false));
    doomed.reset();   // mid-drag, as when the row showing it goes away
    EXPECT_EQ (ends, 0);
}
} // namespace
} // namespace vantrel
