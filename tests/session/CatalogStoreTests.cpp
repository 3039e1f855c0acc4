#include "session/CatalogStore.h"

#include "platform/DurableFile.h"
#include "platform/FileFaults.h"
#include "support/ForkedCall.h"
#include "session/AtomicFileWriter.h"
#include "session/SessionDocuments.h"
#include "session/SessionJsonText.h"
#include "StateGenerator.h"
#include "StoreFixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

using namespace vantrel;
using namespace vantrel::testing;
using platform::FileFault;
using platform::FileFaults;
using platform::FileOp;

namespace
{
const char* const backupOffered = "。直前のバックアップを読み取りました。復旧確認が必要です。";

FileFault failing (FileOp op, const std::string& pathEndsWith, int error = EIO, int nth = 1)
{
    return FileFault { nth, error, op, {}, pathEndsWith };
}

/** A data root with a first state A saved completely. */
struct SavedRoot
{
    TempFolder folder;
    CatalogState stateA = generateState (101);
    CatalogState stateB = generateState (202);

    SavedRoot()
    {
        CatalogStore store (folder.path());
        CatalogState loaded;
        EXPECT_TRUE (store.load (loaded).ok);
        EXPECT_EQ (store.save (stateA), StoreResult::success (ja ("自動保存済み")));
    }

    juce::File operator/ (const char* relative) const  { return folder / relative; }

    /** What a fresh store (the next start-up) loads. */
    std::pair<StoreResult, CatalogState> loadFresh (bool* recoveryRequired = nullptr) const
    {
        CatalogStore store (folder.path());
        CatalogState state;
        auto result = store.load (state);

        if (recoveryRequired != nullptr)
            *recoveryRequired = store.recoveryRequired.load();

        return { result, state };
    }

    juce::String wholeText (const CatalogState& state) const  { return sessionJsonText (catalogToJson (state)); }
};

bool startsWith (const juce::String& text, const juce::String& prefix)  { return text.startsWith (prefix); }
} // namespace

TEST (CatalogStore, EmptyRootLoadsAFreshStateAndTheFirstSaveWritesJournalSplitFilesAndSnapshot)
{
    TempFolder folder;
    CatalogStore store (folder.path());
    auto state = generateState (7);

    EXPECT_EQ (store.load (state), StoreResult::success());
    EXPECT_EQ (state, CatalogState());
    EXPECT_TRUE (snapshotFiles (folder.path()).empty());

    const auto saved = generateState (8);
    platform::ScopedFileFaults seam;
    FileFaults::startRecording();
    EXPECT_EQ (store.save (saved), StoreResult::success (ja ("自動保存済み")));
    const auto ops = FileFaults::recorded();

    std::vector<juce::String> committed;
    for (const auto& op : ops)
        if (op.op == FileOp::renameFile || op.op == FileOp::removeFile)
            committed.push_back (juce::File (op.path).getRelativePathFrom (folder.path()) + (op.op == FileOp::removeFile ? " removed" : ""));

    const std::vector<juce::String> expected {
        "recovery/pending.json",
        "playlists/playlist-0/playlist.json", "playlists/playlist-1/playlist.json", "playlists/playlist-2/playlist.json",
        "catalog.json", "pad/pads.json", "app-state.json",
        "recovery/last-good.json" };   // the journal itself, moved
    EXPECT_EQ (committed, expected);
    EXPECT_FALSE ((folder / "recovery/pending.json").exists());
    EXPECT_EQ (juce::String::fromUTF8 (readBytes (folder / "recovery/last-good.json").c_str()), sessionJsonText (catalogToJson (saved)));

    // A second instance reads back the same records.
    CatalogStore other (folder.path());
    CatalogState loaded;
    EXPECT_EQ (other.load (loaded), StoreResult::success());
    EXPECT_EQ (loaded, saved);
    EXPECT_TRUE (temporaryFiles (folder.path()).empty());
}

TEST (CatalogStore, AOneRowEditRewritesOnlyTheFilesWhoseTextChanged)
{
    SavedRoot root;
    auto edited = root.stateA;
    edited.document.playlists[1].rows[0].title = "retitled";

    CatalogStore store (root.folder.path());
    CatalogState loaded;
    ASSERT_TRUE (store.load (loaded).ok);

    platform::ScopedFileFaults seam;
    FileFaults::startRecording();
    ASSERT_TRUE (store.save (edited).ok);

    std::vector<juce::String> renamed;
    for (const auto& op : FileFaults::recorded())
        if (op.op == FileOp::renameFile)
            renamed.push_back (juce::File (op.path).getRelativePathFrom (root.folder.path()));

    const std::vector<juce::String> expected {
        "recovery/pending.json",
        "playlists/playlist-1/playlist.json.bak", "playlists/playlist-1/playlist.json",
        "recovery/last-good.json.bak", "recovery/last-good.json" };
    EXPECT_EQ (renamed, expected);
}

