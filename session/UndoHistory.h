#pragma once

#include "session/CatalogRecords.h"
#include "session/DocumentSnapshot.h"
#include "session/EditGuard.h"

#include <functional>
#include <memory>
#include <vector>

namespace vantrel
{
/** One step of the history: the whole document before and after it. Recorded
    documents are immutable, so steps share them and the playlists they did not
    change. */
struct UndoEntry
{
    std::shared_ptr<const DocumentSnapshot> before;
    std::shared_ptr<const DocumentSnapshot> after;
};

/** The working catalog document with up to 100 undo steps.

    Undo and redo re-apply one step's change onto the present document with a
    three-way merge, so that what changed since survives, and they pass through
    the same guard as an edit. Every refusal is a plain false with nothing
    changed.

    Message thread only. */
class UndoHistory
{
public:
    static constexpr size_t maxUndoSteps = 100;

    explicit UndoHistory (CatalogDocument initial = {});

    /** The working document: the one the view shows and that is saved. */
    const CatalogDocument& current() const noexcept  { return currentDocument; }

    /** Makes proposed the working document and records the step. True without
        recording anything when proposed equals the working document. */
    bool commit (CatalogDocument proposed, const EditGuard& guard);

    bool undo (const EditGuard& guard);
    bool redo (const EditGuard& guard);

    bool canUndo() const noexcept  { return ! undoEntries.empty(); }
    bool canRedo() const noexcept  { return ! redoEntries.empty(); }

    const std::vector<UndoEntry>& undoStack() const noexcept  { return undoEntries; }
    const std::vector<UndoEntry>& redoStack() const noexcept  { return redoEntries; }

    /** Drops from both stacks every step whose before or after document holds a
        row for which the predicate is true; the others keep their order.
        Returns how many steps were dropped. */
    int removeEntriesIf (const std::function<bool (const Row&)>& predicate);

    /** Records a measured duration in the working document without an undo step.
        False when no row has that id or the value is not a finite duration. */
    bool setRowDuration (const std::string& rowId, double seconds);

    /** Makes another playlist the open one without an undo step (opening a playlist is not an
        edit). False when no playlist has that id. */
    bool setCurrentPlaylist (const std::string& playlistId);

    /** Changes the working document in place without an undo step: for the live values of a
        drag (gains and EQs), which a later commit turns into one step. */
    template <typename Change>
    void changeLiveValues (Change&& change)
    {
        change (currentDocument);
        recordedCurrent = nullptr;
        ++changes;
    }

    /** Counts every change of the working document (edits, undo, redo, live values, durations,
        the open playlist, a reset): equal counts mean an unchanged document. */
    std::uint64_t changeCount() const noexcept  { return changes; }

    /** Replaces the working document and forgets every step (a new catalog was loaded). */
    void reset (CatalogDocument document);

    /** The guard check shared by commit, undo and redo. */
    static bool validateDocument (const CatalogDocument& current, const CatalogDocument& proposed, const EditGuard& guard);

    /** Applies the change from -> to onto present. */
    static CatalogDocument mergeSnapshot (const CatalogDocument& present, const CatalogDocument& from, const CatalogDocument& to);

private:
    /** The recorded form of the working document, made when a step needs it. */
    std::shared_ptr<const DocumentSnapshot> currentSnapshot();

    CatalogDocument currentDocument;
    std::shared_ptr<const DocumentSnapshot> recordedCurrent;   // null when not recorded yet
    std::shared_ptr<const DocumentSnapshot> sharingHint;       // the recorded document nearest to the working one
    std::vector<UndoEntry> undoEntries;   // oldest first
    std::vector<UndoEntry> redoEntries;   // most recently undone last
    std::uint64_t changes = 0;
};
} // namespace vantrel
