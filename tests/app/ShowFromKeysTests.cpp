// A show run from the keyboard of the real program: the program on a private X server and a
// private JACK server, keys typed with xdotool as an operator types them, and a JACK client of the
// test's own that hears the program. Each file of a show is a sine of its own frequency (a
// multiple of 100 Hz), so every stretch of the capture tells what sounds.
#include "KeyShow.h"

#include "session/CatalogStore.h"

#include <gtest/gtest.h>

#include <optional>

namespace vantrel
{
namespace
{
using namespace vantrel::program_test;

// Held keys: GO once however long Return is held, READY stepped by every auto-repeat of Down, a
// keypad pad fired once however long its key is held, and the top-row digit firing no pad.
TEST (ShowFromKeys, HeldKeysGiveOneGoManyReadyStepsAndOnePad)
{
    std::string why;
    if (! toolsPresent (why))
        GTEST_SKIP() << why;
    KeyShow show;
    const auto media = show.rig.temp / "media";
    std::vector<juce::File> rows;
    for (int i = 0; i < 12; ++i)   // the first and the last are long: the READY lane shows which it is
        rows.push_back (writeSines (media, "Row " + juce::String (i + 1) + ".wav", { 600.0 + 100.0 * i }, i % 11 == 0 ? 8.0 : 1.5));
    const auto pad1 = writeSines (media, "Pad 1.wav", { 3000.0 }, 0.4), pad2 = writeSines (media, "Pad 2.wav", { 3500.0 }, 0.4);
    ASSERT_EQ (show.start (rows, { pad1, pad2 }), "");
    ASSERT_TRUE (show.readyShowsLongRow()) << "the first row's waveform never showed";

    // Return held for 1.5 s: the first row sounds, and the second never (a second GO would start it).
    const auto pressed = show.heard();
    ASSERT_TRUE (show.xdotool ({ "keydown", "Return" }));
    ASSERT_TRUE (show.hold (1.5));
    ASSERT_TRUE (show.xdotool ({ "keyup", "Return" }));
    EXPECT_NE (show.waitUntilHeard (600.0, pressed), 0u) << "GO was not heard";
    ASSERT_TRUE (show.hold (0.5));
    EXPECT_EQ (show.onsets (700.0, pressed), 0) << "GO ran more than once";

    // Down held for 1.5 s steps READY at least ten times: from the second row to the last.
    ASSERT_TRUE (show.xdotool ({ "keydown", "Down" }));
    ASSERT_TRUE (show.hold (1.5));
    ASSERT_TRUE (show.xdotool ({ "keyup", "Down" }));
    ASSERT_TRUE (show.readyShowsLongRow()) << "READY never reached the last row";
    const auto go = show.heard();
    ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
    EXPECT_NE (show.waitUntilHeard (1700.0, go), 0u) << "GO did not start the last row";

    // Pads on the keypad. Pressed until heard once: the pads' media load after the start.
    ASSERT_TRUE (show.xdotool ({ "key", "Num_Lock" }));
    for (auto* key : { "KP_1", "KP_2" })
    {
        const bool one = juce::String (key) == "KP_1";
        ASSERT_TRUE (waitFor ([&] {
            const auto from = show.heard();
            return show.xdotool ({ "key", key }) && show.hold (0.5)
                && show.onsets (one ? 3000.0 : 3500.0, from) > 0;
        })) << key << " never fired its pad";
    }
    ASSERT_TRUE (show.hold (0.5));
    const auto padPressed = show.heard();
    ASSERT_TRUE (show.xdotool ({ "keydown", "KP_1" }));
    ASSERT_TRUE (show.hold (1.5));
    ASSERT_TRUE (show.xdotool ({ "keyup", "KP_1" }));
    // The top-row 1, then pad 2 as a marker: once it is heard, the 1 has been through too.
    ASSERT_TRUE (show.xdotool ({ "key", "1", "KP_2" }));
    const auto marker = show.waitUntilHeard (3500.0, padPressed);
    ASSERT_NE (marker, 0u);
    ASSERT_TRUE (show.hold (0.5));
    EXPECT_EQ (show.onsets (3000.0, padPressed), 1) << "the held keypad key fired its pad again, or the top-row 1 fired it";
}

/** Where the track of `KeyShow::positionTrack` is in the window heard at `frame`: the sine tells
    the second (second s sounds 500 + 100 s Hz); -1 in silence. */
int secondAt (KeyShow& show, std::size_t frame)
{
    int best = -1;
    double loudest = 0.1;
    for (int s = 0; s < 30; ++s)
        if (const auto a = show.heardLevel (500.0 + 100.0 * s, frame); a > loudest)
            best = s, loudest = a;
    return best;
}

/** Waits until `found (frame)` holds for a window from `from` on, looking at each window once as
    the capture grows; the first such frame, or nothing after the cap. */
template <typename Found>
std::optional<std::size_t> firstWindow (KeyShow& show, std::size_t from, Found&& found)
{
    std::optional<std::size_t> first;
    auto frame = show.tones.gridFrom (from);
    waitFor ([&] {
        for (const auto heard = show.listen(); frame + window <= heard; frame += window / 4)
            if (found (frame))
                return (first = frame), true;
        return false;
    });
    return first;
}

/** The track's position at the first change of its second after `from`: the exact second, and
    the frame where it began. {-1, 0} after the cap. */
std::pair<int, std::size_t> nextSecond (KeyShow& show, std::size_t from)
{
    int previous = -2, second = -1;
    const auto changed = firstWindow (show, from, [&] (std::size_t frame) {
        second = secondAt (show, frame);
        const bool next = previous >= 0 && second == previous + 1;
        previous = second;
        return next;
    });
    if (! changed)
        return { -1, 0 };
    return { second, *changed + window / 2 };
}

/** Seconds of track between two anchors, less the time heard between them. */
double jump (std::pair<int, std::size_t> before, std::pair<int, std::size_t> after)
{
    return (after.first - before.first) - (double) (after.second - before.second) / rate;
}

// PAUSE and the seeks move the position that is heard.
TEST (ShowFromKeys, PauseAndSeeksMoveThePositionHeard)
{
    std::string why;
    if (! toolsPresent (why))
        GTEST_SKIP() << why;
    KeyShow show;
    std::vector<double> seconds;
    for (int s = 0; s < 30; ++s)
        seconds.push_back (500.0 + 100.0 * s);
    const auto track = writeSines (show.rig.temp / "media", "Position.wav", seconds, 1.0);
    ASSERT_EQ (show.start ({ track }, {}), "");
    ASSERT_TRUE (show.readyShowsLongRow());

    ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
    const auto first = nextSecond (show, show.heard());
    ASSERT_GE (first.first, 0) << "the track was not heard";

    // SEEK FORWARD: five seconds on; SEEK BACK: five back.
    for (const auto& [key, seconds] : { std::pair<const char*, double> { "Right", 5.0 }, { "Left", -5.0 } })
    {
        const auto before = nextSecond (show, show.heard());
        ASSERT_TRUE (show.xdotool ({ "key", key }));
        const auto sent = show.heard();
        // The first change of second after the key that is not where the track would be anyway.
        std::pair<int, std::size_t> after;
        for (auto from = sent;; from = after.second + window)
        {
            after = nextSecond (show, from);
            if (after.first < 0 || std::abs (jump (before, after)) > 2.0)
                break;
        }
        ASSERT_GE (after.first, 0);
        EXPECT_NEAR (jump (before, after), seconds, 0.15 + show.lostSeconds()) << key;
    }

    // PAUSE: silence; PAUSE again: the track goes on from where it stopped.
    const auto before = nextSecond (show, show.heard());
    ASSERT_TRUE (show.xdotool ({ "key", "space" }));
    const auto silent = firstWindow (show, before.second, [&] (std::size_t frame) { return secondAt (show, frame) < 0; });
    ASSERT_TRUE (silent) << "PAUSE did not silence the track";
    const auto silentFrom = *silent;
    ASSERT_TRUE (show.hold (2.0));
    const auto resumedAt = show.heard();
    ASSERT_TRUE (show.xdotool ({ "key", "space" }));
    const auto sounding = firstWindow (show, resumedAt, [&] (std::size_t frame) { return secondAt (show, frame) >= 0; });
    ASSERT_TRUE (sounding) << "the second PAUSE did not resume";
    const auto resumed = *sounding;
    const auto after = nextSecond (show, resumed);
    ASSERT_GE (after.first, 0);
    // Heard before the pause plus heard after it: the track's own time, the silence not counted.
    const double played = (double) (silentFrom - before.second + after.second - resumed) / rate;
    EXPECT_NEAR (after.first - before.first, played, 0.3 + show.lostSeconds());
}
} // namespace
} // namespace vantrel