TEST (CatalogStore, AJournalLeftBehindIsCompletedAtTheNextLoad)
{
    SavedRoot root;
    writeBytes (root / "recovery/pending.json", root.wholeText (root.stateB).toStdString());

    bool recoveryRequired = true;
    const auto [result, state] = root.loadFresh (&recoveryRequired);

    EXPECT_EQ (result, StoreResult::success());
    EXPECT_EQ (state, root.stateB);
    EXPECT_FALSE (recoveryRequired);
    EXPECT_FALSE ((root / "recovery/pending.json").exists());
    EXPECT_EQ (readBytes (root / "recovery/last-good.json"), root.wholeText (root.stateB).toStdString());
    EXPECT_EQ (readBytes (root / "recovery/last-good.json.bak"), root.wholeText (root.stateA).toStdString());
}

TEST (CatalogStore, DamagedSplitFilesOfferTheSnapshotAndRecoveryRestoresIt)
{
    struct Damage
    {
        const char* file;
        std::string bytes;
        const char* messageStart;
    };

    const std::vector<Damage> damages {
        { "catalog.json", "not json", "JSON破損: catalog.json / 1:1: error: Expected '{' or '['" },
        { "catalog.json", "", "catalogの形式が不正です" },
        { "playlists/playlist-1/playlist.json", "{\"id\": \"playlist-1\", \"name\": \"\xe6\x9c\xac\xff\"}", "JSON破損: playlist.json / invalid UTF-8 at byte 33" },
        { "playlists/playlist-1/playlist.json", std::string ("{\"id\": \"playlist-1\"}\0", 21), "JSON破損: playlist.json / NUL at byte 20" },
        { "pad/pads.json", "{\"version\": 3, \"slots\": [", "JSON破損: pads.json / " },
        { "pad/pads.json", "{\"version\": 3, \"slots\": []}", "PAD保存データ不正" },
        { "app-state.json", "{\"version\": 18446744073709551622}", "JSON破損: app-state.json / number out of range at byte 12" },
    };

    for (const auto& damage : damages)
    {
        SCOPED_TRACE (damage.file + std::string (" <- ") + damage.bytes);
        SavedRoot root;
        writeBytes (root / damage.file, damage.bytes);
        const auto damagedFiles = snapshotFiles (root.folder.path());

        CatalogStore store (root.folder.path());
        auto state = generateState (999);
        const auto result = store.load (state);

        EXPECT_FALSE (result.ok);
        EXPECT_TRUE (startsWith (result.message, ja (damage.messageStart))) << result.message;
        EXPECT_TRUE (result.message.endsWith (ja (backupOffered))) << result.message;
        EXPECT_EQ (state, root.stateA);
        EXPECT_TRUE (store.recoveryRequired.load());

        // Saves stay refused and write nothing until the recovery.
        EXPECT_EQ (store.save (root.stateB), StoreResult::failure (ja ("復旧待ちのため自動保存を保留しています")));
        EXPECT_EQ (snapshotFiles (root.folder.path()), damagedFiles);

        EXPECT_EQ (store.recoverFromBackup(), StoreResult::success (ja ("バックアップから復旧しました")));
        EXPECT_FALSE (store.recoveryRequired.load());

        const auto bundles = (root / "recovery").findChildFiles (juce::File::findFiles, false, "damaged-*.json");
        ASSERT_EQ (bundles.size(), 1);
        juce::var bundle;
        ASSERT_TRUE (readJsonFile (bundles[0], bundle).ok);
        const auto kept = bundle[juce::Identifier (damage.file)];
        const std::string keptBytes = kept.isString() ? kept.toString().toStdString()
                                                      : [&]
                                                      {
                                                          EXPECT_EQ (kept["encoding"], juce::var ("base64"));
                                                          juce::MemoryOutputStream out;
                                                          juce::Base64::convertFromBase64 (out, kept["data"].toString());
                                                          return std::string (static_cast<const char*> (out.getData()), out.getDataSize());
                                                      }();
        EXPECT_EQ (keptBytes, damage.bytes);

        EXPECT_EQ (root.loadFresh().second, root.stateA);
        EXPECT_TRUE (store.save (root.stateB).ok);
        EXPECT_EQ (root.loadFresh().second, root.stateB);
    }
}

