#pragma once

// The real program over a saved show of sines, on a private X server and a private JACK server,
// with a JACK client of the test's own that hears it; keys and clicks are sent with xdotool as an
// operator sends them. Each file of a show is a sine of its own frequency (a multiple of 100 Hz),
// so every stretch of the capture tells what sounds.
#include "ProgramRig.h"

#include "support/HeardTones.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace vantrel::program_test
{
using test::JackCaptureClient;

constexpr double rate = 48000.0;
constexpr std::size_t window = 960;   // 20 ms: sines 100 Hz apart are told apart
constexpr std::uint32_t readyColour = 0xffff00ff;   // the READY lane's colour in these shows
constexpr const char* listenerName = "vantrel-keys";   // the capture client: the program's output

/** A 48 kHz stereo WAV of sines, one after another: `seconds` of each frequency in turn. */
inline juce::File writeSines (const juce::File& folder, const juce::String& name, const std::vector<double>& frequencies,
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
    bool useWindowManager = false;            // set before start: openbox runs on the display
    std::function<void (Preferences&)> adjustPreferences;   // set before start: the show's preferences
    /** Set before start: runs once the show is saved, before the program starts (a test changes
        the saved files there); answers what failed, or "". */
    std::function<std::string()> beforeProgram;
    juce::String report;                      // set before start: the start-up report's path, or ""
    /** Set before start: runs on the show's session before it is saved (more preferences, texts). */
    std::function<void (SessionCoordinator&)> prepare;
    platform::PipedProcess windowManager;

    /** The main window's id: a top-level window of the title, or with a window manager (which
        puts the window into a frame of its own) the client window xdotool finds by its name. */
    std::uintptr_t findMainWindow (int timeoutMs = capMs)
    {
        if (! useWindowManager)
            return rig.waitForWindow (mainWindowTitle, timeoutMs);
        std::uintptr_t id = 0;
        waitFor ([&] {
            const auto found = juce::StringArray::fromLines (xdotoolOutput ({ "search", "--onlyvisible", "--name", "^Vantrel! Ver\\.1\\.0\\.0$" }).trim());
            id = found.size() == 1 ? (std::uintptr_t) found[0].getLargeIntValue() : 0;
            return id != 0;
        }, timeoutMs, 50);
        return id;
    }

    /** The main window's screen rectangle; empty when there is none. */
    juce::Rectangle<int> windowBounds()
    {
        if (! useWindowManager)
        {
            const auto windows = rig.windowsTitled (mainWindowTitle);
            if (windows.size() != 1)
                return {};
            return { windows.front().x, windows.front().y, windows.front().width, windows.front().height };
        }
        juce::StringPairArray values;
        for (const auto& line : juce::StringArray::fromLines (xdotoolOutput ({ "getwindowgeometry", "--shell", juce::String ((juce::int64) windowId) })))
            values.set (line.upToFirstOccurrenceOf ("=", false, false), line.fromFirstOccurrenceOf ("=", false, false));
        return { values["X"].getIntValue(), values["Y"].getIntValue(), values["WIDTH"].getIntValue(), values["HEIGHT"].getIntValue() };
    }

    /** What xdotool printed; empty when it failed. */
    juce::String xdotoolOutput (const juce::StringArray& args)
    {
        Tool tool (toolCommand ("xdotool", args), { { { "DISPLAY", rig.server.displayName() } } });
        return tool.waitForEnd (capMs) && tool.succeeded() ? juce::String (tool.output()) : juce::String();
    }

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
        if (useWindowManager)
        {
            platform::PipedProcess::Options options;
            options.program = "/usr/bin/openbox";
            options.arguments = { "--sm-disable" };
            options.environment = { { "DISPLAY", rig.server.displayName() }, { "HOME", rig.home().getFullPathName().toStdString() } };
            options.ownProcessGroup = true;
            if (! windowManager.start (options, error))
                return "openbox did not start: " + error;
            // Up once it has taken the desktop's properties over.
            if (! waitFor ([&] { return xdotoolOutput ({ "get_num_desktops" }).trim().getIntValue() > 0; }, capMs, 50))
                return "openbox never managed the display";
        }
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
            auto prefs = session.currentPreferences();
            prefs.colours[2] = readyColour;
            for (auto& binding : prefs.keys)
                if (binding.action == "SEEK BACK" || binding.action == "SEEK FORWARD")
                    binding.key = binding.action == "SEEK BACK" ? vk::left : vk::right;
            if (adjustPreferences)
                adjustPreferences (prefs);
            if (! session.applyPreferences (prefs).ok)
                return "the preferences were not saved";
            if (prepare)
                prepare (session);
            session.persist();
            if (! session.waitForSaves() || ! session.lastSaveResult().ok)
                return "the show was not saved";
        }
        // The capture is the program's output, as a speaker would be: a device the program
        // reopens (a long stall on a loaded machine counts as a lost device) connects to it again.
        if (! capture.open (listenerName))
            return capture.lastError();
        if (capture.name() != listenerName)
            return "the capture client opened as " + capture.name();
        if (! writeOutputDeviceSettings (rig.local().getChildFile ("device.json"),
                                         { "JACK", listenerName, juce::String ("JACK:") + listenerName, 0.0, 0, 0 }).ok)
            return "device.json was not written";

        if (beforeProgram != nullptr)
            if (const auto failed = beforeProgram(); ! failed.empty())
                return failed;
        program = rig.start (report, error);
        if (program == nullptr)
            return error;
        windowId = findMainWindow();
        if (windowId == 0)
            return "no main window; " + program->errorText().toStdString();
        if (! waitFor ([&] { return capture.connectFrom (JackCaptureClient::programClientName); }))
            return "the program's output never appeared: " + capture.lastError();
        capture.start();
        // No window manager: the X server's focus follows the pointer, so the pointer over the
        // window gives it the keyboard (xdotool's windowfocus --sync may wait for ever on a window
        // whose focus JUCE hands to a child). The window is looked up anew at each try: the program
        // may have replaced the one first seen.
        if (! waitFor ([&] {
                windowId = findMainWindow();
                return windowId != 0 && xdotool ({ "mousemove", "--window", juce::String ((juce::int64) windowId), "700", "120" })
                    && (! useWindowManager || xdotool ({ "windowactivate", "--sync", juce::String ((juce::int64) windowId) }));
            }, capMs, 100))
            return "the window did not take the keyboard";
        return {};
    }

    bool xdotool (const juce::StringArray& args)
    {
        Tool tool (toolCommand ("xdotool", args), { { { "DISPLAY", rig.server.displayName() } } });
        return tool.waitForEnd (capMs) && tool.succeeded();
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
        const auto w = windowBounds();
        if (w.isEmpty())
            return 0;
        const auto pixels = rig.inspector->capture (w.getX(), w.getY(), w.getWidth(), w.getHeight());
        int columns = 0;
        for (int x = 0; x < w.getWidth() && ! pixels.empty(); ++x)
            for (int y = 0; y < w.getHeight(); ++y)
            {
                const auto p = pixels[(size_t) y * (size_t) w.getWidth() + (size_t) x];
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

    /** The left channel heard so far, each window's levels worked out once however often a test
        looks (windows start on a grid of a quarter window). */
    test::HeardTones tones { window, window / 4, rate };

    /** Takes in what the capture heard since the last look; the frames heard so far. */
    std::size_t listen()
    {
        tones.takeFrom (capture, 0);
        return tones.frames();
    }

    /** The amplitude of a sine in the window that starts at `frame` of what was heard. */
    double heardLevel (double frequency, std::size_t frame)  { return tones.level (frequency, frame); }

    /** Waits until the sine sounds (at least `threshold`) in a window from `from` on, and returns
        the frame of that window; 0 after the cap. */
    std::size_t waitUntilHeard (double frequency, std::size_t from, double threshold = 0.1)
    {
        std::size_t found = 0;
        auto frame = tones.gridFrom (from);
        waitFor ([&] {
            for (const auto heard = listen(); frame + window <= heard; frame += window / 2)
                if (heardLevel (frequency, frame) > threshold)
                    return (found = frame), true;
            return false;
        });
        return found;
    }

    /** The onsets of a sine from `from` on: windows where it rises above half of `amplitude`
        after having been below a quarter of it. */
    int onsets (double frequency, std::size_t from, double amplitude = 0.25)
    {
        const auto heard = listen();
        int count = 0;
        bool sounding = false;
        for (auto frame = tones.gridFrom (from); frame + window <= heard; frame += window / 2)
        {
            const auto a = heardLevel (frequency, frame);
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
        if (windowManager.isRunning() && ! windowManager.hasEnded())
        {
            windowManager.killGroup();
            windowManager.wait (capMs);
        }
    }
};

inline bool toolsPresent (std::string& why)
{
    if (! ProgramRig::displayToolsPresent())
        why = "Xvfb is not installed";
    else if (! juce::File ("/usr/bin/xdotool").existsAsFile())
        why = "xdotool is not installed";
    else if (! test::JackDummyServer::installed())
        why = "jackd is not installed";
    return why.empty();
}

} // namespace vantrel::program_test
