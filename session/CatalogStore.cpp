#include "session/CatalogStore.h"

#include "platform/DurableFile.h"
#include "platform/RandomName.h"
#include "platform/ThreadContract.h"
#include "session/AtomicFileWriter.h"
#include "session/CatalogValidation.h"
#include "session/DamagedBundle.h"
#include "session/SessionDocuments.h"
#include "session/SessionJsonText.h"
#include "session/SplitFiles.h"

namespace vantrel
{
namespace
{
/** Whether a "playlists" folder holds saved data: anything but playlist folders that a CD import
    moved in, whose playlists only their recovery records hold until a catalog is saved (the
    importer offers them again, so a first start ended by an import does not look like damage). */
bool holdsSavedPlaylists (const juce::File& playlists)
{
    if (! playlists.isDirectory())
        return false;
    int imports = 0;
    for (const auto& entry : juce::RangedDirectoryIterator (playlists, false, "*", juce::File::findFilesAndDirectories))
    {
        const auto& file = entry.getFile();
        if (! file.isDirectory() || ! file.getChildFile ("pending-import.json").existsAsFile())
            return true;
        ++imports;
    }
    return imports == 0;
}

juce::String utf8 (const char* text)  { return juce::String::fromUTF8 (text); }

StoreResult failure (const char* utf8Message)  { return StoreResult::failure (utf8 (utf8Message)); }

std::string pathOf (const juce::File& file)  { return file.getFullPathName().toStdString(); }

/** `prefix`, 32 lower-case hexadecimal digits and `suffix`: the names drawn with a fresh UUID. */
bool isUuidName (const juce::String& name, const char* prefix, const char* suffix)
{
    const juce::String head (prefix), tail (suffix);

    return name.length() == head.length() + 32 + tail.length() && name.startsWith (head) && name.endsWith (tail)
        && name.substring (head.length(), head.length() + 32).containsOnly ("0123456789abcdef");
}

/** A target of the atomic writer that is one of `names`, or the ".bak" of one of `backedUp`
    (which the writer renews through a temporary file of its own). */
bool isOneOf (const juce::String& target, std::initializer_list<const char*> backedUp, std::initializer_list<const char*> names = {})
{
    for (const auto* name : backedUp)
        if (target == name || target == juce::String (name) + ".bak")
            return true;

    for (const auto* name : names)
        if (target == name)
            return true;

    return false;
}

/** The temporary files that saves stopped mid-write left in the folders where the session's files
    are written: the root, every playlist folder, "pad" and "recovery". Only the names that the
    atomic writer gives its temporary siblings of those files are touched. */
void removeStaleSaveFiles (const juce::File& root)
{
    removeStaleTemporaryFiles (root, [] (const juce::String& target)
    {
        return isOneOf (target, { "catalog.json", "app-state.json", "library-names.json" });
    });

    removeStaleTemporaryFiles (root.getChildFile ("pad"), [] (const juce::String& target)
    {
        return isOneOf (target, { "pads.json" });
    });

    removeStaleTemporaryFiles (root.getChildFile ("recovery"), [] (const juce::String& target)
    {
        return isOneOf (target, { "last-good.json" }, { "pending.json" }) || isUuidName (target, "damaged-", ".json");
    });

    for (const auto& folder : root.getChildFile ("playlists").findChildFiles (juce::File::findDirectories, false, "*"))
    {
        if (! isValidId (folder.getFileName().toStdString()))
            continue;

        removeStaleTemporaryFiles (folder, [] (const juce::String& target)
        {
            return isOneOf (target, { "playlist.json" }, { "pending-import.json" }) || isUuidName (target, "pending-copy-", ".json");
        });
    }
}

/** Reads a JSON file and checks it as a whole-state document. */
StoreResult readWholeStateFile (const juce::File& file, juce::var& document, CatalogState& state)
{
    const auto read = readJsonFile (file, document, wholeStateFileSizeLimit());

    if (! read.ok)
        return read;

    return readCatalogJson (document, state);
}

/** A free name in `folder` for an entry that goes aside: `name`, ".damaged-" and 32 hex digits. */
juce::File asideName (const juce::File& folder, const juce::String& name)
{
    auto aside = folder.getChildFile (name + ".damaged-" + juce::String (platform::randomHex32()));

    while (aside.exists() || aside.isSymbolicLink())
        aside = folder.getChildFile (name + ".damaged-" + juce::String (platform::randomHex32()));

    return aside;
}

/** Two messages in one, "first / second"; either may be empty. */
juce::String joined (const juce::String& first, const juce::String& second)
{
    if (first.isEmpty())
        return second;
    return second.isEmpty() ? first : first + " / " + second;
}
} // namespace

int64_t wholeStateFileSizeLimit()
{
    constexpr int64_t playlistFiles = 16;
    const auto limit = jsonFileSizeLimit();
    return limit > noFileSizeLimit / playlistFiles ? noFileSizeLimit : limit * playlistFiles;
}

CatalogStore::CatalogStore (const juce::File& dataRoot)
    : root (dataRoot)
{
}

juce::File CatalogStore::journalFile() const   { return root.getChildFile ("recovery").getChildFile ("pending.json"); }
juce::File CatalogStore::lastGoodFile() const  { return root.getChildFile ("recovery").getChildFile ("last-good.json"); }

StoreResult CatalogStore::writeSplitFiles (const CatalogState& state)
{
    return vantrel::writeSplitFiles (root, state);
}

StoreResult CatalogStore::setAsideRecoveryObstructions()
{
    const auto recovery = root.getChildFile ("recovery");
    juce::StringArray moved;

    for (const auto* name : { "pending.json", "last-good.json", "last-good.json.bak" })
    {
        // A file or a link is replaced by the writer's rename; a folder never is.
        const auto entry = recovery.getChildFile (name);

        if (! entry.isDirectory() || entry.isSymbolicLink())
            continue;

        const auto aside = asideName (recovery, name);

        if (platform::renameDurably (pathOf (entry), pathOf (aside)).failed())
            return StoreResult::failure (utf8 ("復旧フォルダの壊れた項目を移動できません: ") + "recovery/" + name);

        moved.add ("recovery/" + juce::String (name) + " -> recovery/" + aside.getFileName());
    }

    if (moved.isEmpty())
        return StoreResult::success();

    return StoreResult::success (utf8 ("復旧フォルダの壊れた項目を移動しました: ") + moved.joinIntoString (", "));
}

juce::String CatalogStore::takeNotice()
{
    const std::lock_guard<std::mutex> lock (noticeMutex);
    return std::exchange (notice, juce::String());
}

StoreResult CatalogStore::save (const CatalogState& state)
{
    VANTREL_ASSERT_NOT_AUDIO_THREAD;
    if (recoveryRequired.load())
        return failure ("復旧待ちのため自動保存を保留しています");

    // A state that could not be read back is never saved.
    if (const auto check = checkCatalogState (state); ! check.ok)
        return check;

    if (stopForNewerState.load())
        return stopped();

    // The journal first: from here on an interrupted save is finished at the next start-up.
    std::vector<std::string> playlistTexts;
    playlistTexts.reserve (state.document.playlists.size());
    for (const auto& playlist : state.document.playlists)
    {
        playlistTexts.push_back (playlistJsonText (playlist));

        // A playlist file that no start could read is refused before anything is written: its
        // journal would fail every start's completion.
        if (static_cast<int64_t> (playlistTexts.back().size()) > jsonFileSizeLimit())
            return failure ("保存データが大きすぎるため保存できません: playlist.json");
    }

    const auto text = wholeStateJsonText (state, playlistTexts);

    // A folder where the journal or the snapshot goes would fail every save: it goes aside, kept.
    if (const auto aside = setAsideRecoveryObstructions(); ! aside.ok)
        return aside;
    else if (aside.message.isNotEmpty())
    {
        const std::lock_guard<std::mutex> lock (noticeMutex);
        notice = aside.message;
    }

    // A newer state waiting at a quit stops even the journal's write: it would be replaced at once.
    const auto newerStateWaits = [this] { return stopForNewerState.load(); };

    if (const auto journal = writeBytesAtomicallyUnlessGivenUp (journalFile(), text, false, wholeStateFileSizeLimit(), newerStateWaits);
        ! journal.ok)
        return newerStateWaits() ? stopped() : journal;

    saveStepDone (SaveStep::journalWritten, state);

    if (stopForNewerState.load())
        return stopped();

    if (const auto split = vantrel::writeSplitFiles (root, state, playlistTexts); ! split.ok)
        return StoreResult::failure (split.message + utf8 ("（中断journalを保持しました）"));

    saveStepDone (SaveStep::splitFilesWritten, state);

    if (stopForNewerState.load())
        return stopped();

    // The journal holds the snapshot's bytes, forced to the disk and read back: it becomes the
    // snapshot, the old one its backup. Only a snapshot that holds them already leaves it behind.
    if (const auto snapshot = moveWrittenFileAtomically (journalFile(), lastGoodFile(), text); ! snapshot.ok)
        return snapshot;

    saveStepDone (SaveStep::snapshotWritten, state);

    if (journalFile().exists() && platform::removeDurably (pathOf (journalFile())).failed())
        return failure ("復旧journalを確定できませんでした");

    saveStepDone (SaveStep::journalRemoved, state);
    return StoreResult::success (utf8 ("自動保存済み"));
}

void CatalogStore::saveStepDone (SaveStep, const CatalogState&)
{
}

StoreResult CatalogStore::stopped()
{
    // Nothing of this state, or its journal, or its split files are on disk: the newer state's
    // save replaces them all.
    stoppedForNewerState = true;
    return failure ("新しい状態の保存を優先します");
}

StoreResult CatalogStore::readSavedFiles (CatalogState& state)
{
    const auto journal = journalFile();
    juce::String snapshotProblem;

    if (journal.existsAsFile())
    {
        juce::var document;
        CatalogState journalState;

        if (const auto read = readWholeStateFile (journal, document, journalState); ! read.ok)
            return read;

        if (const auto split = writeSplitFiles (journalState); ! split.ok)
            return split;

        // The split files hold the journal's state now. A snapshot that cannot be written costs
        // only the snapshot: the journal stays, so the next start completes it again.
        const auto aside = setAsideRecoveryObstructions();
        const auto snapshot = aside.ok ? writeFileAtomically (lastGoodFile(), sessionJsonText (document), true, wholeStateFileSizeLimit())
                                       : aside;

        if (! snapshot.ok)
            snapshotProblem = utf8 ("復旧用スナップショットを書けません（中断journalを保持しました）: ") + snapshot.message;
        else if (platform::removeDurably (pathOf (journal)).failed())
            return failure ("中断保存の復旧を確定できません");
    }

    // Anything at the catalog's name is read (and a folder there fails), so that a damaged root
    // is never taken for an empty one.
    if (root.getChildFile ("catalog.json").exists())
    {
        const auto read = readSplitFiles (root, state);
        return read.ok ? StoreResult::success (snapshotProblem) : read;
    }

    if (holdsSavedPlaylists (root.getChildFile ("playlists")) || root.getChildFile ("pad").getChildFile ("pads.json").existsAsFile())
        return failure ("catalogがありません。既存保存データを保護します");

    state = CatalogState();
    return StoreResult::success();
}

StoreResult CatalogStore::load (CatalogState& state)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    removeStaleSaveFiles (root);

