#include "LibraryFixtures.h"

#include "session/Library.h"
#include "session/LibraryNames.h"
#include "session/UiLanguage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vantrel;
using namespace vantrel::librarytest;

namespace
{
/** Runs one scan and waits until it is published. */
LibrarySnapshot scanOnce (Library& library, const CatalogDocument& document, const PadSlots& pads)
{
    const auto before = library.items().generation;
    library.refresh (document, pads);
    eventually ([&] { const auto s = library.items(); return ! s.scanning && s.generation > before; });
    return library.items();
}

const LibraryItem* findItem (const LibrarySnapshot& snapshot, const juce::File& file)
{
    for (const auto& item : *snapshot.items)
        if (item.path == file.getFullPathName())
            return &item;

    return nullptr;
}

/** A session tree with every kind of file the scan meets:
    - playlists/pl-one/audio: track2.wav (3 rows), track10.wav (named "Cue 10" in the names
      record), A.wav and a.wav, .hidden.wav, and cache.bin, notes.json and a sub-folder that are
      not audio; pl-one holds a pending copy journal;
    - playlists/pl-two/audio/x.MP3, used by a row without title;
    - playlists/bad_id/audio/z.wav (a folder whose name is not an id);
    - playlists/pl-out: a link to a playlist-like folder outside the root;
    - pad/assets: a link to a folder outside the root, holding p.wav (used by two pads) and q.wav;
    - outside: song.flac (a row) and alias.flac, a link to it (another row), and missing.wav. */
struct SessionTree
{
    ScratchFolder scratch;
    juce::File root = scratch / "music";
    juce::File outside = scratch / "outside";
    juce::File one = root.getChildFile ("playlists/pl-one/audio");
    juce::File two = root.getChildFile ("playlists/pl-two/audio");
    CatalogDocument document;
    PadSlots pads;

    SessionTree()
    {
        writeBytes (one.getChildFile ("track2.wav"), patternBytes (1000, 1));
        writeBytes (one.getChildFile ("track10.wav"), patternBytes (1010, 2));
        writeBytes (one.getChildFile ("A.wav"), patternBytes (1020, 3));
        writeBytes (one.getChildFile ("a.wav"), patternBytes (1030, 4));
        writeBytes (one.getChildFile (".hidden.wav"), patternBytes (1040, 5));
        writeBytes (one.getChildFile ("cache.bin"), "cache");
        writeBytes (one.getChildFile ("notes.json"), "{}");
        one.getChildFile ("sub.wav").createDirectory();
        writeBytes (one.getParentDirectory().getChildFile ("playlist.json"), "{}");
        writeBytes (one.getParentDirectory().getChildFile ("pending-copy-0123.json"), "{}");
        writeBytes (two.getChildFile ("x.MP3"), patternBytes (1050, 6));
        writeBytes (root.getChildFile ("playlists/bad_id/audio/z.wav"), patternBytes (10, 7));
        writeBytes (outside.getChildFile ("pl/audio/o.wav"), patternBytes (10, 8));
        makeLink (outside.getChildFile ("pl"), root.getChildFile ("playlists/pl-out"));
        writeBytes (outside.getChildFile ("assets/p.wav"), patternBytes (1060, 9));
        writeBytes (outside.getChildFile ("assets/q.wav"), patternBytes (10, 10));
        makeLink (outside.getChildFile ("assets"), root.getChildFile ("pad/assets"));
        writeBytes (outside.getChildFile ("song.flac"), patternBytes (1070, 11));
        makeLink (outside.getChildFile ("song.flac"), outside.getChildFile ("alias.flac"));

        LibraryNameMap names;
        names["playlists/pl-one/audio/track10.wav"] = "Cue 10";
        writeLibraryNames (root.getChildFile ("library-names.json"), names);

        const auto track2 = one.getChildFile ("track2.wav").getFullPathName();
        document.playlists.push_back (makePlaylist ("pl-one", "Show", {
            makeRow ("r1", "Cue 2", track2),
            makeRow ("r2", "", track2),
            makeRow ("r3", "other", track2),
            makeRow ("r4", "Song", outside.getChildFile ("song.flac").getFullPathName()),
            makeRow ("r5", "Alias", outside.getChildFile ("alias.flac").getFullPathName()),
            makeRow ("r6", "Rel", "relative.wav"),
            makeRow ("r7", "Gone", outside.getChildFile ("missing.wav").getFullPathName()) }));
        document.playlists.push_back (makePlaylist ("pl-two", "Second", {
            makeRow ("r8", "", two.getChildFile ("x.MP3").getFullPathName()) }));
        pads[0] = { "Horn", "p.wav", 0.0f };
        pads[11] = { "", "p.wav", 0.0f };
    }
};

struct Expected
{
    juce::String displayName;
    juce::String path;
    juce::String usesText;
    LibraryFileKind kind;
    int rowUses, padUses;
    int64_t bytes;
    bool exists, pending;
};
} // namespace

