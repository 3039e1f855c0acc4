// From the GO key to the first sound, on the real program: the shipped main program on a private X
// server (Xvfb) and a private JACK server (dummy backend, 48 kHz), over a saved show of a 40-row
// playlist whose rows are one 60 s tone with a loud first sample (written by sox -R). A JACK client
// of the bench's own hears the program; each trial stamps the moment just before the Return key
// goes to the X server with XTEST on the JACK frame clock (jack_frame_time), and the first sample
// above -60 dBFS on the same clock (the capture's cycle start, jack_last_frame_time, plus its index
// in the cycle). Between trials the key is released, the new MAIN stopped (F5, bound to MAIN STOP)
// after a pad (F6, bound to PAD 1) was fired over it, silence is waited for, and the READY lane is
// waited for until it shows its prepared waveform, so every GO starts a prepared row from silence.
// At periods of 64, 256 and 1024 frames, each on a fresh server and program: median, p95, p99 and
// max against the goal (p99 at most one period + 1 ms) with the goal's ratio, and the program's
// longest callback render during the trials, from its "audio-diagnostics.json" (read before and
// after them: it holds the longest since the start), against half a period.
// The press is stamped where the cycles that ran place it: the start frame of the capture's last
// cycle plus the time since that cycle's callback began, not jack_frame_time, whose estimate from
// the server's filtered cycle times drifts from the cycles for seconds after one cycle ran late
// (on a busy machine it put presses up to 17 cycles early, and GOs that the engine had started in
// the next cycle were counted as that many cycles late). The keys' codes are looked up before
// the trials, so no round trip to the X server lies between a stamp and its key.
// The JACK server runs with real-time scheduling (as on a studio machine; its clients' process
// threads, the program's included, then run so too) unless --no-realtime is given: without it a
// busy machine wakes the dummy server late and the figures measure the machine's load. Even with
// it, a loaded machine sometimes wakes a cycle late: the GOs during which a cycle began more than
// 1.5 periods after the one before are counted, and the figures are also printed without them.
// Every first sound lies at a cycle's start plus the master output's lookahead (192 frames, by
// design): the figures are also printed without it, with how many GOs the first cycle after the key
// started (the others waited for the key's way through the X server and the program's message
// thread). A trial is not counted when the GO was not heard, when the capture lost a cycle (its
// frames then no longer map onto the frame clock) or heard the GO before the key's stamp (a cycle
// that began late ran the press's frames already); each attempt takes a row, so at most 39 are made.
// Next to the render figure stands the machine's own: a fixed job of arithmetic on a thread with
// real-time scheduling, once per period for 5 s while the show idles, and how often it took longer
// than half a period. A virtual machine whose host takes its CPUs away now and then stalls even
// that job, and the program's renders with it.
// Usage: bench_key_to_sound [--trials=N] [--periods=64,256,1024] [--no-realtime]   (default 10 trials
//        per period, about 40 s in all; VANTREL_BENCH_KEY_TRIALS=35 gives the full run, about 80 s;
//        VANTREL_BENCH_VERBOSE=1 prints every trial's frames; --program=PATH runs another build's main
//        program; other arguments, such as the benchmark library's, are ignored)

#include "BenchArguments.h"
#include "BenchTiming.h"
#include "audio/dsp/MasterOutputProcessor.h"
#include "ProgramOnJack.h"
#include "platform/ThreadPriority.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace vantrel;
using namespace vantrel::program_test;
using test::JackCaptureClient;

constexpr int rate = 48000;
constexpr int showRows = 40;
constexpr float threshold = 0.001f;                 // -60 dBFS
constexpr std::uint32_t readyColour = 0xffff00ff;   // the READY lane's colour in this show
constexpr int soundWaitMs = 3000;                   // a GO not heard by then was refused: pressed again
constexpr std::size_t silentFrames = 4800;          // 100 ms below the threshold: the show is silent
/** The master output delays everything by its true-peak stage's lookahead, by design. */
constexpr int lookahead = orvane::audio::MasterOutputProcessor::latencySamples;
constexpr double machineProbeSeconds = 5.0;

