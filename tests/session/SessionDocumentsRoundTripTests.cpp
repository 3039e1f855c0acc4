#include "DocumentFixtures.h"

#include "session/CatalogValidation.h"
#include "session/SessionDocuments.h"
#include "session/StoredJson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
/** Writes a state as stored text and reads it back the way a load does. */
StoreResult throughText (const CatalogState& state, CatalogState& out, juce::String* text = nullptr)
{
    const auto written = sessionJsonText (catalogToJson (state));
    if (text != nullptr)
        *text = written;

    juce::var parsed;
    const auto parse = parseStoredJson (written.toStdString(), parsed);
    if (parse.failed())
        return StoreResult::failure ("parse: " + parse.getErrorMessage());

    return readCatalogJson (parsed, out);
}
} // namespace

TEST (SessionDocumentsRoundTrip, RandomValidStatesReadBackEqualAndWriteTheSameText)
{
    for (unsigned seed = 1; seed <= 300; ++seed)
    {
        SCOPED_TRACE ("seed " + std::to_string (seed));
        const auto state = RandomStateMaker (seed).make();
        ASSERT_TRUE (isValidCatalog (state.document));

        CatalogState read;
        juce::String text;
        const auto result = throughText (state, read, &text);

        ASSERT_TRUE (result.ok) << result.message;
        EXPECT_EQ (read, state);
        // A second save of what was loaded produces the same bytes, so unchanged files stay untouched.
        EXPECT_EQ (sessionJsonText (catalogToJson (read)), text);
    }
}

TEST (SessionDocumentsRoundTrip, SampleStateKeepsTextsExtremesAndGainsExactly)
{
    auto state = sampleState();
    auto& row = state.document.playlists[0].rows[1];
    row.modified = std::numeric_limits<int64_t>::min();
    row.title = "引用符\" \\ 改行\n タブ\t 🎵";
    row.gainDb = std::nextafter (-60.0f, 0.0f);
    state.pads[7].gainDb = 0.1f;
    state.document.playlists[1].gainDb = std::nextafter (12.0f, 0.0f);

    CatalogState read;
    const auto result = throughText (state, read);

    ASSERT_TRUE (result.ok) << result.message;
    EXPECT_EQ (read, state);
    EXPECT_EQ (read.document.playlists[0].rows[0].bytes, std::numeric_limits<uint64_t>::max());
    EXPECT_EQ (read.document.playlists[0].rows[1].modified, std::numeric_limits<int64_t>::min());
    EXPECT_EQ (read.pads[7].gainDb, 0.1f);
}

TEST (SessionDocumentsRoundTrip, NotANumberIsNeverSavedAsAnotherValue)
{
    // The JSON writer turns a NaN into null; the reader then refuses the member instead of
    // reading a default in its place.
    const auto nan = std::numeric_limits<double>::quiet_NaN();

    auto badGain = sampleState();
    badGain.document.playlists[0].rows[0].gainDb = std::numeric_limits<float>::quiet_NaN();
    auto badFrequency = sampleState();
    badFrequency.document.playlists[0].rows[0].eq.bands[2].frequency = nan;
    auto badDuration = sampleState();
    badDuration.document.playlists[0].rows[1].duration = nan;
    auto badPad = sampleState();
    badPad.pads[3].gainDb = std::numeric_limits<float>::quiet_NaN();

    const std::vector<std::pair<CatalogState, const char*>> cases {
        { badGain, "登録行の型・音源参照情報が不正です" },
        { badFrequency, "トラックEQの型が不正です" },
        { badDuration, "登録行の型・音源参照情報が不正です" },
        { badPad, "PAD音量の型・範囲が不正です" },
    };

    for (const auto& [state, message] : cases)
    {
        CatalogState read;
        const auto result = throughText (state, read);
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, utf8 (message));
        EXPECT_EQ (read, CatalogState());
    }
}

TEST (SessionDocumentsRoundTrip, ReadRecordsCompareWithIeeeEquality)
{
    CatalogState first, second;
    ASSERT_TRUE (throughText (sampleState(), first).ok);
    ASSERT_TRUE (throughText (sampleState(), second).ok);
    EXPECT_EQ (first, second);

    first.document.masterEq.bands[1].gainDb = std::numeric_limits<double>::quiet_NaN();
    second.document.masterEq.bands[1].gainDb = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE (first, second);   // a NaN is never equal, not even to itself

    first.document.masterEq.bands[1].gainDb = -0.0;
    second.document.masterEq.bands[1].gainDb = 0.0;
    EXPECT_EQ (first, second);
}

TEST (SessionDocumentsRoundTrip, InfinitiesAreRefusedByTheReaderItself)
{
    // The framework's parser reads 1e999 as infinity. The stored-file parser refuses it already;
    // the reader must not depend on that: every range check refuses an infinity too.
    struct Case
    {
        const char* path;
        const char* message;
    };

    for (const auto& testCase : { Case { "playlists/0/rows/0/duration", "登録ID・選択・Gainの整合性エラー" },
                                  Case { "playlists/0/rows/0/gainDb", "登録ID・選択・Gainの整合性エラー" },
                                  Case { "pads/slots/0/gainDb", "PAD音量の型・範囲が不正です" },
                                  Case { "master/eq/bands/0/q", "Invalid master EQ settings" } })
    {
        SCOPED_TRACE (testCase.path);
        const auto document = catalogToJson (sampleState());
        setAt (document, testCase.path, "INFINITY-MARKER");
        const auto text = sessionJsonText (document).replace ("\"INFINITY-MARKER\"", "1e999");

        juce::var parsed;
        ASSERT_TRUE (juce::JSON::parse (text, parsed).wasOk());
        CatalogState read;
        const auto result = readCatalogJson (parsed, read);
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, utf8 (testCase.message));
    }
}

//==============================================================================
TEST (SessionDocumentsOverflow, IntegersBeyondSixtyFourBitsAreDamageNotAnotherValue)
{
    // The framework's own parser overflows on such literals (it wraps at 2^64, so
    // 18446744073709551622 would read as version 6 and 18446744073709551631 as zoom 15). Stored
    // documents are parsed by parseStoredJson, which refuses them before the framework sees them;
    // a load then reports "JSON破損" and takes the recovery path.
    const auto text = sessionJsonText (catalogToJson (sampleState()));
    const std::vector<std::pair<juce::String, juce::String>> edits {
        { "\"version\": 6", "\"version\": 18446744073709551622" },
        { "\"zoom\": 3", "\"zoom\": 18446744073709551631" },
        { "\"shape\": 0", "\"shape\": -99999999999999999999" },
    };

    for (const auto& [from, to] : edits)
    {
        SCOPED_TRACE (to);
        const auto damaged = text.replaceFirstOccurrenceOf (from, to);
        ASSERT_NE (damaged, text);

        juce::var parsed ("untouched");
        const auto result = parseStoredJson (damaged.toStdString(), parsed);
        EXPECT_TRUE (result.failed());
        EXPECT_TRUE (result.getErrorMessage().startsWith ("number out of range")) << result.getErrorMessage();
        EXPECT_EQ (parsed, juce::var ("untouched"));
    }

    // The largest values that fit are read as they are, and refused by the range checks.
    juce::var parsed;
    ASSERT_TRUE (parseStoredJson (text.replaceFirstOccurrenceOf ("\"version\": 6", "\"version\": 9223372036854775807").toStdString(), parsed).wasOk());
    CatalogState state;
    EXPECT_EQ (readCatalogJson (parsed, state).message, utf8 ("未対応の保存バージョンです。元データは変更しません。"));
}