TEST (Library, BeforeTheFirstScanTheListIsEmpty)
{
    ScratchFolder scratch;
    Library library (scratch.path());
    const auto snapshot = library.items();

    ASSERT_NE (snapshot.items, nullptr);
    EXPECT_TRUE (snapshot.items->empty());
    EXPECT_EQ (snapshot.generation, 0);
    EXPECT_FALSE (snapshot.scanning);
    EXPECT_TRUE (snapshot.status.isEmpty());
}

TEST (Library, ScanListsEveryFileOnceWithItsUsesInNaturalOrder)
{
    setUiLanguage (false);
    SessionTree tree;
    Library library (tree.root);
    const auto snapshot = scanOnce (library, tree.document, tree.pads);

    const auto pending = ja ("取込の保存確定待ち");
    const auto show = ja ("プレイリスト: Show");
    using K = LibraryFileKind;
    const std::vector<Expected> expected {
        { ".hidden.wav", tree.one.getChildFile (".hidden.wav").getFullPathName(), pending, K::PlaylistCopy, 0, 0, 1040, true, true },
        { "A.wav", tree.one.getChildFile ("A.wav").getFullPathName(), pending, K::PlaylistCopy, 0, 0, 1020, true, true },
        { "a.wav", tree.one.getChildFile ("a.wav").getFullPathName(), pending, K::PlaylistCopy, 0, 0, 1030, true, true },
        { "Cue 2", tree.one.getChildFile ("track2.wav").getFullPathName(), show, K::PlaylistCopy, 3, 0, 1000, true, true },
        { "Cue 10", tree.one.getChildFile ("track10.wav").getFullPathName(), pending, K::PlaylistCopy, 0, 0, 1010, true, true },
        { "Gone", tree.outside.getChildFile ("missing.wav").getFullPathName(), show, K::External, 1, 0, 0, false, false },
        { "Horn", tree.root.getChildFile ("pad/assets/p.wav").getFullPathName(), "PAD 1 / 1 / PAD 2 / 3", K::External, 0, 2, 1060, true, false },
        { "Song", tree.outside.getChildFile ("song.flac").getFullPathName(), show, K::External, 2, 0, 1070, true, false },
        { "x.MP3", tree.two.getChildFile ("x.MP3").getFullPathName(), ja ("プレイリスト: Second"), K::PlaylistCopy, 1, 0, 1050, true, false },
    };

    EXPECT_EQ (snapshot.generation, 1);
    EXPECT_FALSE (snapshot.scanning);
    EXPECT_TRUE (snapshot.status.isEmpty());
    ASSERT_EQ (snapshot.items->size(), expected.size());

    for (size_t i = 0; i < expected.size(); ++i)
    {
        const auto& item = (*snapshot.items)[i];
        const auto& want = expected[i];
        SCOPED_TRACE (want.displayName);
        EXPECT_EQ (item.displayName, want.displayName);
        EXPECT_EQ (item.path, want.path);
        EXPECT_EQ (item.usesText, want.usesText);
        EXPECT_EQ (item.kind, want.kind);
        EXPECT_EQ (item.rowUses, want.rowUses);
        EXPECT_EQ (item.padUses, want.padUses);
        EXPECT_EQ (item.bytes, want.bytes);
        EXPECT_EQ (item.exists, want.exists);
        EXPECT_EQ (item.pending, want.pending);
    }
}