    // What stands in the way of the journal or the snapshot goes aside before anything is read,
    // and the start names it.
    const auto aside = setAsideRecoveryObstructions();
    const auto first = readSavedFiles (state);

    if (first.ok)
        return StoreResult::success (joined (aside.message, first.message));

    recoveryRequired.store (true);

    juce::var document;
    CatalogState snapshot;

    if (! readWholeStateFile (lastGoodFile(), document, snapshot).ok)
    {
        // Only the snapshot is shown; whether an older document can still be recovered is noted.
        juce::File from;
        recoverySource = readRecoverySource (document, snapshot, from).ok;
        return StoreResult::failure (joined (first.message, aside.message));
    }

    recoverySource = true;
    state = std::move (snapshot);
    return StoreResult::failure (joined (first.message + utf8 ("。直前のバックアップを読み取りました。復旧確認が必要です。"), aside.message));
}

StoreResult CatalogStore::readRecoverySource (juce::var& document, CatalogState& state, juce::File& from) const
{
    from = juce::File();
    const auto snapshot = readWholeStateFile (lastGoodFile(), document, state);

    if (snapshot.ok)
    {
        from = lastGoodFile();
        return snapshot;
    }

    // A journal left behind is newer than any snapshot: it becomes the snapshot when its save
    // completes, and the snapshot before it becomes the backup.
    for (const auto& file : { journalFile(), lastGoodFile().getSiblingFile ("last-good.json.bak") })
    {
        if (file.existsAsFile() && readWholeStateFile (file, document, state).ok)
        {
            from = file;
            return StoreResult::success();
        }
    }

    return snapshot;
}

