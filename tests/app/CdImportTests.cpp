// The CD importer driven as the panel and the coordinator drive it, on fake drives.
#include "FakeCdDrive.h"
#include "session/AtomicFileWriter.h"
#include "session/SessionDocuments.h"
#include "session/UiText.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <numeric>
#include <set>
#include <thread>

namespace
{
using namespace vantrel;
using namespace vantrel::test;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;
using Lock = std::unique_lock<std::mutex>;

bool eventually (const std::function<bool()>& condition)
{
    return vantrel::testing::waitUntil (condition, std::chrono::seconds (60), std::chrono::milliseconds (5));
}

/** Where a test holds the worker: each held call waits until the test releases it. */
struct Hold
{
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0, holds = 0, parked = 0, released = 0;

    void enter()
    {
        Lock lock (mutex);
        ++calls;
        const int mine = holds > 0 ? (--holds, ++parked) : 0;
        changed.notify_all();
        changed.wait (lock, [&] { return released >= mine; });
    }
    void hold()            { Lock lock (mutex); ++holds; }
    void release (int n = 1)  { Lock lock (mutex); released += n; changed.notify_all(); }
    bool wait (const int& count, int n)  { Lock lock (mutex); return changed.wait_for (lock, std::chrono::minutes (1), [&] { return count >= n; }); }
};

/** An importer over one fake drive holding a disc of three tracks (50, 75 and 38 sectors). */
struct Rig
{
    vantrel::testing::TempFolder root;
    std::shared_ptr<FakeDrive> drive = std::make_shared<FakeDrive>();
    std::shared_ptr<Hold> listings = std::make_shared<Hold>(), reads = std::make_shared<Hold>();
    std::function<void (const juce::String&)> onStep;
    std::unique_ptr<AudioCdImport> importer;

    explicit Rig (const std::vector<int>& sectors = { 50, 75, 38 })  { drive->disc = fakeDisc (sectors); }
    ~Rig()  { listings->release (1000); reads->release (1000); importer.reset(); }

