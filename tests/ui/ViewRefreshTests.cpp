#include "ViewTestSupport.h"

#include "session/UiLanguage.h"
#include "support/SmallDisk.h"
#include "ui/GainControl.h"
#include "ui/Meters.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

const char* const catalogEditButtons[] = { "add-playlist-folder", "tree-remove", "add-audio", "row-up", "row-down", "remove-rows" };

/** The view's part under a layout name that has no component id (looked up by its text). */
juce::TextButton& buttonWithText (juce::Component& root, const juce::String& text)
{
    for (auto* c : root.getChildren())
        if (auto* b = dynamic_cast<juce::TextButton*> (c); b != nullptr && b->getButtonText() == text)
            return *b;
    throw std::runtime_error ("no button " + text.toStdString());
}

bool editButtonsEnabled (VantrelView& view)
{
    bool all = true;
    for (auto* id : { "add-playlist-folder", "add-audio" })
        all = all && byId<juce::Button> (view, id).isEnabled();
    for (auto* text : { "↑", "↓" })
        all = all && buttonWithText (view, ja (text)).isEnabled();
    return all;
}

bool editButtonsDisabled (VantrelView& view)
{
    bool none = true;
    for (auto* id : { "add-playlist-folder", "add-audio" })
        none = none && ! byId<juce::Button> (view, id).isEnabled();
    for (auto* text : { "↑", "↓" })
        none = none && ! buttonWithText (view, ja (text)).isEnabled();
    return none;
}

juce::Label& statusLabel (VantrelView& view)
{
    // The status line is the label along the bottom edge.
    for (auto* c : view.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (c); label != nullptr && label->getBottom() > view.getHeight() - 20)
            return *label;
    throw std::runtime_error ("no status label");
}

TEST (MainView, ShowsWhatTheSessionHolds)
{
    ViewRig r;
    auto& view = r.makeView();
    auto& memo = byId<juce::TextEditor> (view, "playlist-memo");
    auto& playlistGain = byId<GainControl> (view, "playlist-gain");

    // No playlist open: no playlist gain or EQ, the memo cannot take text that would be lost.
    EXPECT_EQ (findById (view, "playlists") != nullptr, true);
    EXPECT_FALSE (playlistGain.isEnabled());
    EXPECT_FALSE (byId<juce::Button> (view, "playlist-eq").isEnabled());
    EXPECT_TRUE (memo.isReadOnly());
    EXPECT_TRUE (memo.isEmpty());
    bool titleShown = false;
    for (auto* c : view.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (c))
            titleShown = titleShown || label->getText() == ja ("プレイリスト未選択");
    EXPECT_TRUE (titleShown);

    // No output (offline): the output label and the status line say so in red.
    auto& status = statusLabel (view);
    EXPECT_TRUE (status.getText().startsWith (ja ("OUT: 出力先なし — "))) << status.getText();
    EXPECT_EQ (status.findColour (juce::Label::textColourId), colours::red);

    // A playlist with its memo and gain.
    auto show = r.addShow ("Hall", 3);
    auto candidate = r.session->undoHistory().current();
    candidate.playlists[0].memo = "Doors 18:30";
    candidate.playlists[0].gainDb = -4.5f;
    ASSERT_TRUE (r.session->commitEdit (candidate));
    view.refresh();
    EXPECT_TRUE (playlistGain.isEnabled());
    EXPECT_FLOAT_EQ (playlistGain.value(), -4.5f);
    EXPECT_FALSE (memo.isReadOnly());
    EXPECT_EQ (memo.getText(), "Doors 18:30");
    EXPECT_TRUE (editButtonsEnabled (view));

    // LIVE LOCK with its playlist editing scope: the six edit buttons are off and the memo is
    // read-only; without that scope they stay usable.
    r.session->toggleLiveLock();
    view.refresh();
    EXPECT_TRUE (byId<juce::Button> (view, "lock").getToggleState());
    EXPECT_TRUE (editButtonsDisabled (view));
    EXPECT_TRUE (memo.isReadOnly());
    EXPECT_FALSE (byId<juce::Button> (view, "master-limiter").isEnabled());   // the limiter scope is on by default
    r.session->toggleLiveLock();
    auto prefs = r.session->currentPreferences();
    prefs.locks[0] = false;
    ASSERT_TRUE (r.session->applyPreferences (prefs).ok);
    r.session->toggleLiveLock();
    view.refresh();
    EXPECT_TRUE (editButtonsEnabled (view));
    EXPECT_FALSE (memo.isReadOnly());
}

