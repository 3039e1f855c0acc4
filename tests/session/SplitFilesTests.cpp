#include "DocumentFixtures.h"
#include "StoreFixtures.h"

#include "support/ForkedCall.h"
#include "session/SessionDocuments.h"
#include "session/SplitFiles.h"

#include <gtest/gtest.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
/** Reads a JSON file, lets `change` edit the value, and writes it back as plain text. */
void editJsonFile (const juce::File& file, const std::function<void (const juce::var&)>& change)
{
    auto value = juce::JSON::parse (file);
    change (value);
    ASSERT_TRUE (file.replaceWithText (juce::JSON::toString (value)));
}

juce::StringArray memberNames (const juce::var& object)
{
    juce::StringArray names;
    for (const auto& member : object.getDynamicObject()->getProperties())
        names.add (member.name.toString());
    return names;
}

CatalogState untouchedState()
{
    auto state = sampleState();
    state.ui.zoom = 17;
    state.pads[9].name = "untouched";
    return state;
}

/** The sample state with one more playlist, first in catalog order. */
CatalogState stateWithNewFirstPlaylist()
{
    auto state = sampleState();
    Playlist playlist;
    playlist.id = "p0";
    playlist.name = "New";
    state.document.playlists.insert (state.document.playlists.begin(), playlist);
    return state;
}
} // namespace

TEST (SplitFilesRoundTrip, WrittenStatesReadBackEqual)
{
    TempFolder root;

    std::vector<CatalogState> states { sampleState(), CatalogState() };
    for (unsigned seed = 1; seed <= 40; ++seed)
        states.push_back (RandomStateMaker (seed).make());

    // One root for all: the files of playlists that left the catalog stay behind and are ignored.
    for (size_t i = 0; i < states.size(); ++i)
    {
        SCOPED_TRACE ("state " + std::to_string (i));
        ASSERT_EQ (writeSplitFiles (root.path(), states[i]), StoreResult::success());

        CatalogState read;
        ASSERT_EQ (readSplitFiles (root.path(), read), StoreResult::success());
        EXPECT_EQ (read, states[i]);
    }

    EXPECT_TRUE (temporaryFiles (root.path()).empty());
}

TEST (SplitFilesLayout, EachFileHoldsItsSliceOfTheWholeDocument)
{
    TempFolder root;
    const auto state = sampleState();
    ASSERT_TRUE (writeSplitFiles (root.path(), state).ok);

    const auto document = catalogToJson (state);
    const auto text = [] (const juce::var& value) { return sessionJsonText (value).toStdString(); };

    EXPECT_EQ (readBytes (root / "playlists/p1/playlist.json"), text (document["playlists"][0]));
    EXPECT_EQ (readBytes (root / "playlists/p2/playlist.json"), text (document["playlists"][1]));
    EXPECT_EQ (readBytes (root / "pad/pads.json"), text (document["pads"]));

    const auto catalog = juce::JSON::parse (root / "catalog.json");
    EXPECT_EQ (memberNames (catalog).joinIntoString (","), "version,folders,playlists,current");
    EXPECT_TRUE (catalog["version"].isInt());
    EXPECT_EQ (catalog["version"], juce::var (6));
    EXPECT_EQ (catalog["current"], juce::var ("p2"));
    EXPECT_EQ (text (catalog["folders"]), text (document["folders"]));
    ASSERT_EQ (catalog["playlists"].size(), 2);
    EXPECT_EQ (memberNames (catalog["playlists"][0]).joinIntoString (","), "id,name");
    EXPECT_EQ (catalog["playlists"][0]["name"], juce::var (utf8 ("オープニング")));
    EXPECT_EQ (catalog["playlists"][1]["id"], juce::var ("p2"));

    const auto appState = juce::JSON::parse (root / "app-state.json");
    EXPECT_EQ (memberNames (appState).joinIntoString (","), "version,ui,master");
    EXPECT_EQ (appState["version"], juce::var (6));
    EXPECT_EQ (text (appState["ui"]), text (document["ui"]));
    EXPECT_EQ (text (appState["master"]), text (document["master"]));

    // Nothing else is written: no journal, no backup on a first write.
    EXPECT_EQ (snapshotFiles (root.path()).size(), 5u);
}

