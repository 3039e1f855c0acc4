#include "session/UndoHistory.h"

#include "session/CatalogValidation.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace vantrel
{
namespace
{
    template <typename Item>
    using IdIndex = std::unordered_map<std::string_view, const Item*>;

    // Lists hold their items by value, or by shared pointer in a recorded document.
    template <typename Item>
    const Item& itemOf (const Item& item)  { return item; }

    template <typename Item>
    const Item& itemOf (const std::shared_ptr<const Item>& item)  { return *item; }

    /** Items by id; the first item with an id wins, as a linear search would find it. */
    template <typename Item, typename List>
    IdIndex<Item> indexById (const List& items)
    {
        IdIndex<Item> index;
        index.reserve (items.size());
        for (const auto& entry : items)
        {
            const Item& item = itemOf<Item> (entry);
            index.emplace (item.id, &item);
        }
        return index;
    }

    IdIndex<Row> indexRows (const CatalogDocument& document)
    {
        IdIndex<Row> index;
        for (const auto& playlist : document.playlists)
            for (const auto& row : playlist.rows)
                index.emplace (row.id, &row);
        return index;
    }

    template <typename Item>
    const Item* find (const IdIndex<Item>& index, const std::string& id)
    {
        const auto found = index.find (id);
        return found == index.end() ? nullptr : found->second;
    }

    /** The value rule of the merge: to's value where the step changed it, present's otherwise.
        IEEE equality, so a NaN on both sides counts as changed. */
    template <typename Value>
    const Value& pick (const Value& present, const Value& from, const Value& to)
    {
        return to == from ? present : to;
    }

    /** The list rule: to's order for what the step knew (present's version of it),
        then whatever only present has. */
    template <typename Item, typename FromList, typename ToList, typename MergeItem>
    std::vector<Item> mergeList (const std::vector<Item>& present, const FromList& from,
                                 const ToList& to, MergeItem&& mergeItem)
    {
        const auto presentIndex = indexById<Item> (present);
        const auto fromIndex = indexById<Item> (from);
        const auto toIndex = indexById<Item> (to);

        std::vector<Item> merged;
        merged.reserve (std::max (present.size(), to.size()));

        for (const auto& toEntry : to)
        {
            const Item& toItem = itemOf<Item> (toEntry);
            const auto* presentItem = find (presentIndex, toItem.id);
            const auto* fromItem = find (fromIndex, toItem.id);

            if (fromItem == nullptr)
                merged.push_back (presentItem != nullptr ? *presentItem : toItem);
            else if (presentItem != nullptr)
                merged.push_back (mergeItem (*presentItem, *fromItem, toItem));
        }

        for (const auto& presentItem : present)
            if (fromIndex.count (presentItem.id) == 0 && toIndex.count (presentItem.id) == 0)
                merged.push_back (presentItem);

        return merged;
    }

    Row mergeRow (const Row& present, const Row& from, const Row& to)
    {
        Row row = present;
        row.title = pick (present.title, from.title, to.title);
        row.note = pick (present.note, from.note, to.note);
        row.source = pick (present.source, from.source, to.source);

        // Size and time are one signature: they travel together.
        if (from.bytes != to.bytes || from.modified != to.modified)
        {
            row.bytes = to.bytes;
            row.modified = to.modified;
        }

        row.duration = pick (present.duration, from.duration, to.duration);
        row.gainDb = pick (present.gainDb, from.gainDb, to.gainDb);
        row.eq = pick (present.eq, from.eq, to.eq);
        return row;
    }

    Playlist mergePlaylist (const Playlist& present, const Playlist& from, const Playlist& to)
    {
        Playlist playlist;
        playlist.id = present.id;
        playlist.name = pick (present.name, from.name, to.name);
        playlist.memo = pick (present.memo, from.memo, to.memo);
        playlist.rows = mergeList (present.rows, from.rows, to.rows, mergeRow);
        playlist.folderId = pick (present.folderId, from.folderId, to.folderId);
        playlist.gainDb = pick (present.gainDb, from.gainDb, to.gainDb);
        playlist.eq = pick (present.eq, from.eq, to.eq);
        return playlist;
    }

    Folder mergeFolder (const Folder& present, const Folder& from, const Folder& to)
    {
        Folder folder = present;
        folder.name = pick (present.name, from.name, to.name);
        folder.parentId = pick (present.parentId, from.parentId, to.parentId);
        return folder;
    }

    /** Applies the change from -> to onto present; from and to may be recorded documents. */
    template <typename From, typename To>
    CatalogDocument mergeDocuments (const CatalogDocument& present, const From& from, const To& to)
    {
        CatalogDocument merged;
        merged.current = pick (present.current, from.current, to.current);
        merged.masterEq = pick (present.masterEq, from.masterEq, to.masterEq);
        merged.folders = mergeList (present.folders, from.folders, to.folders, mergeFolder);
        merged.playlists = mergeList (present.playlists, from.playlists, to.playlists, mergePlaylist);
        return merged;
    }

    /** Equality of the two documents once every gain is 0 and every EQ the
        default: only gains and EQs may differ. */
    bool equalBesidesGainsAndEqs (const CatalogDocument& a, const CatalogDocument& b)
    {
        if (a.current != b.current || a.folders != b.folders || a.playlists.size() != b.playlists.size())
            return false;

        for (size_t p = 0; p < a.playlists.size(); ++p)
        {
            const auto& pa = a.playlists[p];
            const auto& pb = b.playlists[p];

            if (pa.id != pb.id || pa.name != pb.name || pa.memo != pb.memo || pa.folderId != pb.folderId
                || pa.rows.size() != pb.rows.size())
                return false;

            for (size_t r = 0; r < pa.rows.size(); ++r)
            {
                const auto& ra = pa.rows[r];
                const auto& rb = pb.rows[r];

                if (ra.id != rb.id || ra.title != rb.title || ra.note != rb.note || ra.source != rb.source
                    || ra.bytes != rb.bytes || ra.modified != rb.modified || ra.duration != rb.duration)
                    return false;
            }
        }

        return true;
    }

    const Playlist* findPlaylistHolding (const CatalogDocument& document, const std::string& rowId)
    {
        for (const auto& playlist : document.playlists)
            for (const auto& row : playlist.rows)
                if (row.id == rowId)
                    return &playlist;

        return nullptr;
    }

    const Playlist* findPlaylist (const CatalogDocument& document, const std::string& id)
    {
        for (const auto& playlist : document.playlists)
            if (playlist.id == id)
                return &playlist;

        return nullptr;
    }

    bool soundingRowsKept (const CatalogDocument& current, const CatalogDocument& proposed,
                           const std::vector<std::string>& soundingIds)
    {
        if (current.current != proposed.current)
            return false;

        for (const auto& id : soundingIds)
        {
            const auto* before = findRowById (current, id);
            const auto* after = findRowById (proposed, id);

            if (before == nullptr || after == nullptr)
                return false;

            if (before->source != after->source || before->bytes != after->bytes || before->modified != after->modified)
                return false;

            const auto* holder = findPlaylistHolding (current, id);
            const auto* sameInProposed = holder != nullptr ? findPlaylist (proposed, holder->id) : nullptr;

            if (sameInProposed == nullptr)
                return false;

            bool stillHeld = false;
            for (const auto& row : sameInProposed->rows)
                stillHeld = stillHeld || row.id == id;

            if (! stillHeld)
                return false;
        }

        return true;
    }

} // namespace

UndoHistory::UndoHistory (CatalogDocument initial)
    : currentDocument (std::move (initial))
{
    VANTREL_ASSERT_MESSAGE_THREAD;
}

std::shared_ptr<const DocumentSnapshot> UndoHistory::currentSnapshot()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (recordedCurrent == nullptr)
        recordedCurrent = DocumentSnapshot::make (currentDocument, sharingHint.get());

    return recordedCurrent;
}

