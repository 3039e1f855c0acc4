#include "SessionTestSupport.h"

#include "session/CatalogStore.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>


#include <condition_variable>
#include <map>

namespace
{
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using namespace vantrel::test;

/** What can stand in the way of a plain status line, from the most urgent down. */
enum Condition
{
    recovery = 1 << 0,     // the catalog could not be read
    saveFailed = 1 << 1,   // the last save failed
    noOutput = 1 << 2,     // device.json names a device that is not there
    alertSet = 1 << 3,
    rackDamaged = 1 << 4,  // master-vst.json is damaged
    paused = 1 << 5,
    freshStatus = 1 << 6
};

struct StatusCase
{
    const char* name;
    int conditions;
    const char* expectedStart;
    bool warning;
};

/** The case's name in the test's name (its bytes would hold pointers, new at every run). */
void PrintTo (const StatusCase& c, std::ostream* out) { *out << c.name; }

class StatusLineTest : public ::testing::TestWithParam<StatusCase>
{
};

TEST_P (StatusLineTest, TheMostUrgentConditionIsShown)
{
    const auto& param = GetParam();
    StandInSessionRig rig;
    if (param.conditions & recovery)
    {
        ASSERT_TRUE (rig.music().getChildFile ("catalog.json").replaceWithText ("{ not json"));
    }
    if (param.conditions & noOutput)
    {
        ASSERT_TRUE (vantrel::writeOutputDeviceSettings (rig.deviceFile(), { "Stand-in", "Gone", "Stand-in:Gone", 0.0, 0, 0 }).ok);
    }
    if (param.conditions & rackDamaged)
    {
        ASSERT_TRUE (rig.local().getChildFile ("master-vst.json").replaceWithText ("{ damaged"));
    }
    auto session = rig.make (true);

    if (param.conditions & saveFailed)
    {
        // A folder with something in it where the view state's file goes: the next save fails.
        ASSERT_TRUE (rig.music().getChildFile ("app-state.json").deleteFile());
        ASSERT_TRUE (rig.music().getChildFile ("app-state.json").getChildFile ("keep").create());
        session->setZoom (3);
        session->waitForSaves();
    }
    if (param.conditions & rackDamaged)
    {
        ASSERT_TRUE (waitUntil ([&] { return session->audioAdapter().rack().needsAttention(); }));
    }
    if (param.conditions & alertSet)
        session->setAlert ("alert text");
    if (param.conditions & paused)
        SessionCoordinatorTestAccess::cue (*session).paused = true;
    rig.clock.advance (SessionCoordinator::statusShowMs);
    if (param.conditions & freshStatus)
        session->setStatus ("latest");

    // The first two rules append a message of the store's; the others are the whole line.
    const auto text = session->statusText();
    if (param.conditions & (recovery | saveFailed))
        EXPECT_TRUE (text.startsWith (ja (param.expectedStart))) << text;
    else
        EXPECT_EQ (text, ja (param.expectedStart));
    EXPECT_EQ (session->statusIsWarning(), param.warning) << text;
}

// Each case switches on its own condition and every less urgent one.
INSTANTIATE_TEST_SUITE_P (Ranks, StatusLineTest, ::testing::Values (
    // A damaged catalog and no backup: nothing to recover from, and the line says what to do.
    StatusCase { "recovery", 0x7f, "保存データを読めず、読み取れるバックアップもありません。", true },
    StatusCase { "saveFailed", 0x7e, "自動保存失敗: ", true },
    StatusCase { "noOutput", 0x7c, "OUT: 出力先なし — 指定された出力先がありません", true },
    StatusCase { "alert", 0x38, "alert text", true },   // a later plain status would clear the alert
    StatusCase { "rack", 0x70, "VSTに確認事項があります · VSTボタンで状態を確認してください", true },
    StatusCase { "paused", 0x60, "一時停止中 · Space", false },
    StatusCase { "status", 0x40, "latest", false },
    StatusCase { "idle", 0x00, "Vantrel! · 準備完了", false }),
    [] (const auto& info) { return std::string (info.param.name); });

TEST (StatusLine, AStatusShowsFor3500MsAlsoAcrossTheClockWrapThenTheLineFallsBack)
{
    StandInSessionRig rig;
    auto session = rig.make (true);
    ASSERT_TRUE (session->isOutputOpen()) << session->statusText();
    rig.clock.ms->store (0xffffffffu - 1000u);
    session->setStatus ("GO");

    rig.clock.advance (3499);   // past the wrap
    EXPECT_EQ (session->statusText(), "GO");
    rig.clock.advance (1);
    EXPECT_EQ (session->statusText(), ja ("Vantrel! · 準備完了"));

    session->toggleLiveLock();
    EXPECT_EQ (session->statusText(), "LIVE LOCK ON");
    rig.clock.advance (3500);
    EXPECT_EQ (session->statusText(), "LIVE LOCK ON");
    SessionCoordinatorTestAccess::cue (*session).paused = true;
    EXPECT_EQ (session->statusText(), ja ("一時停止中 · LIVE LOCK ON"));
    EXPECT_FALSE (session->statusIsWarning());
}

TEST (StatusLine, OfflineTheOutputCountsAsNotOpen)
{
    SessionRig rig;
    auto session = rig.make (false);
    EXPECT_FALSE (session->isOutputOpen());
    EXPECT_FALSE (session->audioAdapter().hasDevice());
    EXPECT_TRUE (session->statusText().startsWith (ja ("OUT: 出力先なし — ")));
    EXPECT_TRUE (session->statusIsWarning());
    EXPECT_FALSE (session->audioAdapter().rack().status().busy);
    EXPECT_FALSE (rig.local().getChildFile ("audio-diagnostics.json").exists());
}

// ---- quit --------------------------------------------------------------------------------------------

/** A pool job that runs until released. */
struct HeldJob
{
    std::mutex mutex;
    std::condition_variable condition;
    bool released = false;

