#include "SessionTestSupport.h"

#include <gtest/gtest.h>

namespace
{
using vantrel::CatalogDocument;
using vantrel::Playlist;
using vantrel::testing::ja;
using namespace vantrel::test;

std::vector<std::string> playlistNames (const CatalogDocument& document)
{
    std::vector<std::string> names;
    for (const auto& playlist : document.playlists)
        names.push_back (playlist.name);
    return names;
}

struct MoveCase
{
    int from, to;
    std::vector<std::string> expected;
    bool applied;
};

TEST (CatalogEdits, MovePlaylistTakesOutAndInsertsIntoTheShortenedList)
{
    const std::vector<MoveCase> cases {
        { 0, 2, { "B", "C", "A" }, true },
        { 2, 0, { "C", "A", "B" }, true },
        { 1, 1, { "A", "B", "C" }, true },
        { -1, 0, { "A", "B", "C" }, false },
        { 0, 3, { "A", "B", "C" }, false },
    };
    for (const auto& c : cases)
    {
        SessionRig rig;
        auto session = rig.make();
        for (const char* name : { "A", "B", "C" })
            ASSERT_TRUE (session->addPlaylist (name, ""));
        EXPECT_EQ (session->movePlaylist (c.from, c.to), c.applied) << c.from << " -> " << c.to;
        EXPECT_EQ (playlistNames (session->undoHistory().current()), c.expected) << c.from << " -> " << c.to;
    }
}

TEST (CatalogEdits, RemovingAFolderMovesItsChildrenOneLevelUp)
{
    SessionRig rig;
    auto session = rig.make();
    ASSERT_TRUE (session->addTreeFolder ("Outer", ""));
    const auto outer = session->undoHistory().current().folders[0].id;
    ASSERT_TRUE (session->addTreeFolder ("Inner", outer));
    const auto inner = session->undoHistory().current().folders[1].id;
    ASSERT_TRUE (session->addTreeFolder ("Deep", inner));
    ASSERT_TRUE (session->addPlaylist ("One", inner));
    ASSERT_TRUE (session->addPlaylist ("Two", inner));

    ASSERT_TRUE (session->removeTreeFolder (inner));
    const auto& document = session->undoHistory().current();
    ASSERT_EQ (document.folders.size(), 2u);
    EXPECT_EQ (document.folders[1].name, "Deep");
    EXPECT_EQ (document.folders[1].parentId, outer);
    for (const auto& playlist : document.playlists)
        EXPECT_EQ (playlist.folderId, outer) << playlist.name;
    EXPECT_FALSE (session->removeTreeFolder (inner));
}

TEST (CatalogEdits, AnUnchangedCandidateIsNoStepAndNoSave)
{
    SessionRig rig;
    auto session = rig.make();
    ASSERT_TRUE (session->addPlaylist ("A", ""));
    const auto ticket = session->lastSaveTicket();
    const auto steps = session->undoHistory().undoStack().size();
    session->setStatus ("before");

    EXPECT_TRUE (session->commitEdit (session->undoHistory().current()));
    EXPECT_EQ (session->lastSaveTicket(), ticket);
    EXPECT_EQ (session->undoHistory().undoStack().size(), steps);
    EXPECT_EQ (session->lastStatus(), "before");
}

TEST (CatalogEdits, UndoOfARemovedRowBringsItBackAsReadyAndRefusalsSayWhy)
{
    SessionRig rig;
    auto session = rig.make();
    const auto tone = writeTone (rig.media(), "a.wav", 0.2, 0.25f);
    auto playlist = playlistOf ("Show", { tone, tone });
    ASSERT_TRUE (addAndOpen (*session, playlist));
    ASSERT_EQ (session->cueState().ready, playlist.rows[0].id);

    ASSERT_TRUE (session->removeRow (playlist.rows[0].id));
    EXPECT_EQ (session->cueState().ready, playlist.rows[1].id);
    ASSERT_TRUE (session->undoRedo (false));
    EXPECT_EQ (session->lastStatus(), ja ("Undo"));
    EXPECT_EQ (session->cueState().ready, playlist.rows[0].id);

    session->toggleLiveLock();
    EXPECT_FALSE (session->undoRedo (true));
    EXPECT_EQ (session->lastStatus(), ja ("現在の状態では履歴を戻せません"));
    EXPECT_FALSE (session->renamePlaylist (playlist.id, "Other"));
    EXPECT_EQ (session->lastStatus(), ja ("LIVE LOCK中、または再生中のため編集できません"));
}

/** Two playlists of one track each, the first open and its track started by GO. */
struct TwoPlaylists
{
    SessionRig rig;
    std::unique_ptr<vantrel::SessionCoordinator> session = rig.make();
    Playlist first, second;

