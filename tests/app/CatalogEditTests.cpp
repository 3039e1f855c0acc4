#include "SessionTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
using vantrel::EqSettings;
using vantrel::LockScope;
using vantrel::Playlist;
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using namespace vantrel::test;

const char* const editRefusal = "LIVE LOCK中、または再生中のため編集できません";
const char* const switchRefusal = "再生中・一時停止中はプレイリストを切り替えられません";
const char* const loopRefusal = "フォルダーを自分の中へは移動できません";

enum class Setting { none, lockedEditing, recoveryPending, sounding };

/** Folders F and G (inside F); playlist P (open, two rows) and Q (one row, in F). */
struct Catalog
{
    SessionRig rig;
    std::unique_ptr<SessionCoordinator> session = rig.make();
    juce::File tone = writeTone (rig.media(), "a.wav", 1.0, 0.25f);
    Playlist p = playlistOf ("P", { tone, tone }), q = playlistOf ("Q", { tone });
    std::string f = vantrel::newCatalogId(), g = vantrel::newCatalogId();

    explicit Catalog (Setting setting)
    {
        auto document = session->undoHistory().current();
        document.folders = { { f, "F", "" }, { g, "G", f } };
        q.folderId = f;
        document.playlists = { q };
        EXPECT_TRUE (session->commitEdit (document));
        EXPECT_TRUE (addAndOpen (*session, p));
        // The durations the loader measures are recorded (and saved) by a later tick, which every
        // operation runs first: all are in before a case looks, so only its operation could change
        // the document.
        EXPECT_TRUE (tickUntil (*session, [this] {
            for (const auto& playlist : session->undoHistory().current().playlists)
                if (playlist.id == p.id)
                    return std::all_of (playlist.rows.begin(), playlist.rows.end(), [] (const auto& row) { return row.duration > 0.0; });
            return false;
        }));
        if (setting == Setting::sounding)
        {
            EXPECT_TRUE (tickUntilPrepared (*session, p.rows[0].id));
            EXPECT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
        }
        if (setting == Setting::lockedEditing)
            session->toggleLiveLock();   // the default scope holds playlist editing
        if (setting == Setting::recoveryPending)
            SessionCoordinatorTestAccess::setRecoveryRequired (*session, true);
        session->setStatus ("before");
    }
};

struct Refusal
{
    const char* name;
    Setting setting;
    std::function<bool (Catalog&)> run;
    const char* said;   // the status a refusal shows; null: the status stays as it was
};

