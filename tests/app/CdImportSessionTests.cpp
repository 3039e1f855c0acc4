// The coordinator's side of the CD import: finished imports taken into the catalog at the tick,
// the recovery record let go only after a save holds the playlist, LIVE LOCK holding an import
// back, a quit waiting for a running import, and an importing process killed at every step.
#include "CdStepGate.h"
#include "FakeCdDrive.h"
#include "SessionTestSupport.h"
#include "session/UiText.h"
#include "support/ForkedProcess.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>

namespace
{
using vantrel::CdImportOptions;
using vantrel::CdImportSetup;
using vantrel::SessionCoordinator;
using vantrel::translate;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;
using namespace vantrel::test;

const juce::String driveName = "/dev/fake-cd";

CdImportSetup fakeSetup (const std::shared_ptr<FakeDrive>& drive, std::function<void (const juce::String&)> afterStep = {})
{
    CdImportSetup setup;
    setup.drives = fakeDrives ({ { driveName, drive } });
    setup.listIntervalMs = 20;
    setup.afterStep = std::move (afterStep);
    return setup;
}

juce::Array<juce::File> recordsUnder (const juce::File& music)
{
    return music.getChildFile ("playlists").findChildFiles (juce::File::findFiles, true, "pending-import.json");
}

/** An offline session whose importer sees one fake drive with a disc of three short tracks. */
struct CdSession
{
    SessionRig rig;
    std::shared_ptr<FakeDrive> drive = std::make_shared<FakeDrive>();
    std::shared_ptr<CdStepGate> gate = std::make_shared<CdStepGate>();
    std::unique_ptr<SessionCoordinator> session;

    explicit CdSession (const juce::String& holdAt = {})
    {
        drive->disc = fakeDisc ({ 150, 113, 75 });
        gate->hold (holdAt);
        rig.options.cdImportSetup = fakeSetup (drive, [g = gate] (const juce::String& step) { g->pass (step); });
        session = rig.make();
    }
    ~CdSession()
    {
        gate->release();
    }

