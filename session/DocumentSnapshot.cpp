#include "session/DocumentSnapshot.h"

#include <string_view>
#include <unordered_map>

namespace vantrel
{
std::shared_ptr<const DocumentSnapshot> DocumentSnapshot::make (const CatalogDocument& document, const DocumentSnapshot* previous)
{
    auto snapshot = std::make_shared<DocumentSnapshot>();
    snapshot->current = document.current;
    snapshot->folders = document.folders;
    snapshot->masterEq = document.masterEq;
    snapshot->playlists.reserve (document.playlists.size());

    std::unordered_map<std::string_view, const std::shared_ptr<const Playlist>*> previousById;
    if (previous != nullptr)
        for (const auto& playlist : previous->playlists)
            previousById.emplace (playlist->id, &playlist);

    for (const auto& playlist : document.playlists)
    {
        const auto found = previousById.find (playlist.id);

        if (found != previousById.end() && **found->second == playlist)
            snapshot->playlists.push_back (*found->second);
        else
            snapshot->playlists.push_back (std::make_shared<const Playlist> (playlist));
    }

    return snapshot;
}

CatalogDocument DocumentSnapshot::toDocument() const
{
    CatalogDocument document;
    document.playlists.reserve (playlists.size());
    for (const auto& playlist : playlists)
        document.playlists.push_back (*playlist);

    document.current = current;
    document.folders = folders;
    document.masterEq = masterEq;
    return document;
}
} // namespace vantrel
