#include "LibraryFixtures.h"

#include "platform/FileFaults.h"
#include "platform/FileStatus.h"
#include "support/ForkedCall.h"
#include "session/CopyTransaction.h"
#include "session/FileSignature.h"
#include "session/Library.h"
#include "session/SessionDocuments.h"
#include "session/UiLanguage.h"

#include <gtest/gtest.h>

using namespace vantrel;
using namespace vantrel::librarytest;
using platform::FileFaults;
using platform::FileOp;

namespace
{
/** A data root and a folder of source files outside it. */
struct CopyScene
{
    ScratchFolder scratch { "copy" };
    juce::File root = scratch / "music";
    juce::File sourceFolder = scratch / "src";

    CopyScene()  { root.createDirectory(); }

    juce::String source (const juce::String& name, size_t size, uint32_t seed) const
    {
        const auto file = sourceFolder.getChildFile (name);
        writeBytes (file, patternBytes (size, seed));
        return file.getFullPathName();
    }

    juce::File audio (const std::string& playlistId) const
    {
        return root.getChildFile ("playlists").getChildFile (juce::String (playlistId)).getChildFile ("audio");
    }

    juce::File playlistFolder (const std::string& playlistId) const  { return audio (playlistId).getParentDirectory(); }

    std::map<juce::String, std::string> files() const  { return snapshotFiles (scratch.path()); }
};

juce::var readJson (const juce::File& file)
{
    juce::var json;
    juce::JSON::parse (juce::String::fromUTF8 (readBytes (file).c_str()), json);
    return json;
}

juce::StringArray namesIn (const juce::File& folder)
{
    juce::StringArray names;

    for (const auto& file : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*"))
        names.add (file.getFileName());

    names.sort (false);
    return names;
}

/** Every row's file holds its source's bytes and the signature the row carries. */
void expectVerifiedRows (const CopyResult& result, const juce::StringArray& sources)
{
    ASSERT_EQ (result.playlist.rows.size(), static_cast<size_t> (sources.size()));

    for (size_t i = 0; i < result.playlist.rows.size(); ++i)
    {
        const auto& row = result.playlist.rows[i];
        const juce::File copy (juce::String (row.source));
        const auto signature = readFileSignature (copy);
        EXPECT_EQ (fileHash (copy), fileHash (juce::File (sources[static_cast<int> (i)]))) << row.source;
        EXPECT_EQ (row.bytes, static_cast<uint64_t> (signature.size));
        EXPECT_EQ (row.modified, signature.modified.toMilliseconds());
        EXPECT_GT (row.bytes, 0u);
    }
}

/** A journal object as the transaction writes one. */
juce::var journalObject (const juce::StringArray& sources, const juce::var& complete, const Playlist& playlist)
{
    CatalogState state;
    state.document.playlists = { playlist };
    state.document.current = playlist.id;

    juce::Array<juce::var> list;

    for (const auto& source : sources)
        list.add (source);

    auto* object = new juce::DynamicObject();
    juce::var journal (object);
    object->setProperty ("sources", list);

    if (! complete.isVoid())
        object->setProperty ("complete", complete);

    object->setProperty ("state", catalogToJson (state));
    return journal;
}

std::string journalBytes (const juce::var& journal)
{
    return juce::JSON::toString (journal, false, 17).toStdString();
}
} // namespace

TEST (CopyTransaction, ANewRequestCopiesVerifiesAndCompletesItsJournal)
{
    CopyScene scene;
    const auto managed = scene.root.getChildFile ("pad/assets/kept.wav");
    writeBytes (managed, patternBytes (5000, 9));
    const juce::StringArray sources { scene.source ("one.WAV", 70000, 1), scene.source ("two.flac", 65536, 2),
                                      managed.getFullPathName(), scene.source ("one.WAV", 70000, 1) };
    const juce::StringArray titles { "One", ja ("二"), "Kept", "One again" };

    const auto result = copyIntoLibrary (scene.root, "pl-1", sources, titles, {});

    ASSERT_TRUE (result.message.isEmpty()) << result.message;
    EXPECT_EQ (result.saveTicket, 0);
    EXPECT_EQ (result.playlist.id, "pl-1");
    EXPECT_EQ (result.playlist.name, "Import");
    expectVerifiedRows (result, sources);

    const auto& rows = result.playlist.rows;
    EXPECT_EQ (rows[1].title, ja ("二").toStdString());
    EXPECT_EQ (rows[2].source, managed.getFullPathName().toStdString());   // left where it is
    EXPECT_NE (rows[0].id, rows[3].id);
    EXPECT_NE (rows[0].source, rows[3].source);                            // two copies of one file

    for (const auto index : { 0, 1, 3 })
    {
        const auto& row = rows[static_cast<size_t> (index)];
        EXPECT_EQ (row.id.size(), 32u);
        EXPECT_EQ (juce::String (row.id).retainCharacters ("0123456789abcdef").length(), 32);
        EXPECT_EQ (juce::File (juce::String (row.source)).getParentDirectory(), scene.audio ("pl-1"));
        EXPECT_EQ (juce::File (juce::String (row.source)).getFileName(),
                   juce::String (row.id) + (index == 1 ? ".flac" : ".wav"));   // lower-case extension
    }

    EXPECT_EQ (namesIn (scene.audio ("pl-1")).size(), 3);   // the copies only, no temporary file

    // The journal: the sources as given, complete, and the verified rows.
    EXPECT_EQ (result.journal.getParentDirectory(), scene.playlistFolder ("pl-1"));
    EXPECT_TRUE (result.journal.getFileName().startsWith ("pending-copy-"));
    const auto journal = readJson (result.journal);
    EXPECT_EQ (journal["complete"], juce::var (true));
    ASSERT_TRUE (journal["sources"].isArray());
    EXPECT_EQ (journal["sources"].size(), 4);
    EXPECT_EQ (journal["sources"][0].toString(), sources[0]);
    CatalogState state;
    ASSERT_TRUE (readCatalogJson (journal["state"], state).ok);
    ASSERT_EQ (state.document.playlists.size(), 1u);
    EXPECT_EQ (state.document.playlists[0], result.playlist);
    EXPECT_EQ (state.document.current, "pl-1");

    // Resuming the complete journal copies nothing and rewrites nothing.
    const auto before = scene.files();
    const auto resumed = copyIntoLibrary (scene.root, {}, {}, {}, result.journal);
    EXPECT_TRUE (resumed.message.isEmpty()) << resumed.message;
    EXPECT_EQ (resumed.playlist, result.playlist);
    EXPECT_EQ (scene.files(), before);
}

TEST (CopyTransaction, BadRequestsAreRefusedBeforeAnythingIsWritten)
{
    CopyScene scene;
    const auto good = scene.source ("good.wav", 100, 1);
    scene.sourceFolder.getChildFile ("folder.wav").createDirectory();
    const auto text = scene.source ("notes.txt", 100, 2);

    struct Case { const char* label; std::string id; juce::StringArray sources, titles; const char* message; };
    const std::vector<Case> cases {
        { "invalid id", "bad id", { good }, { "t" }, "Invalid copy request" },
        { "empty id", "", { good }, { "t" }, "Invalid copy request" },
        { "no sources", "pl", {}, {}, "Invalid copy request" },
        { "titles short", "pl", { good, good }, { "t" }, "Invalid copy request" },
        { "missing source", "pl", { good, scene.sourceFolder.getChildFile ("gone.wav").getFullPathName() }, { "a", "b" }, "Unsupported or missing source" },
        { "a folder", "pl", { scene.sourceFolder.getChildFile ("folder.wav").getFullPathName() }, { "a" }, "Unsupported or missing source" },
        { "not audio", "pl", { text }, { "a" }, "Unsupported or missing source" },
        { "relative", "pl", { "src/good.wav" }, { "a" }, "Unsupported or missing source" },
        { "home shorthand", "pl", { "~/good.wav" }, { "a" }, "Unsupported or missing source" },
    };

    const auto before = scene.files();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);
        const auto result = copyIntoLibrary (scene.root, c.id, c.sources, c.titles, {});
        EXPECT_EQ (result.message, c.message);
        EXPECT_EQ (result.journal == juce::File(), juce::String (c.message) == "Invalid copy request");
        EXPECT_EQ (scene.files(), before);
        EXPECT_FALSE (scene.root.getChildFile ("playlists").exists());
    }
}

