#include "app/ViewState.h"

#include <algorithm>

namespace vantrel
{
bool ViewState::togglePlaylistPanel()
{
    if (! canChange())
        return false;
    state.ui.playlistsFolded = ! state.ui.playlistsFolded;
    return true;
}

bool ViewState::togglePadPanel()
{
    if (! canChange())
        return false;
    state.ui.padsFolded = ! state.ui.padsFolded;
    return true;
}

bool ViewState::toggleMemoPanel()
{
    if (! canChange())
        return false;
    state.ui.memoFolded = ! state.ui.memoFolded;
    return true;
}

bool ViewState::setRowHeight (int height)
{
    if (! canChange())
        return false;
    state.ui.rowHeight = std::clamp (height, 30, 49);
    return true;
}

bool ViewState::setZoom (int zoom)
{
    if (! canChange())
        return false;
    state.ui.zoom = std::clamp (zoom, 0, 19);
    return true;
}

bool ViewState::toggleFolderCollapsed (const std::string& folderId)
{
    if (! canChange())
        return false;
    const auto& folders = history.current().folders;
    if (std::none_of (folders.begin(), folders.end(), [&] (const Folder& f) { return f.id == folderId; }))
        return false;
    auto& collapsed = state.ui.collapsedFolders;
    const auto found = std::find (collapsed.begin(), collapsed.end(), folderId);
    if (found != collapsed.end())
        collapsed.erase (found);
    else
        collapsed.push_back (folderId);
    return true;
}
} // namespace vantrel