TEST (MainView, TheTimerRunsTheSessionsTick)
{
    ViewRig r;
    auto& view = r.makeView();
    const auto source = writeTone (r.rig.media(), "Applause.wav", 1.0, 0.2f);
    r.session->assignPad (1, 1, source);

    // Only the view's timer runs; the tick takes the finished copy into the pad.
    ASSERT_TRUE (waitUntil ([&] { return ! r.session->catalogState().pads[0].asset.empty(); }, [&] { view.timerCallback(); }, patienceMs, 2));
    EXPECT_EQ (r.session->catalogState().pads[0].name, "Applause");
}

TEST (MainView, GainReductionAndSafetyFollowTheMasterMeters)
{
    ViewRig r;
    auto& view = r.makeView();
    const auto loud = writeTone (r.rig.media(), "Loud.wav", 2.0, 0.99f, 997.0);
    ASSERT_TRUE (addAndOpen (*r.session, playlistOf ("Loud", { loud })));
    r.session->setLimiterParameter (3, 12.0f);   // MAXIMIZE drives the limiter hard
    const auto id = *r.session->cueState().ready;
    ASSERT_TRUE (tickUntilPrepared (*r.session, id));
    r.session->go();
    for (int i = 0; i < 200 && r.session->masterMeters().limiterReductionDb <= 1.0f; ++i)
    {
        r.session->mutableAudioAdapter().renderOfflineFrames (2048);
        r.session->tick();
    }
    const auto m = r.session->masterMeters();
    ASSERT_GT (m.limiterReductionDb, 1.0f) << r.session->statusText() << " main " << r.session->cueState().main.has_value()
        << " peak " << m.outputPeakLeftDb << " tp " << m.truePeakReductionDb;

    view.refresh();
    const auto meters = r.session->masterMeters();
    juce::String gr;
    for (auto* c : view.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (c); label != nullptr && label->getText().startsWith ("GR"))
            gr = label->getText();
    EXPECT_EQ (gr, gainReductionText (meters.limiterReductionDb));
    EXPECT_NE (gr, "GR  0.0 dB");
}

TEST (MainView, LanguageSwitchRebuildsTheViewAtTheNextTick)
{
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& view = r.makeView();
    view.flags().dynamicsOpen = true;
    view.flags().padEditMode = true;
    view.openEq ("@master");
    view.refresh();
    EXPECT_EQ (byId<juce::Label> (view, "pad-preset-label").getText(), ja ("プリセット"));

    setUiLanguage (true);
    view.timerCallback();
    const bool english = view.builtInEnglish();
    const auto preset = byId<juce::Label> (view, "pad-preset-label").getText();
    const auto settings = byId<juce::Button> (view, "settings").getButtonText();
    const auto status = statusLabel (view).getText();
    setUiLanguage (false);

    EXPECT_TRUE (english);
    EXPECT_EQ (preset, "Preset");
    EXPECT_EQ (settings, ja ("⚙ Settings"));
    EXPECT_TRUE (status.startsWith ("OUT: No output")) << status;
    EXPECT_TRUE (view.flags().dynamicsOpen);
    EXPECT_TRUE (view.flags().padEditMode);
    EXPECT_EQ (view.eqTarget(), "@master");

    // A dialog that is up holds the rebuild off until it closes.
    view.confirm ("?", [] {});
    view.timerCallback();
    EXPECT_TRUE (view.builtInEnglish());
    auto* alert = juce::Component::getCurrentlyModalComponent();
    ASSERT_NE (alert, nullptr);
    alert->exitModalState (0);
    ASSERT_TRUE (runMessagesUntil ([&] { return ! view.flags().dialogOpen; }));
    view.timerCallback();
    EXPECT_FALSE (view.builtInEnglish());
}

