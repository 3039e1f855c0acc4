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

namespace vantrel
{
namespace
{
using namespace vantrel::program_test;
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
} // namespace
} // namespace vantrel
