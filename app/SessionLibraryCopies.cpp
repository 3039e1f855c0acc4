// Adding audio files to playlists, by reference or as copies into the library, taking finished
// copies into the catalog, and moving unused library files to the Trash.
#include "app/SessionCoordinator.h"

#include "platform/ThreadContract.h"
#include "platform/Trash.h"
#include "session/FileSignature.h"
#include "session/CatalogValidation.h"
#include "session/LibraryPaths.h"
#include "session/UiText.h"

#include <algorithm>

namespace vantrel
{
namespace
{
juce::File fileOf (const std::string& path)
{
    const auto text = juce::String::fromUTF8 (path.c_str());
    return isAbsolutePathText (text) ? juce::File (text) : juce::File();
}

/** A new row that refers to `file` where it lies. */
Row rowReferring (const juce::File& file, const juce::String& title)
{
    Row row;
    row.id = newCatalogId();
    row.title = title.toStdString();
    row.source = file.getFullPathName().toStdString();
    const auto signature = readFileSignature (file);
    row.bytes = (std::uint64_t) std::max<std::int64_t> (signature.size, 0);
    row.modified = signature.modified.toMilliseconds();
    return row;
}

/** A managed file that nothing uses and no import or copy waits for. */
bool isRemovable (const LibraryItem& item)
{
    return item.kind != LibraryFileKind::External && item.exists && item.rowUses == 0 && item.padUses == 0
        && ! item.pending;
}
} // namespace

// ---- adding ----------------------------------------------------------------------------------------

bool SessionCoordinator::addFiles (const juce::StringArray& files, bool copy)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (copy)
        return copyFiles (files, history.current().current);

    auto candidate = history.current();
    auto* playlist = currentPlaylist (candidate);
    if (playlist == nullptr)
    {
        setStatus (translate ("プレイリストを作成または選択してください"));
        return false;
    }

    for (const auto& path : files)
    {
        if (! isAbsolutePathText (path))
            continue;
        const juce::File file (path);
        if (file.existsAsFile())
            playlist->rows.push_back (rowReferring (file, file.getFileName()));
    }
    return commitEdit (std::move (candidate));
}

bool SessionCoordinator::addLibraryFiles (const juce::StringArray& files, const std::string& playlistId, bool copy)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (copy)
        return copyFiles (files, playlistId);

    auto candidate = history.current();
    auto* playlist = findPlaylistById (candidate, playlistId);
    if (playlist == nullptr || files.isEmpty())
        return false;

    for (const auto& path : files)
    {
        if (! isAbsolutePathText (path))
            return false;
        const juce::File file (path);
        const auto item = library.findFileUses (file, history.current().playlists, state.pads);
        if (! item.exists || item.pending)
        {
            setStatus (translate ("音源が不在、または取込の保存確定待ちです"));
            return false;
        }
        playlist->rows.push_back (rowReferring (file, item.displayName));
    }

    const bool accepted = commitEdit (std::move (candidate));
    if (accepted)
        refreshLibrary();
    return accepted;
}

bool SessionCoordinator::copyFiles (const juce::StringArray& files, const std::string& playlistId)
{
    if (isLocked (LockScope::playlistEditing) || store.recoveryRequired.load() || quit.isQuitting() || ! isValidId (playlistId))
        return false;
    auto document = history.current();
    if (findPlaylistById (document, playlistId) == nullptr)
        return false;

    juce::StringArray names;
    for (const auto& path : files)
    {
        if (! isAbsolutePathText (path))
            return false;
        const auto item = library.findFileUses (juce::File (path), document.playlists, state.pads);
        if (! item.exists || item.pending)
            return false;
        names.add (item.displayName);
    }

    if (! files.isEmpty())
        libraryCopies.start (playlistId, files, names);
    setStatus (translate ("ライブラリへコピー中です。元の音源は保持します。"));
    return true;
}

// ---- taking finished copies in -----------------------------------------------------------------------