bool UndoHistory::commit (CatalogDocument proposed, const EditGuard& guard)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (proposed == currentDocument)
        return true;

    if (! validateDocument (currentDocument, proposed, guard))
        return false;

    auto before = currentSnapshot();
    auto after = DocumentSnapshot::make (proposed, before.get());
    undoEntries.push_back ({ std::move (before), after });

    if (undoEntries.size() > maxUndoSteps)
        undoEntries.erase (undoEntries.begin());

    redoEntries.clear();
    currentDocument = std::move (proposed);
    ++changes;
    recordedCurrent = after;
    sharingHint = std::move (after);
    return true;
}

bool UndoHistory::undo (const EditGuard& guard)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (undoEntries.empty())
        return false;

    const auto& entry = undoEntries.back();
    auto merged = mergeDocuments (currentDocument, *entry.after, *entry.before);

    if (! validateDocument (currentDocument, merged, guard))
        return false;

    currentDocument = std::move (merged);
    ++changes;
    recordedCurrent = nullptr;
    sharingHint = entry.before;
    redoEntries.push_back (std::move (undoEntries.back()));
    undoEntries.pop_back();
    return true;
}

bool UndoHistory::redo (const EditGuard& guard)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (redoEntries.empty())
        return false;

    const auto& entry = redoEntries.back();
    auto merged = mergeDocuments (currentDocument, *entry.before, *entry.after);

    if (! validateDocument (currentDocument, merged, guard))
        return false;

    currentDocument = std::move (merged);
    ++changes;
    recordedCurrent = nullptr;
    sharingHint = entry.after;
    undoEntries.push_back (std::move (redoEntries.back()));   // no trim: redo only returns what undo took
    redoEntries.pop_back();
    return true;
}

