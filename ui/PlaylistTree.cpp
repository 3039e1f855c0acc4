#include "ui/PlaylistTree.h"

#include "ui/DialogHost.h"

#include "session/CatalogValidation.h"
#include "session/UiText.h"
#include "ui/MenuPlacement.h"
#include "ui/ShownText.h"
#include "ui/Theme.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace vantrel
{
namespace
{
juce::String utf8 (const std::string& text) { return juce::String::fromUTF8 (text.c_str()); }

void appendField (std::string& out, const std::string& field)
{
    out += std::to_string (field.size());
    out += ':';
    out += field;
}

bool holdsId (const std::vector<std::string>& ids, const std::string& id)
{
    return std::find (ids.begin(), ids.end(), id) != ids.end();
}

/** The index of the playlist with the id in catalog order, or -1. */
int playlistIndex (const CatalogDocument& document, const std::string& id)
{
    for (size_t i = 0; i < document.playlists.size(); ++i)
        if (document.playlists[i].id == id)
            return (int) i;
    return -1;
}
} // namespace

int treeIndent (int depth) { return 12 * juce::jlimit (0, 7, depth); }

int treeDisclosureEnd (int depth) { return treeIndent (depth) + 22; }

std::string treeSignatureOf (const CatalogDocument& document, const std::vector<std::string>& collapsedFolders)
{
    std::string text;
    for (const auto& folder : document.folders)
    {
        appendField (text, folder.id);
        appendField (text, folder.name);
        appendField (text, folder.parentId);
        appendField (text, holdsId (collapsedFolders, folder.id) ? "closed" : "open");
    }
    text += '|';
    for (const auto& playlist : document.playlists)
    {
        appendField (text, playlist.id);
        appendField (text, playlist.name);
        appendField (text, playlist.folderId);
        appendField (text, std::to_string (playlist.rows.size()));
    }
    return text;
}

std::vector<TreeEntry> treeEntriesOf (const CatalogDocument& document, const std::vector<std::string>& collapsedFolders)
{
    // Children by parent, in catalog order, so that the walk costs what the catalog holds.
    std::map<std::string, std::vector<const Folder*>> folders;
    std::map<std::string, std::vector<const Playlist*>> playlists;
    for (const auto& folder : document.folders)
        folders[folder.parentId].push_back (&folder);
    for (const auto& playlist : document.playlists)
        playlists[playlist.folderId].push_back (&playlist);
    const std::set<std::string> collapsed (collapsedFolders.begin(), collapsedFolders.end());

    std::vector<TreeEntry> entries;
    std::set<std::string> listed;   // each folder once, even where a damaged catalog repeats an id
    std::function<void (const std::string&, int)> addLevel = [&] (const std::string& parent, int depth)
    {
        if (depth > deepestTreeLevel)
            return;
        if (const auto found = folders.find (parent); found != folders.end())
            for (const auto* folder : found->second)
            {
                if (! listed.insert (folder->id).second)
                    continue;
                entries.push_back ({ folder->id, folder->name, folder->parentId, true, depth, 0 });
                if (collapsed.count (folder->id) == 0)
                    addLevel (folder->id, depth + 1);
            }
        if (const auto found = playlists.find (parent); found != playlists.end())
            for (const auto* playlist : found->second)
                entries.push_back ({ playlist->id, playlist->name, playlist->folderId, false, depth, (int) playlist->rows.size() });
    };
    addLevel ({}, 0);
    return entries;
}

// ---- the column -------------------------------------------------------------------------------------

PlaylistColumn::PlaylistColumn (const SectionContext& context)
    : ViewSection (context), tree ("playlists", &playlistModel, false)
{
    style (playlistsHeading, 11.0f, dimTextColourId);
    playlistsHeading.setText ("PLAYLISTS", juce::dontSendNotification);
    playlistsFold.setButtonText (translate ("‹"));
    wire (playlistsFold, [this] { coordinator.togglePlaylistPanel(); view.resized(); });
    addTreeButton.setButtonText ("+");
    addTreeButton.setTooltip (translate ("プレイリスト／フォルダーを追加・右クリックで整理"));
    wire (addTreeButton, [this] { addTreeAtSelection(); });
    removeTreeButton.setButtonText (translate ("削除"));
    wire (removeTreeButton, [this] { removeSelectedTree(); });
    tree.setRowHeight (36);
    // Lines are selected when the button comes up: a drag moves the line it started on and
    // opens nothing on the way.
    tree.setRowSelectedOnMouseDown (false);
    tree.setWantsKeyboardFocus (false);
    tree.setColour (juce::ListBox::backgroundColourId, juce::Colours::transparentBlack);
    tree.setOutlineThickness (0);
    tree.takesDrag = [this] (const juce::String& description) { return treeTakesDrag (description); };
    tree.onDrop = [this] (const juce::String& description, juce::Point<int> point) { dropOnTree (description, point); };

    libraryButton.setButtonText (translate ("ライブラリ · すべての音源"));
    libraryButton.setWantsKeyboardFocus (false);
    libraryButton.onClick = [this] { doors.showLibrary(); };
    cdImport.setButtonText (translate ("CDを取り込む…"));
    cdImport.setWantsKeyboardFocus (false);
    cdImport.onClick = [this] { dialogs.openCdWindow(); };
    style (cdSummary, 10.0f, dimTextColourId);

    addPart (playlistsHeading, "playlists-heading");
    addPart (playlistsFold, "playlists-fold");
    addPart (addTreeButton, "add-playlist-folder");
    addPart (removeTreeButton, "tree-remove");
    addPart (tree, "playlists");
    addPart (libraryButton, "library-button");
    addPart (cdImport, "cd-import");
    addPart (cdSummary, "cd-summary");
}

PlaylistColumn::~PlaylistColumn()
{
    tree.setModel (nullptr);
}

void PlaylistColumn::layOut (const MainScreenLayout& layout)
{
    playlistsFold.setButtonText (translate (layout.playlistsFoldText.toRawUTF8()));
    ViewSection::layOut (layout);
}

void PlaylistColumn::refresh (const ViewSnapshot& s)
{
    showCd (s.cd);
    addTreeButton.setEnabled (! s.catalogLocked);
    removeTreeButton.setEnabled (! s.catalogLocked);
    // The lists are drawn again only where what they show changed: a whole-screen repaint ten
    // times a second would cost more than everything else the view does.
    refreshTree (s);
    showSelection (s);
    showToggle (libraryButton, s.flags.libraryShown);
}

void PlaylistColumn::showCd (const CdImportState& cd)
{
    juce::String cdText;
    if (cd.busy)
        cdText = translate ("CD取込中 · ") + juce::String ((int) (juce::jlimit (0.0, 1.0, cd.progress) * 100.0)) + "%";
    else if (cd.discs.empty())
        cdText = translate ("音楽CDを入れると表示します");
    else
        cdText = cd.discs.front().title + " · " + juce::String ((int) cd.discs.front().tracks.size()) + translate ("曲");
    showText (cdSummary, cdText);
    cdSummary.setTooltip (cdText);
    cdImport.setButtonText (cd.busy ? translate ("CD取込の進行状況…") : translate ("CDを取り込む…"));
}

void PlaylistColumn::showSelection (const ViewSnapshot& s)
{
    // The tree selects the line last chosen, created or moved, else the open playlist's; none
    // while the library replaces the rows. A newly selected line is scrolled into view.
    const std::string openId = s.openPlaylist != nullptr ? s.openPlaylist->id : std::string();
    const auto treeKey = selectedTreeKey.empty() ? openId : selectedTreeKey;
    int treeLine = -1;
    if (! s.flags.libraryShown && ! treeKey.empty())
        for (int i = 0; i < (int) treeEntries.size(); ++i)
            if (treeEntries[(size_t) i].id == treeKey)
                treeLine = i;
    if (treeLine < 0)
        tree.deselectAllRows();
    else if (! tree.isRowSelected (treeLine))
        tree.selectRow (treeLine, false, true);
}

// ---- the tree's state and operations ----------------------------------------------------------------

bool PlaylistColumn::treeLocked() const { return coordinator.isLocked (LockScope::playlistEditing); }

const Folder* PlaylistColumn::findFolder (const std::string& id) const
{
    const auto& all = coordinator.catalogState().document.folders;
    const auto found = std::find_if (all.begin(), all.end(), [&] (const Folder& f) { return f.id == id; });
    return found != all.end() ? &*found : nullptr;
}

bool PlaylistColumn::isFolderCollapsed (const std::string& id) const
{
    return holdsId (coordinator.catalogState().ui.collapsedFolders, id);
}

juce::String PlaylistColumn::folderPath (const Folder& folder) const
{
    juce::StringArray names { utf8 (folder.name) };
    auto parent = folder.parentId;
    for (int step = 0; step < 32 && ! parent.empty(); ++step)
    {
        const auto* above = findFolder (parent);
        if (above == nullptr)
            break;
        names.insert (0, utf8 (above->name));
        parent = above->parentId;
    }
    return names.joinIntoString (" / ");
}

void PlaylistColumn::refreshTree (const ViewSnapshot& snapshot)
{
    const auto& document = snapshot.catalog.document;
    const auto& collapsed = snapshot.catalog.ui.collapsedFolders;
    auto signature = treeSignatureOf (document, collapsed);
    const bool rebuilt = signature != treeSignature;
    if (rebuilt)
    {
        treeSignature = std::move (signature);
        treeEntries = treeEntriesOf (document, collapsed);
        ++treeRebuilds;
        tree.updateContent();
        // The ids are part of the signature: a selected entry can only go with a rebuild.
        if (findFolder (selectedTreeKey) == nullptr && playlistIndex (document, selectedTreeKey) < 0)
            selectedTreeKey.clear();
    }

    // The open playlist's line is marked: a change of it repaints, as a rebuild does (the list
    // itself repaints only lines whose row or selection changed).
    const auto* current = snapshot.openPlaylist;
    const auto marked = current != nullptr && ! snapshot.flags.libraryShown ? current->id : std::string();
    if (rebuilt || marked != treeMarkedLine)
    {
        treeMarkedLine = marked;
        tree.repaint();
    }
}

void PlaylistColumn::addTree (bool isFolder, const std::string& parentId)
{
    if (treeLocked())
        return;
    view.textDialog (translate (isFolder ? "新しいフォルダー" : "新しいプレイリスト"), translate ("名前"), {},
                     [this, isFolder, parentId] (juce::String text)
    {
        const auto name = text.trim().toStdString();
        if (name.empty())
            return;
        auto& co = coordinator;
        if (isFolder ? ! co.addTreeFolder (name, parentId) : ! co.addPlaylist (name, parentId))
            return;
        const auto& document = co.catalogState().document;
        selectedTreeKey = isFolder ? document.folders.back().id : document.playlists.back().id;
        if (! isFolder)
            view.flags().libraryShown = false;
        if (! parentId.empty() && isFolderCollapsed (parentId))
            co.toggleFolderCollapsed (parentId);   // the new line is shown
    }, true);
}

void PlaylistColumn::addTreeMenu (const std::string& parentId, const juce::PopupMenu::Options& at)
{
    if (dialogs.isOpen() || treeLocked())
        return;
    juce::PopupMenu menu;
    menu.addItem (1, translate ("プレイリストを追加…"));
    menu.addItem (2, translate ("フォルダーを追加…"));
    dialogs.showMenu (menu, at, MenuLeadsTo::nameDialog,
                      [this, parentId] (int result)
    {
        if (result == 1 || result == 2)
            addTree (result == 2, parentId);
    });
}

void PlaylistColumn::renameTree (const TreeEntry& entry)
{
    if (treeLocked())
        return;
    const auto title = entry.isFolder ? translate ("フォルダー名") : translate ("プレイリスト名");
    view.textDialog (title, translate ("名前"), utf8 (entry.name), [this, entry] (juce::String text)
    {
        const auto name = text.trim().toStdString();
        if (entry.isFolder)
            coordinator.renameTreeFolder (entry.id, name);
        else
            coordinator.renamePlaylist (entry.id, name);
    }, true);
}

void PlaylistColumn::removeTree (const TreeEntry& entry)
{
    if (treeLocked())
        return;
    const auto question = entry.isFolder
        ? translate ("フォルダーだけを削除しますか？ 中のプレイリストとフォルダーは1つ上の階層へ戻ります。音源は残ります。")
        : translate ("このプレイリストを削除しますか？");
    view.confirm (question, [this, entry]
    {
        if (entry.isFolder)
        {
            if (coordinator.removeTreeFolder (entry.id))
                selectedTreeKey.clear();
            return;
        }
        // The sources are read before the playlist goes: its stored copies may now be unused.
        juce::StringArray sources;
        for (const auto& playlist : coordinator.catalogState().document.playlists)
            if (playlist.id == entry.id)
                for (const auto& row : playlist.rows)
                    sources.addIfNotAlreadyThere (utf8 (row.source));
        if (coordinator.removePlaylist (entry.id))
        {
            selectedTreeKey.clear();
            doors.offerOwnedCleanup (sources);
        }
    });
}

void PlaylistColumn::treeMenu (const TreeEntry& entry, const juce::PopupMenu::Options& at)
{
    if (dialogs.isOpen())
        return;
    const bool editable = ! treeLocked();
    const auto& folders = coordinator.catalogState().document.folders;

    // A folder cannot go where it already is, into itself or below itself; a parent chain that
    // is broken or longer than the tree lists is no target either.
    const auto canMoveInto = [&] (const Folder& candidate)
    {
        if (candidate.id == entry.parentId)
            return false;
        if (! entry.isFolder)
            return true;
        auto at = candidate.id;
        for (int steps = 0; ! at.empty(); ++steps)
        {
            const auto* folder = findFolder (at);
            if (at == entry.id || folder == nullptr || steps > deepestTreeLevel)
                return false;
            at = folder->parentId;
        }
        return true;
    };
    juce::PopupMenu moves;
    moves.addItem (1000, translate ("最上位"), editable && ! entry.parentId.empty());
    std::vector<std::string> targets;
    for (const auto& folder : folders)
    {
        targets.push_back (folder.id);
        moves.addItem (1000 + (int) targets.size(), folderPath (folder), editable && canMoveInto (folder));
    }

    juce::PopupMenu menu;
    menu.addSectionHeader (labelTextOf (entry.name));
    menu.addItem (1, translate ("名前を変更…"), editable);
    menu.addItem (2, entry.isFolder ? translate ("フォルダーだけ削除…") : translate ("プレイリストを削除…"), editable);
    menu.addItem (3, translate ("ここにプレイリストを追加…"), editable);
    menu.addItem (4, translate ("ここにフォルダーを追加…"), editable);
    menu.addSubMenu (translate ("移動先"), moves, editable);

    dialogs.showMenu (menu, at, MenuLeadsTo::nameDialog,
                      [this, entry, targets] (int result)
    {
        const auto here = entry.isFolder ? entry.id : entry.parentId;
        if (result == 1)
            renameTree (entry);
        else if (result == 2)
            removeTree (entry);
        else if (result == 3 || result == 4)
            addTree (result == 4, here);
        else if (result >= 1000 && result <= 1000 + (int) targets.size())
        {
            const auto target = result == 1000 ? std::string() : targets[(size_t) (result - 1001)];
            if (coordinator.moveTreeEntry (entry.id, entry.isFolder, target))
            {
                selectedTreeKey = entry.id;
                if (! target.empty() && isFolderCollapsed (target))
                    coordinator.toggleFolderCollapsed (target);
            }
        }
    });
}

void PlaylistColumn::addTreeAtSelection()
{
    view.commitPendingEdits();
    const auto& document = coordinator.catalogState().document;
    std::string parent;
    if (const auto* folder = findFolder (selectedTreeKey))
        parent = folder->id;
    else if (const int index = playlistIndex (document, selectedTreeKey); index >= 0 && ! selectedTreeKey.empty())
        parent = document.playlists[(size_t) index].folderId;
    addTreeMenu (parent, menuAtButton (addTreeButton));
}

void PlaylistColumn::removeSelectedTree()
{
    view.commitPendingEdits();
    const auto key = selectedTreeKey.empty() ? coordinator.catalogState().document.current : selectedTreeKey;
    const auto found = std::find_if (treeEntries.begin(), treeEntries.end(), [&] (const TreeEntry& e) { return e.id == key; });
    if (! key.empty() && found != treeEntries.end())
        removeTree (*found);
}

// ---- the list's model -------------------------------------------------------------------------------

PlaylistModel::PlaylistModel (PlaylistColumn& owner) : column (owner) {}

const TreeEntry* PlaylistModel::entryAt (int row) const
{
    return juce::isPositiveAndBelow (row, (int) column.treeEntries.size()) ? &column.treeEntries[(size_t) row] : nullptr;
}

int PlaylistModel::rebuilds() const { return column.treeRebuilds; }

int PlaylistModel::getNumRows() { return (int) column.treeEntries.size(); }

void PlaylistModel::paintListBoxItem (int row, juce::Graphics& g, int width, int height, bool selected)
{
    const auto* entry = entryAt (row);
    if (entry == nullptr)
        return;
    const bool current = ! entry->isFolder && ! column.view.flags().libraryShown && entry->id == column.coordinator.catalogState().document.current;
    const auto colour = [this] (int colourId) { return themeColour (column.tree, colourId); };
    if (selected || current)
    {
        g.setColour (colour (selectionColourId).withAlpha (current ? 0.16f : 0.08f));
        g.fillRoundedRectangle (2.0f, 1.0f, (float) width - 4.0f, (float) height - 2.0f, 4.0f);
    }
    if (current)
    {
        g.setColour (colour (selectionColourId));
        g.fillRect (2, 8, 2, height - 16);
    }

    const int indent = treeIndent (entry->depth);
    const float i = (float) indent, m = (float) (height / 2);
    const auto name = labelTextOf (entry->name);   // one line: the head of a long name
    g.setColour (colour (entry->isFolder ? noticeColourId : current ? textColourId : dimTextColourId));
    g.setFont (juce::Font (13.0f, entry->isFolder || current ? juce::Font::bold : juce::Font::plain));
    if (entry->isFolder)
    {
        juce::Path disclosure;
        if (column.isFolderCollapsed (entry->id))
            disclosure.addTriangle (i + 7.0f, m - 4.0f, i + 7.0f, m + 4.0f, i + 13.0f, m);
        else
            disclosure.addTriangle (i + 6.0f, m - 3.0f, i + 14.0f, m - 3.0f, i + 10.0f, m + 3.0f);
        g.fillPath (disclosure);
        g.drawFittedText (name, indent + 20, 1, std::max (width - indent - 24, 5), height - 2, juce::Justification::centredLeft, 1);
        return;
    }
    g.drawFittedText (name, indent + 19, 1, std::max (width - indent - 49, 5), height - 2, juce::Justification::centredLeft, 1);
    g.setColour (colour (dimTextColourId));
    g.setFont (juce::Font (10.0f));
    g.drawText (juce::String (entry->rowCount), width - 30, 1, 25, height - 2, juce::Justification::centredRight);
}

void PlaylistModel::listBoxItemClicked (int row, const juce::MouseEvent& e)
{
    const auto* shown = entryAt (row);
    if (shown == nullptr)
        return;
    const auto entry = *shown;   // a copy: what runs next may rebuild the lines
    if (e.mods.isPopupMenu())
        column.treeMenu (entry, menuAtPointer (column.tree, e));
    else if (entry.isFolder && e.x < treeDisclosureEnd (entry.depth))
    {
        column.coordinator.toggleFolderCollapsed (entry.id);
        column.view.refresh();
    }
}

void PlaylistModel::listBoxItemDoubleClicked (int row, const juce::MouseEvent& e)
{
    const auto* shown = entryAt (row);
    if (shown == nullptr || e.mods.isPopupMenu())
        return;
    const auto entry = *shown;
    if (! entry.isFolder)
        column.renameTree (entry);
    else if (e.x >= treeDisclosureEnd (entry.depth))
    {
        column.coordinator.toggleFolderCollapsed (entry.id);
        column.view.refresh();
    }
}

void PlaylistModel::backgroundClicked (const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu())
        column.addTreeMenu ({}, menuAtPointer (column.tree, e));
}

