#include "session/UiLanguage.h"
#include "session/UiText.h"
#include "session/UiTextExtra.h"
#include "session/UiTextTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace vantrel;

namespace
{
juce::String utf8 (const char* text)  { return juce::String::fromUTF8 (text); }

/** Selects a language for one test and puts Japanese back afterwards. */
struct LanguageScope
{
    explicit LanguageScope (bool english)  { setUiLanguage (english); }
    ~LanguageScope()                       { setUiLanguage (false); }
};

struct HandPair
{
    const char* japanese;
    const char* english;
};

// Written out by hand, independently of the generated table: first and last rows,
// leading and trailing blanks, line feeds, and keys that share an English text.
const HandPair handPairs[] = {
    { " / 遅延 ", " / Latency " },
    { "取込の保存確定待ち", "Import awaiting save" },
    { "削除", "Delete" },
    { "件", " items" },
    { "曲", " tracks" },
    { "音源\n", " audio files\n" },
    { "音源", "Audio" },
    { "適用", "Apply" },
    { "反映", "Apply" },
    { "実行", "OK" },
    { "一時停止中 · ", "Paused · " },
    { "一時停止中 · LIVE LOCK ON", "Paused · LIVE LOCK ON" },
    { "\nごみ箱への移動はUndoで戻せません。", "\nMoving files to the Recycle Bin cannot be undone here." },
};
} // namespace

TEST (UiLanguage, SwitchesBetweenJapaneseAndEnglish)
{
    LanguageScope scope (false);
    EXPECT_FALSE (uiLanguage());
    setUiLanguage (true);
    EXPECT_TRUE (uiLanguage());
    setUiLanguage (false);
    EXPECT_FALSE (uiLanguage());
}

TEST (UiTextTable, Has248RowsWithDistinctNonEmptyKeys)
{
    std::set<std::string> keys;

    for (const auto& pair : uiTextPairs)
    {
        ASSERT_NE (pair.japanese, nullptr);
        ASSERT_NE (pair.english, nullptr);
        EXPECT_GT (std::string (pair.japanese).size(), 0u);
        EXPECT_GT (std::string (pair.english).size(), 0u);
        keys.insert (pair.japanese);
    }

    EXPECT_EQ (uiTextPairs.size(), 248u);
    EXPECT_EQ (keys.size(), 248u);
}

TEST (Translate, HandWrittenPairsGiveTheirEnglishText)
{
    LanguageScope scope (true);

    for (const auto& pair : handPairs)
        EXPECT_EQ (translate (pair.japanese), utf8 (pair.english)) << pair.japanese;
}

TEST (Translate, EveryTableRowGivesItsEnglishTextInEnglish)
{
    LanguageScope scope (true);

    for (const auto& pair : uiTextPairs)
        EXPECT_EQ (translate (pair.japanese), utf8 (pair.english)) << pair.japanese;
}

TEST (Translate, JapaneseModeReturnsEveryTextUnchanged)
{
    LanguageScope scope (false);

    for (const auto& pair : uiTextPairs)
        EXPECT_EQ (translate (pair.japanese), utf8 (pair.japanese)) << pair.japanese;

    for (const auto& pair : handPairs)
        EXPECT_EQ (translate (pair.japanese), utf8 (pair.japanese));

    for (const auto& pair : uiTextExtraPairs)
    {
        EXPECT_EQ (translate (pair.japanese), utf8 (pair.japanese)) << pair.japanese;
        EXPECT_EQ (translateMessage (utf8 (pair.japanese)), utf8 (pair.japanese)) << pair.japanese;
    }
}

TEST (Translate, LooksUpExactBytesOnlyAndFallsBackToTheInput)
{
    LanguageScope scope (true);

    const char* unknownTexts[] = {
        "削除 ",        // trailing blank added
        " 削除",        // leading blank added
        "音源\n\n",     // an extra line feed
        "/ 遅延",       // the blanks of " / 遅延 " trimmed
        "delete",
        "まだ表にない文",
        "",
    };

    for (const auto* text : unknownTexts)
        EXPECT_EQ (translate (text), utf8 (text)) << text;

    EXPECT_EQ (translate (nullptr), juce::String());
}

TEST (Translate, FollowsALanguageChangeOnTheNextCall)
{
    LanguageScope scope (true);
    EXPECT_EQ (translate ("削除"), "Delete");
    setUiLanguage (false);
    EXPECT_EQ (translate ("削除"), utf8 ("削除"));
    setUiLanguage (true);
    EXPECT_EQ (translate ("削除"), "Delete");
}

