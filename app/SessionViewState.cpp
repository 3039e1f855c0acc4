#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

namespace vantrel
{
// The layout's rules are ViewState's; the coordinator saves after every change it accepted.

void SessionCoordinator::togglePlaylistPanel()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (viewState.togglePlaylistPanel())
        persist();
}

void SessionCoordinator::togglePadPanel()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! viewState.togglePadPanel())
        return;
    // Folded pads cannot be seen, so they are not heard either; unfolding leaves PAD MUTE alone.
    if (state.ui.padsFolded)
        setPadMute (true);
    persist();
}

void SessionCoordinator::toggleMemoPanel()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (viewState.toggleMemoPanel())
        persist();
}

void SessionCoordinator::setRowHeight (int height)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (viewState.setRowHeight (height))
        persist();
}

void SessionCoordinator::setZoom (int zoom)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (viewState.setZoom (zoom))
        persist();
}

void SessionCoordinator::toggleFolderCollapsed (const std::string& folderId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (viewState.toggleFolderCollapsed (folderId))
        persist();
}
} // namespace vantrel
