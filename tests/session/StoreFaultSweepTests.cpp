#include "session/CatalogStore.h"

#include "platform/DurableFile.h"
#include "platform/FileFaults.h"
#include "session/AtomicFileWriter.h"
#include "support/ForkedCall.h"
#include "session/SessionDocuments.h"
#include "StateGenerator.h"
#include "StoreFixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <iostream>

using namespace vantrel;
using namespace vantrel::testing;
using platform::FileFault;
using platform::FileFaults;
using platform::FileOp;

namespace
{
const char* const backupOffered = "。直前のバックアップを読み取りました。復旧確認が必要です。";

FileFault failing (FileOp op, const std::string& pathEndsWith, const std::string& pathContains = {}, int error = EIO)
{
    return FileFault { 1, error, op, pathContains, pathEndsWith };
}

juce::String wholeText (const CatalogState& state)  { return sessionJsonText (catalogToJson (state)); }

/** A data root with state A saved completely, and a state B to save over it. */
struct Root
{
    TempFolder folder;
    CatalogState stateA = generateState (11);
    CatalogState stateB = generateState (22);

    Root()
    {
        CatalogStore store (folder.path());
        EXPECT_TRUE (store.save (stateA).ok);
    }

    juce::File operator/ (const char* relative) const  { return folder / relative; }

    struct Loaded
    {
        StoreResult result;
        CatalogState state;
        bool recoveryRequired = false;
    };

    /** The next start-up: a fresh store's load. */
    Loaded loadFresh() const
    {
        CatalogStore store (folder.path());
        Loaded loaded;
        loaded.result = store.load (loaded.state);
        loaded.recoveryRequired = store.recoveryRequired.load();
        return loaded;
    }

    /** Leaves B in the journal with the playlist files written, the rest old. */
    void leaveInterruptedSaveOfB()
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::renameFile, "/catalog.json"));
        CatalogStore store (folder.path());
        EXPECT_FALSE (store.save (stateB).ok);
        EXPECT_EQ (readBytes (folder / "recovery/pending.json"), wholeText (stateB).toStdString());
    }
};
} // namespace

// One test per row of the store's failure table: the message, the files left, the next start-up.

TEST (StoreFailureTable, JournalWriteFails)
{
    Root root;
    const auto before = snapshotFiles (root.folder.path());
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::writeFile, {}, "recovery/pending.json.tmp-", ENOSPC));
        EXPECT_EQ (CatalogStore (root.folder.path()).save (root.stateB), StoreResult::failure (ja ("一時保存に失敗しました")));
    }
    EXPECT_EQ (snapshotFiles (root.folder.path()), before);
    const auto next = root.loadFresh();
    EXPECT_EQ (next.result, StoreResult::success());
    EXPECT_EQ (next.state, root.stateA);
}

TEST (StoreFailureTable, ASplitFileFails)
{
    Root root;
    const auto oldFirst = readBytes (root / "playlists/playlist-0/playlist.json");
    const auto oldCatalog = readBytes (root / "catalog.json");
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::renameFile, "playlist-1/playlist.json"));
        EXPECT_EQ (CatalogStore (root.folder.path()).save (root.stateB),
                   StoreResult::failure (ja ("保存の確定に失敗しました: playlist.json（中断journalを保持しました）")));
    }
    EXPECT_EQ (readBytes (root / "recovery/pending.json"), wholeText (root.stateB).toStdString());
    EXPECT_NE (readBytes (root / "playlists/playlist-0/playlist.json"), oldFirst);
    EXPECT_EQ (readBytes (root / "playlists/playlist-0/playlist.json.bak"), oldFirst);
    EXPECT_EQ (readBytes (root / "catalog.json"), oldCatalog);

    const auto next = root.loadFresh();
    EXPECT_EQ (next.result, StoreResult::success());
    EXPECT_EQ (next.state, root.stateB);
    EXPECT_FALSE ((root / "recovery/pending.json").exists());
}