TEST (SplitFilesWrite, OnlyChangedFilesAreRewrittenAndBackedUp)
{
    TempFolder root;
    const auto first = sampleState();
    ASSERT_TRUE (writeSplitFiles (root.path(), first).ok);
    const auto before = snapshotFiles (root.path());

    ASSERT_TRUE (writeSplitFiles (root.path(), first).ok);
    EXPECT_EQ (snapshotFiles (root.path()), before);   // same bytes, no ".bak" made

    auto second = first;
    second.document.playlists[1].memo = "changed";
    ASSERT_TRUE (writeSplitFiles (root.path(), second).ok);

    auto after = snapshotFiles (root.path());
    EXPECT_EQ (after.size(), before.size() + 1);
    EXPECT_EQ (after["playlists/p2/playlist.json.bak"], before.at ("playlists/p2/playlist.json"));
    EXPECT_NE (after["playlists/p2/playlist.json"], before.at ("playlists/p2/playlist.json"));
    for (const auto* unchanged : { "playlists/p1/playlist.json", "catalog.json", "pad/pads.json", "app-state.json" })
        EXPECT_EQ (after[unchanged], before.at (unchanged)) << unchanged;
}

TEST (SplitFilesRead, DamageAndMismatchesGiveTheirMessagesAndLeaveTheStateAlone)
{
    struct Case
    {
        const char* description;
        std::function<void (const TempFolder&)> damage;
        const char* message;   // the whole message, or with `prefixOnly` its beginning
        bool prefixOnly = false;
    };

    const std::vector<Case> cases {
        { "playlist file holding another id",
          [] (const TempFolder& r) { editJsonFile (r / "playlists/p1/playlist.json", [] (const juce::var& v) { setAt (v, "id", "p9"); }); },
          "catalogとplaylist IDが一致しません" },
        { "catalog entry naming a copy of another playlist's file",
          [] (const TempFolder& r) {
              writeBytes (r / "playlists/p3/playlist.json", readBytes (r / "playlists/p1/playlist.json"));
              editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "playlists/0/id", "p3"); });
          },
          "catalogとplaylist IDが一致しません" },
        { "playlist file without an id",
          [] (const TempFolder& r) { editJsonFile (r / "playlists/p2/playlist.json", [] (const juce::var& v) { removeAt (v, "id"); }); },
          "catalogとplaylist IDが一致しません" },
        { "entry id with a blank",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "playlists/1/id", "p 2"); }); },
          "catalogのplaylist IDが不正です" },
        { "entry id ..",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "playlists/1/id", ".."); }); },
          "catalogのplaylist IDが不正です" },
        { "entry id leaving the root",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "playlists/0/id", "../p1"); }); },
          "catalogのplaylist IDが不正です" },
        { "entry without an id",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { removeAt (v, "playlists/0/id"); }); },
          "catalogのplaylist IDが不正です" },
        { "entry that is a string",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "playlists/0", "p1"); }); },
          "catalogのplaylist IDが不正です" },
        { "missing playlist file",
          [] (const TempFolder& r) { (r / "playlists/p2/playlist.json").deleteFile(); },
          "保存データを読めません: playlist.json" },
        { "duplicate catalog entry",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "playlists/1/id", "p1"); }); },
          "登録ID・選択・Gainの整合性エラー" },
        { "catalog that is not JSON",
          [] (const TempFolder& r) { writeBytes (r / "catalog.json", "{\"version\": 6,"); },
          "JSON破損: catalog.json / ", true },
        { "catalog version overflowing to 6",
          [] (const TempFolder& r) {
              auto text = (r / "catalog.json").loadFileAsString().replaceFirstOccurrenceOf ("\"version\": 6", "\"version\": 18446744073709551622");
              writeBytes (r / "catalog.json", text.toStdString());
          },
          "JSON破損: catalog.json / number out of range", true },
        { "catalog version 7",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "version", 7); }); },
          "catalogの形式が不正です" },
        { "catalog version \"6\"",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "version", "6"); }); },
          "catalogの形式が不正です" },
        { "catalog without playlists",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { removeAt (v, "playlists"); }); },
          "catalogの形式が不正です" },
        { "catalog without folders",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { removeAt (v, "folders"); }); },
          "Invalid folder catalog" },
        { "catalog current null",
          [] (const TempFolder& r) { editJsonFile (r / "catalog.json", [] (const juce::var& v) { setAt (v, "current", juce::var()); }); },
          "currentの型が不正です" },
        { "missing pads file",
          [] (const TempFolder& r) { (r / "pad/pads.json").deleteFile(); },
          "保存データを読めません: pads.json" },
        { "pads file with 46 slots",
          [] (const TempFolder& r) { editJsonFile (r / "pad/pads.json", [] (const juce::var& v) { growArray (v, "slots"); }); },
          "PAD保存データ不正" },
        { "empty app-state",
          [] (const TempFolder& r) { writeBytes (r / "app-state.json", ""); },
          "app-stateのバージョンが不正です" },
        { "app-state version 0",
          [] (const TempFolder& r) { editJsonFile (r / "app-state.json", [] (const juce::var& v) { setAt (v, "version", 0); }); },
          "app-stateのバージョンが不正です" },
        { "app-state without ui",
          [] (const TempFolder& r) { editJsonFile (r / "app-state.json", [] (const juce::var& v) { removeAt (v, "ui"); }); },
          "UI保存状態の型・範囲が不正です" },
        { "app-state without master",
          [] (const TempFolder& r) { editJsonFile (r / "app-state.json", [] (const juce::var& v) { removeAt (v, "master"); }); },
          "Invalid limiter state" },
        { "playlist file with a damaged byte",
          [] (const TempFolder& r) {
              // The writer escapes every non-ASCII character, so a byte >= 0x80 can only be damage.
              auto bytes = readBytes (r / "playlists/p1/playlist.json");
              const auto memo = bytes.find ("\"memo\": \"memo\"");
              ASSERT_NE (memo, std::string::npos);
              bytes[memo + 10] = '\xff';
              writeBytes (r / "playlists/p1/playlist.json", bytes);
          },
          "JSON破損: playlist.json / ", true },
    };

    for (const auto& testCase : cases)
    {
        SCOPED_TRACE (testCase.description);
        TempFolder root;
        ASSERT_TRUE (writeSplitFiles (root.path(), sampleState()).ok);
        testCase.damage (root);
        const auto damaged = snapshotFiles (root.path());

        auto state = untouchedState();
        const auto result = readSplitFiles (root.path(), state);

        EXPECT_FALSE (result.ok);
        if (testCase.prefixOnly)
            EXPECT_TRUE (result.message.startsWith (utf8 (testCase.message))) << result.message;
        else
            EXPECT_EQ (result.message, utf8 (testCase.message));

        EXPECT_EQ (state, untouchedState());
        EXPECT_EQ (snapshotFiles (root.path()), damaged);   // reading never writes
    }
}

