#include "ui/PixelProbe.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
struct ThemeTest : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    Theme theme;
};

juce::Colour nearestOf (juce::Colour pixel, std::initializer_list<juce::Colour> candidates)
{
    auto best = *candidates.begin();
    auto distance = [pixel] (juce::Colour c)
    {
        return std::abs (pixel.getRed() - c.getRed()) + std::abs (pixel.getGreen() - c.getGreen())
             + std::abs (pixel.getBlue() - c.getBlue());
    };
    for (auto c : candidates)
        if (distance (c) < distance (best))
            best = c;
    return best;
}

TEST_F (ThemeTest, TextButtonFontIsBoldAndCappedAtTwelve)
{
    const struct { int buttonHeight; float fontHeight; } cases[] { { 20, 8.0f }, { 25, 10.0f }, { 40, 12.0f } };
    for (const auto& c : cases)
    {
        juce::TextButton button ("x");
        const auto font = theme.getTextButtonFont (button, c.buttonHeight);
        EXPECT_FLOAT_EQ (font.getHeight(), c.fontHeight) << c.buttonHeight;
        EXPECT_TRUE (font.isBold());
    }
}

TEST_F (ThemeTest, ButtonOutlineFollowsIdToggleAndEnablement)
{
    const auto stopRed = colours::red.darker (0.5f);
    const struct { const char* id; bool on; bool enabled; juce::Colour outline; } cases[] {
        { "lock", true, true, colours::gold },       { "lock", false, true, colours::line },
        { "auto-cue", true, true, colours::accent }, { "stop-pads", true, true, stopRed },
        { "stop-lane", false, true, stopRed },       { "lock", true, false, colours::gold },
    };
    for (const auto& c : cases)
    {
        juce::TextButton button;
        button.setLookAndFeel (&theme);
        button.setComponentID (c.id);
        button.setToggleState (c.on, juce::dontSendNotification);
        button.setEnabled (c.enabled);
        button.setSize (80, 30);
        const auto name = juce::String ("button-") + c.id + (c.on ? "-on" : "-off") + (c.enabled ? "" : "-disabled");
        const auto edge = test::snapshotOf (button, name).getPixelAt (0, 15);
        button.setLookAndFeel (nullptr);

        // A disabled outline is faint: its colour mixes about half and half with the face.
        const auto seen = [&c] (juce::Colour outline)
        { return c.enabled ? outline : colours::panel.interpolatedWith (outline, 0.5f); };
        EXPECT_EQ (nearestOf (edge, { seen (colours::gold), seen (colours::accent), seen (colours::line), seen (stopRed) }),
                   seen (c.outline))
            << name;
        if (c.enabled)
            EXPECT_GT (edge.getFloatAlpha(), 0.8f) << name;
        else
            EXPECT_LT (edge.getFloatAlpha(), 0.6f) << name;
    }
}

// The mark is looked for along the slider's edge, away from JUCE's own track and thumb.
TEST_F (ThemeTest, ZeroDbMarkOnlyOnLinearGainRange)
{
    const struct { double min, max; juce::Slider::SliderStyle style; bool marked; } cases[] {
        { -60.0, 12.0, juce::Slider::LinearVertical, true },
        { -60.0, 12.0, juce::Slider::LinearHorizontal, true },
        { -60.0, 24.0, juce::Slider::LinearVertical, false },
        { -60.0, 12.0, juce::Slider::Rotary, false },
    };
    for (const auto& c : cases)
    {
        juce::Slider slider (c.style, juce::Slider::NoTextBox);
        slider.setLookAndFeel (&theme);
        slider.setRange (c.min, c.max, 0.1);
        slider.setSkewFactorFromMidPoint (-10.0);
        slider.setValue (c.min, juce::dontSendNotification);
        const auto horizontal = c.style == juce::Slider::LinearHorizontal;
        slider.setSize (horizontal ? 200 : 40, horizontal ? 40 : 200);
        const auto image = test::snapshotOf (slider, "slider-" + juce::String (c.max) + "-" + juce::String ((int) c.style));
        const auto zeroAt = (int) std::lround (slider.getPositionOfValue (0.0));
        slider.setLookAndFeel (nullptr);

        int found = -1;
        for (int i = 0; i < (horizontal ? image.getWidth() : image.getHeight()); ++i)
            if (test::near (horizontal ? image.getPixelAt (i, 4) : image.getPixelAt (1, i), colours::textDim, 40))
                found = i;

        if (c.marked)
            EXPECT_NEAR (found, zeroAt, 1) << c.max << " style " << (int) c.style;
        else
            EXPECT_EQ (found, -1) << c.max << " style " << (int) c.style;
    }
}
} // namespace
} // namespace vantrel
