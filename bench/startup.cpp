// Start-up of the real main program, from the moment the process is started to the first frame of
// its main window, on a private X server (Xvfb) with no sound server, bus or JACK server (so no
// output opens), a data and a home folder of its own:
//   empty profile     every run a first start (the profile is removed between runs)
//   10,000 rows       a saved session whose open playlist holds 10,000 rows over four short WAVs,
//                     written beforehand by the session coordinator offline
// Figures per run: the main window mapped; the start-up report written (right after the window
// was created and shown); the window's pixels painted (no longer its bare background). Medians
// over the runs, against the goals (first frame under 1.5 s with an empty profile, under 3 s with
// 10,000 rows). The last run of each ends with SIGINT and the safe quit, which is timed (at most
// 15 s, then the program is killed); the others are killed once measured. The safe quit of the
// 10,000-row show has a goal of its own: under 1 s, its ratio printed (quit / goal).
// Usage: bench_startup [--runs=N]   (default 3; other arguments, such as the benchmark library's,
//        are ignored)

#include "BenchArguments.h"
#include "tests/app/ProgramRig.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
using namespace vantrel;
using namespace vantrel::program_test;

constexpr int showRows = 10000;

double median (std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

bool fail (const juce::String& why)
{
    std::printf ("bench_startup: %s\n", why.toRawUTF8());
    return false;
}

constexpr int quitLimitMs = 15000;   // the bench waits this long for a quit, then kills the program

struct StartTimes
{
    double mappedMs = -1.0, reportMs = -1.0, drawnMs = -1.0;
    double quitMs = -1.0;   // -1: not measured, or not ended within the limit
};

enum class Ending { quitSignal, kill };

/** One start: polls for the mapped window, the report and the painted window, then ends the
    program: SIGINT and its safe quit (timed, killed after the limit), or SIGKILL (nothing of the
    session changed during the run, so nothing is lost). */
bool timeOneStart (ProgramRig& rig, int run, Ending ending, StartTimes& times)
{
    const auto report = rig.reportFile (run);
    report.deleteFile();
    std::string error;
    auto program = rig.start (report.getFullPathName(), error);
    if (program == nullptr)
        return fail ("the program did not start: " + juce::String (error));

    const bool shown = waitFor ([&] {
        const auto elapsed = msSince (program->started);
        if (times.reportMs < 0.0 && report.existsAsFile())
            times.reportMs = elapsed;
        for (const auto& window : rig.windowsTitled (mainWindowTitle))
        {
            if (times.mappedMs < 0.0)
                times.mappedMs = elapsed;
            if (times.drawnMs < 0.0 && rig.drawnShare (window) > 0.02)
                times.drawnMs = msSince (program->started);
        }
        return (times.reportMs >= 0.0 && times.drawnMs >= 0.0) || program->process.hasEnded();
    }, capMs, 1);
    if (! shown || times.reportMs < 0.0)
        return fail ("no painted window and report within 60 s; standard error: " + program->errorText());

    if (ending == Ending::kill)
    {
        program->process.killGroup();
        program->waitForExit();
        return true;
    }
    const auto quitStart = Clock::now();
    if (! sendSignal (program->pid(), "INT"))
        return fail ("could not send SIGINT");
    const auto exit = program->waitForExit (quitLimitMs);
    if (! exit.ended)
        return true;   // reported by the caller; the destructor kills it
    if (! exit.exited || exit.exitCode != 0)
        return fail ("the program did not quit cleanly on SIGINT; standard error: " + program->errorText());
    times.quitMs = msSince (quitStart);
    return true;
}

/** `runs` starts on the rig's profile (emptied before each when asked); the last one ends with
    the safe quit, the others are killed. */
bool benchProfile (ProgramRig& rig, const char* what, int runs, bool emptyEachRun, double goalMs, double quitGoalMs = 0.0)
{
    std::vector<double> mapped, report, drawn;
    double quitMs = -1.0;
    for (int run = 0; run < runs; ++run)
    {
        if (emptyEachRun)
            rig.data().getChildFile ("Vantrel").deleteRecursively();
        StartTimes times;
        const bool last = run == runs - 1;
        if (! timeOneStart (rig, run, last ? Ending::quitSignal : Ending::kill, times))
            return false;
        mapped.push_back (times.mappedMs);
        report.push_back (times.reportMs);
        drawn.push_back (times.drawnMs);
        if (last)
            quitMs = times.quitMs;
    }
    std::printf ("    %s, %d runs: window mapped %.0f ms, report written %.0f ms, first frame drawn %.0f ms "
                 "(max %.0f ms) (medians)\n",
                 what, runs, median (mapped), median (report), median (drawn),
                 *std::max_element (drawn.begin(), drawn.end()));
    std::printf ("        goal first frame under %.1f s: %s (ratio %.2f)\n", goalMs / 1000.0, median (drawn) < goalMs ? "met" : "not met",
                 median (drawn) / goalMs);
    if (quitMs >= 0.0)
        std::printf ("        the safe quit on SIGINT took %.0f ms\n", quitMs);
    else
        std::printf ("        the safe quit on SIGINT had not ended after %.0f s: killed\n", quitLimitMs / 1000.0);
    if (quitGoalMs > 0.0)
        std::printf ("        goal safe quit under %.1f s: %s (ratio %.2f)\n", quitGoalMs / 1000.0,
                     quitMs >= 0.0 && quitMs < quitGoalMs ? "met" : "not met",
                     (quitMs >= 0.0 ? quitMs : quitLimitMs) / quitGoalMs);
    return true;
}

using vantrel::bench::intArgument;
} // namespace

int main (int argc, char** argv)
{
    const int runs = intArgument (argc, argv, "runs", 3);
    if (! ProgramRig::displayToolsPresent())
    {
        std::printf ("Xvfb is not installed: the start-up figures are skipped\n");
        return 0;
    }
    const auto started = Clock::now();
    bool ok = true;
    {
        ProgramRig rig ("bench-startup");
        std::string error;
        if (! rig.startDisplay (error))
        {
            fail ("the private X server did not start: " + juce::String (error));
            return 1;
        }
        std::printf ("start-up of the main program to its first frame (private Xvfb, no output device)\n");
        ok = benchProfile (rig, "empty profile (first start)", runs, true, 1500.0);
        if (ok)
        {
            const auto written = writeSavedShow (rig, showRows);
            ok = written.isEmpty() || fail (written);
        }
        ok = ok && benchProfile (rig, "saved show, 10,000-row playlist open", runs, false, 3000.0, 1000.0);
    }
    std::printf ("(whole run %.1f s)\n", msSince (started) / 1000.0);
    return ok ? 0 : 1;
}