TEST (SplitFilesRead, OldVersionsReadWithTheirDefaultsAndCatalogNamesAreNotUsed)
{
    TempFolder root;
    juce::String slots;
    for (int i = 0; i < 45; ++i)
        slots << (i == 0 ? "" : ",") << "{\"name\":\"\",\"asset\":\"" << (i == 4 ? "hit.wav" : "") << "\"}";

    writeBytes (root / "catalog.json", R"({"version":4,"playlists":[{"id":"old","name":"Not this name"}],"current":"old"})");
    writeBytes (root / "playlists/old/playlist.json",
                R"({"version":1,"id":"old","name":"Old show","memo":"m","rows":[
                    {"id":"r1","title":"T","note":"","source":"/srv/a.wav","bytes":"0042","modified":"-1","duration":0}]})");
    writeBytes (root / "pad/pads.json", (R"({"version":2,"slots":[)" + slots + "]}").toStdString());
    writeBytes (root / "app-state.json", R"({"version":1,"ui":{"playlistsFolded":false,"padsFolded":true,"memoFolded":true,"zoom":0}})");

    CatalogState state;
    const auto result = readSplitFiles (root.path(), state);
    ASSERT_TRUE (result.ok) << result.message;

    ASSERT_EQ (state.document.playlists.size(), 1u);
    const auto& playlist = state.document.playlists[0];
    EXPECT_EQ (playlist.name, "Old show");
    EXPECT_EQ (playlist.rows.at (0).bytes, 42u);
    EXPECT_EQ (playlist.rows.at (0).modified, -1);
    EXPECT_EQ (playlist.rows.at (0).gainDb, 0.0f);
    EXPECT_EQ (playlist.rows.at (0).eq, EqSettings());
    EXPECT_EQ (state.document.current, "old");
    EXPECT_TRUE (state.document.folders.empty());
    EXPECT_EQ (state.document.masterEq, EqSettings());
    EXPECT_TRUE (state.limiterEnabled);
    EXPECT_EQ (state.pads[4].asset, "hit.wav");
    EXPECT_EQ (state.pads[4].gainDb, 0.0f);
    EXPECT_EQ (state.ui.rowHeight, 49);
    EXPECT_TRUE (state.ui.padsFolded);

    // The next save writes the current versions, and they read back as the same state.
    ASSERT_TRUE (writeSplitFiles (root.path(), state).ok);
    CatalogState again;
    ASSERT_TRUE (readSplitFiles (root.path(), again).ok);
    EXPECT_EQ (again, state);
    EXPECT_EQ (juce::JSON::parse (root / "playlists/old/playlist.json")["version"], juce::var (6));
    EXPECT_EQ (juce::JSON::parse (root / "pad/pads.json")["version"], juce::var (3));
}

