// Reading discs and ripping tracks: generated images through libcdio, and fake drives for what an
// image cannot do (reads that disagree, hang or fail).
#include "FakeCdDrive.h"
#include "support/CdImage.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace
{
using namespace vantrel;
using namespace vantrel::test;
using vantrel::testing::TempFolder;
using vantrel::testing::ja;
using ReadFunction = std::function<int (int, int, std::uint8_t*)>;

const char* const mismatch = "CDの読込結果が一致しません。ディスク・接続を確認してください";

/** Polls until the condition holds; false when it still does not after a generous cap. */
bool eventually (const std::function<bool()>& condition)
{
    return vantrel::testing::waitUntil (condition, std::chrono::seconds (60), std::chrono::milliseconds (10));
}

std::shared_ptr<FakeDrive> driveWith (FakeDisc disc, ReadFunction read = {})
{
    auto drive = std::make_shared<FakeDrive>();
    drive->disc = std::move (disc);
    drive->read = std::move (read);
    return drive;
}

/** The text of the failure ripTrack throws; empty when it returns. */
juce::String ripFailure (CdDeviceHandle& handle, int sectors, const juce::File& wav, const std::atomic<bool>* flag = nullptr)
{
    try { AudioCdImport::ripTrack (handle, { 1, 0, sectors, "Track 01" }, wav, flag, {}); }
    catch (const std::runtime_error& e) { return juce::String::fromUTF8 (e.what()); }
    return {};
}

/** A read that blocks in the drive until the test releases it. */
struct HangingRead
{
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<bool> inside { false }, returned { false };

    ReadFunction read()
    {
        return [this] (int, int, std::uint8_t*) { inside = true; opened.wait(); returned = true; return -1; };
    }
};

TEST (CdRipping, ImagesGiveNamedAudioTracksAndAKeyOfTheWholeTable)
{
    TempFolder folder ("cd-rip");
    const auto read = [&] (const juce::String& name, const CdImageContents& contents)
    {
        CdDeviceHandle handle (platform::openCdDevice (writeCdImage (folder / name, contents).cue.getFullPathName()));
        return AudioCdImport::readDisc (handle, "/dev/sr9", nullptr);
    };
    const CdImageContents base { { cdAudio (1, 100), cdAudio (2, 37) }, 60, "  Show Disc " };
    const auto disc = read ("base", base);
    ASSERT_TRUE (disc.has_value());
    EXPECT_EQ (disc->title, "Show Disc");
    ASSERT_EQ (disc->tracks.size(), 2u);
    EXPECT_EQ (disc->tracks[0].name + "/" + disc->tracks[1].name, "Track 01/Track 02");
    EXPECT_EQ (std::make_pair (disc->tracks[1].startSector, disc->tracks[1].sectorCount), std::make_pair (100, 37));
    EXPECT_TRUE (disc->discKey.startsWith ("/dev/sr9:") && disc->discKey.substring (9).containsOnly ("0123456789abcdef"));

    const struct { const char* name; CdImageContents contents; bool sameKey; } cases[] = {
        { "again", base, true },
        { "untitled", { base.tracks, 60, {} }, true },
        { "other-data", { base.tracks, 61, "  Show Disc " }, false },
        { "other-audio", { { cdAudio (1, 100), cdAudio (2, 38) }, 60, {} }, false },
    };
    for (const auto& c : cases)
        EXPECT_EQ (read (c.name, c.contents)->discKey == disc->discKey, c.sameKey) << c.name;
}

TEST (CdRipping, ARippedTrackHoldsTheDiscsBytesBehindAStandardHeader)
{
    TempFolder folder ("cd-rip");
    const auto image = writeCdImage (folder.path(), { { cdAudio (1, 20), cdAudio (2, 37) }, 30, {} });
    CdDeviceHandle handle (platform::openCdDevice (image.cue.getFullPathName()));
    const auto disc = AudioCdImport::readDisc (handle, "image", nullptr);
    ASSERT_TRUE (disc.has_value());
    std::vector<double> progress;
    const auto wav = folder / "Track02.wav";
    AudioCdImport::ripTrack (handle, disc->tracks[1], wav, nullptr, [&] (double f) { progress.push_back (f); });

    const auto bytes = vantrel::testing::readBytes (wav);
    ASSERT_EQ (bytes.size(), 44u + 87024u);
    EXPECT_TRUE (std::equal (image.tracks[1].begin(), image.tracks[1].end(), (const std::uint8_t*) bytes.data() + 44));
    EXPECT_EQ (progress, (std::vector<double> { 16.0 / 37, 32.0 / 37, 1.0 }));

    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (new juce::FileInputStream (wav), true));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (std::make_tuple (reader->sampleRate, reader->numChannels, reader->bitsPerSample, reader->lengthInSamples),
               std::make_tuple (44100.0, 2u, 16u, (juce::int64) 37 * 588));
    EXPECT_EQ ((std::uint8_t) bytes[4] | (std::uint8_t) bytes[5] << 8 | (std::uint8_t) bytes[6] << 16, 87024 + 36);
}