TEST (CatalogStore, MissingCatalogWithOtherDataIsNeverTakenForAnEmptySession)
{
    const auto protect = ja ("catalogがありません。既存保存データを保護します");

    {
        SavedRoot root;
        (root / "catalog.json").deleteFile();
        auto state = generateState (5);
        CatalogStore store (root.folder.path());
        EXPECT_EQ (store.load (state), StoreResult::failure (protect + ja (backupOffered)));
        EXPECT_EQ (state, root.stateA);
        EXPECT_TRUE (store.recoveryRequired.load());
    }
    {
        TempFolder folder;
        writeBytes (folder / "pad/pads.json", "{}");
        const auto given = generateState (5);
        auto state = given;
        CatalogStore store (folder.path());
        EXPECT_EQ (store.load (state), StoreResult::failure (protect));
        EXPECT_EQ (state, given);
        EXPECT_TRUE (store.recoveryRequired.load());
        EXPECT_EQ (store.save (given), StoreResult::failure (ja ("復旧待ちのため自動保存を保留しています")));
        EXPECT_EQ (store.recoverFromBackup(), StoreResult::failure (ja ("保存データを読めません: last-good.json")));
        EXPECT_EQ (readBytes (folder / "pad/pads.json"), "{}");
    }
    {
        TempFolder folder;
        (folder / "playlists").createDirectory();
        CatalogState state;
        EXPECT_EQ (CatalogStore (folder.path()).load (state), StoreResult::failure (protect));
    }
}

TEST (CatalogStore, ATruncatedJournalFailsTheLoadAndIsKeptForTheNextStart)
{
    SavedRoot root;
    const auto journal = root.wholeText (root.stateB).toStdString();
    const auto truncated = journal.substr (0, journal.size() / 2);
    writeBytes (root / "recovery/pending.json", truncated);
    const auto before = snapshotFiles (root.folder.path());

    bool recoveryRequired = false;
    const auto [result, state] = root.loadFresh (&recoveryRequired);

    EXPECT_TRUE (startsWith (result.message, ja ("JSON破損: pending.json / "))) << result.message;
    EXPECT_TRUE (result.message.endsWith (ja (backupOffered)));
    EXPECT_EQ (state, root.stateA);
    EXPECT_TRUE (recoveryRequired);
    EXPECT_EQ (snapshotFiles (root.folder.path()), before);
}

TEST (CatalogStore, BothSplitFilesAndSnapshotDamagedLeavesTheStateAndRefusesEverything)
{
    SavedRoot root;
    writeBytes (root / "catalog.json", "{");
    writeBytes (root / "recovery/last-good.json", "[");
    const auto given = generateState (77);
    auto state = given;

    CatalogStore store (root.folder.path());
    const auto result = store.load (state);
    EXPECT_TRUE (startsWith (result.message, ja ("JSON破損: catalog.json / ")));
    EXPECT_FALSE (result.message.endsWith (ja (backupOffered)));
    EXPECT_EQ (state, given);
    EXPECT_EQ (store.save (given), StoreResult::failure (ja ("復旧待ちのため自動保存を保留しています")));
    EXPECT_TRUE (startsWith (store.recoverFromBackup().message, ja ("JSON破損: last-good.json / ")));
    EXPECT_TRUE (store.recoveryRequired.load());
    EXPECT_EQ (readBytes (root / "catalog.json"), "{");
}

TEST (CatalogStore, AStateTheReaderRefusesIsNeverSaved)
{
    SavedRoot root;
    auto invalid = root.stateB;
    invalid.document.playlists[1].rows[0].id = invalid.document.playlists[0].rows[0].id;   // duplicate id
    const auto before = snapshotFiles (root.folder.path());

    CatalogStore store (root.folder.path());
    EXPECT_EQ (store.save (invalid), StoreResult::failure (ja ("登録ID・選択・Gainの整合性エラー")));
    EXPECT_EQ (snapshotFiles (root.folder.path()), before);
    EXPECT_EQ (root.loadFresh().second, root.stateA);
}