    juce::File music (const char* folder) const  { return (root / "music").getChildFile (folder); }
    int entries (const char* folder) const  { return music (folder).getNumberOfChildFiles (juce::File::findFilesAndDirectories); }
    AudioCdImport& make()
    {
        CdImportSetup setup { fakeDrives ({ { "/dev/fake0", drive } }), 20000, 10, [this] (const juce::String& s) { if (onStep) onStep (s); } };
        setup.drives.list = [inner = setup.drives.list, hold = listings] { hold->enter(); return inner(); };
        importer = std::make_unique<AudioCdImport> (root / "music", setup);
        return *importer;
    }
    void holdReadsFrom (int sector)
    {
        reads->hold();
        drive->read = [d = drive.get(), hold = reads, sector] (int s, int count, std::uint8_t* out) {
            if (s >= sector)
                hold->enter();
            return d->readDisc (s, count, out);
        };
    }
    CdImportOptions options (const std::vector<int>& tracks, const char* name = "CD", bool mp3 = false) const
    {
        eventually ([&] { return ! importer->snapshot().discs.empty(); });
        const auto discs = importer->snapshot().discs;
        return { discs.empty() ? juce::String() : discs.front().discKey, name, mp3, 48000, 128, tracks };
    }
    CdImportState finish() const
    {
        eventually ([&] { return ! importer->snapshot().busy; });
        return importer->snapshot();
    }
};

int sectorsOf (const FakeDisc& disc, size_t n)  { return disc.toc.entries[n].frames - disc.toc.entries[n - 1].frames; }

TEST (CdImport, StartRefusesInvalidRequestsAndImportsTheRestInAscendingOrder)
{
    Rig rig ({ 30, 30, 30, 30, 30 });
    auto& importer = rig.make();
    const auto good = rig.options ({ 5, 2 }, "  Set ");
    const auto with = [&] (const std::function<void (CdImportOptions&)>& change) { auto o = good; change (o); return o; };
    std::vector<int> hundred (100);
    std::iota (hundred.begin(), hundred.end(), 1);
    for (const auto& options : { with ([] (auto& o) { o.tracks = { 3, 1, 3 }; }), with ([] (auto& o) { o.tracks = { 0 }; }),
                                 with ([&] (auto& o) { o.tracks = hundred; }), with ([] (auto& o) { o.playlistName = " \t "; }),
                                 with ([] (auto& o) { o.playlistName = {}; }), with ([] (auto& o) { o.discKey = {}; }),
                                 with ([] (auto& o) { o.mp3 = true; o.mp3SampleRate = 22050; }),
                                 with ([] (auto& o) { o.mp3 = true; o.mp3BitrateKbps = 160; }) })
        EXPECT_FALSE (importer.start (options) || importer.snapshot().busy);

    rig.holdReadsFrom (0);   // below: a rate and a bit rate that only MP3 refuses
    const auto withoutMp3 = with ([] (auto& o) { o.mp3SampleRate = 22050; o.mp3BitrateKbps = 160; });
    ASSERT_TRUE (importer.start (withoutMp3));
    ASSERT_TRUE (rig.reads->wait (rig.reads->parked, 1));
    EXPECT_FALSE (importer.start (rig.options ({ 1 }, "Other")));
    rig.reads->release();
    EXPECT_EQ (rig.finish().error, "");
    const auto playlist = importer.takeImported();
    ASSERT_TRUE (playlist && playlist->rows.size() == 2);
    EXPECT_EQ (playlist->name + playlist->rows[0].title + playlist->rows[1].title, "SetTrack 02Track 05");
}

TEST (CdImport, TracksBecomeRowsOfTheDiscsBytesWithARecordAndImportsComeOutOldestFirst)
{
    Rig rig;
    auto& importer = rig.make();
    ASSERT_TRUE (importer.start (rig.options ({ 1, 2, 3 }, "First")));
    ASSERT_EQ (rig.finish().error, "");
    ASSERT_TRUE (importer.start (rig.options ({ 1, 3 }, "Second", true)));
    EXPECT_EQ (rig.finish().status, translate ("CD取込が完了しました"));
    const auto wav = importer.takeImported(), mp3 = importer.takeImported();
    ASSERT_TRUE (wav && mp3 && ! importer.takeImported());
    EXPECT_EQ (wav->name + mp3->name, "FirstSecond");
    EXPECT_EQ (rig.entries ("imports"), 0);

    const auto& disc = rig.drive->disc;
    const auto folder = rig.music ("playlists").getChildFile (wav->id);
    ASSERT_TRUE (wav->rows.size() == 3 && mp3->rows.size() == 2);
    for (size_t n = 1; n <= 3; ++n)
    {
        const auto& row = wav->rows[n - 1];
        const auto file = folder.getChildFile ("audio/Track0" + juce::String (n) + ".wav");
        const auto start = disc.audio.begin() + (disc.toc.entries[n - 1].frames - 150) * 2352;
        EXPECT_EQ (row.title + row.source, "Track 0" + std::to_string (n) + file.getFullPathName().toStdString());
        EXPECT_NEAR (row.duration, sectorsOf (disc, n) / 75.0, 1e-9);
        EXPECT_EQ (row.bytes, (std::uint64_t) file.getSize());
        EXPECT_EQ (readBytes (file).substr (44), std::string (start, start + sectorsOf (disc, n) * 2352));
    }
    for (size_t i : { 0, 1 })   // the WAVs went once they were encoded
    {
        const juce::File file (mp3->rows[i].source);
        EXPECT_EQ (file.getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2);
        EXPECT_TRUE (file.existsAsFile() && file.getFileName() == "Track0" + juce::String (i * 2 + 1) + ".mp3");
        EXPECT_NEAR (mp3->rows[i].duration, sectorsOf (disc, i * 2 + 1) / 75.0, 0.15);
    }
    juce::var json;
    CatalogState record;
    ASSERT_TRUE (readJsonFile (folder.getChildFile ("pending-import.json"), json).ok && readCatalogJson (json, record).ok);
    EXPECT_EQ (record.document.playlists, std::vector<Playlist> { *wav });
    EXPECT_EQ (record.document.current, wav->id);

    for (const auto& expected : { std::set<std::string> { wav->id, mp3->id }, std::set<std::string> { mp3->id } })
    {   // every start offers again what no save has cleared
        rig.importer.reset();
        const int before = rig.listings->calls;
        rig.make();
        ASSERT_TRUE (rig.listings->wait (rig.listings->calls, before + 1));
        std::set<std::string> offered;
        while (const auto playlist = rig.importer->takeImported())
        {
            offered.insert (playlist->id);
            EXPECT_EQ (*playlist, playlist->id == wav->id ? *wav : *mp3);
        }
        EXPECT_EQ (offered, expected);
        rig.importer->clearRecovery (wav->id);
    }
}

TEST (CdImport, AnImportThatFailsSaysWhyAndLeavesNothingBehind)
{
    enum Held { none, readOfTrack2, idleListing, discSearch };
    const auto cancel = [] (Rig& r) { r.importer->cancel(); };
    const auto disc = [] (bool present, std::vector<int> sectors) { return [=] (Rig& r) {
        Lock lock (r.drive->mutex);
        r.drive->hasDisc = present;
        r.drive->disc = fakeDisc (sectors);
    }; };
    const auto takeTheId = [] (Rig& r) {   // the new playlist's folder, made before the move
        for (const auto& staging : r.music ("imports").findChildFiles (juce::File::findDirectories, false))
            r.music ("playlists").getChildFile (staging.getFileName()).createDirectory();
    };
    const char* const cancelled = "CD取込をキャンセルしました";
    const struct { const char* error; Held held; std::function<void (Rig&)> act; const char* step; } cases[] = {
        { cancelled, readOfTrack2, cancel, "" }, { cancelled, idleListing, cancel, "" }, { cancelled, discSearch, cancel, "" },
        { "選択した音楽CDがありません。ディスクを確認してください", idleListing, disc (false, { 50 }), "" },
        { "取込中に音楽CDが変わりました", none, disc (true, { 50, 75, 39 }), "verified 3" },
        { "CD取込音源の保存を確定できません", none, takeTheId, "record" },
    };
    for (const auto& c : cases)
    {
        Rig rig;
        if (c.held == readOfTrack2)
            rig.holdReadsFrom (50);
        rig.onStep = [&] (const juce::String& step) { if (step == c.step) c.act (rig); };
        auto& importer = rig.make();
        const auto options = rig.options ({ 1, 2, 3 });
        if (c.held >= idleListing)
            rig.listings->hold();
        ASSERT_TRUE (c.held < idleListing || rig.listings->wait (rig.listings->parked, 1));
        ASSERT_TRUE (importer.start (options));
        if (c.held == discSearch)
        {
            rig.listings->hold();   // on to the search for the disc, held there
            rig.listings->release();
        }
        if (c.held != none)
        {
            auto& hold = c.held == readOfTrack2 ? *rig.reads : *rig.listings;
            ASSERT_TRUE (hold.wait (hold.parked, c.held == discSearch ? 2 : 1));
            c.act (rig);
        }
        rig.listings->release();
        EXPECT_EQ (rig.finish().error, translate (c.error)) << c.error;
        EXPECT_EQ (rig.entries ("imports"), 0);
        EXPECT_FALSE (importer.takeImported());
        for (const auto& folder : rig.music ("playlists").findChildFiles (juce::File::findDirectories, false))
            EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    }
}

TEST (CdImport, AtStartSoundRecoveryRecordsAreOfferedAndStaleStagingGoesWithoutFollowingLinks)
{
    Rig rig;
    const auto playlists = rig.music ("playlists"), imports = rig.music ("imports"), outside = rig.root / "outside";
    const auto record = [&] (const char* folder, std::vector<std::string> ids, const char* source) {
        CatalogState state;
        for (const auto& id : ids)
        {
            state.document.playlists.emplace_back().id = id;
            state.document.playlists.back().name = "CD";
            auto& row = state.document.playlists.back().rows.emplace_back();
            row.id = id + "-1";
            row.title = "Track 01";
            row.source = (playlists.getFullPathName() + "/" + folder + "/" + source).toStdString();
        }
        return sessionJsonText (catalogToJson (state)).toStdString();
    };
    const auto padded = [&] (const char* folder, std::int64_t size) {   // whitespace after the document
        const auto text = record (folder, { folder }, "audio/Track01.wav");
        return text + std::string ((size_t) size - text.size(), ' ');
    };
    const std::pair<const char*, std::string> records[] = {
        { "a1", record ("a1", { "a1" }, "audio/Track01.wav") }, { "b1", "{ \"version\": " }, { "c1", "{ \"version\": 6 }" },
        { "d1", record ("d1", { "d1", "d2" }, "audio/Track01.wav") }, { "e1", record ("e1", { "e2" }, "audio/Track01.wav") },
        { "f1", record ("f1", { "f1" }, "other/Track01.wav") }, { "f2", record ("f2", { "f2" }, "audio/../Track01.wav") },
        { "h1", padded ("h1", AudioCdImport::maxRecordBytes) }, { "h2", padded ("h2", AudioCdImport::maxRecordBytes + 1) },
    };
    for (const auto& [folder, text] : records)
        ASSERT_TRUE (writeBytes (playlists.getChildFile (folder).getChildFile ("pending-import.json"), text));
    ASSERT_TRUE (playlists.getChildFile ("g1/pending-import.json").createDirectory());

    const auto stale = imports.getChildFile ("0123456789abcdef0123456789abcdef");
    ASSERT_TRUE (writeBytes (outside.getChildFile ("keep.wav"), "keep") && writeBytes (outside.getChildFile ("folder/keep.wav"), "keep"));
    ASSERT_TRUE (writeBytes (stale.getChildFile ("audio/Track01.wav"), "partial"));
    ASSERT_TRUE (outside.getChildFile ("keep.wav").createSymbolicLink (stale.getChildFile ("audio/Track02.wav"), false));
    ASSERT_TRUE (outside.getChildFile ("folder").createSymbolicLink (stale.getChildFile ("audio/more"), false));
    ASSERT_TRUE (outside.getChildFile ("folder").createSymbolicLink (imports.getChildFile ("fedcba9876543210fedcba9876543210"), false));

    auto& importer = rig.make();
    ASSERT_TRUE (rig.listings->wait (rig.listings->calls, 1));   // the first listing comes after both
    std::set<std::string> offered;
    while (const auto playlist = importer.takeImported())
        offered.insert (playlist->id);
    EXPECT_EQ (offered, (std::set<std::string> { "a1", "h1" }));
    EXPECT_FALSE (stale.exists());
    EXPECT_EQ (readBytes (outside.getChildFile ("keep.wav")) + readBytes (outside.getChildFile ("folder/keep.wav")), "keepkeep");
}
} // namespace
