#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include <algorithm>

namespace vantrel
{
// The view's layout is saved with the state but is no edit: no undo step, no status. Every call
// saves, also when the value did not change; nothing changes while the data awaits recovery.

void SessionCoordinator::togglePlaylistPanel()
{
    if (store.recoveryRequired.load())
        return;
    state.ui.playlistsFolded = ! state.ui.playlistsFolded;
    persist();
}

void SessionCoordinator::togglePadPanel()
{
    if (store.recoveryRequired.load())
        return;
    state.ui.padsFolded = ! state.ui.padsFolded;
    // Folded pads cannot be seen, so they are not heard either; unfolding leaves PAD MUTE alone.
    if (state.ui.padsFolded)
        setPadMute (true);
    persist();
}

void SessionCoordinator::toggleMemoPanel()
{
    if (store.recoveryRequired.load())
        return;
    state.ui.memoFolded = ! state.ui.memoFolded;
    persist();
}

void SessionCoordinator::setRowHeight (int height)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load())
        return;
    state.ui.rowHeight = std::clamp (height, 30, 49);
    persist();
}

void SessionCoordinator::setZoom (int zoom)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load())
        return;
    state.ui.zoom = std::clamp (zoom, 0, 19);
    persist();
}

void SessionCoordinator::toggleFolderCollapsed (const std::string& folderId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load())
        return;
    const auto& folders = history.current().folders;
    if (std::none_of (folders.begin(), folders.end(), [&] (const Folder& f) { return f.id == folderId; }))
        return;
    auto& collapsed = state.ui.collapsedFolders;
    const auto found = std::find (collapsed.begin(), collapsed.end(), folderId);
    if (found != collapsed.end())
        collapsed.erase (found);
    else
        collapsed.push_back (folderId);
    persist();
}
} // namespace vantrel
