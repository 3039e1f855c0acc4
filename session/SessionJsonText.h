#pragma once

#include "session/CatalogRecords.h"

#include <string>
#include <vector>

namespace vantrel
{
/** The stored texts of the session documents, written straight from the records instead of
    through a tree of values: byte for byte the text that sessionJsonText gives for the same
    document (the framework's multi-line layout, "\r\n" line ends, two spaces of indent per
    level, every character outside printable ASCII escaped, numbers as the framework prints
    them), at a fraction of the time and memory. Pure functions; any thread. */

/** The whole-state document of catalogToJson. */
std::string wholeStateJsonText (const CatalogState& state);

/** The split file of one playlist: its playlist object as a document of its own. */
std::string playlistJsonText (const Playlist& playlist);

/** The whole-state document around the texts of the playlist files (playlistJsonText of each
    playlist, in catalog order), which are indented into place instead of being written again:
    the same bytes as wholeStateJsonText (state). */
std::string wholeStateJsonText (const CatalogState& state, const std::vector<std::string>& playlistTexts);

/** "catalog.json": version, folders, one {"id", "name"} per playlist, current. */
std::string catalogFileJsonText (const CatalogState& state);

/** "pad/pads.json": the pads object. */
std::string padsJsonText (const PadSlots& pads);

/** "app-state.json": version, UI object, master object. */
std::string appStateJsonText (const CatalogState& state);
} // namespace vantrel
