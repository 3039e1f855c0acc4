#include "DocumentFixtures.h"

#include "session/SessionDocuments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
using Mutation = std::function<void (const juce::var& document)>;

struct RejectCase
{
    const char* description;
    Mutation mutate;
    const char* message;
};

Mutation set (const char* path, juce::var value)
{
    return [path, value] (const juce::var& document) { setAt (document, path, value); };
}

Mutation drop (const char* path)
{
    return [path] (const juce::var& document) { removeAt (document, path); };
}

Mutation grow (const char* path)
{
    return [path] (const juce::var& document) { growArray (document, path); };
}

Mutation both (Mutation first, Mutation second)
{
    return [first, second] (const juce::var& document) { first (document); second (document); };
}

const juce::var null;
const juce::var emptyObject { new juce::DynamicObject() };
const juce::var emptyArray { juce::Array<juce::var>() };
const juce::var int64Shape { (juce::int64) 4294967296LL };   // wraps to 0 when narrowed to int

/** A state that no document in these tests reads as, to show that a failed read leaves it alone. */
CatalogState untouchedState()
{
    auto state = sampleState();
    state.ui.zoom = 11;
    state.document.playlists[0].rows[0].title = "untouched";
    return state;
}

StoreResult readMutated (const Mutation& mutate, CatalogState& state)
{
    const auto document = catalogToJson (sampleState());
    mutate (document);
    return readCatalogJson (document, state);
}