TEST (CatalogStore, AShowWhoseFilesTheReaderAcceptsIsSavedHoweverLargeItsJournalAndAnOversizedPlaylistIsRefusedUpFront)
{
    SavedRoot root;
    auto big = generateState (303, 3, 200);
    size_t largestPlaylist = 0;
    for (const auto& playlist : big.document.playlists)
        largestPlaylist = std::max (largestPlaylist, playlistJsonText (playlist).size());
    // The journal and the snapshot hold every playlist file, indented further: larger than any.
    ASSERT_GT (root.wholeText (big).getNumBytesAsUTF8(), static_cast<int> (largestPlaylist) * 2);

    {
        const ScopedJsonFileSizeLimit limit (static_cast<int64_t> (largestPlaylist));
        CatalogStore store (root.folder.path());
        EXPECT_EQ (store.save (big), StoreResult::success (ja ("自動保存済み")));
        EXPECT_FALSE ((root / "recovery/pending.json").exists());
        EXPECT_EQ (readBytes (root / "recovery/last-good.json"), root.wholeText (big).toStdString());
        EXPECT_EQ (root.loadFresh(), std::make_pair (StoreResult::success(), big));

        // A journal that a stop left behind completes at the next start under the same limits,
        // and its snapshot is read when the split files fail.
        auto changed = big;
        changed.document.playlists[0].name = "Changed";
        ASSERT_TRUE (store.writeSplitFiles (big).ok);
        ASSERT_TRUE (writeBytes (root / "recovery/pending.json", root.wholeText (changed).toStdString()));
        EXPECT_EQ (root.loadFresh(), std::make_pair (StoreResult::success(), changed));
        ASSERT_TRUE (writeBytes (root / "catalog.json", "{"));
        bool recoveryRequired = false;
        const auto [damaged, offered] = root.loadFresh (&recoveryRequired);
        EXPECT_TRUE (recoveryRequired);
        EXPECT_TRUE (damaged.message.endsWith (ja (backupOffered))) << damaged.message;
        EXPECT_EQ (offered, changed);
        ASSERT_TRUE (store.writeSplitFiles (changed).ok);
    }

    // A playlist file larger than any start would read: refused before anything is written.
    const auto before = snapshotFiles (root.folder.path());
    auto larger = big;
    larger.document.playlists[1].memo = "a longer memo";
    const ScopedJsonFileSizeLimit limit (static_cast<int64_t> (largestPlaylist) - 1);
    EXPECT_EQ (CatalogStore (root.folder.path()).save (larger), StoreResult::failure (ja ("保存データが大きすぎるため保存できません: playlist.json")));
    EXPECT_EQ (snapshotFiles (root.folder.path()), before);
}

// A folder where the journal or the snapshot goes costs no show: it is moved aside within the
// recovery folder, whole, the start and the saves name it, and the saves go on.
TEST (CatalogStore, AFolderAtTheJournalOrTheSnapshotGoesAsideWholeAndTheShowLoadsAndSaves)
{
    for (const char* name : { "last-good.json", "last-good.json.bak", "pending.json" })
    {
        SCOPED_TRACE (name);
        const auto relative = juce::String ("recovery/") + name;
        const auto putFolder = [&] (const SavedRoot& root)
        {
            const auto folder = root.folder.path().getChildFile (relative);
            folder.deleteRecursively();
            ASSERT_TRUE (writeBytes (folder.getChildFile ("operator.txt"), "kept"));
        };
        const auto movedAside = [&] (const SavedRoot& root)
        {
            const auto aside = root.folder.path().getChildFile ("recovery").findChildFiles (juce::File::findDirectories, false,
                                                                                          juce::String (name) + ".damaged-*");
            return aside.size() == 1 && isUuidName (aside[0].getFileName(), juce::String (name) + ".damaged-", "")
                && readBytes (aside[0].getChildFile ("operator.txt")) == "kept"
                && ! root.folder.path().getChildFile (relative).isDirectory();
        };

        // The folder appears while the program runs: the next save moves it and says so.
        {
            SavedRoot root;
            CatalogStore store (root.folder.path());
            CatalogState loaded;
            ASSERT_TRUE (store.load (loaded).ok);
            putFolder (root);
            EXPECT_EQ (store.save (root.stateB), StoreResult::success (ja ("自動保存済み")));
            EXPECT_TRUE (store.takeNotice().contains (relative));
            EXPECT_TRUE (store.takeNotice().isEmpty());
            EXPECT_TRUE (movedAside (root));
            EXPECT_FALSE ((root / "recovery/pending.json").exists());
            EXPECT_EQ (readBytes (root / "recovery/last-good.json"), root.wholeText (root.stateB).toStdString());
            EXPECT_EQ (root.loadFresh(), std::make_pair (StoreResult::success(), root.stateB));
        }

        // The start after a save that the folder stopped at its last step: the split files and the
        // journal hold the newer state, which loads and plays; the start names the folder.
        if (juce::String (name) != "pending.json")
        {
            SavedRoot root;
            putFolder (root);
            ASSERT_TRUE (CatalogStore (root.folder.path()).writeSplitFiles (root.stateB).ok);
            ASSERT_TRUE (writeBytes (root / "recovery/pending.json", root.wholeText (root.stateB).toStdString()));
            bool recoveryRequired = true;
            const auto [result, state] = root.loadFresh (&recoveryRequired);
            EXPECT_TRUE (result.ok) << result.message;
            EXPECT_TRUE (result.message.contains (relative)) << result.message;
            EXPECT_FALSE (recoveryRequired);
            EXPECT_EQ (state, root.stateB);
            EXPECT_TRUE (movedAside (root));
            EXPECT_FALSE ((root / "recovery/pending.json").exists());
            EXPECT_EQ (readBytes (root / "recovery/last-good.json"), root.wholeText (root.stateB).toStdString());
        }
    }
}

