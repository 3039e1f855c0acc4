// The view's shortcut dispatch over an offline session: every command of the key table through
// its key, the matching rules, the library passthrough and which auto-repeats act.
#include "ViewTestSupport.h"

#include "session/CatalogValidation.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

constexpr int f1 = 112;

/** Answers the view's confirmation with the button of `result`; false when none is up. */
bool confirmDialog (int result)
{
    auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
    if (alert == nullptr)
        return false;
    alert->exitModalState (result);
    runPendingMessages();
    return juce::Component::getCurrentlyModalComponent() == nullptr;
}

/** The view over a playlist of four 10-second tones with pads 1 and 2 assigned; every action of
    the table bound to a key of its own: Ctrl with the letters A.., then F1.. . */
struct DispatchRig : ViewRig
{
    Playlist show;
    std::map<juce::String, KeyBinding> keyOf;

    DispatchRig()
    {
        std::vector<juce::File> files;
        for (int i = 0; i < 4; ++i)
            files.push_back (writeTone (rig.media(), "Tone " + juce::String (i + 1) + ".wav", 10.0, 0.2f, 400.0 + 100.0 * i));
        show = playlistOf ("Hall", files);
        EXPECT_TRUE (addAndOpen (*session, show));
        for (int pad = 1; pad <= 2; ++pad)
            session->assignPad (1, pad, writeTone (rig.media(), "Pad " + juce::String (pad) + ".wav", 5.0, 0.2f));
        EXPECT_TRUE (finishPadJobs (*session));

        auto prefs = session->currentPreferences();
        for (size_t i = 0; i < prefs.keys.size(); ++i)
        {
            prefs.keys[i].key = i < 26 ? 'A' + (int) i : f1 + (int) i - 26;
            prefs.keys[i].ctrl = i < 26;
            prefs.keys[i].shift = false;
            keyOf[prefs.keys[i].action] = prefs.keys[i];
        }
        EXPECT_TRUE (session->applyPreferences (prefs).ok) << prefs.validateShortcuts();
        for (const auto& row : show.rows)
            EXPECT_TRUE (tickUntilPrepared (*session, row.id));
        // A pad sounds only once its media is decoded: the pad keys find them ready.
        for (int pad = 1; pad <= 2; ++pad)
            EXPECT_TRUE (tickUntilPrepared (*session, padMediaKey (1, pad)));
        makeView();
    }

    bool press (const char* action, bool repeat = false)
    {
        const auto& binding = keyOf.at (action);
        return view->handleShortcut (binding.key, repeat, binding.ctrl, binding.shift);
    }
    void release (const char* action)  { view->releaseHeldKey (keyOf.at (action).key); }

    int readyIndex() const
    {
        for (size_t i = 0; i < show.rows.size(); ++i)
            if (session->cueState().ready == show.rows[i].id)
                return (int) i;
        return -1;
    }
    double mainPosition()
    {
        session->mutableAudioAdapter().renderOfflineFrames (480);
        session->tick();
        return session->laneInfo (1).position;
    }
    void go()
    {
        session->go();
        view->refresh();
    }
};

int rowCount (DispatchRig& x)  { return (int) currentPlaylist (x.session->undoHistory().current())->rows.size(); }

int rowIndexOf (DispatchRig& x, const std::string& id)
{
    const auto& rows = currentPlaylist (x.session->undoHistory().current())->rows;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].id == id)
            return (int) i;
    return -1;
}