bool fail (const juce::String& why)
{
    std::printf ("bench_key_to_sound: %s\n", why.toRawUTF8());
    return false;
}

/** The show's media: the tone (a sine whose first sample is its crest) and a short pad. */
bool writeMedia (const juce::File& folder, juce::File& tone, juce::File& pad)
{
    folder.createDirectory();
    tone = folder.getChildFile ("Tone.wav");
    pad = folder.getChildFile ("Pad.wav");
    const auto sox = [] (const juce::File& file, const char* seconds, const char* frequency) {
        juce::ChildProcess process;
        return process.start (juce::StringArray { "/usr/bin/sox", "-R", "-n", "-r", "48000", "-c", "2", "-b", "16",
                                                  file.getFullPathName(), "synth", seconds, "sine", frequency, "0", "25",
                                                  "gain", "-6" })
            && process.waitForProcessToFinish (capMs) && process.getExitCode() == 0 && file.existsAsFile();
    };
    return sox (tone, "60", "1000") && sox (pad, "0.2", "3000");
}

/** The program over a saved show, heard on a private JACK server of `period` frames. */
class KeyToSound : bench::ProgramOnJack
{
public:
    KeyToSound (int periodFrames, bool realtimeServer, const std::string& programPath)
        : ProgramOnJack ("bench-key-to-sound", programPath, 60 * rate), period (periodFrames), realtime (realtimeServer)
    {
    }

    /** Empty when the program runs over the show with the keyboard on its window, else why not. */
    std::string start()
    {
        jack.periodFrames = period;
        // Paced by the clock like hardware: in the server's synchronous mode a late client delays
        // the cycles, and the frame clock's estimate between cycles then runs ahead of them.
        jack.synchronous = false;
        jack.realtime = realtime;
        if (auto why = startProgram ([this] { return writeShow(); }, "vantrel-key-to-sound"); ! why.empty())
            return why;
        // Everything a key's way asks the server once is asked now, not between a stamp and its key.
        int event = 0, errorBase = 0, major = 0, minor = 0;
        if (! XTestQueryExtension (keyboard, &event, &errorBase, &major, &minor))
            return "the X server has no XTEST";
        keyReturn = XKeysymToKeycode (keyboard, XK_Return);
        keyF5 = XKeysymToKeycode (keyboard, XK_F5);
        keyF6 = XKeysymToKeycode (keyboard, XK_F6);
        XSync (keyboard, False);
        return {};
    }

    /** One GO from silence in frames of the JACK clock: from the key to the first sound, and from
        the key to the start of the first cycle after it. Sound -1 when the GO was not heard
        (refused: the key may have gone to the focus change). */
    struct Trial
    {
        std::int64_t sound = -1, nextCycle = 0;
        bool lost = false;           // the capture lost a cycle, or heard the GO before its stamp: not measured
        bool lateCycle = false;      // a cycle of the server began late between the key and the sound
    };