    void add (vantrel::JobPool& pool)
    {
        pool.addJob ([this] {
            std::unique_lock<std::mutex> lock (mutex);
            condition.wait (lock, [this] { return released; });
        });
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> lock (mutex);
            released = true;
        }
        condition.notify_all();
    }
};

TEST (Quit, WaitsForThePoolThenSavesTheCatalog)
{
    SessionRig rig;
    auto session = rig.make();
    ASSERT_TRUE (session->addPlaylist ("Show", ""));
    HeldJob job;
    job.add (SessionCoordinatorTestAccess::pool (*session));

    EXPECT_FALSE (session->prepareQuit());
    EXPECT_TRUE (session->isQuitting());
    EXPECT_EQ (session->statusText(), ja ("PADコピーと保存の完了を待っています"));
    EXPECT_FALSE (session->prepareQuit());

    job.release();
    ASSERT_TRUE (waitUntil ([&] { return session->runningJobs() == 0; }));
    EXPECT_TRUE (session->prepareQuit());

    vantrel::CatalogStore reader (rig.music());
    vantrel::CatalogState saved;
    ASSERT_TRUE (reader.readSavedFiles (saved).ok);
    EXPECT_EQ (saved.document, session->undoHistory().current());
    EXPECT_FALSE (rig.music().getChildFile ("recovery/pending.json").exists());
}

/** Every file below a folder with its size and modification time. */
std::map<juce::String, std::pair<juce::int64, juce::int64>> listing (const juce::File& folder)
{
    std::map<juce::String, std::pair<juce::int64, juce::int64>> files;
    for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFilesAndDirectories))
        files[entry.getFile().getFullPathName()] = { entry.getFileSize(), entry.getModificationTime().toMilliseconds() };
    return files;
}

TEST (Quit, WithRecoveryPendingTouchesNoFile)
{
    SessionRig rig;
    ASSERT_TRUE (rig.music().getChildFile ("catalog.json").replaceWithText ("{ not json"));
    auto session = rig.make();
    ASSERT_TRUE (session->needsRecovery());
    const auto before = listing (rig.profile.path());

    EXPECT_TRUE (session->prepareQuit());
    session.reset();
    EXPECT_EQ (listing (rig.profile.path()), before);
}

TEST (Quit, AFullDiskAbandonsTheQuitAndTheOutputComesBack)
{
    StandInSessionRig rig;
    SmallDisk disk (rig.music(), "256k");
    if (! disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror (errno);
    auto session = rig.make (true);
    ASSERT_TRUE (session->isOutputOpen()) << session->statusText();
    ASSERT_TRUE (session->addPlaylist ("Show", ""));
    ASSERT_TRUE (session->waitForSaves());
    ASSERT_TRUE (disk.fill());
    ASSERT_TRUE (session->renamePlaylist (session->undoHistory().current().playlists[0].id, "Renamed"));

    EXPECT_FALSE (session->prepareQuit());
    EXPECT_FALSE (session->isQuitting());
    EXPECT_FALSE (session->lastSaveResult().ok);
    EXPECT_TRUE (session->alertText().startsWith (session->lastSaveResult().message)) << session->alertText();
    EXPECT_TRUE (session->alertText().endsWith (ja (" · 終了を中止し、出力先を再開しました"))) << session->alertText();
    EXPECT_TRUE (session->isOutputOpen());

    // The show goes on: once there is room again, the next quit saves everything.
    ASSERT_TRUE (disk.folder.getChildFile ("filler").deleteFile());
    EXPECT_TRUE (session->prepareQuit());
    vantrel::CatalogStore reader (rig.music());
    vantrel::CatalogState saved;
    ASSERT_TRUE (reader.readSavedFiles (saved).ok);
    ASSERT_EQ (saved.document.playlists.size(), 1u);
    EXPECT_EQ (saved.document.playlists[0].name, "Renamed");
}
} // namespace
