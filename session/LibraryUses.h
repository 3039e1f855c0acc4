#pragma once

#include "session/CatalogRecords.h"
#include "session/LibraryItem.h"
#include "session/LibraryNames.h"
#include "session/LibraryPaths.h"

#include <juce_core/juce_core.h>

#include <map>
#include <vector>

namespace vantrel
{
/** The use entry of a playlist: "プレイリスト: " (translated) and the playlist's name. */
juce::String playlistUseEntry (const std::string& playlistName);

/** The use entry of pad slot 0..44: "PAD " bank " / " slot. */
juce::String padUseEntry (int padIndex);

/** The uses text of a file used nowhere: "取込の保存確定待ち" when pending, else "未使用" (translated). */
juce::String unusedUsesText (bool pending);

/** True when a playlist folder holds "pending-import.json" or a file matching
    "pending-copy-*.json" (not searched recursively). Any thread. */
bool hasPendingImport (const juce::File& playlistFolder);

/** Remembers, for one scan, which playlist folders hold a pending record. */
class PendingFolderCache
{
public:
    bool isPending (const juce::File& playlistFolder);

private:
    std::map<juce::String, bool> folders;
};

/** A file as the library sees it before its uses are counted: path, file name (or the names
    record's entry for a managed file), kind, existence, size and, for a playlist copy, whether
    its playlist folder holds a pending record. `usesText` is the unused or pending text. */
LibraryItem describeLibraryFile (const LibraryRoot& root, const juce::File& file, const LibraryNameMap& names,
                                 PendingFolderCache* pendingCache = nullptr);

/** The item of one file with its uses among the playlists' rows and the pads. A row counts when
    its source is an absolute path with the file's key; the first such row of the whole catalog
    gives the display name when its title is not empty, otherwise the last pad with a name does
    while no row uses the file. Any thread, on values the caller owns. */
LibraryItem findLibraryFileUses (const LibraryRoot& root, const juce::File& file, const std::vector<Playlist>& playlists,
                                 const PadSlots& pads, const LibraryNameMap& names);

/** Sorts by display name in natural order without regard to case (numbers by value). Equal names
    are ordered by path so that the order is the same from scan to scan. */
void sortLibraryItems (LibraryItemList& items);
} // namespace vantrel
