// Converting an imported CD track to MP3: a 10-minute 44.1 kHz stereo WAV encoded by
// AudioCdImport::encodeMp3 at 44100 Hz / 192 kbps (decode, 16-bit conversion, LAME at quality 5)
// and by the lame command at its defaults (quality 3) for the same bit rate in the same run, in
// multiples of real time and processor seconds, each the best of two runs in the order ours, lame,
// lame, ours (the machine may be busy). VANTREL_BENCH_MP3_SECONDS sets the length (default 600 s).

#include "app/cd/AudioCdImport.h"

#include <benchmark/benchmark.h>
#include <juce_core/juce_core.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>

namespace
{
using Clock = std::chrono::steady_clock;

double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

struct Fixture
{
    juce::File folder;
    juce::File wav;
    double seconds = 600.0;
    double ours = 0.0, lame = 0.0;   // best wall seconds; 0 when it did not run
    double oursCpu = 0.0, lameCpu = 0.0;   // processor seconds of those runs, every thread
    juce::File oursMp3, lameMp3;
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

struct ToolTimes
{
    double wall = -1.0;   // -1 when the tool failed
    double cpu = 0.0;     // user + system seconds of the tool, as bash's times reports its children
};

/** Runs a tool to its end under bash, which reports the processor time the tool used. */
ToolTimes timeTool (const juce::StringArray& command)
{
    juce::StringArray wrapped { "bash", "-c", "\"$@\" > /dev/null 2>&1 || exit 1; times", "bash" };
    wrapped.addArray (command);
    const auto start = Clock::now();
    juce::ChildProcess process;
    if (! process.start (wrapped, juce::ChildProcess::wantStdOut))
        return {};
    const auto output = process.readAllProcessOutput();
    process.waitForProcessToFinish (-1);
    ToolTimes times;
    if (process.getExitCode() != 0)
        return times;
    times.wall = secondsSince (start);
    // The last line holds the children's user and system times, "1m2.345s 0m0.067s".
    for (const auto& field : juce::StringArray::fromTokens (juce::StringArray::fromLines (output.trim()).strings.getLast(), false))
        times.cpu += field.upToFirstOccurrenceOf ("m", false, false).getDoubleValue() * 60.0
                   + field.fromFirstOccurrenceOf ("m", false, false).getDoubleValue();
    return times;
}

/** Music-like test audio, the same on every run: pink noise with a gliding tone mixed in, its
    level swelling and falling, after half a second of silence. */
bool makeWav (Fixture& f)
{
    const auto exeFolder = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
    f.folder = exeFolder.getChildFile ("scratch").getChildFile ("cd_mp3-" + juce::Uuid().toString());
    if (! f.folder.createDirectory())
        return false;
    if (const char* text = std::getenv ("VANTREL_BENCH_MP3_SECONDS"); text != nullptr && std::atof (text) > 1.0)
        f.seconds = std::atof (text);
    f.wav = f.folder.getChildFile ("Track01.wav");
    const auto body = juce::String (f.seconds - 0.5);
    return timeTool ({ "sox", "-R", "-q", "-n", "-r", "44100", "-c", "2", "-b", "16", f.wav.getFullPathName(),
                       "synth", body, "pinknoise", "synth", body, "sine", "mix", "110-1760", "tremolo", "0.2", "60",
                       "vol", "0.4", "pad", "0.5" }).wall > 0.0;
}

void benchOurs (benchmark::State& state)
{
    auto& f = fixture();
    const auto mp3 = f.folder.getChildFile ("ours.mp3");
    for (auto _ : state)
    {
        const auto start = Clock::now();
        const auto cpuStart = std::clock();
        const auto result = vantrel::AudioCdImport::encodeMp3 (f.wav, mp3, 44100, 192, nullptr);
        const double elapsed = secondsSince (start);
        const double cpu = (double) (std::clock() - cpuStart) / CLOCKS_PER_SEC;
        if (! result.ok)
        {
            state.SkipWithError (result.message.toRawUTF8());
            return;
        }
        state.SetIterationTime (elapsed);
        state.counters["x_realtime"] = f.seconds / elapsed;
        if (f.ours == 0.0 || elapsed < f.ours)
        {
            f.ours = elapsed;
            f.oursCpu = cpu;
        }
        f.oursMp3 = mp3;
    }
}

void benchLame (benchmark::State& state)
{
    auto& f = fixture();
    const auto mp3 = f.folder.getChildFile ("lame.mp3");
    for (auto _ : state)
    {
        const auto times = timeTool ({ "lame", "--quiet", "-b", "192", "--cbr", f.wav.getFullPathName(),
                                       mp3.getFullPathName() });
        const double elapsed = times.wall;
        if (elapsed <= 0.0)
        {
            state.SkipWithError ("the lame command failed (is it installed?)");
            return;
        }
        state.SetIterationTime (elapsed);
        state.counters["x_realtime"] = f.seconds / elapsed;
        if (f.lame == 0.0 || elapsed < f.lame)
        {
            f.lame = elapsed;
            f.lameCpu = times.cpu;
        }
        f.lameMp3 = mp3;
    }
}

void printSummary()
{
    const auto& f = fixture();
    const auto realTime = [&f] (double elapsed) { return elapsed > 0.0 ? f.seconds / elapsed : 0.0; };
    std::printf ("\nMP3 192 kbps CBR of a %.0f s 44.1 kHz stereo WAV%s\n", f.seconds,
                 f.seconds < 600.0 ? " (shorter than 10 minutes: VANTREL_BENCH_MP3_SECONDS)" : "");
    std::printf ("%-36s %9s %11s %10s %9s\n", "encoder (best of 2)", "seconds", "x realtime", "bytes", "cpu s");
    std::printf ("%-36s %9.2f %11.1f %10lld %9.2f\n", "encodeMp3 (load + LAME -q 5)", f.ours, realTime (f.ours),
                 (long long) f.oursMp3.getSize(), f.oursCpu);
    std::printf ("%-36s %9.2f %11.1f %10lld %9.2f\n", "lame -b 192 --cbr (default -q 3)", f.lame, realTime (f.lame),
                 (long long) f.lameMp3.getSize(), f.lameCpu);
    const auto ratio = [] (double a, double b) { return a > 0.0 && b > 0.0 ? a / b : 0.0; };
    std::printf ("ours / lame speed: %.2f by wall time, %.2f by processor time (goal: at least 1)\n",
                 ratio (f.lame, f.ours), ratio (f.lameCpu, f.oursCpu));
    std::printf ("The lame command at its defaults also computes ReplayGain (--replaygain-fast); encodeMp3 does not.\n");
}
} // namespace

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    auto& f = fixture();
    if (! makeWav (f))
    {
        std::fprintf (stderr, "cannot make the test WAV with sox\n");
        f.folder.deleteRecursively();
        return 1;
    }
    for (const auto* name : { "cd_mp3/encodeMp3/1", "cd_mp3/lame_command/1", "cd_mp3/lame_command/2", "cd_mp3/encodeMp3/2" })
        benchmark::RegisterBenchmark (name, juce::String (name).contains ("lame") ? benchLame : benchOurs)
            ->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    f.folder.deleteRecursively();
    return 0;
}
