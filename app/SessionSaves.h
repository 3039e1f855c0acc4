#pragma once

#include "session/CatalogRecords.h"
#include "session/SaveQueue.h"
#include "session/StoreResult.h"

#include <cstdint>

namespace vantrel
{
class CatalogStore;

/** The session's way to the disk: the save worker, the ticket and revision of the last state
    handed to it, and the retries after a failed save (a full disk) until one succeeds. What is
    saved is decided by the coordinator; this part only hands states over and keeps count.
    Message thread only; waitIdle and holdsOnDisk wait for the worker, nothing else does. */
class SessionSaves
{
public:
    /** While the last save failed, the newest state is handed over again this often. */
    static constexpr std::uint32_t retryMs = 5000;

    /** Starts the save worker. The store is not owned and must outlive this part. */
    explicit SessionSaves (CatalogStore& store);

    SessionSaves (const SessionSaves&) = delete;
    SessionSaves& operator= (const SessionSaves&) = delete;

    /** Hands `state` to the save worker as a new revision and remembers it. */
    void submit (const CatalogState& state);
    /** Tick step: after a failed save, `newest` again every retryMs (by `time`, the status
        line's millisecond clock). True when the saves succeed again after a failure this step
        saw: the operator is told. A store that needs recovery saves nothing. */
    bool retryFailed (const CatalogState& newest, std::uint32_t time);
    /** Waits for the worker; true when `state` is the one handed over last and a successful
        save has written it (a quit does not save it twice). */
    bool holdsOnDisk (const CatalogState& state);

    /** Counts the states handed to the save worker. */
    std::uint64_t revision() const noexcept  { return revisions; }
    /** The ticket of the last state handed to the save worker; 0 before any. */
    std::int64_t lastTicket() const noexcept  { return ticket; }
    /** The ticket of the newest state on disk: every state with a ticket up to it is saved. */
    std::int64_t lastSavedTicket() const  { return queue.getLastSavedTicket(); }
    StoreResult lastResult() const  { return queue.lastResult(); }
    bool isBusy() const  { return queue.isBusy(); }
    /** Blocks until the worker is idle; false when its last save failed. */
    bool waitIdle()  { return queue.waitIdle(); }
    /** On during a quit: a save of an older state makes way for the newest one. */
    void setPreferNewest (bool on)  { queue.setPreferNewest (on); }

private:
    CatalogStore& store;
    SaveQueue queue;
    std::uint64_t revisions = 1;
    std::int64_t ticket = 0;
    CatalogState submitted;           // the state of the last submit
    bool failureSeen = false;         // a tick saw the last save fail and retries it
    std::uint32_t lastRetryAt = 0;    // when the failure was seen, or the last retry submitted
};
} // namespace vantrel
