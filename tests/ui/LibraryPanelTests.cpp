#include "ViewTestSupport.h"

#include "session/CatalogValidation.h"
#include "ui/LibraryPanel.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

/** The main view with its library panel shown, in a window on the private display, over: the
    playlist "Encore" (empty) and the open "Show", whose rows use the playlist copy "Take", the
    outside file "Ext" and the missing "Gone"; "Show" also stores the unused "Old.wav"; pad 1
    plays the pad copy "Bell"; the pad copy "spare.wav" is used by nothing. */
struct LibraryRig : ViewRig
{
    explicit LibraryRig (bool damagedNames = false)
    {
        session.reset();
        rig.options.trashFolder = rig.profile / "Trash";
        if (damagedNames)
            rig.music().getChildFile ("library-names.json").replaceWithText ("{ not json");
        session = rig.make();
        auto candidate = session->undoHistory().current();
        candidate.playlists.push_back (playlistOf ("Encore", {}));
        encoreId = candidate.playlists.back().id;
        auto show = playlistOf ("Show", {});
        const auto audio = rig.music().getChildFile ("playlists/" + juce::String (show.id) + "/audio");
        take = tone (audio, "Take"), old = tone (audio, "Old"), spare = tone (rig.music().getChildFile ("pad/assets"), "spare");
        ext = tone (rig.media(), "Ext"), gone = tone (rig.media(), "Gone");
        for (const auto& file : { take, ext, gone })
            show.rows.push_back (rowFor (file));
        gone.deleteFile();
        EXPECT_TRUE (session->commitEdit (candidate) && addAndOpen (*session, show));
        session->assignPad (1, 1, tone (rig.media(), "Bell"));
        EXPECT_TRUE (finishPadJobs (*session));

        makeView().setBounds (0, 0, 1380, 860);
        view->addToDesktop (0);
        view->setVisible (true);
        waitUntilMapped (*view, display);
        focusWindow (display, *view);
        view->flags().libraryShown = true;
        view->refresh();
        panel = &byId<LibraryPanel> (*view, "library-panel");
        panel->stopTimer();   // the tests run its steps
        EXPECT_TRUE (rescan());
    }

    static juce::File tone (const juce::File& folder, const juce::String& name) { return writeTone (folder, name + ".wav", 0.5, 0.2f); }

    /** A scan of the current catalog and pads, then the panel's timer step. */
    bool rescan()
    {
        const auto idle = [this] { return ! session->mediaLibrary().items().scanning; };
        const auto before = session->mediaLibrary().items().generation;
        const bool scanned = runMessagesUntil (idle) && (session->refreshLibrary(), runMessagesUntil ([&] {
                                 return idle() && session->mediaLibrary().items().generation > before; }));
        panel->timerCallback();
        return scanned;
    }

    template <typename Type = juce::Button>
    Type& part (const char* id) { return byId<Type> (*panel, id); }
    juce::ListBox& list() { return part<juce::ListBox> ("library-items"); }

    /** The display names of the rows (or of the selected ones) in row order. */
    juce::StringArray shown (bool selectedOnly = false)
    {
        juce::StringArray names;
        for (int row = 0; row < panel->getNumRows(); ++row)
            if (! selectedOnly || list().isRowSelected (row))
                names.add (panel->getNameForRow (row));
        return names;
    }
    juce::String names (bool selectedOnly = false) { return shown (selectedOnly).joinIntoString ("; "); }
    int rowOf (const juce::String& name) { return shown().indexOf (name); }
    void select (const std::vector<const char*>& names)
    {
        list().deselectAllRows();
        for (const auto* name : names)
            list().selectRow (rowOf (name), true, false);
    }
    void press (const char* action)
    {
        for (const auto& binding : session->currentPreferences().keys)
            if (binding.action == action)
                view->handleShortcut (binding.key, false, false, false), view->releaseHeldKey (binding.key);
    }

