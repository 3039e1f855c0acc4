#include "ui/PlaylistTree.h"

#include "ui/ViewImpl.h"

#include "session/CatalogValidation.h"
#include "session/UiText.h"
#include "ui/Theme.h"

#include <cmath>
#include <set>

namespace vantrel
{
namespace
{
juce::String utf8 (const std::string& text) { return juce::String::fromUTF8 (text.c_str()); }
} // namespace

// ---- playlist tree --------------------------------------------------------------------------------

std::vector<TreeEntry> buildTreeEntries (const CatalogState& state)
{
    const auto& document = state.document;
    const std::set<std::string> collapsed (state.ui.collapsedFolders.begin(), state.ui.collapsedFolders.end());
    std::vector<TreeEntry> entries;
    std::set<std::string> visited;

    std::function<void (const std::string&, int)> addLevel = [&] (const std::string& parent, int depth)
    {
        for (const auto& folder : document.folders)
        {
            if (folder.parentId != parent || ! visited.insert (folder.id).second)
                continue;
            const bool isCollapsed = collapsed.count (folder.id) > 0;
            entries.push_back ({ true, folder.id, folder.name, depth, isCollapsed });
            if (! isCollapsed && depth < 32)
                addLevel (folder.id, depth + 1);
        }
        for (const auto& playlist : document.playlists)
            if (playlist.folderId == parent)
                entries.push_back ({ false, playlist.id, playlist.name, depth, false });
    };
    addLevel ({}, 0);
    return entries;
}

PlaylistModel::PlaylistModel (SessionCoordinator& c, std::vector<TreeEntry>& e, std::function<void()> after)
    : coordinator (c), entries (e), afterAction (std::move (after))
{
}

int PlaylistModel::getNumRows() { return (int) entries.size(); }

void PlaylistModel::paintListBoxItem (int row, juce::Graphics& g, int width, int height, bool selected)
{
    if (! juce::isPositiveAndBelow (row, (int) entries.size()))
        return;
    const auto& entry = entries[(size_t) row];
    if (selected)
    {
        g.setColour (colours::accent.withAlpha (0.16f));
        g.fillRect (0, 0, width, height);
    }
    if (! entry.isFolder && entry.id == coordinator.state.document.current)
    {
        g.setColour (colours::accent);
        g.fillRect (0, 4, 3, height - 8);
    }
    const int indent = 12 * std::min (entry.depth, 7) + 8;
    g.setColour (entry.isFolder ? colours::textDim : colours::text);
    g.setFont (juce::Font (13.0f, entry.isFolder ? juce::Font::bold : juce::Font::plain));
    const auto prefix = entry.isFolder ? translate (entry.collapsed ? "▸ " : "▾ ") : juce::String();
    g.drawText (prefix + utf8 (entry.name), indent, 0, width - indent - 4, height, juce::Justification::centredLeft, true);
}

void PlaylistModel::listBoxItemClicked (int row, const juce::MouseEvent&)
{
    if (! juce::isPositiveAndBelow (row, (int) entries.size()))
        return;
    const auto entry = entries[(size_t) row];   // a copy: the refresh may rebuild the list
    if (entry.isFolder)
        coordinator.toggleFolderCollapsed (entry.id);
    else
        coordinator.openPlaylist (entry.id);
    if (afterAction)
        afterAction();
}


// ---- drops of tree entries --------------------------------------------------------------------------

bool VantrelView::Impl::treeTakesDrag (const juce::String&) const { return false; }

void VantrelView::Impl::dropOnTree (const juce::String&, juce::Point<int>) {}

} // namespace vantrel
