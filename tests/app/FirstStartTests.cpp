// The first start on a fresh account, made as a newcomer makes it: the shipped launcher, a home
// folder that holds nothing yet, a private X server and a private JACK server (or none).

#include "support/HeardTones.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"
#include "audio/output/OutputDeviceSettingsFile.h"
#include "tests/app/PipeWireTestServer.h"
#include "tests/app/ProgramRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdio>

namespace
{
using namespace vantrel;
using namespace vantrel::program_test;
namespace files = vantrel::testing;

bool ownerOnlyFolder (const juce::File& folder)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status (folder.getFullPathName().toStdString(), error);
    return ! error && std::filesystem::is_directory (status) && status.permissions() == std::filesystem::perms::owner_all;
}

/** The main programs (not the launcher, not their workers) started with this report path. */
std::vector<int> programsReportingTo (const juce::File& report)
{
    std::vector<int> programs;
    for (const int pid : processesWithEnvironment ("VANTREL_STARTUP_REPORT=" + report.getFullPathName().toStdString()))
    {
        std::error_code error;
        const auto exe = std::filesystem::read_symlink ("/proc/" + std::to_string (pid) + "/exe", error);
        if (! error && exe == std::filesystem::path (VANTREL_PROGRAM))
            programs.push_back (pid);
    }
    return programs;
}

/** Starts the shipped launcher, which must end at once with code 0 and leave the program running. */
bool launch (ProgramRig& rig, int run, std::string& error)
{
    auto launcher = rig.start (rig.reportFile (run).getFullPathName(), error);
    if (launcher == nullptr)
        return false;
    const auto exit = launcher->waitForExit();
    if (! exit.ended || ! exit.exited || exit.exitCode != 0)
        return (error = "the launcher ended with code " + std::to_string (exit.exitCode) + ", signal "
                        + std::to_string (exit.signal) + ": " + launcher->errorText().toStdString()), false;
    return true;
}

/** Ends a program that is not this process's child with SIGTERM (its safe quit, without the
    question a Ctrl+C asks while the show plays). */
bool quitProgram (int pid)
{
    return sendSignal (pid, "TERM") && waitFor ([pid] { return processEnded (pid); });
}