TEST (CopyTransaction, ASourceThatChangesDuringItsCopyLeavesNoDestination)
{
    const std::vector<std::pair<const char*, std::function<void (const juce::File&)>>> changes {
        { "grows", [] (const juce::File& source) { source.appendText ("x"); } },
        { "same size, new time", [] (const juce::File& source)
          {
              const auto path = source.getFullPathName().toStdString();
              platform::setFileModifiedMillis (path, platform::readFileStatus (path).modifiedMillis + 1);
          } },
    };

    for (const auto& [label, change] : changes)
    {
        SCOPED_TRACE (label);
        CopyScene scene;
        const juce::StringArray sources { scene.source ("a.wav", 3000, 1), scene.source ("b.wav", 3000, 2) };
        CopyOptions options;
        options.afterCopy = [&] (const juce::File& source, const juce::File& temporary)
        {
            EXPECT_TRUE (temporary.existsAsFile());

            if (source.getFileName() == "b.wav")
                change (source);
        };

        const auto result = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {}, options);

        EXPECT_EQ (result.message, "Copy verification failed; record retained");
        EXPECT_EQ (namesIn (scene.audio ("pl")), juce::StringArray (juce::File (juce::String (result.playlist.rows[0].source)).getFileName()));
        EXPECT_EQ (fileHash (juce::File (juce::String (result.playlist.rows[0].source))), fileHash (juce::File (sources[0])));
        EXPECT_EQ (readJson (result.journal)["complete"], juce::var (false));

        // Once the source holds still, the resume copies it.
        const auto resumed = copyIntoLibrary (scene.root, {}, {}, {}, result.journal);
        EXPECT_TRUE (resumed.message.isEmpty()) << resumed.message;
        expectVerifiedRows (resumed, sources);
    }
}

