#include "app/SessionCoordinator.h"
#include "platform/ThreadContract.h"

#include "session/CatalogValidation.h"
#include "session/UiText.h"

#include <algorithm>

namespace vantrel
{
namespace
{
Folder* findFolder (CatalogDocument& document, const std::string& id)
{
    const auto found = std::find_if (document.folders.begin(), document.folders.end(),
                                     [&] (const Folder& f) { return f.id == id; });
    return found != document.folders.end() ? &*found : nullptr;
}

/** Every gain at 0 dB and every EQ at its default: what is left is the structure of the catalog. */
CatalogDocument withoutMixValues (CatalogDocument document)
{
    for (auto& playlist : document.playlists)
    {
        playlist.gainDb = 0.0f;
        playlist.eq = EqSettings();
        for (auto& row : playlist.rows)
        {
            row.gainDb = 0.0f;
            row.eq = EqSettings();
        }
    }
    document.masterEq = EqSettings();
    return document;
}

const Folder* findFolder (const CatalogDocument& document, const std::string& id)
{
    const auto found = std::find_if (document.folders.begin(), document.folders.end(),
                                     [&] (const Folder& f) { return f.id == id; });
    return found != document.folders.end() ? &*found : nullptr;
}

/** True when the folder `inside` is the folder `id` or lies anywhere below it. */
bool folderLiesWithin (const CatalogDocument& document, const std::string& inside, const std::string& id)
{
    // A chain longer than the folder list is damaged: the walk ends there instead of looping.
    auto at = inside;
    for (size_t depth = 0; ! at.empty() && depth <= document.folders.size(); ++depth)
    {
        if (at == id)
            return true;
        const auto* folder = findFolder (document, at);
        if (folder == nullptr)
            return false;
        at = folder->parentId;
    }
    return false;
}

template <typename Item>
void moveWithin (std::vector<Item>& items, int from, int to)
{
    auto item = std::move (items[(size_t) from]);
    items.erase (items.begin() + from);
    items.insert (items.begin() + to, std::move (item));
}
} // namespace

// ---- the edit pipeline ------------------------------------------------------------------------------

bool SessionCoordinator::commitEdit (CatalogDocument candidate)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (candidate == history.current())
        return true;
    if (! applyEdit (std::move (candidate)))
    {
        setStatus (translate ("LIVE LOCK中、または再生中のため編集できません"));
        return false;
    }
    setStatus (translate ("変更しました"));
    return true;
}

bool SessionCoordinator::applyEdit (CatalogDocument candidate)
{
    if (! history.commit (std::move (candidate), editGuard()))
        return false;
    dropStaleCueIds();
    registerMedia (true);
    updateReady();
    preloadMedia();
    persist();
    return true;
}

void SessionCoordinator::persist()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load())
        return;
    submitState();
}

bool SessionCoordinator::undoRedo (bool redo)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (mix.isDragging())
        commitEqEdit();
    const auto before = history.current();
    const auto guard = editGuard();
    if (! (redo ? history.redo (guard) : history.undo (guard)))
    {
        setStatus (translate ("現在の状態では履歴を戻せません"));
        return false;
    }
    if (withoutMixValues (before) == withoutMixValues (history.current()))
    {
        applyEqs();
    }
    else
    {
        dropStaleCueIds();
        registerMedia (true);
        for (const auto& playlist : history.current().playlists)
            for (const auto& row : playlist.rows)
                audio.setMediaGain (row.id, row.gainDb);
        updateReady();
        preloadMedia();
    }
    persist();
    setStatus (redo ? translate ("Redo") : translate ("Undo"));
    return true;
}

bool SessionCoordinator::recoverStore()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (saves.isBusy())
        return false;
    CatalogState recovered;
    const auto result = store.recoverFromBackup (recovered);
    if (! result.ok)
    {
        setAlert (result.message);
        return false;
    }
    // The start shows the last-good snapshot when it can read it; a recovery from an older
    // document (the snapshot unreadable) brings its show in now.
    if (recovered != state)
        reloadState (std::move (recovered));
    setStatus (result.message);
    return true;
}

void SessionCoordinator::reloadState (CatalogState recovered)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    state = std::move (recovered);
    history.reset (state.document);
    masterLevels.setLimiterEnabled (state.limiterEnabled);
    padBus.setMute (state.ui.padsFolded);
    dropStaleCueIds();
    registerMedia (true);
    updateReady();
    preloadMedia();
    // A new snapshot: the unreadable one went aside.
    persist();
}

// ---- structural edits -------------------------------------------------------------------------------

