#include "ViewTestSupport.h"

#include "ui/GainControl.h"
#include "ui/MainWindow.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

/** The main window over an offline session with a playlist of twelve tones, on a private X
    server, driven with xdotool as an operator's keyboard and mouse would. */
struct WindowRig
{
    PrivateGuiDisplay display;
    juce::ScopedJuceInitialiser_GUI gui;
    SessionRig rig;
    std::unique_ptr<MainWindow> window;
    juce::String windowId;

    bool start (std::string& problem)
    {
        if (! display.running())
        {
            problem = display.problem;
            return false;
        }
        installUiFonts();
        rig.media().createDirectory();
        MainWindowSetup setup;
        setup.profileRoot = rig.profile.path();
        setup.audioEnabled = false;
        setup.options = rig.options;
        window = std::make_unique<MainWindow> (setup);
        window->view.stopTicking();   // the test ticks the view itself, between its own steps

        std::vector<juce::File> files;
        for (int i = 0; i < 12; ++i)
            files.push_back (writeTone (rig.media(), "Tone " + juce::String (i + 1) + ".wav", 1.0, 0.2f, 300.0 + 50.0 * i));
        if (! addAndOpen (session(), playlistOf ("Hall", files)))
        {
            problem = "the playlist could not be added";
            return false;
        }
        window->view.refresh();
        if (! waitUntilMapped (*window, display))
        {
            problem = "the window was never mapped";
            return false;
        }
        windowId = juce::String ((juce::int64) (juce::pointer_sized_int) window->getWindowHandle());
        // No window manager: the pointer over the window gives it the keyboard. The focus is
        // asked for and then waited for here (xdotool's windowfocus --sync can wait for ever on
        // a window whose focus JUCE hands to a child); a request made too early is asked again.
        auto* peer = window->getPeer();
        if (peer == nullptr || ! xdotool ({ "mousemove", "--window", windowId, "400", "400" })
            || ! runMessagesUntil ([&] { return peer->isFocused() || (xdotool ({ "windowfocus", windowId }) && peer->isFocused()); }))
        {
            problem = "the window " + windowId.toStdString() + " did not take the keyboard; top-level windows:";
            for (const auto& w : display.look->topLevelWindows())
                problem += " " + std::to_string (w.id) + " '" + w.title + "'" + (w.viewable ? " viewable" : "");
            return false;
        }
        return true;
    }

    SessionCoordinator& session() { return window->coordinator; }

    bool xdotool (const juce::StringArray& args)  { return xdotoolOn (display, args); }

    /** Runs the view's timer steps and the messages until the condition holds. */
    template <typename Condition>
    bool tickUntil (Condition condition)
    {
        return waitUntil (condition, [&] { runPendingMessages(); window->view.timerCallback(); }, patienceMs, 5);
    }

    /** Presses a marker key (F5, bound to ZOOM IN for the test) and waits for its effect: every key
        event sent before it has then been handled. */
    bool keysThrough()
    {
        auto prefs = session().currentPreferences();
        for (auto& binding : prefs.keys)
            if (binding.action == "ZOOM IN")
                binding.key = 116;   // F5
        if (! session().applyPreferences (prefs).ok)
            return false;
        session().setZoom (10);
        return xdotool ({ "key", "F5" }) && tickUntil ([&] { return session().catalogState().ui.zoom == 9; });
    }

    int readyIndex()
    {
        const auto* playlist = currentPlaylist (session().catalogState().document);
        if (playlist == nullptr || ! session().cueState().ready)
            return -1;
        for (int i = 0; i < (int) playlist->rows.size(); ++i)
            if (playlist->rows[(size_t) i].id == *session().cueState().ready)
                return i;
        return -1;
    }
};

#define START_WINDOW_RIG(r)                                                                 \
    if (! xdotoolInstalled())                                                               \
        GTEST_SKIP() << "xdotool is not installed";                                         \
    WindowRig r;                                                                            \
    {                                                                                       \
        std::string problem;                                                                \
        if (! r.display.running())                                                          \
            GTEST_SKIP() << r.display.problem;                                              \
        ASSERT_TRUE (r.start (problem)) << problem;                                         \
    }