TEST (StoreFailureTable, LastGoodWriteFailsAndTheCompletionRewritesNoSplitFile)
{
    Root root;
    const auto oldSnapshot = readBytes (root / "recovery/last-good.json");
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::renameFile, "recovery/last-good.json"));
        EXPECT_EQ (CatalogStore (root.folder.path()).save (root.stateB),
                   StoreResult::failure (ja ("保存の確定に失敗しました: last-good.json")));
    }
    EXPECT_EQ (readBytes (root / "recovery/pending.json"), wholeText (root.stateB).toStdString());
    EXPECT_EQ (readBytes (root / "recovery/last-good.json"), oldSnapshot);

    platform::ScopedFileFaults seam;
    FileFaults::startRecording();
    const auto next = root.loadFresh();
    EXPECT_EQ (next.state, root.stateB);

    std::vector<juce::String> renamed;
    for (const auto& op : FileFaults::recorded())
        if (op.op == FileOp::renameFile)
            renamed.push_back (juce::File (op.path).getRelativePathFrom (root.folder.path()));

    // The split files already hold B: only the snapshot moves, after its backup (a second name
    // of A's file).
    EXPECT_EQ (renamed, (std::vector<juce::String> { "recovery/last-good.json.bak", "recovery/last-good.json" }));
    EXPECT_EQ (readBytes (root / "recovery/last-good.json.bak"), oldSnapshot);
}

TEST (StoreFailureTable, JournalCannotBeDeleted)
{
    // The journal becomes the snapshot, unless the snapshot holds the state already: a second
    // save of the same state leaves a journal to delete.
    Root root;
    const auto snapshotOfA = readBytes (root / "recovery/last-good.json");
    ASSERT_TRUE (CatalogStore (root.folder.path()).save (root.stateB).ok);
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::removeFile, "recovery/pending.json"));
        EXPECT_EQ (CatalogStore (root.folder.path()).save (root.stateB), StoreResult::failure (ja ("復旧journalを確定できませんでした")));
    }
    EXPECT_TRUE ((root / "recovery/pending.json").existsAsFile());
    EXPECT_EQ (readBytes (root / "recovery/last-good.json"), wholeText (root.stateB).toStdString());
    EXPECT_EQ (readBytes (root / "recovery/last-good.json.bak"), snapshotOfA);
    EXPECT_EQ (root.loadFresh().state, root.stateB);
    EXPECT_FALSE ((root / "recovery/pending.json").exists());
}

TEST (StoreFailureTable, JournalCompletionFailsAtStartUp)
{
    Root root;
    root.leaveInterruptedSaveOfB();
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::renameFile, "/app-state.json"));
        const auto failed = root.loadFresh();
        EXPECT_EQ (failed.result, StoreResult::failure (ja ("保存の確定に失敗しました: app-state.json") + ja (backupOffered)));
        EXPECT_EQ (failed.state, root.stateA);
        EXPECT_TRUE (failed.recoveryRequired);
    }
    EXPECT_EQ (readBytes (root / "recovery/pending.json"), wholeText (root.stateB).toStdString());

    const auto next = root.loadFresh();
    EXPECT_EQ (next.result, StoreResult::success());
    EXPECT_EQ (next.state, root.stateB);
}

TEST (StoreFailureTable, RecoveryBundleFails)
{
    Root root;
    writeBytes (root / "catalog.json", "[");
    CatalogStore store (root.folder.path());
    CatalogState state;
    ASSERT_FALSE (store.load (state).ok);
    const auto before = snapshotFiles (root.folder.path());

    platform::ScopedFileFaults seam;
    FileFaults::arm (failing (FileOp::createFile, {}, "recovery/damaged-"));
    EXPECT_EQ (store.recoverFromBackup(), StoreResult::failure (ja ("一時保存に失敗しました")));
    EXPECT_TRUE (store.recoveryRequired.load());
    EXPECT_EQ (snapshotFiles (root.folder.path()), before);
}