// Every check of the reader, each reached by one small change to a valid document.
const std::vector<RejectCase> rejectCases {
    { "document version 0", set ("version", 0), "未対応の保存バージョンです。元データは変更しません。" },
    { "document version 7", set ("version", 7), "未対応の保存バージョンです。元データは変更しません。" },
    { "document version true", set ("version", true), "未対応の保存バージョンです。元データは変更しません。" },
    { "document version \"1\"", set ("version", "1"), "未対応の保存バージョンです。元データは変更しません。" },
    { "document version 1.7", set ("version", 1.7), "未対応の保存バージョンです。元データは変更しません。" },
    { "document version 6.0", set ("version", 6.0), "未対応の保存バージョンです。元データは変更しません。" },
    { "document version null", set ("version", null), "未対応の保存バージョンです。元データは変更しません。" },
    { "document version missing", drop ("version"), "未対応の保存バージョンです。元データは変更しません。" },
    { "playlists missing", drop ("playlists"), "playlist配列がありません" },
    { "playlists null", set ("playlists", null), "playlist配列がありません" },
    { "playlists an object", set ("playlists", emptyObject), "playlist配列がありません" },
    { "playlist version 0", set ("playlists/1/version", 0), "playlistバージョン不正" },
    { "playlist version 7", set ("playlists/1/version", 7), "playlistバージョン不正" },
    { "playlist version missing", drop ("playlists/1/version"), "playlistバージョン不正" },
    { "playlist memo a number", set ("playlists/0/memo", 5), "playlistバージョン不正" },
    { "playlist id null", set ("playlists/0/id", null), "playlistバージョン不正" },
    { "playlist a string", set ("playlists/1", "p2"), "playlistバージョン不正" },
    { "playlist folderId missing", drop ("playlists/0/folderId"), "Invalid playlist folder" },
    { "playlist folderId null at version 5", both (set ("playlists/0/version", 5), set ("playlists/0/folderId", null)), "Invalid playlist folder" },
    { "bus gain a string", set ("playlists/0/gainDb", "0"), "Invalid playlist bus settings" },
    { "bus gain missing", drop ("playlists/0/gainDb"), "Invalid playlist bus settings" },
    { "bus EQ null", set ("playlists/0/eq", null), "Invalid playlist bus settings" },
    { "bus EQ with 7 bands", drop ("playlists/0/eq/bands/7"), "Invalid playlist bus settings" },
    { "bus EQ q out of range", set ("playlists/0/eq/bands/3/q", 12.5), "Invalid playlist bus settings" },
    { "rows missing", drop ("playlists/1/rows"), "登録行配列がありません" },
    { "rows an object", set ("playlists/1/rows", emptyObject), "登録行配列がありません" },
    { "row a number", set ("playlists/0/rows/1", 3), "登録行不正" },
    { "row null", set ("playlists/0/rows/1", null), "登録行不正" },
    { "row an array", set ("playlists/0/rows/1", emptyArray), "登録行不正" },
    { "row title a number", set ("playlists/0/rows/0/title", 1), "登録行の型・音源参照情報が不正です" },
    { "row note missing", drop ("playlists/0/rows/0/note"), "登録行の型・音源参照情報が不正です" },
    { "row source null", set ("playlists/0/rows/0/source", null), "登録行の型・音源参照情報が不正です" },
    { "row bytes a number", set ("playlists/0/rows/0/bytes", 5), "登録行の型・音源参照情報が不正です" },
    { "row bytes with a plus", set ("playlists/0/rows/0/bytes", "+1"), "登録行の型・音源参照情報が不正です" },
    { "row bytes beyond 64 bits", set ("playlists/0/rows/0/bytes", "18446744073709551616"), "登録行の型・音源参照情報が不正です" },
    { "row modified missing", drop ("playlists/0/rows/1/modified"), "登録行の型・音源参照情報が不正です" },
    { "row modified with two signs", set ("playlists/0/rows/1/modified", "--1"), "登録行の型・音源参照情報が不正です" },
    { "row duration a string", set ("playlists/0/rows/0/duration", "1.5"), "登録行の型・音源参照情報が不正です" },
    { "row duration a boolean", set ("playlists/0/rows/0/duration", true), "登録行の型・音源参照情報が不正です" },
    { "row gain missing", drop ("playlists/0/rows/0/gainDb"), "登録行の型・音源参照情報が不正です" },
    { "row gain null at version 2", both (set ("playlists/0/version", 2), set ("playlists/0/rows/0/gainDb", null)), "登録行の型・音源参照情報が不正です" },
    { "row gain a string at version 1", both (set ("playlists/0/version", 1), set ("playlists/0/rows/0/gainDb", "0")), "登録行の型・音源参照情報が不正です" },
    { "track EQ missing", drop ("playlists/0/rows/0/eq"), "トラックEQ保存形式が不正です" },
    { "track EQ null at version 4", both (set ("playlists/0/version", 4), set ("playlists/0/rows/0/eq", null)), "トラックEQ保存形式が不正です" },
    { "track EQ enabled a string", set ("playlists/0/rows/0/eq/enabled", "true"), "トラックEQ保存形式が不正です" },
    { "track EQ with 7 bands", drop ("playlists/0/rows/0/eq/bands/0"), "トラックEQ保存形式が不正です" },
    { "track EQ with 9 bands", grow ("playlists/0/rows/0/eq/bands"), "トラックEQ保存形式が不正です" },
    { "track EQ an array", set ("playlists/0/rows/0/eq", emptyArray), "トラックEQ保存形式が不正です" },
    { "band shape 1.0", set ("playlists/0/rows/0/eq/bands/2/shape", 1.0), "トラックEQの型が不正です" },
    { "band shape \"1\"", set ("playlists/0/rows/0/eq/bands/2/shape", "1"), "トラックEQの型が不正です" },
    { "band enabled a number", set ("playlists/0/rows/0/eq/bands/2/enabled", 1), "トラックEQの型が不正です" },
    { "band frequency a string", set ("playlists/0/rows/0/eq/bands/2/frequency", "100"), "トラックEQの型が不正です" },
    { "band q missing", drop ("playlists/0/rows/1/eq/bands/7/q"), "トラックEQの型が不正です" },
    { "band null", set ("playlists/0/rows/0/eq/bands/4", null), "トラックEQの型が不正です" },
    { "band frequency 19.9", set ("playlists/0/rows/0/eq/bands/0/frequency", 19.9), "トラックEQの値が範囲外です" },
    { "band gain 18.5", set ("playlists/0/rows/0/eq/bands/5/gainDb", 18.5), "トラックEQの値が範囲外です" },
    { "band shape 5", set ("playlists/0/rows/0/eq/bands/5/shape", 5), "トラックEQの値が範囲外です" },
    { "band shape -1", set ("playlists/0/rows/0/eq/bands/5/shape", -1), "トラックEQの値が範囲外です" },
    { "band shape 2^32", set ("playlists/0/rows/0/eq/bands/5/shape", int64Shape), "トラックEQの値が範囲外です" },
    { "relative source", set ("playlists/0/rows/0/source", "music/a.wav"), "音源参照は絶対パスが必要です" },
    { "home-relative source", set ("playlists/0/rows/0/source", "~/music/a.wav"), "音源参照は絶対パスが必要です" },
    { "empty source", set ("playlists/0/rows/0/source", ""), "音源参照は絶対パスが必要です" },
    { "drive-letter source", set ("playlists/0/rows/0/source", "C:\\music\\a.wav"), "音源参照は絶対パスが必要です" },
    { "current missing", drop ("current"), "currentの型が不正です" },
    { "current null", set ("current", null), "currentの型が不正です" },
    { "current a number", set ("current", 2), "currentの型が不正です" },
    { "folders missing", drop ("folders"), "Invalid folder catalog" },
    { "folders an object", set ("folders", emptyObject), "Invalid folder catalog" },
    { "folders missing at version 5", both (set ("version", 5), drop ("folders")), "Invalid folder catalog" },
    { "folder parentId missing", drop ("folders/1/parentId"), "Invalid folder fields" },
    { "folder a string", set ("folders/0", "f1"), "Invalid folder fields" },
    { "master missing", drop ("master"), "Invalid limiter state" },
    { "limiter flag a string", set ("master/limiterEnabled", "true"), "Invalid limiter state" },
    { "limiter flag a number", set ("master/limiterEnabled", 1), "Invalid limiter state" },
    { "master EQ missing", drop ("master/eq"), "Invalid master EQ settings" },
    { "master EQ gain 19", set ("master/eq/bands/1/gainDb", 19), "Invalid master EQ settings" },
    { "duplicate row id", set ("playlists/0/rows/1/id", "r1"), "登録ID・選択・Gainの整合性エラー" },
    { "row id equal to a folder id", set ("playlists/0/rows/1/id", "f1"), "登録ID・選択・Gainの整合性エラー" },
    { "row id with a blank", set ("playlists/0/rows/1/id", "r 2"), "登録ID・選択・Gainの整合性エラー" },
    { "current names no playlist", set ("current", "p9"), "登録ID・選択・Gainの整合性エラー" },
    { "row gain 12.5", set ("playlists/0/rows/0/gainDb", 12.5), "登録ID・選択・Gainの整合性エラー" },
    { "row gain beyond float", set ("playlists/0/rows/0/gainDb", 1.0e300), "登録ID・選択・Gainの整合性エラー" },
    { "bus gain -61", set ("playlists/1/gainDb", -61), "登録ID・選択・Gainの整合性エラー" },
    { "negative duration", set ("playlists/0/rows/0/duration", -0.001), "登録ID・選択・Gainの整合性エラー" },
    { "unknown playlist folder", set ("playlists/1/folderId", "nowhere"), "登録ID・選択・Gainの整合性エラー" },
    { "empty playlist name", set ("playlists/1/name", ""), "登録ID・選択・Gainの整合性エラー" },
    { "pads missing", drop ("pads"), "PAD保存データ不正" },
    { "pads version 7", set ("pads/version", 7), "PAD保存データ不正" },
    { "pads version 0", set ("pads/version", 0), "PAD保存データ不正" },
    { "pads version \"3\"", set ("pads/version", "3"), "PAD保存データ不正" },
    { "44 pad slots", drop ("pads/slots/44"), "PAD保存データ不正" },
    { "46 pad slots", grow ("pads/slots"), "PAD保存データ不正" },
    { "pad slots null", set ("pads/slots", null), "PAD保存データ不正" },
    { "pad name a number", set ("pads/slots/3/name", 3), "PAD項目の型が不正です" },
    { "pad asset missing", drop ("pads/slots/3/asset"), "PAD項目の型が不正です" },
    { "pad slot null", set ("pads/slots/8", null), "PAD項目の型が不正です" },
    { "pad gain 12.5", set ("pads/slots/0/gainDb", 12.5), "PAD音量の型・範囲が不正です" },
    { "pad gain -60.5", set ("pads/slots/0/gainDb", -60.5), "PAD音量の型・範囲が不正です" },
    { "pad gain a string", set ("pads/slots/0/gainDb", "0"), "PAD音量の型・範囲が不正です" },
    { "pad gain missing at version 3", drop ("pads/slots/1/gainDb"), "PAD音量の型・範囲が不正です" },
    { "pad gain null at version 3", set ("pads/slots/1/gainDb", null), "PAD音量の型・範囲が不正です" },
    { "pad gain a string at version 2", both (set ("pads/version", 2), set ("pads/slots/1/gainDb", "0")), "PAD音量の型・範囲が不正です" },
    { "pad asset with ..", set ("pads/slots/0/asset", "../x.wav"), "PAD asset参照不正" },
    { "pad asset with /", set ("pads/slots/0/asset", "a/b.wav"), "PAD asset参照不正" },
    { "pad asset with \\", set ("pads/slots/0/asset", "a\\b.wav"), "PAD asset参照不正" },
    { "pad asset with :", set ("pads/slots/0/asset", "c:x.wav"), "PAD asset参照不正" },
    { "pad asset with .. inside", set ("pads/slots/0/asset", "a..b.wav"), "PAD asset参照不正" },
    { "pad asset ..", set ("pads/slots/0/asset", ".."), "PAD asset参照不正" },
    { "ui missing", drop ("ui"), "UI保存状態の型・範囲が不正です" },
    { "ui an array", set ("ui", emptyArray), "UI保存状態の型・範囲が不正です" },
    { "zoom 20", set ("ui/zoom", 20), "UI保存状態の型・範囲が不正です" },
    { "zoom -1", set ("ui/zoom", -1), "UI保存状態の型・範囲が不正です" },
    { "zoom 5.0", set ("ui/zoom", 5.0), "UI保存状態の型・範囲が不正です" },
    { "memoFolded missing", drop ("ui/memoFolded"), "UI保存状態の型・範囲が不正です" },
    { "padsFolded a string", set ("ui/padsFolded", "false"), "UI保存状態の型・範囲が不正です" },
    { "rowHeight 29", set ("ui/rowHeight", 29), "行の表示密度が不正です" },
    { "rowHeight 50", set ("ui/rowHeight", 50), "行の表示密度が不正です" },
    { "rowHeight \"49\"", set ("ui/rowHeight", "49"), "行の表示密度が不正です" },
    { "rowHeight 49.0", set ("ui/rowHeight", 49.0), "行の表示密度が不正です" },
    { "collapsed folder id with a blank", set ("ui/collapsedFolders/0", "f 1"), "Invalid collapsed folder ID" },
    { "collapsed folder id a number", set ("ui/collapsedFolders/0", 1), "Invalid collapsed folder ID" },
    { "collapsed folder id empty", set ("ui/collapsedFolders/0", ""), "Invalid collapsed folder ID" },
    { "collapsed folders a string", set ("ui/collapsedFolders", "f1"), "Invalid folder display state" },
    { "collapsed folders an object", set ("ui/collapsedFolders", emptyObject), "Invalid folder display state" },
    // The first failed check wins.
    { "bad pads before bad ui", both (set ("ui/zoom", 30), set ("pads/version", 9)), "PAD保存データ不正" },
    { "bad row before bad current", both (set ("current", 1), set ("playlists/0/rows/0/bytes", "")), "登録行の型・音源参照情報が不正です" },
};
} // namespace

