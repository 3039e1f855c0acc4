#include "ui/Meters.h"
#include "ui/PixelProbe.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

#include <limits>

namespace vantrel
{
namespace
{
TEST (MeterTexts, PeakGainReductionAndSafety)
{
    EXPECT_EQ (peakText (-3.24f, -7.0f), "-3.2 dBFS");
    EXPECT_EQ (peakText (-120.0f, std::numeric_limits<float>::quiet_NaN()), "-120.0 dBFS");

    const struct { float reduction; const char* text; } gr[] {
        { 3.24f, "GR  -3.2 dB" }, { 0.0f, "GR  0.0 dB" }, { std::numeric_limits<float>::infinity(), "GR  0.0 dB" },
    };
    for (const auto& c : gr)
        EXPECT_EQ (gainReductionText (c.reduction), c.text) << c.reduction;

    const struct { float reduction; bool shown; } safety[] {
        { 0.051f, true }, { 0.05f, false }, { 0.0f, false }, { std::numeric_limits<float>::quiet_NaN(), false },
    };
    for (const auto& c : safety)
        EXPECT_EQ (safetyMarkVisible (c.reduction), c.shown) << c.reduction;
}

// The master meter at its place on the main screen: bars 22 wide and 62 high from y 1.
TEST (MeterPaint, BarColourAndFillByPeak)
{
    juce::ScopedJuceInitialiser_GUI gui;
    const struct { float peakDb; juce::Colour bottom; bool full; } cases[] {
        { -1.0f, colours::gold, false },   { -9.0f, colours::green, false }, { 1.0f, colours::red, true },
        { -120.0f, colours::field, false },
        { std::numeric_limits<float>::quiet_NaN(), colours::field, false },
    };
    for (const auto& c : cases)
    {
        Meter meter;
        meter.setSize (56, 93);
        meter.setValues ({ c.peakDb, c.peakDb, 0.0f, 0.0f });
        const auto image = test::snapshotOf (meter, "meter-" + juce::String (c.peakDb, 1));
        for (const int barCentre : { 12, 43 })
        {
            EXPECT_TRUE (test::near (image.getPixelAt (barCentre, 60), c.bottom)) << c.peakDb << " at " << barCentre;
            EXPECT_EQ (test::near (image.getPixelAt (barCentre, 3), colours::red), c.full) << c.peakDb;
        }
    }
}
} // namespace
} // namespace vantrel
