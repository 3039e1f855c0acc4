#pragma once

// The real main program run as a user's desktop runs it, on a machine of its own: a private X
// server, a data folder and a home folder in a temporary folder, no sound server, no session or
// system bus, no JACK server. Used by the program tests and the start-up benchmark; the build
// gives the program's path as VANTREL_PROGRAM.

#include "platform/FileStatus.h"
#include "platform/PipedProcess.h"
#include "support/TestFiles.h"
#include "support/PrivateDisplay.h"
#include "support/ToolRun.h"
#include "support/WaitUntil.h"
#include "support/X11RootWatch.h"
#include "tests/app/SessionTestSupport.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

/** In a test of a program on a private X server: starts the rig's display, or skips where Xvfb is
    not installed. */
#define START_DISPLAY_OR_SKIP(rig)                                                     \
    if (! ProgramRig::displayToolsPresent())                                           \
        GTEST_SKIP() << "Xvfb is not installed";                                       \
    {                                                                                  \
        std::string displayError;                                                      \
        ASSERT_TRUE ((rig).startDisplay (displayError)) << displayError;               \
    }

namespace vantrel::program_test
{
using test::runTool;
using test::Tool;
using test::toolCommand;

using Clock = std::chrono::steady_clock;

/** How many times longer the program takes for the same work in this build than in a release
    build: the sanitizers' checks slow it down (ThreadSanitizer most). */
#if defined(__SANITIZE_THREAD__)
constexpr int buildSlowdown = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int buildSlowdown = 3;
#else
constexpr int buildSlowdown = 1;
#endif

/** The last-resort bound of every wait on the program: far beyond what any step takes on a busy
    machine in this build. Waits end as soon as their condition holds. */
constexpr int capMs = 60000 * buildSlowdown;
constexpr const char* mainWindowTitle = "Vantrel! Ver.1.0.0";
constexpr const char* alertTitle = "Vantrel!";
constexpr std::uint32_t windowBackground = 0x0c1116;   // the main window's colour before anything is drawn

inline double msSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
}

/** Checks `condition` every `stepMs` until it holds; false when it still does not after the cap. */
inline bool waitFor (const std::function<bool()>& condition, int timeoutMs = capMs, int stepMs = 10)
{
    return vantrel::testing::waitUntil (condition, std::chrono::milliseconds (timeoutMs), std::chrono::milliseconds (stepMs));
}

/** Name, size and modification time of every entry below a folder (the folder itself included
    as ""), to tell whether anything was created, removed or written. */
using Snapshot = std::map<std::string, std::string>;

inline Snapshot snapshotOf (const juce::File& folder)
{
    Snapshot entries;
    const auto describe = [] (const juce::File& entry) {
        const auto status = platform::readFileStatus (entry.getFullPathName().toStdString());
        if (status.isDirectory)
            return std::string ("folder");
        return std::to_string (status.size) + " bytes, modified " + std::to_string (status.modifiedMillis);
    };
    if (! folder.exists())
        return entries;
    entries[""] = describe (folder);
    // Hidden entries too: a dot file left behind counts as a change.
    for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFilesAndDirectories))
        entries[entry.getFile().getRelativePathFrom (folder).toStdString()] = describe (entry.getFile());
    return entries;
}

/** One start of the program. Killed (its whole process group) if it still runs at the end. */
struct RunningProgram
{
    platform::PipedProcess process;
    Clock::time_point started;
    juce::File standardError;
    juce::File report;

    ~RunningProgram()
    {
        if (process.isRunning() && ! process.hasEnded())
            process.killGroup();
        if (process.isRunning())
            process.wait (capMs);
    }

    int pid() const  { return process.processId(); }

    /** The report as parsed JSON once its file exists; void until then. */
    juce::var readReport() const  { return report.existsAsFile() ? juce::JSON::parse (report) : juce::var(); }

    bool waitForReport (int timeoutMs = capMs) const
    {
        return waitFor ([this] { return report.existsAsFile() || process.hasEnded(); }, timeoutMs, 2)
            && report.existsAsFile();
    }

    /** Waits for the end (at most the cap) and tells how it went. */
    platform::ChildExit waitForExit (int timeoutMs = capMs)  { return process.wait (timeoutMs); }

    juce::String errorText() const  { return standardError.loadFileAsString().getLastCharacters (4000); }
};

/** The processes whose environment holds `entry` ("NAME=value"), from /proc: how a test finds
    the program that the launcher started and left running in a session of its own. */