    Trial trial (juce::Random& random, std::string& error)
    {
        if (! waitFor ([&] { return readyPrepared(); }, capMs, 20))
            return (error = "the READY lane never showed a prepared row"), Trial {};
        capture.start();
        if (! capture.waitForFrames (silentFrames, capMs) || peakOf (0, capture.framesCaptured()) > threshold)
            return (error = "the show was not silent before GO"), Trial {};
        // Any moment of a period.
        std::this_thread::sleep_for (std::chrono::microseconds (random.nextInt (20000)));
        // The press on the frame clock, as the cycles that ran place it (not jack_frame_time, whose
        // estimate drifts from the cycles for seconds after one ran late).
        const auto pressed = capture.frameNow();
        const auto lateBefore = capture.lateCycles();
        tap (XK_Return);
        const auto first = capture.firstFrameTime();
        std::size_t from = 0;
        std::int64_t heard = -1;
        waitFor ([&] {
            const auto left = capture.channel (0);
            for (; from < left.size(); ++from)
                if (std::abs (left[from]) > threshold)
                    return (heard = (std::int64_t) from), true;
            return false;
        }, soundWaitMs, 1);
        const bool lateCycle = capture.lateCycles() > lateBefore, lost = capture.skipped() > 0;
        // A pad over the new MAIN, then MAIN STOP: the renders of the trial include both.
        if (heard >= 0)
            tap (XK_F6);
        tap (XK_F5);
        if (! waitFor ([&] {
                const auto frames = capture.framesCaptured();
                return frames > silentFrames && peakOf (frames - silentFrames, frames) <= threshold;
            }))
            return (error = "the show never fell silent after MAIN STOP"), Trial {};
        if (std::getenv ("VANTREL_BENCH_VERBOSE") != nullptr)
            std::printf ("        %.1f s trial: pressed %u, first %u, heard %lld, latency %lld frames\n",
                         msSince (created) / 1000.0, (unsigned) pressed, (unsigned) first, (long long) heard,
                         (long long) first + heard - pressed), std::fflush (stdout);
        if (heard < 0)
            return {};
        // Heard before the stamp: a cycle that began late ran the frames of the press already.
        if (lost || (std::int64_t) first + heard < (std::int64_t) pressed)
            return { -1, 0, true, lateCycle };
        // Cycles start at whole periods of the frame clock (first is one such start).
        const auto sincePressed = (std::int64_t) (jack_nframes_t) (pressed - first);
        return { (std::int64_t) first + heard - (std::int64_t) pressed, (period - sincePressed % period) % period, false,
                 lateCycle };
    }

    /** The longest render and budget overruns in the program's diagnostics, once written after
        `since` (the program rewrites them every 5 s). */
    bool diagnostics (juce::Time since, double& maxRenderMs, juce::int64& overruns)
    {
        const auto file = rig.local().getChildFile ("audio-diagnostics.json");
        juce::var document;
        if (! waitFor ([&] {
                if (! file.existsAsFile() || file.getLastModificationTime() <= since)
                    return false;
                document = juce::JSON::parse (file);
                return document.isObject();
            }, 15000, 50))
            return false;
        maxRenderMs = (double) document.getProperty ("maxRenderUs", -1000) / 1000.0;
        overruns = (juce::int64) document.getProperty ("callbackBudgetOverruns", -1);
        return true;
    }

private:
    std::string writeShow()
    {
        juce::File tone, pad;
        if (! writeMedia (rig.temp / "media", tone, pad))
            return "sox could not write the show's media";
        rig.music().createDirectory();
        rig.local().createDirectory();
        SessionCoordinatorOptions options;
        options.rackOptions = test::privateRackOptions();
        SessionCoordinator session (rig.music(), rig.local().getChildFile ("device.json"), false, options);
        auto playlist = test::playlistOf ("Show", std::vector<juce::File> ((size_t) showRows, tone));
        for (size_t i = 0; i < playlist.rows.size(); ++i)
            playlist.rows[i].title = "Row " + std::to_string (i + 1);
        if (! test::addAndOpen (session, playlist))
            return "the show could not be added";
        session.assignPad (1, 1, pad);
        if (! test::finishPadJobs (session))
            return "the pad was not copied";
        session.setZoom (0);
        auto prefs = session.currentPreferences();
        prefs.colours[2] = readyColour;
        for (auto& binding : prefs.keys)
            if (binding.action == "MAIN STOP")
                binding.key = vk::f1 + 4;
            else if (binding.action == "PAD 1")
                binding.key = vk::f1 + 5;
        if (! session.applyPreferences (prefs).ok)
            return "the preferences were not saved";
        session.persist();
        if (! session.waitForSaves() || ! session.lastSaveResult().ok)
            return "the show was not saved";
        if (! writeOutputDeviceSettings (rig.local().getChildFile ("device.json"), { "JACK", "system", "JACK:system", 0.0, 0, 0 }).ok)
            return "device.json was not written";
        return {};
    }

