#include "ui/ViewPanels.h"

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

juce::String formatDuration (double seconds)
{
    if (! std::isfinite (seconds) || seconds < 0.0)
        seconds = 0.0;
    const auto whole = (long long) std::min (seconds, 1.0e9);
    return juce::String (whole / 60).paddedLeft ('0', 2) + ":" + juce::String (whole % 60).paddedLeft ('0', 2);
}

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

// ---- rows -------------------------------------------------------------------------------------------

RowsModel::RowsModel (SessionCoordinator& c, std::function<void()> after)
    : coordinator (c), afterAction (std::move (after))
{
}

const Playlist* RowsModel::openPlaylist() const { return currentPlaylist (coordinator.state.document); }

int RowsModel::getNumRows()
{
    const auto* playlist = openPlaylist();
    return playlist != nullptr ? (int) playlist->rows.size() : 0;
}

void RowsModel::paintListBoxItem (int rowNumber, juce::Graphics& g, int width, int height, bool selected)
{
    const auto* playlist = openPlaylist();
    if (playlist == nullptr || ! juce::isPositiveAndBelow (rowNumber, (int) playlist->rows.size()))
        return;
    const auto& row = playlist->rows[(size_t) rowNumber];
    const auto& cue = coordinator.cue;
    if (selected)
    {
        g.setColour (colours::accent.withAlpha (0.12f));
        g.fillRect (0, 0, width, height);
    }
    g.setColour (colours::line.withAlpha (0.6f));
    g.fillRect (0, height - 1, width, 1);

    // State column: playing, paused or READY.
    const bool isMain = cue.main && *cue.main == row.id, isOut = cue.outgoing && *cue.outgoing == row.id;
    const bool isReady = cue.ready && *cue.ready == row.id;
    g.setFont (juce::Font (13.0f, juce::Font::bold));
    if (isMain || isOut)
    {
        g.setColour (isMain ? colours::green : colours::textDim);
        g.drawText (translate (cue.paused ? "Ⅱ" : "▶"), 5, 0, 44, height, juce::Justification::centred);
    }
    else if (isReady)
    {
        g.setColour (colours::gold);
        g.fillEllipse (5.0f + 22.0f - 4.0f, (float) height * 0.5f - 4.0f, 8.0f, 8.0f);
    }

    const int fontHeight = juce::jlimit (17, 22, height / 2);
    g.setColour (colours::textDim);
    g.setFont (juce::Font ((float) fontHeight));
    g.drawText (juce::String (rowNumber + 1).paddedLeft ('0', 2), 49, 0, 43, height, juce::Justification::centred);
    g.setColour (colours::text);
    g.setFont (juce::Font (13.0f));
    const int titleWidth = std::max (0, width - 96 - 330);
    if (row.note.empty())
    {
        g.drawText (utf8 (row.title), 96, 0, titleWidth, height, juce::Justification::centredLeft, true);
    }
    else
    {
        g.drawText (utf8 (row.title), 96, 0, titleWidth, height / 2 + 4, juce::Justification::bottomLeft, true);
        g.setColour (colours::textDim);
        g.setFont (juce::Font (11.0f));
        g.drawText (utf8 (row.note), 96, height / 2 + 4, titleWidth, height / 2 - 4, juce::Justification::topLeft, true);
        g.setColour (colours::text);
    }
    g.setFont (juce::Font (14.0f));
    g.drawText (formatDuration (row.duration), std::max (0, width - 330), 0, 88, height, juce::Justification::centredRight);
    g.setColour (colours::textDim);
    g.drawText (juce::String (row.gainDb, 1) + " dB", std::max (0, width - 195), 0, 190, height, juce::Justification::centredLeft);
}

void RowsModel::listBoxItemClicked (int rowNumber, const juce::MouseEvent&)
{
    const auto* playlist = openPlaylist();
    if (playlist == nullptr || ! juce::isPositiveAndBelow (rowNumber, (int) playlist->rows.size()))
        return;
    coordinator.selectReady (playlist->rows[(size_t) rowNumber].id);
    if (afterAction)
        afterAction();
}

// ---- library -------------------------------------------------------------------------------------

LibraryList::LibraryList (SessionCoordinator& c) : coordinator (c) {}

void LibraryList::paint (juce::Graphics& g)
{
    auto area = getLocalBounds().reduced (12, 8);
    g.setColour (colours::library::accent);
    g.setFont (juce::Font (15.0f, juce::Font::bold));
    g.drawText (translate ("ライブラリ · すべての音源"), area.removeFromTop (28), juce::Justification::centredLeft);
    std::set<std::string> seen;
    g.setFont (juce::Font (13.0f));
    for (const auto& playlist : coordinator.state.document.playlists)
        for (const auto& row : playlist.rows)
        {
            if (area.getHeight() < 22)
                return;
            if (! seen.insert (row.source).second)
                continue;
            auto line = area.removeFromTop (26);
            g.setColour (colours::library::text);
            g.drawText (juce::File (utf8 (row.source)).getFileName(), line.removeFromLeft (line.getWidth() / 2),
                        juce::Justification::centredLeft, true);
            g.setColour (colours::library::textDim);
            g.drawText (utf8 (playlist.name), line, juce::Justification::centredLeft, true);
            g.setColour (colours::library::line);
            g.fillRect (line.getX() - area.getWidth() / 2, line.getBottom() - 1, area.getWidth(), 1);
        }
}
} // namespace vantrel
