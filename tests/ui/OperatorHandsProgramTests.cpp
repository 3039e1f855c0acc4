// The operator's hands on the real program: a value typed into a gain box with Return changes the
// gain and sounds nothing, a press on a gain control binds the wheel without moving the gain, one
// wheel notch moves the bound gain one 0.5 dB step wherever the pointer is, the keys typed at a box
// that LIVE LOCK protects reach no show key, and a name typed at once goes into its dialog. The
// program runs on a private X server (with and without a window manager) and a private JACK
// server; its saved files and its output tell what happened.
#include "tests/app/KeyShow.h"

#include "session/LibraryNames.h"
#include "session/SplitFiles.h"
#include "support/PrivateDisplay.h"
#include "ui/FittedContent.h"
#include "ui/GainControl.h"
#include "ui/MainScreenLayout.h"
#include "ui/RowsList.h"
#include "ui/Fonts.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace vantrel
{
namespace
{
using namespace vantrel::program_test;

/** The main window's parts in window coordinates, worked out from the layout the view uses at the
    window's size (the show's view state: panels open, memo folded, rows 49 px high). */
struct WindowParts
{
    float scale = 1.0f;
    MainScreenLayout layout;

    explicit WindowParts (juce::Point<int> windowSize, MainScreenState state = {})
    {
        scale = std::min ((float) windowSize.x / FittedContent::designWidth, (float) windowSize.y / FittedContent::designHeight);
        layout = layoutMainScreen ({ 0, 0, juce::roundToInt ((float) windowSize.x / scale), juce::roundToInt ((float) windowSize.y / scale) },
                                   state);
    }

    juce::Point<int> toWindow (juce::Point<int> view) const
    {
        return { juce::roundToInt ((float) view.x * scale), juce::roundToInt ((float) view.y * scale) };
    }

    juce::Point<int> centreOf (const char* part) const  { return toWindow (layout[part].bounds.getCentre()); }

    /** The value box of a horizontal gain control placed at `gain` (view coordinates). */
    static juce::Point<int> valueBoxOf (juce::Rectangle<int> gain)  { return { gain.getRight() - 23 - 32, gain.getCentreY() }; }
    static juce::Point<int> resetButtonOf (juce::Rectangle<int> gain)  { return { gain.getRight() - 11, gain.getCentreY() }; }

    juce::Rectangle<int> rowGain (int row) const
    {
        const auto list = layout["setlist"].bounds;
        const auto columns = rowColumns (list.getWidth(), 49);
        return columns.gain.withHeight (29).translated (list.getX(), list.getY() + row * 49 + 10);
    }

    juce::Point<int> rowTitle (int row) const
    {
        const auto list = layout["setlist"].bounds;
        const auto columns = rowColumns (list.getWidth(), 49);
        return toWindow ({ list.getX() + columns.title.getX() + 20, list.getY() + row * 49 + 24 });
    }

    juce::Point<int> masterBox() const
    {
        const auto gain = layout["master-gain"].bounds;   // vertical: its box is at the right, halfway down
        return toWindow ({ gain.getRight() - 30, gain.getCentreY() });
    }
};

struct HandsShow : KeyShow
{
    /** The show of three rows (600, 700 and 800 Hz), the first one `firstSeconds` long. */
    std::string begin (bool windowManager, double firstSeconds = 8.0)
    {
        const auto media = rig.temp / "media";
        std::vector<juce::File> rows;
        for (int i = 0; i < 3; ++i)
            rows.push_back (writeSines (media, "Row " + juce::String (i + 1) + ".wav", { 600.0 + 100.0 * i },
                                        i == 0 ? firstSeconds : 8.0));
        return beginOn (windowManager, rows, {}, {});
    }

    /** The show of these rows and pads, the window's parts laid out for `state`. */
    std::string beginOn (bool windowManager, const std::vector<juce::File>& rows, const std::vector<juce::File>& pads,
                         MainScreenState state)
    {
        useWindowManager = windowManager;
        auto error = start (rows, pads);
        if (! error.empty())
            return error;
        return layOut (state);
    }

    /** The window's parts worked out anew for a state of the view (a panel opened). */
    std::string layOut (MainScreenState state)
    {
        const auto bounds = windowBounds();
        if (bounds.isEmpty())
            return "the window's size is unknown";
        parts = std::make_unique<WindowParts> (juce::Point<int> { bounds.getWidth(), bounds.getHeight() }, state);
        return {};
    }

    /** The pointer moved to a point of the window, or of the screen, and its buttons pressed and
        released, as a mouse does (see X11Inspector::movePointer). Each waits until the X server
        has taken it in, so no burst of them queues up behind a press that a window manager's
        click-to-focus grab holds back: such a burst does not always reach the program as sent. */
    bool moveTo (juce::Point<int> inWindow)
    {
        const auto origin = contentOrigin();
        return origin.has_value() && moveOnScreen (*origin + inWindow);
    }
    bool moveOnScreen (juce::Point<int> onScreen)
    {
        int x = 0, y = 0, buttons = 0;
        return rig.inspector->movePointer (onScreen.x, onScreen.y)
            && waitFor ([&] { return rig.inspector->pointerState (x, y, buttons) && juce::Point<int> { x, y } == onScreen; }, capMs, 2);
    }
    bool press (int button = 1)  { return pressOrRelease (button, true); }
    bool release (int button = 1)  { return pressOrRelease (button, false); }
    bool pressOrRelease (int button, bool down)
    {
        int x = 0, y = 0, buttons = 0;
        return rig.inspector->pointerButton (button, down)
            && waitFor ([&] { return rig.inspector->pointerState (x, y, buttons) && ((buttons >> (button - 1)) & 1) == (down ? 1 : 0); }, capMs, 2);
    }

    /** Moves the pointer to a point of the window and clicks there `clicks` times, a double-click's
        clicks 80 ms apart as a hand makes them (moves it only, without a button). */
    bool clickAt (juce::Point<int> inWindow, const char* button = "1", int clicks = 1)
    {
        return moveTo (inWindow) && (button == nullptr || clickHere (juce::String (button).getIntValue(), clicks));
    }
    bool clickOnScreen (juce::Point<int> onScreen, int button = 1)  { return moveOnScreen (onScreen) && clickHere (button, 1); }

    bool clickHere (int button, int clicks)
    {
        for (int click = 0; click < clicks; ++click)
        {
            if (click > 0)
                juce::Thread::sleep (80);
            if (! press (button) || ! release (button))
                return false;
        }
        return true;
    }

    /** The open playlist as saved. */
    std::optional<Playlist> saved() const
    {
        CatalogState state;
        if (! readSplitFiles (rig.music(), state).ok)
            return std::nullopt;
        if (const auto* playlist = currentPlaylist (state.document))
            return *playlist;
        return std::nullopt;
    }

    /** Waits until the saved playlist satisfies the condition. */
    bool savedUntil (const std::function<bool (const Playlist&)>& condition)
    {
        return waitFor ([&] { const auto p = saved(); return p && condition (*p); }, capMs, 20);
    }

    /** The menu windows on the screen. */
    std::vector<juce::Rectangle<int>> menuWindows()
    {
        std::vector<juce::Rectangle<int>> menus;
        for (const auto& id : juce::StringArray::fromLines (xdotoolOutput ({ "search", "--onlyvisible", "--name", "^menu$" }).trim()))
        {
            juce::StringPairArray values;
            for (const auto& l : juce::StringArray::fromLines (xdotoolOutput ({ "getwindowgeometry", "--shell", id })))
                values.set (l.upToFirstOccurrenceOf ("=", false, false), l.fromFirstOccurrenceOf ("=", false, false));
            if (id.isNotEmpty())
                menus.push_back ({ values["X"].getIntValue(), values["Y"].getIntValue(), values["WIDTH"].getIntValue(), values["HEIGHT"].getIntValue() });
        }
        return menus;
    }

    /** The top-left corner of the window's content on the screen (inside a window manager's frame). */
    std::optional<juce::Point<int>> contentOrigin()  { return windowOrigin (windowId); }

    /** The screen's pixels in a rectangle of the window; empty when unreadable. */
    std::vector<std::uint32_t> pixelsOf (juce::Rectangle<int> inWindow)
    {
        const auto origin = contentOrigin();
        if (! origin.has_value())
            return {};
        const auto r = inWindow + *origin;
        return rig.inspector->capture (r.getX(), r.getY(), r.getWidth(), r.getHeight());
    }

    std::optional<juce::Point<int>> windowOrigin (std::uintptr_t window)
    {
        int x = 0, y = 0;
        if (! rig.inspector->windowOrigin (window, x, y))
            return std::nullopt;
        return juce::Point<int> { x, y };
    }

    /** The one menu window on the screen; an empty rectangle while none or several show. */
    juce::Rectangle<int> menuWindow()
    {
        const auto menus = menuWindows();
        return menus.size() == 1 ? menus.front() : juce::Rectangle<int>();
    }

    std::unique_ptr<WindowParts> parts;
};

bool allToolsPresent (std::string& why)
{
    if (! toolsPresent (why))
        return false;
    if (! juce::File ("/usr/bin/openbox").existsAsFile())
        why = "openbox is not installed";
    return why.empty();
}

// A value typed into a gain box with Return is the gain, on the 0.1 dB grid, saved as one edit
// that undo takes back; the Return starts nothing. GO by its key then plays at that gain.
TEST (OperatorHandsProgram, ATypedGainWithReturnChangesTheGainAndSoundsNothing)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    for (const bool windowManager : { false, true })
    {
        SCOPED_TRACE (windowManager ? "with a window manager" : "without a window manager");
        HandsShow show;
        ASSERT_EQ (show.begin (windowManager), "");
        ASSERT_TRUE (show.readyShowsLongRow()) << "the first row's waveform never showed";
        const auto& p = *show.parts;
        const auto from = show.heard();

        struct Typing
        {
            const char* what;
            juce::Point<int> box;
            const char* typed;
            bool held;   // Return held for a second: its auto-repeats reach no shortcut either
        };
        const Typing typings[] = {
            { "master", p.masterBox(), "-6.04", false },
            { "playlist", p.toWindow (WindowParts::valueBoxOf (p.layout["playlist-gain"].bounds)), "-6", true },
            { "first row", p.toWindow (WindowParts::valueBoxOf (p.rowGain (0))), "-5.96", false },
        };
        for (const auto& t : typings)
        {
            SCOPED_TRACE (t.what);
            ASSERT_TRUE (show.clickAt (t.box));
            ASSERT_TRUE (show.xdotool ({ "key", "--delay", "30", "ctrl+a" }));
            ASSERT_TRUE (show.xdotool ({ "type", "--delay", "30", "--", t.typed }));
            if (t.held)
            {
                ASSERT_TRUE (show.xdotool ({ "keydown", "Return" }));
                ASSERT_TRUE (show.hold (1.0));
                ASSERT_TRUE (show.xdotool ({ "keyup", "Return" }));
            }
            else
            {
                ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
            }
        }
        // Saved: the playlist's and the row's gain on the grid.
        ASSERT_TRUE (show.savedUntil ([] (const Playlist& pl) { return pl.gainDb == -6.0f && pl.rows[0].gainDb == -6.0f; }))
            << "the typed gains were not saved: playlist " << show.saved()->gainDb << ", row " << show.saved()->rows[0].gainDb;
        ASSERT_TRUE (show.hold (0.5));
        EXPECT_EQ (show.onsets (600.0, from, 0.02), 0) << "a Return typed into a gain box started the show";

        // The keys are the show's again: GO plays the first row at -18 dB (master, playlist, row).
        ASSERT_TRUE (show.clickAt (p.centreOf ("wave-ready")));
        const auto go = show.heard();
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        const auto heardAt = show.waitUntilHeard (600.0, go, 0.01);
        ASSERT_NE (heardAt, 0u) << "GO was not heard";
        ASSERT_TRUE (show.hold (0.5));
        const auto left = show.capture.channel (0);
        EXPECT_NEAR (show.level (left, heardAt + 9600, 600.0), 0.25 * std::pow (10.0, -18.0 / 20.0), 0.004);

        // Undo takes back the row's typed gain, one step, and leaves the playlist's.
        ASSERT_TRUE (show.xdotool ({ "key", "ctrl+z" }));
        EXPECT_TRUE (show.savedUntil ([] (const Playlist& pl) { return pl.rows[0].gainDb == 0.0f; }));
        EXPECT_EQ (show.saved()->gainDb, -6.0f);
    }
}

// One notch is one 0.5 dB step of the bound gain wherever the pointer is, one saved edit and one
// undo step each.
TEST (OperatorHandsProgram, OneNotchIsOneHalfDecibelStepWhereverThePointerIs)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    HandsShow show;
    ASSERT_EQ (show.begin (false), "");
    ASSERT_TRUE (show.readyShowsLongRow());
    const auto& p = *show.parts;
    // A press on the playlist gain's reset button binds the wheel to it.
    ASSERT_TRUE (show.clickAt (p.toWindow (WindowParts::resetButtonOf (p.layout["playlist-gain"].bounds))));

    const std::pair<const char*, juce::Point<int>> places[] = {
        { "the control", p.toWindow (p.layout["playlist-gain"].bounds.getCentre().translated (-80, 0)) },
        { "the rows list's empty part", p.toWindow (p.layout["setlist"].bounds.getBottomLeft().translated (80, -8)) },
        { "a row's title", p.rowTitle (1) },
        { "the pads", p.centreOf ("pad-5") },
        { "the tree", p.centreOf ("playlists") },
        { "the lanes", p.centreOf ("wave-main") },
    };
    float expected = 0.0f;
    for (const auto& [where, point] : places)
    {
        SCOPED_TRACE (where);
        const auto before = expected;
        ASSERT_TRUE (show.clickAt (point, "4"));
        ASSERT_TRUE (show.savedUntil ([&] (const Playlist& pl) { return pl.gainDb != before; })) << "the notch moved nothing";
        expected += 0.5f;
        EXPECT_EQ (show.saved()->gainDb, expected) << "one notch was not one 0.5 dB step";
        expected = show.saved()->gainDb;
    }
    // Each notch is its own undo step: six undos go back 0.5 dB at a time to 0 dB.
    for (int step = (int) std::lround (expected / 0.5f); step-- > 0;)
    {
        ASSERT_TRUE (show.xdotool ({ "key", "ctrl+z" }));
        ASSERT_TRUE (show.savedUntil ([&] (const Playlist& pl) { return pl.gainDb == 0.5f * (float) step; }))
            << "undo did not go back one 0.5 dB step to " << 0.5f * (float) step << ": " << show.saved()->gainDb;
    }
    EXPECT_EQ (expected, 3.0f);
}
// A press beside the thumb of the playing row's gain control binds the wheel and moves nothing,
// and so does a press whose hand slips 1, 2 or 3 px before the release: no edit saved, no change
// heard; the next notch is one 0.5 dB step from where the gain was. A drag of 40 px then moves the
// thumb 40 px, and undo takes the drag and the notch back one at a time. The playlist's gain
// keeps the same slips; a slip of 4 px moves it, and a row's, wherever the press is.
TEST (OperatorHandsProgram, APressBesideTheThumbBindsTheWheelAndMovesNoGain)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    // The probe below is a JUCE component: this process's own display for it, or JUCE would
    // connect to ":0", whichever server holds that number on the machine, and end with it.
    test::PrivateDisplay probeDisplay;
    ASSERT_TRUE (probeDisplay.start (161, 260, 640, 480, true)) << probeDisplay.problem;
    juce::ScopedJuceInitialiser_GUI gui;
    for (const bool windowManager : { false, true })
    {
        SCOPED_TRACE (windowManager ? "with a window manager" : "without a window manager");
        HandsShow show;
        ASSERT_EQ (show.begin (windowManager, 30.0), "");
        ASSERT_TRUE (show.readyShowsLongRow());
        const auto& p = *show.parts;
        // Where the thumb of the first row's gain control is at a gain: a control of that size says.
        GainControl probe (false);
        probe.setBounds (p.rowGain (0));
        const auto thumbAt = [&] (float db) { return (float) probe.getX() + probe.slider.getPositionOfValue (db); };
        const auto besideThumb = [&] (float px) { return p.toWindow ({ juce::roundToInt (thumbAt (0.0f) + px), probe.getBounds().getCentreY() }); };
        // Pressed at `from`, moved through `by` window pixels a pixel at a time, released there.
        const auto pressAndMove = [&] (juce::Point<int> from, juce::Point<int> by) {
            if (! show.moveTo (from) || ! show.press())
                return false;
            const auto steps = std::max ({ 1, std::abs (by.x), std::abs (by.y) });
            for (int step = 1; step <= steps; ++step)
                if (! show.moveTo ({ from.x + by.x * step / steps, from.y + by.y * step / steps }))
                    return false;
            return show.release();
        };

        ASSERT_TRUE (show.clickAt (p.centreOf ("go")));
        const auto heardAt = show.waitUntilHeard (600.0, show.heard(), 0.1);
        ASSERT_NE (heardAt, 0u) << "GO was not heard";
        ASSERT_TRUE (show.hold (0.5));
        const auto from = show.heard();
        const auto before = show.level (show.capture.channel (0), from - window, 600.0);

        // Still presses and slips, each more than a double-click's reach from the one before.
        const std::pair<float, juce::Point<int>> presses[] = {
            { -25.0f, { 0, 0 } }, { -10.0f, { 1, 0 } }, { 10.0f, { -2, 0 } }, { -40.0f, { 3, 0 } }, { 25.0f, { 2, 2 } },
        };
        for (const auto& [px, slip] : presses)
            ASSERT_TRUE (pressAndMove (besideThumb (px), slip));
        ASSERT_TRUE (show.clickAt (besideThumb (-10.0f), "4"));
        // Saved in order: a press that moved the gain would be seen before the notch.
        ASSERT_TRUE (show.savedUntil ([] (const Playlist& pl) { return pl.rows[0].gainDb != 0.0f; })) << "the notch moved nothing";
        EXPECT_EQ (show.saved()->rows[0].gainDb, 0.5f) << "the presses moved the gain";

        // Heard: the row's level from before the presses until the notch, then 0.5 dB above it.
        ASSERT_TRUE (show.hold (0.5));
        const auto left = show.capture.channel (0);
        const auto notched = before * std::pow (10.0, 0.5 / 20.0);
        double lowest = before, highest = before;
        for (auto frame = from; frame + window <= left.size(); frame += window / 2)
        {
            lowest = std::min (lowest, show.level (left, frame, 600.0));
            highest = std::max (highest, show.level (left, frame, 600.0));
        }
        EXPECT_GT (lowest, before * 0.98) << "a press lowered the playing row";
        EXPECT_LT (highest, notched * 1.02) << "a press raised the playing row";
        EXPECT_NEAR (show.level (left, left.size() - window, 600.0), notched, before * 0.01) << "the notch was not 0.5 dB";

        // A drag of 40 px to the left from the thumb: the thumb is where the pointer let go.
        const auto thumb = p.toWindow ({ juce::roundToInt (thumbAt (0.5f)), probe.getBounds().getCentreY() });
        ASSERT_TRUE (pressAndMove (thumb, { -40, 0 }));
        ASSERT_TRUE (show.savedUntil ([] (const Playlist& pl) { return pl.rows[0].gainDb < 0.5f; })) << "the drag moved nothing";
        const auto dragged = show.saved()->rows[0].gainDb;
        EXPECT_NEAR ((thumbAt (dragged) - thumbAt (0.5f)) * p.scale, -40.0f, 1.0f) << "the drag of 40 px ended at " << dragged << " dB";

        // Undo takes the drag back, then the notch, to where the gain was before the presses.
        ASSERT_TRUE (show.xdotool ({ "key", "ctrl+z" }));
        EXPECT_TRUE (show.savedUntil ([] (const Playlist& pl) { return pl.rows[0].gainDb == 0.5f; }));
        ASSERT_TRUE (show.xdotool ({ "key", "ctrl+z" }));
        EXPECT_TRUE (show.savedUntil ([] (const Playlist& pl) { return pl.rows[0].gainDb == 0.0f; }));

        // The playlist's gain: the same slips move nothing. The notch after them is saved in
        // order: a slip that moved the gain would be seen before it.
        GainControl playlistProbe (false);
        playlistProbe.setBounds (p.layout["playlist-gain"].bounds);
        const auto besidePlaylistThumb = [&] (float px) {
            return p.toWindow ({ juce::roundToInt ((float) playlistProbe.getX() + playlistProbe.slider.getPositionOfValue (0.0f) + px),
                                 playlistProbe.getBounds().getCentreY() });
        };
        for (const auto& [px, slip] : presses)
            ASSERT_TRUE (pressAndMove (besidePlaylistThumb (px), slip));
        ASSERT_TRUE (show.clickAt (besidePlaylistThumb (-10.0f), "4"));
        ASSERT_TRUE (show.savedUntil ([] (const Playlist& pl) { return pl.gainDb != 0.0f; })) << "the notch moved nothing";
        EXPECT_EQ (show.saved()->gainDb, 0.5f) << "a slip moved the playlist's gain";

        // A slip of 4 px is a drag from every pixel of a stretch of the track, for the playlist's
        // gain and a row's: the view's scale puts the controls' pixels at fractions of its own.
        const auto slip = (int) GainSlider::dragThreshold;
        for (const bool row : { false, true })
            for (int px = -44; px < -20; ++px)
            {
                const auto by = px % 2 == 0 ? slip : -slip;
                SCOPED_TRACE (std::string (row ? "a row's" : "the playlist's") + " gain, a slip of " + std::to_string (by)
                              + " px from " + std::to_string (px) + " px");
                const auto gainOf = [row] (const Playlist& pl) { return row ? pl.rows[0].gainDb : pl.gainDb; };
                const auto before = gainOf (*show.saved());
                ASSERT_TRUE (pressAndMove (row ? besideThumb ((float) px) : besidePlaylistThumb ((float) px), { by, 0 }));
                EXPECT_TRUE (show.savedUntil ([&] (const Playlist& pl) { return gainOf (pl) != before; })) << "the gain did not move";
            }
    }
}