TEST (MainWindowKeys, ReturnGivesGoOnceHoweverLongItIsHeld)
{
    START_WINDOW_RIG (r);
    auto& s = r.session();
    ASSERT_TRUE (r.tickUntil ([&] { return s.cueState().ready && s.mutableAudioAdapter().loadedMedia (*s.cueState().ready) != nullptr
                                           && s.mutableAudioAdapter().loadedMedia (*s.cueState().ready)->pcm != nullptr; }));
    const auto before = s.cueState().goCounter;
    const auto firstReady = *s.cueState().ready;

    ASSERT_TRUE (r.xdotool ({ "keydown", "Return" }));
    ASSERT_TRUE (r.tickUntil ([&] { return s.cueState().goCounter != before; }));
    // Held: the auto-repeats arrive and are swallowed.
    EXPECT_TRUE (r.tickUntil ([&] { return r.window->view.repeatsSwallowed() >= 5; }));
    ASSERT_TRUE (r.xdotool ({ "keyup", "Return" }));
    ASSERT_TRUE (r.keysThrough());
    EXPECT_EQ (s.cueState().goCounter, before + 1);
    ASSERT_TRUE (s.cueState().main.has_value());
    EXPECT_EQ (*s.cueState().main, firstReady);
}

TEST (MainWindowKeys, AHeldArrowStepsReadyWithEveryRepeat)
{
    START_WINDOW_RIG (r);
    ASSERT_EQ (r.readyIndex(), 0);
    ASSERT_TRUE (r.xdotool ({ "keydown", "Down" }));
    const bool stepped = r.tickUntil ([&] { return r.readyIndex() >= 4; });
    ASSERT_TRUE (r.xdotool ({ "keyup", "Down" }));
    EXPECT_TRUE (stepped) << "READY at " << r.readyIndex();

    // Released: the next press is a first press again, one step.
    ASSERT_TRUE (r.keysThrough());
    const int after = r.readyIndex();
    ASSERT_TRUE (r.xdotool ({ "key", "Up" }));
    EXPECT_TRUE (r.tickUntil ([&] { return r.readyIndex() == after - 1; })) << r.readyIndex();
}

TEST (MainWindowKeys, AltKeysAndTextFieldKeysAreNotShortcuts)
{
    START_WINDOW_RIG (r);
    auto& s = r.session();
    const auto before = s.cueState().goCounter;
    ASSERT_TRUE (r.xdotool ({ "key", "alt+Return", "alt+Down" }));
    ASSERT_TRUE (r.keysThrough());
    EXPECT_EQ (s.cueState().goCounter, before);
    EXPECT_EQ (r.readyIndex(), 0);

    // Typing into the memo: the space stays text (PAUSE is not toggled), Return a new line.
    auto& memo = byId<juce::TextEditor> (r.window->view, "playlist-memo");
    if (! memo.isShowing())
    {
        s.toggleMemoPanel();
        r.window->view.refresh();
    }
    ASSERT_TRUE (memo.isShowing());
    const auto centre = memo.getScreenBounds().getCentre();
    ASSERT_TRUE (r.xdotool ({ "mousemove", juce::String (centre.x), juce::String (centre.y), "click", "1" }));
    ASSERT_TRUE (r.tickUntil ([&] { return memo.hasKeyboardFocus (true); }));
    ASSERT_TRUE (r.xdotool ({ "type", "--delay", "20", "doors open" }));
    ASSERT_TRUE (r.xdotool ({ "key", "Return" }));
    EXPECT_TRUE (r.tickUntil ([&] { return memo.getText() == "doors open\n"; })) << memo.getText();
    EXPECT_EQ (s.cueState().goCounter, before);
    EXPECT_FALSE (s.cueState().paused);
}

TEST (MainWindowWheel, TheWheelDrivesTheGainControlItWasBoundTo)
{
    START_WINDOW_RIG (r);
    auto& view = r.window->view;
    auto& gain = byId<GainControl> (view, "playlist-gain");
    ASSERT_TRUE (gain.isShowing());
    // A click on the control's reset button binds it (and sets it to 0 dB).
    const auto reset = gain.resetButton.getScreenBounds().getCentre();
    ASSERT_TRUE (r.xdotool ({ "mousemove", juce::String (reset.x), juce::String (reset.y), "click", "1" }));
    ASSERT_TRUE (r.tickUntil ([&] { return view.wheelTarget() == &gain; }));

    // Turned anywhere over the window, e.g. over the rows list, the wheel moves the bound gain.
    const auto rows = findById (view, "setlist")->getScreenBounds().getCentre();
    ASSERT_TRUE (r.xdotool ({ "mousemove", juce::String (rows.x), juce::String (rows.y), "click", "4", "click", "4" }));
    const auto gainOf = [&] { return currentPlaylist (r.session().undoHistory().current())->gainDb; };
    EXPECT_TRUE (r.tickUntil ([&] { return gainOf() == 1.0f; })) << gainOf();
    ASSERT_TRUE (r.xdotool ({ "click", "5" }));
    EXPECT_TRUE (r.tickUntil ([&] { return gainOf() == 0.5f; })) << gainOf();
}
} // namespace
} // namespace vantrel