TEST (StoreFailureTable, RecoveryMovesWhatStandsWhereASplitFileBelongsIntoItsBundle)
{
    struct Case
    {
        const char* name;
        std::vector<const char*> obstructions;   // relative paths, each made a folder or a file below
        std::function<void (Root&)> prepare;
    };

    auto folderAt = [] (const char* relative)
    {
        return [relative] (Root& root)
        {
            (root / relative).deleteRecursively();
            writeBytes (root / (std::string (relative) + "/inside.json").c_str(), "{\"inside\": true}");
            writeBytes (root / (std::string (relative) + "/cue.wav").c_str(), "RIFF");
        };
    };
    auto fileAt = [] (const char* relative)
    {
        return [relative] (Root& root)
        {
            (root / relative).deleteRecursively();
            writeBytes (root / relative, "a file where a folder belongs");
        };
    };

    const std::vector<Case> cases {
        { "folder at catalog.json", { "catalog.json" }, folderAt ("catalog.json") },
        { "folder at a playlist file", { "playlists/playlist-1/playlist.json" }, folderAt ("playlists/playlist-1/playlist.json") },
        { "folder at the pads file", { "pad/pads.json" }, folderAt ("pad/pads.json") },
        { "file at the pad folder", { "pad" }, fileAt ("pad") },
        { "file at a playlist folder", { "playlists/playlist-0" }, fileAt ("playlists/playlist-0") },
        { "file at the playlists folder", { "playlists" }, fileAt ("playlists") },
        { "folders at a backup and at app-state.json", { "app-state.json", "catalog.json.bak" }, [&] (Root& root)
          {
              folderAt ("app-state.json") (root);
              folderAt ("catalog.json.bak") (root);
          } },
        { "folder at a backup beside a damaged catalog", { "catalog.json.bak" }, [&] (Root& root)
          {
              folderAt ("catalog.json.bak") (root);
              writeBytes (root / "catalog.json", "[");
          } },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.name);
        Root root;
        test.prepare (root);
        const auto before = snapshotFiles (root.folder.path());

        CatalogStore store (root.folder.path());
        CatalogState state;
        ASSERT_FALSE (store.load (state).ok);
        ASSERT_EQ (state, root.stateA);

        EXPECT_EQ (store.recoverFromBackup(), StoreResult::success (ja ("バックアップから復旧しました")));
        EXPECT_FALSE (store.recoveryRequired.load());

        const auto bundles = (root / "recovery").findChildFiles (juce::File::findFiles, false, "damaged-*.json");
        ASSERT_EQ (bundles.size(), 1);
        juce::var bundle;
        ASSERT_TRUE (readJsonFile (bundles[0], bundle).ok);
        const auto movedFolder = bundles[0].getSiblingFile (bundles[0].getFileNameWithoutExtension());

        // Every obstruction is in the bundle's folder, whole, and the bundle says where.
        for (const auto* relative : test.obstructions)
        {
            EXPECT_EQ (bundle[juce::Identifier (relative)]["movedTo"].toString(),
                       movedFolder.getChildFile (relative).getRelativePathFrom (root.folder.path()));

            for (const auto& [path, bytes] : before)
            {
                if (path == relative || path.startsWith (juce::String (relative) + "/"))
                {
                    EXPECT_EQ (readBytes (movedFolder.getChildFile (path)), bytes) << path;
                }
            }
        }

        // The texts inside a moved folder are in the bundle as well.
        for (const auto& [path, bytes] : before)
        {
            if (path.endsWith ("/inside.json"))
            {
                EXPECT_EQ (bundle[juce::Identifier (path)].toString().toStdString(), bytes) << path;
            }
        }

        const auto next = root.loadFresh();
        EXPECT_EQ (next.result, StoreResult::success());
        EXPECT_EQ (next.state, root.stateA);

        // Saves work again, backups included.
        EXPECT_EQ (store.save (root.stateB), StoreResult::success (ja ("自動保存済み")));
        EXPECT_EQ (store.save (root.stateA), StoreResult::success (ja ("自動保存済み")));
        EXPECT_EQ (root.loadFresh().state, root.stateA);
    }
}