TEST (Library, FindFileUsesCountsEveryRowAndPadOfTheFile)
{
    setUiLanguage (false);
    SessionTree tree;
    Library library (tree.root);

    const auto track2 = library.findFileUses (tree.one.getChildFile ("track2.wav"), tree.document.playlists, tree.pads);
    EXPECT_EQ (track2.usesText, ja ("プレイリスト: Show (3)"));
    EXPECT_EQ (track2.rowUses, 3);
    EXPECT_EQ (track2.displayName, "Cue 2");
    EXPECT_TRUE (track2.pending);

    // Through the link: the same file, the same uses; the pads' names give the display name.
    const auto pad = library.findFileUses (tree.outside.getChildFile ("assets/p.wav"), tree.document.playlists, tree.pads);
    EXPECT_EQ (pad.padUses, 2);
    EXPECT_EQ (pad.usesText, "PAD 1 / 1 / PAD 2 / 3");
    EXPECT_EQ (pad.displayName, "Horn");
    EXPECT_EQ (pad.kind, LibraryFileKind::External);

    // A.wav and a.wav are two files: a row of one is no use of the other.
    auto document = tree.document;
    document.playlists[1].rows.push_back (makeRow ("r9", "Upper", tree.one.getChildFile ("A.wav").getFullPathName()));
    const auto lower = library.findFileUses (tree.one.getChildFile ("a.wav"), document.playlists, tree.pads);
    const auto upper = library.findFileUses (tree.one.getChildFile ("A.wav"), document.playlists, tree.pads);
    EXPECT_EQ (lower.rowUses, 0);
    EXPECT_EQ (lower.usesText, ja ("取込の保存確定待ち"));
    EXPECT_EQ (upper.rowUses, 1);
    EXPECT_EQ (upper.displayName, "Upper");

    // Only the first row of the catalog names the file; its empty title keeps the file name.
    document.playlists[1].rows = { makeRow ("r10", "", tree.two.getChildFile ("x.MP3").getFullPathName()),
                                   makeRow ("r11", "Later", tree.two.getChildFile ("x.MP3").getFullPathName()) };
    const auto x = library.findFileUses (tree.two.getChildFile ("x.MP3"), document.playlists, tree.pads);
    EXPECT_EQ (x.displayName, "x.MP3");
    EXPECT_EQ (x.usesText, ja ("プレイリスト: Second (2)"));
    EXPECT_FALSE (x.pending);

    // An unused copy of a playlist without a pending record is unused; a folder named like a
    // journal is no record; a CD import record is one.
    const auto spare = tree.two.getChildFile ("spare.wav");
    writeBytes (spare, "spare");
    tree.two.getSiblingFile ("pending-copy-folder.json").createDirectory();
    EXPECT_EQ (library.findFileUses (spare, {}, {}).usesText, ja ("未使用"));
    EXPECT_FALSE (library.findFileUses (spare, {}, {}).pending);
    setUiLanguage (true);
    EXPECT_EQ (library.findFileUses (spare, {}, {}).usesText, "Unused");
    EXPECT_EQ (library.findFileUses (tree.two.getChildFile ("x.MP3"), { document.playlists[1] }, {}).usesText, "Playlist: Second (2)");
    setUiLanguage (false);
    writeBytes (tree.two.getSiblingFile ("pending-import.json"), "{}");
    EXPECT_TRUE (library.findFileUses (spare, {}, {}).pending);
    EXPECT_EQ (library.findFileUses (spare, {}, {}).usesText, ja ("取込の保存確定待ち"));
}

