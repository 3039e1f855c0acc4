// CPU of the shipped program at rest and with two tracks playing, measured from outside as a
// process monitor (top, ps) measures it: the shipped main program on a private X server (Xvfb)
// and a private JACK server (dummy backend, 48 kHz, 256 frames), its output open and heard by a
// JACK client of the bench's own, over a saved show of a 40-row playlist (every row a long tone,
// written by sox -R), in its window of 1380 x 860 (checked). Nothing is touched at rest; then GO
// twice (Return through XTEST), so that OUTGOING and MAIN both sound; the time from the second GO's
// key to the screen that shows OUTGOING beside MAIN is printed beside the figures.
// The figure is the process's utime + stime (/proc/PID/stat, what a process monitor reads) over
// the measured span, after a settle, as a share of one core. Beside it: the same span summed over
// the threads' own run times (/proc/PID/task/*/schedstat, nanoseconds), and each thread's share
// and wakeups per second (voluntary context switches), summed by thread name (comm; the main
// thread is the message thread, a thread that kept the program's name is numbered by the order in
// which the threads were made, the same in every build, and a thread with real-time scheduling is
// marked so). Goal: at most 2.0 % of a core at rest by the process figure; playing costs no more
// than before (--compare=PROGRAM measures another build's program in the same run, first, and
// prints the ratio of the two).
// Usage: bench_idle_cpu [--settle=S] [--seconds=S] [--program=PATH] [--compare=PATH]
//        (default at rest a 15 s settle and 30 s measured, as a user would measure it, and playing
//        a 5 s settle and 10 s measured, about a minute per program; VANTREL_BENCH_IDLE_FULL=1
//        measures playing as long as at rest; other arguments, such as the benchmark library's,
//        are ignored)

#include "BenchArguments.h"
#include "ProgramOnJack.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace vantrel;
using namespace vantrel::program_test;
using test::JackCaptureClient;

constexpr int rate = 48000;
constexpr int period = 256;
constexpr int showRows = 40;
constexpr double goalRestPercent = 2.0;
constexpr int windowWidth = 1380, windowHeight = 860;     // the program's first window size
constexpr int screenWidth = 1600, screenHeight = 1000;    // the rig's screen
constexpr std::uint32_t outgoingColour = 0xff00ffffu;   // the OUTGOING lane's colour in this show
constexpr std::uint32_t readyColour = 0xffff00ffu;      // the READY lane's

bool fail (const std::string& why)
{
    std::printf ("bench_idle_cpu: %s\n", why.c_str());
    return false;
}