bool SessionCoordinator::addTreeFolder (const std::string& name, const std::string& parentId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (name.empty())
        return false;
    auto candidate = history.current();
    candidate.folders.push_back ({ newCatalogId(), name, parentId });
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::addPlaylist (const std::string& name, const std::string& folderId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (name.empty() || isLocked (LockScope::playlistEditing))
        return false;
    auto candidate = history.current();
    Playlist playlist;
    playlist.id = newCatalogId();
    playlist.name = name;
    playlist.folderId = folderId;
    if (! playback.trackSounding())
        candidate.current = playlist.id;
    candidate.playlists.push_back (std::move (playlist));
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::removePlaylist (const std::string& id)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    const auto found = std::find_if (candidate.playlists.begin(), candidate.playlists.end(),
                                     [&] (const Playlist& p) { return p.id == id; });
    if (found == candidate.playlists.end())
        return false;
    const auto removedRows = found->rows;
    candidate.playlists.erase (found);
    if (candidate.current == id)
        candidate.current.clear();
    if (! commitEdit (std::move (candidate)))
        return false;
    // A managed file keeps the row's title as its name in the library.
    for (const auto& row : removedRows)
        library.rename (juce::File (juce::String::fromUTF8 (row.source.c_str())), juce::String::fromUTF8 (row.title.c_str()));
    return true;
}

bool SessionCoordinator::removeRow (const std::string& rowId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    auto* open = currentPlaylist (candidate);
    if (open == nullptr)
        return false;
    // A row of another playlist is not removed here: no success, and its library name stays.
    const auto row = std::find_if (open->rows.begin(), open->rows.end(), [&] (const Row& r) { return r.id == rowId; });
    if (row == open->rows.end())
        return false;
    const auto removed = *row;
    open->rows.erase (std::remove_if (open->rows.begin(), open->rows.end(), [&] (const Row& r) { return r.id == rowId; }),
                      open->rows.end());
    if (! commitEdit (std::move (candidate)))
        return false;
    library.rename (juce::File (juce::String::fromUTF8 (removed.source.c_str())), juce::String::fromUTF8 (removed.title.c_str()));
    return true;
}

bool SessionCoordinator::setPlaylistMemo (const std::string& playlistId, const std::string& memo)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    auto* playlist = findPlaylistById (candidate, playlistId);
    if (playlist == nullptr)
        return false;
    playlist->memo = memo;
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::setRowText (const std::string& rowId, const std::string& title, const std::string& note)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    auto* row = findRowById (candidate, rowId);
    if (row == nullptr)
        return false;
    row->title = title;
    row->note = note;
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::moveTreeEntry (const std::string& id, bool isFolder, const std::string& folderId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    if (! folderId.empty() && findFolder (candidate, folderId) == nullptr)
        return false;
    if (isFolder)
    {
        auto* folder = findFolder (candidate, id);
        if (folder == nullptr)
            return false;
        // Refused here with its own text: the history's check would blame LIVE LOCK or playback.
        if (folderLiesWithin (candidate, folderId, id))
        {
            setStatus (translate ("フォルダーを自分の中へは移動できません"));
            return false;
        }
        folder->parentId = folderId;
    }
    else
    {
        auto* playlist = findPlaylistById (candidate, id);
        if (playlist == nullptr)
            return false;
        playlist->folderId = folderId;
    }
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::movePlaylist (int from, int to)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    const auto count = (int) candidate.playlists.size();
    if (from < 0 || to < 0 || from >= count || to >= count)
        return false;
    moveWithin (candidate.playlists, from, to);
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::moveRow (int from, int to)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    auto* open = currentPlaylist (candidate);
    if (open == nullptr)
        return false;
    const auto count = (int) open->rows.size();
    if (from < 0 || to < 0 || from >= count || to >= count)
        return false;
    moveWithin (open->rows, from, to);
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::renameTreeFolder (const std::string& id, const std::string& name)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    auto* folder = findFolder (candidate, id);
    if (name.empty() || folder == nullptr)
        return false;
    folder->name = name;
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::renamePlaylist (const std::string& id, const std::string& name)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    auto* playlist = findPlaylistById (candidate, id);
    if (name.empty() || playlist == nullptr)
        return false;
    playlist->name = name;
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::removeTreeFolder (const std::string& folderId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    const auto found = std::find_if (candidate.folders.begin(), candidate.folders.end(),
                                     [&] (const Folder& f) { return f.id == folderId; });
    if (found == candidate.folders.end())
        return false;
    // Its children move one level up; nothing else is deleted.
    const auto parent = found->parentId;
    candidate.folders.erase (found);
    for (auto& folder : candidate.folders)
        if (folder.parentId == folderId)
            folder.parentId = parent;
    for (auto& playlist : candidate.playlists)
        if (playlist.folderId == folderId)
            playlist.folderId = parent;
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::relinkRow (const std::string& rowId, const juce::File& file)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto candidate = history.current();
    auto* row = findRowById (candidate, rowId);
    if (row == nullptr || ! file.existsAsFile())
        return false;
    const auto signature = readFileSignature (file);
    row->source = file.getFullPathName().toStdString();
    row->bytes = (std::uint64_t) signature.size;
    row->modified = signature.modified.toMilliseconds();
    row->duration = 0.0;
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::openPlaylist (const std::string& id)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (isLocked (LockScope::playlistEditing) || store.recoveryRequired.load() || playback.trackSounding())
    {
        setStatus (translate ("再生中・一時停止中はプレイリストを切り替えられません"));
        return false;
    }
    if (! history.setCurrentPlaylist (id))
        return false;

    playback.startPlaylist();

    // Every row is registered already; the newly open playlist's unmeasured rows are measured now.
    for (const auto& row : currentPlaylist (history.current())->rows)
        if (row.duration == 0.0)
            audio.requestPrepare (row.id, false);
    updateReady();
    preloadMedia();
    persist();
    setStatus (translate ("プレイリストを開きました"));
    return true;
}
} // namespace vantrel