/** Whether the status line shows `text`: its pixels against the status label drawn here as the
    program draws it (the same typefaces, look-and-feel and scale), as ink (bright on the dark
    view) that lies within a pixel of the other's ink, both ways. */
bool statusShows (HandsShow& show, const juce::String& text)
{
    const auto& p = *show.parts;
    const auto area = p.layout["status-label"].bounds;
    Theme theme;
    juce::Label label;
    label.setLookAndFeel (&theme);
    label.setFont (juce::Font (11.0f));
    label.setColour (juce::Label::textColourId, juce::Colours::white);
    label.setJustificationType (juce::Justification::centredLeft);
    label.setText (text, juce::dontSendNotification);
    label.setBounds (area.withZeroOrigin());
    const auto drawn = label.createComponentSnapshot (label.getLocalBounds(), true, p.scale);
    label.setLookAndFeel (nullptr);

    // Where the window's origin is on the screen: the pointer put there says (a window manager's
    // frame moves the client window by its own offsets).
    const auto origin = show.contentOrigin();
    if (! origin.has_value())
        return false;
    const int w = drawn.getWidth(), h = drawn.getHeight(), margin = 3;
    const auto at = p.toWindow (area.getPosition()) + *origin;
    const int cw = w + 2 * margin, ch = h + 2 * margin;
    const auto pixels = show.rig.inspector->capture (at.x - margin, at.y - margin, cw, ch);
    if (pixels.size() != (size_t) (cw * ch))
        return false;
    const auto shownInk = [&] (int x, int y) {
        const auto v = pixels[(size_t) ((y + margin) * cw + x + margin)];
        return std::max ({ (v >> 16) & 0xffu, (v >> 8) & 0xffu, v & 0xffu }) > 90u;
    };
    const auto drawnInk = [&] (int x, int y) { return drawn.getPixelAt (x, y).getAlpha() > 110; };
    // The share of one's ink that has the other's ink within a pixel, with the drawing moved by
    // (dx, dy): rounding may put the program's text a pixel or two away.
    const auto share = [&] (auto from, auto in, bool fromShown, int dx, int dy) {
        int ink = 0, near = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
            {
                const int fx = fromShown ? x + dx : x, fy = fromShown ? y + dy : y;
                if (fx < -margin || fy < -margin || fx >= w + margin || fy >= h + margin || ! from (fx, fy))
                    continue;
                ++ink;
                bool found = false;
                for (int ny = -1; ny <= 1 && ! found; ++ny)
                    for (int nx = -1; nx <= 1 && ! found; ++nx)
                    {
                        const int ix = (fromShown ? x : x + dx) + nx, iy = (fromShown ? y : y + dy) + ny;
                        found = fromShown ? juce::isPositiveAndBelow (x + nx, w) && juce::isPositiveAndBelow (y + ny, h) && in (x + nx, y + ny)
                                          : ix >= -margin && iy >= -margin && ix < w + margin && iy < h + margin && in (ix, iy);
                    }
                near += found ? 1 : 0;
            }
        return ink > 20 ? (double) near / ink : 0.0;
    };
    for (int dy = -margin; dy <= margin; ++dy)
        for (int dx = -margin; dx <= margin; ++dx)
            if (share (drawnInk, shownInk, false, dx, dy) >= 0.9 && share (shownInk, drawnInk, true, dx, dy) >= 0.9)
                return true;
    return false;
}