// A snapshot that cannot be written at the start (a full disk) costs the snapshot only: the
// completed journal's state loads, the journal stays for the next start, which completes it.
TEST (CatalogStore, ASnapshotThatCannotBeWrittenAtTheStartKeepsTheJournalAndTheShowLoads)
{
    SavedRoot root;
    ASSERT_TRUE (CatalogStore (root.folder.path()).writeSplitFiles (root.stateB).ok);
    const auto journal = root.wholeText (root.stateB).toStdString();
    ASSERT_TRUE (writeBytes (root / "recovery/pending.json", journal));
    const auto snapshot = readBytes (root / "recovery/last-good.json");
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::renameFile, "recovery/last-good.json", ENOSPC));
        bool recoveryRequired = true;
        const auto [result, state] = root.loadFresh (&recoveryRequired);
        EXPECT_TRUE (result.ok);
        EXPECT_TRUE (startsWith (result.message, ja ("復旧用スナップショットを書けません（中断journalを保持しました）: "))) << result.message;
        EXPECT_FALSE (recoveryRequired);
        EXPECT_EQ (state, root.stateB);
        EXPECT_EQ (readBytes (root / "recovery/pending.json"), journal);
        EXPECT_EQ (readBytes (root / "recovery/last-good.json"), snapshot);
    }
    EXPECT_EQ (root.loadFresh(), std::make_pair (StoreResult::success(), root.stateB));
    EXPECT_FALSE ((root / "recovery/pending.json").exists());
    EXPECT_EQ (readBytes (root / "recovery/last-good.json"), journal);
}

TEST (CatalogStore, AnOversizedSplitFileFailsTheLoadAndRecoveryKeepsItsSize)
{
    SavedRoot root;
    const auto playlist = root / "playlists/playlist-2/playlist.json";
    const auto original = readBytes (playlist);
    {
        juce::FileOutputStream out (playlist);
        ASSERT_TRUE (out.openedOk());
        out.writeRepeatedByte (' ', static_cast<size_t> (defaultJsonFileSizeLimit + 1 - static_cast<int64_t> (original.size())));
    }
    ASSERT_EQ (playlist.getSize(), defaultJsonFileSizeLimit + 1);

    CatalogStore store (root.folder.path());
    CatalogState state;
    EXPECT_EQ (store.load (state), StoreResult::failure (ja ("保存データを読めません: playlist.json") + ja (backupOffered)));
    EXPECT_EQ (state, root.stateA);

    ASSERT_TRUE (store.recoverFromBackup().ok);
    EXPECT_EQ (readBytes (playlist), original);
    EXPECT_EQ ((root / "playlists/playlist-2/playlist.json.bak").getSize(), defaultJsonFileSizeLimit + 1);

    const auto bundles = (root / "recovery").findChildFiles (juce::File::findFiles, false, "damaged-*.json");
    ASSERT_EQ (bundles.size(), 1);
    juce::var bundle;
    ASSERT_TRUE (readJsonFile (bundles[0], bundle).ok);
    EXPECT_EQ (bundle["playlists/playlist-2/playlist.json"]["omitted"], juce::var ("too large"));
    EXPECT_EQ (static_cast<juce::int64> (bundle["playlists/playlist-2/playlist.json"]["bytes"]), defaultJsonFileSizeLimit + 1);
}