StoreResult CatalogStore::recoverFromBackup()
{
    CatalogState recovered;
    return recoverFromBackup (recovered);
}

StoreResult CatalogStore::recoverFromBackup (CatalogState& recovered)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    juce::var document;
    CatalogState snapshot;
    juce::File from;

    const auto read = readRecoverySource (document, snapshot, from);
    recoverySource = read.ok;

    if (! read.ok)
        return read;

    // The files as they stand go into the bundle; whatever is in the way of the split files is
    // moved into it too. A retry after a failed recovery extends the same bundle.
    if (const auto kept = keepDamagedFiles (root, findSplitFileObstructions (root, snapshot), recoveryBundle); ! kept.ok)
        return kept;

    if (const auto split = writeSplitFiles (snapshot); ! split.ok)
        return split;

    // A snapshot that could not be read goes aside, kept: the next save then writes a new one and
    // leaves the backup as it is.
    juce::String message = utf8 ("バックアップから復旧しました");

    if (from != lastGoodFile())
    {
        message += ": recovery/" + from.getFileName();
        const auto snapshotFile = lastGoodFile();

        if (snapshotFile.exists() || snapshotFile.isSymbolicLink())
        {
            const auto aside = asideName (snapshotFile.getParentDirectory(), snapshotFile.getFileName());

            if (platform::renameDurably (pathOf (snapshotFile), pathOf (aside)).failed())
                return StoreResult::failure (utf8 ("復旧フォルダの壊れた項目を移動できません: ") + "recovery/" + snapshotFile.getFileName());

            message = joined (message, utf8 ("復旧フォルダの壊れた項目を移動しました: ") + "recovery/" + snapshotFile.getFileName()
                                           + " -> recovery/" + aside.getFileName());
        }
    }

    // The journal may hold a newer state than the snapshot (a save whose completion failed):
    // it is kept under a unique name instead of being deleted.
    const auto journal = journalFile();

    if (journal.exists())
    {
        auto kept = journal.getSiblingFile ("pending-" + juce::String (platform::randomHex32()) + ".json");

        while (kept.exists())
            kept = journal.getSiblingFile ("pending-" + juce::String (platform::randomHex32()) + ".json");

        if (platform::renameDurably (pathOf (journal), pathOf (kept)).failed())
            return failure ("中断journalを除去できません");
    }

    recoveryRequired.store (false);
    recoverySource = false;
    recoveryBundle = juce::File();
    recovered = std::move (snapshot);
    return StoreResult::success (message);
}

juce::File waveformCacheFolder (const juce::File& root, const std::string& playlistId)
{
    if (! isValidId (playlistId))
        return {};

    return root.getChildFile ("playlists").getChildFile (juce::String (playlistId)).getChildFile ("waveforms");
}
} // namespace vantrel