    static juce::AlertWindow* modalAlert()
    {
        juce::AlertWindow* window = nullptr;
        runMessagesUntil ([&] { return (window = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent())) != nullptr; });
        return window;
    }
    static bool nothingModal() { return runMessagesUntil ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }); }

    /** Right-clicks the row through the window's peer; the menu once it is up. */
    juce::String rowMenu (const juce::String& name)
    {
        const auto row = list().getRowPosition (rowOf (name), true);
        PeerPointer (*view).click (list().localPointToGlobal (row.getCentre()), true);
        runMessagesUntil ([] { return modalMenuText().contains ("; "); });
        return modalMenuText();
    }

    LibraryPanel* panel = nullptr;
    std::string encoreId;
    juce::File take, old, spare, ext, gone;
};

#define START_LIBRARY_RIG(r, ...) \
    LibraryRig r { __VA_ARGS__ }; \
    if (! r.display.running())    \
        GTEST_SKIP() << r.display.problem;

TEST (LibraryPanel, FiltersAndTheSearchListTheFilesTheyNameAndANewScanKeepsTheSelection)
{
    START_LIBRARY_RIG (r);
    struct Case { int filter; const char* search; const char* names; };
    for (const auto& c : std::vector<Case> {
             { 1, "", "Bell; Ext; Gone; Old.wav; spare.wav; Take" }, { 2, "", "Ext; Gone; Old.wav; Take" },
             { 3, "", "Bell; spare.wav" }, { 4, "", "Old.wav; spare.wav" },   // stored and unused: never an outside file
             { 1, "bELL", "Bell" }, { 1, " KE プレイ ", "Take" },             // across the name's end and the uses
             { 1, "pad 1 / 1", "Bell" }, { 3, "未使用", "spare.wav" }, { 1, "/media/", "Ext; Gone" }, { 4, "take", "" } })
    {
        r.part<juce::ComboBox> ("library-filter").setSelectedId (c.filter);
        r.part<juce::TextEditor> ("library-search").setText (ja (c.search));
        runPendingMessages();
        EXPECT_EQ (r.names(), ja (c.names)) << c.filter << " " << c.search;
        r.panel->timerCallback();
        const auto count = *c.names == 0 ? 0 : juce::StringArray::fromTokens (ja (c.names), ";", "").size();
        EXPECT_TRUE (r.part<juce::Label> ("library-summary").getText().startsWith (juce::String (count) + ja ("音源 · 保存種別と使用先を表示")));
    }

    r.part<juce::TextEditor> ("library-search").clear();
    r.part<juce::ComboBox> ("library-filter").setSelectedId (1);
    runPendingMessages();
    r.select ({ "Ext", "spare.wav", "Take" });
    // Two files that sort first come in, and the outside file leaves the catalog.
    auto candidate = r.session->undoHistory().current();
    auto& rows = candidate.playlists.back().rows;
    rows.erase (rows.begin() + 1);
    for (const char* name : { "Alto", "Aria" })
        rows.push_back (rowFor (LibraryRig::tone (r.rig.media(), name)));
    ASSERT_TRUE (r.session->commitEdit (candidate) && r.rescan());
    EXPECT_EQ (r.names(), "Alto; Aria; Bell; Gone; Old.wav; spare.wav; Take");
    EXPECT_EQ (r.names (true), "spare.wav; Take");
}