    void startFirst (double seconds)
    {
        const auto tone = writeTone (rig.media(), "tone.wav", seconds, 0.25f);
        first = playlistOf ("First", { tone });
        second = playlistOf ("Second", { tone });
        ASSERT_TRUE (addAndOpen (*session, second));
        ASSERT_TRUE (addAndOpen (*session, first));
        ASSERT_TRUE (tickUntilPrepared (*session, first.rows[0].id));
        ASSERT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
    }
};

TEST (CatalogEdits, OpeningAnotherPlaylistKeepsThePlayTokensCounting)
{
    TwoPlaylists show;
    ASSERT_NO_FATAL_FAILURE (show.startFirst (0.05));
    auto& session = show.session;
    const auto& second = show.second;

    // The first track plays to its end; the engine's slot keeps reporting that end under its token.
    ASSERT_TRUE (tickUntil (*session, [&] { return ! session->cueState().main.has_value(); }, 512));

    ASSERT_TRUE (session->openPlaylist (second.id));
    ASSERT_TRUE (tickUntilPrepared (*session, second.rows[0].id));
    ASSERT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
    session->tick();   // before the device took the start
    EXPECT_EQ (session->cueState().main, second.rows[0].id);
}

TEST (CatalogEdits, OpeningAPlaylistIsRefusedWhilePaused)
{
    TwoPlaylists show;
    ASSERT_NO_FATAL_FAILURE (show.startFirst (1.0));
    auto& session = show.session;
    session->mutableAudioAdapter().renderOfflineFrames (512);
    session->togglePause();
    ASSERT_TRUE (session->cueState().paused);

    EXPECT_FALSE (session->openPlaylist (show.second.id));
    EXPECT_EQ (session->lastStatus(), ja ("再生中・一時停止中はプレイリストを切り替えられません"));
    EXPECT_EQ (session->undoHistory().current().current, show.first.id);
}

// ---- view state -----------------------------------------------------------------------------------

TEST (ViewState, ValuesAreClampedAndEveryCallSaves)
{
    SessionRig rig;
    auto session = rig.make();
    const struct { int zoom, height, storedZoom, storedHeight; } cases[] {
        { -1, 29, 0, 30 }, { 25, 50, 19, 49 }, { 7, 35, 7, 35 }, { 7, 35, 7, 35 },
    };
    for (const auto& c : cases)
    {
        const auto ticket = session->lastSaveTicket();
        session->setZoom (c.zoom);
        session->setRowHeight (c.height);
        EXPECT_EQ (session->catalogState().ui.zoom, c.storedZoom);
        EXPECT_EQ (session->catalogState().ui.rowHeight, c.storedHeight);
        EXPECT_EQ (session->lastSaveTicket(), ticket + 2);
    }
}

TEST (ViewState, FoldingThePadsMutesThemAndUnfoldingDoesNotUnmute)
{
    SessionRig rig;
    auto session = rig.make();
    session->togglePadPanel();
    EXPECT_TRUE (session->catalogState().ui.padsFolded);
    EXPECT_TRUE (session->isPadMuteOn());
    EXPECT_TRUE (session->audioAdapter().isPadMuted());
    session->togglePadPanel();
    EXPECT_FALSE (session->catalogState().ui.padsFolded);
    EXPECT_TRUE (session->audioAdapter().isPadMuted());
}

TEST (ViewState, AnUnknownFolderChangesAndSavesNothing)
{
    SessionRig rig;
    auto session = rig.make();
    ASSERT_TRUE (session->addTreeFolder ("F", ""));
    const auto id = session->undoHistory().current().folders[0].id;
    const auto ticket = session->lastSaveTicket();
    session->toggleFolderCollapsed ("no-such-folder");
    EXPECT_EQ (session->lastSaveTicket(), ticket);
    session->toggleFolderCollapsed (id);
    EXPECT_EQ (session->catalogState().ui.collapsedFolders, std::vector<std::string> { id });
    session->toggleFolderCollapsed (id);
    EXPECT_TRUE (session->catalogState().ui.collapsedFolders.empty());
}

TEST (ViewState, NothingChangesWhileTheDataAwaitsRecovery)
{
    SessionRig rig;
    ASSERT_TRUE (rig.music().getChildFile ("catalog.json").replaceWithText ("{ not json"));
    auto session = rig.make();
    const auto ui = session->catalogState().ui;
    session->setZoom (3);
    session->togglePadPanel();
    session->toggleMemoPanel();
    session->togglePlaylistPanel();
    session->setRowHeight (31);
    EXPECT_EQ (session->catalogState().ui, ui);
    EXPECT_FALSE (session->isPadMuteOn());
}

TEST (Saving, TheValuesOfADragInProgressNeverReachTheDisk)
{
    SessionRig rig;
    auto session = rig.make();
    const auto tone = writeTone (rig.media(), "a.wav", 0.2, 0.25f);
    auto playlist = playlistOf ("Show", { tone });
    ASSERT_TRUE (addAndOpen (*session, playlist));
    const auto& rowId = playlist.rows[0].id;

    session->beginEqEdit();
    session->setLiveRowGain (rowId, -10.0f);
    session->setZoom (3);   // saves the state while the drag is pending
    ASSERT_TRUE (session->waitForSaves());

    vantrel::CatalogStore reader (rig.music());
    vantrel::CatalogState saved;
    ASSERT_TRUE (reader.readSavedFiles (saved).ok);
    EXPECT_EQ (saved.ui.zoom, 3);
    EXPECT_EQ (saved.document.playlists.at (0).rows.at (0).gainDb, 0.0f);
    EXPECT_EQ (vantrel::findRowById (session->undoHistory().current(), rowId)->gainDb, -10.0f);

    ASSERT_TRUE (session->commitEqEdit());
    ASSERT_TRUE (session->waitForSaves());
    ASSERT_TRUE (reader.readSavedFiles (saved).ok);
    EXPECT_EQ (saved.document.playlists.at (0).rows.at (0).gainDb, -10.0f);
}
} // namespace