// A double-click that edits the playing row's title (or, under LIVE LOCK, is refused) gives READY
// back: GO after Escape starts the next row, and the playing one moves on to OUTGOING, playing on
// from where it was, not from 00:00.
TEST (OperatorHandsProgram, ADoubleClickOnThePlayingTitleLeavesReadyOnTheNextRow)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    for (const bool windowManager : { false, true })
        for (const bool locked : { false, true })
        {
            SCOPED_TRACE (std::string (windowManager ? "with" : "without") + " a window manager, LIVE LOCK " + (locked ? "on" : "off"));
            HandsShow show;
            ASSERT_EQ (show.begin (windowManager, 30.0), "");
            ASSERT_TRUE (show.readyShowsLongRow());
            const auto& p = *show.parts;
            ASSERT_TRUE (! locked || show.clickAt (p.centreOf ("lock")));
            const auto go = show.heard();
            ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
            ASSERT_NE (show.waitUntilHeard (600.0, go, 0.1), 0u) << "GO was not heard";
            ASSERT_TRUE (waitFor ([&] { return show.readyWaveColumns() > 100; }, capMs, 50)) << "row 2 did not become READY";

            const auto title = p.rowTitle (0);
            ASSERT_TRUE (show.clickAt (title, "1", 2));
            ASSERT_TRUE (show.hold (0.5));
            ASSERT_TRUE (show.xdotool ({ "key", "Escape" }));
            ASSERT_TRUE (show.hold (0.3));
            const auto second = show.heard();
            ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
            EXPECT_NE (show.waitUntilHeard (700.0, second, 0.1), 0u) << "the second GO did not start row 2";
            ASSERT_TRUE (show.hold (0.5));
            EXPECT_EQ (show.onsets (600.0, go), 1) << "row 1 started again";
            EXPECT_GT (show.level (show.capture.channel (0), show.heard() - window, 600.0), 0.1) << "row 1 is not playing on as OUTGOING";
            EXPECT_EQ (show.saved()->rows[0].title, "Row 1") << "the title changed";
        }
}

