// The panels' windows: a panel fitted to the screen's user area, one EQ window at a time, and the
// open windows surviving a language switch.
#include "ViewTestSupport.h"
#include "session/UiLanguage.h"
#include "ui/ViewWindows.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using Rect = juce::Rectangle<int>;
using namespace vantrel::test;

TEST (PanelFitting, APanelIsShrunkToTheUserAreaButNeverEnlarged)
{
    const struct
    {
        const char* name;
        int width, height;
        Rect area;
        float scale;
    } cases[] = {
        { "fits", 1000, 700, { 0, 0, 1920, 1040 }, 1.0f },
        { "small screen", 1400, 900, { 0, 0, 1280, 680 }, 600.0f / 900.0f },
        { "narrow screen", 1400, 500, { 0, 0, 740, 1200 }, 700.0f / 1400.0f },
        { "tiny screen: the target area stays 200 x 180", 1000, 900, { 0, 0, 100, 100 }, 0.2f },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        EXPECT_NEAR (fittedPanelScale (c.width, c.height, c.area), c.scale, 1e-4f);
    }
}

TEST (PanelFitting, AWindowIsClampedIntoTheUserAreaWithItsMargin)
{
    const struct
    {
        const char* name;
        Rect window, area, clamped;
    } cases[] = {
        { "inside", { 300, 200, 400, 300 }, { 0, 0, 1920, 1040 }, { 300, 200, 400, 300 } },
        { "over the left and top edges", { -50, 5, 400, 300 }, { 0, 0, 1920, 1040 }, { 20, 20, 400, 300 } },
        { "over the right and bottom edges", { 1700, 900, 400, 300 }, { 0, 0, 1920, 1040 }, { 1500, 720, 400, 300 } },
        { "a second screen", { 1900, 100, 400, 300 }, { 1920, 0, 1280, 1000 }, { 1940, 100, 400, 300 } },
        { "larger than the area: cut, at the margin", { 0, 0, 1400, 900 }, { 0, 0, 1024, 600 }, { 20, 20, 984, 560 } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        EXPECT_EQ (clampIntoUserArea (c.window, c.area), c.clamped);
    }
}

TEST (ViewWindows, AnEqWindowOpenedAgainIsANewWindowOnItsTarget)
{
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& view = r.makeView();
    view.openEq ("@master");
    auto* first = view.window ("eq-window");
    ASSERT_NE (first, nullptr);
    const juce::Component::SafePointer<juce::Component> firstAlive (first);
    EXPECT_TRUE (first->isShowing());
    EXPECT_EQ (dynamic_cast<juce::DocumentWindow*> (first)->getName(), "Vantrel! - MASTER EQ");

    view.openEq ("@master");
    EXPECT_EQ (firstAlive, nullptr) << "the first EQ window is still there";
    ASSERT_NE (view.window ("eq-window"), nullptr);
    int eqWindows = 0;
    for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
        eqWindows += juce::Desktop::getInstance().getComponent (i)->getComponentID() == "eq-window" ? 1 : 0;
    EXPECT_EQ (eqWindows, 1);
    EXPECT_EQ (view.eqTarget(), "@master");

    // Closing hides it; the view keeps it until the next EQ button replaces it.
    dynamic_cast<juce::DocumentWindow*> (view.window ("eq-window"))->closeButtonPressed();
    ASSERT_NE (view.window ("eq-window"), nullptr);
    EXPECT_FALSE (view.window ("eq-window")->isVisible());
}

TEST (ViewWindows, TheLanguageSwitchBuildsTheOpenWindowsAgainInTheNewLanguage)
{
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& view = r.makeView();
    view.openEq ("@master");
    byId<juce::Button> (view, "settings").triggerClick();
    byId<juce::Button> (view, "cd-import").triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return view.window ("settings-window") != nullptr && view.window ("cd-window") != nullptr; }));
    const auto cdTitle = dynamic_cast<juce::DocumentWindow*> (view.window ("cd-window"))->getName();
    dynamic_cast<juce::DocumentWindow*> (view.window ("cd-window"))->closeButtonPressed();
    const juce::Component::SafePointer<juce::Component> oldSettings (view.window ("settings-window"));

    setUiLanguage (true);
    view.timerCallback();
    const bool english = view.builtInEnglish();
    auto* eq = view.window ("eq-window");
    auto* settings = view.window ("settings-window");
    const bool cdBuilt = view.window ("cd-window") != nullptr;
    byId<juce::Button> (view, "cd-import").triggerClick();
    runMessagesUntil ([&] { return view.window ("cd-window") != nullptr; });
    const auto cdTitleAfter = view.window ("cd-window") != nullptr
                                ? dynamic_cast<juce::DocumentWindow*> (view.window ("cd-window"))->getName() : juce::String();
    setUiLanguage (false);

    ASSERT_TRUE (english);
    EXPECT_EQ (oldSettings, nullptr);
    ASSERT_NE (eq, nullptr);
    EXPECT_TRUE (eq->isVisible());
    EXPECT_EQ (view.eqTarget(), "@master");
    ASSERT_NE (settings, nullptr);
    EXPECT_TRUE (settings->isVisible());
    EXPECT_FALSE (cdBuilt) << "a hidden CD window counts as closed";
    EXPECT_NE (cdTitleAfter, cdTitle);
    EXPECT_TRUE (cdTitleAfter.startsWith ("Vantrel! - ")) << cdTitleAfter;
}

// A window the operator closed stays closed through a language switch, in both directions.
TEST (ViewWindows, TheLanguageSwitchLeavesClosedWindowsClosed)
{
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& view = r.makeView();
    const std::pair<const char*, std::function<void()>> windows[] = {
        { "eq-window", [&] { view.openEq ("@master"); } },
        { "vst-window", [&] { view.openMasterVst(); } },
        { "settings-window", [&] { byId<juce::Button> (view, "settings").triggerClick(); } },
        { "cd-window", [&] { byId<juce::Button> (view, "cd-import").triggerClick(); } },
    };
    for (const bool english : { true, false })
    {
        for (const auto& [id, open] : windows)
        {
            open();
            ASSERT_TRUE (runMessagesUntil ([&, id = id] { return view.window (id) != nullptr && view.window (id)->isVisible(); })) << id;
            dynamic_cast<juce::DocumentWindow*> (view.window (id))->closeButtonPressed();
        }
        setUiLanguage (english);
        view.timerCallback();
        runPendingMessages();
        EXPECT_EQ (view.builtInEnglish(), english);
        for (const auto& [id, open] : windows)
        {
            SCOPED_TRACE (std::string (id) + (english ? " to English" : " to Japanese"));
            const auto* window = view.window (id);
            EXPECT_TRUE (window == nullptr || ! window->isVisible()) << "a closed window opened again";
        }
    }
    setUiLanguage (false);
}
} // namespace
} // namespace vantrel
