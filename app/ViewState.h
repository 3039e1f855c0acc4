#pragma once

#include "session/CatalogRecords.h"
#include "session/CatalogStore.h"
#include "session/UndoHistory.h"

#include <string>

namespace vantrel
{
/** The main view's layout as the session keeps it: the folding of its panels, its row height,
    its waveform zoom and the collapsed folders of the playlist tree, changed in place in the
    state's `UiState`. The layout is saved with the state but is no edit: no undo step, no
    status. Each change answers whether the state must be saved: every call does, also when the
    value did not change, except while the data awaits recovery (nothing changes then) and for a
    folder the working document does not hold. Message thread only. */
class ViewState
{
public:
    ViewState (CatalogState& state, const CatalogStore& store, const UndoHistory& history) noexcept
        : state (state), store (store), history (history) {}

    ViewState (const ViewState&) = delete;
    ViewState& operator= (const ViewState&) = delete;

    bool togglePlaylistPanel();
    /** The caller mutes the pads when they were folded away: folded pads cannot be seen. */
    bool togglePadPanel();
    bool toggleMemoPanel();
    /** Clamped to 30..49. */
    bool setRowHeight (int height);
    /** Clamped to 0..19. */
    bool setZoom (int zoom);
    bool toggleFolderCollapsed (const std::string& folderId);

private:
    bool canChange() const  { return ! store.recoveryRequired.load(); }

    CatalogState& state;
    const CatalogStore& store;
    const UndoHistory& history;
};
} // namespace vantrel