    void tap (KeySym symbol)
    {
        const auto key = symbol == XK_Return ? keyReturn : symbol == XK_F5 ? keyF5 : keyF6;
        XTestFakeKeyEvent (keyboard, key, True, CurrentTime);
        XFlush (keyboard);
        XTestFakeKeyEvent (keyboard, key, False, CurrentTime);
        XFlush (keyboard);
    }

    float peakOf (std::size_t begin, std::size_t end) const
    {
        float peak = 0.0f;
        for (int c = 0; c < 2; ++c)
        {
            const auto samples = capture.channel (c);
            for (auto i = begin; i < std::min (end, samples.size()); ++i)
                peak = std::max (peak, std::abs (samples[i]));
        }
        return peak;
    }

    /** The READY lane draws its waveform, in its own colour, only once its row is prepared; the
        view shows the READY row a few frames after a GO moved it, so a settled wide waveform in
        two captures 60 ms apart is taken as prepared. */
    bool readyPrepared()
    {
        const auto columns = [&] {
            const auto windows = rig.windowsTitled (mainWindowTitle);
            if (windows.size() != 1)
                return 0;
            const auto& w = windows.front();
            const auto pixels = rig.inspector->capture (w.x, w.y, w.width, w.height);
            int count = 0;
            for (int x = 0; x < w.width && ! pixels.empty(); ++x)
                for (int y = 0; y < w.height; ++y)
                {
                    const auto p = pixels[(size_t) y * (size_t) w.width + (size_t) x];
                    if (((p >> 16) & 0xff) > 190 && ((p >> 8) & 0xff) < 60 && (p & 0xff) > 190)
                    {
                        ++count;
                        break;
                    }
                }
            return count;
        };
        if (columns() < 100)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (60));
        return columns() >= 100;
    }

    const int period;
    const bool realtime;
    const Clock::time_point created = Clock::now();
    KeyCode keyReturn = 0, keyF5 = 0, keyF6 = 0;   // looked up before the trials: the first look-up asks the server
};

/** The machine's own share of the render goal: a thread with real-time scheduling, as the
    program's audio thread has, runs one fixed job of arithmetic (no memory, no system call, no
    lock) at every period for a few seconds; counted are the runs that took longer than half a
    period, as a render that long would. Where the machine takes its CPUs away now and then (a
    virtual machine's host), even this job overruns. */
struct MachineStalls
{
    bool realtime = false;
    int runs = 0, overHalfPeriod = 0;
    double jobMedianMs = 0.0, longestMs = 0.0;
};

MachineStalls probeMachineStalls (int period, double seconds)
{
    MachineStalls stalls;
    std::thread probe ([&] {
        stalls.realtime = platform::tryRealtimePriority();
        const auto periodTime = std::chrono::nanoseconds ((long long) (1.0e9 * period / rate));
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
        std::vector<double> jobs;
        jobs.reserve ((std::size_t) (seconds * rate / period) + 2);
        volatile std::uint64_t sink = 0;
        for (auto next = Clock::now(); next < end; next += periodTime)
        {
            std::this_thread::sleep_until (next);
            const auto begin = Clock::now();
            std::uint64_t value = 1;
            for (int i = 0; i < 100000; ++i)
                value = value * 6364136223846793005ULL + 1442695040888963407ULL;
            sink = value;
            jobs.push_back (msSince (begin));
        }
        (void) sink;
        stalls.runs = (int) jobs.size();
        stalls.overHalfPeriod = (int) std::count_if (jobs.begin(), jobs.end(), [&] (double ms) { return ms > 500.0 * period / rate; });
        stalls.jobMedianMs = bench::percentile (jobs, 0.5);
        stalls.longestMs = jobs.empty() ? 0.0 : *std::max_element (jobs.begin(), jobs.end());
    });
    probe.join();
    return stalls;
}

std::string programPath = VANTREL_PROGRAM;