std::string readText (const std::string& path)
{
    std::ifstream in (path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/** Field `number` (from 1, as proc(5) counts them) of a /proc stat line; "" when absent. */
std::string statField (const std::string& stat, int number)
{
    const auto close = stat.rfind (')');
    if (close == std::string::npos)
        return {};
    std::istringstream fields (stat.substr (close + 2));
    std::string field;
    for (int index = 3; fields >> field; ++index)
        if (index == number)
            return field;
    return {};
}

/** utime + stime of a /proc stat line, in clock ticks. */
double statTicks (const std::string& stat)
{
    return std::atof (statField (stat, 14).c_str()) + std::atof (statField (stat, 15).c_str());
}

/** One live thread: its name, run time (schedstat, ms) and voluntary context switches. */
struct ThreadSample
{
    std::string name;
    double ms = 0.0;
    long long wakes = 0;
};

/** The program's CPU so far: the process's utime + stime in ms, and each live thread by id. */
struct CpuSample
{
    double processMs = 0.0;
    std::map<int, ThreadSample> threads;
    std::chrono::steady_clock::time_point at;
};

/** A count of /proc/.../status ("voluntary_ctxt_switches:"); 0 when absent. */
long long statusCount (const std::string& status, const std::string& key)
{
    const auto at = status.find ("\n" + key);
    return at == std::string::npos ? 0 : std::atoll (status.c_str() + at + key.size() + 1);
}

CpuSample sampleCpu (int pid)
{
    CpuSample sample;
    sample.at = std::chrono::steady_clock::now();
    const auto proc = "/proc/" + std::to_string (pid);
    sample.processMs = statTicks (readText (proc + "/stat")) * 1000.0 / (double) sysconf (_SC_CLK_TCK);
    for (const auto& entry : juce::RangedDirectoryIterator (juce::File (proc + "/task"), false, "*", juce::File::findDirectories))
    {
        const auto tid = entry.getFile().getFileName().getIntValue();
        const auto task = proc + "/task/" + std::to_string (tid);
        auto name = readText (task + "/comm");
        if (! name.empty() && name.back() == '\n')
            name.pop_back();
        // Real-time scheduling (SCHED_FIFO or SCHED_RR): the rack's control thread asks for it, and
        // the sound server's library gives it to the device's audio thread when the server has it.
        const auto policy = statField (readText (task + "/stat"), 41);
        if (policy == "1" || policy == "2")
            name += " (real-time)";
        const auto schedstat = readText (task + "/schedstat");
        if (! schedstat.empty())
            sample.threads[tid] = { name, std::atof (schedstat.c_str()) / 1.0e6,
                                    statusCount (readText (task + "/status"), "voluntary_ctxt_switches:") };
    }
    return sample;
}

/** The share of one core of the process and of each thread name between two samples. */
struct CpuShare
{
    double process = 0.0;       // utime + stime of the process: what a process monitor shows
    double threadSum = 0.0;     // the threads' own run times (schedstat), summed
    std::string from;           // the clock time the span began
    struct Thread
    {
        std::string name;
        double percent = 0.0, wakesPerSecond = 0.0;
        int count = 0;
    };
    std::vector<Thread> threads;   // by name, largest first
};

CpuShare shareBetween (int pid, const CpuSample& from, const CpuSample& to)
{
    CpuShare share;
    const double wallMs = std::chrono::duration<double, std::milli> (to.at - from.at).count();
    share.process = 100.0 * (to.processMs - from.processMs) / wallMs;
    std::map<std::string, CpuShare::Thread> byName;
    // The main thread is the message thread. A thread that kept the process's name is told by
    // its place in the order the threads were made (thread ids rise), the same in every build.
    const auto main = to.threads.find (pid);
    const auto processName = main != to.threads.end() ? main->second.name : std::string();
    int made = 0;
    for (const auto& [tid, thread] : to.threads)
    {
        const auto before = from.threads.find (tid);
        const bool keptName = thread.name.rfind (processName, 0) == 0 && tid != pid;
        const auto name = tid == pid ? "message thread" : keptName ? processName + " #" + std::to_string (made) + thread.name.substr (processName.size()) : thread.name;
        const bool seen = before != from.threads.end();
        auto& sum = byName[name];
        sum.name = name;
        sum.percent += 100.0 * (thread.ms - (seen ? before->second.ms : 0.0)) / wallMs;
        sum.wakesPerSecond += 1000.0 * (double) (thread.wakes - (seen ? before->second.wakes : 0)) / wallMs;
        ++sum.count;
        ++made;
    }
    for (const auto& [name, thread] : byName)
    {
        share.threads.push_back (thread);
        share.threadSum += thread.percent;
    }
    std::sort (share.threads.begin(), share.threads.end(), [] (const auto& a, const auto& b) { return a.percent > b.percent; });
    return share;
}

/** The shipped program over a saved show on private X and JACK servers, heard by the bench. */
class IdleShow : bench::ProgramOnJack
{
public:
    explicit IdleShow (const std::string& programPath) : ProgramOnJack ("bench-idle-cpu", programPath, 10 * rate) {}

    std::string start()
    {
        jack.periodFrames = period;
        jack.sampleRate = rate;
        jack.synchronous = false;
        // The pointer goes over the window now, before the rest figure, and is not moved again.
        if (auto why = startProgram ([this] { return writeShow(); }, "vantrel-idle-cpu"); ! why.empty())
            return why;
        XSync (keyboard, False);
        keyReturn = XKeysymToKeycode (keyboard, XK_Return);
        if (! waitFor ([&] { return laneColumns (readyColour) >= 100; }, capMs, 20))
            return "the READY lane never showed a prepared row";
        lanesAbove = readyTop;   // OUTGOING and MAIN lie above READY: the GO's reads take only that band
        // A user's window: the program's own first size, all of it on the screen.
        const auto windows = rig.windowsTitled (mainWindowTitle);
        if (windows.size() != 1)
            return "the main window is gone";
        const auto& w = windows.front();
        window = std::to_string (w.width) + " x " + std::to_string (w.height) + " at " + std::to_string (w.x) + ", "
               + std::to_string (w.y);
        if (w.width != windowWidth || w.height != windowHeight || w.x < 0 || w.y < 0 || w.x + w.width > screenWidth
            || w.y + w.height > screenHeight)
            return "the main window is " + window + ", not " + std::to_string (windowWidth) + " x "
                 + std::to_string (windowHeight) + " on the screen";
        return {};
    }

    std::string window;   // the main window's size and place, once started

    int pid() const  { return program->pid(); }

    /** GO twice: the first row plays as MAIN, then as OUTGOING beside the second as MAIN. */
    std::string playTwoTracks()
    {
        capture.start();
        tap();
        if (! waitFor ([&] { return capture.framesCaptured() > 0 && peakOfCapture() > 0.01f; }))
            return "the first GO was not heard";
        // The next READY row shows its prepared waveform before the second GO.
        if (! waitFor ([&] { return laneColumns (readyColour) >= 100; }, capMs, 20))
            return "the READY lane never showed the next prepared row";
        // The screen is read over and over from the key on: the first picture that shows the
        // hand-over dates it (each read of the window takes a few milliseconds of its own).
        const auto pressed = Clock::now();
        tap();
        if (! waitFor ([&] { return laneColumns (outgoingColour, lanesAbove) >= 100; }, capMs, 0))
            return "the OUTGOING lane never played beside MAIN";
        goToLanesMs = msSince (pressed);
        return {};
    }

    double goToLanesMs = 0.0;   // from the second GO's key to the screen that shows its lanes

    bool stillPlaying()
    {
        return laneColumns (outgoingColour) >= 100;
    }

    bool programRuns() const  { return program != nullptr && ! program->process.hasEnded(); }

private:
    std::string writeShow()
    {
        const auto tone = rig.temp.path().getChildFile ("media/Tone.wav");
        tone.getParentDirectory().createDirectory();
        juce::ChildProcess sox;
        if (! sox.start (juce::StringArray { "/usr/bin/sox", "-R", "-n", "-r", "48000", "-c", "2", "-b", "16",
                                             tone.getFullPathName(), "synth", "150", "sine", "440", "gain", "-12" })
            || ! sox.waitForProcessToFinish (capMs) || sox.getExitCode() != 0 || ! tone.existsAsFile())
            return "sox could not write the show's tone";
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
        session.setZoom (0);
        auto prefs = session.currentPreferences();
        prefs.colours[(size_t) WaveLane::outgoing] = outgoingColour;
        prefs.colours[(size_t) WaveLane::ready] = readyColour;
        if (! session.applyPreferences (prefs).ok)
            return "the preferences were not saved";
        session.persist();
        if (! session.waitForSaves() || ! session.lastSaveResult().ok)
            return "the show was not saved";
        if (! writeOutputDeviceSettings (rig.local().getChildFile ("device.json"), { "JACK", "system", "JACK:system", 0.0, 0, 0 }).ok)
            return "device.json was not written";
        return {};
    }

    void tap()
    {
        XTestFakeKeyEvent (keyboard, keyReturn, True, CurrentTime);
        XFlush (keyboard);
        XTestFakeKeyEvent (keyboard, keyReturn, False, CurrentTime);
        XFlush (keyboard);
    }

    float peakOfCapture() const
    {
        float peak = 0.0f;
        for (const auto sample : capture.channel (0))
            peak = std::max (peak, std::abs (sample));
        return peak;
    }

    /** How many pixel columns of the window show a lane colour (a lane draws its waveform in
        its own colour only while it has a prepared row, and OUTGOING only while it plays). */
    int laneColumns (std::uint32_t colour, int rows = 0)
    {
        const auto windows = rig.windowsTitled (mainWindowTitle);
        if (windows.size() != 1)
            return 0;
        auto w = windows.front();
        if (rows > 0)
            w.height = std::min (w.height, rows);
        const auto pixels = rig.inspector->capture (w.x, w.y, w.width, w.height);
        const auto near = [] (std::uint32_t a, std::uint32_t b, int shift) {
            return std::abs ((int) ((a >> shift) & 0xff) - (int) ((b >> shift) & 0xff)) < 60;
        };
        int count = 0;
        for (int x = 0; x < w.width && ! pixels.empty(); ++x)
            for (int y = 0; y < w.height; ++y)
            {
                const auto p = pixels[(size_t) y * (size_t) w.width + (size_t) x];
                if (near (p, colour, 16) && near (p, colour, 8) && near (p, colour, 0))
                {
                    ++count;
                    if (colour == readyColour)
                        readyTop = std::min (readyTop, y);
                    break;
                }
            }
        return count;
    }

    KeyCode keyReturn = 0;
    int readyTop = windowHeight, lanesAbove = 0;   // the READY lane's first row in the window
};

CpuShare measure (int pid, double settleSeconds, double seconds)
{
    std::this_thread::sleep_for (std::chrono::duration<double> (settleSeconds));
    const auto from = sampleCpu (pid);
    const auto startedAt = juce::Time::getCurrentTime().formatted ("%H:%M:%S");
    std::this_thread::sleep_for (std::chrono::duration<double> (seconds));
    auto share = shareBetween (pid, from, sampleCpu (pid));
    share.from = startedAt.toStdString();
    return share;
}

void print (const char* what, const CpuShare& share)
{
    std::printf ("        %s, from %s: process %.2f %% of a core (utime + stime, as a process monitor shows it); "
                 "the threads' run times (schedstat) sum to %.2f %%; by thread:\n", what, share.from.c_str(), share.process,
                 share.threadSum);
    for (const auto& thread : share.threads)
        std::printf ("            %-26s %6.2f %%  %6.1f wakeups/s%s\n", ("\"" + thread.name + "\"").c_str(), thread.percent,
                     thread.wakesPerSecond, thread.count > 1 ? (" (" + std::to_string (thread.count) + " threads)").c_str() : "");
}

struct Figures
{
    double rest = -1.0, playing = -1.0;
};

struct Spans
{
    double restSettle = 15.0, restSeconds = 30.0, playingSettle = 5.0, playingSeconds = 10.0;
};

bool benchProgram (const std::string& path, const Spans& spans, Figures& figures)
{
    std::printf ("    %s\n", path.c_str());
    std::fflush (stdout);
    IdleShow show (path);
    if (const auto why = show.start(); ! why.empty())
        return fail (why);
    std::printf ("        window %s; the pointer rests over it\n", show.window.c_str());
    std::fflush (stdout);   // an outside count of the same span can start from this line
    const auto rest = measure (show.pid(), spans.restSettle, spans.restSeconds);
    if (! show.programRuns())
        return fail ("the program ended during the rest figure");
    print ("at rest, output open, nothing playing", rest);
    std::printf ("        goal at rest <= %.1f %% of a core (process): ratio %.2f (%s)\n", goalRestPercent,
                 rest.process / goalRestPercent, rest.process <= goalRestPercent ? "met" : "not met");
    // Still at rest for a moment: an outside count of the same span, started from the window line
    // a little later than this one, ends at rest too, not in the GO below.
    std::this_thread::sleep_for (std::chrono::seconds (2));
    if (const auto why = show.playTwoTracks(); ! why.empty())
        return fail (why);
    const auto playing = measure (show.pid(), spans.playingSettle, spans.playingSeconds);
    if (! show.stillPlaying())
        return fail ("OUTGOING no longer played at the end of the playing figure");
    print ("two tracks playing (OUTGOING and MAIN)", playing);
    std::printf ("        the second GO's lanes (OUTGOING beside MAIN) on the screen %.1f ms after its key\n", show.goToLanesMs);
    std::fflush (stdout);
    figures = { rest.process, playing.process };
    return true;
}

std::string stringArgument (int argc, char** argv, const std::string& name, const std::string& fallback)
{
    const auto prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i)
        if (std::string (argv[i]).rfind (prefix, 0) == 0)
            return argv[i] + prefix.size();
    return fallback;
}
} // namespace

