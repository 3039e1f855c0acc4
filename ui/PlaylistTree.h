#pragma once
// Message thread only. The playlist tree of the main view: the catalog's folders and playlists
// as one indented list, folded, opened and organised through menus, name dialogs and drags.

#include "app/SessionCoordinator.h"
#include "ui/VantrelView.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <string>
#include <vector>

namespace vantrel
{
/** One visible line of the tree. */
struct TreeEntry
{
    std::string id;         // folder id or playlist id
    std::string name;
    std::string parentId;   // a folder's parent, a playlist's folder; empty at top level
    bool isFolder = false;
    int depth = 0;          // 0 at top level
    int rowCount = 0;       // a playlist's rows; 0 for a folder
};

/** The deepest level the tree lists: a folder there is shown, its contents are not. */
constexpr int deepestTreeLevel = 33;

/** How far a line is indented: 12 px a level, lines below level 7 indented like level 7. */
int treeIndent (int depth);

/** Where the disclosure area of a folder line ends: a click left of it folds or unfolds. */
int treeDisclosureEnd (int depth);

/** The structure the tree shows, as one text: every folder (id, name, parent, open or closed)
    and every playlist (id, name, folder, row count) in catalog order, each field preceded by
    its length, so that two different structures never give the same text. */
std::string treeSignatureOf (const CatalogDocument& document, const std::vector<std::string>& collapsedFolders);

/** The tree's lines, depth first from the top level: under each parent its folders in catalog
    order, each followed by its own lines unless it is collapsed, then its playlists. */
std::vector<TreeEntry> treeEntriesOf (const CatalogDocument& document, const std::vector<std::string>& collapsedFolders);

/** The tree list's model over the view's `treeEntries`. It holds no data of its own: every click,
    selection and drag becomes one operation of the view's tree, which asks the coordinator. */
class PlaylistModel : public juce::ListBoxModel
{
public:
    explicit PlaylistModel (VantrelView::Impl& impl);

    /** The line shown at row, or null. */
    const TreeEntry* entryAt (int row) const;
    /** How often the lines were rebuilt (only a changed structure rebuilds them). */
    int rebuilds() const;

    int getNumRows() override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;
    void listBoxItemDoubleClicked (int row, const juce::MouseEvent&) override;
    void backgroundClicked (const juce::MouseEvent&) override;
    void selectedRowsChanged (int lastRowSelected) override;
    juce::var getDragSourceDescription (const juce::SparseSet<int>& rows) override;
    juce::String getTooltipForRow (int row) override;

private:
    VantrelView::Impl& impl;
};
} // namespace vantrel