TEST (Library, ClassifyLooksAtTheResolvedPlace)
{
    SessionTree tree;
    Library library (tree.root);
    using K = LibraryFileKind;
    const auto& root = tree.root;

    const std::vector<std::pair<juce::File, K>> cases {
        { root.getChildFile ("playlists/pl-one/audio/new.wav"), K::PlaylistCopy },   // need not exist
        { root.getChildFile ("playlists/pl-one/audio/new.FLAC"), K::PlaylistCopy },
        { root.getChildFile ("playlists/pl-one/audio/new.txt"), K::External },
        { root.getChildFile ("playlists/pl-one/audio/deeper/new.wav"), K::External },
        { root.getChildFile ("playlists/bad_id/audio/z.wav"), K::External },
        { root.getChildFile ("playlists/pl-out/audio/o.wav"), K::External },      // leads out of the root
        { root.getChildFile ("pad/assets/p.wav"), K::External },                  // likewise
        { root.getChildFile ("Playlists/pl-one/audio/new.wav"), K::External },    // names compare with case
        { root.getChildFile ("playlists/pl-one/Audio/new.wav"), K::External },
        { root.getChildFile ("pad/new.wav"), K::External },
        { tree.outside.getChildFile ("song.flac"), K::External },
    };

    for (const auto& [file, kind] : cases)
        EXPECT_EQ (library.classify (file), kind) << file.getFullPathName();

    // A link inside the root that leads to a managed place classifies by where it leads;
    // a file named with a backslash is one name, not two components.
    makeLink (tree.one, root.getChildFile ("shortcut"));
    EXPECT_EQ (library.classify (root.getChildFile ("shortcut/a.wav")), K::PlaylistCopy);
    writeBytes (root.getChildFile ("pad/real/x.wav"), "x");
    EXPECT_EQ (library.classify (root.getChildFile ("pad/real/x.wav")), K::External);

    // Keys and canonical paths keep case and resolve links.
    EXPECT_NE (Library::libraryPathKey (tree.one.getChildFile ("A.wav")), Library::libraryPathKey (tree.one.getChildFile ("a.wav")));
    EXPECT_EQ (Library::libraryPathKey (tree.outside.getChildFile ("alias.flac")), tree.outside.getChildFile ("song.flac").getFullPathName());
    EXPECT_EQ (Library::canonicalPath (tree.outside.getChildFile ("none/../song.flac")), tree.outside.getChildFile ("song.flac").getFullPathName());
    EXPECT_EQ (Library::canonicalPath (tree.outside.getChildFile ("not/there.wav")), tree.outside.getChildFile ("not/there.wav").getFullPathName());
}

TEST (Library, ANamesRecordThatCannotBeReadIsNeverReplaced)
{
    const std::vector<std::pair<const char*, std::string>> cases {
        { "16 MiB + 1", "" },   // filled below
        { "not JSON", "{\"schema\": 1, \"names\": {" },
        { "schema 2", "{\"schema\": 2, \"names\": {}}" },
        { "schema 1.0", "{\"schema\": 1.0, \"names\": {}}" },
        { "schema as text", "{\"schema\": \"1\", \"names\": {}}" },
        { "names an array", "{\"schema\": 1, \"names\": []}" },
        { "names missing", "{\"schema\": 1}" },
        { "invalid UTF-8", "{\"schema\": 1, \"names\": {\"a\": \"\xff\"}}" },
    };

    for (const auto& [label, text] : cases)
    {
        SCOPED_TRACE (label);
        SessionTree tree;
        const auto file = tree.root.getChildFile ("library-names.json");
        auto bytes = text;

        if (bytes.empty())
        {
            // A valid record one byte over the limit.
            bytes = "{\"schema\": 1, \"names\": {\"playlists/pl-one/audio/A.wav\": \"Big\"}}";
            bytes += std::string (static_cast<size_t> (libraryNamesSizeLimit) + 1 - bytes.size(), ' ');
        }

        ASSERT_TRUE (writeBytes (file, bytes));
        Library library (tree.root);
        const auto message = ja ("ライブラリ名の記録を読めません。元の記録と音源は保持しています");

        EXPECT_FALSE (library.rename (tree.one.getChildFile ("A.wav"), "New"));
        EXPECT_TRUE (library.rename (tree.outside.getChildFile ("song.flac"), "Outside"));   // nothing to store
        EXPECT_EQ (scanOnce (library, tree.document, tree.pads).status, message);
        EXPECT_EQ (library.findFileUses (tree.one.getChildFile ("track10.wav"), {}, {}).displayName, "track10.wav");
        EXPECT_FALSE (library.rename (tree.one.getChildFile ("A.wav"), "Again"));
        EXPECT_TRUE (readBytes (file) == bytes);
        EXPECT_FALSE (tree.root.getChildFile ("library-names.json.bak").exists());
    }
}