TEST (CatalogEdits, EveryOperationRefusesWhatItCannotApplyAndChangesNothing)
{
    const auto none = Setting::none, locked = Setting::lockedEditing, recovery = Setting::recoveryPending,
               sounding = Setting::sounding;
    const std::vector<Refusal> cases {
        { "folder without a name", none, [] (Catalog& c) { return c.session->addTreeFolder ("", ""); }, nullptr },
        { "playlist without a name", none, [] (Catalog& c) { return c.session->addPlaylist ("", ""); }, nullptr },
        { "unknown playlist removed", none, [] (Catalog& c) { return c.session->removePlaylist ("nope"); }, nullptr },
        { "unknown row removed", none, [] (Catalog& c) { return c.session->removeRow ("nope"); }, nullptr },
        { "row of a closed playlist removed", none, [] (Catalog& c) { return c.session->removeRow (c.q.rows[0].id); }, nullptr },
        { "memo of an unknown playlist", none, [] (Catalog& c) { return c.session->setPlaylistMemo ("nope", "m"); }, nullptr },
        { "text of an unknown row", none, [] (Catalog& c) { return c.session->setRowText ("nope", "t", "n"); }, nullptr },
        { "unknown folder moved", none, [] (Catalog& c) { return c.session->moveTreeEntry ("nope", true, ""); }, nullptr },
        { "unknown playlist moved", none, [] (Catalog& c) { return c.session->moveTreeEntry ("nope", false, c.f); }, nullptr },
        { "playlist into an unknown folder", none, [] (Catalog& c) { return c.session->moveTreeEntry (c.p.id, false, "nope"); }, nullptr },
        { "folder into itself", none, [] (Catalog& c) { return c.session->moveTreeEntry (c.f, true, c.f); }, loopRefusal },
        { "folder into its sub-folder", none, [] (Catalog& c) { return c.session->moveTreeEntry (c.f, true, c.g); }, loopRefusal },
        { "playlist from -1", none, [] (Catalog& c) { return c.session->movePlaylist (-1, 0); }, nullptr },
        { "playlist to 2 of 2", none, [] (Catalog& c) { return c.session->movePlaylist (0, 2); }, nullptr },
        { "row to 2 of 2", none, [] (Catalog& c) { return c.session->moveRow (0, 2); }, nullptr },
        { "row from -1", none, [] (Catalog& c) { return c.session->moveRow (-1, 1); }, nullptr },
        { "folder renamed empty", none, [] (Catalog& c) { return c.session->renameTreeFolder (c.f, ""); }, nullptr },
        { "unknown folder renamed", none, [] (Catalog& c) { return c.session->renameTreeFolder ("nope", "X"); }, nullptr },
        { "playlist renamed empty", none, [] (Catalog& c) { return c.session->renamePlaylist (c.p.id, ""); }, nullptr },
        { "unknown playlist renamed", none, [] (Catalog& c) { return c.session->renamePlaylist ("nope", "X"); }, nullptr },
        { "unknown folder removed", none, [] (Catalog& c) { return c.session->removeTreeFolder ("nope"); }, nullptr },
        { "unknown row relinked", none, [] (Catalog& c) { return c.session->relinkRow ("nope", c.tone); }, nullptr },
        { "relinked to no file", none, [] (Catalog& c) {
              return c.session->relinkRow (c.p.rows[0].id, c.rig.media().getChildFile ("missing.wav"));
          }, nullptr },
        { "unknown playlist opened", none, [] (Catalog& c) { return c.session->openPlaylist ("nope"); }, nullptr },
        { "locked: playlist added", locked, [] (Catalog& c) { return c.session->addPlaylist ("New", ""); }, nullptr },
        { "locked: folder added", locked, [] (Catalog& c) { return c.session->addTreeFolder ("New", ""); }, editRefusal },
        { "locked: row moved", locked, [] (Catalog& c) { return c.session->moveRow (0, 1); }, editRefusal },
        { "locked: folder removed", locked, [] (Catalog& c) { return c.session->removeTreeFolder (c.g); }, editRefusal },
        { "locked: memo", locked, [] (Catalog& c) { return c.session->setPlaylistMemo (c.p.id, "m"); }, editRefusal },
        { "locked: playlist opened", locked, [] (Catalog& c) { return c.session->openPlaylist (c.q.id); }, switchRefusal },
        { "recovery: row text", recovery, [] (Catalog& c) { return c.session->setRowText (c.p.rows[0].id, "t", "n"); }, editRefusal },
        { "recovery: playlist moved", recovery, [] (Catalog& c) { return c.session->movePlaylist (0, 1); }, editRefusal },
        { "recovery: playlist opened", recovery, [] (Catalog& c) { return c.session->openPlaylist (c.q.id); }, switchRefusal },
        { "sounding: its row removed", sounding, [] (Catalog& c) { return c.session->removeRow (c.p.rows[0].id); }, editRefusal },
        { "sounding: its playlist removed", sounding, [] (Catalog& c) { return c.session->removePlaylist (c.p.id); }, editRefusal },
        { "sounding: its row relinked", sounding, [] (Catalog& c) {
              return c.session->relinkRow (c.p.rows[0].id, writeTone (c.rig.media(), "b.wav", 0.5, 0.1f));
          }, editRefusal },
        { "sounding: another playlist opened", sounding, [] (Catalog& c) { return c.session->openPlaylist (c.q.id); }, switchRefusal },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Catalog catalog (c.setting);
        auto& session = *catalog.session;
        const auto document = session.undoHistory().current();
        const auto steps = session.undoHistory().undoStack().size();
        const auto ticket = session.lastSaveTicket();

        EXPECT_FALSE (c.run (catalog));
        EXPECT_EQ (session.lastStatus(), c.said != nullptr ? ja (c.said) : juce::String ("before"));
        EXPECT_TRUE (session.undoHistory().current() == document);
        EXPECT_EQ (session.undoHistory().undoStack().size(), steps);
        EXPECT_EQ (session.lastSaveTicket(), ticket);
    }
}