void SessionCoordinator::finishLibraryCopies()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const bool finished = libraryCopies.finish ([this] (const CopyResult& copy) { return mergeLibraryCopy (copy); },
                                                [this] (const juce::String& message) { setAlert (message); });
    if (finished)
        refreshLibrary();
}

bool SessionCoordinator::mergeLibraryCopy (const CopyResult& copy)
{
    // A save that would not happen could never let the journal go.
    if (store.recoveryRequired.load())
        return false;
    if ((mix.isDragging() || isLocked (LockScope::playlistEditing)) && ! quit.isQuitting())
        return false;

    auto candidate = history.current();
    for (const auto& row : copy.playlist.rows)
    {
        const auto file = fileOf (row.source);
        if (file != juce::File())
            library.rename (file, juce::String::fromUTF8 (row.title.c_str()));
    }

    // Rows already in the catalog came from an earlier run of the same journal.
    if (auto* target = findPlaylistById (candidate, copy.playlist.id))
        for (const auto& row : copy.playlist.rows)
            if (findRowById (candidate, row.id) == nullptr)
                target->rows.push_back (row);

    if (candidate == history.current())
    {
        persist();
    }
    else if (quit.isQuitting())
    {
        history.changeLiveValues ([&candidate] (CatalogDocument& document) { document = std::move (candidate); });
        persist();
    }
    else if (! commitEdit (std::move (candidate)))
    {
        return false;
    }
    return true;
}

void SessionCoordinator::refreshLibrary()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    library.refresh (history.current(), state.pads);
}

// ---- removing ----------------------------------------------------------------------------------------

bool SessionCoordinator::removeLibraryFile (const juce::String& path)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (! isAbsolutePathText (path))
        return false;

    const juce::File file (path);
    const auto key = libraryPathKey (file);
    // A copy waiting for its merge may refer to a managed file where it lies (a copy of a file
    // that is already in the library): its rows use the file as much as the catalog's do.
    const auto item = library.findFileUses (file, history.current().playlists, state.pads);
    if (! isRemovable (item) || libraryCopies.isFileNamedByWaitingCopy (key))
    {
        setStatus (translate ("使用中の音源、外部の元ファイル、取込の保存確定待ちの音源は削除できません"));
        return false;
    }

    if ((isLocked (LockScope::playlistEditing) && item.kind != LibraryFileKind::PadCopy) || store.recoveryRequired.load()
        || cdImportState (*this).busy || pool.getNumJobs() > 0)
    {
        setStatus (translate ("保存・取込・コピー完了後、必要ならLIVE LOCKを解除して整理してください"));
        return false;
    }

    // The catalog that stopped using the file must be on disk before the file goes.
    if (! saves.waitIdle())
    {
        setAlert (translate ("保存完了を確認できないため音源を保持しました"));
        return false;
    }

    std::string error;
    const auto again = library.findFileUses (file, history.current().playlists, state.pads);
    const auto trash = options.trashFolder.getFullPathName().toStdString();
    const auto pathText = file.getFullPathName().toStdString();
    if (! isRemovable (again) || libraryCopies.isFileNamedByWaitingCopy (key)
        || ! (trash.empty() ? platform::moveToTrash (pathText, error) : platform::moveToTrashAt (pathText, trash, error)))
    {
        setAlert (translate ("音源をごみ箱へ移動できませんでした。ファイルを保持しています"));
        return false;
    }

    // No undo may bring back a row that would point at the removed file.
    history.removeEntriesIf ([&key] (const Row& row) { return LibraryCopies::isRowOfFile (row, key); });
    persist();
    refreshLibrary();
    setStatus (translate ("未使用のVantrel音源をごみ箱へ移動しました"));
    return true;
}
bool SessionCoordinator::renameLibraryFile (const juce::File& file, const juce::String& displayName)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! library.rename (file, displayName))
    {
        setAlert (library.lastRenameError());
        return false;
    }
    setStatus (translate ("表示名を変更しました"));
    return true;
}

} // namespace vantrel