TEST (StoreFailureTable, RetriesOfAFailedRecoveryExtendItsBundleInsteadOfWritingMore)
{
    Root root;
    writeBytes (root / "catalog.json", "[");
    writeBytes (root / "app-state.json", "{}");
    CatalogStore store (root.folder.path());
    CatalogState state;
    ASSERT_FALSE (store.load (state).ok);

    auto onlyBundle = [&root]
    {
        const auto bundles = (root / "recovery").findChildFiles (juce::File::findFiles, false, "damaged-*.json");
        EXPECT_EQ (bundles.size(), 1);
        juce::var bundle;
        EXPECT_TRUE (bundles.isEmpty() || readJsonFile (bundles[0], bundle).ok);
        return bundle;
    };

    // Two tries fail at the last split file, after the catalog was restored; the third succeeds.
    for (int attempt = 1; attempt <= 3; ++attempt)
    {
        SCOPED_TRACE (attempt);

        if (attempt < 3)
        {
            platform::ScopedFileFaults seam;
            FileFaults::arm (failing (FileOp::renameFile, "/app-state.json"));
            EXPECT_EQ (store.recoverFromBackup(), StoreResult::failure (ja ("保存の確定に失敗しました: app-state.json")));
            EXPECT_TRUE (store.recoveryRequired.load());
            EXPECT_NE (readBytes (root / "catalog.json"), "[");
        }
        else
        {
            EXPECT_TRUE (store.recoverFromBackup().ok);
            EXPECT_FALSE (store.recoveryRequired.load());
        }

        const auto bundle = onlyBundle();
        EXPECT_EQ (bundle["catalog.json"], juce::var ("["));   // the text before the first try
        EXPECT_EQ (bundle["app-state.json"], juce::var ("{}"));

        if (attempt == 1)   // a file that appears between the tries joins the same bundle
            writeBytes (root / "playlists/playlist-0/pending-import.json", "{\"import\": 1}");
        else
            EXPECT_EQ (bundle["playlists/playlist-0/pending-import.json"], juce::var ("{\"import\": 1}"));
    }

    EXPECT_EQ (root.loadFresh().state, root.stateA);
}

TEST (StoreFailureTable, AnObstructionThatCannotBeMovedFailsTheRecoveryAndStaysWhole)
{
    Root root;
    (root / "pad/pads.json").deleteFile();
    writeBytes (root / "pad/pads.json/stray.wav", "RIFF");
    CatalogStore store (root.folder.path());
    CatalogState state;
    ASSERT_FALSE (store.load (state).ok);
    const auto before = snapshotFiles (root / "pad");

    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::renameFile, "/pad/pads.json", "recovery/damaged-"));
        EXPECT_EQ (store.recoverFromBackup(),
                   StoreResult::failure (ja ("復旧の妨げになっている項目を移動できません: pad/pads.json")));
        EXPECT_TRUE (FileFaults::fired());
    }

    EXPECT_TRUE (store.recoveryRequired.load());
    EXPECT_EQ (snapshotFiles (root / "pad"), before);
    EXPECT_EQ (store.save (root.stateB), StoreResult::failure (ja ("復旧待ちのため自動保存を保留しています")));

    EXPECT_TRUE (store.recoverFromBackup().ok);
    const auto bundles = (root / "recovery").findChildFiles (juce::File::findFiles, false, "damaged-*.json");
    ASSERT_EQ (bundles.size(), 1);
    EXPECT_EQ (readBytes (bundles[0].getSiblingFile (bundles[0].getFileNameWithoutExtension()).getChildFile ("pad/pads.json/stray.wav")), "RIFF");
    EXPECT_EQ (root.loadFresh().state, root.stateA);
}

TEST (StoreFailureTable, AFileWhereTheRecoveryFolderBelongs)
{
    Root root;
    (root / "recovery").deleteRecursively();
    writeBytes (root / "recovery", "not a folder");
    const auto before = snapshotFiles (root.folder.path());

    EXPECT_EQ (CatalogStore (root.folder.path()).save (root.stateB),
               StoreResult::failure (platform::FileError::fromCode (ENOTDIR).text));
    EXPECT_EQ (snapshotFiles (root.folder.path()), before);
    EXPECT_EQ (root.loadFresh().state, root.stateA);
}

