#pragma once
// Message thread only. The playlist tree of the main view: the catalog's folders and playlists
// as one indented list, folded, opened and organised through menus, name dialogs and drags.

#include "app/SessionCoordinator.h"
#include "ui/VantrelView.h"
#include "ui/ViewSection.h"

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

class PlaylistColumn;

/** The tree list's model over its column's `treeEntries`. It holds no data of its own: every
    click, selection and drag becomes one operation of the column's tree, which asks the
    coordinator. */
class PlaylistModel : public juce::ListBoxModel
{
public:
    explicit PlaylistModel (PlaylistColumn& column);

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
    PlaylistColumn& column;
};

/** The playlist column: the "PLAYLISTS" heading, its fold, "+" and remove buttons, the playlist
    tree, the library button and the audio CD button with its summary. The tree's edits are
    ignored while LIVE LOCK guards playlist editing ("the tree is locked"). */
class PlaylistColumn : public ViewSection
{
public:
    explicit PlaylistColumn (const SectionContext& context);
    ~PlaylistColumn() override;

    void layOut (const MainScreenLayout& layout) override;
    void refresh (const ViewSnapshot& snapshot) override;

private:
    friend class PlaylistModel;

    bool treeLocked() const;
    /** Rebuilds the tree's lines when the catalog's structure or the folding changed. */
    void refreshTree (const ViewSnapshot& snapshot);
    /** Selects the line last chosen, created or moved, else the open playlist's. */
    void showSelection (const ViewSnapshot& snapshot);
    /** The CD summary and the CD button's text. */
    void showCd (const CdImportState& cd);
    const Folder* findFolder (const std::string& id) const;
    bool isFolderCollapsed (const std::string& id) const;
    /** The folder's name after those of its ancestors: "Show / Act 1 / Cues". */
    juce::String folderPath (const Folder& folder) const;
    /** Asks for the name of a new folder or playlist under parentId ("" = top level). */
    void addTree (bool isFolder, const std::string& parentId);
    /** The "+" menu (add a playlist or a folder under parentId), opened `at` the "+" button or at
        the pointer; nothing while a dialog is up. */
    void addTreeMenu (const std::string& parentId, const juce::PopupMenu::Options& at);
    void renameTree (const TreeEntry& entry);
    /** Removes a folder (its contents move up a level) or a playlist, after a confirmation. */
    void removeTree (const TreeEntry& entry);
    /** The menu of a tree line: rename, remove, add here and move to another folder. */
    void treeMenu (const TreeEntry& entry, const juce::PopupMenu::Options& at);
    /** The "+" button: the add menu for the selected folder, or the selected playlist's folder. */
    void addTreeAtSelection();
    /** The tree's remove button: the selected line, or the open playlist's. */
    void removeSelectedTree();
    /** Drops on the tree; the point is the list's own. */
    bool treeTakesDrag (const juce::String& description) const;
    void dropOnTree (const juce::String& description, juce::Point<int> point);

    juce::Label playlistsHeading, cdSummary;
    juce::TextButton playlistsFold, addTreeButton, removeTreeButton, libraryButton, cdImport;

    std::vector<TreeEntry> treeEntries;   // the tree's visible lines
    std::string treeSignature;            // the structure they were built from
    std::string selectedTreeKey;          // the line last selected, created or moved; "" = the open playlist's
    std::string treeMarkedLine;           // the playlist marked open when the tree was last drawn
    int treeRebuilds = 0;
    PlaylistModel playlistModel { *this };
    ViewList tree;
};
} // namespace vantrel