TEST (CopyTransaction, AnExistingDestinationIsNeverOverwritten)
{
    CopyScene scene;
    const juce::StringArray sources { scene.source ("a.wav", 2000, 1), scene.source ("b.wav", 2000, 2) };
    CopyOptions stopAtB;
    stopAtB.afterCopy = [] (const juce::File& source, const juce::File&) { if (source.getFileName() == "b.wav") source.appendText ("!"); };
    const auto stopped = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {}, stopAtB);
    ASSERT_EQ (stopped.message, "Copy verification failed; record retained");
    writeBytes (juce::File (sources[1]), patternBytes (2000, 2));   // b as it was

    // Someone else's file under b's destination name: kept, and the copy fails.
    const juce::File destinationB (juce::String (stopped.playlist.rows[1].source));
    writeBytes (destinationB, patternBytes (2000, 99));
    const auto journalBefore = readBytes (stopped.journal);
    const auto conflict = copyIntoLibrary (scene.root, {}, {}, {}, stopped.journal);
    EXPECT_EQ (conflict.message, "Copy conflict; existing files retained");
    EXPECT_EQ (readBytes (destinationB), patternBytes (2000, 99));
    EXPECT_EQ (readBytes (stopped.journal), journalBefore);

    // A folder or a dangling link there is not replaced either.
    destinationB.deleteFile();
    makeLink (scene.scratch / "nowhere.wav", destinationB);
    EXPECT_EQ (copyIntoLibrary (scene.root, {}, {}, {}, stopped.journal).message, "Copy conflict; existing files retained");
    EXPECT_TRUE (destinationB.isSymbolicLink());
    EXPECT_FALSE ((scene.scratch / "nowhere.wav").exists());

    // The same bytes already there (a stop after the rename) are accepted.
    destinationB.deleteFile();
    writeBytes (destinationB, patternBytes (2000, 2));
    const auto resumed = copyIntoLibrary (scene.root, {}, {}, {}, stopped.journal);
    EXPECT_TRUE (resumed.message.isEmpty()) << resumed.message;
    expectVerifiedRows (resumed, sources);
}