TEST (SessionDocumentsReader, EveryCheckReportsItsMessageAndLeavesTheStateAlone)
{
    for (const auto& testCase : rejectCases)
    {
        SCOPED_TRACE (testCase.description);
        auto state = untouchedState();

        const auto result = readMutated (testCase.mutate, state);

        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, utf8 (testCase.message));
        EXPECT_EQ (state, untouchedState());
    }
}

TEST (SessionDocumentsReader, RefusesValuesThatAreNotDocuments)
{
    for (const auto& value : { juce::var(), juce::var (6), juce::var ("{}"), emptyArray })
    {
        auto state = untouchedState();
        const auto result = readCatalogJson (value, state);
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, utf8 ("未対応の保存バージョンです。元データは変更しません。"));
        EXPECT_EQ (state, untouchedState());
    }
}

TEST (SessionDocumentsReader, AcceptsBoundariesAbsentOptionalsAndUnknownMembers)
{
    struct AcceptCase
    {
        const char* description;
        Mutation mutate;
        std::function<void (CatalogState&)> expect;   // turns sampleState() into the expected result
    };

    const std::vector<AcceptCase> cases {
        { "unchanged", [] (const juce::var&) {}, [] (CatalogState&) {} },
        { "rowHeight null reads as 49", set ("ui/rowHeight", null), [] (CatalogState& s) { s.ui.rowHeight = 49; } },
        { "rowHeight missing reads as 49", drop ("ui/rowHeight"), [] (CatalogState& s) { s.ui.rowHeight = 49; } },
        { "rowHeight 30", set ("ui/rowHeight", 30), [] (CatalogState& s) { s.ui.rowHeight = 30; } },
        { "collapsed folders null", set ("ui/collapsedFolders", null), [] (CatalogState& s) { s.ui.collapsedFolders.clear(); } },
        { "zoom 19 with rowHeight 49", both (set ("ui/zoom", 19), set ("ui/rowHeight", 49)), [] (CatalogState& s) { s.ui.zoom = 19; s.ui.rowHeight = 49; } },
        { "pad gain -60 and 12", both (set ("pads/slots/5/gainDb", -60), set ("pads/slots/6/gainDb", 12)),
          [] (CatalogState& s) { s.pads[5].gainDb = -60.0f; s.pads[6].gainDb = 12.0f; } },
        { "empty pad asset", set ("pads/slots/0/asset", ""), [] (CatalogState& s) { s.pads[0].asset.clear(); } },
        { "pad asset with single dots", set ("pads/slots/0/asset", ".a.b.wav"), [] (CatalogState& s) { s.pads[0].asset = ".a.b.wav"; } },
        { "bytes with leading zeros", set ("playlists/0/rows/1/bytes", "0010"), [] (CatalogState& s) { s.document.playlists[0].rows[1].bytes = 10; } },
        { "smallest modified", set ("playlists/0/rows/1/modified", "-9223372036854775808"),
          [] (CatalogState& s) { s.document.playlists[0].rows[1].modified = std::numeric_limits<int64_t>::min(); } },
        { "negative zero modified", set ("playlists/0/rows/1/modified", "-0"), [] (CatalogState& s) { s.document.playlists[0].rows[1].modified = 0; } },
        { "integer duration and gains", both (set ("playlists/0/rows/0/duration", 3), set ("playlists/0/rows/0/gainDb", -2)),
          [] (CatalogState& s) { s.document.playlists[0].rows[0].duration = 3.0; s.document.playlists[0].rows[0].gainDb = -2.0f; } },
        { "unknown members", both (set ("extra", 1), both (set ("playlists/0/rows/0/colour", "red"), set ("pads/slots/2/x", emptyObject))),
          [] (CatalogState&) {} },
        { "application missing", drop ("application"), [] (CatalogState&) {} },
        { "row gain null at version 1", both (set ("playlists/0/version", 1), set ("playlists/0/rows/0/gainDb", null)),
          [] (CatalogState& s) {
              auto& p = s.document.playlists[0];
              p.folderId.clear(); p.gainDb = 0.0f; p.eq = EqSettings();   // members of later versions
              p.rows[0].gainDb = 0.0f;
          } },
        { "track EQ null at version 3", both (set ("playlists/0/version", 3), set ("playlists/0/rows/0/eq", null)),
          [] (CatalogState& s) {
              auto& p = s.document.playlists[0];
              p.folderId.clear(); p.gainDb = 0.0f; p.eq = EqSettings();
              p.rows[0].eq = EqSettings();
          } },
        { "pad gain null at version 2", both (set ("pads/version", 2), set ("pads/slots/0/gainDb", null)),
          [] (CatalogState& s) { s.pads[0].gainDb = 0.0f; } },
        { "64-bit integer version", set ("version", (juce::int64) 6), [] (CatalogState&) {} },
    };

    for (const auto& testCase : cases)
    {
        SCOPED_TRACE (testCase.description);
        CatalogState state;
        const auto result = readMutated (testCase.mutate, state);

        auto expected = sampleState();
        testCase.expect (expected);
        EXPECT_TRUE (result.ok) << result.message;
        EXPECT_TRUE (result.message.isEmpty());
        EXPECT_EQ (state, expected);
    }
}

