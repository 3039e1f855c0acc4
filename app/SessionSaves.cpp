#include "app/SessionSaves.h"

#include "session/CatalogStore.h"

namespace vantrel
{
SessionSaves::SessionSaves (CatalogStore& catalogStore)
    : store (catalogStore),
      queue (&catalogStore)
{
}

void SessionSaves::submit (const CatalogState& state)
{
    ++revisions;
    submitted = state;
    ticket = queue.submit (state);
}

bool SessionSaves::retryFailed (const CatalogState& newest, std::uint32_t time)
{
    // Edits made while the disk was full live only in memory: once space returns they must reach
    // the disk without waiting for the operator's next edit. A recovery pending saves nothing.
    if (store.recoveryRequired.load() || queue.isBusy())
        return false;
    if (queue.lastResult().ok)
    {
        const bool recovered = failureSeen;
        failureSeen = false;
        return recovered;
    }
    if (! failureSeen)
    {
        failureSeen = true;
        lastRetryAt = time;
        return false;
    }
    // Unsigned difference: right across the counter's wrap.
    if ((std::uint32_t) (time - lastRetryAt) < retryMs)
        return false;
    lastRetryAt = time;
    // The newest state submitted is the one that failed: the same state again, not a new change.
    ticket = queue.submit (newest);
    return false;
}

bool SessionSaves::holdsOnDisk (const CatalogState& state)
{
    const bool handedOver = ticket > 0 && state == submitted;
    return handedOver && queue.waitIdle() && queue.getLastSavedTicket() == ticket;
}
} // namespace vantrel