TEST (CatalogEdits, ANewPlaylistIsOpenedOnlyWhenNoTrackSounds)
{
    for (const auto setting : { Setting::none, Setting::sounding })
    {
        Catalog catalog (setting);
        auto& session = *catalog.session;
        ASSERT_TRUE (session.addPlaylist ("New", catalog.f));
        const auto& added = session.undoHistory().current().playlists.back();
        EXPECT_EQ (added.folderId, catalog.f);
        EXPECT_EQ (session.undoHistory().current().current, setting == Setting::none ? added.id : catalog.p.id);
        EXPECT_EQ (session.lastStatus(), ja ("変更しました"));
    }
}

TEST (CatalogEdits, RemovingATopLevelFolderPutsItsChildrenAtTheTop)
{
    Catalog catalog (Setting::none);
    auto& session = *catalog.session;
    ASSERT_TRUE (session.addPlaylist ("R", catalog.f));
    ASSERT_TRUE (session.removeTreeFolder (catalog.f));
    const auto& document = session.undoHistory().current();
    ASSERT_EQ (document.folders.size(), 1u);
    EXPECT_EQ (document.folders[0].parentId, "");
    for (const auto& playlist : document.playlists)
        EXPECT_EQ (playlist.folderId, "") << playlist.name;
    EXPECT_EQ (document.playlists.size(), 3u);
}

struct UndoCase
{
    const char* name;
    std::function<void (Catalog&)> edit;
    bool registersMedia;
};

