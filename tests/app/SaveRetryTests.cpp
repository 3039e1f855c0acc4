// A save that failed is tried again by the tick every 5 s until one succeeds: edits made while
// the disk was full reach it once space returns, without a further edit.
#include "SessionTestSupport.h"

#include "session/CatalogStore.h"
#include "support/ForkedProcess.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace
{
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;
using namespace vantrel::test;

/** The playlist names the saved files hold; empty when they cannot be read. */
std::vector<std::string> savedPlaylistNames (const juce::File& music)
{
    vantrel::CatalogStore reader (music);
    vantrel::CatalogState saved;
    std::vector<std::string> names;
    if (reader.readSavedFiles (saved).ok)
        for (const auto& playlist : saved.document.playlists)
            names.push_back (playlist.name);
    return names;
}

TEST (SaveRetry, AFailedSaveIsSubmittedAgainEvery5sUntilOneSucceedsAndThenNoMore)
{
    SessionRig rig;
    auto session = rig.make();
    ASSERT_TRUE (session->addPlaylist ("Show", ""));
    ASSERT_TRUE (session->waitForSaves());

    // A folder with something in it where the view state's file goes: every save fails.
    const auto blocker = rig.music().getChildFile ("app-state.json");
    ASSERT_TRUE (blocker.deleteFile());
    ASSERT_TRUE (blocker.getChildFile ("keep").create());
    ASSERT_TRUE (session->renamePlaylist (session->undoHistory().current().playlists[0].id, "Renamed"));
    ASSERT_FALSE (session->waitForSaves());
    session->tick();   // the failure is seen: the 5 s start here
    const auto ticketAtFailure = session->lastSaveTicket();

    struct Step
    {
        std::uint32_t advanceMs;
        bool repairFirst;
        std::int64_t retriesSoFar;
        bool saved;
    };
    const Step steps[] = {
        { 4999, false, 0, false },   // not yet
        { 1, false, 1, false },      // 5 s after the failure: again, and it fails again
        { 4999, false, 1, false },
        { 1, false, 2, false },
        { 2500, true, 2, false },    // space is back, but the 5 s since the last retry are not over
        { 2500, false, 3, true },    // the retry saves everything
        { 5000, false, 3, true },    // saved: no more retries
        { 60000, false, 3, true },
    };
    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.retriesSoFar);
        if (step.repairFirst)
        {
            ASSERT_TRUE (blocker.deleteRecursively());
        }
        rig.clock.advance (step.advanceMs);
        session->tick();
        EXPECT_EQ (session->lastSaveTicket() - ticketAtFailure, step.retriesSoFar);
        EXPECT_EQ (session->waitForSaves(), step.saved);
        session->tick();
        EXPECT_EQ (session->lastSaveTicket() - ticketAtFailure, step.retriesSoFar);
        EXPECT_EQ (session->statusText().startsWith (ja ("自動保存失敗: ")), ! step.saved) << session->statusText();
    }
    EXPECT_EQ (savedPlaylistNames (rig.music()), std::vector<std::string> { "Renamed" });
}

TEST (SaveRetry, TheStatusSaysSavedWhenTheRetrySucceeds)
{
    SessionRig rig;
    auto session = rig.make();
    ASSERT_TRUE (session->addPlaylist ("Show", ""));
    ASSERT_TRUE (session->waitForSaves());
    const auto blocker = rig.music().getChildFile ("app-state.json");
    ASSERT_TRUE (blocker.deleteFile());
    ASSERT_TRUE (blocker.getChildFile ("keep").create());
    ASSERT_TRUE (session->addPlaylist ("Second", ""));
    ASSERT_FALSE (session->waitForSaves());
    session->tick();
    EXPECT_TRUE (session->statusIsWarning());

    ASSERT_TRUE (blocker.deleteRecursively());
    rig.clock.advance (SessionCoordinator::saveRetryMs);
    session->tick();
    ASSERT_TRUE (session->waitForSaves());
    session->tick();
    // Offline the line itself names the missing output first: the status under it says saved.
    EXPECT_EQ (session->lastStatus(), ja ("自動保存済み"));
    EXPECT_FALSE (session->statusText().startsWith (ja ("自動保存失敗: "))) << session->statusText();
    EXPECT_EQ (savedPlaylistNames (rig.music()), (std::vector<std::string> { "Show", "Second" }));
}

