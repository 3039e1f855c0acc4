#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel
{
/** Where an audio file lies, as the library sees it. The library panel labels the kinds
    "外部参照", "プレイリスト用コピー" and "PADコピー". */
enum class LibraryFileKind : int
{
    External = 0,       // outside the data root, or inside it but not at a managed place
    PlaylistCopy = 1,   // playlists/<valid id>/audio/<name with an audio extension>
    PadCopy = 2         // pad/assets/<name with an audio extension>
};

/** One audio file of the library overview. */
struct LibraryItem
{
    juce::String path;          // full path
    juce::String displayName;
    juce::String usesText;      // uses joined with " / ", or the pending / unused text
    LibraryFileKind kind = LibraryFileKind::External;
    int rowUses = 0;
    int padUses = 0;
    int64_t bytes = 0;          // 0 when the file does not exist
    bool exists = false;
    bool pending = false;       // playlist copies only: a copy or CD import awaits its save

    bool operator== (const LibraryItem& other) const
    {
        return path == other.path && displayName == other.displayName && usesText == other.usesText
            && kind == other.kind && rowUses == other.rowUses && padUses == other.padUses
            && bytes == other.bytes && exists == other.exists && pending == other.pending;
    }
    bool operator!= (const LibraryItem& other) const  { return ! operator== (other); }
};

using LibraryItemList = std::vector<LibraryItem>;

/** What Library::items hands out: the published list (never null) and the scan's state. */
struct LibrarySnapshot
{
    std::shared_ptr<const LibraryItemList> items = std::make_shared<const LibraryItemList>();
    bool scanning = false;
    int64_t generation = 0;     // raised by every published scan
    juce::String status;        // empty, or why "library-names.json" could not be read
};
} // namespace vantrel
