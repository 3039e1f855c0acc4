#include "ui/Meters.h"
#include "ui/PixelProbe.h"
#include "ui/ProductInfoWindow.h"
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
// The owner sets a palette id on the widget: the widget paints with that colour, and with the
// theme's palette value where the owner sets nothing. The master meter's bars, 22 wide from x 1.
TEST_F (ThemeTest, OwnerRecoloursAPaintedWidgetThroughPaletteIds)
{
    const juce::Colour mark { 0xFFFF00FF };
    const struct { const char* what; float peakDb; int colourId; juce::Colour themed; } cases[] {
        { "idle bar", -120.0f, fieldColourId, colours::field },
        { "safe level", -9.0f, meterSafeColourId, colours::green },
        { "near full", -1.0f, meterNearColourId, colours::gold },
        { "over", 1.0f, meterOverColourId, colours::red },
    };
    for (const auto& c : cases)
        for (const bool recoloured : { false, true })
        {
            juce::Component owner;
            owner.setLookAndFeel (&theme);
            owner.setSize (56, 93);
            Meter meter;
            if (recoloured)
                meter.setColour (c.colourId, mark);
            meter.setBounds (owner.getLocalBounds());
            owner.addAndMakeVisible (meter);
            meter.setValues ({ c.peakDb, c.peakDb, 0.0f, 0.0f });
            const auto name = juce::String ("owner-meter-") + c.what + (recoloured ? "-recoloured" : "");
            const auto pixel = test::snapshotOf (meter, name).getPixelAt (12, 60);
            owner.removeChildComponent (&meter);
            owner.setLookAndFeel (nullptr);
            EXPECT_TRUE (test::near (pixel, recoloured ? mark : c.themed)) << name;
        }
}

// A label a panel builds before it is placed takes the palette of the theme it is placed under,
// follows a change of that theme, and follows an id its owner sets on the panel.
TEST_F (ThemeTest, PanelLabelsFollowTheThemeTheyArePlacedUnder)
{
    const juce::Colour otherText { 0xFF336699 }, ownersText { 0xFF996633 };
    struct OtherTheme : Theme
    {
        explicit OtherTheme (juce::Colour text)  { setColour (textColourId, text); }
    } other (otherText);

    juce::Component window;
    ProductInfoPanel panel;
    auto* name = dynamic_cast<juce::Label*> (panel.findChildWithID ("product-info-name"));
    ASSERT_NE (name, nullptr);
    const auto nameColour = [name] { return name->findColour (juce::Label::textColourId); };

    window.setLookAndFeel (&other);
    window.addAndMakeVisible (panel);
    EXPECT_EQ (nameColour(), otherText) << "placed under another theme";
    window.setLookAndFeel (&theme);
    EXPECT_EQ (nameColour(), colours::text) << "the window's theme changed to the program's";
    panel.setColour (textColourId, ownersText);
    EXPECT_EQ (nameColour(), ownersText) << "the owner set the id on the panel";

    window.removeChildComponent (&panel);
    window.setLookAndFeel (nullptr);
}
} // namespace
} // namespace vantrel