TEST (CatalogEdits, UndoAndRedoRegisterMediaOnlyWhenMoreThanGainsAndEqsChanged)
{
    EqSettings boosted;
    boosted.enabled = true;
    boosted.bands[1].gainDb = 3.0;
    const std::vector<UndoCase> cases {
        { "row gain typed", [] (Catalog& c) { ASSERT_TRUE (c.session->commitRowGain (c.p.rows[0].id, -6.0f)); }, false },
        { "row EQ dragged", [&] (Catalog& c) {
              c.session->beginEqEdit();
              c.session->setLiveEq (c.p.rows[0].id, boosted);
              ASSERT_TRUE (c.session->commitEqEdit());
          }, false },
        { "row removed", [] (Catalog& c) { ASSERT_TRUE (c.session->removeRow (c.p.rows[0].id)); }, true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Catalog catalog (Setting::none);
        auto& session = *catalog.session;
        const auto& row = catalog.p.rows[0].id;
        ASSERT_EQ (session.cueState().ready, row);
        ASSERT_NO_FATAL_FAILURE (c.edit (catalog));
        const auto edited = session.undoHistory().current();

        for (const bool redo : { false, true })
        {
            const auto registrations = session.audioAdapter().mediaRegistrations();
            ASSERT_TRUE (session.undoRedo (redo));
            EXPECT_EQ (session.audioAdapter().mediaRegistrations() > registrations, c.registersMedia) << redo;
            EXPECT_EQ (session.cueState().ready, redo && c.registersMedia ? catalog.p.rows[1].id : row) << redo;
            const auto* stored = vantrel::findRowById (session.undoHistory().current(), row);
            const auto held = session.audioAdapter().heldMix (row);
            ASSERT_TRUE (held.has_value());
            if (stored != nullptr)
            {
                EXPECT_EQ (held->gainDb, stored->gainDb) << redo;
                EXPECT_TRUE (held->eq == stored->eq) << redo;
            }
        }
        EXPECT_TRUE (session.undoHistory().current() == edited);
    }
}

enum class Cause { trackLockSwitchedOn, recoveryPending };

struct RefusedDrag
{
    const char* name;
    Cause cause;
    Setting setting;
    std::function<void (SessionCoordinator&, const std::string& row)> live;
};

TEST (MixEdits, ARefusedDragPutsTheAdapterBackToTheStoredValues)
{
    EqSettings boosted;
    boosted.enabled = true;
    boosted.bands[2].gainDb = 6.0;
    const auto gain = [] (SessionCoordinator& s, const std::string& row) { s.setLiveRowGain (row, -20.0f); };
    const auto eq = [&] (SessionCoordinator& s, const std::string& row) { s.setLiveEq (row, boosted); };
    const std::vector<RefusedDrag> cases {
        { "gain, lock switched on", Cause::trackLockSwitchedOn, Setting::none, gain },
        { "EQ, lock switched on", Cause::trackLockSwitchedOn, Setting::none, eq },
        { "gain of the sounding row, lock switched on", Cause::trackLockSwitchedOn, Setting::sounding, gain },
        { "EQ of the sounding row, recovery pending", Cause::recoveryPending, Setting::sounding, eq },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Catalog catalog (c.setting);
        auto& session = *catalog.session;
        const auto& row = catalog.p.rows[0].id;
        SessionCoordinatorTestAccess::preferences (session).locks[(size_t) LockScope::trackGainEq] = false;
        session.toggleLiveLock();
        ASSERT_FALSE (session.isLocked (LockScope::trackGainEq));
        const auto steps = session.undoHistory().undoStack().size();
        const auto before = *vantrel::findRowById (session.undoHistory().current(), row);

        session.beginEqEdit();
        c.live (session, row);
        const auto live = *session.audioAdapter().heldMix (row);
        ASSERT_FALSE (live.gainDb == before.gainDb && live.eq == before.eq);
        if (c.cause == Cause::trackLockSwitchedOn)
            SessionCoordinatorTestAccess::preferences (session).locks[(size_t) LockScope::trackGainEq] = true;
        else
            SessionCoordinatorTestAccess::setRecoveryRequired (session, true);

        EXPECT_FALSE (session.commitEqEdit());
        EXPECT_FALSE (session.isEqEditPending());
        EXPECT_EQ (session.undoHistory().undoStack().size(), steps);
        const auto& stored = *vantrel::findRowById (session.undoHistory().current(), row);
        EXPECT_TRUE (stored == before);
        EXPECT_EQ (session.audioAdapter().heldMix (row)->gainDb, before.gainDb);
        EXPECT_TRUE (session.audioAdapter().heldMix (row)->eq == before.eq);
    }
}

TEST (MixEdits, GainsOutsideTheRangeAreStoredClampedAndNonNumbersAsZero)
{
    const struct { float given, stored; } cases[] {
        { std::nanf (""), 0.0f }, { HUGE_VALF, 0.0f }, { -HUGE_VALF, 0.0f }, { 20.0f, 12.0f }, { -100.0f, -60.0f }, { -7.5f, -7.5f },
    };
    for (const auto& c : cases)
    {
        Catalog catalog (Setting::none);
        auto& session = *catalog.session;
        const auto& row = catalog.p.rows[0].id;
        ASSERT_TRUE (session.commitRowGain (row, -1.0f) && session.commitPlaylistGain (catalog.p.id, -1.0f));
        session.beginEqEdit();
        session.setLiveRowGain (row, c.given);
        session.setLivePlaylistGain (catalog.p.id, c.given);
        ASSERT_TRUE (session.commitEqEdit());
        EXPECT_EQ (vantrel::findRowById (session.undoHistory().current(), row)->gainDb, c.stored) << c.given;
        EXPECT_EQ (session.audioAdapter().heldMix (row)->gainDb, c.stored) << c.given;
        EXPECT_EQ (session.undoHistory().current().playlists.back().gainDb, c.stored) << c.given;
        ASSERT_TRUE (session.commitPlaylistGain (catalog.q.id, c.given));
        EXPECT_EQ (session.undoHistory().current().playlists.front().gainDb, c.stored) << c.given;
    }
}
} // namespace
