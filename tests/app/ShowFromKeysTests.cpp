// A show run from the keyboard of the real program: the program on a private X server and a
// private JACK server, keys typed with xdotool as an operator types them, and a JACK client of the
// test's own that hears the program. Each file of a show is a sine of its own frequency (a
// multiple of 100 Hz), so every stretch of the capture tells what sounds.
#include "ProgramRig.h"

#include "session/CatalogStore.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::program_test;
using test::JackCaptureClient;

constexpr double rate = 48000.0;
constexpr std::size_t window = 960;   // 20 ms: sines 100 Hz apart are told apart
constexpr std::uint32_t readyColour = 0xffff00ff;   // the READY lane's colour in these shows

/** A 48 kHz stereo WAV of sines, one after another: `seconds` of each frequency in turn. */
juce::File writeSines (const juce::File& folder, const juce::String& name, const std::vector<double>& frequencies,
                       double seconds, float amplitude = 0.25f)
{
    folder.createDirectory();
    auto file = folder.getChildFile (name);
    file.deleteFile();
    const auto perSine = (int) std::lround (seconds * rate);
    juce::AudioBuffer<float> buffer (2, perSine * (int) frequencies.size());
    for (size_t s = 0; s < frequencies.size(); ++s)
        for (int i = 0; i < perSine; ++i)
        {
            const auto value = amplitude * (float) std::sin (2.0 * juce::MathConstants<double>::pi * frequencies[s] * i / rate);
            buffer.setSample (0, (int) s * perSine + i, value);
            buffer.setSample (1, (int) s * perSine + i, value);
        }
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (new juce::FileOutputStream (file), rate, 2, 32, {}, 0));
    if (writer == nullptr || ! writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples()))
        return {};
    return file;
}

/** The real program over a saved show, heard on a private JACK server. */
struct KeyShow
{
    test::JackDummyServer jack;
    ProgramRig rig { "keys" };
    std::unique_ptr<RunningProgram> program;
    std::uintptr_t windowId = 0;
    JackCaptureClient capture { 2, 80 * 48000 };
    std::vector<std::string> rowIds;

    /** Saves a show of these files (the first one READY) with pads 1 and 2 of bank 1, SEEK BACK and
        SEEK FORWARD on the arrow keys, the shortest zoom and a READY lane colour of its own; then
        starts the program on it and listens. Empty when it worked, else what failed. */
    std::string start (const std::vector<juce::File>& rows, const std::vector<juce::File>& pads)
    {
        jack.synchronous = true;   // a late client delays the cycle instead of losing it
        if (! jack.start())
            return "no JACK server: " + jack.lastError();
        rig.jackServer = jack.serverName();
        std::string error;
        if (! rig.startDisplay (error))
            return error;
        {
            rig.music().createDirectory();
            rig.local().createDirectory();
            SessionCoordinatorOptions options;
            options.rackOptions = test::privateRackOptions();
            SessionCoordinator session (rig.music(), rig.local().getChildFile ("device.json"), false, options);
            auto playlist = test::playlistOf ("Show", rows);
            for (const auto& row : playlist.rows)
                rowIds.push_back (row.id);
            if (! test::addAndOpen (session, playlist))
                return "the show could not be added";
            for (size_t pad = 0; pad < pads.size(); ++pad)
                session.assignPad (1, (int) pad + 1, pads[pad]);
            if (! test::finishPadJobs (session))
                return "the pads were not copied";
            session.setZoom (0);
            auto prefs = session.preferences;
            prefs.colours[2] = readyColour;
            for (auto& binding : prefs.keys)
                if (binding.action == "SEEK BACK" || binding.action == "SEEK FORWARD")
                    binding.key = binding.action == "SEEK BACK" ? vk::left : vk::right;
            if (! session.applyPreferences (prefs).ok)
                return "the preferences were not saved";
            session.persist();
            if (! session.saveQueue.waitIdle() || ! session.saveQueue.lastResult().ok)
                return "the show was not saved";
        }
        if (! writeOutputDeviceSettings (rig.local().getChildFile ("device.json"), { "JACK", "system", "JACK:system", 0.0, 0, 0 }).ok)
            return "device.json was not written";

        program = rig.start ("", error);
        if (program == nullptr)
            return error;
        windowId = rig.waitForWindow (mainWindowTitle);
        if (windowId == 0)
            return "no main window; " + program->errorText().toStdString();
        if (! capture.open ("vantrel-keys"))
            return capture.lastError();
        if (! waitFor ([&] { return capture.connectFrom (JackCaptureClient::programClientName); }))
            return "the program's output never appeared: " + capture.lastError();
        capture.start();
        // No window manager: the X server's focus follows the pointer, so the pointer over the
        // window gives it the keyboard (xdotool's windowfocus --sync may wait for ever on a window
        // whose focus JUCE hands to a child). The window is looked up anew at each try: the program
        // may have replaced the one first seen.
        if (! waitFor ([&] {
                windowId = rig.waitForWindow (mainWindowTitle);
                return windowId != 0 && xdotool ({ "mousemove", "--window", juce::String ((juce::int64) windowId), "700", "120" });
            }, capMs, 100))
            return "the window did not take the keyboard";
        return {};
    }