TEST (CopyTransaction, AFullDiskFailsTheCopyAndLosesNothing)
{
    CopyScene scene;
    const juce::StringArray sources { scene.source ("small.wav", 4000, 1), scene.source ("big.wav", 300000, 2) };
    juce::File journal;

    // A child whose files may not grow beyond 64 KiB: the big copy fails with EFBIG.
    const auto child = platform::runInForkedChild ([&] (std::string& output)
    {
        const auto result = copyIntoLibrary (scene.root, "pl", sources, { "S", "B" }, {});
        output = (result.message + "\n" + result.journal.getFullPathName()).toStdString();
        return 0;
    }, 65536);

    ASSERT_TRUE (child.exited);
    const auto lines = juce::StringArray::fromLines (juce::String::fromUTF8 (child.output.c_str()));
    ASSERT_EQ (lines.size(), 2);
    EXPECT_EQ (lines[0], "Copy verification failed; record retained");
    journal = juce::File (lines[1]);
    const auto state = readJson (journal);
    EXPECT_EQ (state["complete"], juce::var (false));
    const auto names = namesIn (scene.audio ("pl"));
    ASSERT_EQ (names.size(), 1);   // the small copy; no partial big one, no temporary file
    EXPECT_EQ (readBytes (scene.audio ("pl").getChildFile (names[0])), patternBytes (4000, 1));

    // With room again the resume finishes, keeping the copy that was there.
    const auto resumed = copyIntoLibrary (scene.root, {}, {}, {}, journal);
    EXPECT_TRUE (resumed.message.isEmpty()) << resumed.message;
    expectVerifiedRows (resumed, sources);

    // A journal that cannot be written at all: the writer's message, nothing copied.
    CopyScene second;
    const juce::StringArray one { second.source ("a.wav", 1000, 3) };
    const auto refused = platform::runInForkedChild ([&] (std::string& output)
    {
        output = copyIntoLibrary (second.root, "pl", one, { "A" }, {}).message.toStdString();
        return 0;
    }, 100);
    EXPECT_FALSE (refused.output.empty());
    EXPECT_FALSE (second.audio ("pl").exists());
    EXPECT_TRUE (second.playlistFolder ("pl").findChildFiles (juce::File::findFiles, false).isEmpty());
}

TEST (CopyTransaction, CraftedJournalsAreRefusedAndLeftAsTheyAre)
{
    CopyScene scene;
    const juce::StringArray sources { scene.source ("a.wav", 1500, 1), scene.source ("b.mp3", 1500, 2) };
    const auto audio = scene.audio ("pl");
    const auto rowA = makeRow ("0123456789abcdef0123456789abcdef", "A", audio.getChildFile ("0123456789abcdef0123456789abcdef.wav").getFullPathName());
    const auto rowB = makeRow ("fedcba9876543210fedcba9876543210", "B", audio.getChildFile ("fedcba9876543210fedcba9876543210.mp3").getFullPathName());
    const auto valid = makePlaylist ("pl", "Import", { rowA, rowB });
    const auto journal = scene.playlistFolder ("pl").getChildFile ("pending-copy-crafted.json");

    auto withRow = [&] (int index, const Row& row)
    {
        auto playlist = valid;
        playlist.rows[static_cast<size_t> (index)] = row;
        return journalBytes (journalObject (sources, false, playlist));
    };
    auto withSources = [&] (const juce::var& list)
    {
        auto object = journalObject (sources, false, valid);
        object.getDynamicObject()->setProperty ("sources", list);
        return journalBytes (object);
    };
    auto padded = [&] (int64_t size)
    {
        auto text = journalBytes (journalObject (sources, false, valid));
        text.insert (text.size() - 1, std::string (static_cast<size_t> (size) - text.size(), ' '));
        return text;
    };
    auto twoPlaylists = [&]
    {
        CatalogState state;
        state.document.playlists = { valid, makePlaylist ("other", "Other", {}) };
        auto object = journalObject (sources, false, valid);
        object.getDynamicObject()->setProperty ("state", catalogToJson (state));
        return journalBytes (object);
    };

    const auto invalidRecord = "Copy recovery record is invalid; files retained";
    const auto unsafe = "Unsafe recovery destination; files retained";
    const juce::Array<juce::var> numberSource { sources[0], 7 };
    const juce::Array<juce::var> textSource { sources[0], scene.source ("c.txt", 10, 3) };
    const juce::Array<juce::var> relativeSource { sources[0], "src/b.mp3" };
    const juce::Array<juce::var> oneSource { sources[0] };

    struct Case { const char* label; std::string bytes; juce::File at; const char* message; };
    const std::vector<Case> cases {
        { "outside the root", journalBytes (journalObject (sources, false, valid)), scene.scratch / "pending-copy-x.json", invalidRecord },
        { "16 MiB + 1", padded (copyJournalSizeLimit + 1), journal, invalidRecord },
        { "not JSON", "{\"sources\": [", journal, invalidRecord },
        { "an array", "[1, 2]", journal, invalidRecord },
        { "sources not an array", withSources ("x"), journal, invalidRecord },
        { "two playlists", twoPlaylists(), journal, invalidRecord },
        { "in another playlist's folder", journalBytes (journalObject (sources, false, valid)),
          scene.playlistFolder ("other").getChildFile ("pending-copy-x.json"), invalidRecord },
        { "in the audio folder", journalBytes (journalObject (sources, false, valid)), audio.getChildFile ("pending-copy-x.json"), invalidRecord },
        { "a source that is a number", withSources (numberSource), journal, "Invalid copy source" },
        { "a source that is not audio", withSources (textSource), journal, "Invalid copy source" },
        { "a relative source", withSources (relativeSource), journal, "Invalid copy source" },
        { "fewer sources than rows", withSources (oneSource), journal, "Invalid copy recovery length" },
        { "a traversal destination", withRow (1, makeRow (rowB.id, "B", audio.getFullPathName() + "/../../../" + juce::String (rowB.id) + ".mp3")), journal, unsafe },
        { "a foreign id", withRow (1, makeRow (rowB.id, "B", audio.getChildFile (juce::String (rowA.id) + "0.mp3").getFullPathName())), journal, unsafe },
        { "another playlist's audio", withRow (1, makeRow (rowB.id, "B", scene.audio ("other").getChildFile (juce::String (rowB.id) + ".mp3").getFullPathName())), journal, unsafe },
        { "a destination that is not audio", withRow (1, makeRow (rowB.id, "B", audio.getChildFile (juce::String (rowB.id) + ".json").getFullPathName())), journal, unsafe },
        { "a destination outside the root", withRow (1, makeRow (rowB.id, "B", (scene.scratch / (juce::String (rowB.id) + ".mp3")).getFullPathName())), journal, unsafe },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.label);
        ASSERT_TRUE (writeBytes (c.at, c.bytes));
        const auto before = scene.files();
        const auto result = copyIntoLibrary (scene.root, {}, {}, {}, c.at);

        EXPECT_EQ (result.message, c.message);
        EXPECT_EQ (result.journal, c.at);
        EXPECT_EQ (scene.files(), before);   // nothing written, nothing removed
        auto created = namesIn (audio);
        created.removeString (c.at.getFileName());
        EXPECT_TRUE (created.isEmpty()) << created.joinIntoString (", ");
        c.at.deleteFile();
    }
}