TEST (ShortcutDispatch, EveryCommandRunsItsOperation)
{
    DispatchRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& s = *r.session;
    auto& ui = SessionCoordinatorTestAccess::state (s).ui;
    const auto uiBefore = ui;
    const auto untouched = [] (DispatchRig&) {};
    struct Command
    {
        const char* action;
        std::function<void (DispatchRig&)> arrange;
        std::function<bool (DispatchRig&)> done;
    };
    const Command commands[] = {
        { "GO", untouched, [] (DispatchRig& x) { return x.session->cueState().main == x.show.rows[0].id; } },
        { "PAUSE", [] (DispatchRig& x) { x.go(); }, [] (DispatchRig& x) { return x.session->cueState().paused; } },
        { "PAD 2", untouched, [] (DispatchRig& x) { return x.session->isPadActive (1, 2) && ! x.session->isPadActive (1, 1); } },
        { "PAD STOP", [] (DispatchRig& x) { x.session->triggerPad (1); },
          [] (DispatchRig& x) { return x.session->padTriggerState().triggers.empty(); } },
        { "UNDO", [] (DispatchRig& x) { x.session->renamePlaylist (x.show.id, "Renamed"); },
          [] (DispatchRig& x) { return currentPlaylist (x.session->undoHistory().current())->name == "Hall"; } },
        { "REDO", [] (DispatchRig& x) { x.session->renamePlaylist (x.show.id, "Renamed"); x.session->undoRedo (false); },
          [] (DispatchRig& x) { return currentPlaylist (x.session->undoHistory().current())->name == "Renamed"; } },
        { "REDO (alternate)", [] (DispatchRig& x) { x.session->renamePlaylist (x.show.id, "Renamed"); x.session->undoRedo (false); },
          [] (DispatchRig& x) { return currentPlaylist (x.session->undoHistory().current())->name == "Renamed"; } },
        { "NEXT ROW", untouched, [] (DispatchRig& x) { return x.readyIndex() == 1; } },
        { "PREVIOUS ROW", [] (DispatchRig& x) { x.session->moveReady (2); }, [] (DispatchRig& x) { return x.readyIndex() == 1; } },
        { "SEEK FORWARD", [] (DispatchRig& x) { x.go(); }, [] (DispatchRig& x) { return x.mainPosition() >= 5.0; } },
        { "SEEK BACK", [] (DispatchRig& x) { x.go(); x.session->seekMain (7.0, false); },
          [] (DispatchRig& x) { const auto p = x.mainPosition(); return p >= 2.0 && p < 3.0; } },
        { "MAIN STOP", [] (DispatchRig& x) { x.go(); }, [] (DispatchRig& x) { return ! x.session->cueState().main; } },
        { "OUT STOP", [] (DispatchRig& x) { x.go(); x.go(); },
          [] (DispatchRig& x) { return ! x.session->cueState().outgoing && x.session->cueState().main; } },
        { "AUTO CUE", untouched, [] (DispatchRig& x) { return ! x.session->isAutoCueOn(); } },
        { "AUTO READY", untouched, [] (DispatchRig& x) { return ! x.session->cueState().autoReady; } },
        { "REPEAT", untouched, [] (DispatchRig& x) { return x.session->cueState().repeatMode == orvane::audio::RepeatMode::one; } },
        { "MASTER EQ", untouched, [] (DispatchRig& x) { return x.view->eqTarget() == "@master"; } },
        { "PLAYLIST EQ", untouched,
          [] (DispatchRig& x) { return x.view->eqTarget() == "@playlist:" + juce::String (x.show.id); } },
        { "ZOOM IN", untouched, [&ui] (DispatchRig&) { return ui.zoom == 14; } },
        { "ZOOM OUT", untouched, [&ui] (DispatchRig&) { return ui.zoom == 16; } },
        { "PAD MUTE", untouched, [] (DispatchRig& x) { return x.session->isPadMuteOn(); } },
        { "PLAYLIST PANEL", untouched, [&] (DispatchRig&) { return ui.playlistsFolded != uiBefore.playlistsFolded; } },
        { "PAD PANEL", untouched, [&] (DispatchRig&) { return ui.padsFolded != uiBefore.padsFolded; } },
        { "MEMO PANEL", untouched, [&] (DispatchRig&) { return ui.memoFolded != uiBefore.memoFolded; } },
        { "LIMITER", untouched, [] (DispatchRig& x) { return ! x.session->isLimiterOn(); } },
        // A click of the LIVE LOCK button, run from the message loop: switching on needs no question.
        { "LIVE LOCK", untouched, [] (DispatchRig& x) { runPendingMessages(); return x.session->isLiveLockOn(); } },
        // DELETE asks first; "実行" removes the row READY stepping counts from.
        { "DELETE", [] (DispatchRig& x) { x.session->selectReady (x.show.rows[2].id); },
          [] (DispatchRig& x) { return confirmDialog (1) && rowCount (x) == 3 && rowIndexOf (x, x.show.rows[2].id) < 0; } },
        { "DELETE (alternate)", [] (DispatchRig& x) { x.session->selectReady (x.show.rows[1].id); },
          [] (DispatchRig& x) { return confirmDialog (0) && rowCount (x) == 4; } },
        { "VST", untouched, nullptr },   // consumed; the rack window is not built into the view yet
    };
    const auto before = s.undoHistory().current();
    for (const auto& command : commands)
    {
        SCOPED_TRACE (command.action);
        s.stop (true);
        s.stop (false);
        s.stopAllPads();
        if (s.isLiveLockOn())
            s.toggleLiveLock();
        s.commitEdit (before);   // refused when nothing differs
        ASSERT_EQ (rowCount (r), 4);
        ASSERT_EQ (currentPlaylist (s.undoHistory().current())->name, "Hall");
        ui = uiBefore;
        s.setZoom (15);
        SessionCoordinatorTestAccess::setModes (s, true, false, true);   // AUTO CUE on, PAD MUTE off, LIMITER on
        SessionCoordinatorTestAccess::cue (s).autoReady = true;
        SessionCoordinatorTestAccess::cue (s).repeatMode = orvane::audio::RepeatMode::off;
        s.selectReady (r.show.rows[0].id);
        r.view->clearHeldKeys();
        command.arrange (r);
        r.view->refresh();

        EXPECT_TRUE (r.press (command.action));
        if (command.done)
        {
            EXPECT_TRUE (command.done (r));
        }
        r.release (command.action);
    }
}

