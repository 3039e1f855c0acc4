// From a key press to the GO the session coordinator accepts: the main window over an offline
// session with a two-row playlist on a private X server; each press is a Return key event made with
// XTEST (as a keyboard makes it, through the server) and timed from just before it is sent until
// the coordinator has counted the GO, with the message loop running as in the program (the view's
// 30 Hz timer included). Between presses the key is released and the track stopped, and a marker
// key (F5, bound to ZOOM IN) is pressed and waited for, so that every press is a first press.
// Figures: milliseconds from the X event to the accepted GO (median, p99, max), and for comparison
// the same GO called directly. Goal: p99 < 5 ms.
// Usage: bench_ui_keys [--presses=N]   (other arguments, such as the benchmark library's, are ignored)

#include "BenchArguments.h"
#include "support/MessagePump.h"
#include "support/PrivateDisplay.h"
#include "support/TestFiles.h"
#include "tests/app/SessionTestSupport.h"
#include "ui/Fonts.h"
#include "ui/MainWindow.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace
{
using namespace vantrel;
using Clock = std::chrono::steady_clock;
constexpr int patienceMs = 60000;

double percentile (std::vector<double> values, double p)
{
    std::sort (values.begin(), values.end());
    return values.empty() ? 0.0 : values[std::min (values.size() - 1, (size_t) (p * (double) (values.size() - 1) + 0.5))];
}

int fail (const char* what)
{
    std::fprintf (stderr, "bench_ui_keys: %s\n", what);
    return 1;
}

int run (int presses)
{
    test::PrivateDisplay display;
    if (! display.start (300, 399, 1600, 1000, true))
        return fail (display.problem.c_str());
    auto* keyboard = XOpenDisplay (display.server.displayName().c_str());
    if (keyboard == nullptr)
        return fail ("cannot open a second connection to the X server");

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI gui;
        installUiFonts();
        test::SessionRig rig;
        MainWindowSetup setup;
        setup.profileRoot = rig.profile.path();
        setup.audioEnabled = false;
        setup.options = rig.options;
        auto window = std::make_unique<MainWindow> (setup);
        auto& session = window->coordinator;

        const auto playlist = test::playlistOf ("Bench", { test::writeTone (rig.media(), "a.wav", 2.0, 0.2f),
                                                           test::writeTone (rig.media(), "b.wav", 2.0, 0.2f, 550.0) });
        auto prefs = session.currentPreferences();
        for (auto& binding : prefs.keys)
            if (binding.action == "ZOOM IN")
                binding.key = vk::f1 + 4;   // F5
        if (! test::addAndOpen (session, playlist) || ! session.applyPreferences (prefs).ok)
            return fail ("the playlist or the key table was refused");
        for (const auto& row : playlist.rows)
            if (! test::tickUntilPrepared (session, row.id))
                return fail ("the media were not prepared");

        const auto pump = [] (const std::function<bool()>& condition) { return platform::pumpMessagesUntil (condition, patienceMs); };
        if (! pump ([&] { return window->isShowing() && window->getPeer() != nullptr; }))
            return fail ("the window was never shown");
        const auto handle = (Window) (juce::pointer_sized_int) window->getWindowHandle();
        XWarpPointer (keyboard, None, handle, 0, 0, 0, 0, 400, 400);
        XSetInputFocus (keyboard, handle, RevertToParent, CurrentTime);
        XSync (keyboard, False);
        if (! pump ([&] { return window->isActiveWindow(); }))
            return fail ("the window never took the keyboard");

        const auto returnKey = XKeysymToKeycode (keyboard, XK_Return), f5 = XKeysymToKeycode (keyboard, XK_F5);
        const auto tap = [&] (unsigned int key, bool down) {
            XTestFakeKeyEvent (keyboard, key, down ? True : False, CurrentTime);
            XFlush (keyboard);
        };
        // The first keys after the focus moved may go to the focus change itself: the marker key
        // is pressed until it is seen once.
        bool settled = false;
        for (int attempt = 0; attempt < 20 && ! settled; ++attempt)
        {
            session.setZoom (10);
            tap (f5, true);
            tap (f5, false);
            settled = platform::pumpMessagesUntil ([&] { return session.catalogState().ui.zoom == 9; }, 2000);
        }
        if (! settled)
            return fail ("the window never took a key");
        std::vector<double> latencies;
        juce::Random random (19);
        // For comparison: the coordinator's GO called directly, at the same moments.
        std::vector<double> direct;
        {
            for (int i = 0; i < presses; ++i)
            {
                session.stop (true);
                session.stop (false);
                session.mutableAudioAdapter().renderOfflineFrames (480);
                session.selectReady (playlist.rows[0].id);
                const auto settle = Clock::now() + std::chrono::milliseconds (60 + random.nextInt (40));
                pump ([&] { return Clock::now() >= settle; });
                const auto t0 = Clock::now();
                session.go();
                direct.push_back (std::chrono::duration<double, std::milli> (Clock::now() - t0).count());
            }
        }
        for (int i = 0; i < presses + 20 && result == 0; ++i)
        {
            session.stop (true);
            session.stop (false);
            session.mutableAudioAdapter().renderOfflineFrames (480);   // the engine takes the commands sent so far
            session.selectReady (playlist.rows[0].id);
            // The press comes at any moment of the view's 30 Hz cycle, once what the last one
            // changed has been painted.
            const auto settle = Clock::now() + std::chrono::milliseconds (60 + random.nextInt (40));
            pump ([&] { return Clock::now() >= settle; });
            const auto before = session.cueState().goCounter;
            const auto sent = Clock::now();
            tap (returnKey, true);
            if (! pump ([&] { return session.cueState().goCounter != before; }))
                result = fail (("a GO never arrived: " + session.statusText()).toRawUTF8());
            const auto accepted = Clock::now();
            if (i >= 20)   // the first presses warm the caches and the window up
                latencies.push_back (std::chrono::duration<double, std::milli> (accepted - sent).count());
            tap (returnKey, false);
            session.setZoom (10);
            tap (f5, true);
            tap (f5, false);
            if (! pump ([&] { return session.catalogState().ui.zoom == 9; }))
                result = fail ("the marker key never arrived");
        }
        window.reset();
        if (result == 0)
        {
            std::printf ("key press to accepted GO (%d presses through the X server): median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                         (int) latencies.size(), percentile (latencies, 0.5), percentile (latencies, 0.99),
                         percentile (latencies, 1.0));
            std::printf ("the same GO called directly, without the key: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                         percentile (direct, 0.5), percentile (direct, 0.99), percentile (direct, 1.0));
            std::printf ("goal: p99 under 5 ms: %s\n", percentile (latencies, 0.99) < 5.0 ? "met" : "NOT met");
        }
    }
    XCloseDisplay (keyboard);
    return result;
}
} // namespace

int main (int argc, char** argv)
{
    return run (vantrel::bench::intArgument (argc, argv, "presses", 300));
}
