#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace vantrel
{
/** One line of the playlist tree: a folder or a playlist, at its depth. */
struct TreeEntry
{
    bool isFolder = false;
    std::string id, name;
    int depth = 0;
    bool collapsed = false;

    /** The key the tree selects by: "folder:" + id for a folder, the playlist id otherwise. */
    std::string key() const { return isFolder ? "folder:" + id : id; }
};

/** The tree's lines from the catalog: folders depth first (a collapsed folder hides what it
    holds), each folder's playlists after its sub-folders, the top level's playlists last. */
std::vector<TreeEntry> buildTreeEntries (const CatalogState& state);

/** The playlist tree: a click on a playlist opens it, on a folder folds it. */
class PlaylistModel : public juce::ListBoxModel
{
public:
    PlaylistModel (SessionCoordinator&, std::vector<TreeEntry>& entries, std::function<void()> afterAction);
    int getNumRows() override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;

private:
    SessionCoordinator& coordinator;
    std::vector<TreeEntry>& entries;
    std::function<void()> afterAction;
};

} // namespace vantrel