    /** Waits for the disc to be listed and asks for an import of `tracks`. */
    bool start (std::vector<int> tracks, const juce::String& name = "Live CD")
    {
        if (! waitUntil ([this] { return ! cdImportState (*session).discs.empty(); }))
            return false;
        CdImportOptions options;
        options.discKey = cdImportState (*session).discs.front().discKey;
        options.playlistName = name;
        options.tracks = std::move (tracks);
        return SessionCoordinatorTestAccess::cdImporter (*session).start (options);
    }
    bool waitIdle()
    {
        return waitUntil ([this] { return ! cdImportState (*session).busy; });
    }
    const std::vector<vantrel::Playlist>& playlists() const  { return session->undoHistory().current().playlists; }
};

TEST (CdImportSession, AFinishedImportIsTakenInAtTheNextTickAndItsRecordGoesOnlyWithASave)
{
    CdSession cd;
    ASSERT_TRUE (cd.start ({ 3, 1 }));
    ASSERT_TRUE (cd.waitIdle());
    ASSERT_TRUE (cdImportState (*cd.session).error.isEmpty()) << cdImportState (*cd.session).error;
    ASSERT_EQ (recordsUnder (cd.rig.music()).size(), 1);

    // A folder where the view state's file goes: the save that holds the new playlist fails.
    ASSERT_TRUE (cd.rig.music().getChildFile ("app-state.json").deleteFile());
    ASSERT_TRUE (cd.rig.music().getChildFile ("app-state.json").getChildFile ("keep").create());
    cd.session->tick();
    EXPECT_EQ (cd.session->lastStatus(), translate ("CDを新しいプレイリストへ取り込みました"));
    ASSERT_EQ (cd.playlists().size(), 1u);
    const auto& playlist = cd.playlists().front();
    EXPECT_EQ (cd.session->undoHistory().current().current, playlist.id);
    ASSERT_EQ (playlist.rows.size(), 2u);
    EXPECT_EQ (playlist.rows[0].title, "Track 01");
    EXPECT_EQ (playlist.rows[1].title, "Track 03");
    for (const auto& row : playlist.rows)
        EXPECT_TRUE (juce::File (row.source).existsAsFile()) << row.source;

    cd.session->waitForSaves();
    ASSERT_FALSE (cd.session->lastSaveResult().ok);
    for (int i = 0; i < 3; ++i)
        cd.session->tick();
    EXPECT_EQ (recordsUnder (cd.rig.music()).size(), 1) << "a record let go before any save held its playlist";

    ASSERT_TRUE (cd.rig.music().getChildFile ("app-state.json").deleteRecursively());
    cd.session->setZoom (4);
    EXPECT_TRUE (tickUntil (*cd.session, [&] { return recordsUnder (cd.rig.music()).isEmpty(); }));
    EXPECT_TRUE (cd.session->lastSaveResult().ok);
}

TEST (CdImportSession, AnImportWaitsWhileLiveLockProtectsPlaylistEditing)
{
    CdSession cd;
    ASSERT_TRUE (cd.session->currentPreferences().isLocked (vantrel::LockScope::playlistEditing));
    cd.session->toggleLiveLock();
    ASSERT_TRUE (cd.start ({ 2 }));
    ASSERT_TRUE (cd.waitIdle());
    for (int i = 0; i < 5; ++i)
        cd.session->tick();
    EXPECT_TRUE (cd.playlists().empty());

    cd.session->toggleLiveLock();
    cd.session->tick();
    ASSERT_EQ (cd.playlists().size(), 1u);
    EXPECT_EQ (cd.playlists().front().name, "Live CD");
}

TEST (CdImportSession, AQuitDuringAnImportWaitsForItWithItsTextAndLeavesNothingBehind)
{
    CdSession cd ("ripped 1");
    const auto horn = writeTone (cd.rig.music().getChildFile ("pad/assets"), "Horn.wav", 0.05, 0.1f);
    ASSERT_TRUE (cd.start ({ 1, 2 }));
    ASSERT_TRUE (waitUntil ([&] { return cd.gate->isReached(); }));

    EXPECT_FALSE (cd.session->removeLibraryFile (horn.getFullPathName())) << "a file removed while an import runs";
    EXPECT_TRUE (horn.existsAsFile());
    EXPECT_TRUE (cd.session->needsQuitConfirmation());
    EXPECT_FALSE (cd.session->prepareQuit());
    EXPECT_EQ (cd.session->lastStatus(), translate ("CD取込の停止・保全を待っています"));

    cd.gate->release();
    ASSERT_TRUE (waitUntil ([&] { return cd.session->prepareQuit(); }));
    EXPECT_EQ (cdImportState (*cd.session).error, translate ("CD取込をキャンセルしました"));
    EXPECT_TRUE (cd.playlists().empty());
    EXPECT_EQ (cd.rig.music().getChildFile ("imports").getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    EXPECT_TRUE (recordsUnder (cd.rig.music()).isEmpty());
}

TEST (CdImportSession, ARefusedTakeInStaysQueuedAndIsAddedAfterTheNextChange)
{
    CdSession cd;
    ASSERT_TRUE (cd.start ({ 1 }));
    ASSERT_TRUE (cd.waitIdle());
    cd.session.reset();   // never ticked: the record alone holds the import

    // The next run's catalog already uses the imported row's id: adding the playlist is refused.
    const auto record = recordsUnder (cd.rig.music());
    ASSERT_EQ (record.size(), 1);
    const auto json = juce::JSON::parse (record[0]);
    const auto importedRowId = json["playlists"][0]["rows"][0]["id"].toString().toStdString();
    ASSERT_FALSE (importedRowId.empty()) << record[0].loadFileAsString();
    {
        auto withoutImporter = cd.rig.options;
        withoutImporter.cdImportSetup.reset();
        SessionCoordinator earlier (cd.rig.music(), cd.rig.deviceFile(), false, withoutImporter);
        const auto tone = writeTone (cd.rig.media(), "Walk-in.wav", 0.2, 0.1f);
        auto other = playlistOf ("Other", { tone });
        other.rows[0].id = importedRowId;
        ASSERT_TRUE (addAndOpen (earlier, other));
        ASSERT_TRUE (earlier.waitForSaves());
    }
    cd.session = cd.rig.make();
    ASSERT_EQ (cd.playlists().size(), 1u);

    const auto refusedText = translate ("CD取込のプレイリストを追加できません。整理後に再度取り込みます");
    ASSERT_TRUE (tickUntil (*cd.session, [&] { return cd.session->alertText() == refusedText; }));
    EXPECT_EQ (cd.playlists().size(), 1u);
    cd.session->setStatus ("later");
    for (int i = 0; i < 3; ++i)
        cd.session->tick();
    EXPECT_EQ (cd.session->lastStatus(), "later") << "the refusal is reported again on every tick";
    EXPECT_EQ (recordsUnder (cd.rig.music()).size(), 1);

    ASSERT_TRUE (cd.session->removeRow (importedRowId));
    cd.session->tick();
    ASSERT_EQ (cd.playlists().size(), 2u) ;
    EXPECT_EQ (cd.playlists()[1].name, "Live CD");
    EXPECT_TRUE (tickUntil (*cd.session, [&] { return recordsUnder (cd.rig.music()).isEmpty(); }));
}

/** One import in a forked child that stops (writing `marker`) at `stopAt`: a step of the importer,
    "taken in" once the tick added the playlist, or "saved" once a save holds it but before the
    record was let go. */
int importInChild (const SessionRig& rig, const std::shared_ptr<FakeDrive>& drive, bool mp3, const juce::String& stopAt,
                   const juce::File& marker)
{
    const auto stop = [marker] {
        writeBytes (marker, "stopped");
        for (;;)
            std::this_thread::sleep_for (std::chrono::hours (1));
    };
    auto options = rig.options;
    options.cdImportSetup = fakeSetup (drive, [stopAt, stop] (const juce::String& step) { if (step == stopAt) stop(); });
    SessionCoordinator session (rig.music(), rig.deviceFile(), false, options);
    if (! waitUntil ([&] { return ! cdImportState (session).discs.empty(); }))
        return 2;
    CdImportOptions request;
    request.discKey = cdImportState (session).discs.front().discKey;
    request.playlistName = "Live CD";
    request.mp3 = mp3;
    request.mp3SampleRate = 44100;
    request.mp3BitrateKbps = 128;
    request.tracks = { 1, 2 };
    if (! SessionCoordinatorTestAccess::cdImporter (session).start (request))
        return 3;
    if (! tickUntil (session, [&] { return ! session.undoHistory().current().playlists.empty(); }))
        return 4;
    if (stopAt == "taken in")
        stop();
    session.waitForSaves();
    if (stopAt == "saved")
        stop();
    return tickUntil (session, [&] { return recordsUnder (rig.music()).isEmpty(); }) ? 0 : 5;
}

TEST (CdImportSession, AnImportKilledAtAnyStepLeavesAfterARestartACompletePlaylistOrNothing)
{
    const struct
    {
        const char* step;
        bool mp3;
    } kills[] = {
        { "staging", false },    { "ripped 1", false }, { "verified 1", false }, { "ripped 2", false },
        { "verified 2", false }, { "record", false },   { "moved", false },      { "committed", false },
        { "taken in", false },   { "saved", false },    { "encoded 1", true },   { "wav removed 1", true },
        { "encoded 2", true },   { "record", true },    { "moved", true },
    };
    int complete = 0, nothing = 0;
    for (const auto& kill : kills)
    {
        SCOPED_TRACE (juce::String (kill.step) + (kill.mp3 ? " (MP3)" : " (WAV)"));
        SessionRig rig;
        auto drive = std::make_shared<FakeDrive>();
        drive->disc = fakeDisc ({ 120, 90 });
        const auto marker = rig.profile / "stopped", ended = rig.profile / "ended";
        vantrel::platform::ForkedProcess child;
        ASSERT_TRUE (child.start ([&] {
            const auto code = importInChild (rig, drive, kill.mp3, kill.step, marker);
            writeBytes (ended, "ended " + std::to_string (code));
            return code;
        }));
        if (! waitUntil ([&] { return marker.existsAsFile() || ended.existsAsFile(); }) || ! marker.existsAsFile())
            FAIL() << "the child did not stop: " << readBytes (ended);
        child.kill();
        child.wait();

        // The restart finishes or removes what the killed run left, and a save holds the result.
        {
            auto options = rig.options;
            options.cdImportSetup = fakeSetup (drive);
            SessionCoordinator restart (rig.music(), rig.deviceFile(), false, options);
            ASSERT_TRUE (tickUntil (restart, [&] {
                return recordsUnder (rig.music()).isEmpty()
                    && rig.music().getChildFile ("imports").getNumberOfChildFiles (juce::File::findFilesAndDirectories) == 0;
            }));
        }
        SessionCoordinator again (rig.music(), rig.deviceFile(), false, rig.options);
        const auto& playlists = again.undoHistory().current().playlists;
        ASSERT_LE (playlists.size(), 1u);
        for (const auto& folder : rig.music().getChildFile ("playlists").findChildFiles (juce::File::findDirectories, false))
            EXPECT_TRUE (! playlists.empty() && folder.getFileName().toStdString() == playlists.front().id)
                << "a folder no playlist holds: " << folder.getFullPathName();
        if (playlists.empty())
        {
            ++nothing;
            continue;
        }
        ++complete;
        const auto& rows = playlists.front().rows;
        ASSERT_EQ (rows.size(), 2u);
        for (size_t i = 0; i < rows.size(); ++i)
        {
            const juce::File file (rows[i].source);
            ASSERT_TRUE (file.existsAsFile()) << rows[i].source;
            EXPECT_EQ ((std::uint64_t) file.getSize(), rows[i].bytes);
            EXPECT_EQ (file.getFileExtension(), kill.mp3 ? ".mp3" : ".wav");
            EXPECT_NEAR (rows[i].duration, (i == 0 ? 120 : 90) / 75.0, 0.15);
            if (! kill.mp3)
            {
                const auto bytes = readBytes (file);
                const auto first = i == 0 ? 0u : 120u * 2352u;
                const auto length = (i == 0 ? 120u : 90u) * 2352u;
                ASSERT_EQ (bytes.size(), 44u + length);
                EXPECT_TRUE (std::equal (bytes.begin() + 44, bytes.end(), drive->disc.audio.begin() + first,
                                         [] (char a, std::uint8_t b) { return (std::uint8_t) a == b; }));
            }
        }
        EXPECT_EQ (juce::File (rows[0].source).getSiblingFile ("Track01.wav").existsAsFile(), ! kill.mp3);
    }
    std::cout << "[ crashes  ] " << complete << " runs ended with the complete playlist, " << nothing << " with nothing"
              << std::endl;
    EXPECT_GT (complete, 0);
    EXPECT_GT (nothing, 0);
}
} // namespace