TEST (CdRipping, BlocksAreAcceptedOnlyWhenTwoReadsAgreeWithinThreeAttempts)
{
    using Read = std::function<int (FakeDrive&, int, int, std::uint8_t*)>;
    const struct { const char* name; int reads; bool fails; Read read; } cases[] = {
        { "never equal", 6, true, [] (FakeDrive& d, int, int n, std::uint8_t* out) { out[0] = (std::uint8_t) d.reads; return n * 2352; } },
        { "failing", 6, true, [] (FakeDrive&, int, int, std::uint8_t*) { return -1; } },
        { "short", 6, true, [] (FakeDrive& d, int s, int n, std::uint8_t* out) { return d.readDisc (s, n, out) - 4; } },
        { "equal on the 2nd attempt", 4, false, [] (FakeDrive& d, int s, int n, std::uint8_t* out)
          { const int r = d.readDisc (s, n, out); out[0] ^= (std::uint8_t) (d.reads == 2); return r; } },
    };
    for (const auto& c : cases)
    {
        TempFolder folder ("cd-rip");
        auto drive = driveWith (fakeDisc ({ 10 }));
        drive->read = [d = drive.get(), &c] (int s, int n, std::uint8_t* out) { return c.read (*d, s, n, out); };
        CdDeviceHandle handle (std::make_unique<FakeCdDevice> (drive));
        EXPECT_EQ (ripFailure (handle, 10, folder / "t.wav"), c.fails ? ja (mismatch) : juce::String()) << c.name;
        EXPECT_EQ (drive->reads, c.reads) << c.name;
    }
}

TEST (CdRipping, AHangingReadIsGivenUpOnTheTimeLimitOrACancelWithoutWaitingForIt)
{
    const struct { int limitMs; bool cancel; const char* failure; } cases[] = {
        { 200, false, mismatch },
        { 3600000, true, "CD取込をキャンセルしました" },
    };
    for (const auto& c : cases)
    {
        TempFolder folder ("cd-rip");
        HangingRead hang;
        auto drive = driveWith (fakeDisc ({ 40 }), hang.read());
        auto handle = std::make_unique<CdDeviceHandle> (std::make_unique<FakeCdDevice> (drive), c.limitMs);
        std::atomic<bool> cancel { false }, done { false };
        juce::String failure;
        std::thread rip ([&] { failure = ripFailure (*handle, 40, folder / "t.wav", &cancel); done = true; });
        if (c.cancel && eventually ([&] { return hang.inside.load(); }))
            cancel = true;
        const bool ripReturned = eventually ([&] { return done.load(); });
        EXPECT_TRUE (ripReturned);
        EXPECT_FALSE (hang.returned);   // given up while the read is still in the drive
        if (! ripReturned)
            hang.gate.set_value();
        rip.join();
        EXPECT_EQ (failure, ja (c.failure));
        EXPECT_EQ (drive->reads, 1);    // and nothing more was asked of the handle
        platform::CdToc toc;
        EXPECT_FALSE (handle->readToc (toc, nullptr));
        handle.reset();                 // does not wait for the read
        if (ripReturned)
            hang.gate.set_value();
        EXPECT_TRUE (eventually ([&] { return drive.use_count() == 1; }));   // the device closed after the read
    }
}

