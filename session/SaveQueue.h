#pragma once

#include "session/CatalogRecords.h"
#include "session/StoreResult.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

namespace vantrel
{
class CatalogStore;

/** Takes every save off the message thread: a mailbox with one slot, not a queue of changes.
    A state that has not been taken yet is replaced by a newer one, so a burst of edits costs one
    or two saves, each of a complete state. One worker thread runs CatalogStore::save on the
    newest state. Each hand-over gets a ticket; the queue remembers the ticket of the newest
    state saved successfully.

    Public operations are called on the message thread; submit, isBusy, lastResult and
    getLastSavedTicket never wait for disk work, waitIdle and the destructor do. */
class SaveQueue
{
public:
    /** Starts the worker. The store is not owned and must outlive the queue. Throws
        std::system_error when the thread cannot be started. */
    explicit SaveQueue (CatalogStore* store);

    /** Saves a state that is still waiting, finishes a running save and joins the worker. */
    ~SaveQueue();

    SaveQueue (const SaveQueue&) = delete;
    SaveQueue& operator= (const SaveQueue&) = delete;

    /** Hands over the state to save, replacing one still waiting; returns its ticket (the number
        of states handed over so far). Never blocks on a running save. */
    int64_t submit (CatalogState state);

    /** True while a state is waiting or a save is running. */
    bool isBusy() const;

    /** Blocks until nothing is waiting and no save runs; answers whether the last finished save
        succeeded (true when nothing was ever saved). */
    bool waitIdle();

    /** The last finished save's success and message. */
    StoreResult lastResult() const;

    /** The ticket of the newest state that a successful save has written (0 before any): every
        change with a ticket up to it is on disk. */
    int64_t getLastSavedTicket() const;

    /** While on (a quit), a running save whose state a newer one has replaced in the slot stops
        after its current durable step, and the newer state is saved in full instead: whatever a
        stopped save left on disk, the next complete save or the next start-up's journal
        completion makes whole. A stopped save changes neither lastResult nor the last saved
        ticket. Off by default: during a show every save completes, however fast edits come. */
    void setPreferNewest (bool on);

private:
    void run();
    StoreResult saveCatchingExceptions (const CatalogState& state);

    CatalogStore* const store;
    mutable std::mutex mutex;
    std::condition_variable condition;   // every notification is a notify-all
    std::optional<CatalogState> pending;
    bool lastOk = true;
    juce::String lastMessage;
    bool stopRequested = false;
    bool saving = false;
    bool preferNewest = false;
    int64_t submittedCount = 0;
    int64_t lastSavedTicket = 0;
    std::thread worker;
};
} // namespace vantrel
