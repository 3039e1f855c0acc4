#include "CatalogBuilders.h"

#include "session/CatalogValidation.h"
#include "session/FileSignature.h"
#include "platform/FileStatus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

EqSettings withBand (void (*change) (EqBand&), int band = 3)
{
    EqSettings eq;
    change (eq.bands[(size_t) band]);
    return eq;
}
} // namespace

TEST (EqSettings, DefaultIsTheEightBandLayoutSwitchedOff)
{
    const EqSettings eq;
    EXPECT_FALSE (eq.enabled);
    EXPECT_TRUE (eq.isValid());

    const double frequencies[] = { 40, 100, 300, 700, 1800, 4000, 8000, 16000 };
    const int shapes[] = { 1, 0, 0, 0, 0, 0, 0, 2 };
    for (size_t i = 0; i < 8; ++i)
    {
        EXPECT_TRUE (eq.bands[i].enabled);
        EXPECT_EQ (eq.bands[i].shape, shapes[i]);
        EXPECT_EQ (eq.bands[i].frequency, frequencies[i]);
        EXPECT_EQ (eq.bands[i].gainDb, 0.0);
        EXPECT_EQ (eq.bands[i].q, (i == 0 || i == 7) ? 0.7071067811865476 : 1.0);
    }
}

TEST (EqSettings, EqualityIsIeee)
{
    const auto withGain = [] (double gain) { EqSettings eq; eq.bands[2].gainDb = gain; return eq; };

    EXPECT_NE (withGain (notANumber), withGain (notANumber));     // a NaN is never equal, not even to itself
    EXPECT_EQ (withGain (-0.0), withGain (0.0));   // +0 equals -0
    EXPECT_NE (withGain (1.0), withGain (1.5));

    EqSettings on;
    on.enabled = true;
    EXPECT_NE (on, EqSettings());

    Row a = makeRow ("a"), b = makeRow ("a");
    a.gainDb = -0.0f;
    EXPECT_EQ (a, b);
    a.duration = notANumber;
    b.duration = notANumber;
    EXPECT_NE (a, b);
}