TEST (LibraryPanel, TheHintAndTheButtonsFollowTheSelectionTheLockAndTheStore)
{
    START_LIBRARY_RIG (r);
    auto& s = *r.session;
    bool importing = false;
    r.panel->importRunning = [&] { return importing; };
    const auto one = [] (const char* kind, const char* uses, const juce::File& file) {
        return ja (kind) + ja (" · ") + ja (uses) + "\n" + file.getFullPathName();
    };
    const std::function<void()> none = [] {}, lock = [&] { s.toggleLiveLock(); };
    const auto spare = one ("PADコピー", "未使用", r.spare), two = "2" + ja ("音源を選択。使用中の音源や外部の元ファイルは削除できません。");
    struct Case { std::vector<const char*> selected; std::function<void()> flip; juce::String hint; bool add, remove, reveal; };
    const std::vector<Case> cases {
        { {}, none, ja ("プレイリスト用コピー・PADコピー・外部参照をまとめて表示。未使用の保存音源は、追加して再利用できます。"), false, false, false },
        { { "spare.wav" }, none, spare, true, true, true },
        { { "Take" }, none, one ("プレイリスト用コピー", "プレイリスト: Show", r.take), true, false, true },
        { { "Gone" }, none, one ("外部参照", "プレイリスト: Show", r.gone), false, false, true },
        { { "Ext", "spare.wav" }, none, two, true, false, false },
        { { "Old.wav", "spare.wav" }, none, two, true, true, false },
        { { "spare.wav" }, [&] { importing = ! importing; }, spare, true, false, true },
        { { "spare.wav" }, [&] { SessionCoordinatorTestAccess::setRecoveryRequired (s, ! s.needsRecovery()); }, spare, true, false, true },
        // LIVE LOCK over playlist editing: nothing is added, and of the stored files only pad copies go.
        { { "spare.wav" }, lock, spare, false, true, true },
        { { "Old.wav" }, lock, one ("プレイリスト用コピー", "未使用", r.old), false, false, true },
    };
    ASSERT_TRUE (s.currentPreferences().isLocked (LockScope::playlistEditing));
    for (const auto& c : cases)
    {
        c.flip();
        r.select (c.selected);
        r.panel->timerCallback();
        const auto what = juce::StringArray (c.selected.data(), (int) c.selected.size()).joinIntoString ("+");
        EXPECT_EQ (r.part<juce::Label> ("library-hint").getText(), c.hint) << what;
        EXPECT_EQ (r.part ("library-add").isEnabled(), c.add) << what;
        EXPECT_EQ (r.part ("library-remove").isEnabled(), c.remove) << what;
        EXPECT_EQ (r.part ("library-reveal").isEnabled(), c.reveal) << what;
        c.flip();
    }

    // "保存場所" hands the one selected file to the file manager and says when it could not.
    juce::Array<juce::File> revealed;
    r.panel->reveal = [&] (const juce::File& file) { return revealed.add (file), false; };
    r.select ({ "Take" });
    r.part ("library-reveal").triggerClick();
    runPendingMessages();
    EXPECT_EQ (revealed, juce::Array<juce::File> { r.take });
    EXPECT_EQ (s.lastStatus(), ja ("保存場所を開けませんでした"));
}

TEST (LibraryPanel, TheTargetKeepsItsPlaylistAcrossRenamesAndFallsBackWhenItGoes)
{
    START_LIBRARY_RIG (r);
    auto& s = *r.session;
    auto& target = r.part<juce::ComboBox> ("library-target");
    struct Step { std::function<void()> act; const char* shown; };
    for (const auto& step : std::vector<Step> { { [] {}, "Show" },   // the open playlist at first
                                                { [&] { target.setSelectedId (1); }, "Encore" },
                                                { [&] { s.renamePlaylist (r.encoreId, "Encore 2"); }, "Encore 2" },
                                                { [&] { s.addPlaylist ("Aaa", ""); }, "Encore 2" },
                                                { [&] { s.removePlaylist (r.encoreId); }, "Show" } })
    {
        step.act();
        runPendingMessages();
        r.panel->timerCallback();
        EXPECT_EQ (target.getText(), step.shown);
    }
    EXPECT_EQ (target.getSelectedId(), 1);
}

