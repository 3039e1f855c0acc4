// What wakes the program while nothing happens: the main view ticks and paints on a frame clock of
// its own, each window's own frames stand by, and tooltips, text carets and the hidden library
// panel keep no timer of their own at rest.

#include "ViewTestSupport.h"

#include "ui/DisplayRates.h"
#include "ui/FocusCaret.h"
#include "ui/LibraryPanel.h"
#include "ui/Theme.h"
#include "ui/TooltipsOnDemand.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

/** A top-level component on the private display, with the given child laid over all of it. */
struct TopWindow
{
    explicit TopWindow (juce::Component& child, juce::Rectangle<int> bounds = { 100, 100, 320, 200 },
                        int style = juce::ComponentPeer::windowIsTemporary)
    {
        top.addAndMakeVisible (child);
        top.setBounds (bounds);
        child.setBounds (top.getLocalBounds());
        top.addToDesktop (style);
        top.setVisible (true);
    }
    ~TopWindow()  { top.removeFromDesktop(); }

    juce::Component top;
};

bool toggledOn (VantrelView& view, const char* id)
{
    return byId<juce::Button> (view, id).getToggleState();
}

/** Counts a window's own frames (JUCE's frame timer of its peer) as they come to a component in it. */
struct OwnFrames
{
    explicit OwnFrames (juce::Component& c)
        : attachment (&c,
                      [this]
                      {
                          lastMs = juce::Time::getMillisecondCounterHiRes();
                          if (count++ == 0)
                              firstMs = lastMs;
                      })
    {
    }
    double perSecond() const  { return (count - 1) * 1000.0 / (lastMs - firstMs); }

    int count = 0;
    double firstMs = 0.0, lastMs = 0.0;
    juce::VBlankAttachment attachment;
};

/** A child that asks to be painted again at every paint, as a moving picture does. */
struct MovingPicture : juce::Component
{
    void paint (juce::Graphics& g) override
    {
        ++paints;
        g.fillAll (juce::Colour ((juce::uint32) (0xff000000u | (juce::uint32) paints)));
        repaint();
    }
    int paints = 0;
};

TEST (IdleWakeups, TheMainViewTicksAndPaintsEveryWindowOnItsOwnFramesWhileTheWindowsOwnFramesStandBy)
{
    ViewRig r;
    ASSERT_TRUE (r.display.running()) << r.display.problem;
    r.addShow ("Show", 2);
    r.view = std::make_unique<VantrelView> (*r.session);
    auto& view = *r.view;
    ASSERT_TRUE (view.paintsOnItsOwnFrames());
    EXPECT_FALSE (view.ticksOnTimer()) << "a timer ticks beside the frames";

    // The frames tick with or without a window of the view's own.
    const bool before = toggledOn (view, "auto-cue");
    r.session->toggleAutoCue();
    EXPECT_TRUE (runMessagesUntil ([&] { return toggledOn (view, "auto-cue") != before; })) << "no tick came";

    // Another window, its own frames slowed as the main window slows them: what it asks to
    // repaint is painted at the view's frames too, not only at its own (each of which paints it
    // at most once; a starved message thread may serve one of each at a time).
    slowWindowFrameTimers();
    MovingPicture picture;
    TopWindow window (picture);
    ASSERT_TRUE (waitUntilMapped (window.top, r.display));
    OwnFrames ownFrames (picture);
    ASSERT_TRUE (runMessagesUntil ([&] { return ownFrames.count > 1 && picture.paints > 0; }));
    const int paintsBefore = picture.paints, ownBefore = ownFrames.count;
    ASSERT_TRUE (runMessagesUntil ([&] { return ownFrames.count >= ownBefore + 4; }));
    const int paints = picture.paints - paintsBefore, own = ownFrames.count - ownBefore;
    EXPECT_GE (paints, own + 2) << "the window is painted only at its own frames";
    // A busy machine makes its own frames fewer, never more.
    EXPECT_LE (ownFrames.perSecond(), standInFrameRateHz + 1.0) << "its own frames run at full rate";
    EXPECT_EQ (view.frameRateHz(), 60.0) << "a second window is up: its frames are not smooth";

    // Alone again and untouched, the view's frames come at the tick's rate.
    window.top.removeFromDesktop();
    EXPECT_TRUE (runMessagesUntil ([&] { return view.frameRateHz() == 30.0; })) << "the frames stay fast at rest";

    // Stopped (as a quit that was prepared stops it): no timer takes the ticks over.
    view.stopTicking();
    EXPECT_FALSE (view.ticksOnTimer());
    EXPECT_TRUE (view.paintsOnItsOwnFrames());
}

TEST (IdleWakeups, ADisplayThatReportsNoRateGivesItsWindowsTheCommonFrameRate)
{
    // The private X server reports no refresh rate, as a virtual or remote display does.
    ViewRig r;
    ASSERT_TRUE (r.display.running()) << r.display.problem;
    assumeCommonRefreshRates();

    juce::Component child;
    TopWindow window (child);
    ASSERT_TRUE (waitUntilMapped (window.top, r.display));
    OwnFrames frames (child);

    // Frames over at least a second: a busy machine makes them fewer, never more.
    ASSERT_TRUE (runMessagesUntil ([&] { return frames.count > 1 && frames.lastMs - frames.firstMs >= 1000.0; }));
    const auto perSecond = frames.perSecond();
    EXPECT_LE (perSecond, assumedRefreshRateHz + 5.0) << "the window's frames run at JUCE's 100 Hz";
    EXPECT_GE (perSecond, 1.0);
}