TEST (EqSettings, ValidityBoundsAreInclusiveAndFinite)
{
    struct Case { const char* what; void (*change) (EqBand&); bool valid; };
    const Case cases[] = {
        { "frequency at 20",       [] (EqBand& b) { b.frequency = 20.0; },     true },
        { "frequency at 20000",    [] (EqBand& b) { b.frequency = 20000.0; },  true },
        { "frequency 19.999",      [] (EqBand& b) { b.frequency = 19.999; },   false },
        { "frequency 20000.001",   [] (EqBand& b) { b.frequency = 20000.001; }, false },
        { "gain at 18",            [] (EqBand& b) { b.gainDb = 18.0; },        true },
        { "gain at -18",           [] (EqBand& b) { b.gainDb = -18.0; },       true },
        { "gain 18.0001",          [] (EqBand& b) { b.gainDb = 18.0001; },     false },
        { "gain -18.0001",         [] (EqBand& b) { b.gainDb = -18.0001; },    false },
        { "q at 0.1",              [] (EqBand& b) { b.q = 0.1; },              true },
        { "q at 12",               [] (EqBand& b) { b.q = 12.0; },             true },
        { "q 0.0999",              [] (EqBand& b) { b.q = 0.0999; },           false },
        { "q 12.0001",             [] (EqBand& b) { b.q = 12.0001; },          false },
        { "shape 4",               [] (EqBand& b) { b.shape = 4; },            true },
        { "shape 5",               [] (EqBand& b) { b.shape = 5; },            false },
        { "shape -1",              [] (EqBand& b) { b.shape = -1; },           false },
        { "NaN frequency",         [] (EqBand& b) { b.frequency = notANumber; },      false },
        { "infinite gain",         [] (EqBand& b) { b.gainDb = infinity; },         false },
        { "NaN q",                 [] (EqBand& b) { b.q = notANumber; },              false },
        { "disabled band is still checked", [] (EqBand& b) { b.enabled = false; b.q = 50.0; }, false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (withBand (c.change).isValid(), c.valid) << c.what;

    // The last band is checked too, not only the first failing one found early.
    EXPECT_FALSE (withBand ([] (EqBand& b) { b.q = 0.0; }, 7).isValid());
}

TEST (ClampGainDb, NonFiniteGivesZeroOtherwiseClamped)
{
    EXPECT_EQ (clampGainDb (std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ (clampGainDb (std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_EQ (clampGainDb (-std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_EQ (clampGainDb (-100.0f), -60.0f);
    EXPECT_EQ (clampGainDb (12.5f), 12.0f);
    EXPECT_EQ (clampGainDb (-6.5f), -6.5f);
    EXPECT_EQ (clampGainDb (12.0f), 12.0f);
}

TEST (IsValidId, AsciiLettersDigitsAndDashUpToEightyBytes)
{
    EXPECT_TRUE (isValidId ("a"));
    EXPECT_TRUE (isValidId ("A-9"));
    EXPECT_TRUE (isValidId (std::string (80, 'z')));
    EXPECT_TRUE (isValidId ("0123456789abcdef0123456789abcdef"));

    EXPECT_FALSE (isValidId (""));
    EXPECT_FALSE (isValidId (std::string (81, 'z')));
    EXPECT_FALSE (isValidId ("a_b"));
    EXPECT_FALSE (isValidId ("a b"));
    EXPECT_FALSE (isValidId ("a.b"));
    EXPECT_FALSE (isValidId ("caf\xc3\xa9"));
    EXPECT_FALSE (isValidId (std::string ("a\0b", 3)));
    EXPECT_FALSE (isValidId ("../x"));
}

TEST (PadIndex, MapsBankAndSlotToPosition)
{
    EXPECT_EQ (padIndex (1, 1), 0);
    EXPECT_EQ (padIndex (2, 1), 9);
    EXPECT_EQ (padIndex (5, 9), 44);
    EXPECT_FALSE (padIndex (0, 1));
    EXPECT_FALSE (padIndex (6, 1));
    EXPECT_FALSE (padIndex (1, 0));
    EXPECT_FALSE (padIndex (1, 10));
}

TEST (MovePadSlot, SwapsWithinBankUnlessEitherPadPlays)
{
    PadSlots pads;
    pads[9] = { "Applause", "applause.wav", -3.0f };   // bank 2 pad 1
    pads[13] = { "Horn", "horn.wav", 2.0f };          // bank 2 pad 5
    PadFlags playing {};

    ASSERT_TRUE (movePadSlot (pads, 2, 1, 5, playing));
    EXPECT_EQ (pads[13].name, "Applause");
    EXPECT_EQ (pads[13].gainDb, -3.0f);
    EXPECT_EQ (pads[9].asset, "horn.wav");

    const auto before = pads;
    EXPECT_TRUE (movePadSlot (pads, 2, 5, 5, playing));   // onto itself
    EXPECT_EQ (pads, before);

    playing[9] = true;
    EXPECT_FALSE (movePadSlot (pads, 2, 5, 1, playing));   // destination sounds
    EXPECT_FALSE (movePadSlot (pads, 2, 1, 3, playing));   // source sounds
    EXPECT_FALSE (movePadSlot (pads, 6, 1, 2, playing));
    EXPECT_FALSE (movePadSlot (pads, 2, 0, 2, playing));
    EXPECT_FALSE (movePadSlot (pads, 2, 2, 10, playing));
    EXPECT_EQ (pads, before);
}

TEST (CatalogLookups, CurrentPlaylistAndFirstRowById)
{
    auto document = makeShow();
    ASSERT_NE (currentPlaylist (document), nullptr);
    EXPECT_EQ (currentPlaylist (document)->id, "p1");

    document.current = "";
    EXPECT_EQ (currentPlaylist (document), nullptr);
    document.current = "nowhere";
    EXPECT_EQ (currentPlaylist (document), nullptr);

    // Duplicate ids (an invalid document) still find the first in order.
    document.playlists[1].rows[0].id = "b";
    document.playlists[1].rows[0].title = "second";
    ASSERT_NE (findRowById (document, "b"), nullptr);
    EXPECT_EQ (findRowById (document, "b"), &document.playlists[0].rows[1]);
    EXPECT_EQ (findRowById (document, "zz"), nullptr);
}

TEST (IsValidCatalog, StructuralRules)
{
    EXPECT_TRUE (isValidCatalog (CatalogDocument()));
    EXPECT_TRUE (isValidCatalog (makeShow()));

    struct Case { const char* what; void (*change) (CatalogDocument&); bool valid; };
    const Case cases[] = {
        { "current names no playlist",        [] (CatalogDocument& d) { d.current = "p9"; },                         false },
        { "empty current",                    [] (CatalogDocument& d) { d.current.clear(); },                        true },
        { "row shares a folder's id",         [] (CatalogDocument& d) { d.folders.push_back (makeFolder ("a")); },   false },
        { "row shares a playlist's id",       [] (CatalogDocument& d) { d.playlists[0].rows[0].id = "p2"; },         false },
        { "two rows share an id across lists",[] (CatalogDocument& d) { d.playlists[1].rows[0].id = "a"; },          false },
        { "folderId names a playlist",        [] (CatalogDocument& d) { d.playlists[0].folderId = "p2"; },           false },
        { "folderId names a folder",          [] (CatalogDocument& d) { d.folders.push_back (makeFolder ("f")); d.playlists[0].folderId = "f"; }, true },
        { "folder listed after its playlist", [] (CatalogDocument& d) { d.playlists[0].folderId = "late"; d.folders.push_back (makeFolder ("late")); }, true },
        { "empty playlist name",              [] (CatalogDocument& d) { d.playlists[0].name.clear(); },              false },
        { "empty folder name",                [] (CatalogDocument& d) { d.folders.push_back (makeFolder ("f", "", "")); }, false },
        { "bad playlist id",                  [] (CatalogDocument& d) { d.playlists[0].id = "p 1"; d.current = "p 1"; }, false },
        { "bad row id",                       [] (CatalogDocument& d) { d.playlists[0].rows[0].id = "a/b"; },        false },
        { "empty row source",                 [] (CatalogDocument& d) { d.playlists[0].rows[0].source.clear(); },    false },
        { "zero duration",                    [] (CatalogDocument& d) { d.playlists[0].rows[0].duration = 0.0; },    true },
        { "negative duration",                [] (CatalogDocument& d) { d.playlists[0].rows[0].duration = -0.001; }, false },
        { "NaN duration",                     [] (CatalogDocument& d) { d.playlists[0].rows[0].duration = notANumber; },    false },
        { "row gain at bounds",               [] (CatalogDocument& d) { d.playlists[0].rows[0].gainDb = -60.0f; d.playlists[0].rows[1].gainDb = 12.0f; }, true },
        { "row gain above +12",               [] (CatalogDocument& d) { d.playlists[0].rows[0].gainDb = 12.01f; },   false },
        { "playlist gain NaN",                [] (CatalogDocument& d) { d.playlists[1].gainDb = (float) notANumber; },      false },
        { "playlist EQ band invalid",         [] (CatalogDocument& d) { d.playlists[1].eq.bands[5].q = 0.0; },       false },
        { "row EQ band invalid",              [] (CatalogDocument& d) { d.playlists[1].rows[1].eq.bands[0].shape = 9; }, false },
        { "master EQ invalid",                [] (CatalogDocument& d) { d.masterEq.bands[7].frequency = 30000.0; },  false },
        { "titles, notes, bytes unchecked",   [] (CatalogDocument& d) { d.playlists[0].rows[0].title.clear(); d.playlists[0].rows[0].bytes = 0; }, true },
    };

    for (const auto& c : cases)
    {
        auto document = makeShow();
        c.change (document);
        EXPECT_EQ (isValidCatalog (document), c.valid) << c.what;
    }
}

TEST (IsValidCatalog, FolderChainsAreBoundedAndAcyclic)
{
    const auto chain = [] (int ancestors)
    {
        CatalogDocument document;
        document.folders.push_back (makeFolder ("f0"));
        for (int i = 1; i <= ancestors; ++i)
            document.folders.push_back (makeFolder ("f" + std::to_string (i), "f" + std::to_string (i - 1)));
        return document;
    };

    EXPECT_TRUE (isValidCatalog (chain (32)));    // the deepest folder has 32 ancestors
    EXPECT_FALSE (isValidCatalog (chain (33)));

    CatalogDocument selfParent;
    selfParent.folders.push_back (makeFolder ("f", "f"));
    EXPECT_FALSE (isValidCatalog (selfParent));

    CatalogDocument mutual;
    mutual.folders.push_back (makeFolder ("x", "y"));
    mutual.folders.push_back (makeFolder ("y", "x"));
    EXPECT_FALSE (isValidCatalog (mutual));

    // A cycle that does not pass through the starting folder ends at the lookup cap.
    CatalogDocument hangingOffCycle;
    hangingOffCycle.folders.push_back (makeFolder ("leaf", "x"));
    hangingOffCycle.folders.push_back (makeFolder ("x", "y"));
    hangingOffCycle.folders.push_back (makeFolder ("y", "x"));
    EXPECT_FALSE (isValidCatalog (hangingOffCycle));

    CatalogDocument missingParent;
    missingParent.folders.push_back (makeFolder ("f", "ghost"));
    EXPECT_FALSE (isValidCatalog (missingParent));
}

TEST (FileSignature, MillisecondTimesAndZeroForMissingFiles)
{
    const auto folder = juce::File::createTempFile ("sig");
    ASSERT_TRUE (folder.createDirectory());

    const auto file = folder.getChildFile ("take.wav");
    ASSERT_TRUE (file.replaceWithText ("0123456789"));
    ASSERT_TRUE (platform::setFileModifiedMillis (file.getFullPathName().toStdString(), 1700000000123));

    const auto signature = readFileSignature (file);
    EXPECT_EQ (signature.size, 10);
    EXPECT_EQ (signature.modified.toMilliseconds(), 1700000000123);   // not rounded to whole seconds

    // A rewrite of the same size within the same second is still noticed.
    ASSERT_TRUE (platform::setFileModifiedMillis (file.getFullPathName().toStdString(), 1700000000456));
    EXPECT_NE (readFileSignature (file), signature);

    const auto missing = readFileSignature (folder.getChildFile ("gone.wav"));
    EXPECT_EQ (missing.size, 0);
    EXPECT_EQ (missing.modified.toMilliseconds(), 0);

    const auto empty = folder.getChildFile ("empty.wav");
    ASSERT_TRUE (empty.create());
    EXPECT_EQ (readFileSignature (empty).size, 0);

    folder.deleteRecursively();
}
