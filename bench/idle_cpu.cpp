// CPU of the shipped program at rest and with two tracks playing, measured from outside: the
// shipped main program on a private X server (Xvfb) and a private JACK server (dummy backend,
// 48 kHz, 256 frames), its output open and heard by a JACK client of the bench's own, over a saved
// show of a 40-row playlist (every row a long tone, written by sox -R). Nothing is touched at rest;
// then GO twice (Return through XTEST), so that OUTGOING and MAIN both sound.
// CPU is the program's utime + stime (/proc/PID/stat) over the measured span, after a settle, as a
// share of one core; each thread's share comes from /proc/PID/task/*/schedstat (nanoseconds),
// summed by thread name (comm; the main thread is the message thread, and a thread that kept the
// program's name is numbered by the order in which the threads were made, the same in every
// build, and a thread with real-time scheduling is marked so). Goal: at most 2.0 % of a core at rest; playing costs no more than
// before (the figure is printed; --compare=PROGRAM measures another build's program in the same
// run, first, and prints the ratio of the two).
// Usage: bench_idle_cpu [--settle=S] [--seconds=S] [--program=PATH] [--compare=PATH]
//        (default a 5 s settle and 10 s measured, at rest and playing, about 45 s in all;
//        VANTREL_BENCH_IDLE_FULL=1 gives the full 15 s settle and 30 s measured, about 2 min;
//        other arguments, such as the benchmark library's, are ignored)

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

/** The program's CPU so far: the process's utime + stime in ms, and each live thread's run time
    (schedstat) in ms by thread id, with its name. */
struct CpuSample
{
    double processMs = 0.0;
    std::map<int, std::pair<std::string, double>> threads;
    std::chrono::steady_clock::time_point at;
};

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
            sample.threads[tid] = { name, std::atof (schedstat.c_str()) / 1.0e6 };
    }
    return sample;
}

/** The share of one core of the process and of each thread name between two samples. */
struct CpuShare
{
    double process = 0.0;
    std::vector<std::pair<std::string, double>> threads;   // by name, largest first
    std::map<std::string, int> threadCounts;
};

CpuShare shareBetween (int pid, const CpuSample& from, const CpuSample& to)
{
    CpuShare share;
    const double wallMs = std::chrono::duration<double, std::milli> (to.at - from.at).count();
    share.process = 100.0 * (to.processMs - from.processMs) / wallMs;
    std::map<std::string, double> byName;
    // The main thread is the message thread. A thread that kept the process's name is told by
    // its place in the order the threads were made (thread ids rise), the same in every build.
    const auto main = to.threads.find (pid);
    const auto processName = main != to.threads.end() ? main->second.first : std::string();
    int made = 0;
    for (const auto& [tid, thread] : to.threads)
    {
        const auto before = from.threads.find (tid);
        const bool keptName = thread.first.rfind (processName, 0) == 0 && tid != pid;
        const auto name = tid == pid ? "message thread" : keptName ? processName + " #" + std::to_string (made) + thread.first.substr (processName.size()) : thread.first;
        byName[name] += thread.second - (before != from.threads.end() ? before->second.second : 0.0);
        ++share.threadCounts[name];
        ++made;
    }
    for (const auto& [name, ms] : byName)
        share.threads.emplace_back (name, 100.0 * ms / wallMs);
    std::sort (share.threads.begin(), share.threads.end(), [] (const auto& a, const auto& b) { return a.second > b.second; });
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
        return {};
    }

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
        tap();
        if (! waitFor ([&] { return laneColumns (outgoingColour) >= 100; }, capMs, 20))
            return "the OUTGOING lane never played beside MAIN";
        return {};
    }

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
    int laneColumns (std::uint32_t colour)
    {
        const auto windows = rig.windowsTitled (mainWindowTitle);
        if (windows.size() != 1)
            return 0;
        const auto& w = windows.front();
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
                    break;
                }
            }
        return count;
    }

    KeyCode keyReturn = 0;
};

CpuShare measure (int pid, double settleSeconds, double seconds)
{
    std::this_thread::sleep_for (std::chrono::duration<double> (settleSeconds));
    const auto from = sampleCpu (pid);
    std::this_thread::sleep_for (std::chrono::duration<double> (seconds));
    return shareBetween (pid, from, sampleCpu (pid));
}

void print (const char* what, const CpuShare& share)
{
    std::printf ("        %s: process %.2f %% of a core (utime + stime); by thread (schedstat):\n", what, share.process);
    for (const auto& [name, percent] : share.threads)
    {
        const auto count = share.threadCounts.at (name);
        std::printf ("            %-18s %6.2f %%%s\n", ("\"" + name + "\"").c_str(), percent,
                     count > 1 ? (" (" + std::to_string (count) + " threads)").c_str() : "");
    }
}

struct Figures
{
    double rest = -1.0, playing = -1.0;
};

bool benchProgram (const std::string& path, double settle, double seconds, Figures& figures)
{
    std::printf ("    %s\n", path.c_str());
    std::fflush (stdout);
    IdleShow show (path);
    if (const auto why = show.start(); ! why.empty())
        return fail (why);
    const auto rest = measure (show.pid(), settle, seconds);
    if (! show.programRuns())
        return fail ("the program ended during the rest figure");
    print ("at rest, output open, nothing playing", rest);
    std::printf ("        goal at rest <= %.1f %%: ratio %.2f (%s)\n", goalRestPercent, rest.process / goalRestPercent,
                 rest.process <= goalRestPercent ? "met" : "not met");
    if (const auto why = show.playTwoTracks(); ! why.empty())
        return fail (why);
    const auto playing = measure (show.pid(), std::min (settle, 5.0), seconds);
    if (! show.stillPlaying())
        return fail ("OUTGOING no longer played at the end of the playing figure");
    print ("two tracks playing (OUTGOING and MAIN)", playing);
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
    const double settle = bench::intArgument (argc, argv, "settle", full ? 15 : 5);
    const double seconds = bench::intArgument (argc, argv, "seconds", full ? 30 : 10);
    const auto program = stringArgument (argc, argv, "program", VANTREL_PROGRAM);
    const auto compare = stringArgument (argc, argv, "compare", "");
    std::printf ("CPU of the shipped program, private Xvfb and JACK (dummy, %d Hz, %d frames), %d-row show, output open: "
                 "%.0f s settle, %.0f s measured; machine load %s",
                 rate, period, showRows, settle, seconds, readText ("/proc/loadavg").c_str());
    bool ok = true;
    Figures before, after;
    if (! compare.empty())
        ok = benchProgram (compare, settle, seconds, before);
    ok = benchProgram (program, settle, seconds, after) && ok;
    if (ok && ! compare.empty())
        std::printf ("    this program against the compared one: at rest %.2f %% / %.2f %% (ratio %.2f), playing %.2f %% / %.2f %% "
                     "(ratio %.2f; goal: no more than before, %s)\n",
                     after.rest, before.rest, after.rest / before.rest, after.playing, before.playing,
                     after.playing / before.playing, after.playing <= before.playing ? "met" : "not met");
    return ok ? 0 : 1;
}