TEST (SessionDocumentsWriter, WritesMembersInTheirStoredOrder)
{
    const auto document = catalogToJson (sampleState());

    const auto names = [] (const juce::var& object) {
        juce::StringArray result;
        for (const auto& member : object.getDynamicObject()->getProperties())
            result.add (member.name.toString());
        return result.joinIntoString (",");
    };

    EXPECT_EQ (names (document), "version,application,playlists,current,folders,master,pads,ui");
    EXPECT_EQ (names (document["playlists"][0]), "version,gainDb,eq,folderId,id,name,memo,rows");
    EXPECT_EQ (names (document["playlists"][0]["rows"][0]), "id,title,note,source,bytes,modified,duration,gainDb,eq");
    EXPECT_EQ (names (document["playlists"][0]["rows"][0]["eq"]), "enabled,bands");
    EXPECT_EQ (names (document["playlists"][0]["eq"]["bands"][0]), "enabled,shape,frequency,gainDb,q");
    EXPECT_EQ (names (document["folders"][0]), "id,name,parentId");
    EXPECT_EQ (names (document["master"]), "limiterEnabled,eq");
    EXPECT_EQ (names (document["pads"]), "version,slots");
    EXPECT_EQ (names (document["pads"]["slots"][0]), "name,asset,gainDb");
    EXPECT_EQ (names (document["ui"]), "playlistsFolded,padsFolded,memoFolded,zoom,rowHeight,collapsedFolders");

    EXPECT_EQ (document["version"], juce::var (6));
    EXPECT_TRUE (document["version"].isInt());
    EXPECT_EQ (document["application"], juce::var ("Vantrel!"));
    EXPECT_EQ (document["playlists"][1]["version"], juce::var (6));
    EXPECT_EQ (document["pads"]["version"], juce::var (3));
    EXPECT_EQ (document["pads"]["slots"].size(), 45);
    EXPECT_TRUE (document["ui"]["zoom"].isInt());
    EXPECT_TRUE (document["playlists"][0]["eq"]["bands"][0]["shape"].isInt());

    const auto& row = document["playlists"][0]["rows"][0];
    EXPECT_TRUE (row["bytes"].isString());
    EXPECT_EQ (row["bytes"].toString(), "18446744073709551615");
    EXPECT_EQ (row["modified"].toString(), "-1700000000000");
    EXPECT_EQ (row["title"].toString(), utf8 ("曲 A"));
    EXPECT_TRUE (row["gainDb"].isDouble());
}

