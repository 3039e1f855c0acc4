// The direct writer of the session documents against the framework's writer on the value tree:
// every byte of every file must stay as the framework wrote it.

#include "DocumentFixtures.h"
#include "StateGenerator.h"

#include "session/SessionDocuments.h"
#include "session/SessionJsonText.h"
#include "session/StoredJson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <functional>
#include <random>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
juce::var object (std::initializer_list<std::pair<const char*, juce::var>> members)
{
    auto* result = new juce::DynamicObject();
    for (const auto& [name, value] : members)
        result->setProperty (name, value);
    return juce::var (result);
}

std::string framework (const juce::var& document)
{
    return sessionJsonText (document).toStdString();
}

/** The texts of every file of a state, as the framework writes them from catalogToJson's
    document and the slices of it that the split files hold. */
struct FrameworkTexts
{
    std::string whole, catalog, pads, appState;
    std::vector<std::string> playlists;

    explicit FrameworkTexts (const CatalogState& state)
    {
        const auto document = catalogToJson (state);
        whole = framework (document);
        auto entries = juce::var (juce::Array<juce::var>());

        for (const auto& playlist : *document["playlists"].getArray())
        {
            playlists.push_back (framework (playlist));
            entries.append (object ({ { "id", playlist["id"] }, { "name", playlist["name"] } }));
        }

        catalog = framework (object ({ { "version", sessionDocumentVersion }, { "folders", document["folders"] },
                                       { "playlists", entries }, { "current", document["current"] } }));
        pads = framework (document["pads"]);
        appState = framework (object ({ { "version", sessionDocumentVersion }, { "ui", document["ui"] },
                                        { "master", document["master"] } }));
    }
};

/** Compares every file; reports the first differing byte with some context. */
void expectSameTexts (const CatalogState& state)
{
    const FrameworkTexts expected (state);
    auto same = [] (const std::string& want, const std::string& got, const char* what)
    {
        if (want == got)
            return;

        size_t at = 0;
        while (at < want.size() && at < got.size() && want[at] == got[at])
            ++at;

        const auto from = at < 60 ? 0 : at - 60;
        ADD_FAILURE() << what << " differs at byte " << at << " of " << want.size() << " (" << got.size() << " written)\n"
                      << "framework: " << want.substr (from, 120) << "\ndirect:    " << got.substr (from, 120);
    };

    same (expected.whole, wholeStateJsonText (state), "whole-state document");
    std::vector<std::string> playlistTexts;
    for (const auto& playlist : state.document.playlists)
        playlistTexts.push_back (playlistJsonText (playlist));
    same (expected.whole, wholeStateJsonText (state, playlistTexts), "whole-state document around the playlist texts");
    same (expected.catalog, catalogFileJsonText (state), "catalog.json");
    same (expected.pads, padsJsonText (state.pads), "pads.json");
    same (expected.appState, appStateJsonText (state), "app-state.json");

    ASSERT_EQ (expected.playlists.size(), state.document.playlists.size());
    for (size_t i = 0; i < expected.playlists.size(); ++i)
        same (expected.playlists[i], playlistJsonText (state.document.playlists[i]), "playlist.json");
}

/** Texts that the writer must escape exactly as the framework does: quotes, backslashes, every
    control character, DEL, characters of two, three and four bytes, and bytes that are not clean
    UTF-8 (which the framework decodes its own way), a NUL inside. */
std::vector<std::string> awkwardTexts()
{
    std::vector<std::string> texts { "", "plain", "quote \" and 'single'", "back\\slash /slash", "tab\tline\nreturn\r",
                                     "bell\a back\b feed\f vertical\v escape\x1b", "del\x7f", "caf\xc3\xa9 \xc2\xa0 nbsp",
                                     "\xe6\x9b\xb2\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88", "\xf0\x9f\x8e\xb5 emoji \xf0\x9f\x98\x80",
                                     "\xef\xbf\xbf \xef\xbb\xbf bom", "\xf4\x8f\xbf\xbf last", "bad \xff byte",
                                     "overlong \xc0\x80", "surrogate \xed\xa0\x80", "cut \xe6\x9b", std::string ("nul\0inside", 10),
                                     "\xe2\x80\xa8 line separator" };
    for (char c = 1; c < 32; ++c)
        texts.push_back (std::string ("control ") + c + " end");
    return texts;
}

/** Doubles that the framework prints in its different ways: whole numbers, short and long
    fractions, tiny and huge values in exponent form, zeros of both signs, non-finite values. */
