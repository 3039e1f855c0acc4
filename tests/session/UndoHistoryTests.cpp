#include "CatalogBuilders.h"

#include "session/CatalogValidation.h"
#include "session/UndoHistory.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
const EditGuard freeGuard;

EditGuard soundingGuard (std::vector<std::string> ids)
{
    EditGuard guard;
    guard.soundingIds = std::move (ids);
    return guard;
}

template <typename Change>
CatalogDocument edited (const CatalogDocument& document, Change&& change)
{
    auto copy = document;
    change (copy);
    return copy;
}

std::vector<std::string> rowIds (const Playlist& playlist)
{
    std::vector<std::string> ids;
    for (const auto& row : playlist.rows)
        ids.push_back (row.id);
    return ids;
}

std::vector<std::string> playlistIds (const CatalogDocument& document)
{
    std::vector<std::string> ids;
    for (const auto& playlist : document.playlists)
        ids.push_back (playlist.id);
    return ids;
}
} // namespace

TEST (UndoHistoryCommit, RecordsStepsAndKeepsAtMostOneHundred)
{
    UndoHistory history (makeShow());

    EXPECT_TRUE (history.commit (history.current(), freeGuard));   // same document: nothing recorded
    EXPECT_FALSE (history.canUndo());

    for (int i = 1; i <= 101; ++i)
        ASSERT_TRUE (history.commit (edited (history.current(), [i] (CatalogDocument& d) { d.playlists[0].name = "v" + std::to_string (i); }), freeGuard));

    EXPECT_EQ (history.undoStack().size(), 100u);

    int undone = 0;
    while (history.undo (freeGuard))
        ++undone;

    EXPECT_EQ (undone, 100);
    EXPECT_EQ (history.current().playlists[0].name, "v1");   // the first step is gone for good
    EXPECT_EQ (history.redoStack().size(), 100u);
}

TEST (UndoHistoryCommit, RedoStackSurvivesRefusalsAndNoOpsButNotNewSteps)
{
    UndoHistory history (makeShow());
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].name = "Renamed"; }), freeGuard));
    ASSERT_TRUE (history.undo (freeGuard));
    ASSERT_TRUE (history.canRedo());

    EXPECT_TRUE (history.commit (history.current(), freeGuard));   // no change
    EXPECT_TRUE (history.canRedo());

    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.current = "missing"; }), freeGuard));
    EXPECT_TRUE (history.canRedo());

    EXPECT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[1].memo = "x"; }), freeGuard));
    EXPECT_FALSE (history.canRedo());
}

TEST (UndoHistoryCommit, InvalidDocumentsAndReadOnlyAreRefusedWithNothingChanged)
{
    UndoHistory history (makeShow());
    const auto before = history.current();

    EXPECT_FALSE (history.commit (edited (before, [] (CatalogDocument& d) { d.playlists[1].rows[0].id = "a"; }), freeGuard));
    EXPECT_FALSE (history.commit (edited (before, [] (CatalogDocument& d) { d.playlists[0].rows[0].gainDb = 20.0f; }), freeGuard));

    EditGuard readOnly;
    readOnly.readOnly = true;
    EXPECT_FALSE (history.commit (edited (before, [] (CatalogDocument& d) { d.playlists[0].name = "x"; }), readOnly));

    ASSERT_TRUE (history.commit (edited (before, [] (CatalogDocument& d) { d.playlists[0].name = "x"; }), freeGuard));
    EXPECT_FALSE (history.undo (readOnly));
    ASSERT_TRUE (history.undo (freeGuard));
    EXPECT_FALSE (history.redo (readOnly));
    EXPECT_EQ (history.current(), before);
    EXPECT_EQ (history.redoStack().size(), 1u);
}

TEST (UndoHistoryMerge, UndoKeepsWhatChangedSince)
{
    UndoHistory history (makeShow());

    // Rename p1; then a copy job adds rows to p1 and the operator retitles a row.
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].name = "Renamed"; }), freeGuard));
    const auto rename = history.undoStack().back();
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) {
        d.playlists[0].rows.push_back (makeRow ("n1"));
        d.playlists[0].rows.push_back (makeRow ("n2"));
        d.playlists[0].rows[0].title = "Changed since";
    }), freeGuard));

    // Undoing the rename alone restores the old name and keeps everything else.
    const auto merged = UndoHistory::mergeSnapshot (history.current(), rename.after->toDocument(), rename.before->toDocument());
    EXPECT_EQ (merged.playlists[0].name, "Opening");
    EXPECT_EQ (rowIds (merged.playlists[0]), (std::vector<std::string> { "a", "b", "c", "n1", "n2" }));
    EXPECT_EQ (merged.playlists[0].rows[0].title, "Changed since");

    // Through the stack: undo both steps, redo the first: rows stay gone, name back.
    ASSERT_TRUE (history.undo (freeGuard));
    ASSERT_TRUE (history.undo (freeGuard));
    EXPECT_EQ (history.current(), makeShow());
    ASSERT_TRUE (history.redo (freeGuard));
    EXPECT_EQ (history.current().playlists[0].name, "Renamed");
    EXPECT_EQ (history.current().playlists[0].rows.size(), 3u);
}