// Under LIVE LOCK a click on a text box that refuses editing says why; what is typed there, and the
// Return that ends it, does nothing. A Return alone after such a click is GO, as always.
TEST (OperatorHandsProgram, TypingAtALockedBoxDoesNothingButAReturnAloneIsGo)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    // This process draws the status line's text too: on an X server of its own (see above).
    test::PrivateDisplay ownDisplay;
    ASSERT_TRUE (ownDisplay.start (161, 260, 1600, 1000, true)) << ownDisplay.problem;
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();
    struct Box
    {
        const char* what;
        bool doubleClick;
        const char* refusal;
    };
    const Box boxes[] = {
        { "a row's gain box", false, "LIVE LOCK中はトラックゲインを変更できません" },
        { "a row's title", true, "LIVE LOCK中、または再生中のため編集できません" },
    };
    for (const bool windowManager : { false, true })
        for (const auto& box : boxes)
        {
            SCOPED_TRACE (std::string (windowManager ? "with" : "without") + " a window manager, " + box.what);
            HandsShow show;
            ASSERT_EQ (show.begin (windowManager), "");
            ASSERT_TRUE (show.readyShowsLongRow());
            const auto& p = *show.parts;
            ASSERT_TRUE (show.clickAt (p.centreOf ("lock")));
            const auto at = box.doubleClick ? p.rowTitle (1) : p.toWindow (WindowParts::valueBoxOf (p.rowGain (1)));
            const auto click = [&] { return show.clickAt (at, "1", box.doubleClick ? 2 : 1); };
            const auto refusal = juce::String::fromUTF8 (box.refusal);
            ASSERT_TRUE (click());
            EXPECT_TRUE (waitFor ([&] { return statusShows (show, refusal); }, capMs, 20)) << "the click did not say why";
            const auto from = show.heard();
            ASSERT_TRUE (show.xdotool ({ "type", "--delay", "30", "--", "-3" }));
            ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
            EXPECT_TRUE (waitFor ([&] { return statusShows (show, refusal); }, capMs, 20)) << "the typing did not say why";
            ASSERT_TRUE (show.hold (0.5));
            for (const double tone : { 600.0, 700.0, 800.0 })
                EXPECT_EQ (show.onsets (tone, from, 0.02), 0) << "the typing started " << tone << " Hz";
            const auto kept = show.saved();
            ASSERT_TRUE (kept.has_value());
            EXPECT_EQ (kept->rows[1].gainDb, 0.0f);
            EXPECT_EQ (kept->rows[1].title, "Row 2");

            // The same box clicked again, then Return alone: GO of row 1, READY still (a double-click
            // on row 2's title gives READY back).
            ASSERT_TRUE (click());
            const auto go = show.heard();
            ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
            EXPECT_NE (show.waitUntilHeard (600.0, go, 0.1), 0u) << "Return after the click was no GO";
        }
}