bool benchPeriod (int period, int trials, bool realtime)
{
    KeyToSound show (period, realtime, programPath);
    if (const auto why = show.start(); ! why.empty())
        return fail ("period " + juce::String (period) + ": " + juce::String (why));
    // The longest render so far (start-up and the first loads): what the trials add is told apart.
    double startRenderMs = -1.0;
    juce::int64 startOverruns = 0;
    show.diagnostics (juce::Time::getCurrentTime(), startRenderMs, startOverruns);
    // The machine's own stalls, measured while the show idles, before the trials.
    const auto machine = probeMachineStalls (period, machineProbeSeconds);
    juce::Random random (period);
    std::vector<double> ms, cyclesMissed, onTimeServerMs;
    int refused = 0, offGrid = 0, lost = 0;
    // Every attempt takes a row: the playlist's rows bound the attempts.
    for (int attempt = 0; (int) ms.size() < trials && attempt < showRows - 1; ++attempt)
    {
        std::string error;
        const auto heard = show.trial (random, error);
        if (! error.empty())
            return fail ("period " + juce::String (period) + ": " + juce::String (error));
        if (heard.sound < 0)
        {
            ++(heard.lost ? lost : refused);
            continue;
        }
        ms.push_back (1000.0 * (double) heard.sound / rate);
        if (! heard.lateCycle)
            onTimeServerMs.push_back (ms.back());
        // What is left once the wait for the next cycle and the master output's lookahead are
        // taken off: the key's way through the X server and the program, in whole cycles missed.
        const auto beyond = heard.sound - heard.nextCycle - lookahead;
        cyclesMissed.push_back ((double) beyond / period);
        if (beyond % period != 0)
            ++offGrid;
    }
    if (ms.empty())
        return fail ("period " + juce::String (period) + ": no GO was measured (" + juce::String (refused) + " not heard, "
                     + juce::String (lost) + " in which the capture lost a cycle or heard the GO before the key's stamp)");
    const auto trialsEnd = juce::Time::getCurrentTime();
    const double periodMs = 1000.0 * period / rate, goalMs = periodMs + 1.0;
    const auto p99 = bench::percentile (ms, 0.99);
    std::printf ("    period %4d frames (%.2f ms), %d GOs: median %.2f, p95 %.2f, p99 %.2f, max %.2f ms (min %.2f)\n",
                 period, periodMs, (int) ms.size(), bench::percentile (ms, 0.5), bench::percentile (ms, 0.95), p99,
                 *std::max_element (ms.begin(), ms.end()), *std::min_element (ms.begin(), ms.end()));
    std::printf ("        goal p99 <= one period + 1 ms = %.2f ms: ratio %.2f (%s)%s\n", goalMs, p99 / goalMs,
                 p99 <= goalMs ? "met" : "not met",
                 refused + lost > 0
                     ? (" [not counted: " + std::to_string (refused) + " GOs not heard, " + std::to_string (lost)
                        + " in which the capture lost a JACK cycle or heard the GO before the key's stamp]").c_str()
                     : "");
    if (onTimeServerMs.size() < ms.size() && ! onTimeServerMs.empty())
        std::printf ("        %d GOs waited for a server cycle that began late (the machine's load); without them: median %.2f, "
                     "p99 %.2f ms, ratio %.2f\n", (int) (ms.size() - onTimeServerMs.size()), bench::percentile (onTimeServerMs, 0.5),
                     bench::percentile (onTimeServerMs, 0.99), bench::percentile (onTimeServerMs, 0.99) / goalMs);
    const auto lookaheadMs = 1000.0 * lookahead / rate;
    std::vector<double> net;
    for (const auto value : ms)
        net.push_back (value - lookaheadMs);
    const auto onTime = std::count (cyclesMissed.begin(), cyclesMissed.end(), 0.0);
    std::printf ("        of which the master output's fixed lookahead (%d frames) %.2f ms in every GO; without it: median %.2f, "
                 "p99 %.2f ms, ratio to the goal %.2f\n", lookahead, lookaheadMs, bench::percentile (net, 0.5),
                 bench::percentile (net, 0.99), bench::percentile (net, 0.99) / goalMs);
    std::printf ("        GOs started by the first cycle after the key: %d of %d (the others %.0f cycles later at most)%s\n",
                 (int) onTime, (int) ms.size(), *std::max_element (cyclesMissed.begin(), cyclesMissed.end()),
                 offGrid > 0 ? (", " + std::to_string (offGrid) + " first sounds off a cycle's start + lookahead").c_str() : "");
    double maxRenderMs = 0.0;
    juce::int64 overruns = 0;
    if (! show.diagnostics (trialsEnd, maxRenderMs, overruns))
        std::printf ("        the program's diagnostics were not written\n");
    else if (startRenderMs >= 0.0 && maxRenderMs <= startRenderMs)
        std::printf ("        the program's longest callback render: %.2f ms before the trials (start-up), no longer one during "
                     "them; %lld budget overruns during them: goal <= half a period = %.2f ms, ratio %s\n",
                     startRenderMs, (long long) (overruns - startOverruns), periodMs / 2.0,
                     startRenderMs <= periodMs / 2.0 ? "<= 1 (met)" : "unknown (the start-up's is longer than the goal)");
    else
        std::printf ("        the program's longest callback render during the trials %.2f ms, %lld budget overruns: goal <= half "
                     "a period = %.2f ms, ratio %.2f (%s)\n",
                     maxRenderMs, (long long) (overruns - std::max<juce::int64> (startOverruns, 0)), periodMs / 2.0,
                     maxRenderMs / (periodMs / 2.0), maxRenderMs <= periodMs / 2.0 ? "met" : "not met");
    if (machine.realtime)
        std::printf ("        the machine itself, before the trials: a fixed job of arithmetic (median %.3f ms) on a real-time "
                     "thread once per period for %.0f s took longer than half a period in %d of %d runs (longest %.2f ms)\n",
                     machine.jobMedianMs, machineProbeSeconds, machine.overHalfPeriod, machine.runs, machine.longestMs);
    else
        std::printf ("        the machine itself: not measured (this bench may not use real-time scheduling)\n");
    return true;
}