inline std::vector<int> processesWithEnvironment (const std::string& entry)
{
    std::vector<int> found;
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator ("/proc", error))
    {
        const auto name = process.path().filename().string();
        if (name.empty() || name.find_first_not_of ("0123456789") != std::string::npos)
            continue;
        std::ifstream file (process.path() / "environ", std::ios::binary);
        const std::string environment ((std::istreambuf_iterator<char> (file)), std::istreambuf_iterator<char>());
        for (std::size_t at = 0; at < environment.size();)
        {
            const auto end = std::min (environment.find ('\0', at), environment.size());
            if (environment.compare (at, end - at, entry) == 0)
            {
                found.push_back (std::stoi (name));
                break;
            }
            at = end + 1;
        }
    }
    return found;
}

/** Whether a process has ended (gone, or a zombie that nobody has reaped yet). */
inline bool processEnded (int pid)
{
    const auto stat = juce::File ("/proc/" + juce::String (pid) + "/stat").loadFileAsString();
    const auto state = stat.fromLastOccurrenceOf (")", false, false).trimStart();
    return stat.isEmpty() || state.startsWithChar ('Z') || state.startsWithChar ('X');
}

/** Sends a signal by name ("INT", "TERM", "HUP") with the system's kill program. */
inline bool sendSignal (int pid, const char* name)
{
    return runTool ({ "/bin/kill", "-s", name, std::to_string (pid) }, capMs);
}

/** The private machine: X server, folders and the environment of the program's children. */
class ProgramRig
{
public:
    explicit ProgramRig (const char* tag = "program") : temp (tag)
    {
        for (const auto& folder : { data(), home(), runtime() })
            folder.createDirectory();
        std::filesystem::permissions (runtime().getFullPathName().toStdString(), std::filesystem::perms::owner_all);
    }

    ~ProgramRig()
    {
        watch.reset();
    }

    static bool displayToolsPresent()  { return ! platform::XvfbServer::programPath().empty(); }

    /** Starts the X server and opens the inspector (which keeps the window manager's atoms alive:
        a bare server forgets them when its last client leaves) and the root watch. */
    bool startDisplay (std::string& error, int width = 1600, int height = 1000)
    {
        if (! display.start (900, 999, width, height, false))
            return (error = display.problem), false;
        inspector = display.look.get();
        watch = platform::X11RootWatch::open (server.displayName(), error);
        return watch != nullptr;
    }

    juce::File data() const      { return temp / "data"; }
    juce::File home() const      { return temp / "home"; }
    juce::File runtime() const   { return temp / "runtime"; }
    juce::File profile() const   { return data().getChildFile ("Vantrel/Ver1"); }
    juce::File music() const     { return profile().getChildFile ("music"); }
    juce::File local() const     { return profile().getChildFile ("local"); }
    juce::File reportFile (int run) const  { return temp / ("report-" + juce::String (run) + ".json"); }