std::vector<double> awkwardNumbers()
{
    std::vector<double> numbers { 0.0, -0.0, 1.0, -1.0, 0.5, -0.25, 0.1, 0.1 + 0.2, 1.0 / 3.0, 2.0 / 3.0, 1000.0, 20000.0,
                                  -17.75, 123456.789, 999999.0, 1.0e6, 1.0e6 + 0.5, 1.0e7, 1.5e12, 1.0e-5, 1.0e-5 * 1.5,
                                  9.99e-6, 1.0e-4, 0.001234, 0.0123, 1.0e-300, 5.0e-324, 1.0e300, 1.7976931348623157e308,
                                  3.4028234663852886e38, 7.0710678118654757e-1, 2147483647.0, -2147483648.0, 4294967296.5,
                                  std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity() };
    for (int i = -1000; i <= 1000; i += 7)
        numbers.push_back (i / 8.0);
    return numbers;
}
} // namespace

TEST (SessionJsonText, RandomVariedStatesWriteTheFrameworksBytes)
{
    for (unsigned seed = 1; seed <= 200; ++seed)
    {
        SCOPED_TRACE ("seed " + std::to_string (seed));
        expectSameTexts (RandomStateMaker (seed).make());
    }
}

TEST (SessionJsonText, LargeShowWithAwkwardTextsAndNumbersWritesTheFrameworksBytes)
{
    auto state = generateState (7, 12, 250, false);
    const auto texts = awkwardTexts();
    const auto numbers = awkwardNumbers();
    size_t t = 0, n = 0;
    auto nextText = [&] { return texts[t++ % texts.size()]; };
    auto nextNumber = [&] { return numbers[n++ % numbers.size()]; };

    for (auto& playlist : state.document.playlists)
    {
        playlist.name = nextText();
        playlist.memo = nextText() + "\n" + nextText();
        playlist.gainDb = static_cast<float> (nextNumber());

        for (auto& row : playlist.rows)
        {
            row.title = nextText();
            row.note = nextText();
            row.source = "/srv/" + nextText();
            row.duration = nextNumber();
            row.gainDb = static_cast<float> (nextNumber());
            row.bytes = n % 2 == 0 ? std::numeric_limits<uint64_t>::max() : n;
            row.modified = n % 3 == 0 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t> (n);
            for (auto& band : row.eq.bands)
            {
                band.enabled = n % 2 == 0;
                band.shape = static_cast<int> (n % 7) - 1;
                band.frequency = nextNumber();
                band.gainDb = nextNumber();
                band.q = nextNumber();
            }
        }
    }

    // Neighbouring rows whose EQs differ only in the sign of a zero.
    auto& rows = state.document.playlists.front().rows;
    rows[0].eq = rows[1].eq = EqSettings();
    rows[1].eq.bands[5].gainDb = -0.0;

    state.document.folders.push_back ({ nextText(), nextText(), "" });
    state.ui.collapsedFolders = { nextText(), "folder-1", "" };
    for (auto& pad : state.pads)
        pad = { nextText(), nextText(), static_cast<float> (nextNumber()) };

    ASSERT_GT (n, numbers.size() * 10);
    ASSERT_GT (t, texts.size() * 10);
    expectSameTexts (state);
}

TEST (SessionJsonText, EmptyStateWritesTheFrameworksBytes)
{
    expectSameTexts (CatalogState());
}

// The quick scan of the atomic writer's JSON check vouches only for text that the full parse
// accepts: plain documents pass it, and no damaged text that it lets through fails the parse.
TEST (PlainJsonScan, AcceptsTheStoredDocumentsAndNothingTheParseRefuses)
{
    const auto state = generateState (3, 2, 40);
    const std::vector<std::string> documents { wholeStateJsonText (state), padsJsonText (state.pads), "[]", "{}",
                                               "{\"a\": [1, -2.5e-3, 0.0, true, false, null, \"\\ud83c\\udfb5\\a\"]}" };
    for (const auto& text : documents)
        EXPECT_TRUE (isPlainJsonText (text)) << text.substr (0, 200);

    const std::vector<std::string> refused { "", "   ", "\"top\"", "1", "{\"a\": 1} x", "{\"\": 1}", "{\"a\": \"\\u0000\"}",
                                             "{\"a\": \"\\ud83c\"}", "{\"a\": \"\\udfb5\"}", "{\"a\": 01}", "{\"a\": 1.}",
                                             "{\"a\": 12345678901234567890}", "{\"a\": 1e999}", "{\"a\": \"\xc3\xa9\"}",
                                             "\xef\xbb\xbf{}", "{\"a\": 1,}", "[1 2]", "{'a': 1}", "{\"a\": tru}",
                                             std::string (65, '[') + std::string (65, ']') };
    for (const auto& text : refused)
        EXPECT_FALSE (isPlainJsonText (text)) << text;

    // Damage at random places: whatever the scan accepts, the full parse accepts too.
    std::mt19937 random (5);
    const auto base = wholeStateJsonText (generateState (4, 1, 2));
    const std::string replacements = "{}[]\",:\\ .-+eE0123456789tfnul\x01\x7f\xc3";
    int accepted = 0;
    for (int i = 0; i < 3000; ++i)
    {
        auto text = base;
        for (int edits = 1 + i % 3; edits > 0; --edits)
        {
            const auto at = std::uniform_int_distribution<size_t> (0, text.size() - 1) (random);
            text[at] = replacements[std::uniform_int_distribution<size_t> (0, replacements.size() - 1) (random)];
        }
        if (! isPlainJsonText (text))
            continue;
        ++accepted;
        juce::var parsed;
        EXPECT_TRUE (parseStoredJson (text, parsed).wasOk()) << text;
    }
    EXPECT_GT (accepted, 0);
}

