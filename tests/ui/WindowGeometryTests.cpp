#include "ui/FittedContent.h"
#include "ui/WindowPlacement.h"

#include <gtest/gtest.h>

#include <optional>

namespace vantrel
{
namespace
{
using Rect = juce::Rectangle<int>;

TEST (WindowPlacement, CentresTheFramedWindowInTheUserArea)
{
    struct Case
    {
        const char* name;
        std::optional<Rect> area;
        FrameBorders borders;
        Rect content;
        int minimumWidth, minimumHeight;
    } cases[] = {
        // 1004 x 748 free; content 1004 - 16 by 748 - 40; the frame starts at (10, 10)
        { "1024x768", Rect (0, 0, 1024, 768), {}, { 18, 42, 988, 708 }, 988, 708 },
        // 2540 x 1380 free; the frame of 1396 x 900 sits (572, 240) further in
        { "2560x1400", Rect (0, 0, 2560, 1400), {}, { 590, 282, 1380, 860 }, 1140, 740 },
        // a second screen to the right: 1900 x 1060 free, margins (252, 80)
        { "second screen", Rect (1920, 0, 1920, 1080), {}, { 2190, 122, 1380, 860 }, 1140, 740 },
        // no display: the area 1380 x 900, 1360 x 880 free
        { "no display", std::nullopt, {}, { 18, 42, 1344, 840 }, 1140, 740 },
        { "frameless", Rect (0, 0, 1024, 768), { 0, 0, 0, 0 }, { 10, 10, 1004, 748 }, 1004, 740 },
        // too small for 200 x 180 of content: the frame overhangs the area evenly
        { "tiny", Rect (0, 0, 100, 100), {}, { -50, -28, 200, 180 }, 200, 180 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto placement = placeMainWindow (c.area, c.borders);
        EXPECT_EQ (placement.content, c.content);
        EXPECT_EQ (placement.minimumWidth, c.minimumWidth);
        EXPECT_EQ (placement.minimumHeight, c.minimumHeight);
        EXPECT_EQ (placement.maximumWidth, 3840);
        EXPECT_EQ (placement.maximumHeight, 2160);
    }
}

struct FittedContentTest : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    juce::Component view;
};

TEST_F (FittedContentTest, LaysTheViewOutAtTheDesignSizeAndScalesItToTheWindow)
{
    struct Case
    {
        int w, h;
        Rect viewBounds;
        float scale;
    } cases[] = {
        { 2280, 1480, { 0, 0, 1140, 740 }, 2.0f },
        { 1380, 860, { 0, 0, 1187, 740 }, 860.0f / 740.0f },     // 1380 * 740 / 860 = 1187.4
        { 1140, 1000, { 0, 0, 1140, 1000 }, 1.0f },
        { 1139, 740, { 0, 0, 1140, 741 }, 1139.0f / 1140.0f },   // a little below 1: 740 * 1140 / 1139 = 740.6
    };
    FittedContent content (view);
    ASSERT_EQ (view.getParentComponent(), &content);
    EXPECT_TRUE (view.isVisible());
    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::to_string (c.w) + "x" + std::to_string (c.h));
        content.setSize (c.w, c.h);
        EXPECT_EQ (view.getBounds(), c.viewBounds);
        EXPECT_FLOAT_EQ (view.getTransform().mat00, c.scale);
        EXPECT_FLOAT_EQ (view.getTransform().mat11, c.scale);
        EXPECT_EQ (view.getTransform().mat01, 0.0f);
    }

    content.setSize (2280, 1480);
    EXPECT_EQ (view.getBoundsInParent(), Rect (0, 0, 2280, 1480));   // drawn over the whole window

    content.setSize (0, 740);   // nothing to fit into: the view stays as it was
    EXPECT_EQ (view.getBounds(), Rect (0, 0, 1140, 740));
    EXPECT_FLOAT_EQ (view.getTransform().mat00, 2.0f);
}

TEST_F (FittedContentTest, LetsGoOfTheViewItDoesNotOwn)
{
    {
        FittedContent content (view);
        content.setSize (2280, 1480);
    }
    EXPECT_EQ (view.getParentComponent(), nullptr);
}
} // namespace
} // namespace vantrel