// The launcher on an account that never ran a desktop session: the data home is made owner-only,
// the main window opens (no alert), the output goes to the running JACK server under the
// program's own name, and a second start raises the first and ends.
TEST (FirstStart, TheLauncherOnAFreshAccountOpensTheWindowAndPlaysThroughJack)
{
    if (! test::JackDummyServer::installed())
        GTEST_SKIP() << "jackd is not installed";
    test::JackDummyServer jack;
    ASSERT_TRUE (jack.start()) << jack.lastError();

    for (const bool dataHomeSet : { false, true })
    {
        SCOPED_TRACE (dataHomeSet ? "XDG_DATA_HOME names a folder that does not exist yet" : "XDG_DATA_HOME unset");
        ProgramRig rig ("first-start");
        START_DISPLAY_OR_SKIP (rig)
        rig.jackServer = jack.serverName();
        rig.programPath = VANTREL_LAUNCHER;
        const auto dataHome = dataHomeSet ? rig.temp / "fresh/xdg/data" : rig.home().getChildFile (".local/share");
        rig.dataHome = dataHomeSet ? dataHome.getFullPathName() : juce::String();
        ASSERT_TRUE (rig.home().findChildFiles (juce::File::findFilesAndDirectories, false).isEmpty());
        ASSERT_FALSE (dataHome.getParentDirectory().exists());

        std::string error;
        ASSERT_TRUE (launch (rig, 1, error)) << error;
        ASSERT_TRUE (waitFor ([&] { return rig.reportFile (1).existsAsFile(); })) << "no start-up report";
        const auto window = rig.waitForWindow (mainWindowTitle);
        ASSERT_NE (window, 0u) << "no main window";
        EXPECT_TRUE (rig.windowsTitled (alertTitle, false).empty()) << "an alert was shown";
        const auto programs = programsReportingTo (rig.reportFile (1));
        ASSERT_EQ (programs.size(), 1u);
        const int first = programs.front();

        // The data home and each folder made for it are owner-only; the profile lies inside.
        EXPECT_TRUE (ownerOnlyFolder (dataHome));
        EXPECT_TRUE (ownerOnlyFolder (dataHome.getParentDirectory()));
        EXPECT_TRUE (dataHome.getChildFile ("Vantrel/Ver1/local/preferences.json").existsAsFile());
        const auto report = juce::JSON::parse (rig.reportFile (1));
        EXPECT_EQ (report["profileRoot"], juce::var (dataHome.getChildFile ("Vantrel/Ver1/music").getFullPathName()));
        EXPECT_EQ (report["audioOpened"], juce::var (true)) << report["status"].toString();

        // JACK lists the program under its own name, its two outputs on the server's playback ports.
        test::JackCaptureClient probe (1);
        ASSERT_TRUE (probe.open ("first-start-probe")) << probe.lastError();
        const std::vector<std::string> outputs { "Vantrel:out_1", "Vantrel:out_2" };
        ASSERT_TRUE (waitFor ([&] { return probe.outputPortsOf (test::JackCaptureClient::programClientName) == outputs; }))
            << "the program's ports are not listed under \"Vantrel\"";
        EXPECT_TRUE (waitFor ([&] {
            return probe.connectionsOf (outputs[0]) == std::vector<std::string> { "system:playback_1" }
                && probe.connectionsOf (outputs[1]) == std::vector<std::string> { "system:playback_2" };
        })) << "the outputs are not connected to the server's playback ports";
        probe.close();

        // Another window takes the focus; a second start through the launcher gives it back to the
        // first copy's window and ends.
        const auto other = rig.inspector->createSolidWindow (0, 0, 1600, 1000, 0x336699);
        ASSERT_TRUE (waitFor ([&] {
            for (const auto& w : rig.inspector->topLevelWindows())
                if (w.id == other)
                    return w.viewable;
            return false;
        }));
        rig.watch->setFocus (other);
        (void) rig.watch->takeMessages();
        const auto secondStart = Clock::now();
        ASSERT_TRUE (launch (rig, 2, error)) << error;
        EXPECT_TRUE (waitFor ([&] { return rig.watch->topLevelOf (rig.watch->focusWindow()) == window; }))
            << "the first copy's window did not take the focus";
        EXPECT_TRUE (waitFor ([&] { return programsReportingTo (rig.reportFile (2)).empty(); }))
            << "the second start still runs";
        std::printf ("the second start raised the first and ended after %.3f s (goal: within 3 s)\n",
                     msSince (secondStart) / 1000.0);
        // The watch may read the request a moment after the focus it brought is seen.
        bool activationAsked = false;
        waitFor ([&] {
            for (const auto& message : rig.watch->takeMessages())
                activationAsked = activationAsked || (message.type == "_NET_ACTIVE_WINDOW" && message.window == window);
            return activationAsked;
        });
        EXPECT_TRUE (activationAsked) << "no _NET_ACTIVE_WINDOW request for the first copy's window";
        EXPECT_FALSE (rig.reportFile (2).exists());
        EXPECT_EQ (rig.windowsTitled (mainWindowTitle).size(), 1u);

        EXPECT_TRUE (quitProgram (first)) << "the first copy did not end after SIGTERM";
    }
}

bool xdotoolPresent()  { return juce::File ("/usr/bin/xdotool").existsAsFile(); }

bool pressReturn (ProgramRig& rig)
{
    Tool tool ({ "xdotool", "key", "Return" }, { { { "DISPLAY", rig.server.displayName() } } });
    return tool.waitForEnd (capMs) && tool.succeeded();
}

/** GO (Return) with the pointer over the window, which gives it the keyboard on a bare server. */
bool pressGo (ProgramRig& rig, std::uintptr_t window)
{
    return waitFor ([&] {
               Tool tool ({ "xdotool", "mousemove", "--window", std::to_string (window), "700", "120" },
                          { { { "DISPLAY", rig.server.displayName() } } });
               return tool.waitForEnd (capMs) && tool.succeeded();
           }, capMs, 100)
        && waitFor ([&] { return rig.watch->topLevelOf (rig.watch->focusWindow()) == window; })
        && pressReturn (rig);
}

