#include "app/CdImportIntake.h"

#include "app/SessionSaves.h"

namespace vantrel
{
const Playlist* CdImportIntake::next (std::uint64_t changeCount)
{
    if (cdImport == nullptr)
        return nullptr;
    if (auto playlist = cdImport->takeImported())
        waiting.push_back (std::move (*playlist));
    return ! waiting.empty() && changeCount != refusedAt ? &waiting.front() : nullptr;
}

void CdImportIntake::taken()
{
    awaitingSave.push_back (waiting.front().id);
    waiting.erase (waiting.begin());
    saveTicket = saves.lastTicket();
}

bool CdImportIntake::refused (std::uint64_t changeCount)
{
    refusedAt = changeCount;
    const bool unreported = refusedId != waiting.front().id;
    refusedId = waiting.front().id;
    return unreported;
}

void CdImportIntake::releaseSavedRecords()
{
    // The recovery record is the only copy of the playlist until a save holds it.
    if (cdImport == nullptr || awaitingSave.empty() || saves.isBusy() || ! saves.lastResult().ok
        || saves.lastSavedTicket() < saveTicket)
        return;
    for (const auto& id : awaitingSave)
        cdImport->clearRecovery (id);
    awaitingSave.clear();
}
} // namespace vantrel