TEST (SessionDocumentsReader, OldVersionsGetTheirDefaults)
{
    // Version 1 everywhere: no folders, no master, no bus settings, rows without gain or EQ,
    // pads without gains, UI without rowHeight or collapsed folders. Members that a later version
    // introduced are ignored here even when present and invalid.
    juce::String slots;
    for (int i = 0; i < 45; ++i)
        slots << (i == 0 ? "" : ",") << "{\"name\":\"n" << i << "\",\"asset\":\"\"}";

    const auto text = juce::String (R"({"version":1,"playlists":[{"version":1,"id":"p1","name":"List","memo":"",
        "folderId":"nowhere","gainDb":"bad","eq":7,
        "rows":[{"id":"r1","title":"T","note":"","source":"/a.wav","bytes":"10","modified":"-5","duration":1.5}]}],
        "current":"p1","folders":"bad","master":{"limiterEnabled":false,"eq":null},
        "pads":{"version":1,"slots":[)") + slots + R"(]},
        "ui":{"playlistsFolded":true,"padsFolded":false,"memoFolded":false,"zoom":4}})";

    CatalogState state;
    const auto result = readCatalogJson (juce::JSON::parse (text), state);
    ASSERT_TRUE (result.ok) << result.message;

    const auto& playlist = state.document.playlists.at (0);
    EXPECT_EQ (playlist.folderId, "");
    EXPECT_EQ (playlist.gainDb, 0.0f);
    EXPECT_EQ (playlist.eq, EqSettings());
    EXPECT_EQ (playlist.rows.at (0).gainDb, 0.0f);
    EXPECT_EQ (playlist.rows.at (0).eq, EqSettings());
    EXPECT_EQ (playlist.rows.at (0).bytes, 10u);
    EXPECT_EQ (playlist.rows.at (0).modified, -5);
    EXPECT_TRUE (state.document.folders.empty());
    EXPECT_TRUE (state.limiterEnabled);
    EXPECT_EQ (state.document.masterEq, EqSettings());
    EXPECT_EQ (state.pads[44].name, "n44");
    EXPECT_EQ (state.pads[44].gainDb, 0.0f);
    EXPECT_EQ (state.ui.rowHeight, 49);
    EXPECT_TRUE (state.ui.collapsedFolders.empty());
    EXPECT_TRUE (state.ui.playlistsFolded);
    EXPECT_EQ (state.ui.zoom, 4);
}