TEST (CopyTransaction, JournalsThatAreValidAtTheLimitsResume)
{
    const std::vector<std::pair<const char*, juce::var>> completes {
        { "complete missing", juce::var() }, { "complete a string", "true" }, { "complete a number", 1 }, { "exactly 16 MiB", false } };

    for (const auto& [label, complete] : completes)
    {
        SCOPED_TRACE (label);
        CopyScene scene;
        const juce::StringArray sources { scene.source ("a.wav", 1500, 1) };
        const auto row = makeRow ("0123456789abcdef0123456789abcdef", "A",
                                  scene.audio ("pl").getChildFile ("0123456789abcdef0123456789abcdef.wav").getFullPathName());
        auto bytes = journalBytes (journalObject (sources, complete, makePlaylist ("pl", "Import", { row })));

        if (juce::String (label) == "exactly 16 MiB")
            bytes.insert (bytes.size() - 1, std::string (static_cast<size_t> (copyJournalSizeLimit) - bytes.size(), ' '));

        const auto journal = scene.playlistFolder ("pl").getChildFile ("pending-copy-1.json");
        writeBytes (journal, bytes);
        const auto result = copyIntoLibrary (scene.root, {}, {}, {}, journal);

        EXPECT_TRUE (result.message.isEmpty()) << result.message;   // treated as not complete: copied
        expectVerifiedRows (result, sources);
        const auto written = readJson (journal);
        EXPECT_EQ (written["complete"], juce::var (true));
        EXPECT_EQ (written.getDynamicObject()->getProperties().getName (0).toString(), "sources");   // members keep their places
    }
}

TEST (CopyTransaction, ACompleteJournalOnlyChecksItsCopies)
{
    CopyScene scene;
    const juce::StringArray sources { scene.source ("a.wav", 1500, 1), scene.source ("b.wav", 1500, 2) };
    const auto done = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {});
    ASSERT_TRUE (done.message.isEmpty());

    // The sources may go away once the copies are made.
    juce::File (sources[0]).deleteFile();
    EXPECT_TRUE (copyIntoLibrary (scene.root, {}, {}, {}, done.journal).message.isEmpty());

    // A copy altered afterwards is reported and left alone, and so is the journal.
    const juce::File copyB (juce::String (done.playlist.rows[1].source));
    const auto path = copyB.getFullPathName().toStdString();
    platform::setFileModifiedMillis (path, platform::readFileStatus (path).modifiedMillis + 5);
    const auto before = scene.files();
    EXPECT_EQ (copyIntoLibrary (scene.root, {}, {}, {}, done.journal).message, "Saved copy changed; record retained");
    EXPECT_EQ (scene.files(), before);

    copyB.deleteFile();
    EXPECT_EQ (copyIntoLibrary (scene.root, {}, {}, {}, done.journal).message, "Saved copy changed; record retained");
}