TEST (CdRipping, TracksLongerThanTheSoundMemoryAreRefusedBeforeAnyFileExists)
{
    const struct { int sectors; const char* failure; bool fileExists; } cases[] = {
        { 114131, "このトラックはVantrelの音源メモリ上限を超えます", false },
        { 114130, mismatch, true },   // passed the size rule: the first read fails
    };
    for (const auto& c : cases)
    {
        TempFolder folder ("cd-rip");
        CdDeviceHandle handle (std::make_unique<FakeCdDevice> (driveWith ({}, [] (int, int, std::uint8_t*) { return -1; })));
        EXPECT_EQ (ripFailure (handle, c.sectors, folder / "t.wav"), ja (c.failure));
        EXPECT_EQ ((folder / "t.wav").exists(), c.fileExists);
    }
}

TEST (CdRipping, TablesThatCannotDescribeAnAudioDiscGiveNoDiscAndEnhancedDiscsEndBeforeTheGap)
{
    auto enhanced = fakeDisc ({ 100, 200 }, true);
    enhanced.toc.entries[2] = { 3, 4, 150 + 300 + 11400, 2 };
    enhanced.toc.entries[3] = { 0xAA, 0, 150 + 300 + 11400 + 300, 2 };
    auto shortTable = fakeDisc ({ 100, 200 });
    ++shortTable.toc.lastTrack;
    auto early = fakeDisc ({ 100 });
    early.toc.entries[0].frames = 149;

    const struct { const char* name; FakeDisc disc; std::vector<int> counts; const char* title; } cases[] = {
        { "mixed", fakeDisc ({ 100, 200 }, true, " Live "), { 100, 200 }, "Live" },
        { "enhanced", enhanced, { 100, 200 }, "Audio CD" },
        { "blank title", fakeDisc ({ 5 }, false, "   "), { 5 }, "Audio CD" },
        { "short table", shortTable, {}, "" },
        { "data only", fakeDisc ({}, true), {}, "" },
        { "before the lead-in", early, {}, "" },
    };
    for (const auto& c : cases)
    {
        CdDeviceHandle handle (std::make_unique<FakeCdDevice> (driveWith (c.disc)));
        const auto disc = AudioCdImport::readDisc (handle, "d", nullptr);
        ASSERT_EQ (disc.has_value(), ! c.counts.empty()) << c.name;
        std::vector<int> counts;
        for (const auto& track : disc ? disc->tracks : std::vector<CdTrack> {})
            counts.push_back (track.sectorCount);
        EXPECT_EQ (counts, c.counts) << c.name;
        EXPECT_EQ (disc ? disc->title : juce::String(), c.title) << c.name;
    }
}

TEST (CdRipping, ListingFindsTheDiscOfEachDriveAndStopsOnTheFlag)
{
    TempFolder folder ("cd-rip");
    auto empty = driveWith ({});
    empty->hasDisc = false;
    CdImportSetup setup;
    setup.drives = fakeDrives ({ { "a", driveWith (fakeDisc ({ 30 })) }, { "b", empty }, { "c", driveWith (fakeDisc ({ 30 })) } });
    AudioCdImport importer (folder.path(), setup);

    std::atomic<bool> flag { false };
    const auto discs = importer.listDiscs (&flag);
    ASSERT_EQ (discs.size(), 2u);
    EXPECT_EQ (discs[0].drive + discs[1].drive, "ac");   // the drive without a disc gives none
    EXPECT_EQ (discs[0].discKey.substring (1), discs[1].discKey.substring (1));   // the same disc in another drive
    flag = true;
    EXPECT_TRUE (importer.listDiscs (&flag).empty());
}
} // namespace