TEST (IdleWakeups, TheLibraryPanelRunsItsTimerOnlyWhileItIsShown)
{
    ViewRig r;
    ASSERT_TRUE (r.display.running()) << r.display.problem;
    auto& view = r.makeView();
    auto& panel = byId<LibraryPanel> (view, "library-panel");
    struct Case
    {
        bool shown;
    };
    for (const auto c : { Case { false }, Case { true }, Case { false }, Case { true } })
    {
        view.flags().libraryShown = c.shown;
        view.refresh();
        EXPECT_EQ (panel.isVisible(), c.shown);
        EXPECT_EQ (panel.isTimerRunning(), c.shown) << "shown " << c.shown;
    }
}

TEST (IdleWakeups, ACaretBlinksOnlyWhileItsFieldHasTheFocus)
{
    PrivateGuiDisplay display;
    ASSERT_TRUE (display.running()) << display.problem;
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();
    // The main view's theme and the default look of the other windows both make the caret.
    Theme theme;
    for (auto* look : { static_cast<juce::LookAndFeel*> (&theme), &juce::LookAndFeel::getDefaultLookAndFeel() })
    {
        juce::TextEditor field, other;
        field.setLookAndFeel (look);
        juce::Component both;
        both.addAndMakeVisible (field);
        both.addAndMakeVisible (other);
        TopWindow window (both);
        field.setBounds (0, 0, 320, 100);
        other.setBounds (0, 100, 320, 100);
        ASSERT_TRUE (waitUntilMapped (window.top, display));
        field.setText ("memo text", false);

        FocusCaret* caret = nullptr;
        std::function<void (juce::Component&)> find = [&] (juce::Component& c) {
            for (auto* child : c.getChildren())
            {
                if (auto* found = dynamic_cast<FocusCaret*> (child); found != nullptr && caret == nullptr)
                    caret = found;
                else
                    find (*child);
            }
        };
        find (field);
        ASSERT_NE (caret, nullptr) << "the field's caret is JUCE's own, which blinks for ever";
        EXPECT_FALSE (caret->isBlinking()) << "an unfocused field's caret blinks";
        EXPECT_FALSE (caret->isVisible());

        field.grabKeyboardFocus();
        ASSERT_TRUE (runMessagesUntil ([&] { return field.hasKeyboardFocus (false); }));
        EXPECT_TRUE (caret->isBlinking());
        // It blinks: hidden and shown in turn.
        const bool shown = caret->isVisible();
        EXPECT_TRUE (runMessagesUntil ([&] { return caret->isVisible() != shown; }));
        EXPECT_TRUE (runMessagesUntil ([&] { return caret->isVisible() == shown; }));

        other.grabKeyboardFocus();
        ASSERT_TRUE (runMessagesUntil ([&] { return other.hasKeyboardFocus (false); }));
        EXPECT_FALSE (caret->isBlinking()) << "the caret blinks on after its field lost the focus";
        EXPECT_FALSE (caret->isVisible());
        field.setLookAndFeel (nullptr);
    }
}

juce::TooltipWindow* shownTip()
{
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* tip = dynamic_cast<juce::TooltipWindow*> (desktop.getComponent (i)); tip != nullptr && tip->isVisible())
            return tip;
    return nullptr;
}

TEST (IdleWakeups, TooltipsComeWithThePointerAndGoOnceItRests)
{
    PrivateGuiDisplay display;
    ASSERT_TRUE (display.running()) << display.problem;
    if (! xdotoolInstalled())
        GTEST_SKIP() << "xdotool is not installed";
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();
    juce::TextButton button ("Tipped");
    button.setTooltip ("A tip");
    TopWindow window (button, { 100, 100, 320, 200 }, 0);
    ASSERT_TRUE (waitUntilMapped (window.top, display));
    focusWindow (display, window.top);   // a tip shows only in the active application
    ASSERT_TRUE (juce::Process::isForegroundProcess());

    double nowMs = 1000.0;
    constexpr int restMs = 5000;
    TooltipsOnDemand tips (650, restMs, [&] { return nowMs; });
    tips.followWindows();
    EXPECT_FALSE (tips.isActive()) << "a tooltip window before the pointer came";

    for (int round = 0; round < 2; ++round)
    {
        // The pointer comes: the tip window is made and shows the tip after its delay.
        ASSERT_TRUE (realPointerAt (display, window.top.getScreenBounds().getCentre().translated (round * 5, 0)));
        EXPECT_TRUE (tips.isActive());
        EXPECT_TRUE (runMessagesUntil ([] { return shownTip() != nullptr; })) << "round " << round;
        if (auto* tip = shownTip(); tip != nullptr)
        {
            EXPECT_EQ (tip->getTipFor (button), "A tip");
        }

        // Not yet rested: it stays.
        nowMs += restMs - 1;
        tips.followWindows();
        EXPECT_TRUE (tips.isActive());
        // Rested: the tip and its window go, and nothing polls the pointer any more.
        nowMs += 1;
        tips.followWindows();
        EXPECT_FALSE (tips.isActive()) << "round " << round;
        runPendingMessages();
        EXPECT_EQ (shownTip(), nullptr);
    }
}
} // namespace
} // namespace vantrel
