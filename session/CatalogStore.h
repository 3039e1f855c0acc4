#pragma once

#include "session/CatalogRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <atomic>
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
        the session's files (exactly the atomic writer's names for them, nothing else), then
        finishes an interrupted save and reads the split files. On failure saves are
        refused from now on; when the last-good snapshot reads cleanly, `state` becomes it and the
        message says a recovery must be confirmed, otherwise `state` is left as given. Message
        thread, once, before the save worker receives anything. */
    StoreResult load (CatalogState& state);

    /** Journal completion, then the split-file read (or a fresh state for an empty root). On
        failure `state` is left as given. */
    StoreResult readSavedFiles (CatalogState& state);

    /** One complete save: self-check, journal, split files, last-good snapshot, journal removal.
        Succeeds with "自動保存済み". Save worker's thread. Virtual so that tests can stand in a
        slow, failing or throwing store behind the save worker. */
    virtual StoreResult save (const CatalogState& state);

    /** Restores the split files from the last-good snapshot after keeping every session file in a
        damaged bundle; whatever stands where a split file must go (a folder at "catalog.json", a
        file at "pad") is moved, unchanged, into the bundle's folder first. A left-over journal
        (possibly newer than the snapshot) is kept under a unique name in "recovery" rather than
        deleted. A retry after a failure extends the bundle of the failed try instead of writing
        another. Message thread, while the save worker is idle. */
    StoreResult recoverFromBackup();

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
    std::atomic<bool> stopForNewerState { false };
    bool stoppedForNewerState = false;   // save worker's thread

    /** The bundle of a recovery that failed after writing it; empty otherwise. Message thread. */
    juce::File recoveryBundle;

    /** Ends a save that makes way for a newer state. */
    StoreResult stopped();

    juce::File journalFile() const;
    juce::File lastGoodFile() const;
};

/** root/playlists/(id)/waveforms for a valid playlist id, an empty File otherwise. The folder
    need not exist. Any thread. */
juce::File waveformCacheFolder (const juce::File& root, const std::string& playlistId);
} // namespace vantrel
