#include "session/UiLanguage.h"
#include "session/UiText.h"
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