TEST (SessionDocumentsReader, EachVersionMakesItsMembersObligatory)
{
    struct VersionCase
    {
        const char* description;
        Mutation mutate;
        const char* message;                                   // null: the read succeeds
        std::function<void (const CatalogState&)> check;       // on success
    };

    const auto rowEq = [] (const CatalogState& s) { return s.document.playlists[0].rows[0].eq; };
    EqSettings sampleRowEq = sampleState().document.playlists[0].rows[0].eq;

    const std::vector<VersionCase> cases {
        { "document 4 without folders and master", both (set ("version", 4), both (drop ("folders"), both (drop ("master"), set ("playlists/0/folderId", "")))), nullptr,
          [] (const CatalogState& s) { EXPECT_TRUE (s.limiterEnabled); EXPECT_EQ (s.document.masterEq, EqSettings()); } },
        { "document 5 without folders", both (set ("version", 5), drop ("folders")), "Invalid folder catalog", {} },
        { "document 5 ignores a bad master EQ", both (set ("version", 5), set ("master/eq", 3)), nullptr,
          [] (const CatalogState& s) { EXPECT_FALSE (s.limiterEnabled); EXPECT_EQ (s.document.masterEq, EqSettings()); } },
        { "playlist 1 row without gain or EQ", both (set ("playlists/0/version", 1), both (drop ("playlists/0/rows/0/gainDb"), drop ("playlists/0/rows/0/eq"))), nullptr,
          [&] (const CatalogState& s) { EXPECT_EQ (s.document.playlists[0].rows[0].gainDb, 0.0f); EXPECT_EQ (rowEq (s), EqSettings()); } },
        { "playlist 2 row without gain", both (set ("playlists/0/version", 2), drop ("playlists/0/rows/0/gainDb")), "登録行の型・音源参照情報が不正です", {} },
        { "playlist 3 row with null EQ", both (set ("playlists/0/version", 3), set ("playlists/0/rows/0/eq", null)), nullptr,
          [&] (const CatalogState& s) { EXPECT_EQ (rowEq (s), EqSettings()); } },
        { "playlist 3 row reads a present EQ", set ("playlists/0/version", 3), nullptr,
          [&] (const CatalogState& s) { EXPECT_EQ (rowEq (s), sampleRowEq); } },
        { "playlist 3 row with a bad present EQ", both (set ("playlists/0/version", 3), set ("playlists/0/rows/0/eq/bands/0/q", 0)), "トラックEQの値が範囲外です", {} },
        { "playlist 4 row without EQ", both (set ("playlists/0/version", 4), drop ("playlists/0/rows/0/eq")), "トラックEQ保存形式が不正です", {} },
        { "playlist 4 ignores its folder id", both (set ("playlists/0/version", 4), set ("playlists/0/folderId", 5)), nullptr,
          [] (const CatalogState& s) { EXPECT_EQ (s.document.playlists[0].folderId, ""); } },
        { "playlist 5 ignores bus settings", both (set ("playlists/0/version", 5), set ("playlists/0/gainDb", "x")), nullptr,
          [] (const CatalogState& s) { EXPECT_EQ (s.document.playlists[0].gainDb, 0.0f); EXPECT_EQ (s.document.playlists[0].eq, EqSettings());
                                       EXPECT_EQ (s.document.playlists[0].folderId, "f2"); } },
        { "pads 2 without gains", both (set ("pads/version", 2), drop ("pads/slots/0/gainDb")), nullptr,
          [] (const CatalogState& s) { EXPECT_EQ (s.pads[0].gainDb, 0.0f); EXPECT_EQ (s.pads[44].gainDb, 12.0f); } },
        { "pads 6 without gains", both (set ("pads/version", 6), drop ("pads/slots/0/gainDb")), "PAD音量の型・範囲が不正です", {} },
    };

    for (const auto& testCase : cases)
    {
        SCOPED_TRACE (testCase.description);
        CatalogState state;
        const auto result = readMutated (testCase.mutate, state);

        if (testCase.message == nullptr)
        {
            ASSERT_TRUE (result.ok) << result.message;
            testCase.check (state);
        }
        else
        {
            EXPECT_FALSE (result.ok);
            EXPECT_EQ (result.message, utf8 (testCase.message));
        }
    }
}

