// The quit signals on the real program: a Ctrl+C (SIGINT) or a closed terminal (SIGHUP) while the
// show plays asks the close button's question and the show plays on, a SIGTERM runs the safe quit;
// a SIGTERM whose quit could not save is heard again, and a second one ends the program without
// touching a file; and a standard output that is full or closed stops nothing.
#include "KeyShow.h"

#include "session/CatalogStore.h"
#include "session/PreferencesFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace vantrel
{
namespace
{
using namespace vantrel::program_test;

/** F5 folds the playlist panel: an edit that the program saves. */
void bindFoldToF5 (Preferences& preferences)
{
    for (auto& binding : preferences.keys)
        if (binding.action == "PLAYLIST PANEL")
            binding.key = vk::f1 + 4;
}

/** The fold of the playlist panel as saved; -1 when the saved files cannot be read. */
int savedFold (const ProgramRig& rig)
{
    CatalogStore store (rig.music());
    CatalogState state;
    return store.readSavedFiles (state).ok ? (state.ui.playlistsFolded ? 1 : 0) : -1;
}

/** Types F5 into the main window and waits until the fold has redrawn a large part of it. */
bool foldWithF5 (ProgramRig& rig)
{
    const auto shown = rig.windowsTitled (mainWindowTitle);
    if (shown.size() != 1)
        return false;
    const auto& w = shown.front();
    if (! waitFor ([&] { return rig.drawnShare (w) > 0.02; }))
        return false;
    const auto before = rig.inspector->capture (w.x, w.y, w.width, w.height);
    Tool tool ({ "xdotool", "key", "F5" }, { { { "DISPLAY", rig.server.displayName() } } });
    if (! tool.waitForEnd (capMs) || ! tool.succeeded())
        return false;
    return waitFor ([&] {
        const auto now = rig.inspector->capture (w.x, w.y, w.width, w.height);
        std::size_t changed = 0;
        for (std::size_t i = 0; i < now.size() && i < before.size(); ++i)
            changed += now[i] != before[i] ? 1 : 0;
        return (double) changed > 0.01 * (double) before.size();
    });
}

/** Whether a sine sounds in every window of the capture from `from` on. */
bool soundsThroughout (const KeyShow& show, double frequency, std::size_t from)
{
    const auto left = show.capture.channel (0);
    if (left.size() < from + rate)
        return false;
    for (auto frame = from; frame + window <= left.size(); frame += window)
        if (show.level (left, frame, frequency) < 0.1)
            return false;
    return true;
}

TEST (QuitSignals, CtrlCAndAClosedTerminalAskWhileTheShowPlaysAndSigtermQuitsSafely)
{
    std::string why;
    if (! toolsPresent (why))
        GTEST_SKIP() << why;
    KeyShow show;
    show.adjustPreferences = bindFoldToF5;
    const auto media = show.rig.temp / "media";
    const auto song = writeSines (media, "Song.wav", { 600.0 }, 60.0);
    ASSERT_EQ (show.start ({ song, writeSines (media, "Next.wav", { 700.0 }, 2.0) }, {}), "");
    ASSERT_TRUE (show.readyShowsLongRow()) << "the song's waveform never showed";
    const auto pressed = show.heard();
    ASSERT_TRUE (show.xdotool ({ "key", "Return" }));
    ASSERT_NE (show.waitUntilHeard (600.0, pressed), 0u) << "GO was not heard";
    ASSERT_TRUE (foldWithF5 (show.rig)) << "F5 did not fold the playlist panel";

    for (const char* signal : { "INT", "HUP" })
    {
        SCOPED_TRACE (signal);
        const auto sent = show.heard();
        ASSERT_TRUE (sendSignal (show.program->pid(), signal));
        ASSERT_TRUE (waitFor ([&] { return show.rig.windowsTitled (alertTitle).size() == 1 || show.program->process.hasEnded(); }));
        ASSERT_FALSE (show.program->process.hasEnded()) << "SIG" << signal << " ended the show";
        ASSERT_TRUE (show.hold (1.0));
        EXPECT_TRUE (soundsThroughout (show, 600.0, sent)) << "the song did not play on while the question was up";

        // The operator answers no: Escape on the question.
        const auto question = show.rig.windowsTitled (alertTitle).front();
        ASSERT_TRUE (show.xdotool ({ "mousemove", juce::String (question.x + question.width / 2),
                                    juce::String (question.y + question.height / 2) }));
        ASSERT_TRUE (show.xdotool ({ "key", "Escape" }));
        ASSERT_TRUE (waitFor ([&] { return show.rig.windowsTitled (alertTitle).empty(); })) << "the question did not close";
        const auto answered = show.heard();
        ASSERT_TRUE (show.hold (1.0));
        EXPECT_TRUE (soundsThroughout (show, 600.0, answered));
    }

    // SIGTERM: the safe quit, no question, and the edit is on disk.
    ASSERT_TRUE (sendSignal (show.program->pid(), "TERM"));
    const auto exit = show.program->waitForExit();
    ASSERT_TRUE (exit.ended) << "SIGTERM did not end the program";
    EXPECT_TRUE (exit.exited && exit.exitCode == 0) << exit.exitCode << " / signal " << exit.signal;
    EXPECT_EQ (savedFold (show.rig), 1);
    show.program.reset();
}

/** The program in a mount namespace of its own, where the test can make its session folder
    read-only without anyone else seeing it (a read-only mount stops root's writes too). */
struct ReadOnlyRig
{
    ProgramRig rig { "quit-ro" };
    std::unique_ptr<RunningProgram> program;

    std::string why;

    bool toolsPresent()
    {
        if (! ProgramRig::displayToolsPresent())
            why = "Xvfb is not installed";
        else if (! juce::File ("/usr/bin/xdotool").existsAsFile())
            why = "xdotool is not installed";
        else if (! juce::File ("/usr/bin/unshare").existsAsFile() || ! juce::File ("/usr/bin/nsenter").existsAsFile())
            why = "unshare or nsenter is not installed";
        else if (::geteuid() != 0)
            why = "a mount namespace and a bind mount need root";
        return why.empty();
    }

    /** Runs mount in the program's mount namespace; what it said goes into `why`. */
    bool mount (const std::vector<std::string>& arguments)
    {
        std::vector<std::string> command { "/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", "/usr/bin/nsenter", "-t",
                                           std::to_string (program->pid()), "-m", "mount" };
        command.insert (command.end(), arguments.begin(), arguments.end());
        Tool tool (command);
        const bool done = tool.waitForEnd (capMs) && tool.succeeded();
        if (! done)
            why = "mount: " + tool.output();
        return done;
    }

    /** A read-only remount is refused ("busy") while the program has a file of the folder open
        for writing, as during a save: asked again until it is through, or until it fails so. */
    bool setMusicReadOnly (bool readOnly)
    {
        const auto music = rig.music().getFullPathName().toStdString();
        bool done = false;
        waitFor ([&] {
            done = mount ({ "-o", readOnly ? "remount,bind,ro" : "remount,bind,rw", music });
            return done || why.find ("busy") == std::string::npos;
        });
        return done;
    }

    /** Starts the program, makes the session folder read-only and folds the playlist panel (the
        save fails); then a SIGTERM's quit is abandoned. Empty when it worked. */
    std::string startAndAbandonAQuit()
    {
        const auto written = writeSavedShow (rig, 3);
        if (written.isNotEmpty())
            return written.toStdString();
        Preferences preferences;
        bindFoldToF5 (preferences);
        if (! savePreferences (rig.local().getChildFile ("preferences.json"), preferences).ok)
            return "the preferences were not written";
        std::string error;
        if (! rig.startDisplay (error))
            return error;
        rig.programPath = "/usr/bin/unshare";
        rig.arguments = { "--mount", "--propagation", "private", VANTREL_PROGRAM };
        program = rig.start (rig.reportFile (1).getFullPathName(), error);
        if (program == nullptr)
            return error;
        if (! program->waitForReport() || rig.waitForWindow (mainWindowTitle) == 0)
            return "the program did not start: " + program->errorText().toStdString();
        const auto music = rig.music().getFullPathName().toStdString();
        if (! mount ({ "--bind", music, music }) || ! setMusicReadOnly (true))
            return "the session folder could not be made read-only: " + why;
        if (! waitFor ([&] { return rig.watch->topLevelOf (rig.watch->focusWindow()) == rig.waitForWindow (mainWindowTitle); }))
            return "the window did not take the keyboard";
        if (! foldWithF5 (rig))
            return "F5 did not fold the playlist panel";
        if (! sendSignal (program->pid(), "TERM"))
            return "no SIGTERM";
        if (! waitFor ([&] { return program->errorText().contains ("the quit was abandoned") || program->process.hasEnded(); })
            || program->process.hasEnded())
            return "the quit was not abandoned: " + program->errorText().toStdString();
        return {};
    }
};

/** The saved files and settings without the diagnostics that a running copy rewrites every 5 s. */
Snapshot filesOf (const ProgramRig& rig)
{
    auto entries = snapshotOf (rig.data());
    for (auto it = entries.begin(); it != entries.end();)
        it = it->first.find ("audio-diagnostics.json") != std::string::npos ? entries.erase (it) : std::next (it);
    return entries;
}

TEST (QuitSignals, ASigtermWhoseQuitCouldNotSaveIsHeardAgain)
{
    enum class Then { folderWritableAgain, sigtermAgain };
    for (const auto then : { Then::folderWritableAgain, Then::sigtermAgain })
    {
        SCOPED_TRACE (then == Then::folderWritableAgain ? "the folder writable again" : "a second SIGTERM");
        ReadOnlyRig ro;
        if (! ro.toolsPresent())
            GTEST_SKIP() << ro.why;
        ASSERT_EQ (ro.startAndAbandonAQuit(), "");
        EXPECT_NE (savedFold (ro.rig), 1);

        if (then == Then::folderWritableAgain)
        {
            // The retry saves the edit; a SIGTERM after it runs the safe quit again.
            ASSERT_TRUE (ro.setMusicReadOnly (false));
            ASSERT_TRUE (waitFor ([&] { return savedFold (ro.rig) == 1; })) << "the retry did not save the edit";
            ASSERT_TRUE (waitFor ([&] { return ro.program->errorText().contains ("saved again"); }));
            ASSERT_TRUE (sendSignal (ro.program->pid(), "TERM"));
            const auto exit = ro.program->waitForExit();
            ASSERT_TRUE (exit.ended) << "the SIGTERM after the retry was not heard";
            EXPECT_TRUE (exit.exited && exit.exitCode == 0) << exit.exitCode << " / signal " << exit.signal;
            EXPECT_EQ (savedFold (ro.rig), 1);
            continue;
        }

        // Still read-only: the second SIGTERM ends the program, writes nothing and says why.
        const auto before = filesOf (ro.rig);
        const auto sent = Clock::now();
        ASSERT_TRUE (sendSignal (ro.program->pid(), "TERM"));
        const auto exit = ro.program->waitForExit();
        ASSERT_TRUE (exit.ended) << "the second SIGTERM did not end the program";
        std::printf ("the second SIGTERM ended the program after %.0f ms\n", msSince (sent));
        EXPECT_TRUE (exit.exited) << "ended by signal " << exit.signal;
        EXPECT_NE (exit.exitCode, 0);
        EXPECT_TRUE (ro.program->errorText().contains ("SIGTERM again while the quit cannot save")) << ro.program->errorText();
        EXPECT_EQ (filesOf (ro.rig), before);
    }
}

TEST (QuitSignals, AStandardOutputThatIsFullOrClosedStopsNothing)
{
    enum class Output { fullPipe, closedPipe };
    for (const auto output : { Output::fullPipe, Output::closedPipe })
    {
        SCOPED_TRACE (output == Output::fullPipe ? "a full pipe nobody reads" : "a pipe whose reader is gone");
        ProgramRig rig;
        START_DISPLAY_OR_SKIP (rig)
        int ends[2] = { -1, -1 };
        ASSERT_EQ (::pipe (ends), 0);
        if (output == Output::fullPipe)
        {
            ASSERT_EQ (::fcntl (ends[1], F_SETFL, O_NONBLOCK), 0);
            const std::vector<char> block (4096, 'x');
            while (::write (ends[1], block.data(), block.size()) > 0) {}
        }
        // The program writes its output to this pipe, and makes a line at its start: the folder
        // for its fonts cannot be made in its runtime folder.
        const auto pipePath = "/proc/" + std::to_string (::getpid()) + "/fd/" + std::to_string (ends[1]);
        rig.programPath = "/bin/sh";
        rig.arguments = { "-c", "exec \"$0\" >\"$1\" 2>&1", VANTREL_PROGRAM, pipePath };
        rig.extraEnvironment = { { "XDG_RUNTIME_DIR", "/proc" } };
        std::string error;
        auto program = rig.start (rig.reportFile (1).getFullPathName(), error);
        ASSERT_NE (program, nullptr) << error;
        if (output == Output::closedPipe)
        {
            std::error_code failed;
            const auto ours = std::filesystem::read_symlink ("/proc/self/fd/" + std::to_string (ends[1]), failed);
            ASSERT_TRUE (waitFor ([&] {
                return std::filesystem::read_symlink ("/proc/" + std::to_string (program->pid()) + "/fd/2", failed) == ours;
            }, capMs, 1));
            ::close (ends[0]);
            ::close (ends[1]);
            ends[0] = ends[1] = -1;
        }
        EXPECT_NE (rig.waitForWindow (mainWindowTitle), 0u) << "the program did not show its window";
        ASSERT_TRUE (sendSignal (program->pid(), "TERM"));
        const auto exit = program->waitForExit();
        ASSERT_TRUE (exit.ended);
        EXPECT_TRUE (exit.exited && exit.exitCode == 0) << exit.exitCode << " / signal " << exit.signal;
        for (const int end : ends)
            if (end >= 0)
                ::close (end);
    }
}
} // namespace
} // namespace vantrel