namespace vantrel
{
namespace
{
using namespace vantrel::test;

// Pads are bound to the keypad: a keypad digit fires its pad, the same digit on the top row not.
TEST (MainWindowKeys, KeypadDigitsFirePadsAndTopRowDigitsDoNot)
{
    START_WINDOW_RIG (r);
    auto& s = r.session();
    s.assignPad (1, 3, writeTone (r.rig.media(), "Bell.wav", 1.0, 0.2f));
    ASSERT_TRUE (r.tickUntil ([&] { return ! s.catalogState().pads[2].asset.empty(); }));
    // Ready to sound: a pad whose media is still being prepared answers with that, not with "PAD 3".
    ASSERT_TRUE (tickUntilPrepared (s, padMediaKey (1, 3)));

    // The top-row 3, then a key whose effect shows that the 3 has been through.
    s.setStatus ("-");
    ASSERT_TRUE (r.xdotool ({ "key", "3", "Down" }));
    ASSERT_TRUE (r.tickUntil ([&] { return s.lastStatus() == vantrel::testing::ja ("READYを選択しました"); })) << s.lastStatus();

    // One client for both: the server takes its requests in order, so the keypad key is looked
    // up (and pressed) with Num Lock already on.
    ASSERT_TRUE (r.xdotool ({ "key", "Num_Lock", "KP_3" }));
    EXPECT_TRUE (r.tickUntil ([&] { return s.lastStatus() == "PAD 3"; })) << s.lastStatus();
}
} // namespace
} // namespace vantrel