/** The child's show on the small disk: one good save, the disk filled, three edits that fail,
    then (once the test has freed the space) 12 s of ticks on its clock with no further edit.
    Writes "full" (the status line) when the edits have failed and "ticked <status>" at the end, then waits to be
    killed. */
int editWhileFullInChild (const SessionRig& rig, const SmallDisk& disk, const juce::File& full, const juce::File& ticked)
{
    SessionCoordinator session (rig.music(), rig.deviceFile(), false, rig.options);
    if (! session.addPlaylist ("Show", "") || ! session.waitForSaves())
        return 2;
    if (! disk.fill())
        return 7;
    const auto first = session.undoHistory().current().playlists[0].id;
    if (! session.renamePlaylist (first, "Renamed") || session.waitForSaves())
        return 3;
    if (! session.addPlaylist ("Second", "") || session.waitForSaves())
        return 4;
    if (! session.addPlaylist ("Third", "") || session.waitForSaves())
        return 5;
    session.tick();
    writeBytes (full, session.statusText().toStdString());
    if (! waitUntil ([&] { return ! disk.folder.getChildFile ("filler").exists(); }))
        return 6;
    for (int second = 0; second < 12; ++second)
    {
        rig.clock.advance (1000);
        session.tick();
        session.waitForSaves();
    }
    session.tick();
    // What a failure needs to be understood: the status line and the space left.
    writeBytes (ticked.getSiblingFile ("ticked-why"), session.statusText().toStdString() + "; "
                + std::to_string (disk.folder.getBytesFreeOnVolume()) + " bytes free");
    writeBytes (ticked, "ticked " + session.lastStatus().toStdString());
    for (;;)
        std::this_thread::sleep_for (std::chrono::hours (1));
}

TEST (SaveRetry, EditsMadeWhileTheDiskWasFullAreOnDiskAfterSpaceReturnsAndAKill)
{
    SessionRig rig;
    SmallDisk disk (rig.music(), "256k");
    if (! disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror (errno);
    const auto full = rig.profile.path().getChildFile ("full");
    const auto ticked = rig.profile.path().getChildFile ("ticked");
    const auto ended = rig.profile.path().getChildFile ("ended");

    vantrel::platform::ForkedProcess child;
    ASSERT_TRUE (child.start ([&] {
        const auto code = editWhileFullInChild (rig, disk, full, ticked);
        // What an early end needs to be understood: where it ended and the space left.
        writeBytes (ended, "ended " + std::to_string (code) + "; " + std::to_string (disk.folder.getBytesFreeOnVolume()) + " bytes free");
        return code;
    }));
    ASSERT_TRUE (waitUntil ([&] { return full.existsAsFile() || ended.existsAsFile(); }));
    ASSERT_TRUE (full.existsAsFile()) << readBytes (ended);
    EXPECT_EQ (juce::String::fromUTF8 (readBytes (full).c_str()).startsWith (ja ("自動保存失敗: ")), true) << readBytes (full);
    EXPECT_EQ (savedPlaylistNames (rig.music()), std::vector<std::string> { "Show" });

    // Space returns; nobody edits; the program dies without a quit.
    ASSERT_TRUE (disk.folder.getChildFile ("filler").deleteFile());
    ASSERT_TRUE (waitUntil ([&] { return ticked.existsAsFile() || ended.existsAsFile(); }));
    ASSERT_TRUE (ticked.existsAsFile()) << readBytes (ended);
    child.kill();
    child.wait();
    EXPECT_EQ (juce::String::fromUTF8 (readBytes (ticked).c_str()), "ticked " + ja ("自動保存済み"))
        << readBytes (ticked.getSiblingFile ("ticked-why"));

    // Every edit is on disk, and a restart shows them.
    EXPECT_EQ (savedPlaylistNames (rig.music()), (std::vector<std::string> { "Renamed", "Second", "Third" }));
    const auto restarted = rig.make();
    std::vector<std::string> names;
    for (const auto& playlist : restarted->undoHistory().current().playlists)
        names.push_back (playlist.name);
    EXPECT_EQ (names, (std::vector<std::string> { "Renamed", "Second", "Third" }));
    EXPECT_FALSE (restarted->statusText().startsWith (ja ("保存データの復旧確認が必要です。"))) << restarted->statusText();
}
} // namespace
