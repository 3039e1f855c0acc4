// The coordinator's side of the audio CD import: starting and cancelling it, and taking the
// finished playlists into the catalog.
#include "app/SessionCoordinator.h"

#include "platform/ThreadContract.h"
#include "session/UiText.h"

#include <algorithm>

namespace vantrel
{
void SessionCoordinator::takeInCdImports()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (cdImports.importer() == nullptr || store.recoveryRequired.load())
        return;

    // An import waits in the importer while LIVE LOCK protects playlist editing, and here while
    // an EQ drag holds the document. A refused playlist stays queued (its files are in
    // playlists/<id>) and is tried again after each change of the document; its refusal is
    // reported once.
    if (! isLocked (LockScope::playlistEditing) && ! mix.isDragging())
        if (const auto* next = cdImports.next (history.changeCount()))
        {
            auto playlist = *next;
            const auto& playlists = history.current().playlists;
            bool taken = std::any_of (playlists.begin(), playlists.end(),
                                      [&playlist] (const Playlist& p) { return p.id == playlist.id; });
            if (! taken)
            {
                auto candidate = history.current();
                if (candidate.current.empty())
                    candidate.current = playlist.id;
                candidate.playlists.push_back (playlist);
                taken = applyEdit (std::move (candidate));
                if (taken)
                {
                    setStatus (translate ("CDを新しいプレイリストへ取り込みました"));
                    refreshLibrary();
                }
                else if (cdImports.refused (history.changeCount()))
                {
                    setAlert (translate ("CD取込のプレイリストを追加できません。整理後に再度取り込みます"));
                }
            }
            if (taken)
                cdImports.taken();
        }

    cdImports.releaseSavedRecords();
}

CdImportState SessionCoordinator::cdImportSnapshot() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto* importer = cdImports.importer();
    return importer != nullptr ? importer->snapshot() : CdImportState {};
}

bool SessionCoordinator::startCdImport (CdImportOptions importOptions)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto* importer = cdImports.importer();
    if (importer == nullptr || isLocked (LockScope::playlistEditing) || store.recoveryRequired.load())
        return false;
    return importer->start (std::move (importOptions));
}

void SessionCoordinator::cancelCdImport()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (auto* importer = cdImports.importer())
        importer->cancel();
}

CdImportState cdImportState (const SessionCoordinator& session)
{
    return session.cdImportSnapshot();
}
} // namespace vantrel