    /** Starts the program with the rig's environment; `report` is the value of
        VANTREL_STARTUP_REPORT ("" leaves it unset). */
    std::unique_ptr<RunningProgram> start (const juce::String& report, std::string& error)
    {
        auto program = std::make_unique<RunningProgram>();
        ++runs;
        program->standardError = temp / ("stderr-" + juce::String (runs) + ".txt");
        program->report = juce::File::isAbsolutePath (report) ? juce::File (report) : juce::File();
        platform::PipedProcess::Options options;
        options.program = programPath;
        options.arguments = arguments;
        const auto nowhere = (temp / "nowhere").getFullPathName().toStdString();
        options.environment = {
            { "DISPLAY", server.displayName() },
            { "HOME", home().getFullPathName().toStdString() },
            { "XDG_CONFIG_HOME", home().getChildFile (".config").getFullPathName().toStdString() },
            { "XDG_RUNTIME_DIR", runtime().getFullPathName().toStdString() },
            { "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + nowhere + "/session-bus" },
            { "DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + nowhere + "/system-bus" },
            { "PULSE_SERVER", "unix:" + nowhere + "/pulse" },
            { "JACK_DEFAULT_SERVER", jackServer.empty() ? "vantrel-absent-" + juce::Uuid().toString().toStdString() : jackServer },
            { "JACK_NO_START_SERVER", "1" },
            { "LANG", "C.UTF-8" },
        };
        for (const auto& entry : extraEnvironment)
        {
            const auto same = std::find_if (options.environment.begin(), options.environment.end(),
                                            [&] (const auto& set) { return set.first == entry.first; });
            if (same != options.environment.end())
                *same = entry;
            else
                options.environment.push_back (entry);
        }
        if (dataHome.isNotEmpty())
            options.environment.emplace_back ("XDG_DATA_HOME", dataHome.toStdString());
        if (report.isNotEmpty())
            options.environment.emplace_back ("VANTREL_STARTUP_REPORT", report.toStdString());
        options.unsetEnvironment = { "WAYLAND_DISPLAY", "VANTREL_STARTUP_REPORT", "JACK_PROMISCUOUS_SERVER" };
        if (dataHome.isEmpty())
            options.unsetEnvironment.push_back ("XDG_DATA_HOME");
        options.standardErrorPath = program->standardError.getFullPathName().toStdString();
        options.workingDirectory = temp.path().getFullPathName().toStdString();
        options.ownProcessGroup = true;
        options.inheritNothingElse = true;
        program->started = Clock::now();
        if (! program->process.start (options, error))
            return nullptr;
        return program;
    }

    /** The top-level windows of a title, viewable ones only unless told otherwise. */
    std::vector<platform::X11Inspector::TopLevelWindow> windowsTitled (const std::string& title, bool viewableOnly = true)
    {
        std::vector<platform::X11Inspector::TopLevelWindow> found;
        for (const auto& window : inspector->topLevelWindows())
            if (window.title == title && (window.viewable || ! viewableOnly))
                found.push_back (window);
        return found;
    }

    /** Waits until exactly one viewable window of the title is there; its id, or 0. */
    std::uintptr_t waitForWindow (const std::string& title, int timeoutMs = capMs)
    {
        std::uintptr_t id = 0;
        waitFor ([&] {
            const auto found = windowsTitled (title);
            id = found.size() == 1 ? found.front().id : 0;
            return id != 0;
        }, timeoutMs);
        return id;
    }

    /** The share of the window's pixels (on a grid) that are neither its bare background nor
        black: 0 until the view has been painted. */
    double drawnShare (const platform::X11Inspector::TopLevelWindow& window)
    {
        const auto pixels = inspector->capture (window.x, window.y, window.width, window.height);
        if (pixels.empty())
            return 0.0;
        std::size_t drawn = 0, all = 0;
        for (std::size_t i = 0; i < pixels.size(); i += 7, ++all)
            drawn += pixels[i] != windowBackground && pixels[i] != 0 ? 1 : 0;
        return (double) drawn / (double) all;
    }

    testing::TempFolder temp;
    std::string jackServer;   // the JACK server the program may use; empty: none
    std::string programPath = VANTREL_PROGRAM;   // what start() runs (the shipped launcher, for one)
    std::vector<std::string> arguments;          // given to programPath (a wrapper's, for one)
    juce::String dataHome = data().getFullPathName();   // XDG_DATA_HOME; empty: unset
    std::vector<std::pair<std::string, std::string>> extraEnvironment;   // set in the program, over the rest
    test::PrivateDisplay display;
    platform::XvfbServer& server = display.server;
    platform::X11Inspector* inspector = nullptr;   // the display's
    std::unique_ptr<platform::X11RootWatch> watch;

private:
    int runs = 0;
};

/** A saved show in the rig's profile, as the program itself would have saved it (written through
    the session coordinator offline): one open playlist of `rows` rows that cycle over four
    5-second WAVs. Empty when it worked, else why not. */
inline juce::String writeSavedShow (const ProgramRig& rig, int rows)
{
    std::vector<juce::File> tracks;
    for (int i = 0; i < 4; ++i)
    {
        tracks.push_back (test::writeTone (rig.temp / "media", "track-" + juce::String (i + 1) + ".wav", 5.0, 0.2f,
                                           220.0 * (i + 1)));
        if (! tracks.back().existsAsFile())
            return "could not write the show's audio files";
    }
    Playlist playlist;
    playlist.id = newCatalogId();
    playlist.name = "Show";
    playlist.rows.reserve ((size_t) rows);
    for (int i = 0; i < rows; ++i)
    {
        auto row = test::rowFor (tracks[(size_t) i % tracks.size()]);
        row.title = "Row " + std::to_string (i + 1);
        playlist.rows.push_back (row);
    }
    rig.music().createDirectory();
    rig.local().createDirectory();
    SessionCoordinatorOptions options;
    options.rackOptions = test::privateRackOptions();
    SessionCoordinator session (rig.music(), rig.local().getChildFile ("device.json"), false, options);
    if (! test::addAndOpen (session, playlist))
        return "could not add and open the playlist: " + session.statusText();
    if (! session.waitForSaves() || ! session.lastSaveResult().ok)
        return "the save failed: " + session.lastSaveResult().message;
    return {};
}
} // namespace vantrel::program_test
