// Saved data that is odd but within the files' limits costs no show: the real program on a private
// X server and a private JACK server starts on it, draws its window, plays GO (heard by a JACK
// client of the test's own), and keeps saving without losing a byte of what it could not show
// or write. The edits are typed as an operator types them.
#include "tests/app/KeyShow.h"

#include "session/AtomicFileWriter.h"
#include "session/SessionDocuments.h"
#include "session/SessionJsonText.h"
#include "session/SplitFiles.h"
#include "ui/FittedContent.h"
#include "ui/MainScreenLayout.h"

#include <gtest/gtest.h>

#include <set>

namespace vantrel
{
namespace
{
using namespace vantrel::program_test;
using testing::ja;
using testing::readBytes;
using testing::writeBytes;

/** Three rows of sines (600, 700 and 800 Hz), the first long enough to show in the READY lane. */
std::vector<juce::File> threeRows (KeyShow& show)
{
    const auto media = show.rig.temp / "media";
    std::vector<juce::File> rows;
    for (int i = 0; i < 3; ++i)
        rows.push_back (writeSines (media, "Row " + juce::String (i + 1) + ".wav", { 600.0 + 100.0 * i }, i == 0 ? 8.0 : 2.0));
    return rows;
}

/** Types a value into the open playlist's gain box and ends it with Return: an edit of the open
    playlist, which the program saves. The box's place comes from the layout the view uses at the
    window's size and fold state. */
bool typePlaylistGain (KeyShow& show, const MainScreenState& state, const char* value)
{
    const auto window = show.windowBounds();
    if (window.isEmpty())
        return false;
    const auto scale = std::min ((float) window.getWidth() / FittedContent::designWidth, (float) window.getHeight() / FittedContent::designHeight);
    const auto layout = layoutMainScreen ({ 0, 0, juce::roundToInt ((float) window.getWidth() / scale),
                                            juce::roundToInt ((float) window.getHeight() / scale) }, state);
    const auto gain = layout["playlist-gain"].bounds;
    const juce::Point<int> box { juce::roundToInt ((float) (gain.getRight() - 23 - 32) * scale), juce::roundToInt ((float) gain.getCentreY() * scale) };
    return show.xdotool ({ "mousemove", "--window", juce::String ((juce::int64) show.windowId), juce::String (box.x), juce::String (box.y) })
        && show.xdotool ({ "click", "1" })
        && show.xdotool ({ "key", "--delay", "30", "ctrl+a" })
        && show.xdotool ({ "type", "--delay", "30", "--", value })
        && show.xdotool ({ "key", "Return" });
}

/** Where a part of the main view is on the screen, from the layout the view uses at the window's
    size and fold state; empty when there is no window. */
juce::Rectangle<int> partOnScreen (KeyShow& show, const MainScreenState& state, const char* part)
{
    const auto window = show.windowBounds();
    if (window.isEmpty())
        return {};
    const auto scale = std::min ((float) window.getWidth() / FittedContent::designWidth, (float) window.getHeight() / FittedContent::designHeight);
    const auto layout = layoutMainScreen ({ 0, 0, juce::roundToInt ((float) window.getWidth() / scale),
                                            juce::roundToInt ((float) window.getHeight() / scale) }, state);
    return (layout[part].bounds.toFloat() * scale).getSmallestIntegerContainer() + window.getPosition();
}

/** How many colours the screen shows in a rectangle: a drawn button or text shows many, an empty
    stretch of background a few. */
size_t coloursIn (KeyShow& show, juce::Rectangle<int> area)
{
    const auto pixels = show.rig.inspector->capture (area.getX(), area.getY(), area.getWidth(), area.getHeight());
    return std::set<std::uint32_t> (pixels.begin(), pixels.end()).size();
}

/** Clicks at a screen point, with the pointer there first. */
bool clickAt (KeyShow& show, juce::Point<int> at)
{
    return show.xdotool ({ "mousemove", juce::String (at.x), juce::String (at.y) }) && show.xdotool ({ "click", "1" });
}

/** The show's playlist as its split files hold it. */
std::optional<Playlist> savedPlaylist (const juce::File& music)
{
    CatalogState state;
    if (! readSplitFiles (music, state).ok || state.document.playlists.empty())
        return std::nullopt;
    return state.document.playlists.front();
}

/** The show's playlist as the last-good snapshot holds it. */
std::optional<Playlist> snapshotPlaylist (const juce::File& music)
{
    juce::var document;
    CatalogState state;
    if (! readJsonFile (music.getChildFile ("recovery/last-good.json"), document).ok || ! readCatalogJson (document, state).ok
        || state.document.playlists.empty())
        return std::nullopt;
    return state.document.playlists.front();
}

// The first save of a show stopped at its last step because a folder stood where the snapshot
// goes: the split files and the journal hold the newer show. The next start plays it, names the
// folder, keeps it whole, and the saves go on.
TEST (SavedDataProgram, AFolderInTheSnapshotsPlaceCostsNoShowAndTheSavesGoOn)
{
    std::string why;
    if (! toolsPresent (why))
        GTEST_SKIP() << why;
    KeyShow show;
    const auto rows = threeRows (show);
    const auto music = show.rig.music();
    const auto lastGood = music.getChildFile ("recovery/last-good.json");
    show.report = (show.rig.temp / "report.json").getFullPathName();
    show.beforeProgram = [&]() -> std::string
    {
        CatalogState state;
        if (! readSplitFiles (music, state).ok)
            return "the show was not saved";
        state.document.playlists[0].name = "Edited before the stop";
        lastGood.deleteFile();
        if (! writeBytes (lastGood.getChildFile ("operator.txt"), "kept"))
            return "no folder in the snapshot's place";
        if (! writeSplitFiles (music, state).ok || ! writeBytes (music.getChildFile ("recovery/pending.json"), wholeStateJsonText (state)))
            return "the stopped save's files were not written";
        return {};
    };
    ASSERT_EQ (show.start (rows, {}), "");
    ASSERT_TRUE (show.readyShowsLongRow()) << "no READY row: the show did not load";
    const auto go = show.heard();
    ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
    EXPECT_NE (show.waitUntilHeard (600.0, go), 0u) << "GO was not heard";

    // The start names the entry, which is kept whole in the recovery folder.
    ASSERT_TRUE (show.program->waitForReport());
    const auto status = show.program->readReport()["status"].toString();
    EXPECT_TRUE (status.contains ("recovery/last-good.json")) << status;
    const auto aside = music.getChildFile ("recovery").findChildFiles (juce::File::findDirectories, false, "last-good.json.damaged-*");
    ASSERT_EQ (aside.size(), 1);
    EXPECT_EQ (readBytes (aside[0].getChildFile ("operator.txt")), "kept");

    // A later edit is saved whole: split files and snapshot, the journal gone.
    ASSERT_TRUE (typePlaylistGain (show, {}, "-6"));
    EXPECT_TRUE (waitFor ([&] {
        const auto saved = savedPlaylist (music), snapshot = snapshotPlaylist (music);
        return saved && snapshot && saved->gainDb == -6.0f && snapshot->gainDb == -6.0f && snapshot->name == "Edited before the stop"
            && ! music.getChildFile ("recovery/pending.json").exists();
    }, capMs, 50)) << "the edit was not saved; status at the start: " << status;
}

// A 50,000,000-character memo (and a 5,000,000-character title) within the reader's limit: the
// window is drawn and GO plays; an edit elsewhere and the quit save the show with the memo and
// the title byte for byte.
TEST (SavedDataProgram, AFiftyMillionCharacterMemoIsShownCutAndSavedWhole)
{
    std::string why;
    if (! toolsPresent (why))
        GTEST_SKIP() << why;
    KeyShow show;
    const auto rows = threeRows (show);
    const auto music = show.rig.music();
    const auto memo = "The memo begins. " + std::string (50000000, 'm') + juce::String::fromUTF8 (" 終わり").toStdString();
    const std::string title (5000000, 't');
    show.beforeProgram = [&]() -> std::string
    {
        CatalogState state;
        if (! readSplitFiles (music, state).ok)
            return "the show was not saved";
        state.document.playlists[0].memo = memo;
        state.document.playlists[0].rows[1].title = title;
        state.ui.memoFolded = false;   // the memo is on the screen
        if (! writeSplitFiles (music, state).ok)
            return "the long texts were not written";
        const auto file = playlistFile (music, juce::String (state.document.playlists[0].id));
        if (file.getSize() > jsonFileSizeLimit())
            return "the playlist file is beyond the reader's limit";
        return {};
    };
    ASSERT_EQ (show.start (rows, {}), "");
    ASSERT_TRUE (show.readyShowsLongRow()) << "the window was not drawn";
    const auto go = show.heard();
    ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
    EXPECT_NE (show.waitUntilHeard (600.0, go), 0u) << "GO was not heard";

    MainScreenState unfolded;
    unfolded.memoFolded = false;
    ASSERT_TRUE (typePlaylistGain (show, unfolded, "-6"));
    ASSERT_TRUE (waitFor ([&] { const auto saved = savedPlaylist (music); return saved && saved->gainDb == -6.0f; }, capMs, 200))
        << "the edit was not saved";
    ASSERT_TRUE (sendSignal (show.program->pid(), "TERM"));
    const auto exit = show.program->waitForExit();
    EXPECT_TRUE (exit.ended);
    show.program.reset();

    const auto saved = savedPlaylist (music);
    ASSERT_TRUE (saved.has_value());
    EXPECT_EQ (saved->gainDb, -6.0f);
    EXPECT_TRUE (saved->memo == memo) << "the memo was saved with " << saved->memo.size() << " bytes of " << memo.size();
    EXPECT_TRUE (saved->rows[1].title == title) << "the title was saved with " << saved->rows[1].title.size() << " bytes";
}

// The saved show cannot be read at the start. When a backup can be read, the Recover button's
// question, answered, brings the newest complete one back: the last-good snapshot; when that is
// damaged, the journal of a save that did not complete, else the snapshot's backup. The show
// plays, edits are saved again, and every damaged file is kept. When no backup can be read,
// no recovery is offered: the status line says so and what to do, and every file stays.
TEST (SavedDataProgram, TheRecoverButtonBringsBackTheNewestReadableBackupOrIsNotOffered)
{
    std::string why;
    if (! toolsPresent (why))
        GTEST_SKIP() << why;
    const std::string damaged = "{ damaged";
    struct Case
    {
        const char* name;
        const char* recoveredName;   // the playlist's name after the recovery; null: none is offered
        std::function<std::string (const juce::File& music, CatalogState state)> damage;
    } cases[] = {
        { "the snapshot", "Show", [&] (const juce::File& music, CatalogState) -> std::string
          {
              return writeBytes (music.getChildFile ("catalog.json"), damaged) ? "" : "catalog.json was not damaged";
          } },
        { "the snapshot's backup", "From the backup", [&] (const juce::File& music, CatalogState state) -> std::string
          {
              state.document.playlists[0].name = "From the backup";
              music.getChildFile ("recovery/pending.json").deleteFile();
              return writeBytes (music.getChildFile ("recovery/last-good.json.bak"), wholeStateJsonText (state))
                          && writeBytes (music.getChildFile ("recovery/last-good.json"), damaged)
                          && writeBytes (music.getChildFile ("catalog.json"), damaged)
                       ? "" : "the files were not damaged";
          } },
        { "the journal", "From the journal", [&] (const juce::File& music, CatalogState state) -> std::string
          {
              // A save that stopped after its journal, a folder where the catalog goes: the start
              // cannot complete it. The backup holds an older show.
              auto older = state;
              older.document.playlists[0].name = "From the backup";
              state.document.playlists[0].name = "From the journal";
              const auto catalog = music.getChildFile ("catalog.json");
              return catalog.deleteFile() && writeBytes (catalog.getChildFile ("operator.txt"), "kept")
                          && writeBytes (music.getChildFile ("recovery/last-good.json.bak"), wholeStateJsonText (older))
                          && music.getChildFile ("recovery/last-good.json").deleteFile()
                          && writeBytes (music.getChildFile ("recovery/pending.json"), wholeStateJsonText (state))
                       ? "" : "the files were not damaged";
          } },
        { "nothing", nullptr, [&] (const juce::File& music, CatalogState) -> std::string
          {
              return music.getChildFile ("recovery/last-good.json.bak").deleteFile() && writeBytes (music.getChildFile ("catalog.json"), damaged)
                          && writeBytes (music.getChildFile ("recovery/last-good.json"), damaged)
                       ? "" : "the files were not damaged";
          } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        KeyShow show;
        const auto rows = threeRows (show);
        const auto music = show.rig.music();
        show.report = (show.rig.temp / "report.json").getFullPathName();
        show.beforeProgram = [&]() -> std::string
        {
            CatalogState state;
            if (! readSplitFiles (music, state).ok)
                return "the show was not saved";
            return c.damage (music, state);
        };
        ASSERT_EQ (show.start (rows, {}), "");
        ASSERT_TRUE (show.program->waitForReport());
        const auto status = show.program->readReport()["status"].toString();
        const auto recover = partOnScreen (show, {}, "recover").reduced (3);
        const auto statusLabel = partOnScreen (show, {}, "status-label");
        ASSERT_FALSE (recover.isEmpty());

        if (c.recoveredName == nullptr)
        {
            EXPECT_TRUE (status.startsWith (ja ("保存データを読めず、読み取れるバックアップもありません。"))
                         || status.startsWith ("Saved data cannot be read, and no backup can be read either."))
                << status;
            // Once the status line is drawn, the button's place shows only the row's background (a
            // few colours; the button and its text show about a hundred).
            ASSERT_TRUE (waitFor ([&] { return coloursIn (show, statusLabel) > 30; })) << "the status line was never drawn";
            EXPECT_LT (coloursIn (show, recover), 10u) << "a recovery that cannot work is offered";
            EXPECT_EQ (readBytes (music.getChildFile ("catalog.json")), damaged);
            EXPECT_EQ (readBytes (music.getChildFile ("recovery/last-good.json")), damaged);
            continue;
        }

        // The operator presses Recover and answers the question with its second button.
        ASSERT_TRUE (waitFor ([&] { return coloursIn (show, recover) > 30; })) << "no Recover button; status: " << status;
        ASSERT_TRUE (clickAt (show, recover.getCentre()));
        ASSERT_TRUE (waitFor ([&] { return show.rig.windowsTitled (alertTitle).size() == 1; })) << "no question";
        const auto question = show.rig.windowsTitled (alertTitle).front();
        ASSERT_TRUE (waitFor ([&] { return show.rig.drawnShare (question) > 0.2; })) << "the question was never painted";
        ASSERT_TRUE (clickAt (show, { question.x + question.width / 2 + 8 + 16, question.y + juce::roundToInt (question.height * 0.95) - 10 }));
        ASSERT_TRUE (waitFor ([&] { return show.rig.windowsTitled (alertTitle).empty(); })) << "the question did not close";

        // The show is back on disk and on the screen, and plays.
        EXPECT_TRUE (waitFor ([&] { const auto saved = savedPlaylist (music); return saved && saved->name == c.recoveredName; }))
            << "the split files were not restored";
        ASSERT_TRUE (show.xdotool ({ "mousemove", "--window", juce::String ((juce::int64) show.windowId), "700", "120" }));
        ASSERT_TRUE (show.readyShowsLongRow()) << "the recovered show is not shown";
        const auto go = show.heard();
        ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
        EXPECT_NE (show.waitUntilHeard (600.0, go), 0u) << "GO was not heard";

        // Edits are allowed and saved again, the snapshot with them.
        ASSERT_TRUE (typePlaylistGain (show, {}, "-6"));
        EXPECT_TRUE (waitFor ([&] {
            const auto saved = savedPlaylist (music), snapshot = snapshotPlaylist (music);
            return saved && snapshot && saved->gainDb == -6.0f && snapshot->gainDb == -6.0f && snapshot->name == c.recoveredName
                && ! music.getChildFile ("recovery/pending.json").exists();
        }, capMs, 50)) << "the edit was not saved";

        // What could not be read is kept.
        const auto recovery = music.getChildFile ("recovery");
        EXPECT_EQ (recovery.findChildFiles (juce::File::findFiles, false, "damaged-*.json").size(), 1);
        if (std::string (c.name) == "the snapshot's backup")
        {
            const auto aside = recovery.findChildFiles (juce::File::findFiles, false, "last-good.json.damaged-*");
            ASSERT_EQ (aside.size(), 1);
            EXPECT_EQ (readBytes (aside[0]), damaged);
        }
        if (std::string (c.name) == "the journal")
        {
            const auto kept = recovery.findChildFiles (juce::File::findFiles, true, "operator.txt");
            ASSERT_EQ (kept.size(), 1);
            EXPECT_EQ (readBytes (kept[0]), "kept");
        }
    }
}
} // namespace
} // namespace vantrel