TEST (SplitFilesWrite, AFileWhereAFolderBelongsFailsAndLosesNothing)
{
    // A fresh root whose "playlists" is a regular file: the first playlist cannot get its folder.
    {
        TempFolder root;
        writeBytes (root / "playlists", "keep");

        const auto result = writeSplitFiles (root.path(), sampleState());
        EXPECT_FALSE (result.ok);
        EXPECT_FALSE (result.message.isEmpty());
        EXPECT_EQ (readBytes (root / "playlists"), "keep");
        EXPECT_EQ (snapshotFiles (root.path()).size(), 1u);   // it stopped there: no catalog, pads or app-state
    }

    // A saved session, then a new first playlist whose folder name is taken by a file.
    {
        TempFolder root;
        ASSERT_TRUE (writeSplitFiles (root.path(), sampleState()).ok);
        writeBytes (root / "playlists/p0", "keep");
        const auto before = snapshotFiles (root.path());

        const auto result = writeSplitFiles (root.path(), stateWithNewFirstPlaylist());
        EXPECT_FALSE (result.ok);
        EXPECT_FALSE (result.message.isEmpty());
        EXPECT_EQ (snapshotFiles (root.path()), before);

        CatalogState read;
        ASSERT_TRUE (readSplitFiles (root.path(), read).ok);
        EXPECT_EQ (read, sampleState());
    }

    // A file where the "pad" folder belongs: the playlists and the catalog come first and are
    // written; the app-state after it is not.
    {
        TempFolder root;
        writeBytes (root / "pad", "keep");

        const auto result = writeSplitFiles (root.path(), sampleState());
        EXPECT_FALSE (result.ok);
        EXPECT_FALSE (result.message.isEmpty());
        EXPECT_EQ (readBytes (root / "pad"), "keep");
        EXPECT_TRUE ((root / "playlists/p2/playlist.json").existsAsFile());
        EXPECT_TRUE ((root / "catalog.json").existsAsFile());
        EXPECT_FALSE ((root / "app-state.json").exists());
    }

    // A non-empty folder where "app-state.json" belongs: the commit fails with its message and
    // the folder's content survives; the files before it are written.
    {
        TempFolder root;
        writeBytes (root / "app-state.json/inside.txt", "keep");

        const auto result = writeSplitFiles (root.path(), sampleState());
        EXPECT_EQ (result, StoreResult::failure (utf8 ("保存の確定に失敗しました: app-state.json")));
        EXPECT_EQ (readBytes (root / "app-state.json/inside.txt"), "keep");
        EXPECT_TRUE ((root / "catalog.json").existsAsFile());
        EXPECT_TRUE ((root / "pad/pads.json").existsAsFile());
        EXPECT_TRUE (temporaryFiles (root.path()).empty());
    }
}

TEST (SplitFilesWrite, DiskFullStopsAtTheFileThatDoesNotFitAndKeepsTheRestWhole)
{
    TempFolder root;
    ASSERT_TRUE (writeSplitFiles (root.path(), sampleState()).ok);
    const auto before = snapshotFiles (root.path());

    // p2 grows beyond what the file system accepts; catalog order puts p1 (unchanged) before it.
    auto bigger = sampleState();
    bigger.document.playlists[1].memo = std::string (200000, 'x');
    bigger.ui.zoom = 0;

    const auto child = platform::runInForkedChild ([&] (std::string& output) {
        const auto result = writeSplitFiles (root.path(), bigger);
        output = result.message.toStdString();
        return result.ok ? 0 : 1;
    }, 64 * 1024);

    ASSERT_TRUE (child.exited);
    EXPECT_EQ (child.exitCode, 1);
    EXPECT_EQ (child.output, utf8 ("一時保存に失敗しました").toStdString());
    EXPECT_EQ (snapshotFiles (root.path()), before);

    CatalogState read;
    ASSERT_TRUE (readSplitFiles (root.path(), read).ok);
    EXPECT_EQ (read, sampleState());
}

TEST (SplitFilesWrite, PlaylistIdsThatCouldLeaveTheRootAreRefusedBeforeWriting)
{
    TempFolder parent;
    const auto root = parent.path().getChildFile ("music");

    for (const auto* id : { "../escape", "..", "a/b", "", "p 1" })
    {
        SCOPED_TRACE (id);
        auto state = stateWithNewFirstPlaylist();
        state.document.playlists.back().id = id;

        EXPECT_EQ (writeSplitFiles (root, state), StoreResult::failure (utf8 ("catalogのplaylist IDが不正です")));
        EXPECT_TRUE (snapshotFiles (parent.path()).empty());
    }
}