// Under LIVE LOCK every key that edits a text or moves within it, typed at a box that refuses
// editing, is typing there: a character, Backspace, Delete, the arrows, Home, End, Page Up, with
// Shift or Ctrl, Ctrl+A, a keypad digit. The Space and the Return typed after it do nothing: the
// playing row plays on as written (no pause, no seek), nothing starts and no pad sounds. A Return
// alone after a click on the box is GO, as always. One program start per group of boxes, with and
// without a window manager.
struct LockedBox
{
    const char* what;
    std::function<juce::Point<int> (const WindowParts&)> where;
    bool doubleClick;
    const char* refusal;
};

constexpr double toneSeconds = 5.0;   // the first row: tones of 1600, 1700, ... Hz, 5 s each
constexpr double firstTone = 1600.0;  // far enough above the other rows' and the pad's that none leaks into them
constexpr int tones = 14;
constexpr double padTone = 500.0;

/** Whether the first row, which started sounding at `go`, played on as written from `from` to
    `to`: each window of the capture holds the tone its time since GO says (a pause is silent, a
    seek of 5 s is a tone early or late). Windows near a change of tone are left out. */
bool firstRowPlayedOn (HandsShow& show, std::size_t go, std::size_t from, std::size_t to, std::string& where)
{
    const auto left = show.capture.channel (0);
    const auto perTone = (std::size_t) (toneSeconds * rate), margin = (std::size_t) (0.15 * rate);
    for (auto frame = std::max (from, go); frame + window <= std::min (to, left.size()); frame += window)
    {
        const auto since = frame - go, inTone = since % perTone;
        if (since / perTone >= (std::size_t) tones || inTone < margin || inTone + window + margin > perTone)
            continue;
        const auto tone = firstTone + 100.0 * (double) (since / perTone);
        if (show.level (left, frame, tone) < 0.15)
        {
            where = std::to_string ((double) since / rate) + " s after GO, " + std::to_string ((double) (frame - from) / rate)
                  + " s into the typing: " + std::to_string (tone) + " Hz at " + std::to_string (show.level (left, frame, tone));
            return false;
        }
    }
    return true;
}

void typeAtLockedBoxes (const std::vector<LockedBox>& boxes)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    // This process draws the status line's text too: on an X server of its own (see above).
    test::PrivateDisplay ownDisplay;
    ASSERT_TRUE (ownDisplay.start (161, 260, 1600, 1000, true)) << ownDisplay.problem;
    juce::ScopedJuceInitialiser_GUI gui;
    installUiFonts();
    // Each key is followed by a Space (PAUSE) and a Return (GO).
    const char* const keys[] = { "End", "Home", "Left", "Right", "Up", "Down", "Prior", "Delete", "BackSpace", "ctrl+a",
                                 "shift+End", "shift+Home", "ctrl+Left", "ctrl+shift+Right", "x", "KP_1" };
    MainScreenState state;
    state.memoFolded = false;
    state.dynamicsOpen = true;
    for (const bool windowManager : { false, true })
    {
        SCOPED_TRACE (windowManager ? "with a window manager" : "without a window manager");
        HandsShow show;
        const auto media = show.rig.temp / "media";
        std::vector<double> firstTones;
        for (int i = 0; i < tones; ++i)
            firstTones.push_back (firstTone + 100.0 * i);
        const std::vector<juce::File> rows { writeSines (media, "Row 1.wav", firstTones, toneSeconds),
                                             writeSines (media, "Row 2.wav", { 700.0 }, 8.0),
                                             writeSines (media, "Row 3.wav", { 800.0 }, 8.0) };
        show.prepare = [&show] (SessionCoordinator& session)
        {
            auto prefs = session.currentPreferences();
            prefs.locks[3] = true;   // the master gain refuses too
            EXPECT_TRUE (session.applyPreferences (prefs).ok);
            EXPECT_TRUE (session.setRowText (show.rowIds[1], "Row 2", "Cue note"));
            session.toggleMemoPanel();
        };
        ASSERT_EQ (show.beginOn (windowManager, rows, { writeSines (media, "Pad.wav", { padTone }, 3.0) }, {}), "");
        ASSERT_TRUE (show.readyShowsLongRow());
        ASSERT_TRUE (show.clickAt (show.parts->centreOf ("dynamics-fold")));
        ASSERT_EQ (show.layOut (state), "");
        const auto& p = *show.parts;

        const auto start = show.heard();
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        const auto go = show.waitUntilHeard (firstTone, start, 0.1);
        ASSERT_NE (go, 0u) << "GO was not heard";
        ASSERT_TRUE (waitFor ([&] { return show.readyWaveColumns() > 100; }, capMs, 50)) << "row 2 did not become READY";
        ASSERT_TRUE (show.clickAt (p.centreOf ("lock")));
        ASSERT_TRUE (show.hold (0.3));
        const auto from = show.heard();

        for (const auto& box : boxes)
        {
            SCOPED_TRACE (box.what);
            const auto at = box.where (p);
            const auto refusal = juce::String::fromUTF8 (box.refusal);
            for (size_t k = 0; k < std::size (keys); ++k)
            {
                SCOPED_TRACE (keys[k]);
                // Clicks one after another land 16 px apart: none is a double-click's second.
                ASSERT_TRUE (show.clickAt (at.translated (k % 2 == 0 ? -8 : 8, 0), "1", box.doubleClick ? 2 : 1));
                if (k == 0)
                {
                    EXPECT_TRUE (waitFor ([&] { return statusShows (show, refusal); }, capMs, 20)) << "the click did not say why";
                }
                ASSERT_TRUE (show.xdotool ({ "key", "--delay", "30", keys[k], "space", "Return" }));
            }
        }
        ASSERT_TRUE (show.hold (0.5));
        const auto to = show.heard();
        ASSERT_LT (to - go, (std::size_t) (toneSeconds * tones * rate)) << "the typing outlasted the first row";
        std::string where;
        EXPECT_TRUE (firstRowPlayedOn (show, go, from, to, where)) << "the first row paused or moved: " << where;
        for (const double tone : { 700.0, 800.0, padTone })
            EXPECT_EQ (show.onsets (tone, from, 0.05), 0) << "the typing started " << tone << " Hz";
        const auto kept = show.saved();
        ASSERT_TRUE (kept.has_value());
        EXPECT_EQ (kept->rows[0].title, "Row 1");
        EXPECT_EQ (kept->rows[1].note, "Cue note");
        EXPECT_EQ (kept->rows[1].gainDb, 0.0f);
        EXPECT_EQ (kept->memo, "");

        // The last box clicked again, then Return alone: GO of row 2, READY still.
        ASSERT_TRUE (show.clickAt (boxes.back().where (p), "1", boxes.back().doubleClick ? 2 : 1));
        const auto second = show.heard();
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        EXPECT_NE (show.waitUntilHeard (700.0, second, 0.1), 0u) << "Return after the click was no GO of row 2";
    }
}

const char* const rowsLocked = "LIVE LOCK中、または再生中のため編集できません";

/** A row's note: the bottom line of its title column. */
juce::Point<int> rowNote (const WindowParts& p, int row)  { return p.rowTitle (row).translated (0, juce::roundToInt (16 * p.scale)); }

TEST (OperatorHandsProgram, EveryTextKeyAtALockedTitleOrNoteIsTypingThere)
{
    typeAtLockedBoxes ({
        { "the playing row's title", [] (const WindowParts& p) { return p.rowTitle (0); }, true, rowsLocked },
        { "a row's note", [] (const WindowParts& p) { return rowNote (p, 1); }, true, rowsLocked },
    });
}