TEST (LibraryPanel, AddingAndRemovingDoWhatTheirDialogsAnswer)
{
    START_LIBRARY_RIG (r);
    auto& s = *r.session;
    const auto rowsOfEncore = [&] { return s.undoHistory().current().playlists.front().rows.size(); };
    struct Case { const char* how; std::vector<const char*> selected; const char* title; int answer; size_t rows; };
    for (const auto& c : std::vector<Case> {
             { "library-remove", { "Old.wav", "spare.wav" }, "未使用音源の整理", 0, 0 },   // "残す"
             { "DELETE", { "Take" }, nullptr, 0, 0 },                                        // in use: no question
             { "library-add", { "Ext", "Old.wav" }, "音源を追加", 0, 0 },                    // "キャンセル"
             { "library-add", { "Ext", "Old.wav" }, "音源を追加", 2, 2 },                    // by reference
             { "library-add", { "Ext" }, "音源を追加", 1, 3 },                               // copied
             { "DELETE", { "Old.wav" }, nullptr, 0, 3 },                                     // used since
             { "DELETE", { "spare.wav" }, "未使用音源の整理", 1, 3 } })                      // "ごみ箱へ移す"
    {
        ASSERT_TRUE (LibraryRig::nothingModal() && r.rescan());
        r.part<juce::ComboBox> ("library-target").setSelectedId (1);   // "Encore"
        r.select (c.selected);
        if (juce::String (c.how) == "DELETE")
            r.press ("DELETE");
        else
            r.part (c.how).triggerClick();
        runPendingMessages();
        auto* asked = c.title != nullptr ? LibraryRig::modalAlert() : nullptr;
        ASSERT_EQ (juce::Component::getCurrentlyModalComponent(), asked) << c.how;
        if (asked != nullptr)
        {
            EXPECT_EQ (asked->getName(), ja (c.title));
            const auto question = juce::String ((int) c.selected.size()) + ja ("個のVantrel内の音源をごみ箱へ移しますか？");
            EXPECT_TRUE (juce::String (c.how) == "library-add" || asked->getDescription().contains (question));
            asked->exitModalState (c.answer);
        }
        // The answer arrives with the messages; a copy ends in a tick.
        EXPECT_TRUE (runMessagesUntil ([&] { return s.tick(), rowsOfEncore() == c.rows && s.runningJobs() == 0; }))
            << c.how << " " << c.answer << ": " << rowsOfEncore();
    }
    EXPECT_TRUE (runMessagesUntil ([&] { return (r.rig.profile / "Trash/files/spare.wav").existsAsFile(); }));
    EXPECT_FALSE (r.spare.exists() || ! r.old.exists());
    EXPECT_EQ (s.lastStatus(), ja ("未使用のVantrel音源をごみ箱へ移動しました"));
    EXPECT_EQ (s.undoHistory().current().playlists.front().rows[1].source, r.old.getFullPathName().toStdString());   // where it lies
}

TEST (LibraryPanel, ARowsMenuNamesAStoredFileAndTheNameShowsAfterAScanThatWasRunning)
{
    struct Case { bool damagedNames; const char* status; const char* shown; };
    for (const auto& c : std::vector<Case> { { false, "表示名を変更しました", "Spare Horn" },
                                             { true, "ライブラリ名の記録を読めません。元の記録と音源は保持しています", "spare.wav" } })
    {
        START_LIBRARY_RIG (r, c.damagedNames);
        // A names record that cannot be read is the library's status, in place of the count.
        EXPECT_EQ (r.part<juce::Label> ("library-summary").getText().startsWith (ja ("ライブラリ名")), c.damagedNames);
        EXPECT_EQ (r.rowMenu ("Ext"), "Ext; " + ja ("表示名を変更…"));   // an outside file is named by its rows
        juce::PopupMenu::dismissAllActiveMenus();
        ASSERT_TRUE (LibraryRig::nothingModal());

        // Many files keep a scan busy while the name is given: the library drops the request
        // that comes then, and the running scan read the names from before.
        const auto crowd = r.rig.music().getChildFile ("playlists/" + juce::String (newCatalogId()) + "/audio");
        for (int i = 0; i < 2000; ++i)
            ASSERT_TRUE (crowd.getChildFile ("crowd-" + juce::String (i) + ".wav").create());
        r.part<juce::TextEditor> ("library-search").setText ("assets");
        ASSERT_TRUE (r.rescan() && r.names() == "Bell; spare.wav") << r.names();
        EXPECT_EQ (r.rowMenu ("spare.wav"), "spare.wav; +" + ja ("表示名を変更…"));
        ASSERT_TRUE (chooseInModalMenu (ja ("表示名を変更…")));
        auto* asked = LibraryRig::modalAlert();
        ASSERT_NE (asked, nullptr);
        EXPECT_EQ (asked->getTextEditorContents ("value"), "spare.wav");
        asked->getTextEditor ("value")->setText (" Spare Horn ");
        r.session->refreshLibrary();
        asked->exitModalState (1);
        EXPECT_TRUE (runMessagesUntil ([&] {
            if (! r.session->mediaLibrary().items().scanning)
                r.panel->timerCallback();
            return r.rowOf (c.shown) >= 0 && r.session->lastStatus() == ja (c.status);
        })) << r.names() << " / " << r.session->lastStatus();
    }
}
} // namespace
} // namespace vantrel