TEST (UndoHistoryMerge, ListRuleRestoresPositionsAndKeepsLaterAdditions)
{
    CatalogDocument start = makeShow();
    start.playlists.push_back (makePlaylist ("p3", {}, "Third"));
    UndoHistory history (start);

    // Delete p2, then (outside this history) a new playlist p4 appears.
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists.erase (d.playlists.begin() + 1); }), freeGuard));
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists.push_back (makePlaylist ("p4", {}, "New")); }), freeGuard));
    history.removeEntriesIf ([] (const Row&) { return false; });

    // Undo only the deletion, by merging its step onto the present document.
    const auto& deletion = history.undoStack().front();
    const auto merged = UndoHistory::mergeSnapshot (history.current(), deletion.after->toDocument(), deletion.before->toDocument());
    EXPECT_EQ (playlistIds (merged), (std::vector<std::string> { "p1", "p2", "p3", "p4" }));
    EXPECT_EQ (rowIds (merged.playlists[1]), (std::vector<std::string> { "d", "e" }));

    // Undoing the addition of a row that was deleted since leaves it deleted.
    UndoHistory rows (makeShow());
    ASSERT_TRUE (rows.commit (edited (rows.current(), [] (CatalogDocument& d) { d.playlists[1].rows.push_back (makeRow ("x")); }), freeGuard));
    ASSERT_TRUE (rows.commit (edited (rows.current(), [] (CatalogDocument& d) { d.playlists[1].rows.pop_back(); d.playlists[1].rows.erase (d.playlists[1].rows.begin()); }), freeGuard));
    const auto& addition = rows.undoStack().front();
    const auto afterUndo = UndoHistory::mergeSnapshot (rows.current(), addition.after->toDocument(), addition.before->toDocument());
    EXPECT_EQ (rowIds (afterUndo.playlists[1]), (std::vector<std::string> { "e" }));

    // And a redo of that addition brings nothing back that was deleted since either.
    const auto afterRedo = UndoHistory::mergeSnapshot (rows.current(), addition.before->toDocument(), addition.after->toDocument());
    EXPECT_EQ (rowIds (afterRedo.playlists[1]), (std::vector<std::string> { "e", "x" }));
}

TEST (UndoHistoryMerge, ValueRuleTakesTheStepsValuesOnly)
{
    CatalogDocument from = makeShow(), to = from, present = from;
    to.playlists[0].rows[1].gainDb = -6.0f;           // the step changed the gain...
    present.playlists[0].rows[1].title = "Live mix";   // ...present renamed the row since
    present.playlists[0].rows[1].gainDb = -3.0f;       // ...and changed the gain too: the step's value wins
    to.folders.push_back (makeFolder ("f"));
    present.masterEq.bands[0].gainDb = 4.0;             // untouched by the step: present's value stays

    // Size and time change together.
    to.playlists[1].rows[0].bytes = 5;
    present.playlists[1].rows[0].modified = 42;

    const auto merged = UndoHistory::mergeSnapshot (present, from, to);
    EXPECT_EQ (merged.playlists[0].rows[1].title, "Live mix");
    EXPECT_EQ (merged.playlists[0].rows[1].gainDb, -6.0f);
    EXPECT_EQ (merged.masterEq.bands[0].gainDb, 4.0);
    ASSERT_EQ (merged.folders.size(), 1u);
    EXPECT_EQ (merged.playlists[1].rows[0].bytes, 5u);
    EXPECT_EQ (merged.playlists[1].rows[0].modified, from.playlists[1].rows[0].modified);

    // A NaN on both sides counts as changed: to's NaN replaces present's value, and the
    // result then fails the catalog rules, so such an undo is refused.
    from.playlists[0].gainDb = std::numeric_limits<float>::quiet_NaN();
    to.playlists[0].gainDb = std::numeric_limits<float>::quiet_NaN();
    present.playlists[0].gainDb = -2.0f;
    const auto withNaN = UndoHistory::mergeSnapshot (present, from, to);
    EXPECT_TRUE (std::isnan (withNaN.playlists[0].gainDb));
    EXPECT_FALSE (isValidCatalog (withNaN));
}