std::vector<int> periodsArgument (int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string (argv[i]).rfind ("--periods=", 0) == 0)
        {
            std::vector<int> periods;
            for (const auto& token : juce::StringArray::fromTokens (argv[i] + 10, ",", ""))
                if (token.getIntValue() > 0)
                    periods.push_back (token.getIntValue());
            return periods;
        }
    return { 64, 256, 1024 };
}
} // namespace

int main (int argc, char** argv)
{
    const char* fromEnvironment = std::getenv ("VANTREL_BENCH_KEY_TRIALS");
    const int trials = std::min (showRows - 4, bench::intArgument (argc, argv, "trials",
                                                                   fromEnvironment != nullptr ? std::max (1, std::atoi (fromEnvironment)) : 10));
    if (! ProgramRig::displayToolsPresent() || ! test::JackDummyServer::installed() || ! juce::File ("/usr/bin/sox").existsAsFile())
    {
        std::printf ("Xvfb, jackd or sox is not installed: the key-to-sound figures are skipped\n");
        return 0;
    }
    bool realtime = true;
    for (int i = 1; i < argc; ++i)
    {
        realtime = realtime && std::string (argv[i]) != "--no-realtime";
        if (std::string (argv[i]).rfind ("--program=", 0) == 0)
            programPath = argv[i] + 10;
    }
    const auto started = Clock::now();
    std::printf ("GO key (XTEST) to the first sample above -60 dBFS, the shipped program on private Xvfb and JACK "
                 "(dummy, 48 kHz, %s), %d-row playlist, %d GOs per period\n",
                 realtime ? "real-time scheduling" : "no real-time scheduling", showRows, trials);
    bool ok = true;
    for (const int period : periodsArgument (argc, argv))
        ok = benchPeriod (period, trials, realtime) && ok;
    std::printf ("(whole run %.1f s)\n", msSince (started) / 1000.0);
    return ok ? 0 : 1;
}