    bool xdotool (const juce::StringArray& args)
    {
        juce::StringArray command { "/usr/bin/env", "DISPLAY=" + juce::String (rig.server.displayName()), "xdotool" };
        command.addArray (args);
        juce::ChildProcess tool;
        if (! tool.start (command, 0))
            return false;
        tool.waitForProcessToFinish (capMs);
        return tool.getExitCode() == 0;
    }

    std::size_t heard() const  { return capture.framesCaptured(); }

    /** The time of the JACK cycles the capture missed: frames counted between two moments fall
        short of the time between them by as much. */
    double lostSeconds() const  { return capture.skipped() * 512.0 / rate; }

    /** Waits until the capture holds `frames` more frames: the JACK server's clock, not ours. */
    bool hold (double seconds)  { return capture.waitForFrames (heard() + (std::size_t) (seconds * rate), capMs); }

    /** The screen columns of the window in which the READY lane's waveform colour shows: the lane
        draws its waveform, in its colour, only once the row's media is prepared. */
    int readyWaveColumns()
    {
        const auto windows = rig.windowsTitled (mainWindowTitle);
        if (windows.size() != 1)
            return 0;
        const auto& w = windows.front();
        const auto pixels = rig.inspector->capture (w.x, w.y, w.width, w.height);
        int columns = 0;
        for (int x = 0; x < w.width && ! pixels.empty(); ++x)
            for (int y = 0; y < w.height; ++y)
            {
                const auto p = pixels[(size_t) y * (size_t) w.width + (size_t) x];
                if (((p >> 16) & 0xff) > 190 && ((p >> 8) & 0xff) < 60 && (p & 0xff) > 190)
                {
                    ++columns;
                    break;
                }
            }
        return columns;
    }

    /** Waits until the READY lane shows the waveform of a long row: the first time, any waveform
        of some width (its width is then the mark of a long row); after that, one at least that wide. */
    bool readyShowsLongRow()
    {
        if (longRowColumns == 0)
        {
            int last = -1;
            return waitFor ([&] {
                const int now = readyWaveColumns();
                const bool settled = now > 100 && now == last;
                last = now;
                if (settled)
                    longRowColumns = now;
                return settled;
            }, capMs, 50);
        }
        return waitFor ([&] { return readyWaveColumns() >= longRowColumns * 8 / 10; }, capMs, 50);
    }

    int longRowColumns = 0;

    /** The amplitude of a sine in the window of the capture that starts at `frame`. */
    double level (const std::vector<float>& left, std::size_t frame, double frequency) const
    {
        return test::toneAmplitude (left, frame, frame + window, frequency);
    }