/** A sink's recording: a 48 kHz stereo float WAV that grows as it records (read from its "data"
    chunk on, whatever its header holds). Its left channel is taken in once, frame by frame, and
    each window's level worked out once, however often a test looks. */
struct SinkRecording
{
    juce::File file;
    mutable test::HeardTones heard { 4800, 2400 };

    bool running() const  { return file.getSize() > 48000 * 2 * 4 / 10; }

    bool hears (double frequency) const
    {
        takeInNewFrames();
        for (std::size_t frame = 0; frame + heard.windowFrames() <= heard.frames(); frame += 2400)
            if (heard.level (frequency, frame) > 0.1)
                return true;
        return false;
    }

private:
    void takeInNewFrames() const
    {
        juce::FileInputStream in (file);
        if (! in.openedOk())
            return;
        char header[4096] = {};
        const auto headerSize = in.read (header, sizeof (header));
        const std::string head (header, (std::size_t) std::max (0, headerSize));
        const auto chunk = head.find ("data");
        if (chunk == std::string::npos)
            return;
        const auto frameBytes = 2 * sizeof (float);
        const auto start = (juce::int64) (chunk + 8 + heard.frames() * frameBytes);
        if (! in.setPosition (start))
            return;
        const auto count = (std::size_t) std::max<juce::int64> (0, in.getTotalLength() - start) / frameBytes;
        std::vector<float> interleaved (count * 2);
        const auto bytes = in.read (interleaved.data(), (int) (count * frameBytes));
        std::vector<float> left;
        for (std::size_t i = 0; i < (std::size_t) std::max (0, bytes) / frameBytes; ++i)
            left.push_back (interleaved[2 * i]);
        heard.append (left.data(), left.size());
    }
};

/** The text lines of a window's picture (0xRRGGBB rows; light text on a dark ground), top down:
    for each, the share of its inked columns that are inked in the middle third of its height.
    Real glyphs have strokes there; the empty boxes drawn for characters a face lacks are open
    there, but for their two sides. */
std::vector<double> textLinesOf (const std::vector<std::uint32_t>& pixels, int width)
{
    const auto inked = [&] (int x, int y) {
        const auto p = pixels[(size_t) (y * width + x)];
        return std::min ({ (p >> 16) & 0xffu, (p >> 8) & 0xffu, p & 0xffu }) > 100u;   // grey to white, not the icon's red
    };
    const int height = width > 0 ? (int) pixels.size() / width : 0;
    // The window's one-pixel frame is left out.
    const auto rowInked = [&] (int y) {
        for (int x = 2; x < width - 2; ++x)
            if (inked (x, y))
                return true;
        return false;
    };
    std::vector<double> lines;
    for (int y = 2; y < height - 2;)
    {
        if (! rowInked (y))
        {
            ++y;
            continue;
        }
        const int top = y;
        while (y < height - 2 && rowInked (y))
            ++y;
        const int bottom = y, third = (bottom - top) / 3;
        int columns = 0, middle = 0;
        for (int x = 2; x < width - 2; ++x)
        {
            bool any = false, inMiddle = false;
            for (int row = top; row < bottom; ++row)
                if (inked (x, row))
                    (row >= top + third && row < bottom - third ? inMiddle : any) = true;
            columns += any || inMiddle ? 1 : 0;
            middle += inMiddle ? 1 : 0;
        }
        lines.push_back (columns > 0 ? (double) middle / columns : 0.0);
    }
    return lines;
}