TEST (OperatorHandsProgram, EveryTextKeyAtTheLockedMemoOrARowsGainIsTypingThere)
{
    typeAtLockedBoxes ({
        { "the memo", [] (const WindowParts& p) { return p.centreOf ("playlist-memo"); }, false, rowsLocked },
        { "a row's gain box", [] (const WindowParts& p) { return p.toWindow (WindowParts::valueBoxOf (p.rowGain (1))); }, false,
          "LIVE LOCK中はトラックゲインを変更できません" },
    });
}

TEST (OperatorHandsProgram, EveryTextKeyAtTheLockedMasterGainOrLimiterIsTypingThere)
{
    const auto limiterBox = [] (int i)
    {
        return [i] (const WindowParts& p)
        {
            const auto slider = p.layout["limiter-slider-" + std::to_string (i)].bounds;
            return p.toWindow ({ slider.getRight() - 23, slider.getCentreY() });
        };
    };
    typeAtLockedBoxes ({
        { "the master gain box", [] (const WindowParts& p) { return p.masterBox(); }, false, "LIVE LOCK中はマスターゲインを変更できません" },
        { "the first limiter box", limiterBox (0), false, "LIVE LOCK中はリミッターを変更できません" },
        { "the last limiter box", limiterBox (3), false, "LIVE LOCK中はリミッターを変更できません" },
    });
}

// Every menu of the main screen opens where the hand is: a right-click's menu with its top-left
// corner at the pointer, a button's menu under its button; with and without a window manager, at
// several places and sizes of the window (the view is drawn scaled to the window). Where the
// screen's edge leaves no room below or at the right, the menu may open above the pointer (or the
// button) or be shifted left, over the pointer. A box of another window (settings) opens its menu
// under the box.
TEST (OperatorHandsProgram, AMenuOpensAtThePointerOrUnderItsButton)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    const juce::Rectangle<int> screen { 0, 0, 1600, 1000 };   // the rig's display
    struct Placement
    {
        const char* what;
        juce::Rectangle<int> window;   // empty: where the program put it
    };
    const Placement placements[] = {
        { "as opened", {} },
        { "design size at the top-left", { 0, 0, 1140, 740 } },
        { "large", { 20, 10, 1560, 960 } },
        { "at the bottom-right", { 440, 250, 1150, 745 } },
    };
    for (const bool windowManager : { false, true })
    {
        SCOPED_TRACE (windowManager ? "with a window manager" : "without a window manager");
        HandsShow show;
        ASSERT_EQ (show.begin (windowManager), "");
        const auto id = juce::String ((juce::int64) show.windowId);
        for (const auto& placement : placements)
        {
            SCOPED_TRACE (placement.what);
            if (! placement.window.isEmpty())
            {
                const auto w = placement.window;
                ASSERT_TRUE (show.xdotool ({ "windowsize", "--sync", id, juce::String (w.getWidth()), juce::String (w.getHeight()) }));
                ASSERT_TRUE (show.xdotool ({ "windowmove", "--sync", id, juce::String (w.getX()), juce::String (w.getY()) }));
                ASSERT_TRUE (waitFor ([&] { return show.windowBounds().getWidth() == w.getWidth() && show.windowBounds().getHeight() == w.getHeight(); }))
                    << "the window was not resized";
            }
            const auto window = show.windowBounds();
            const WindowParts p ({ window.getWidth(), window.getHeight() });
            const auto inWindow = [&] (juce::Rectangle<int> view) {
                return juce::Rectangle<int>::leftTopRightBottom (p.toWindow (view.getTopLeft()).x, p.toWindow (view.getTopLeft()).y,
                                                                 p.toWindow (view.getBottomRight()).x, p.toWindow (view.getBottomRight()).y);
            };
            MainScreenState padEditing;
            padEditing.padEditMode = true;
            const WindowParts editing ({ window.getWidth(), window.getHeight() }, padEditing);   // the pads lie in the pad editor
            const auto editedPad = editing.layout["pad-5"].bounds + editing.layout["pad-editor-list"].bounds.getPosition();
            const auto tree = p.layout["playlists"].bounds;
            const auto pad9 = p.layout["pad-9"].bounds;
            const auto rows = p.layout["setlist"].bounds;

            struct Case
            {
                const char* what;
                const char* button;           // "1": a click; "3": a right-click
                juce::Point<int> at;          // in the window
                juce::Rectangle<int> under;   // a button's menu: the button, in the window; empty: at the pointer
                const char* editMode = nullptr;   // the part clicked first and again after (pad edit mode)
            };
            const Case cases[] = {
                { "a tree line", "3", p.toWindow ({ tree.getX() + 60, tree.getY() + 18 }), {} },
                { "the same line further right", "3", p.toWindow ({ tree.getRight() - 30, tree.getY() + 10 }), {} },
                { "the tree below its lines", "3", p.toWindow ({ tree.getX() + 40, tree.getBottom() - 30 }), {} },
                { "a row", "3", p.rowTitle (1), {} },
                { "another row's number", "3", p.toWindow ({ rows.getX() + 70, rows.getY() + 2 * 49 + 30 }), {} },
                { "a pad", "3", p.centreOf ("pad-5"), {} },
                { "a pad at the right", "3", p.toWindow ({ pad9.getRight() - 6, pad9.getBottom() - 6 }), {} },
                { "the \"+\" button", "1", p.centreOf ("add-playlist-folder"), inWindow (p.layout["add-playlist-folder"].bounds) },
                { "a pad in edit mode", "1", inWindow (editedPad).getCentre(), inWindow (editedPad), "pad-edit" },
            };
            // Pad edit mode switched, and the view shown in it, before the next click: a hand
            // does not click the pad editor before it sees it.
            const auto switchEditMode = [&] (const char* part, juce::Rectangle<int> editor) {
                const auto before = show.pixelsOf (editor);
                return show.clickAt (p.centreOf (part))
                    && waitFor ([&] { const auto now = show.pixelsOf (editor); return ! now.empty() && now != before; }, capMs, 20);
            };
            for (const auto& c : cases)
            {
                SCOPED_TRACE (c.what);
                if (c.editMode != nullptr)
                {
                    ASSERT_TRUE (switchEditMode (c.editMode, c.under)) << "the pad editor did not show";
                }
                ASSERT_TRUE (show.clickAt (c.at, c.button));
                juce::Rectangle<int> menu;
                ASSERT_TRUE (waitFor ([&] { return ! (menu = show.menuWindow()).isEmpty(); }, capMs, 20)) << show.menuWindows().size() << " menus showed";
                // A button's menu hangs from the button's bottom-left corner (or stands on its top);
                // a right-click's menu from the pointer.
                const auto onScreen = show.contentOrigin().value_or (juce::Point<int>());
                const auto anchor = (c.under.isEmpty() ? c.at : c.under.getBottomLeft()) + onScreen;
                const auto anchorTop = (c.under.isEmpty() ? c.at.y : c.under.getY()) + onScreen.y;
                const bool xAt = std::abs (menu.getX() - anchor.x) <= 3
                              || (menu.getRight() >= screen.getRight() - 8 && menu.getX() < anchor.x && menu.getRight() > anchor.x);
                const bool yAt = std::abs (menu.getY() - anchor.y) <= 3 || std::abs (menu.getBottom() - anchorTop) <= 3;
                EXPECT_TRUE (xAt && yAt) << "the menu opened at " << menu.getX() << ", " << menu.getY() << " (" << menu.getWidth() << " x "
                                         << menu.getHeight() << "), not at " << anchor.x << ", " << anchor.y;
                ASSERT_TRUE (show.xdotool ({ "key", "Escape" }));
                ASSERT_TRUE (waitFor ([&] { return show.menuWindows().empty(); }, capMs, 20)) << "the menu did not close";
                if (c.editMode != nullptr)
                {
                    ASSERT_TRUE (switchEditMode (c.editMode, c.under)) << "the pad editor stayed";
                }
            }
        }

        // A box in another window: the settings window's language box, whose menu hangs from it.
        // The box lies 280 px in and 52 px down in the settings panel, 28 px high; the panel lies
        // below the window's 1 px border and its 26 px title bar (drawn by the program).
        const WindowParts p ({ show.windowBounds().getWidth(), show.windowBounds().getHeight() });
        ASSERT_TRUE (show.clickAt (p.centreOf ("settings")));
        std::uintptr_t settings = 0;
        ASSERT_TRUE (waitFor ([&] {
            const auto found = juce::StringArray::fromLines (show.xdotoolOutput ({ "search", "--onlyvisible", "--name", "^Vantrel! - Settings$" }).trim());
            settings = found.size() == 1 ? (std::uintptr_t) found[0].getLargeIntValue() : 0;
            return settings != 0;
        }, capMs, 50)) << "the settings window did not show";
        const auto settingsOrigin = show.windowOrigin (settings);
        ASSERT_TRUE (settingsOrigin.has_value());
        const auto box = juce::Rectangle<int> { 280, 52, 220, 28 } + *settingsOrigin + juce::Point<int> { 1, 27 };
        ASSERT_TRUE (show.clickOnScreen (box.getCentre()));
        juce::Rectangle<int> menu;
        ASSERT_TRUE (waitFor ([&] { return ! (menu = show.menuWindow()).isEmpty(); }, capMs, 20)) << "the language box's menu did not show";
        EXPECT_LE (std::abs (menu.getX() - box.getX()), 3) << menu.getX() << " for the box at " << box.getX();
        EXPECT_LE (std::abs (menu.getY() - box.getBottom()), 3) << menu.getY() << " for the box ending at " << box.getBottom();
        ASSERT_TRUE (show.xdotool ({ "key", "Escape" }));
        ASSERT_TRUE (waitFor ([&] { return show.menuWindows().empty(); }, capMs, 20)) << "the menu did not close";
    }
}