TEST (CopyTransaction, MissingFilesOnResumeKeepTheJournalAndEarlierCopies)
{
    CopyScene scene;
    const auto managed = scene.root.getChildFile ("playlists/other/audio/kept.wav");
    writeBytes (managed, patternBytes (100, 5));
    const juce::StringArray sources { scene.source ("a.wav", 1500, 1), managed.getFullPathName(), scene.source ("b.wav", 1500, 2) };
    CopyOptions stop;
    stop.afterCopy = [] (const juce::File& source, const juce::File&) { if (source.getFileName() == "b.wav") source.appendText ("!"); };
    const auto stopped = copyIntoLibrary (scene.root, "pl", sources, { "A", "K", "B" }, {}, stop);
    ASSERT_EQ (stopped.message, "Copy verification failed; record retained");
    const auto journalBytesBefore = readBytes (stopped.journal);
    const juce::File copyA (juce::String (stopped.playlist.rows[0].source));

    juce::File (sources[2]).deleteFile();
    EXPECT_EQ (copyIntoLibrary (scene.root, {}, {}, {}, stopped.journal).message, "Copy source is missing; record retained");

    managed.deleteFile();
    EXPECT_EQ (copyIntoLibrary (scene.root, {}, {}, {}, stopped.journal).message, "Managed audio is missing");

    EXPECT_EQ (readBytes (stopped.journal), journalBytesBefore);
    EXPECT_EQ (readBytes (copyA), patternBytes (1500, 1));
}

TEST (CopyTransaction, AResumeRemovesThePartialFilesOfItsOwnRowsAndNothingElse)
{
    for (const bool complete : { false, true })
    {
        SCOPED_TRACE (complete ? "complete journal" : "journal not complete");
        CopyScene scene;
        const juce::StringArray sources { scene.source ("a.wav", 1500, 1), scene.source ("b.MP3", 1500, 2) };
        CopyOptions stop;
        stop.afterCopy = [complete] (const juce::File& source, const juce::File&)
        {
            if (! complete && source.getFileName() == "b.MP3")
                source.appendText ("!");
        };
        const auto stopped = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {}, stop);
        ASSERT_EQ (stopped.message.isEmpty(), complete) << stopped.message;
        writeBytes (juce::File (sources[1]), patternBytes (1500, 2));

        // What stops in the middle of copies leave: partial files under the rows' temporary names.
        const auto idA = juce::String (stopped.playlist.rows[0].id);
        const auto idB = juce::String (stopped.playlist.rows[1].id);
        const auto audio = scene.audio ("pl");
        const juce::StringArray partial { idA + "_temp1a2b3c4d.wav", idA + "_tempffffffff.wav", idB + "_temp00000000.mp3" };

        // Names that are not exactly those: another transaction's row, other digits or extensions.
        const juce::StringArray foreign {
            "0123456789abcdef0123456789abcdef_temp1a2b3c4d.wav", idA + "_temp1a2b3c4.wav", idA + "_temp1a2b3c4d0.wav",
            idA + "_temp1A2B3C4D.wav", idA + "_temp1a2b3c4d.mp3", idB + "_temp1a2b3c4d.MP3", idA + "_temp1a2b3c4d.wav.part",
            "x" + idA + "_temp1a2b3c4d.wav",
        };

        for (const auto& name : partial)
            writeBytes (audio.getChildFile (name), patternBytes (700, 1));

        for (const auto& name : foreign)
            writeBytes (audio.getChildFile (name), "keep " + name.toStdString());

        const auto folderNamedLikeOne = audio.getChildFile (idB + "_temp11111111.mp3");
        writeBytes (folderNamedLikeOne.getChildFile ("inside.txt"), "keep");

        const auto resumed = copyIntoLibrary (scene.root, {}, {}, {}, stopped.journal);
        EXPECT_TRUE (resumed.message.isEmpty()) << resumed.message;
        expectVerifiedRows (resumed, sources);

        for (const auto& name : partial)
            EXPECT_FALSE (audio.getChildFile (name).exists()) << name;

        for (const auto& name : foreign)
            EXPECT_EQ (readBytes (audio.getChildFile (name)), "keep " + name.toStdString()) << name;

        EXPECT_EQ (readBytes (folderNamedLikeOne.getChildFile ("inside.txt")), "keep");
    }
}