void PlaylistModel::selectedRowsChanged (int lastRowSelected)
{
    const auto* shown = entryAt (lastRowSelected);
    if (column.view.flags().syncing || shown == nullptr)
        return;
    const auto entry = *shown;
    column.view.commitPendingEdits();
    auto& co = column.coordinator;
    if (! entry.isFolder && entry.id != co.catalogState().document.current && ! co.openPlaylist (entry.id))
    {
        column.view.refresh();   // refused (a track sounds): the selection goes back to the open playlist
        return;
    }
    column.selectedTreeKey = entry.id;
    if (! entry.isFolder)
        column.view.flags().libraryShown = false;   // the rows list comes back
    column.view.refresh();
}

juce::var PlaylistModel::getDragSourceDescription (const juce::SparseSet<int>& rows)
{
    const auto* entry = rows.isEmpty() ? nullptr : entryAt (rows[0]);
    if (entry == nullptr || column.treeLocked())
        return {};
    return (entry->isFolder ? "tree-folder:" : "tree-list:") + utf8 (entry->id);
}

juce::String PlaylistModel::getTooltipForRow (int row)
{
    const auto* entry = entryAt (row);
    return entry != nullptr ? utf8 (entry->name) : juce::String();
}

// ---- drops of tree entries --------------------------------------------------------------------------

