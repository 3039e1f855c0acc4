// Adding files by reference and by copy, taking finished copies in, and removing unused library
// files to the Trash, driven through the coordinator as the view drives it.
#include "SessionTestSupport.h"
#include "session/CatalogStore.h"
#include "support/ForkedProcess.h"

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <thread>

namespace
{
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;
using namespace vantrel::test;

juce::Array<juce::File> journalsUnder (const juce::File& music)
{
    return music.getChildFile ("playlists").findChildFiles (juce::File::findFiles, true, "pending-copy-*.json");
}

/** No copy job runs, and every copy result was taken in and finished. */
bool copiesFinished (SessionCoordinator& session)
{
    return session.runningJobs() == 0 && session.postedCopies() == 0 && session.copiesAwaitingSave() == 0;
}

/** An offline session with one open, empty playlist; removed files go to a Trash of its own. */
struct Copies
{
    SessionRig rig;
    std::unique_ptr<SessionCoordinator> session;
    vantrel::Playlist playlist = playlistOf ("Show", {});

    Copies()
    {
        rig.options.trashFolder = rig.profile / "home/Trash";
        session = rig.make();
        EXPECT_TRUE (addAndOpen (*session, playlist));
    }

    juce::File tone (const juce::String& name, double seconds = 0.05) const  { return writeTone (rig.media(), name, seconds, 0.1f); }
    juce::File audio() const  { return rig.music().getChildFile ("playlists/" + juce::String (playlist.id) + "/audio"); }
    juce::Array<juce::File> journals() const  { return journalsUnder (rig.music()); }
    const std::vector<vantrel::Row>& rows() const  { return session->undoHistory().current().playlists.front().rows; }
    size_t posted() const
    {
        return session->postedCopies();
    }
    bool finishCopies() const  { return tickUntil (*session, [&] { return copiesFinished (*session); }); }
};

TEST (LibraryCopies, FilesAddedByReferenceBecomeRowsAtOnceAndOthersAreSkippedSilently)
{
    Copies show;
    const auto a = show.tone ("a.wav"), b = show.tone ("B take.WAV");
    const struct { juce::StringArray paths; std::vector<std::string> titles; } cases[] = {
        { { a.getFullPathName(), b.getFullPathName() }, { "a.wav", "B take.WAV" } },
        { { show.rig.media().getFullPathName(), show.rig.media().getChildFile ("missing.wav").getFullPathName(), "a.wav" }, {} },
    };
    for (const auto& c : cases)
    {
        const auto before = show.rows().size();
        SessionCoordinatorTestAccess::clearStatus (*show.session);
        EXPECT_TRUE (show.session->addFiles (c.paths, false));
        ASSERT_EQ (show.rows().size() - before, c.titles.size());
        for (size_t i = 0; i < c.titles.size(); ++i)
            EXPECT_EQ (show.rows()[before + i].title, c.titles[i]);
        EXPECT_EQ (show.session->lastStatus().isEmpty(), c.titles.empty());
    }
    EXPECT_EQ (show.rows()[0].source, a.getFullPathName().toStdString());
}

TEST (LibraryCopies, CopiedRowsAppearAfterTheJobAndTheJournalOutlivesAFailedSave)
{
    Copies show;
    const auto a = show.tone ("a.wav"), b = show.tone ("b.wav", 0.07);
    ASSERT_TRUE (show.session->addFiles ({ a.getFullPathName(), b.getFullPathName() }, true));
    EXPECT_EQ (show.session->lastStatus(), ja ("ライブラリへコピー中です。元の音源は保持します。"));
    ASSERT_TRUE (waitUntil ([&] { return show.posted() == 1; }));
    EXPECT_TRUE (show.rows().empty());

    // The save holding the rows fails: the journal is the copy's only record and stays.
    const auto recovery = show.rig.music().getChildFile ("recovery");
    show.session->waitForSaves();
    ASSERT_TRUE (recovery.deleteRecursively() && writeBytes (recovery, "in the way"));
    show.session->tick();
    ASSERT_EQ (show.rows().size(), 2u);
    EXPECT_EQ (readBytes (juce::File (show.rows()[1].source)), readBytes (b));
    EXPECT_TRUE (show.rows()[1].source.rfind (show.audio().getFullPathName().toStdString(), 0) == 0);
    ASSERT_TRUE (tickUntil (*show.session, [&] { return ! show.session->isSaving() && ! show.session->lastSaveResult().ok; }));
    show.session->tick();
    EXPECT_EQ (show.journals().size(), 1);

    // A save the tick submitted (durations it learned) may still be meeting the file in the way.
    show.session->waitForSaves();
    ASSERT_TRUE (recovery.deleteFile() && recovery.createDirectory());
    ASSERT_TRUE (show.session->setPlaylistMemo (show.playlist.id, "saved now"));
    ASSERT_TRUE (show.finishCopies());
    EXPECT_TRUE (show.journals().isEmpty());
    show.session->waitForSaves();
    vantrel::CatalogState onDisk;
    ASSERT_TRUE (vantrel::CatalogStore (show.rig.music()).readSavedFiles (onDisk).ok);
    EXPECT_EQ (onDisk.document.playlists.front().rows, show.rows());
}

TEST (LibraryCopies, ACopyForADeletedPlaylistAddsNoRowsSavesOnceAndDropsItsJournal)
{
    Copies show;
    ASSERT_TRUE (show.session->addFiles ({ show.tone ("a.wav").getFullPathName() }, true));
    ASSERT_TRUE (waitUntil ([&] { return show.posted() == 1; }));
    ASSERT_TRUE (show.session->removePlaylist (show.playlist.id));
    const auto ticket = show.session->lastSaveTicket();
    show.session->tick();
    EXPECT_EQ (show.session->lastSaveTicket(), ticket + 1);
    EXPECT_TRUE (show.session->undoHistory().current().playlists.empty());
    ASSERT_TRUE (show.finishCopies());
    EXPECT_TRUE (show.journals().isEmpty());
}

TEST (LibraryCopies, UnderLiveLockFinishedCopiesWaitUntilUnlockOrQuit)
{
    for (const bool quit : { false, true })
    {
        Copies show;
        ASSERT_TRUE (show.session->addFiles ({ show.tone ("a.wav").getFullPathName() }, true));
        show.session->toggleLiveLock();
        EXPECT_FALSE (show.session->addFiles ({ show.tone ("b.wav").getFullPathName() }, true));
        ASSERT_TRUE (waitUntil ([&] { return show.posted() == 1; }));
        for (int i = 0; i < 3; ++i)
            show.session->tick();
        ASSERT_EQ (show.session->copiesAwaitingSave(), 1u);
        EXPECT_TRUE (show.rows().empty());
        if (quit)
        {
            ASSERT_TRUE (tickUntil (*show.session, [&] { return show.session->prepareQuit(); }));
            EXPECT_TRUE (show.journals().isEmpty());
        }
        else
        {
            show.session->toggleLiveLock();
            show.session->tick();
        }
        EXPECT_EQ (show.rows().size(), 1u) << (quit ? "quit" : "unlock");
    }
}

TEST (LibraryCopies, RemovingAFileTrashesOnlyUnusedManagedFiles)
{
    const auto inUse = ja ("使用中の音源、外部の元ファイル、取込の保存確定待ちの音源は削除できません");
    const auto locked = ja ("保存・取込・コピー完了後、必要ならLIVE LOCKを解除して整理してください");
    const auto failed = ja ("音源をごみ箱へ移動できませんでした。ファイルを保持しています");
    enum Place { playlistCopy, padCopy, external };
    const struct { const char* what; Place place; bool usedByRow, usedByPad, pending, lock, trashBlocked; juce::String text; } cases[] = {
        { "unused copy", playlistCopy, false, false, false, false, false, ja ("未使用のVantrel音源をごみ箱へ移動しました") },
        { "copy of a row", playlistCopy, true, false, false, false, false, inUse },
        { "pad's copy", padCopy, false, true, false, false, false, inUse },
        { "outside file", external, false, false, false, false, false, inUse },
        { "import pending", playlistCopy, false, false, true, false, false, inUse },
        { "unused pad copy, locked", padCopy, false, false, false, true, false, ja ("未使用のVantrel音源をごみ箱へ移動しました") },
        { "unused copy, locked", playlistCopy, false, false, false, true, false, locked },
        { "trash blocked", playlistCopy, false, false, false, false, true, failed },
    };
    for (const auto& c : cases)
    {
        Copies show;
        const auto folder = c.place == playlistCopy ? show.audio() : c.place == padCopy ? show.rig.music().getChildFile ("pad/assets")
                                                                                        : show.rig.media();
        const auto file = writeTone (folder, "Take.wav", 0.05, 0.1f);
        if (c.usedByRow)
        {
            ASSERT_TRUE (show.session->addFiles ({ file.getFullPathName() }, false));
        }
        if (c.usedByPad)
            SessionCoordinatorTestAccess::state (*show.session).pads[4].asset = "Take.wav";
        if (c.pending)
            writeBytes (show.audio().getSiblingFile ("pending-import.json"), "{}");
        if (c.lock)
            show.session->toggleLiveLock();
        if (c.trashBlocked)
            writeBytes (show.rig.profile / "home", "a file where the folder goes");
        const bool removed = show.session->removeLibraryFile (file.getFullPathName());
        EXPECT_EQ (removed, c.text == cases[0].text) << c.what;
        EXPECT_EQ (show.session->lastStatus(), c.text) << c.what;
        EXPECT_EQ (file.existsAsFile(), ! removed) << c.what;
        const auto info = readBytes (show.rig.profile / "home/Trash/info/Take.wav.trashinfo");
        EXPECT_EQ (info.find ("Path=" + file.getFullPathName().toStdString()) != std::string::npos, removed) << c.what;
    }
}

TEST (LibraryCopies, RemovalDropsTheUndoStepsOfThatFileOnlyTellingCaseApart)
{
    Copies show;
    const auto upper = writeTone (show.audio(), "Take.wav", 0.05, 0.1f), lower = writeTone (show.audio(), "take.wav", 0.05, 0.2f);
    for (const auto& file : { upper, lower })
        ASSERT_TRUE (show.session->addLibraryFiles ({ file.getFullPathName() }, show.playlist.id, false));
    for (const auto& row : std::vector<vantrel::Row> (show.rows()))
        ASSERT_TRUE (show.session->removeRow (row.id));

    // Steps: add the playlist, add Take, add take, remove Take, remove take.
    ASSERT_TRUE (show.session->removeLibraryFile (upper.getFullPathName()));
    EXPECT_TRUE (lower.existsAsFile());
    ASSERT_EQ (show.session->undoHistory().undoStack().size(), 2u);
    ASSERT_TRUE (show.session->undoRedo (false));
    ASSERT_EQ (show.rows().size(), 1u);
    EXPECT_EQ (show.rows()[0].source, lower.getFullPathName().toStdString());
}

TEST (LibraryCopies, AFileThatAWaitingCopyRefersToIsNotRemoved)
{
    Copies show;
    const auto horn = writeTone (show.rig.music().getChildFile ("pad/assets"), "Horn.wav", 0.05, 0.1f);
    ASSERT_TRUE (show.session->addFiles ({ horn.getFullPathName() }, true));
    show.session->toggleLiveLock();
    ASSERT_TRUE (waitUntil ([&] { return show.session->runningJobs() == 0; }));
    EXPECT_FALSE (show.session->removeLibraryFile (horn.getFullPathName()));
    show.session->toggleLiveLock();
    show.session->tick();
    ASSERT_EQ (show.rows().size(), 1u);
    EXPECT_TRUE (juce::File (show.rows()[0].source).existsAsFile());
}
/** One run of the copy road in a forked child, which stops (writing `marker`) at `stage`: 0..3 at
    that file's copy, 4 once the job posted its result, 5 after the merge, 6 once the merge was
    saved, 7 when everything is finished; never for any other stage. */
int copyInChild (const SessionRig& rig, const juce::File& music, const juce::StringArray& sources, int stage,
                 const juce::File& marker)
{
    const auto stop = [marker] {
        writeBytes (marker, "stopped");
        for (;;)
            std::this_thread::sleep_for (std::chrono::hours (1));
    };
    auto options = rig.options;
    options.afterLibraryCopy = [stage, stop, copies = 0] (const juce::File&, const juce::File&) mutable {
        if (copies++ == stage)
            stop();
    };
    SessionCoordinator session (music, music.getSiblingFile ("local/device.json"), false, options);
    if (! session.addFiles (sources, true))
        return 2;
    // The copy is posted by the pool's thread; no tick runs before it is, so none can take it in
    // between a look at the posted copies and the stop.
    if (stage == 4)
    {
        while (session.postedCopies() == 0)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        stop();
    }
    for (bool merged = false; ! merged || session.copiesAwaitingSave() > 0 || session.runningJobs() > 0;)
    {
        session.tick();
        if (! merged && ! session.undoHistory().current().playlists.front().rows.empty())
        {
            merged = true;
            if (stage == 6)
                session.waitForSaves();
            if (stage == 5 || stage == 6)
                stop();
        }
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    if (stage == 7)
        stop();
    return 0;
}

TEST (LibraryCopies, ACopyKilledAtAnyMomentIsResumedAtTheNextStartWithoutLossOrDuplicates)
{
    SessionRig base;
    juce::StringArray sources;
    std::map<std::string, std::string> bytesByTitle;
    for (int i = 0; i < 4; ++i)
    {
        const auto file = writeTone (base.media(), "tone" + juce::String (i) + ".wav", 0.05 + 0.02 * i, 0.1f, 300.0 + 100.0 * i);
        sources.add (file.getFullPathName());
        bytesByTitle[file.getFileName().toStdString()] = readBytes (file);
    }
    ASSERT_TRUE (addAndOpen (*base.make(), playlistOf ("Show", {})));
    const auto marker = base.profile / "stopped", ended = base.profile / "ended";

    // Three runs in four stop at a chosen point of the road (each point in turn); the others at a
    // moment spread over an uninterrupted run's length.
    std::chrono::steady_clock::duration length {};
    int kills = 0, resumed = 0, empty = 0;
    for (int run = -1; run < 80; ++run)
    {
        SCOPED_TRACE ("run " + std::to_string (run));
        const auto music = base.profile / ("run" + juce::String (run) + "/music");
        ASSERT_TRUE (base.music().copyDirectoryTo (music) && base.local().copyDirectoryTo (music.getSiblingFile ("local")));
        const int stage = run >= 0 && run % 4 != 3 ? (run - run / 4) % 8 : -1;
        marker.deleteFile();
        ended.deleteFile();
        vantrel::platform::ForkedProcess child;
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE (child.start ([&] { const auto code = copyInChild (base, music, sources, stage, marker); writeBytes (ended, "ended"); return code; }));
        if (run < 0)
        {
            ASSERT_TRUE (child.wait().exitCode == 0);
            length = std::chrono::steady_clock::now() - started;
            continue;
        }
        if (stage < 0)
            std::this_thread::sleep_for (length * (run / 4 % 20) / 20);
        else if (! waitUntil ([&] { return marker.existsAsFile() || ended.existsAsFile(); }) || ! marker.existsAsFile())
            FAIL() << "the child did not stop at stage " << stage;
        child.kill();
        kills += child.wait().exited ? 0 : 1;

        const bool journalLeft = ! journalsUnder (music).isEmpty();
        SessionCoordinator restart (music, music.getSiblingFile ("local/device.json"), false, base.options);
        ASSERT_TRUE (tickUntil (restart, [&] { return copiesFinished (restart); }));
        const auto& rows = restart.undoHistory().current().playlists.front().rows;
        resumed += journalLeft ? 1 : 0;
        empty += rows.empty() ? 1 : 0;
        EXPECT_TRUE (rows.empty() || rows.size() == 4u) << rows.size();
        EXPECT_TRUE (! journalLeft || rows.size() == 4u);
        std::set<std::string> ids, files;
        for (const auto& row : rows)
        {
            ids.insert (row.id);
            files.insert (row.source);
            EXPECT_EQ (readBytes (juce::File (row.source)), bytesByTitle[row.title]) << row.source;
        }
        EXPECT_EQ (ids.size(), rows.size());
        EXPECT_EQ (files.size(), rows.size());
        for (const auto& file : music.getChildFile ("playlists").findChildFiles (juce::File::findFiles, true, "*.wav"))
            EXPECT_EQ (files.count (file.getFullPathName().toStdString()), 1u) << "left over: " << file.getFullPathName();
        EXPECT_TRUE (journalsUnder (music).isEmpty());
    }
    std::cout << "[ harness  ] kills " << kills << ", journals resumed " << resumed << ", runs without rows " << empty
              << std::endl;
    EXPECT_GE (kills, 50);
}
} // namespace