TEST (StoreFailureTable, DiskFullInAChildProcess)
{
    Root root;
    const auto before = snapshotFiles (root.folder.path());

    const auto child = platform::runInForkedChild ([&] (std::string& output)
    {
        const auto result = CatalogStore (root.folder.path()).save (root.stateB);
        output = result.message.toStdString();
        return result.ok ? 0 : 1;
    }, 2048);

    ASSERT_TRUE (child.exited);
    EXPECT_EQ (child.exitCode, 1);
    EXPECT_EQ (juce::String::fromUTF8 (child.output.c_str()), ja ("一時保存に失敗しました"));
    EXPECT_EQ (snapshotFiles (root.folder.path()), before);
    EXPECT_EQ (root.loadFresh().state, root.stateA);
}

// Every file operation of one save, failed in turn: the next start-up always loads A or B
// (B whenever the save reported success), never a mixture, never a refusal.
TEST (StoreFaultSweep, EveryFailedOperationOfASaveLeavesALoadableState)
{
    int delivered = 0;

    for (int k = 1; k < 500; ++k)
    {
        Root root;
        platform::ScopedFileFaults seam;
        FileFaults::startRecording();
        FileFaults::arm (FileFault { k, EIO, {}, {}, {} });
        const auto result = CatalogStore (root.folder.path()).save (root.stateB);

        if (! FileFaults::fired())
        {
            EXPECT_TRUE (result.ok);
            break;
        }

        ++delivered;
        const auto failedOp = FileFaults::recorded()[static_cast<size_t> (k - 1)];
        FileFaults::reset();

        const auto next = root.loadFresh();
        const char* loaded = next.state == root.stateB ? "B" : next.state == root.stateA ? "A" : "neither";
        std::cout << "k=" << k << " " << platform::fileOpName (failedOp.op) << " "
                  << juce::File (failedOp.path).getRelativePathFrom (root.folder.path()) << " -> "
                  << (result.ok ? "ok" : result.message.toStdString()) << " -> loads " << loaded << "\n";

        EXPECT_EQ (next.result, StoreResult::success()) << "k=" << k;
        EXPECT_FALSE (next.recoveryRequired) << "k=" << k;
        EXPECT_TRUE (next.state == root.stateA || next.state == root.stateB) << "k=" << k;

        if (result.ok)
        {
            EXPECT_EQ (next.state, root.stateB) << "k=" << k;
        }

        EXPECT_TRUE (temporaryFiles (root.folder.path()).empty()) << "k=" << k;
    }

    EXPECT_GT (delivered, 30);
}

// Every file operation of a journal completion at start-up, failed in turn: that start-up
// either completes, or offers the snapshot (A, or B when the failure came after the snapshot
// was renewed); the next one always completes B.
TEST (StoreFaultSweep, EveryFailedOperationOfAJournalCompletionIsRetriedAtTheNextStart)
{
    int delivered = 0;

    for (int k = 1; k < 500; ++k)
    {
        Root root;
        root.leaveInterruptedSaveOfB();
        platform::ScopedFileFaults seam;
        FileFaults::arm (FileFault { k, EIO, {}, {}, {} });
        const auto first = root.loadFresh();

        if (! FileFaults::fired())
        {
            EXPECT_EQ (first.state, root.stateB);
            break;
        }

        ++delivered;
        FileFaults::reset();

        if (first.result.ok)
        {
            EXPECT_EQ (first.state, root.stateB) << "k=" << k;
        }
        else
        {
            EXPECT_TRUE (first.result.message.endsWith (ja (backupOffered))) << "k=" << k << " " << first.result.message;
            EXPECT_TRUE (first.state == root.stateA || first.state == root.stateB) << "k=" << k;
            EXPECT_TRUE (first.recoveryRequired) << "k=" << k;
        }

        const auto next = root.loadFresh();
        EXPECT_EQ (next.result, StoreResult::success()) << "k=" << k;
        EXPECT_EQ (next.state, root.stateB) << "k=" << k;
        EXPECT_TRUE (temporaryFiles (root.folder.path()).empty()) << "k=" << k;
    }

    EXPECT_GT (delivered, 10);
}