// A data home that cannot be made stops the start with the alert, which says why, writes nothing,
// and draws its Japanese and its English text with real glyphs.
TEST (FirstStart, ADataHomeThatCannotBeMadeStopsWithAnAlertInBothLanguages)
{
    if (! xdotoolPresent())
        GTEST_SKIP() << "xdotool is not installed";
    const struct
    {
        const char* name;
        const char* file;       // below the rig's folder, where a folder would have to be
        const char* dataHome;   // XDG_DATA_HOME below the rig's folder; null: unset (HOME's)
    } cases[] = {
        { "a file in the data home's place", "blocked", "blocked" },
        { "a file in a parent's place", "blocked", "blocked/xdg/data" },
        { "a file in the place of HOME's .local", "home/.local", nullptr },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ProgramRig rig ("first-start-alert");
        START_DISPLAY_OR_SKIP (rig)
        ASSERT_TRUE (files::writeBytes (rig.temp / c.file, "not a folder"));
        rig.dataHome = c.dataHome != nullptr ? (rig.temp / c.dataHome).getFullPathName() : juce::String();
        const auto before = std::make_pair (snapshotOf (rig.home()), snapshotOf (rig.data()));

        std::string error;
        auto program = rig.start (rig.reportFile (1).getFullPathName(), error);
        ASSERT_NE (program, nullptr) << error;
        const auto alert = rig.waitForWindow (alertTitle);
        ASSERT_NE (alert, 0u) << "no alert appeared; " << program->errorText();
        EXPECT_TRUE (rig.windowsTitled (mainWindowTitle, false).empty()) << "a main window was made";

        const auto shown = rig.windowsTitled (alertTitle).front();
        ASSERT_TRUE (waitFor ([&] { return rig.drawnShare (shown) > 0.2; })) << "the alert was never painted";
        const auto lines = textLinesOf (rig.inspector->capture (shown.x, shown.y, shown.width, shown.height), shown.width);
        ASSERT_GE (lines.size(), 6u) << "the title, the Japanese line, two English lines and the reason below";
        for (size_t i = 1; i < 3; ++i)
        {
            std::printf ("line %zu: %.2f of its inked columns inked in its middle\n", i, lines[i]);
            EXPECT_GT (lines[i], 0.45) << "line " << i << " of the alert is drawn as boxes";
        }
        ASSERT_TRUE (waitFor ([&] { return rig.watch->topLevelOf (rig.watch->focusWindow()) == alert; }));
        ASSERT_TRUE (pressReturn (rig));
        const auto exit = program->waitForExit();
        ASSERT_TRUE (exit.ended) << "closing the alert did not end the program";
        EXPECT_TRUE (exit.exited && exit.exitCode == 0) << exit.exitCode << " / signal " << exit.signal;
        EXPECT_FALSE (rig.reportFile (1).exists());
        EXPECT_EQ (std::make_pair (snapshotOf (rig.home()), snapshotOf (rig.data())), before);
        EXPECT_EQ (files::readBytes (rig.temp / c.file), "not a folder");
    }
}

// With no JACK server, a first start opens ALSA's default device (here a stand-in that discards
// what it is sent, declared in the home folder's ".asoundrc" beside another output).
TEST (FirstStart, WithoutAJackServerTheFirstStartOpensAlsasDefaultDevice)
{
    ProgramRig rig ("first-start-alsa");
    START_DISPLAY_OR_SKIP (rig)
    ASSERT_TRUE (files::writeBytes (rig.home().getChildFile (".asoundrc"),
                                    "pcm.!default { type null; hint { show off } }\n"
                                    "pcm.vantrel_stage { type null; hint { show on; description \"Vantrel Test Stage\" } }\n"));
    rig.dataHome = {};

    std::string error;
    auto program = rig.start (rig.reportFile (1).getFullPathName(), error);
    ASSERT_NE (program, nullptr) << error;
    ASSERT_TRUE (program->waitForReport()) << "no report; standard error: " << program->errorText();
    ASSERT_NE (rig.waitForWindow (mainWindowTitle), 0u) << "no main window";
    const auto report = program->readReport();
    EXPECT_EQ (report["audioOpened"], juce::var (true)) << report["status"].toString();
    EXPECT_EQ (report["actualOutput"], juce::var ("Default ALSA Output")) << report["status"].toString();
    EXPECT_TRUE (ownerOnlyFolder (rig.home().getChildFile (".local/share")));
    EXPECT_TRUE (quitProgram (program->pid()));
}

