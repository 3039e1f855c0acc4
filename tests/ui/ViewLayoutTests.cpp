#include "ViewTestSupport.h"

#include "ui/FittedContent.h"
#include "ui/MainScreenLayout.h"

#include <gtest/gtest.h>

#include <functional>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

// The main window shows the view through the fitted content: a 1380 x 860 window lays it out at
// 1187 x 740, a 2280 x 1480 window at the design size, drawn twice as large. The view puts every
// part where the layout says, for the sizes the program really uses and the harness size.
TEST (MainViewLayout, PartsGoWhereTheLayoutSaysAtTheSizesInUse)
{
    ViewRig r;
    auto& view = r.makeView();
    r.addShow ("Hall", 2);
    FittedContent content (view);

    struct Case { int windowW, windowH, viewW, viewH; float scale; bool dynamics, library, padEdit; };
    const Case cases[] = {
        { 1380, 860, 1187, 740, 1380.0f / 1187.0f, false, false, false },
        { 2280, 1480, 1140, 740, 2.0f, false, false, false },
        { 1024, 768, 1140, 855, 1024.0f / 1140.0f, true, false, false },
        { 2560, 1400, 1353, 740, 1400.0f / 740.0f, false, true, false },
        { 1380, 860, 1187, 740, 1380.0f / 1187.0f, false, false, true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.windowW) + "x" + juce::String (c.windowH));
        view.flags().dynamicsOpen = c.dynamics;
        view.flags().libraryShown = c.library;
        view.flags().padEditMode = c.padEdit;
        content.setSize (c.windowW, c.windowH);
        view.refresh();
        EXPECT_EQ (view.getWidth(), c.viewW);
        EXPECT_EQ (view.getHeight(), c.viewH);
        EXPECT_NEAR (view.getTransform().mat00, c.scale, 0.002f);

        MainScreenState state;
        state.dynamicsOpen = c.dynamics;
        state.libraryShown = c.library;
        state.padEditMode = c.padEdit;
        state.memoFolded = r.session->catalogState().ui.memoFolded;
        state.scrollBarThickness = byId<juce::Viewport> (view, "pad-editor-list").getScrollBarThickness();
        const auto layout = layoutMainScreen (view.getLocalBounds(), state);
        int checked = 0;
        for (const char* id : { "go", "brand", "repeat", "wave-outgoing", "wave-main", "wave-ready", "master-gain",
                                "pad-bus", "playlist-gain", "seek-back", "pause", "seek-forward", "auto-cue", "auto-ready",
                                "lock", "output-device", "master-limiter", "dynamics-fold", "vst-rack", "master-eq",
                                "playlist-eq", "settings", "wave-zoom", "row-density", "playlist-memo", "playlists",
                                "setlist", "library-button", "library-panel", "stop-pads", "pad-edit", "pad-1", "pad-9",
                                "pad-editor-list", "state-header", "gain-header" })
        {
            auto* part = findById (view, id);
            ASSERT_NE (part, nullptr) << id;
            const auto& place = layout[id];
            const bool shown = place.visible && ! place.bounds.isEmpty();
            EXPECT_EQ (part->isVisible(), shown) << id;
            if (shown)
            {
                EXPECT_EQ (part->getBounds(), place.bounds) << id;
                ++checked;
            }
        }
        EXPECT_GT (checked, 20);
        // In pad edit mode the pads sit in the editor's scrolled container.
        EXPECT_EQ (findById (byId<juce::Viewport> (view, "pad-editor-list"), "pad-5") != nullptr, c.padEdit);
    }
}

// Every part the layout places carries the layout's name as its component id, so that tests and
// tools driving the window from outside find each one by it, in either pad mode.
TEST (MainViewLayout, EveryPartTheLayoutPlacesIsFoundByItsName)
{
    ViewRig r;
    auto& view = r.makeView();
    view.setSize (1187, 740);
    for (const bool padEdit : { false, true })
    {
        SCOPED_TRACE (padEdit ? "pad edit" : "play");
        view.flags().padEditMode = padEdit;
        view.refresh();
        MainScreenState state;
        state.padEditMode = padEdit;
        state.memoFolded = r.session->catalogState().ui.memoFolded;
        state.scrollBarThickness = byId<juce::Viewport> (view, "pad-editor-list").getScrollBarThickness();
        const auto layout = layoutMainScreen (view.getLocalBounds(), state);
        ASSERT_GT (layout.parts.size(), 60u);
        for (const auto& [name, place] : layout.parts)
        {
            auto* part = findById (view, name);
            ASSERT_NE (part, nullptr) << name;
            EXPECT_EQ (part->getBounds(), place.bounds) << name;
        }
    }
}