bool PlaylistColumn::treeTakesDrag (const juce::String& description) const
{
    return ! treeLocked() && description.startsWith ("tree-");
}

void PlaylistColumn::dropOnTree (const juce::String& description, juce::Point<int> point)
{
    view.commitPendingEdits();
    const bool isFolder = description.startsWith ("tree-folder:");
    if (! treeLocked() && (isFolder || description.startsWith ("tree-list:")))
    {
        const auto id = description.fromFirstOccurrenceOf (":", false, false).toStdString();
        const auto* line = playlistModel.entryAt (tree.getRowContainingPosition (point.x, point.y));
        const auto target = line != nullptr ? std::optional<TreeEntry> (*line) : std::nullopt;
        const auto folder = ! target ? std::string() : target->isFolder ? target->id : target->parentId;
        if (coordinator.moveTreeEntry (id, isFolder, folder))
        {
            selectedTreeKey = id;
            if (! folder.empty() && isFolderCollapsed (folder))
                coordinator.toggleFolderCollapsed (folder);
            // Dropped on another playlist's line, a playlist also takes that one's place.
            if (! isFolder && target && ! target->isFolder && target->id != id)
            {
                const auto& document = coordinator.catalogState().document;
                const int from = playlistIndex (document, id), to = playlistIndex (document, target->id);
                if (from >= 0 && to >= 0)
                    coordinator.movePlaylist (from, to);
            }
        }
    }
    view.refresh();
}
} // namespace vantrel