// "+" and "add folder": the name dialog opens with its field focused, typing goes there and
// Return makes the folder; Return on a blank name keeps the dialog up.
TEST (OperatorHandsProgram, ANameDialogTakesTheTypingAndReturnSubmits)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    for (const bool windowManager : { false, true })
    {
        SCOPED_TRACE (windowManager ? "with a window manager" : "without a window manager");
        HandsShow show;
        ASSERT_EQ (show.begin (windowManager), "");
        const auto folders = [&] {
            CatalogState state;
            std::vector<std::string> names;
            if (readSplitFiles (show.rig.music(), state).ok)
                for (const auto& folder : state.document.folders)
                    names.push_back (folder.name);
            return names;
        };
        // The dialog's window, shown and holding the keyboard, other than `previous`; 0 until then.
        const auto dialogWithKeyboard = [&] (std::uintptr_t previous) {
            std::uintptr_t id = 0;
            waitFor ([&] {
                const auto found = juce::StringArray::fromLines (
                    show.xdotoolOutput ({ "search", "--onlyvisible", "--name", juce::String::fromUTF8 ("^新しいフォルダー$") }).trim());
                const auto focused = (std::uintptr_t) show.xdotoolOutput ({ "getwindowfocus", "-f" }).trim().getLargeIntValue();
                id = found.size() == 1 && (std::uintptr_t) found[0].getLargeIntValue() == focused && focused != previous ? focused : 0;
                return id != 0;
            }, capMs, 20);
            return id;
        };
        const auto from = show.heard();
        // The menu takes the keys while it is up: its second item adds a folder.
        ASSERT_TRUE (show.clickAt (show.parts->centreOf ("add-playlist-folder")));
        ASSERT_TRUE (show.xdotool ({ "key", "--delay", "100", "Down", "Down", "Return" }));
        const auto first = dialogWithKeyboard (0);
        ASSERT_NE (first, 0u) << "the name dialog did not take the keyboard";
        // Return on the blank name: the dialog is up again (a window of its own), nothing made.
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        ASSERT_NE (dialogWithKeyboard (first), 0u) << "a blank name closed the dialog";
        ASSERT_TRUE (show.xdotool ({ "type", "--delay", "50", "Stage 2" }));
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        EXPECT_TRUE (waitFor ([&] { return folders() == std::vector<std::string> { "Stage 2" }; }, capMs, 20))
            << "the folder was not made from the typed name";
        ASSERT_TRUE (show.hold (0.3));
        EXPECT_EQ (show.onsets (600.0, from, 0.02), 0) << "a key meant for the dialog started the show";
    }
}