TEST (CopyTransaction, ANewRequestLeavesPartialFilesOfOtherTransactionsAlone)
{
    // Two transactions may run at once on one playlist: a new one never touches the other's files.
    CopyScene scene;
    const auto other = scene.audio ("pl").getChildFile ("0123456789abcdef0123456789abcdef_temp1a2b3c4d.wav");
    writeBytes (other, patternBytes (700, 1));

    const auto result = copyIntoLibrary (scene.root, "pl", { scene.source ("a.wav", 1500, 1) }, { "A" }, {});
    EXPECT_TRUE (result.message.isEmpty()) << result.message;
    EXPECT_EQ (readBytes (other), patternBytes (700, 1));
}

TEST (CopyTransaction, AFailedResumeKeepsItsJournalAndCopiesButNotItsPartialFiles)
{
    CopyScene scene;
    const juce::StringArray sources { scene.source ("a.wav", 1500, 1), scene.source ("b.wav", 1500, 2) };
    CopyOptions stop;
    stop.afterCopy = [] (const juce::File& source, const juce::File&) { if (source.getFileName() == "b.wav") source.appendText ("!"); };
    const auto stopped = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {}, stop);
    ASSERT_EQ (stopped.message, "Copy verification failed; record retained");
    const auto journal = readBytes (stopped.journal);
    const auto partial = scene.audio ("pl").getChildFile (juce::String (stopped.playlist.rows[1].id) + "_temp1a2b3c4d.wav");
    writeBytes (partial, patternBytes (700, 2));

    juce::File (sources[1]).deleteFile();
    EXPECT_EQ (copyIntoLibrary (scene.root, {}, {}, {}, stopped.journal).message, "Copy source is missing; record retained");
    EXPECT_FALSE (partial.exists());
    EXPECT_EQ (readBytes (stopped.journal), journal);
    EXPECT_EQ (readBytes (juce::File (juce::String (stopped.playlist.rows[0].source))), patternBytes (1500, 1));
}

TEST (CopyTransaction, JournalsLargerThanTheirReaderAcceptsAreNotWritten)
{
    // A request whose first journal would be too large: refused with the writer's message.
    {
        CopyScene scene;
        juce::StringArray sources, titles;

        for (int i = 0; i < 20; ++i)
        {
            sources.add (scene.source ("s" + juce::String (i) + ".wav", 100, static_cast<uint32_t> (i)));
            titles.add ("T");
        }

        CopyOptions options;
        options.journalSizeLimit = 4000;
        const auto result = copyIntoLibrary (scene.root, "pl", sources, titles, {}, options);
        EXPECT_TRUE (result.message.isNotEmpty());
        EXPECT_FALSE (result.journal.exists());
        EXPECT_FALSE (scene.audio ("pl").exists());
    }

    // A final journal that would outgrow the limit: the copies stay, the journal keeps saying
    // "not complete", and the journal as written can be resumed with room to spare.
    CopyScene scene;
    const juce::StringArray sources { scene.source ("a.wav", 1500, 1), scene.source ("b.wav", 1500, 2) };
    const auto measured = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {});
    ASSERT_TRUE (measured.message.isEmpty());
    CopyOptions tight;
    tight.journalSizeLimit = measured.journal.getSize() - 1;   // the same request writes the same lengths
    const auto result = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {}, tight);

    EXPECT_TRUE (result.message.isNotEmpty());
    ASSERT_TRUE (result.journal.existsAsFile());
    EXPECT_EQ (readJson (result.journal)["complete"], juce::var (false));
    EXPECT_LE (result.journal.getSize(), tight.journalSizeLimit);
    EXPECT_TRUE (copyIntoLibrary (scene.root, {}, {}, {}, result.journal).message.isEmpty());
}