namespace vantrel
{
namespace
{
using namespace vantrel::test;

/** The value box of a gain control (the slider's label), or null. */
juce::Label* valueBoxOf (GainControl& gain)
{
    for (auto* child : gain.slider.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (child))
            return label;
    return nullptr;
}

/** True while a text field has the keyboard focus. */
bool typingInAField()
{
    return dynamic_cast<juce::TextEditor*> (juce::Component::getCurrentlyFocusedComponent()) != nullptr;
}

/** The row gain control that shows the row, or null (the list reuses its row components). */
GainControl* rowGainOf (juce::Component& view, const std::string& rowId)
{
    if (auto* gain = dynamic_cast<GainControl*> (&view); gain != nullptr && view.getComponentID() == "track-gain"
        && gain->getProperties()["wheel-binding"].toString() == juce::String (rowId))
        return gain;
    for (auto* child : view.getChildren())
        if (auto* found = rowGainOf (*child, rowId))
            return found;
    return nullptr;
}

// A click in a gain's value box starts typing there: the keys are the box's, Return commits on
// the 0.1 dB grid as one undoable edit, Escape cancels, a click elsewhere commits.
TEST (MainWindowTyping, AGainBoxTakesTypingAndReturnCommitsWithoutGo)
{
    START_WINDOW_RIG (r);
    auto& s = r.session();
    auto& view = r.window->view;
    ASSERT_TRUE (r.tickUntil ([&] { return s.cueState().ready && s.mutableAudioAdapter().loadedMedia (*s.cueState().ready) != nullptr; }));
    const auto rowId = currentPlaylist (s.catalogState().document)->rows[1].id;

    struct Target
    {
        const char* what;
        std::function<GainControl*()> gain;
        std::function<float()> value;   // in the session
        bool documentEdit;              // the master's gain is no edit of the show's document
    };
    const Target targets[] = {
        { "master", [&] { return &byId<GainControl> (view, "master-gain"); }, [&] { return s.masterGain(); }, false },
        { "playlist", [&] { return &byId<GainControl> (view, "playlist-gain"); },
          [&] { return currentPlaylist (s.catalogState().document)->gainDb; }, true },
        { "row", [&] { return rowGainOf (view, rowId); }, [&] { return currentPlaylist (s.catalogState().document)->rows[1].gainDb; }, true },
    };
    struct Case
    {
        const char* typed;
        const char* ending;   // "Return", "Escape" or "click": a click on the READY lane
        float expected;
    };
    const Case cases[] = { { "-3.27", "Return", -3.3f }, { "-9", "Escape", -3.3f }, { "2.04", "click", 2.0f } };
    const auto goes = s.cueState().goCounter;
    for (const auto& t : targets)
        for (const auto& c : cases)
        {
            SCOPED_TRACE (std::string (t.what) + " " + c.typed + " " + c.ending);
            auto* gain = t.gain();
            ASSERT_NE (gain, nullptr);
            auto* box = valueBoxOf (*gain);
            ASSERT_NE (box, nullptr);
            const auto centre = box->getScreenBounds().getCentre();
            ASSERT_TRUE (r.xdotool ({ "mousemove", juce::String (centre.x), juce::String (centre.y), "click", "1" }));
            ASSERT_TRUE (r.tickUntil ([&] { return typingInAField(); })) << "the box took no typing";
            EXPECT_TRUE (r.tickUntil ([&] { return view.wheelTarget() == nullptr; })) << "the wheel stayed bound while typing";
            ASSERT_TRUE (r.xdotool ({ "key", "ctrl+a" }));
            ASSERT_TRUE (r.xdotool ({ "type", "--delay", "20", "--", c.typed }));
            const auto steps = s.undoHistory().undoStack().size();
            if (juce::String (c.ending) == "click")
            {
                const auto lane = findById (view, "wave-ready")->getScreenBounds().getCentre();
                ASSERT_TRUE (r.xdotool ({ "mousemove", juce::String (lane.x), juce::String (lane.y), "click", "1" }));
            }
            else
            {
                ASSERT_TRUE (r.xdotool ({ "key", c.ending }));
            }
            ASSERT_TRUE (r.tickUntil ([&] { return ! typingInAField(); }));
            ASSERT_TRUE (r.keysThrough()) << "the shortcuts did not come back";
            EXPECT_FLOAT_EQ (t.value(), c.expected);
            EXPECT_FLOAT_EQ (t.gain()->value(), c.expected);
            EXPECT_EQ (s.cueState().goCounter, goes) << "a key typed into the box ran the show";
            if (t.documentEdit)
            {
                EXPECT_EQ (s.undoHistory().undoStack().size() - steps, juce::String (c.ending) == "Escape" ? 0u : 1u);
            }
        }
}
// A name dialog opens with its field focused: the operator types and presses Return. Return on a
// blank name keeps the dialog up with a message; no shortcut runs while it is up.
TEST (MainWindowTyping, ANameDialogTakesTypingAndReturnSubmits)
{
    START_WINDOW_RIG (r);
    auto& s = r.session();
    const auto goes = s.cueState().goCounter;
    const auto folders = [&] { return s.catalogState().document.folders.size(); };
    const auto dialog = [] { return dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent()); };
    const auto fieldFocused = [&] {
        auto* d = dialog();
        return d != nullptr && d->getTextEditor ("value") != nullptr && d->getTextEditor ("value")->hasKeyboardFocus (false);
    };
    const auto add = findById (r.window->view, "add-playlist-folder")->getScreenBounds().getCentre();
    ASSERT_TRUE (r.xdotool ({ "mousemove", juce::String (add.x), juce::String (add.y), "click", "1" }));
    ASSERT_TRUE (r.tickUntil ([&] { return modalMenuText().contains ("+" + vantrel::testing::ja ("フォルダーを追加…")); })) << modalMenuText();
    ASSERT_TRUE (chooseInModalMenu (vantrel::testing::ja ("フォルダーを追加…")));
    ASSERT_TRUE (r.tickUntil (fieldFocused)) << "the name field has no keyboard focus";

    // Return on the blank name: the dialog stays up and says why.
    ASSERT_TRUE (r.xdotool ({ "key", "Return" }));
    ASSERT_TRUE (r.tickUntil ([&] { return fieldFocused() && dialog()->getTextEditor ("value") != nullptr
                                           && dialog()->getDescription().contains (vantrel::testing::ja ("名前を入力してください")); }))
        << "a blank name closed the dialog without a word";
    EXPECT_EQ (folders(), 0u);

    // Typed text goes into the field (Space and digits too), Return makes the folder.
    ASSERT_TRUE (r.xdotool ({ "type", "--delay", "20", "Stage 2" }));
    ASSERT_TRUE (r.xdotool ({ "key", "Return" }));
    ASSERT_TRUE (r.tickUntil ([&] { return folders() == 1u && dialog() == nullptr; }));
    EXPECT_EQ (s.catalogState().document.folders.front().name, "Stage 2");
    EXPECT_EQ (s.cueState().goCounter, goes);
    EXPECT_FALSE (s.cueState().paused);
}
} // namespace
} // namespace vantrel