TEST (UndoHistoryMerge, UndoThenRedoIsIdentityWhenNothingChangedBetween)
{
    std::mt19937 random (1234);
    UndoHistory history (makeShow());

    for (int step = 0; step < 200; ++step)
    {
        const auto before = history.current();
        auto proposed = before;
        auto& playlist = proposed.playlists[random() % proposed.playlists.size()];

        switch (random() % 6)
        {
            case 0: playlist.name = "n" + std::to_string (step); break;
            case 1: playlist.rows.push_back (makeRow ("r" + std::to_string (step))); break;
            case 2: if (! playlist.rows.empty()) playlist.rows.erase (playlist.rows.begin() + (long) (random() % playlist.rows.size())); break;
            case 3: if (playlist.rows.size() > 1) std::swap (playlist.rows.front(), playlist.rows.back()); break;
            case 4: playlist.gainDb = (float) (random() % 52) - 40.0f; break;
            default: proposed.playlists.push_back (makePlaylist ("q" + std::to_string (step), { makeRow ("s" + std::to_string (step)) })); break;
        }

        if (proposed == before)
            continue;

        ASSERT_TRUE (history.commit (proposed, freeGuard));
        ASSERT_TRUE (history.undo (freeGuard));
        ASSERT_EQ (history.current(), before) << "step " << step;
        ASSERT_TRUE (history.redo (freeGuard));
        ASSERT_EQ (history.current(), proposed) << "step " << step;
    }
}

TEST (UndoHistoryGuard, LiveLockScopes)
{
    UndoHistory history (makeShow());
    const auto base = history.current();

    EditGuard editsLocked;
    editsLocked.lockEdits = true;
    EXPECT_TRUE (history.commit (edited (base, [] (CatalogDocument& d) { d.playlists[0].rows[0].gainDb = -4.0f; }), editsLocked));
    EXPECT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[1].eq.enabled = true; }), editsLocked));
    EXPECT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.masterEq.bands[3].gainDb = 2.0; }), editsLocked));
    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].rows[0].title = "new"; }), editsLocked));
    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { std::swap (d.playlists[0].rows[0], d.playlists[0].rows[1]); }), editsLocked));
    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.current = "p2"; }), editsLocked));
    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.folders.push_back (makeFolder ("f")); }), editsLocked));

    EditGuard gainsLocked;
    gainsLocked.lockTrackGainEq = true;
    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[1].rows[1].gainDb = 3.0f; }), gainsLocked));
    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[1].rows[1].eq.bands[1].gainDb = 3.0; }), gainsLocked));
    EXPECT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[1].rows.pop_back(); }), gainsLocked));   // deleted rows are not compared
    EXPECT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[1].gainDb = -1.0f; }), gainsLocked));   // bus gain is not a track gain

    EditGuard masterLocked;
    masterLocked.lockMasterEq = true;
    EXPECT_FALSE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.masterEq.enabled = ! d.masterEq.enabled; }), masterLocked));
    EXPECT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].rows[2].gainDb = 1.0f; }), masterLocked));
}

TEST (UndoHistoryGuard, SoundingRowsStayPlayable)
{
    const auto base = makeShow();   // MAIN sounds row "b" of p1
    const auto mainOnB = soundingGuard ({ "b" });

    struct Case { const char* what; void (*change) (CatalogDocument&); bool allowed; };
    const Case cases[] = {
        { "retitle",                  [] (CatalogDocument& d) { d.playlists[0].rows[1].title = "Encore"; },               true },
        { "gain and EQ",              [] (CatalogDocument& d) { d.playlists[0].rows[1].gainDb = -2.0f; },                 true },
        { "move within playlist",     [] (CatalogDocument& d) { std::swap (d.playlists[0].rows[0], d.playlists[0].rows[1]); }, true },
        { "other rows edited",        [] (CatalogDocument& d) { d.playlists[1].rows.clear(); },                           true },
        { "delete",                   [] (CatalogDocument& d) { d.playlists[0].rows.erase (d.playlists[0].rows.begin() + 1); }, false },
        { "move to another playlist", [] (CatalogDocument& d) { d.playlists[1].rows.push_back (d.playlists[0].rows[1]); d.playlists[0].rows.erase (d.playlists[0].rows.begin() + 1); }, false },
        { "change source",            [] (CatalogDocument& d) { d.playlists[0].rows[1].source = "/music/other.wav"; },    false },
        { "change signature",         [] (CatalogDocument& d) { d.playlists[0].rows[1].modified += 1; },                  false },
        { "switch open playlist",     [] (CatalogDocument& d) { d.current = "p2"; },                                      false },
        { "delete its playlist",      [] (CatalogDocument& d) { d.playlists.erase (d.playlists.begin()); d.current.clear(); }, false },
    };

    for (const auto& c : cases)
    {
        UndoHistory history (base);
        EXPECT_EQ (history.commit (edited (base, c.change), mainOnB), c.allowed) << c.what;
        EXPECT_EQ (history.current(), c.allowed ? edited (base, c.change) : base) << c.what;
    }

    // OUTGOING is protected the same way.
    UndoHistory history (base);
    EXPECT_FALSE (history.commit (edited (base, [] (CatalogDocument& d) { d.playlists[1].rows.clear(); }), soundingGuard ({ "b", "d" })));
}