TEST (CopyTransaction, CopiesAreOnTheDiskBeforeTheJournalSaysComplete)
{
    CopyScene scene;
    const juce::StringArray sources { scene.source ("a.wav", 1500, 1), scene.source ("b.wav", 1500, 2) };
    platform::ScopedFileFaults seam;
    FileFaults::startRecording();
    const auto result = copyIntoLibrary (scene.root, "pl", sources, { "A", "B" }, {});
    const auto ops = FileFaults::recorded();
    ASSERT_TRUE (result.message.isEmpty());

    const auto audioPath = scene.audio ("pl").getFullPathName().toStdString();
    auto indexOf = [&] (FileOp op, const std::string& path, size_t from = 0)
    {
        for (size_t i = from; i < ops.size(); ++i)
            if (ops[i].op == op && ops[i].path.find (path) != std::string::npos)
                return static_cast<int> (i);

        return -1;
    };

    int lastFolderSync = -1;

    for (const auto& row : result.playlist.rows)
    {
        const auto destination = row.source;
        const auto temporary = juce::File (juce::String (destination)).getFileNameWithoutExtension().toStdString() + "_temp";
        const auto synced = indexOf (FileOp::syncFile, temporary);
        const auto renamed = indexOf (FileOp::renameFile, destination);
        const auto folderSynced = indexOf (FileOp::syncFolder, audioPath, static_cast<size_t> (std::max (renamed, 0)));
        EXPECT_GE (synced, 0);
        EXPECT_LT (synced, renamed);
        EXPECT_LT (renamed, folderSynced);
        lastFolderSync = std::max (lastFolderSync, folderSynced);
    }

    // The second journal write (the one that says complete) starts after all of that.
    const auto firstJournal = indexOf (FileOp::createFile, "pending-copy-");
    const auto secondJournal = indexOf (FileOp::createFile, "pending-copy-", static_cast<size_t> (firstJournal + 1));
    EXPECT_GE (firstJournal, 0);
    EXPECT_GT (secondJournal, lastFolderSync);
}

TEST (CopyTransaction, AFailedFlushOrRenameLeavesNoDestinationAndNoTemporaryFile)
{
    for (const auto op : { FileOp::syncFile, FileOp::renameFile, FileOp::writeFile, FileOp::createFile })
    {
        SCOPED_TRACE (platform::fileOpName (op));
        CopyScene scene;
        const juce::StringArray sources { scene.source ("a.wav", 1500, 1) };
        platform::ScopedFileFaults seam;
        platform::FileFault fault;
        fault.error = EIO;
        fault.op = op;
        fault.pathContains = "/audio/";
        FileFaults::arm (fault);
        const auto result = copyIntoLibrary (scene.root, "pl", sources, { "A" }, {});

        EXPECT_EQ (result.message, "Copy verification failed; record retained");
        EXPECT_TRUE (namesIn (scene.audio ("pl")).isEmpty());
        EXPECT_EQ (readJson (result.journal)["complete"], juce::var (false));
    }
}

TEST (CopyTransaction, FilesMatchComparesEveryByte)
{
    ScratchFolder scratch { "match" };
    const auto a = scratch / "a.bin";
    const auto b = scratch / "b.bin";
    scratch.path().getChildFile ("folder").createDirectory();

    for (const size_t size : { size_t { 0 }, size_t { 1 }, size_t { 65535 }, size_t { 65536 }, size_t { 65537 }, size_t { 131072 }, size_t { 196608 } })
    {
        SCOPED_TRACE (size);
        const auto bytes = patternBytes (size, static_cast<uint32_t> (size));
        writeBytes (a, bytes);
        writeBytes (b, bytes);
        EXPECT_TRUE (filesMatch (a, b));

        if (size == 0)
            continue;

        for (const size_t at : { size_t { 0 }, size / 2, size - 1 })
        {
            auto changed = bytes;
            changed[at] = static_cast<char> (changed[at] ^ 0x01);
            writeBytes (b, changed);
            EXPECT_FALSE (filesMatch (a, b)) << "byte " << at;
        }

        writeBytes (b, bytes + "x");
        EXPECT_FALSE (filesMatch (a, b));
        writeBytes (b, bytes.substr (0, size - 1));
        EXPECT_FALSE (filesMatch (a, b));
    }

    EXPECT_FALSE (filesMatch (a, scratch / "missing.bin"));
    EXPECT_FALSE (filesMatch (scratch / "missing.bin", scratch / "missing2.bin"));
    EXPECT_FALSE (filesMatch (scratch / "folder", scratch / "folder"));
}