// A name typed at once after the click that opens its dialog (a choice in the "+" menu, a
// double-click on a playlist's line), 12 ms a key, while a track plays: the dialog takes every key
// in order, Return too; after a blank Return the dialog asked again takes the keys that follow.
// No key reaches a shortcut: the track plays on, nothing else starts.
// The "+" menu's item is clicked at a hand's pace: JUCE's popup menu ignores a button release that
// comes within 250 ms of its window's creation (and then stays up and takes the keys typed after
// it), so the click comes 300 ms after the menu's window has mapped.
// A held rename (without a window manager) holds the program's X connection while the double-click
// and the first key go in, as a starved message thread meets them: the dialog is made and the key
// typed in one go, before any message the dialog's making posted. (A window manager's click grab
// would hold the clicks there, not the keys.)
TEST (OperatorHandsProgram, ANameTypedAtOnceGoesIntoItsDialog)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    enum Opens { addPlaylist = 1, addFolder = 2, rename };
    struct Typing
    {
        Opens opens;
        const char* typed;   // '\n' is Return, '\b' Backspace
        const char* name;
        bool held = false;
    };
    // Folders come last: until then the open playlist is the tree's first line.
    const Typing typings[] = {
        { rename, "Act 1 open\n", "Act 1 open" },      { addPlaylist, "A01 go\n", "A01 go" },
        { addPlaylist, "B2\n", "B2" },                 { rename, "Intervalx\b\n", "Interval", true },
        { addPlaylist, "\nEncore 3\n", "Encore 3" },   { addPlaylist, "Q\n", "Q" },
        { addFolder, "Stage left\n", "Stage left" },   { addFolder, "Props\n", "Props" },
        { addFolder, "\nCrew 7\n", "Crew 7" },         { addFolder, "Z\n", "Z" },
    };
    for (const bool windowManager : { false, true })
    {
        SCOPED_TRACE (windowManager ? "with a window manager" : "without a window manager");
        HandsShow show;
        ASSERT_EQ (show.begin (windowManager, 120.0), "");
        ASSERT_TRUE (show.readyShowsLongRow()) << "the first row's waveform never showed";
        const auto& p = *show.parts;
        const auto names = [&] {
            CatalogState state;
            std::vector<std::string> all;
            if (readSplitFiles (show.rig.music(), state).ok)
            {
                for (const auto& playlist : state.document.playlists)
                    all.push_back ("playlist " + playlist.name);
                for (const auto& folder : state.document.folders)
                    all.push_back ("folder " + folder.name);
            }
            return all;
        };
        const auto listed = [&] {
            std::string text;
            for (const auto& name : names())
                text += name + "; ";
            return text;
        };
        // Screen points: xdotool then sends everything through the X server's test extension.
        const auto origin = show.contentOrigin();
        ASSERT_TRUE (origin.has_value());
        const auto onScreen = [&] (juce::Point<int> inWindow) { return inWindow + *origin; };
        // The keys of a typing as one xdotool command, run at once after the click in the same
        // call (letters, digits and spaces only: xdotool's "type" takes every argument after it).
        const auto keyOf = [] (char c) {
            return c == '\n' ? "Return" : c == '\b' ? "BackSpace" : c == ' ' ? "space" : juce::String::charToString (c);
        };
        const auto keysOf = [&] (const char* typed) {
            juce::StringArray args { "key", "--delay", "12" };
            for (const auto* c = typed; *c != 0; ++c)
                args.add (keyOf (*c));
            return args;
        };
        auto& inspector = *show.rig.inspector;

        ASSERT_TRUE (show.clickAt (p.centreOf ("wave-ready")));
        const auto go = show.heard();
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        ASSERT_NE (show.waitUntilHeard (600.0, go, 0.1), 0u) << "GO was not heard";

        auto expected = names();
        ASSERT_EQ (expected, std::vector<std::string> { "playlist Show" });
        for (const auto& t : typings)
        {
            SCOPED_TRACE (juce::String (t.typed).replace ("\n", "\\n").replace ("\b", "\\b").toStdString());
            juce::StringArray click;
            if (t.opens == rename)
            {
                expected[0] = "playlist " + std::string (t.name);
                const auto tree = p.layout["playlists"].bounds;
                const auto line = onScreen (p.toWindow ({ tree.getX() + 60, tree.getY() + 18 }));
                click = { "mousemove", juce::String (line.x), juce::String (line.y), "click", "--repeat", "2", "--delay", "80", "1" };
                if (t.held && ! windowManager)
                {
                    inspector.holdOtherClients();
                    const bool sent = inspector.movePointer (line.x, line.y)
                                   && inspector.pointerButton (1, true) && inspector.pointerButton (1, false)
                                   && inspector.pointerButton (1, true) && inspector.pointerButton (1, false)
                                   && inspector.typeKey (keyOf (t.typed[0]).toStdString());
                    inspector.releaseOtherClients();
                    ASSERT_TRUE (sent);
                    for (const auto* c = t.typed + 1; *c != 0; ++c)
                        ASSERT_TRUE (inspector.typeKey (keyOf (*c).toStdString()));
                    click.clear();
                }
            }
            else
            {
                expected.push_back ((t.opens == addFolder ? "folder " : "playlist ") + std::string (t.name));
                // The typing starts with the click on the menu's item, so the menu is still up then.
                ASSERT_TRUE (show.clickAt (p.centreOf ("add-playlist-folder")));
                juce::Rectangle<int> menu;
                ASSERT_TRUE (waitFor ([&] { return ! (menu = show.menuWindow()).isEmpty(); }, capMs, 5)) << "the menu did not show";
                const auto mapped = Clock::now();
                const auto item = menu.getPosition() + juce::Point<int> { menu.getWidth() / 2, menu.getHeight() * (2 * (int) t.opens - 1) / 4 };
                juce::Thread::sleep (std::max (300 - (int) msSince (mapped), 0));
                click = { "mousemove", juce::String (item.x), juce::String (item.y), "click", "1" };
            }
            if (! click.isEmpty())
            {
                click.addArray (keysOf (t.typed));
                ASSERT_TRUE (show.xdotool (click));
            }
            ASSERT_TRUE (waitFor ([&] { return names() == expected; }, capMs, 20))
                << "menus up: " << show.menuWindows().size() << "; saved: " << listed() << "name dialogs up: " << show.rig.windowsTitled ("新しいプレイリスト").size()
                       + show.rig.windowsTitled ("新しいフォルダー").size() + show.rig.windowsTitled ("プレイリスト名").size();
        }
        // The track played on through every key: one onset, still sounding; no other row started.
        const auto end = show.heard();
        EXPECT_NE (show.waitUntilHeard (600.0, end, 0.1), 0u) << "the track stopped";
        EXPECT_EQ (show.onsets (600.0, go), 1) << "the track was paused";
        EXPECT_EQ (show.onsets (700.0, go) + show.onsets (800.0, go), 0) << "a key started the next row";
    }
}
// A display name typed at once after the library's menu item goes into its dialog, whole, and
// no key of it reaches the show: the playing row plays on, nothing pauses or starts.
TEST (OperatorHandsProgram, ALibraryNameTypedAtOnceGoesIntoItsDialog)
{
    std::string why;
    if (! allToolsPresent (why))
        GTEST_SKIP() << why;
    for (const bool windowManager : { false, true })
    {
        SCOPED_TRACE (windowManager ? "with a window manager" : "without a window manager");
        HandsShow show;
        const auto media = show.rig.temp / "media";
        std::vector<juce::File> rows;
        for (int i = 0; i < 3; ++i)
            rows.push_back (writeSines (media, "Row " + juce::String (i + 1) + ".wav", { 600.0 + 100.0 * i }, i == 0 ? 60.0 : 8.0));
        // The pad's stored copy is the library's first file, and one that takes a display name.
        ASSERT_EQ (show.beginOn (windowManager, rows, { writeSines (media, "Pad.wav", { 500.0 }, 2.0) }, {}), "");
        ASSERT_TRUE (show.readyShowsLongRow());
        const auto go = show.heard();
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        ASSERT_NE (show.waitUntilHeard (600.0, go, 0.1), 0u) << "GO was not heard";
        ASSERT_TRUE (show.clickAt (show.parts->centreOf ("library-button")));
        MainScreenState libraryShown;
        libraryShown.libraryShown = true;
        ASSERT_EQ (show.layOut (libraryShown), "");
        const auto& p = *show.parts;
        const auto namesFile = show.rig.music().getChildFile (libraryNamesFileName);
        const auto names = [&] {
            LibraryNameMap map;
            juce::StringArray all;
            if (readLibraryNames (namesFile, map))
                for (const auto& [path, name] : map)
                    all.add (name);
            return all;
        };

        for (const char* name : { "Cue 7", "Walk in" })
        {
            SCOPED_TRACE (name);
            // A right click on the first file (below the panel's title, tools and summary), again
            // until its menu shows: the panel lists the files once its first scan has ended.
            const auto panel = p.layout["library-panel"].bounds;
            juce::Rectangle<int> menu;
            ASSERT_TRUE (waitFor ([&] {
                return show.clickAt (p.toWindow ({ panel.getX() + 120, panel.getY() + 85 + 27 }), "3")
                    && waitFor ([&] { return ! (menu = show.menuWindow()).isEmpty(); }, 1000, 5);
            }, capMs, 5)) << "the menu did not show";
            const auto mapped = Clock::now();
            // The name's heading, then the one item.
            const auto item = menu.getPosition() + juce::Point<int> { menu.getWidth() / 2, menu.getHeight() * 3 / 4 };
            juce::Thread::sleep (std::max (300 - (int) msSince (mapped), 0));
            juce::StringArray keys { "mousemove", juce::String (item.x), juce::String (item.y), "click", "1",
                                     "key", "--delay", "12", "ctrl+a" };
            for (const auto* c = name; *c != 0; ++c)
                keys.add (*c == ' ' ? juce::String ("space") : juce::String::charToString (*c));
            keys.add ("Return");
            ASSERT_TRUE (show.xdotool (keys));
            EXPECT_TRUE (waitFor ([&] { return names().contains (name); }, capMs, 20))
                << "saved names: " << names().joinIntoString (", ").toStdString();
        }
        // The track played on through every key: one onset, still sounding; nothing else started.
        const auto end = show.heard();
        EXPECT_NE (show.waitUntilHeard (600.0, end, 0.1), 0u) << "the track stopped";
        EXPECT_EQ (show.onsets (600.0, go), 1) << "the track was paused";
        for (const double tone : { 500.0, 700.0, 800.0 })
            EXPECT_EQ (show.onsets (tone, go), 0) << "a key started " << tone << " Hz";
    }
}
} // namespace
} // namespace vantrel