TEST (UndoHistoryGuard, RefusedUndoKeepsItsEntryForLater)
{
    UndoHistory history (makeShow());
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].rows.push_back (makeRow ("late")); }), freeGuard));

    // While "late" sounds, undoing its addition would delete it: refused, entry kept.
    EXPECT_FALSE (history.undo (soundingGuard ({ "late" })));
    EXPECT_EQ (history.undoStack().size(), 1u);
    EXPECT_EQ (history.current().playlists[0].rows.size(), 4u);

    EXPECT_TRUE (history.undo (freeGuard));
    EXPECT_EQ (history.current().playlists[0].rows.size(), 3u);
}

TEST (UndoHistoryEntries, RemoveEntriesIfDropsStepsThatKnowTheFile)
{
    UndoHistory history (makeShow());
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].name = "one"; }), freeGuard));
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].rows.push_back (makeRow ("gone")); }), freeGuard));
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].rows.pop_back(); }), freeGuard));
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[1].name = "two"; }), freeGuard));
    ASSERT_TRUE (history.undo (freeGuard));   // "two" goes to the redo stack

    const auto namesFile = [] (const Row& row) { return row.source == "/music/gone.wav"; };
    EXPECT_EQ (history.removeEntriesIf (namesFile), 2);

    ASSERT_EQ (history.undoStack().size(), 1u);
    EXPECT_EQ (history.undoStack()[0].after->playlists[0]->name, "one");
    EXPECT_EQ (history.redoStack().size(), 1u);
    EXPECT_EQ (history.removeEntriesIf (namesFile), 0);

    // Nothing can bring the file back now.
    ASSERT_TRUE (history.undo (freeGuard));
    EXPECT_FALSE (history.undo (freeGuard));
    EXPECT_EQ (findRowById (history.current(), "gone"), nullptr);
}

TEST (UndoHistoryEntries, MeasuredDurationsAreNotStepsAndSurviveUndo)
{
    UndoHistory history (makeShow());
    ASSERT_TRUE (history.commit (edited (history.current(), [] (CatalogDocument& d) { d.playlists[0].rows[0].title = "x"; }), freeGuard));

    EXPECT_TRUE (history.setRowDuration ("c", 183.5));
    EXPECT_EQ (history.undoStack().size(), 1u);
    EXPECT_EQ (history.undoStack()[0].after->playlists[0]->rows[2].duration, 0.0);   // recorded steps untouched

    ASSERT_TRUE (history.undo (freeGuard));
    EXPECT_EQ (findRowById (history.current(), "c")->duration, 183.5);
    EXPECT_EQ (findRowById (history.current(), "a")->title, "track");

    EXPECT_FALSE (history.setRowDuration ("nobody", 1.0));
    EXPECT_FALSE (history.setRowDuration ("c", -1.0));
    EXPECT_FALSE (history.setRowDuration ("c", std::numeric_limits<double>::quiet_NaN()));
}

TEST (UndoHistoryEntries, StepsShareThePlaylistsTheyDidNotChange)
{
    UndoHistory history (makeShow());
    const auto renameFirst = [] (const std::string& name) { return [name] (CatalogDocument& d) { d.playlists[0].name = name; }; };

    ASSERT_TRUE (history.commit (edited (history.current(), renameFirst ("x")), freeGuard));
    ASSERT_TRUE (history.commit (edited (history.current(), renameFirst ("y")), freeGuard));

    const auto& steps = history.undoStack();
    EXPECT_EQ (steps[0].after, steps[1].before);                                  // consecutive steps share the document
    EXPECT_EQ (steps[0].before->playlists[1], steps[1].after->playlists[1]);      // p2 was never copied
    EXPECT_NE (steps[0].before->playlists[0], steps[1].after->playlists[0]);
    EXPECT_EQ (steps[1].after->toDocument(), history.current());

    // After an undo and a fresh edit the recorded documents still describe the working one.
    ASSERT_TRUE (history.undo (freeGuard));
    ASSERT_TRUE (history.setRowDuration ("d", 12.0));
    ASSERT_TRUE (history.commit (edited (history.current(), renameFirst ("z")), freeGuard));
    EXPECT_EQ (history.undoStack().back().before->toDocument().playlists[1].rows[0].duration, 12.0);
    EXPECT_EQ (history.undoStack().back().after->toDocument(), history.current());
}