TEST (MainView, MemoTypedForAPlaylistIsSavedWhenEditsAreCommitted)
{
    ViewRig r;
    auto& view = r.makeView();
    auto show = r.addShow ("Hall", 1);
    view.refresh();
    auto& memo = byId<juce::TextEditor> (view, "playlist-memo");
    memo.setText ("Mic check at 17:00");
    view.commitPendingEdits();
    EXPECT_EQ (r.session->undoHistory().current().playlists[0].memo, "Mic check at 17:00");
}

TEST (MainView, ADragClosedUnderTheControlStillEndsAsAnEdit)
{
    ViewRig r;
    auto& view = r.makeView();
    auto show = r.addShow ("Hall", 1);
    view.refresh();
    auto& gain = byId<GainControl> (view, "playlist-gain");
    const auto steps = r.session->undoHistory().changeCount();

    // A drag that an undo closes in the middle (the key works during a mouse drag).
    gain.editing = true;
    gain.onEditStart();
    gain.onValue (-6.0f);
    r.session->undoRedo (false);
    gain.onValue (-7.5f);
    gain.onEditEnd (-7.5f);
    gain.editing = false;

    EXPECT_FLOAT_EQ (r.session->undoHistory().current().playlists[0].gainDb, -7.5f);
    EXPECT_GT (r.session->undoHistory().changeCount(), steps);
    ASSERT_TRUE (r.session->waitForSaves());
    CatalogStore reader (r.rig.music());
    CatalogState saved;
    ASSERT_TRUE (reader.readSavedFiles (saved).ok);
    EXPECT_FLOAT_EQ (saved.document.playlists[0].gainDb, -7.5f);
}

TEST (MainViewQuit, WithNothingSoundingTheQuitRunsAtOnce)
{
    ViewRig r;
    auto& view = r.makeView();
    int quits = 0;
    view.requestQuit ([&] { ++quits; });
    EXPECT_EQ (quits, 1);
    EXPECT_FALSE (view.flags().dialogOpen);
}

TEST (MainViewQuit, UnderLiveLockItAsksFirst)
{
    ViewRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& view = r.makeView();
    r.session->toggleLiveLock();
    int quits = 0;
    for (const int answer : { 0, 1 })
    {
        view.requestQuit ([&] { ++quits; });
        ASSERT_TRUE (view.flags().dialogOpen);
        auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
        ASSERT_NE (alert, nullptr);
        EXPECT_EQ (alert->getName(), "Vantrel!");
        view.requestQuit ([&] { quits += 100; });   // a second request while asking is dropped
        alert->exitModalState (answer);
        ASSERT_TRUE (runMessagesUntil ([&] { return ! view.flags().dialogOpen; }));
        EXPECT_EQ (quits, answer);
    }
}

TEST (MainViewQuit, AQuitThatCannotSaveIsAbandonedAndTheViewIsUsableAgain)
{
    PrivateGuiDisplay display;
    juce::ScopedJuceInitialiser_GUI gui;
    SessionRig rig;
    SmallDisk disk (rig.music(), "256k");
    if (! disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror (errno);
    auto session = rig.make();
    VantrelView view (*session);
    view.stopTicking();
    ASSERT_TRUE (session->addPlaylist ("Show", ""));
    ASSERT_TRUE (session->waitForSaves());
    ASSERT_TRUE (disk.fill());
    ASSERT_TRUE (session->renamePlaylist (session->undoHistory().current().playlists[0].id, "Renamed"));

    int quits = 0;
    view.requestQuit ([&] { ++quits; });
    EXPECT_EQ (quits, 0);
    EXPECT_FALSE (view.flags().quitPending);
    EXPECT_TRUE (view.isEnabled());
    view.refresh();
    EXPECT_TRUE (statusLabel (view).getText().contains (session->lastSaveResult().message)) << statusLabel (view).getText();

    ASSERT_TRUE (disk.folder.getChildFile ("filler").deleteFile());
    view.requestQuit ([&] { ++quits; });
    EXPECT_EQ (quits, 1);
}
} // namespace
} // namespace vantrel