// The screen's children lie in the order they are listed for the main view: the GO button at the
// back, then the lanes, the meter and so on, the pads in front; also once the view was built
// again in the other language.
TEST (MainViewLayout, TheChildrenLieInTheScreensZOrder)
{
    std::vector<juce::String> expected {
        "go", "wave-outgoing", "wave-main", "wave-ready", "meter", "master-gain", "pad-bus", "seek-back", "pause",
        "seek-forward", "auto-cue", "auto-ready", "repeat", "lock", "output-device", "brand", "output-label",
        "status-label", "playlists-heading", "playlist-title", "pad-brand", "pad-preset-label", "master-heading",
        "gr-readout", "safety-mark", "state-header", "number-header", "track-header", "duration-header", "gain-header",
        "row-density-label", "row-density", "pad-bus-heading", "wave-zoom-label",
        // the eighteen buttons from the playlists' fold button to PLAYLIST EQ
        "playlists-fold", "add-playlist-folder", "tree-remove", "add-audio", "row-up", "row-down", "remove-rows",
        "memo-fold", "pads-fold", "pad-mute-all", "stop-pads", "pad-edit", "master-limiter", "dynamics-fold",
        "vst-rack", "recover", "master-eq", "playlist-eq",
        "playlist-gain", "settings", "wave-zoom", "playlist-memo", "playlists", "setlist", "library-button",
        "library-panel", "cd-import", "cd-summary", "pad-editor-list",
        "limiter-label-0", "limiter-slider-0", "limiter-label-1", "limiter-slider-1", "limiter-label-2",
        "limiter-slider-2", "limiter-label-3", "limiter-slider-3",
        "pad-bank-1", "pad-bank-2", "pad-bank-3", "pad-bank-4", "pad-bank-5",
        "pad-1", "pad-2", "pad-3", "pad-4", "pad-5", "pad-6", "pad-7", "pad-8", "pad-9"
    };
    ViewRig r;
    auto& view = r.makeView();
    for (const bool rebuilt : { false, true })
    {
        SCOPED_TRACE (rebuilt ? "rebuilt" : "first built");
        if (rebuilt)
            view.refreshLanguage();
        std::vector<juce::String> ids;
        for (auto* child : view.getChildren())
            ids.push_back (child->getComponentID());
        EXPECT_EQ (ids, expected);
    }
}

// The layout runs again only when a fold or mode switch changed, not at every refresh.
TEST (MainViewLayout, RefreshLaysOutOnlyWhenASwitchChanged)
{
    ViewRig r;
    auto& view = r.makeView();
    const int before = view.layoutCount();
    view.refresh();
    view.refresh();
    EXPECT_EQ (view.layoutCount(), before);
    r.session->togglePadPanel();
    view.refresh();
    EXPECT_EQ (view.layoutCount(), before + 1);
    view.flags().dynamicsOpen = true;
    view.refresh();
    view.refresh();
    EXPECT_EQ (view.layoutCount(), before + 2);
}
// The view keeps its background (gradient and section boxes) as a picture: after a fold, a mode
// switch or a new window size the view looks exactly as a view built in that state, at the
// design scale and at the scale of a larger window.
TEST (MainViewLayout, TheKeptBackgroundFollowsFoldsModesAndTheWindowSize)
{
    ViewRig r;
    r.addShow ("Bench", 3);
    auto& view = r.makeView();
    FittedContent content (view);
    const auto picture = [] (juce::Component& c) { return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f); };
    const auto differing = [] (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return -1;
        int count = 0;
        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                count += a.getPixelAt (x, y) != b.getPixelAt (x, y) ? 1 : 0;
        return count;
    };

    const std::function<void()> changes[] = {
        [&] { r.session->togglePadPanel(); },
        [&] { r.session->togglePlaylistPanel(); },
        [&] { view.flags().dynamicsOpen = true; },
    };
    for (const auto& size : { juce::Point<int> (1140, 740), juce::Point<int> (1380, 860) })
    {
        content.setSize (size.x, size.y);
        view.refresh();
        const auto before = picture (content);
        for (const auto& change : changes)
        {
            change();
            view.refresh();
            VantrelView fresh (*r.session);
            fresh.stopTicking();
            fresh.flags().dynamicsOpen = view.flags().dynamicsOpen;
            fresh.refresh();
            FittedContent freshContent (fresh);
            freshContent.setSize (size.x, size.y);
            EXPECT_EQ (differing (picture (content), picture (freshContent)), 0) << size.x << "x" << size.y;
        }
        EXPECT_GT (differing (picture (content), before), 0);
        r.session->togglePadPanel();
        r.session->togglePlaylistPanel();
        view.flags().dynamicsOpen = false;
    }
}
} // namespace
} // namespace vantrel