TEST (Library, NamesRecordReadsWritesAndSkipsUnsafeKeys)
{
    SessionTree tree;
    const auto file = tree.root.getChildFile ("library-names.json");
    writeBytes (file, "{\"schema\": 1, \"names\": {\"../up.wav\": \"a\", \"/abs.wav\": \"b\", \"c:d.wav\": \"c\","
                      " \"playlists/pl-one/audio/A.wav\": \"Good\", \"playlists/pl-one/audio/a.wav\": 7}}");
    {
        Library library (tree.root);
        EXPECT_EQ (library.findFileUses (tree.one.getChildFile ("A.wav"), {}, {}).displayName, "Good");
        EXPECT_EQ (library.findFileUses (tree.one.getChildFile ("a.wav"), {}, {}).displayName, "7");
        EXPECT_TRUE (scanOnce (library, tree.document, tree.pads).status.isEmpty());

        // The same name again writes nothing; an empty name stores nothing.
        const auto before = readBytes (file);
        EXPECT_TRUE (library.rename (tree.one.getChildFile ("A.wav"), "Good"));
        EXPECT_TRUE (library.rename (tree.one.getChildFile ("A.wav"), ""));
        EXPECT_EQ (readBytes (file), before);
        EXPECT_FALSE (tree.root.getChildFile ("library-names.json.bak").exists());

        // A new name is written with the previous record kept in ".bak".
        EXPECT_TRUE (library.rename (tree.one.getChildFile ("A.wav"), ja ("新しい名前")));
        EXPECT_TRUE (library.rename (tree.root.getChildFile ("pad/assets/p.wav"), "Outside"));   // leads out: not stored
        EXPECT_EQ (readBytes (tree.root.getChildFile ("library-names.json.bak")), before);
    }

    Library reopened (tree.root);
    EXPECT_EQ (reopened.findFileUses (tree.one.getChildFile ("A.wav"), {}, {}).displayName, ja ("新しい名前"));
    EXPECT_EQ (reopened.findFileUses (tree.one.getChildFile ("a.wav"), {}, {}).displayName, "7");

    juce::var json;
    ASSERT_TRUE (juce::JSON::parse (juce::String::fromUTF8 (readBytes (file).c_str()), json).wasOk());
    EXPECT_TRUE (json["schema"].isInt());
    EXPECT_EQ (static_cast<int> (json["schema"]), 1);
    ASSERT_NE (json["names"].getDynamicObject(), nullptr);
    EXPECT_EQ (json["names"].getDynamicObject()->getProperties().size(), 2);   // the unsafe keys are gone
}

TEST (Library, ARenameThatWouldOutgrowTheReaderIsRefused)
{
    SessionTree tree;
    LibraryOptions options;
    options.namesSizeLimit = 200;
    const auto file = tree.root.getChildFile ("library-names.json");
    const auto before = readBytes (file);
    Library library (tree.root, options);

    EXPECT_TRUE (library.rename (tree.one.getChildFile ("A.wav"), "Short"));
    const auto accepted = readBytes (file);
    EXPECT_NE (accepted, before);

    EXPECT_FALSE (library.rename (tree.one.getChildFile ("a.wav"), juce::String::repeatedString ("long ", 60)));
    EXPECT_TRUE (library.lastRenameError().isNotEmpty());
    EXPECT_EQ (readBytes (file), accepted);
    EXPECT_EQ (library.findFileUses (tree.one.getChildFile ("a.wav"), {}, {}).displayName, "a.wav");

    // What the writer accepted, the reader reads.
    Library reopened (tree.root, options);
    EXPECT_EQ (reopened.findFileUses (tree.one.getChildFile ("A.wav"), {}, {}).displayName, "Short");
}

TEST (Library, AFolderThatCannotBeListedOnlyLeavesItsFilesOut)
{
    SessionTree tree;
    // pl-two's audio folder is a file, and pad/assets is missing altogether.
    tree.two.deleteRecursively();
    writeBytes (tree.two, "not a folder");
    tree.root.getChildFile ("pad/assets").deleteFile();
    Library library (tree.root);
    const auto snapshot = scanOnce (library, tree.document, tree.pads);

    EXPECT_FALSE (snapshot.scanning);
    EXPECT_EQ (snapshot.generation, 1);
    const auto* x = findItem (snapshot, tree.two.getChildFile ("x.MP3"));
    ASSERT_NE (x, nullptr);   // still listed through its row
    EXPECT_FALSE (x->exists);
    EXPECT_NE (findItem (snapshot, tree.one.getChildFile ("A.wav")), nullptr);
}

