#include "session/CatalogStore.h"

#include "platform/DurableFile.h"
#include "platform/FileFaults.h"
#include "support/ForkedCall.h"
#include "session/SessionDocuments.h"
#include "StateGenerator.h"
#include "StoreFixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
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

    // The split files already hold B and the backup already holds A: only the snapshot moves.
    EXPECT_EQ (renamed, (std::vector<juce::String> { "recovery/last-good.json" }));
    EXPECT_EQ (readBytes (root / "recovery/last-good.json.bak"), oldSnapshot);
}

TEST (StoreFailureTable, JournalCannotBeDeleted)
{
    Root root;
    {
        platform::ScopedFileFaults seam;
        FileFaults::arm (failing (FileOp::removeFile, "recovery/pending.json"));
        EXPECT_EQ (CatalogStore (root.folder.path()).save (root.stateB), StoreResult::failure (ja ("復旧journalを確定できませんでした")));
    }
    EXPECT_TRUE ((root / "recovery/pending.json").existsAsFile());
    EXPECT_EQ (readBytes (root / "recovery/last-good.json"), wholeText (root.stateB).toStdString());
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

TEST (StoreFailureTable, RecoverySplitFilesFailOnANonEmptyFolderWhereAFileBelongs)
{
    Root root;
    writeBytes (root / "catalog.json", "[");
    CatalogStore store (root.folder.path());
    CatalogState state;
    ASSERT_FALSE (store.load (state).ok);

    (root / "pad/pads.json").deleteFile();
    writeBytes (root / "pad/pads.json/stray.wav", "RIFF");

    EXPECT_EQ (store.recoverFromBackup(), StoreResult::failure (ja ("保存の確定に失敗しました: pads.json")));
    EXPECT_TRUE (store.recoveryRequired.load());
    EXPECT_EQ ((root / "recovery").findChildFiles (juce::File::findFiles, false, "damaged-*.json").size(), 1);
    EXPECT_EQ (readBytes (root / "pad/pads.json/stray.wav"), "RIFF");
    EXPECT_EQ (readBytes (root / "catalog.json.bak"), "[");   // the catalog before it was restored

    const auto next = root.loadFresh();
    EXPECT_EQ (next.result, StoreResult::failure (ja ("保存データを読めません: pads.json") + ja (backupOffered)));
    EXPECT_EQ (next.state, root.stateA);
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