// On a desktop that runs PipeWire, a first start plays through PipeWire's JACK layer (the JACK
// library Debian's pw-jack puts first) into its sink, where a recording of the sink hears the
// show's first row after GO.
TEST (FirstStart, OnPipeWireTheOutputGoesThroughItsJackLayerAndIsHeard)
{
    if (! test::PipeWireTestServer::installed() || ! juce::File ("/usr/bin/pw-record").existsAsFile())
        GTEST_SKIP() << "pipewire, pipewire-pulse, wireplumber or pipewire-jack is not installed";
    if (! xdotoolPresent())
        GTEST_SKIP() << "xdotool is not installed";
    ProgramRig rig ("first-start-pipewire");
    START_DISPLAY_OR_SKIP (rig)
    test::PipeWireTestServer pipewire (rig.temp / "pipewire");
    ASSERT_TRUE (pipewire.start()) << "the private PipeWire did not answer";
    const auto written = writeSavedShow (rig, 1);   // one row of 5 s of 220 Hz, READY
    ASSERT_TRUE (written.isEmpty()) << written;
    rig.jackServer = "pipewire-0";
    rig.extraEnvironment = { { "LD_LIBRARY_PATH", test::PipeWireTestServer::jackLibraryFolder().getFullPathName().toStdString() },
                             { "PIPEWIRE_RUNTIME_DIR", pipewire.runtimeFolder() } };

    std::string error;
    auto program = rig.start (rig.reportFile (1).getFullPathName(), error);
    ASSERT_NE (program, nullptr) << error;
    ASSERT_TRUE (program->waitForReport()) << "no report; standard error: " << program->errorText();
    const auto report = program->readReport();
    ASSERT_EQ (report["audioOpened"], juce::var (true)) << report["status"].toString() << "; " << program->errorText();
    EXPECT_EQ (report["actualOutput"], juce::var ("Vantrel Test Sink")) << report["status"].toString();
    const auto window = rig.waitForWindow (mainWindowTitle);
    ASSERT_NE (window, 0u);

    // PipeWire's graph shows the program by its name, its outputs linked to the sink's inputs.
    const auto ports = test::runTool ("/usr/bin/jack_lsp", { "-c" },
                                      { "LD_LIBRARY_PATH=" + test::PipeWireTestServer::jackLibraryFolder().getFullPathName().toStdString(),
                                        "PIPEWIRE_RUNTIME_DIR=" + pipewire.runtimeFolder(), "JACK_DEFAULT_SERVER=pipewire-0" });
    EXPECT_TRUE (juce::String (ports).contains ("Vantrel:out_1\n   Vantrel Test Sink:playback_FL")) << ports;
    EXPECT_TRUE (juce::String (ports).contains ("Vantrel:out_2\n   Vantrel Test Sink:playback_FR")) << ports;

    const SinkRecording recording { rig.temp / "sink.wav" };
    platform::PipedProcess recorder;
    {
        platform::PipedProcess::Options options;
        options.program = "/usr/bin/pw-record";
        options.arguments = { "--target", test::PipeWireTestServer::sinkName, "--rate", "48000", "--channels", "2",
                              "--format", "f32", "-P", "{ stream.capture.sink = true }", recording.file.getFullPathName().toStdString() };
        options.environment = { { "PIPEWIRE_RUNTIME_DIR", pipewire.runtimeFolder() } };
        options.ownProcessGroup = true;
        ASSERT_TRUE (recorder.start (options, error)) << error;
    }
    ASSERT_TRUE (waitFor ([&] { return recording.running(); })) << "the recording of the sink never ran";
    EXPECT_FALSE (recording.hears (220.0)) << "sound before GO";

    ASSERT_TRUE (pressGo (rig, window));
    EXPECT_TRUE (waitFor ([&] { return recording.hears (220.0); })) << "the show was not heard in PipeWire's sink";
    recorder.killGroup();
    recorder.wait (capMs);
    EXPECT_TRUE (quitProgram (program->pid()));
}
// On a desktop that runs PulseAudio's own daemon, with no JACK server, ALSA's default device is
// PulseAudio's ALSA plug-in (Debian's configuration points it there while the daemon answers).
// A first start opens that default, and the output dialog's PulseAudio entry, once chosen,
// opens at the next start: either way a recording of the daemon's sink hears the show's first
// row after GO, and the output runs on without a loss.
TEST (FirstStart, OnPulseAudioAlsasDefaultAndThePulseAudioEntryAreHeard)
{
    if (! test::PulseTestServer::installed() || ! juce::File ("/usr/bin/parecord").existsAsFile())
        GTEST_SKIP() << "pulseaudio or pulseaudio-utils is not installed";
    if (! xdotoolPresent())
        GTEST_SKIP() << "xdotool is not installed";
    const struct
    {
        const char* name;
        const char* storedId;   // the output dialog's choice in device.json; null: a first start
        const char* output;
    } cases[] = {
        { "first start", nullptr, "Playback/recording through the PulseAudio sound server" },
        { "the output dialog's PulseAudio entry", "pulse", "PulseAudio Sound Server" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ProgramRig rig ("first-start-pulse");
        START_DISPLAY_OR_SKIP (rig)
        test::PulseTestServer pulse (rig.temp / "pulse");
        ASSERT_TRUE (pulse.start()) << "the private PulseAudio did not answer";
        const auto written = writeSavedShow (rig, 1);   // one row of 5 s of 220 Hz, READY
        ASSERT_TRUE (written.isEmpty()) << written;
        if (c.storedId != nullptr)
        {
            ASSERT_TRUE (writeOutputDeviceSettings (rig.local().getChildFile ("device.json"),
                                                    { "ALSA", c.output, c.storedId, 0.0, 0, 0 }).ok);
        }
        rig.extraEnvironment = { { "PULSE_SERVER", pulse.server() } };

        const SinkRecording recording { rig.temp / "sink.wav" };
        platform::PipedProcess recorder;
        std::string error;
        {
            platform::PipedProcess::Options options;
            options.program = "/usr/bin/parecord";
            options.arguments = { "--device=null.monitor", "--rate=48000", "--channels=2", "--format=float32le",
                                  "--file-format=wav", recording.file.getFullPathName().toStdString() };
            options.environment = { { "PULSE_SERVER", pulse.server() } };
            options.ownProcessGroup = true;
            ASSERT_TRUE (recorder.start (options, error)) << error;
        }
        ASSERT_TRUE (waitFor ([&] { return recording.running(); })) << "the recording of the sink never ran";

        auto program = rig.start (rig.reportFile (1).getFullPathName(), error);
        ASSERT_NE (program, nullptr) << error;
        ASSERT_TRUE (program->waitForReport()) << "no report; standard error: " << program->errorText();
        const auto report = program->readReport();
        ASSERT_EQ (report["audioOpened"], juce::var (true)) << report["status"].toString() << "; " << program->errorText();
        EXPECT_EQ (report["actualOutput"], juce::var (c.output)) << report["status"].toString();
        const auto window = rig.waitForWindow (mainWindowTitle);
        ASSERT_NE (window, 0u);
        EXPECT_FALSE (recording.hears (220.0)) << "sound before GO";

        ASSERT_TRUE (pressGo (rig, window));
        EXPECT_TRUE (waitFor ([&] { return recording.hears (220.0); })) << "the show was not heard in PulseAudio's sink";

        // The diagnostics, written every 5 s, count the blocks the device asked for and no loss.
        const auto diagnostics = rig.local().getChildFile ("audio-diagnostics.json");
        EXPECT_TRUE (waitFor ([&] { return (int) juce::JSON::parse (diagnostics)["callbacks"] > 0; }))
            << diagnostics.loadFileAsString();
        EXPECT_EQ ((int) juce::JSON::parse (diagnostics)["confirmedLossEvents"], 0) << diagnostics.loadFileAsString();
        recorder.killGroup();
        recorder.wait (capMs);
        EXPECT_TRUE (quitProgram (program->pid()));
    }
}
} // namespace