TEST (Library, ThePartialFilesOfStoppedCopiesAreNeverListed)
{
    ScratchFolder scratch;
    const auto root = scratch / "music";
    const auto audio = root.getChildFile ("playlists/pl/audio");
    const juce::String id ("0123456789abcdef0123456789abcdef");

    // Partial files of copies stopped mid-way, for any row and any accepted extension.
    const juce::StringArray partial { id + "_temp1a2b3c4d.wav", id + "_tempffffffff.mp3", "row-7_temp00000000.flac",
                                      "Row7_temp12345678.aiff" };

    // Files that only look like them are library files like any other.
    const juce::StringArray listed { id + ".wav", id + "_temp1a2b3c4.wav", id + "_temp1A2B3C4D.wav",
                                     id + "_temp1a2b3c4d0.wav", "my_song_temp1a2b3c4d.wav", "_temp1a2b3c4d.wav",
                                     "take_temp.wav" };

    for (const auto& name : partial)
        writeBytes (audio.getChildFile (name), patternBytes (100, 1));

    for (const auto& name : listed)
        writeBytes (audio.getChildFile (name), patternBytes (100, 2));

    Library library (root);
    const auto snapshot = scanOnce (library, {}, {});
    juce::StringArray names;

    for (const auto& item : *snapshot.items)
        names.add (juce::File (item.path).getFileName());

    names.sort (false);
    auto expected = listed;
    expected.sort (false);
    EXPECT_EQ (names, expected);

    // A row that names one (never written by the program) still shows it, through its use.
    CatalogDocument document;
    document.playlists.push_back (makePlaylist ("pl", "Show", { makeRow ("r", "Odd", audio.getChildFile (partial[0]).getFullPathName()) }));
    const auto withRow = scanOnce (library, document, {});
    EXPECT_NE (findItem (withRow, audio.getChildFile (partial[0])), nullptr);
    EXPECT_EQ (findItem (withRow, audio.getChildFile (partial[1])), nullptr);
}

TEST (Library, ARefreshWhileAScanRunsIsDroppedAndALaterOneScansAgain)
{
    SessionTree tree;
    std::atomic<bool> hold { true };
    std::atomic<int> publishes { 0 };
    LibraryOptions options;
    options.onScanStep = [&] (const std::atomic<bool>&) { while (hold.load()) std::this_thread::yield(); };
    options.onPublish = [&] (int64_t) { ++publishes; };
    Library library (tree.root, options);

    library.refresh (tree.document, tree.pads);
    EXPECT_TRUE (library.items().scanning);
    auto changed = tree.document;
    changed.playlists.clear();
    library.refresh (changed, tree.pads);   // dropped
    hold = false;

    ASSERT_TRUE (eventually ([&] { return ! library.items().scanning; }));
    const auto first = library.items();
    EXPECT_EQ (first.generation, 1);
    EXPECT_EQ (publishes.load(), 1);
    EXPECT_NE (findItem (first, tree.outside.getChildFile ("song.flac")), nullptr);   // the first catalog's list

    const auto second = scanOnce (library, changed, tree.pads);
    EXPECT_EQ (second.generation, 2);
    EXPECT_EQ (findItem (second, tree.outside.getChildFile ("song.flac")), nullptr);
    EXPECT_EQ (first.items->size(), 9u);   // a snapshot taken earlier keeps its list
}

TEST (Library, DestroyingTheLibraryMidScanStopsAtTheNextStepAndPublishesNothing)
{
    ScratchFolder scratch;
    const auto root = scratch / "music";
    CatalogDocument document;
    Playlist playlist = makePlaylist ("big", "Big", {});

    for (int i = 0; i < 3000; ++i)
    {
        const auto file = root.getChildFile ("playlists/big/audio/f" + juce::String (i) + ".wav");
        writeBytes (file, "x");

        if (i % 3 == 0)
            playlist.rows.push_back (makeRow ("row" + std::to_string (i), "T", file.getFullPathName()));
    }

    document.playlists.push_back (playlist);
    std::atomic<int> steps { 0 }, stepsAfterStop { 0 }, publishes { 0 };
    std::atomic<bool> midScan { false };
    LibraryOptions options;
    options.onScanStep = [&] (const std::atomic<bool>& stopping)
    {
        if (stopping.load())
            ++stepsAfterStop;

        if (++steps == 2500)
        {
            midScan = true;

            while (! stopping.load())
                std::this_thread::yield();
        }
    };
    options.onPublish = [&] (int64_t) { ++publishes; };

    auto library = std::make_unique<Library> (root, options);
    library->refresh (document, {});
    ASSERT_TRUE (eventually ([&] { return midScan.load(); }));
    library.reset();

    EXPECT_EQ (publishes.load(), 0);
    EXPECT_LE (stepsAfterStop.load(), 2);
    EXPECT_LT (steps.load(), 2505);
}