TEST (SessionDocumentsMembers, VersionsMustBeIntegersFromOneToSix)
{
    const auto withVersion = [] (const juce::var& version) {
        auto* object = new juce::DynamicObject();
        object->setProperty ("version", version);
        return juce::var (object);
    };

    for (const auto& version : { juce::var (1), juce::var (6), juce::var ((juce::int64) 3) })
        EXPECT_TRUE (hasSupportedVersion (withVersion (version))) << version.toString();

    for (const auto& version : { juce::var (0), juce::var (7), juce::var (true), juce::var ("1"), juce::var (1.7),
                                 juce::var (1.0), juce::var ((juce::int64) 4294967297LL), juce::var(), emptyArray })
        EXPECT_FALSE (hasSupportedVersion (withVersion (version))) << version.toString();

    EXPECT_FALSE (hasSupportedVersion (juce::var (3)));
    EXPECT_FALSE (hasSupportedVersion (juce::var (juce::Array<juce::var> { 3 })));
}

TEST (SessionDocumentsMembers, StringMembersMustAllBeStrings)
{
    auto* object = new juce::DynamicObject();
    object->setProperty ("a", "x");
    object->setProperty ("b", "");
    object->setProperty ("n", 5);
    object->setProperty ("z", juce::var());
    const juce::var value (object);

    EXPECT_TRUE (hasStringMembers (value, { "a", "b" }));
    EXPECT_TRUE (hasStringMembers (value, {}));
    EXPECT_FALSE (hasStringMembers (value, { "a", "n" }));
    EXPECT_FALSE (hasStringMembers (value, { "z" }));
    EXPECT_FALSE (hasStringMembers (value, { "missing" }));
    EXPECT_FALSE (hasStringMembers (juce::var ("a"), {}));
    EXPECT_FALSE (hasStringMembers (emptyArray, {}));
}