// Four threads translate while a fifth keeps switching the language; every answer
// must be one of the two texts of its row. Run under ThreadSanitizer as well.
TEST (Translate, ConcurrentLookupsWhileTheLanguageToggles)
{
    LanguageScope scope (false);
    std::atomic<bool> go { false };
    std::atomic<int> readersDone { 0 };
    std::atomic<int> wrongAnswers { 0 };
    constexpr int numReaders = 4;
    constexpr int roundsPerReader = 40;

    std::vector<std::thread> readers;

    for (int r = 0; r < numReaders; ++r)
    {
        readers.emplace_back ([&, r]
        {
            while (! go.load())
                std::this_thread::yield();

            for (int round = 0; round < roundsPerReader; ++round)
            {
                for (size_t i = (size_t) r; i < uiTextPairs.size(); i += numReaders)
                {
                    const auto& pair = uiTextPairs[i];
                    const auto text = translate (pair.japanese);

                    if (text != utf8 (pair.japanese) && text != utf8 (pair.english))
                        ++wrongAnswers;
                }
            }

            ++readersDone;
        });
    }

    std::thread toggler ([&]
    {
        bool english = false;
        go = true;

        // Keep toggling until every reader has finished; at least one full cycle.
        for (int flips = 0; flips < 2 || readersDone.load() < numReaders; ++flips)
        {
            english = ! english;
            setUiLanguage (english);
            std::this_thread::yield();
        }
    });

    for (auto& reader : readers)
        reader.join();

    toggler.join();

    EXPECT_EQ (wrongAnswers.load(), 0);

    // Once the dust settles, both languages answer correctly.
    setUiLanguage (true);
    EXPECT_EQ (translate ("実行"), "OK");
    setUiLanguage (false);
    EXPECT_EQ (translate ("実行"), utf8 ("実行"));
}

// ---- the program's messages --------------------------------------------------------------------

namespace
{
bool hasJapanese (const juce::String& text)
{
    for (auto c : text)
        if ((c >= 0x3000 && c <= 0x30ff) || (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xff00 && c <= 0xffef))
            return true;
    return false;
}

// Messages as the store, the adapter, the rack and the coordinator compose them.
const HandPair composedMessages[] = {
    { "保存データを読めません: catalog.json", "Cannot read saved data: catalog.json" },
    { "JSON破損: pads.json / Unexpected character（中断journalを保持しました）",
      "Damaged JSON: pads.json / Unexpected character (interrupted save journal kept)" },
    { "JSON破損: catalog.json / Unexpected end of input。直前のバックアップを読み取りました。復旧確認が必要です。",
      "Damaged JSON: catalog.json / Unexpected end of input. The previous backup was read. Recovery must be confirmed." },
    { "JACKを初期化できません: 出力情報を取得できません", "Cannot initialize JACK: Cannot get output information" },
    { "選択したサンプルレートに対応していません: 44100 Hz / 48000, 96000",
      "Selected sample rate not supported: 44100 Hz / 48000, 96000" },
    { "VST 2 をバイパス: VST初期化に失敗しました", "VST 2 bypassed: VST initialization failed" },
    { "VST3 12件 / 除外・失敗 3件", "VST3 12 items / Skipped or failed 3 items" },
    { "VST状態を保存できません: timeout · 終了を中止しました。出力先を再開できません: 出力先が開始しませんでした",
      "Cannot save VST state: timeout · Exit cancelled. Cannot restart output: Output did not start" },
    // Details are kept as they stand, words of the tables inside them included.
    { "復旧の妨げになっている項目を移動できません: playlists/音源/新しい曲.json",
      "Cannot move an item blocking recovery: playlists/音源/新しい曲.json" },
    { "保存の確定に失敗しました: 設定 2.json", "Cannot commit the save: 設定 2.json" },
    // A text of neither table stays whole, even where it starts or ends like one.
    { "設定ファイルがありません", "設定ファイルがありません" },
    { "出力先を選択してくださいね", "出力先を選択してくださいね" },
    { "VST worker could not start", "VST worker could not start" },
    { "", "" },
};
} // namespace

TEST (UiTextExtra, KeysAreDistinctNonEmptyAndNotInTheFixedTable)
{
    std::set<std::string> fixedKeys, extraKeys;

    for (const auto& pair : uiTextPairs)
        fixedKeys.insert (pair.japanese);

    for (const auto& pair : uiTextExtraPairs)
    {
        ASSERT_NE (pair.japanese, nullptr);
        ASSERT_NE (pair.english, nullptr);
        EXPECT_GT (std::string (pair.japanese).size(), 0u);
        EXPECT_GT (std::string (pair.english).size(), 0u);
        EXPECT_EQ (fixedKeys.count (pair.japanese), 0u) << pair.japanese;
        EXPECT_FALSE (hasJapanese (utf8 (pair.english))) << pair.english;
        extraKeys.insert (pair.japanese);
    }

    EXPECT_EQ (extraKeys.size(), uiTextExtraPairs.size());
}

// Every message alone, and joined to details before and after it, reads in English.
TEST (TranslateMessage, EveryProgramMessageReadsInEnglishAloneAndWithDetails)
{
    LanguageScope scope (true);
    const auto before = utf8 ("/tmp/音源/a.json: ");
    const auto after = utf8 (" / 0x1f 新しい曲");

    for (const auto& pair : uiTextExtraPairs)
    {
        const auto english = utf8 (pair.english);
        EXPECT_EQ (translate (pair.japanese), english) << pair.japanese;
        EXPECT_EQ (translateMessage (utf8 (pair.japanese)), english) << pair.japanese;
        // A label of up to three characters ("形式") is a word inside a message, not a message.
        if (utf8 (pair.japanese).length() > 3)
        {
            EXPECT_EQ (translateMessage (before + utf8 (pair.japanese) + after), before + english + after) << pair.japanese;
        }
    }
}

TEST (TranslateMessage, ComposedMessagesReadAsEnglishAndStayWholeInJapanese)
{
    for (const auto& message : composedMessages)
    {
        {
            LanguageScope scope (true);
            EXPECT_EQ (translateMessage (utf8 (message.japanese)), utf8 (message.english)) << message.japanese;
        }

        EXPECT_EQ (translateMessage (utf8 (message.japanese)), utf8 (message.japanese)) << message.japanese;
    }
}