TEST (ShortcutDispatch, MatchingRepeatsAndTheLibraryPassthrough)
{
    DispatchRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& s = *r.session;
    auto& view = *r.view;

    // One letter bound with Ctrl and with Ctrl+Shift: each form runs its own entry, exactly.
    auto prefs = s.currentPreferences();
    for (auto& binding : prefs.keys)
    {
        if (binding.key == 'Q')
            binding.key = vk::none;
        if (binding.action == "NEXT ROW")
            binding = { "NEXT ROW", 'Q', true, false };
        if (binding.action == "PREVIOUS ROW")
            binding = { "PREVIOUS ROW", 'Q', true, true };
    }
    ASSERT_TRUE (s.applyPreferences (prefs).ok) << prefs.validateShortcuts();
    s.selectReady (r.show.rows[0].id);
    r.keyOf["NEXT ROW"] = { "NEXT ROW", 'Q', true, false };
    r.keyOf["PREVIOUS ROW"] = { "PREVIOUS ROW", 'Q', true, true };
    EXPECT_TRUE (view.handleShortcut ('Q', false, true, false));
    EXPECT_EQ (r.readyIndex(), 1);
    EXPECT_TRUE (view.handleShortcut ('Q', false, true, true));
    EXPECT_EQ (r.readyIndex(), 0);
    EXPECT_FALSE (view.handleShortcut ('Q', false, false, false)) << "Q alone is bound to nothing";
    EXPECT_FALSE (view.handleShortcut ('Q', false, false, true));
    view.releaseHeldKey ('Q');

    // Auto-repeats: the steps and seeks act while their key is held, GO does not.
    struct Repeat { const char* action; bool firstPressed; int ready; std::int64_t gos; int swallowed; };
    const Repeat repeats[] = {
        { "NEXT ROW", true, 3, 0, 0 },   // the press and two repeats step
        { "NEXT ROW", false, 0, 0, 2 },  // repeats of a key never taken as a first press
        { "GO", true, 1, 1, 2 },         // one GO; READY moves on by itself
    };
    for (const auto& repeat : repeats)
    {
        SCOPED_TRACE (juce::String (repeat.action) + (repeat.firstPressed ? " held" : " not pressed"));
        s.stop (true);
        s.stop (false);
        s.selectReady (r.show.rows[0].id);
        const auto gos = (std::int64_t) s.cueState().goCounter;
        const int swallowed = view.repeatsSwallowed();
        if (repeat.firstPressed)
        {
            EXPECT_TRUE (r.press (repeat.action));
        }
        EXPECT_TRUE (r.press (repeat.action, true));
        EXPECT_TRUE (r.press (repeat.action, true));
        r.release (repeat.action);
        EXPECT_EQ (r.readyIndex(), repeat.ready);
        EXPECT_EQ ((std::int64_t) s.cueState().goCounter - gos, repeat.gos);
        EXPECT_EQ (view.repeatsSwallowed() - swallowed, repeat.swallowed);
    }

    // A press refused while a dialog is up forgets the held keys: its repeats are swallowed after.
    s.selectReady (r.show.rows[0].id);
    EXPECT_TRUE (r.press ("NEXT ROW"));
    view.flags().dialogOpen = true;
    EXPECT_FALSE (r.press ("NEXT ROW", true));
    view.flags().dialogOpen = false;
    EXPECT_TRUE (r.press ("NEXT ROW", true));
    EXPECT_EQ (r.readyIndex(), 1);
    r.release ("NEXT ROW");

    // The library panel takes GO and the READY steps; the other commands still work.
    s.stop (true);
    s.stop (false);
    view.flags().libraryShown = true;
    for (const auto* action : { "GO", "PREVIOUS ROW", "NEXT ROW" })
        EXPECT_FALSE (r.press (action)) << action;
    EXPECT_FALSE (s.cueState().main.has_value());
    EXPECT_TRUE (r.press ("PAD MUTE"));
    EXPECT_TRUE (s.isPadMuteOn());
    view.flags().libraryShown = false;

    // Without an open playlist PLAYLIST EQ only refreshes; a key bound to nothing goes on.
    ASSERT_TRUE (s.removePlaylist (r.show.id));
    EXPECT_TRUE (r.press ("PLAYLIST EQ"));
    EXPECT_TRUE (view.eqTarget().isEmpty());
    EXPECT_FALSE (view.handleShortcut (f1 + 20, false, false, false));
}
} // namespace
} // namespace vantrel