int main (int argc, char** argv)
{
    if (! ProgramRig::displayToolsPresent() || ! test::JackDummyServer::installed() || ! juce::File ("/usr/bin/sox").existsAsFile())
    {
        std::printf ("Xvfb, jackd or sox is not installed: the idle CPU figures are skipped\n");
        return 0;
    }
    const bool full = std::getenv ("VANTREL_BENCH_IDLE_FULL") != nullptr;
    Spans spans;
    spans.restSettle = bench::intArgument (argc, argv, "settle", 15);
    spans.restSeconds = bench::intArgument (argc, argv, "seconds", 30);
    spans.playingSettle = std::min (spans.restSettle, full ? spans.restSettle : 5.0);
    spans.playingSeconds = std::min (spans.restSeconds, full ? spans.restSeconds : 10.0);
    const auto program = stringArgument (argc, argv, "program", VANTREL_PROGRAM);
    const auto compare = stringArgument (argc, argv, "compare", "");
    std::printf ("CPU of the shipped program, private Xvfb and JACK (dummy, %d Hz, %d frames), %d-row show, output open: "
                 "at rest %.0f s settle and %.0f s measured, playing %.0f s and %.0f s; machine load %s",
                 rate, period, showRows, spans.restSettle, spans.restSeconds, spans.playingSettle, spans.playingSeconds,
                 readText ("/proc/loadavg").c_str());
    bool ok = true;
    Figures before, after;
    if (! compare.empty())
        ok = benchProgram (compare, spans, before);
    ok = benchProgram (program, spans, after) && ok;
    if (ok && ! compare.empty())
        std::printf ("    this program against the compared one: at rest %.2f %% / %.2f %% (ratio %.2f), playing %.2f %% / %.2f %% "
                     "(ratio %.2f; goal: no more than before, %s)\n",
                     after.rest, before.rest, after.rest / before.rest, after.playing, before.playing,
                     after.playing / before.playing, after.playing <= before.playing ? "met" : "not met");
    return ok ? 0 : 1;
}
