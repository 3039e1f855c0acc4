#pragma once

#include "session/CatalogRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <mutex>
#include <utility>
#include <string>

namespace vantrel
{
/** Keeps a session's state on disk under the data root (the profile's "music" folder) and
    brings it back at start-up, so that no crash, power loss or damaged file costs more than the
    last save and good data is never silently replaced by defaults. Beside the split files it
    keeps the save journal "recovery/pending.json" (the save in progress), the last-good
    snapshot "recovery/last-good.json" (the last save that completed) and, before a recovery
    overwrites anything, a "recovery/damaged-" bundle of the session's files.

    Two states: normal, and recovery pending (entered by a failed load; every save is refused
    until a recovery succeeds). The store holds no lock: load and recoverFromBackup run on the
    message thread, save on the save worker, never at the same time. */
class CatalogStore
{
public:
    /** The durable steps of a save, in order. */
    enum class SaveStep
    {
        journalWritten,      // "recovery/pending.json" holds the state: from here on it survives a stop
        splitFilesWritten,
        snapshotWritten,
        journalRemoved
    };

    explicit CatalogStore (const juce::File& dataRoot);
    virtual ~CatalogStore() = default;

    CatalogStore (const CatalogStore&) = delete;
    CatalogStore& operator= (const CatalogStore&) = delete;

    /** Start-up load: first removes the temporary files that saves stopped mid-write left beside
        the session's files (exactly the atomic writer's names for them, nothing else) and moves
        a folder that stands at the journal's or the snapshot's name aside (see
        setAsideRecoveryObstructions), then finishes an interrupted save and reads the split
        files. On failure saves are refused from now on; when the last-good snapshot reads
        cleanly, `state` becomes it and the message says a recovery must be confirmed, otherwise
        `state` is left as given. A success may carry a message: what was moved aside, or that
        the snapshot could not be written (the show loads all the same). Message thread, once,
        before the save worker receives anything. */
    StoreResult load (CatalogState& state);

    /** Journal completion, then the split-file read (or a fresh state for an empty root). On
        failure `state` is left as given. A journal whose split files were written completes even
        when the snapshot cannot be written: the journal then stays (the next start completes it
        again) and the success carries the snapshot's failure as its message. */
    StoreResult readSavedFiles (CatalogState& state);

    /** One complete save: self-check (a split file larger than the reader accepts is refused
        before anything is written), journal, split files, last-good snapshot, journal removal.
        A folder at the journal's or the snapshot's name is moved aside first, and takeNotice
        says so. Succeeds with "自動保存済み". Save worker's thread. Virtual so that tests can
        stand in a slow, failing or throwing store behind the save worker. */
    virtual StoreResult save (const CatalogState& state);

    /** What a save moved aside since the last call, for the operator; empty when nothing.
        Any thread. */
    juce::String takeNotice();

    /** Moves what stands at "recovery/pending.json", "recovery/last-good.json" or
        "recovery/last-good.json.bak" and that no file can replace (a folder; a link is replaced
        like a file) to the same name followed by ".damaged-" and 32 hex digits, in the recovery
        folder, never deleting it. Succeeds with an empty message when nothing was in the way,
        else with a message naming each entry and where it went; fails when a move fails. */
    StoreResult setAsideRecoveryObstructions();

    /** Restores the split files from the last-good snapshot after keeping every session file in a
        damaged bundle; whatever stands where a split file must go (a folder at "catalog.json", a
        file at "pad") is moved, unchanged, into the bundle's folder first. A left-over journal
        (possibly newer than the snapshot) is kept under a unique name in "recovery" rather than
        deleted. A retry after a failure extends the bundle of the failed try instead of writing
        another. Message thread, while the save worker is idle.

        When the snapshot cannot be read, the newest complete document left takes its place: the
        journal of a save that did not complete, else the snapshot's backup "last-good.json.bak".
        The unreadable snapshot is then moved aside like a folder in its place (see
        setAsideRecoveryObstructions), never deleted, and the message names the document used.
        When none can be read, nothing is touched and the snapshot's read failure is returned.
        On success `recovered` becomes the restored state; otherwise it is left as given. */
    StoreResult recoverFromBackup (CatalogState& recovered);

    /** The same, for a caller that already holds the restored state (it showed the snapshot). */
    StoreResult recoverFromBackup();

    /** Whether a recovery has a document to restore from: set by a failed load and by each
        recovery, from what read cleanly then; false while no recovery is pending. Message thread. */
    bool hasRecoverySource() const  { return recoverySource; }

    /** The split files of a state under the root. */
    StoreResult writeSplitFiles (const CatalogState& state);

    const juce::File root;

    /** True from a failed load until a successful recovery; save refuses while it is set.
        Written on the message thread, read by the save worker. */
    std::atomic<bool> recoveryRequired { false };

    /** Asked by the save worker while a newer state waits and the worker prefers it (a quit):
        a running save then stops after its current durable step (the journal, the split files)
        and fails. Any thread. */
    void setStopForNewerState (bool stop)  { stopForNewerState.store (stop); }

    /** Whether the last save stopped for a newer state; clears the answer. Save worker's thread. */
    bool takeStoppedForNewerState()  { return std::exchange (stoppedForNewerState, false); }

protected:
    /** Called by save on the save worker after each step it completed, with the state it saves.
        Does nothing here; tests stop a process at a chosen step through it. */
    virtual void saveStepDone (SaveStep step, const CatalogState& state);

private:
    std::mutex noticeMutex;
    juce::String notice;   // guarded by noticeMutex

    std::atomic<bool> stopForNewerState { false };
    bool stoppedForNewerState = false;   // save worker's thread

    /** The bundle of a recovery that failed after writing it; empty otherwise. Message thread. */
    juce::File recoveryBundle;

    /** See hasRecoverySource. Message thread. */
    bool recoverySource = false;

    /** Ends a save that makes way for a newer state. */
    StoreResult stopped();

    juce::File journalFile() const;
    juce::File lastGoodFile() const;

    /** The document a recovery restores from: the snapshot, else the newest complete one left
        (the journal, then the snapshot's backup). On failure, the snapshot's read failure and an
        empty `from`. */
    StoreResult readRecoverySource (juce::var& document, CatalogState& state, juce::File& from) const;
};

/** The size above which a whole-state document (the save journal, the last-good snapshot) is
    neither written nor read: it holds every playlist file, each up to jsonFileSizeLimit(), so it
    may be as large as sixteen of them. Any thread. */
int64_t wholeStateFileSizeLimit();

/** root/playlists/(id)/waveforms for a valid playlist id, an empty File otherwise. The folder
    need not exist. Any thread. */
juce::File waveformCacheFolder (const juce::File& root, const std::string& playlistId);
} // namespace vantrel
