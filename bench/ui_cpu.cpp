// CPU of the running main view: the real view in a real window on a private X server (Xvfb),
// the message loop running its 30 Hz timer and the window's repaints, over a demo show with a
// 1,000-row playlist open; first idle (nothing playing), then with a track playing. The engine is
// paced at real time by the offline renderer's thread, as a device would call it back.
// Figures: process CPU time (every thread of the program, the renderer's included) and the
// message thread's, as a share of one core over the wall time; the X server's own work is not
// counted.
// Usage: bench_ui_cpu [--seconds=N]   (default 10 s each; VANTREL_BENCH_UI_SECONDS also sets it;
//        other arguments, such as the benchmark library's, are ignored)

#include "BenchDisplay.h"
#include "BenchShow.h"
#include "platform/X11Window.h"
#include "session/UiLanguage.h"
#include "support/EnvironmentVariable.h"
#include "support/X11Inspector.h"
#include "support/XvfbServer.h"
#include "tests/ui/DemoShow.h"
#include "ui/FittedContent.h"
#include "ui/Fonts.h"
#include "ui/VantrelView.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace juce
{
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);   // JUCE's Linux message loop
}

namespace
{
using namespace vantrel;
using Clock = std::chrono::steady_clock;

double cpuMs (clockid_t which)
{
    timespec t {};
    clock_gettime (which, &t);
    return (double) t.tv_sec * 1000.0 + (double) t.tv_nsec / 1.0e6;
}

/** Runs the message loop as the program does (blocking until the next message or event) for
    `seconds`; the process's and this thread's CPU over it, in % of one core. */
struct CpuShare
{
    double process = 0.0, messageThread = 0.0, wallSeconds = 0.0;
};

CpuShare runLoopFor (double seconds)
{
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
    const auto process0 = cpuMs (CLOCK_PROCESS_CPUTIME_ID), thread0 = cpuMs (CLOCK_THREAD_CPUTIME_ID);
    while (Clock::now() < end)
        juce::dispatchNextMessageOnSystemQueue (false);   // the view's 30 Hz timer wakes it at the latest
    const auto wallMs = std::chrono::duration<double, std::milli> (Clock::now() - start).count();
    return { 100.0 * (cpuMs (CLOCK_PROCESS_CPUTIME_ID) - process0) / wallMs,
             100.0 * (cpuMs (CLOCK_THREAD_CPUTIME_ID) - thread0) / wallMs, wallMs / 1000.0 };
}

void printShare (const char* what, const CpuShare& share, double goal)
{
    std::printf ("    %s over %.1f s: process %.2f %% of one core (message thread %.2f %%); goal under %.0f %%: %s\n",
                 what, share.wallSeconds, share.process, share.messageThread, goal,
                 share.process < goal ? "met" : "not met");
}

double secondsWanted (int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string (argv[i]).rfind ("--seconds=", 0) == 0)
            return std::max (1.0, std::atof (argv[i] + 10));
    if (const char* fromEnvironment = std::getenv ("VANTREL_BENCH_UI_SECONDS"))
        return std::max (1.0, std::atof (fromEnvironment));
    return 10.0;
}

int fail (const juce::String& why)
{
    std::printf ("bench_ui_cpu: %s\n", why.toRawUTF8());
    return 1;
}
} // namespace

int main (int argc, char** argv)
{
    const double seconds = secondsWanted (argc, argv);
    if (platform::XvfbServer::programPath().empty())
    {
        std::printf ("Xvfb is not installed: the view's CPU figures are skipped\n");
        return 0;
    }
    bench::BenchDisplay display;
    std::string error;
    if (! display.start (error))
        return fail (juce::String (error));

    int result = 0;
    {
        test::DemoShowOptions options;
        options.bigPlaylistRows = 1000;
        options.firstTrackSeconds = seconds + 15.0;
        bench::BenchShow bench;
        juce::String why;
        if (! bench.start (options, why))
            return fail (why);
        auto& session = bench.session;
        const auto& show = bench.show;
        if (! test::openDemoPlaylist (*session, show.bigPlaylistId, why, 0))
            return fail (why);

        bench::MainViewWindow shown (*session);
        auto& window = shown.window;
        runLoopFor (2.0);   // shown, painted and settled
        if (! window.isShowing())
            return fail ("the window was not shown");

        const auto idle = runLoopFor (seconds);
        if (! test::playDemoTrack (*session, 0.5, why, 0))
            return fail (why);
        const auto playing = runLoopFor (seconds);
        if (! session->laneInfo (1).active)
            result = fail ("MAIN stopped before the end of the measure");

        std::printf ("CPU of the running main view, 1380x860 window on a private Xvfb, %d-row playlist open,\n"
                     "    engine paced at real time by the offline renderer (%.0f s each; --seconds=60 or\n"
                     "    VANTREL_BENCH_UI_SECONDS=60 for the full minute)\n",
                     options.bigPlaylistRows, seconds);
        printShare ("idle, nothing playing", idle, 5.0);
        printShare ("MAIN playing", playing, 10.0);
        if (const auto errors = platform::x11ErrorCount())
            std::printf ("    (%llu X errors were recorded)\n", (unsigned long long) errors);
    }
    display.atoms.reset();   // before the server goes
    display.server.stop();
    return result;
}
