#pragma once

#include "session/EqSettings.h"
#include "session/GainRange.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel
{
/** One track of a playlist. Text fields hold UTF-8 bytes. */
struct Row
{
    std::string id;
    std::string title;
    std::string note;
    std::string source;      // absolute path of the audio file
    uint64_t bytes = 0;      // size of the source when it was taken in
    int64_t modified = 0;    // its last-write time then, ms since the epoch
    double duration = 0.0;   // seconds; 0 until measured
    float gainDb = 0.0f;
    EqSettings eq;

    bool operator== (const Row& other) const
    {
        return id == other.id && title == other.title && note == other.note && source == other.source
            && bytes == other.bytes && modified == other.modified && duration == other.duration
            && gainDb == other.gainDb && eq == other.eq;
    }
    bool operator!= (const Row& other) const  { return ! operator== (other); }
};

struct Playlist
{
    std::string id;
    std::string name;
    std::string memo;
    std::vector<Row> rows;   // in play order
    std::string folderId;    // empty for the top level
    float gainDb = 0.0f;     // bus gain
    EqSettings eq;           // bus EQ

    bool operator== (const Playlist& other) const
    {
        return id == other.id && name == other.name && memo == other.memo && rows == other.rows
            && folderId == other.folderId && gainDb == other.gainDb && eq == other.eq;
    }
    bool operator!= (const Playlist& other) const  { return ! operator== (other); }
};

/** A node of the playlist tree. */
struct Folder
{
    std::string id;
    std::string name;
    std::string parentId;    // empty for a top-level folder

    bool operator== (const Folder& other) const
    {
        return id == other.id && name == other.name && parentId == other.parentId;
    }
    bool operator!= (const Folder& other) const  { return ! operator== (other); }
};

/** One of the 45 instant-play pads. */
struct PadSlot
{
    std::string name;
    std::string asset;       // bare file name under the pad asset folder; empty when unassigned
    float gainDb = 0.0f;

    bool operator== (const PadSlot& other) const
    {
        return name == other.name && asset == other.asset && gainDb == other.gainDb;
    }
    bool operator!= (const PadSlot& other) const  { return ! operator== (other); }
};

constexpr int numPadBanks = 5;
constexpr int numPadsPerBank = 9;
constexpr int numPads = numPadBanks * numPadsPerBank;

using PadSlots = std::array<PadSlot, numPads>;
using PadFlags = std::array<bool, numPads>;

/** The part of the state that the undo history covers. */
struct CatalogDocument
{
    std::vector<Playlist> playlists;   // in catalog order
    std::string current;               // id of the open playlist; empty when none
    std::vector<Folder> folders;
    EqSettings masterEq;

    bool operator== (const CatalogDocument& other) const
    {
        return playlists == other.playlists && current == other.current && folders == other.folders
            && masterEq == other.masterEq;
    }
    bool operator!= (const CatalogDocument& other) const  { return ! operator== (other); }
};

/** View state saved with the session. */
struct UiState
{
    bool playlistsFolded = false;
    bool padsFolded = false;
    bool memoFolded = true;
    int zoom = 15;           // 0..19
    int rowHeight = 49;      // 30..49
    std::vector<std::string> collapsedFolders;

    bool operator== (const UiState& other) const
    {
        return playlistsFolded == other.playlistsFolded && padsFolded == other.padsFolded
            && memoFolded == other.memoFolded && zoom == other.zoom && rowHeight == other.rowHeight
            && collapsedFolders == other.collapsedFolders;
    }
    bool operator!= (const UiState& other) const  { return ! operator== (other); }
};

/** Everything that is saved. */
struct CatalogState
{
    CatalogDocument document;
    PadSlots pads;           // 5 banks of 9, bank-major (see padIndex)
    UiState ui;
    bool limiterEnabled = true;

    bool operator== (const CatalogState& other) const
    {
        return document == other.document && pads == other.pads && ui == other.ui
            && limiterEnabled == other.limiterEnabled;
    }
    bool operator!= (const CatalogState& other) const  { return ! operator== (other); }
};
} // namespace vantrel