// The save's self-check on the records answers what the reader answers for the document.
TEST (SaveSelfCheck, AnswersWhatTheReaderAnswersForTheDocument)
{
    const auto valid = generateState (9, 3, 6);
    using Change = std::function<void (CatalogState&)>;
    const auto firstRow = [] (CatalogState& s) -> Row& { return s.document.playlists[1].rows[2]; };
    const std::vector<std::pair<const char*, Change>> changes {
        { "nothing", [] (CatalogState&) {} },
        { "bus EQ frequency", [] (CatalogState& s) { s.document.playlists[0].eq.bands[3].frequency = 5.0; } },
        { "row EQ shape", [&] (CatalogState& s) { firstRow (s).eq.bands[0].shape = 99; } },
        { "row EQ gain NaN", [&] (CatalogState& s) { firstRow (s).eq.bands[7].gainDb = std::nan (""); } },
        { "relative source", [&] (CatalogState& s) { firstRow (s).source = "track.wav"; } },
        { "empty source", [&] (CatalogState& s) { firstRow (s).source.clear(); } },
        { "source that is a NUL first", [&] (CatalogState& s) { firstRow (s).source = std::string ("\0/x.wav", 7); } },
        { "source with bad bytes", [&] (CatalogState& s) { firstRow (s).source = "/\xff/x.wav"; } },
        { "master EQ q", [] (CatalogState& s) { s.document.masterEq.bands[1].q = -1.0; } },
        { "duplicate row id", [&] (CatalogState& s) { firstRow (s).id = s.document.playlists[0].rows[0].id; } },
        { "row id cut by a NUL", [&] (CatalogState& s) { firstRow (s).id = s.document.playlists[0].rows[0].id + std::string ("\0x", 2); } },
        { "bad row id", [&] (CatalogState& s) { firstRow (s).id = "a/b"; } },
        { "row gain", [&] (CatalogState& s) { firstRow (s).gainDb = 40.0f; } },
        { "bus gain infinite", [] (CatalogState& s) { s.document.playlists[2].gainDb = std::numeric_limits<float>::infinity(); } },
        { "unknown current", [] (CatalogState& s) { s.document.current = "nowhere"; } },
        { "folder without a name", [] (CatalogState& s) { s.document.folders[0].name = std::string ("\0name", 5); } },
        { "folder cycle", [] (CatalogState& s) { s.document.folders[0].parentId = "folder-2"; } },
        { "pad gain", [] (CatalogState& s) { s.pads[4].gainDb = -61.0f; } },
        { "pad gain NaN", [] (CatalogState& s) { s.pads[44].gainDb = std::nanf (""); } },
        { "pad asset path", [] (CatalogState& s) { s.pads[3].asset = "../up.wav"; } },
        { "zoom", [] (CatalogState& s) { s.ui.zoom = 20; } },
        { "row height", [] (CatalogState& s) { s.ui.rowHeight = 29; } },
        { "collapsed folder id", [] (CatalogState& s) { s.ui.collapsedFolders.push_back ("not valid"); } },
        { "two faults: row EQ before pads", [&] (CatalogState& s) { firstRow (s).eq.bands[0].shape = 99; s.pads[0].gainDb = 99.0f; } },
        { "two faults: catalog before UI", [] (CatalogState& s) { s.document.current = "x"; s.ui.zoom = -1; } },
    };

    int refused = 0;
    for (const auto& [what, change] : changes)
    {
        SCOPED_TRACE (what);
        auto state = valid;
        change (state);
        CatalogState readBack;
        const auto expected = readCatalogJson (catalogToJson (state), readBack);
        EXPECT_EQ (checkCatalogState (state), expected) << expected.message;
        refused += expected.ok ? 0 : 1;
    }
    EXPECT_EQ (refused, static_cast<int> (changes.size()) - 2);   // all but "nothing" and the bad bytes after the '/'

    for (unsigned seed = 1; seed <= 50; ++seed)
        EXPECT_TRUE (checkCatalogState (RandomStateMaker (seed).make()).ok);
}