    /** Waits until the sine sounds in the newest window (at least `threshold`), and returns the
        frame of that window; 0 after the cap. */
    std::size_t waitUntilHeard (double frequency, std::size_t from, double threshold = 0.1)
    {
        std::size_t found = 0;
        waitFor ([&] {
            const auto left = capture.channel (0);
            for (auto frame = from; frame + window <= left.size(); frame += window / 2)
                if (level (left, frame, frequency) > threshold)
                    return (found = frame), true;
            from = left.size() > window ? left.size() - window : from;
            return false;
        });
        return found;
    }

    /** The onsets of a sine from `from` on: windows where it rises above half of `amplitude`
        after having been below a quarter of it. */
    int onsets (double frequency, std::size_t from, double amplitude = 0.25) const
    {
        const auto left = capture.channel (0);
        int count = 0;
        bool sounding = false;
        for (auto frame = from; frame + window <= left.size(); frame += window / 2)
        {
            const auto a = level (left, frame, frequency);
            if (! sounding && a > amplitude / 2)
                sounding = true, ++count;
            else if (sounding && a < amplitude / 4)
                sounding = false;
        }
        return count;
    }

    ~KeyShow()
    {
        capture.close();
        if (program != nullptr)
            sendSignal (program->pid(), "TERM"), program->waitForExit();
    }
};

bool toolsPresent (std::string& why)
{
    if (! ProgramRig::displayToolsPresent())
        why = "Xvfb is not installed";
    else if (! juce::File ("/usr/bin/xdotool").existsAsFile())
        why = "xdotool is not installed";
    else if (! test::JackDummyServer::installed())
        why = "jackd is not installed";
    return why.empty();
}

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

/** Where the track of `KeyShow::positionTrack` is at `frame`: the sine in a window tells the
    second (second s sounds 500 + 100 s Hz); -1 in silence. */
int secondAt (const KeyShow& show, const std::vector<float>& left, std::size_t frame)
{
    int best = -1;
    double loudest = 0.1;
    for (int s = 0; s < 30; ++s)
        if (const auto a = show.level (left, frame, 500.0 + 100.0 * s); a > loudest)
            best = s, loudest = a;
    return best;
}

/** The track's position at the first change of its second after `from`: the exact second, and
    the frame where it began. {-1, 0} after the cap. */
std::pair<int, std::size_t> nextSecond (KeyShow& show, std::size_t from)
{
    std::pair<int, std::size_t> found { -1, 0 };
    waitFor ([&] {
        const auto left = show.capture.channel (0);
        int previous = -2;
        for (auto frame = from; frame + window <= left.size(); frame += window / 4)
        {
            const int second = secondAt (show, left, frame);
            if (previous >= 0 && second == previous + 1)
                return (found = { second, frame + window / 2 }), true;
            previous = second;
        }
        return false;
    });
    return found;
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
    std::size_t silentFrom = 0;
    ASSERT_TRUE (waitFor ([&] {
        const auto left = show.capture.channel (0);
        for (auto frame = before.second; frame + window <= left.size(); frame += window / 4)
            if (secondAt (show, left, frame) < 0)
                return (silentFrom = frame), true;
        return false;
    })) << "PAUSE did not silence the track";
    ASSERT_TRUE (show.hold (2.0));
    const auto resumedAt = show.heard();
    ASSERT_TRUE (show.xdotool ({ "key", "space" }));
    std::size_t resumed = 0;
    ASSERT_TRUE (waitFor ([&] {
        const auto left = show.capture.channel (0);
        for (auto frame = resumedAt; frame + window <= left.size(); frame += window / 4)
            if (secondAt (show, left, frame) >= 0)
                return (resumed = frame), true;
        return false;
    })) << "the second PAUSE did not resume";
    const auto after = nextSecond (show, resumed);
    ASSERT_GE (after.first, 0);
    // Heard before the pause plus heard after it: the track's own time, the silence not counted.
    const double played = (double) (silentFrom - before.second + after.second - resumed) / rate;
    EXPECT_NEAR (after.first - before.first, played, 0.3 + show.lostSeconds());
}
} // namespace
} // namespace vantrel