int UndoHistory::removeEntriesIf (const std::function<bool (const Row&)>& predicate)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    // Steps share documents and playlists: look at each playlist once.
    std::unordered_map<const Playlist*, bool> matches;

    const auto holdsMatch = [&] (const std::shared_ptr<const DocumentSnapshot>& document)
    {
        for (const auto& playlist : document->playlists)
        {
            auto found = matches.find (playlist.get());
            if (found == matches.end())
            {
                bool match = false;
                for (const auto& row : playlist->rows)
                    match = match || predicate (row);
                found = matches.emplace (playlist.get(), match).first;
            }

            if (found->second)
                return true;
        }

        return false;
    };

    int removed = 0;
    const auto sweep = [&] (std::vector<UndoEntry>& entries)
    {
        const auto before = entries.size();
        entries.erase (std::remove_if (entries.begin(), entries.end(),
                                       [&] (const UndoEntry& e) { return holdsMatch (e.before) || holdsMatch (e.after); }),
                       entries.end());
        removed += static_cast<int> (before - entries.size());
    };

    sweep (undoEntries);
    sweep (redoEntries);
    return removed;
}

bool UndoHistory::setRowDuration (const std::string& rowId, double seconds)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto* row = findRowById (currentDocument, rowId);

    if (row == nullptr || ! std::isfinite (seconds) || seconds < 0.0)
        return false;

    // Recorded steps keep the document they saw; the merge's value rule then keeps
    // the learned duration through a later undo or redo.
    row->duration = seconds;
    recordedCurrent = nullptr;
    ++changes;
    return true;
}

bool UndoHistory::setCurrentPlaylist (const std::string& playlistId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto& playlists = currentDocument.playlists;
    if (std::none_of (playlists.begin(), playlists.end(), [&] (const Playlist& p) { return p.id == playlistId; }))
        return false;
    currentDocument.current = playlistId;
    recordedCurrent = nullptr;
    ++changes;
    return true;
}

void UndoHistory::reset (CatalogDocument document)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    currentDocument = std::move (document);
    ++changes;
    recordedCurrent = nullptr;
    sharingHint = nullptr;
    undoEntries.clear();
    redoEntries.clear();
}

bool UndoHistory::validateDocument (const CatalogDocument& current, const CatalogDocument& proposed, const EditGuard& guard)
{
    if (guard.readOnly || ! isValidCatalog (proposed))
        return false;

    if (guard.lockMasterEq && current.masterEq != proposed.masterEq)
        return false;

    if (guard.lockTrackGainEq)
    {
        const auto proposedRows = indexRows (proposed);

        for (const auto& playlist : current.playlists)
        {
            for (const auto& row : playlist.rows)
            {
                const auto* other = find (proposedRows, row.id);

                if (other != nullptr && (other->eq != row.eq || other->gainDb != row.gainDb))
                    return false;
            }
        }
    }

    if (guard.lockEdits && ! equalBesidesGainsAndEqs (current, proposed))
        return false;

    if (! guard.soundingIds.empty() && ! soundingRowsKept (current, proposed, guard.soundingIds))
        return false;

    return true;
}

CatalogDocument UndoHistory::mergeSnapshot (const CatalogDocument& present, const CatalogDocument& from, const CatalogDocument& to)
{
    return mergeDocuments (present, from, to);
}
} // namespace vantrel
