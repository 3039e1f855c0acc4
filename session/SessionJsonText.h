#pragma once

#include "session/CatalogRecords.h"

#include <string>

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

/** "catalog.json": version, folders, one {"id", "name"} per playlist, current. */
std::string catalogFileJsonText (const CatalogState& state);

/** "pad/pads.json": the pads object. */
std::string padsJsonText (const PadSlots& pads);

/** "app-state.json": version, UI object, master object. */
std::string appStateJsonText (const CatalogState& state);
} // namespace vantrel
