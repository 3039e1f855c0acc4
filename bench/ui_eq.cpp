// CPU of the EQ window while its track plays: the real window with the track EQ panel of the MAIN
// row on a private X server (Xvfb), the message loop running the panel's 30 Hz timer and the
// window's repaints, the panel's analyser worker running both analysers (4096 and 16384 points)
// on the row's signal. The engine is paced at real time by the offline renderer's thread, as a
// device would call it back; its CPU is not counted.
// Figures: thread CPU time of the analyser worker and of the message thread (timer and paints),
// each as a share of one core over the wall time, and their sum against the goal of 5 %.
// Usage: bench_ui_eq [--seconds=N]   (default 10; other arguments are ignored)

#include "BenchArguments.h"
#include "BenchDisplay.h"
#include "BenchShow.h"
#include "platform/X11Window.h"
#include "session/UiLanguage.h"
#include "support/EnvironmentVariable.h"
#include "support/X11Inspector.h"
#include "support/XvfbServer.h"
#include "tests/ui/DemoShow.h"
#include "ui/Fonts.h"
#include "ui/Theme.h"
#include "ui/TrackEqPanel.h"
#include "ui/ViewWindows.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace juce
{
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);   // JUCE's Linux message loop
}

namespace
{
using namespace vantrel;
using Clock = std::chrono::steady_clock;

double cpuMs (clockid_t clock)
{
    timespec t {};
    clock_gettime (clock, &t);
    return (double) t.tv_sec * 1000.0 + (double) t.tv_nsec / 1.0e6;
}

/** The CPU clock of a JUCE thread (its id is the pthread handle on Linux). */
clockid_t threadClock (juce::Thread::ThreadID id)
{
    clockid_t clock {};
    return pthread_getcpuclockid ((pthread_t) id, &clock) == 0 ? clock : CLOCK_THREAD_CPUTIME_ID;
}

int fail (const juce::String& why)
{
    std::printf ("bench_ui_eq: %s\n", why.toRawUTF8());
    return 1;
}

void runLoopFor (double seconds)
{
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
    while (Clock::now() < end)
        juce::dispatchNextMessageOnSystemQueue (false);   // the panel's 30 Hz timer wakes it at the latest
}
} // namespace

int main (int argc, char** argv)
{
    const double seconds = vantrel::bench::intArgument (argc, argv, "seconds", 10);
    if (platform::XvfbServer::programPath().empty())
    {
        std::printf ("Xvfb is not installed: the EQ window's CPU figures are skipped\n");
        return 0;
    }
    bench::BenchDisplay display;
    std::string error;
    if (! display.start (error))
        return fail (juce::String (error));

    int result = 0;
    {
        test::DemoShowOptions options;
        options.firstTrackSeconds = seconds + 15.0;
        bench::BenchShow bench;
        juce::String why;
        if (! bench.start (options, why))
            return fail (why);
        auto& session = bench.session;
        const auto& show = bench.show;
        if (! test::openDemoPlaylist (*session, show.mainPlaylistId, why, 0) || ! test::playDemoTrack (*session, 0.5, why, 0))
            return fail (why);
        const auto rowId = *session->cueState().main;

        Theme theme;
        juce::Component anchor;
        anchor.setBounds (0, 0, 1380, 860);
        ViewWindow window ("Vantrel! - " + session->eqTitle (rowId), theme);
        showInFittedPanel (window, std::make_unique<TrackEqPanel> (*session, rowId), anchor);
        auto& panel = *dynamic_cast<TrackEqPanel*> (window.panel());
        const auto started = Clock::now();
        while (! panel.spectrumSnapshot().fineReady && Clock::now() - started < std::chrono::seconds (30))
            juce::dispatchNextMessageOnSystemQueue (false);
        if (! panel.spectrumSnapshot().fineReady)
            return fail ("the 16384-point spectrum of the playing row was never shown");
        runLoopFor (1.0);   // settled

        const auto analyser = threadClock (panel.analyserThreadId());
        const auto wall0 = Clock::now();
        const auto analyser0 = cpuMs (analyser), message0 = cpuMs (CLOCK_THREAD_CPUTIME_ID);
        runLoopFor (seconds);
        const auto wallMs = std::chrono::duration<double, std::milli> (Clock::now() - wall0).count();
        const auto analyserShare = 100.0 * (cpuMs (analyser) - analyser0) / wallMs;
        const auto messageShare = 100.0 * (cpuMs (CLOCK_THREAD_CPUTIME_ID) - message0) / wallMs;
        if (! session->laneInfo (1).active || panel.spectrumSnapshot().token == 0)
            result = fail ("MAIN stopped before the end of the measure");

        const auto total = analyserShare + messageShare;
        std::printf ("CPU of the EQ window of a playing row, %dx%d panel on a private Xvfb, analysers at 4096\n"
                     "    and 16384 points, engine paced at real time by the offline renderer, over %.1f s\n",
                     panel.getWidth(), panel.getHeight(), wallMs / 1000.0);
        std::printf ("    analyser thread %.2f %% of one core, message thread (timer and paints) %.2f %%\n",
                     analyserShare, messageShare);
        std::printf ("    together %.2f %%; goal under 5 %%: %s\n", total, total < 5.0 ? "met" : "not met");
    }
    display.atoms.reset();   // before the server goes
    display.server.stop();
    return result;
}