TEST (SessionDocumentsMembers, DecimalTextIsReadStrictly)
{
    struct TextCase
    {
        juce::var value;
        bool unsignedOk;
        uint64_t unsignedValue;
        bool signedOk;
        int64_t signedValue;
    };

    const std::vector<TextCase> cases {
        { "0", true, 0, true, 0 },
        { "0010", true, 10, true, 10 },
        { "18446744073709551615", true, 18446744073709551615ull, false, 0 },
        { "18446744073709551616", false, 0, false, 0 },
        { "99999999999999999999999", false, 0, false, 0 },
        { "9223372036854775807", true, 9223372036854775807ull, true, 9223372036854775807LL },
        { "9223372036854775808", true, 9223372036854775808ull, false, 0 },
        { "-9223372036854775808", false, 0, true, std::numeric_limits<int64_t>::min() },
        { "-9223372036854775809", false, 0, false, 0 },
        { "-12", false, 0, true, -12 },
        { "-", false, 0, false, 0 },
        { "", false, 0, false, 0 },
        { "+1", false, 0, false, 0 },
        { " 1", false, 0, false, 0 },
        { "1 ", false, 0, false, 0 },
        { "1.0", false, 0, false, 0 },
        { "1e3", false, 0, false, 0 },
        { "0x10", false, 0, false, 0 },
        { "- 1", false, 0, false, 0 },
        { utf8 ("１"), false, 0, false, 0 },   // a full-width digit
        { juce::var (5), false, 0, false, 0 },
        { juce::var ((juce::int64) 5), false, 0, false, 0 },
        { juce::var (5.0), false, 0, false, 0 },
        { juce::var(), false, 0, false, 0 },
        { juce::var (true), false, 0, false, 0 },
    };

    for (const auto& testCase : cases)
    {
        SCOPED_TRACE (testCase.value.toString());
        uint64_t unsignedValue = 77;
        int64_t signedValue = 77;

        EXPECT_EQ (parseUInt64Text (testCase.value, unsignedValue), testCase.unsignedOk);
        EXPECT_EQ (unsignedValue, testCase.unsignedOk ? testCase.unsignedValue : 77u);
        EXPECT_EQ (parseInt64Text (testCase.value, signedValue), testCase.signedOk);
        EXPECT_EQ (signedValue, testCase.signedOk ? testCase.signedValue : 77);
    }
}

TEST (SessionDocumentsEq, ReadsOnlyValidEqObjectsAndLeavesTheOutputOtherwise)
{
    EqSettings eq;
    eq.enabled = true;
    eq.bands[3] = { false, 4, 20000.0, -18.0, 12.0 };

    EqSettings read;
    read.bands[0].gainDb = 1.0;
    ASSERT_TRUE (readEqSettings (juce::JSON::parse (sessionJsonText (eqSettingsToJson (eq))), read));
    EXPECT_EQ (read, eq);

    const auto unchanged = read;
    const std::vector<Mutation> broken { set ("enabled", null), drop ("bands/7"), set ("bands/0/shape", 0.0),
                                         set ("bands/0/q", 0.05), set ("bands/0/frequency", null), grow ("bands") };
    for (const auto& mutate : broken)
    {
        const auto json = eqSettingsToJson (eq);
        mutate (json);
        EXPECT_FALSE (readEqSettings (json, read));
        EXPECT_EQ (read, unchanged);
    }

    EXPECT_FALSE (readEqSettings (juce::var(), read));
    EXPECT_FALSE (readEqSettings (emptyArray, read));
    EXPECT_EQ (read, unchanged);
}