// A recovery restores the newest complete document it can read: the snapshot, else the journal,
// else the snapshot's backup. What could not be read is kept; with nothing readable no recovery
// is offered and nothing is touched.
TEST (CatalogStore, RecoveryFallsBackToTheNewestReadableDocumentAndKeepsWhatItCannotRead)
{
    const std::string damaged = "[";
    struct Case
    {
        const char* name;
        std::function<void (SavedRoot&)> damage;   // on a root saved as A, then B (A in the backup)
        const char* source;                        // the document restored; null: nothing readable
        bool recoversB;
    } cases[] = {
        { "the snapshot", [&] (SavedRoot& r) { writeBytes (r / "catalog.json", "{"); }, "", true },
        { "the backup", [&] (SavedRoot& r) { writeBytes (r / "catalog.json", "{"); writeBytes (r / "recovery/last-good.json", damaged); },
          ": recovery/last-good.json.bak", false },
        { "the journal before the backup", [&] (SavedRoot& r)
          {
              // A save of B stopped after its journal, the catalog's place taken by a folder.
              (r / "catalog.json").deleteFile();
              writeBytes ((r / "catalog.json").getChildFile ("kept.txt"), "kept");
              writeBytes (r / "recovery/pending.json", r.wholeText (r.stateB).toStdString());
              writeBytes (r / "recovery/last-good.json", damaged);
          },
          ": recovery/pending.json", true },
        { "nothing", [&] (SavedRoot& r)
          {
              writeBytes (r / "catalog.json", "{");
              writeBytes (r / "recovery/last-good.json", damaged);
              (r / "recovery/last-good.json.bak").deleteFile();
          },
          nullptr, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SavedRoot root;
        ASSERT_TRUE (CatalogStore (root.folder.path()).save (root.stateB).ok);
        const auto backup = readBytes (root / "recovery/last-good.json.bak");
        c.damage (root);
        const auto before = snapshotFiles (root.folder.path());

        CatalogStore store (root.folder.path());
        CatalogState shown;
        ASSERT_FALSE (store.load (shown).ok);
        EXPECT_EQ (store.hasRecoverySource(), c.source != nullptr);
        CatalogState recovered;
        const auto result = store.recoverFromBackup (recovered);

        if (c.source == nullptr)
        {
            EXPECT_TRUE (startsWith (result.message, ja ("JSON破損: last-good.json / "))) << result.message;
            EXPECT_FALSE (store.hasRecoverySource());
            EXPECT_TRUE (store.recoveryRequired.load());
            EXPECT_EQ (recovered, CatalogState());
            EXPECT_EQ (snapshotFiles (root.folder.path()), before);
            continue;
        }
        const auto& expected = c.recoversB ? root.stateB : root.stateA;
        EXPECT_TRUE (result.ok);
        EXPECT_TRUE (startsWith (result.message, ja ("バックアップから復旧しました") + c.source)) << result.message;
        EXPECT_EQ (recovered, expected);
        EXPECT_FALSE (store.recoveryRequired.load());
        EXPECT_EQ (root.loadFresh().second, expected);

        // The damaged snapshot went aside; the next save writes a new one and leaves the backup.
        const auto aside = (root / "recovery").findChildFiles (juce::File::findFiles, false, "last-good.json.damaged-*");
        ASSERT_EQ (aside.size(), juce::String (c.source).isEmpty() ? 0 : 1);
        if (! aside.isEmpty())
        {
            EXPECT_EQ (readBytes (aside[0]), damaged);
        }
        EXPECT_TRUE (store.save (root.stateA).ok);
        EXPECT_EQ (root.loadFresh().second, root.stateA);
        if (! aside.isEmpty())
        {
            EXPECT_EQ (readBytes (root / "recovery/last-good.json.bak"), backup);
        }
    }
}

TEST (CatalogStore, RecoveryKeepsAJournalThatMayHoldANewerState)
{
    SavedRoot root;
    platform::ScopedFileFaults seam;

    // A save of B whose split files fail leaves B in the journal...
    CatalogStore first (root.folder.path());
    FileFaults::arm (failing (FileOp::renameFile, "/catalog.json"));
    EXPECT_EQ (first.save (root.stateB), StoreResult::failure (ja ("保存の確定に失敗しました: catalog.json（中断journalを保持しました）")));
    const auto journal = readBytes (root / "recovery/pending.json");
    ASSERT_EQ (journal, root.wholeText (root.stateB).toStdString());

    // ...the next start-up cannot complete it, and offers the older snapshot A...
    CatalogStore next (root.folder.path());
    CatalogState state;
    FileFaults::arm (failing (FileOp::createFile, "", ENOSPC));
    EXPECT_EQ (next.load (state), StoreResult::failure (ja ("一時保存に失敗しました") + ja (backupOffered)));
    EXPECT_EQ (state, root.stateA);
    FileFaults::reset();

    // ...and confirming the recovery restores A but keeps B's journal, byte for byte.
    EXPECT_EQ (next.recoverFromBackup(), StoreResult::success (ja ("バックアップから復旧しました")));
    EXPECT_FALSE ((root / "recovery/pending.json").exists());
    const auto kept = (root / "recovery").findChildFiles (juce::File::findFiles, false, "pending-*.json");
    ASSERT_EQ (kept.size(), 1);
    EXPECT_TRUE (isUuidName (kept[0].getFileName(), "pending-", ".json"));
    EXPECT_EQ (readBytes (kept[0]), journal);
    EXPECT_EQ (root.loadFresh().second, root.stateA);
}

TEST (CatalogStore, TheRecoveryBundleKeepsEverySessionJsonFileOutsideRecovery)
{
    SavedRoot root;
    writeBytes (root / "library-names.json", "{\"schema\": 1}");
    writeBytes (root / "playlists/playlist-0/pending-copy-0123.json", "{\"complete\": false}");
    writeBytes (root / "playlists/playlist-0/pending-import.json", "{}");
    writeBytes (root / "playlists/playlist-0/audio/odd.json", "caf\xe9");
    writeBytes (root / "recovery/damaged-earlier.json", "{\"old\": true}");
    writeBytes (root / "catalog.json", "damaged");
    const auto before = snapshotFiles (root.folder.path());
    const auto lastGood = readBytes (root / "recovery/last-good.json");

    CatalogStore store (root.folder.path());
    CatalogState state;
    ASSERT_FALSE (store.load (state).ok);
    ASSERT_TRUE (store.recoverFromBackup().ok);

    const auto bundles = (root / "recovery").findChildFiles (juce::File::findFiles, false, "damaged-*.json");
    ASSERT_EQ (bundles.size(), 2);
    const auto bundleFile = bundles[0].getFileName() == "damaged-earlier.json" ? bundles[1] : bundles[0];
    EXPECT_TRUE (isUuidName (bundleFile.getFileName(), "damaged-", ".json"));
    juce::var bundle;
    ASSERT_TRUE (readJsonFile (bundleFile, bundle).ok);

    juce::StringArray expectedNames;
    for (const auto& [name, bytes] : before)
        if (name.endsWith (".json") && ! name.startsWith ("recovery/"))
            expectedNames.add (name);

    juce::StringArray names;
    for (const auto& member : bundle.getDynamicObject()->getProperties())
        names.add (member.name.toString());

    EXPECT_EQ (names, expectedNames);

    for (const auto& name : expectedNames)
    {
        const auto& bytes = before.at (name);
        const auto kept = bundle[juce::Identifier (name)];

        if (name.endsWith ("odd.json"))
        {
            EXPECT_EQ (kept["encoding"], juce::var ("base64"));
            juce::MemoryOutputStream decoded;
            ASSERT_TRUE (juce::Base64::convertFromBase64 (decoded, kept["data"].toString()));
            EXPECT_EQ (std::string (static_cast<const char*> (decoded.getData()), decoded.getDataSize()), bytes);
        }
        else
        {
            EXPECT_EQ (kept.toString().toStdString(), bytes) << name;
        }
    }

    EXPECT_EQ (readBytes (root / "recovery/damaged-earlier.json"), "{\"old\": true}");
    EXPECT_EQ (readBytes (root / "recovery/last-good.json"), lastGood);
    EXPECT_EQ (readBytes (root / "library-names.json"), "{\"schema\": 1}");
}

TEST (CatalogStore, AFailedLoadLeavesSavesRefusedForTheRunEvenWhenTheFilesHeal)
{
    SavedRoot root;
    const auto good = readBytes (root / "app-state.json");
    writeBytes (root / "app-state.json", "{}");

    CatalogStore store (root.folder.path());
    CatalogState state;
    ASSERT_FALSE (store.load (state).ok);

    writeBytes (root / "app-state.json", good);   // healed behind the program's back
    EXPECT_EQ (store.save (root.stateB), StoreResult::failure (ja ("復旧待ちのため自動保存を保留しています")));
    EXPECT_EQ (root.loadFresh().second, root.stateA);

    ASSERT_TRUE (store.recoverFromBackup().ok);
    EXPECT_EQ (store.save (root.stateB), StoreResult::success (ja ("自動保存済み")));
    EXPECT_EQ (root.loadFresh().second, root.stateB);
}

TEST (CatalogStore, WaveformCacheFolder)
{
    const juce::File root ("/srv/show/music");
    EXPECT_EQ (waveformCacheFolder (root, ""), juce::File());
    EXPECT_EQ (waveformCacheFolder (root, std::string (81, 'a')), juce::File());
    EXPECT_EQ (waveformCacheFolder (root, "../x"), juce::File());
    EXPECT_EQ (waveformCacheFolder (root, std::string (80, 'a')), root.getChildFile ("playlists/" + juce::String (std::string (80, 'a')) + "/waveforms"));
    EXPECT_EQ (waveformCacheFolder (root, "p-1"), juce::File ("/srv/show/music/playlists/p-1/waveforms"));
    EXPECT_FALSE (waveformCacheFolder (root, "p-1").exists());
}

TEST (CatalogStore, ALoadFirstRemovesTheTemporaryFilesOfStoppedSavesAndNothingElse)
{
    const juce::String hex ("0123456789abcdef0123456789abcdef");
    const juce::String tmp = ".tmp-" + hex;

    // What saves stopped mid-write leave: the writer's temporary sibling of each file it writes,
    // in the folder where it writes it.
    const juce::StringArray stale {
        "catalog.json" + tmp, "catalog.json.bak" + tmp, "app-state.json" + tmp, "app-state.json.bak" + tmp,
        "library-names.json" + tmp, "library-names.json.bak" + tmp,
        "playlists/playlist-0/playlist.json" + tmp, "playlists/playlist-2/playlist.json.bak" + tmp,
        "playlists/playlist-1/pending-copy-" + hex + ".json" + tmp, "playlists/playlist-1/pending-import.json" + tmp,
        "playlists/retired/playlist.json" + tmp,   // a playlist no longer in the catalog
        "pad/pads.json" + tmp, "pad/pads.json.bak" + tmp,
        "recovery/pending.json" + tmp, "recovery/last-good.json" + tmp, "recovery/last-good.json.bak" + tmp,
        "recovery/damaged-" + hex + ".json" + tmp,
    };

    // Names that are not exactly one of those, or lie where the writer never writes them.
    const juce::StringArray foreign {
        "catalog.json.tmp-" + hex.dropLastCharacters (1), "catalog.json.tmp-" + hex + "0",
        "catalog.json.tmp-" + hex.toUpperCase(), "catalog.json" + tmp + ".json", "catalog.json.tmp" + hex,
        tmp, "notes.json" + tmp, "my catalog.json" + tmp, "playlist.json" + tmp, "device.json" + tmp,
        "playlists/playlist-0/catalog.json" + tmp, "playlists/playlist-0/pending-copy-12.json" + tmp,
        "playlists/playlist-0/audio/playlist.json" + tmp, "playlists/playlist-0/waveforms/cache.peaks" + tmp,
        "playlists/bad id/playlist.json" + tmp, "pad/assets/pads.json" + tmp, "pad/catalog.json" + tmp,
        "recovery/damaged-earlier.json" + tmp, "recovery/pending-" + hex + ".json" + tmp, "recovery/catalog.json" + tmp,
        "music.json" + tmp,
        // backups that the writer never makes: these files are written without one
        "recovery/pending.json.bak" + tmp, "recovery/damaged-" + hex + ".json.bak" + tmp,
        "playlists/playlist-1/pending-import.json.bak" + tmp, "playlists/playlist-1/pending-copy-" + hex + ".json.bak" + tmp,
    };

    struct Case
    {
        const char* name;
        std::function<void (SavedRoot&)> prepare;
        bool loadsOk;
    };

    const std::vector<Case> cases {
        { "a clean start-up", [] (SavedRoot&) {}, true },
        { "a start-up that completes a journal", [] (SavedRoot& root)
          {
              writeBytes (root / "recovery/pending.json", root.wholeText (root.stateB).toStdString());
          }, true },
        { "a start-up whose load fails", [] (SavedRoot& root) { writeBytes (root / "catalog.json", "{"); }, false },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.name);
        SavedRoot root;
        test.prepare (root);

        for (const auto& name : stale)
            writeBytes (root / name.toRawUTF8(), "{\"partial\": ");

        for (const auto& name : foreign)
            writeBytes (root / name.toRawUTF8(), "keep " + name.toStdString());

        // A folder and links with our names are not ours either.
        const auto otherTmp = ".tmp-" + hex.replace ("0", "1");
        writeBytes (root / ("pad/pads.json" + otherTmp + "/inside.txt").toRawUTF8(), "keep");
        TempFolder outside;
        writeBytes (outside / "target.json", "keep");
        std::error_code linkError;
        std::filesystem::create_symlink ((outside / "target.json").getFullPathName().toStdString(),
                                         (root / ("app-state.json" + otherTmp).toRawUTF8()).getFullPathName().toStdString(), linkError);
        std::filesystem::create_symlink ((outside / "missing.json").getFullPathName().toStdString(),
                                         (root / ("catalog.json" + otherTmp).toRawUTF8()).getFullPathName().toStdString(), linkError);
        ASSERT_FALSE (linkError);

        CatalogStore store (root.folder.path());
        CatalogState state;
        EXPECT_EQ (store.load (state).ok, test.loadsOk);

        for (const auto& name : stale)
            EXPECT_FALSE ((root / name.toRawUTF8()).exists()) << name;

        for (const auto& name : foreign)
            EXPECT_EQ (readBytes (root / name.toRawUTF8()), "keep " + name.toStdString()) << name;

        EXPECT_EQ (readBytes (root / ("pad/pads.json" + otherTmp + "/inside.txt").toRawUTF8()), "keep");
        EXPECT_TRUE ((root / ("app-state.json" + otherTmp).toRawUTF8()).isSymbolicLink());
        EXPECT_TRUE ((root / ("catalog.json" + otherTmp).toRawUTF8()).isSymbolicLink());
        EXPECT_EQ (readBytes (outside / "target.json"), "keep");
    }
}

TEST (CatalogStore, AnEmptyRootStillLoadsWithoutCreatingAnything)
{
    TempFolder folder;
    const auto root = folder / "music";
    CatalogStore store (root);
    CatalogState state = generateState (5);
    EXPECT_EQ (store.load (state), StoreResult::success());
    EXPECT_EQ (state, CatalogState());
    EXPECT_FALSE (root.exists());
}
