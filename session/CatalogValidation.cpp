#include "session/CatalogValidation.h"

#include "session/GainRange.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace vantrel
{
namespace
{
    constexpr int maxFolderAncestors = 32;
    constexpr size_t maxIdBytes = 80;

    bool isValidTrackGain (float gainDb)
    {
        return std::isfinite (gainDb) && gainDb >= minGainDb && gainDb <= maxGainDb;
    }

    template <typename DocumentType, typename RowType>
    RowType* findRow (DocumentType& document, const std::string& id)
    {
        for (auto& playlist : document.playlists)
            for (auto& row : playlist.rows)
                if (row.id == id)
                    return &row;

        return nullptr;
    }

    template <typename DocumentType, typename PlaylistType>
    PlaylistType* findCurrent (DocumentType& document)
    {
        for (auto& playlist : document.playlists)
            if (playlist.id == document.current)
                return &playlist;

        return nullptr;
    }
} // namespace

float clampGainDb (float gainDb)
{
    if (! std::isfinite (gainDb))
        return 0.0f;

    return gainDb < minGainDb ? minGainDb : (gainDb > maxGainDb ? maxGainDb : gainDb);
}

bool isValidId (const std::string& id)
{
    if (id.empty() || id.size() > maxIdBytes)
        return false;

    for (const unsigned char c : id)
    {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (! allowed)
            return false;
    }

    return true;
}

std::optional<int> padIndex (int bank, int slot)
{
    if (bank < 1 || bank > numPadBanks || slot < 1 || slot > numPadsPerBank)
        return std::nullopt;

    return (bank - 1) * numPadsPerBank + (slot - 1);
}

bool movePadSlot (PadSlots& pads, int bank, int fromSlot, int toSlot, const PadFlags& playing)
{
    const auto from = padIndex (bank, fromSlot);
    const auto to = padIndex (bank, toSlot);

    if (! from || ! to || playing[(size_t) *from] || playing[(size_t) *to])
        return false;

    std::swap (pads[(size_t) *from], pads[(size_t) *to]);
    return true;
}

const Playlist* currentPlaylist (const CatalogDocument& document)  { return findCurrent<const CatalogDocument, const Playlist> (document); }
Playlist* currentPlaylist (CatalogDocument& document)              { return findCurrent<CatalogDocument, Playlist> (document); }

Playlist* findPlaylistById (CatalogDocument& document, const std::string& id)
{
    const auto found = std::find_if (document.playlists.begin(), document.playlists.end(),
                                     [&] (const Playlist& p) { return p.id == id; });
    return found != document.playlists.end() ? &*found : nullptr;
}

const Row* findRowById (const CatalogDocument& document, const std::string& id)  { return findRow<const CatalogDocument, const Row> (document, id); }
Row* findRowById (CatalogDocument& document, const std::string& id)              { return findRow<CatalogDocument, Row> (document, id); }

bool isValidCatalog (const CatalogDocument& document)
{
    // Every rule is a plain conjunction, so the lookups may be built up front;
    // hash sets keep the check linear in the size of the document.
    std::unordered_map<std::string_view, const Folder*> foldersById;
    foldersById.reserve (document.folders.size());
    for (const auto& folder : document.folders)
        foldersById.emplace (folder.id, &folder);

    std::unordered_set<std::string_view> seenIds;

    for (const auto& folder : document.folders)
    {
        if (! isValidId (folder.id) || folder.name.empty() || ! seenIds.insert (folder.id).second)
            return false;

        std::string_view ancestor = folder.parentId;
        int lookups = 0;

        while (! ancestor.empty())
        {
            if (ancestor == folder.id || ++lookups > maxFolderAncestors)
                return false;

            const auto found = foldersById.find (ancestor);
            if (found == foldersById.end())
                return false;

            ancestor = found->second->parentId;
        }
    }

    for (const auto& playlist : document.playlists)
    {
        if (! isValidTrackGain (playlist.gainDb))
            return false;

        for (const auto& band : playlist.eq.bands)
            if (! EqSettings::isValidBand (band))
                return false;

        if (! isValidId (playlist.id) || playlist.name.empty() || ! seenIds.insert (playlist.id).second)
            return false;

        if (! playlist.folderId.empty() && foldersById.count (playlist.folderId) == 0)
            return false;

        for (const auto& row : playlist.rows)
        {
            if (! isValidId (row.id) || ! seenIds.insert (row.id).second || row.source.empty())
                return false;

            if (! std::isfinite (row.duration) || row.duration < 0.0)
                return false;

            if (! isValidTrackGain (row.gainDb) || ! row.eq.isValid())
                return false;
        }
    }

    if (! document.masterEq.isValid())
        return false;

    if (document.current.empty())
        return true;

    for (const auto& playlist : document.playlists)
        if (playlist.id == document.current)
            return true;

    return false;
}
} // namespace vantrel
