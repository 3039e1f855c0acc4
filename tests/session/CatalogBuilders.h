#pragma once

#include "session/CatalogRecords.h"

#include <stdexcept>
#include <string>

namespace vantrel::testing
{
/** Small builders for valid catalog documents. */
inline Row makeRow (const std::string& id, const std::string& title = "track")
{
    Row row;
    row.id = id;
    row.title = title;
    row.source = "/music/" + id + ".wav";
    row.bytes = 1000;
    row.modified = 1700000000000;
    return row;
}

inline Playlist makePlaylist (const std::string& id, std::initializer_list<Row> rows = {}, const std::string& name = "list")
{
    Playlist playlist;
    playlist.id = id;
    playlist.name = name;
    playlist.rows = rows;
    return playlist;
}

inline Folder makeFolder (const std::string& id, const std::string& parentId = {}, const std::string& name = "folder")
{
    return Folder { id, name, parentId };
}

/** Playlists "p1" (rows a, b, c) and "p2" (rows d, e); p1 is open. */
inline CatalogDocument makeShow()
{
    CatalogDocument document;
    document.playlists.push_back (makePlaylist ("p1", { makeRow ("a"), makeRow ("b"), makeRow ("c") }, "Opening"));
    document.playlists.push_back (makePlaylist ("p2", { makeRow ("d"), makeRow ("e") }, "Encore"));
    document.current = "p1";
    return document;
}

inline Playlist& playlistById (CatalogDocument& document, const std::string& id)
{
    for (auto& playlist : document.playlists)
        if (playlist.id == id)
            return playlist;

    throw std::runtime_error ("no playlist " + id);
}
} // namespace vantrel::testing
