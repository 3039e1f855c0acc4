// What a test pays to listen: a capture that grows by a JACK period (512 frames at 48 kHz) between
// two looks, and at every look the wait of the show-from-keys tests (which of 30 sines sounds in
// each quarter-window step since the wait began, 20 ms windows) for something that never comes.
// Two ways of looking: HeardTones (the tests' support), which takes in each frame and works out
// each window once, and the plain way, which copies the whole capture and works out every window
// since the wait began again at every look. For a capture twice as long, HeardTones should take
// about twice the time, the plain way about four times.

#include "tests/app/SessionTestSupport.h"
#include "support/HeardTones.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{
constexpr double rate = 48000.0;
constexpr std::size_t window = 960, step = window / 4, period = 512;

/** The tests' position track: second s is a sine of 500 + 100 s Hz. */
std::vector<float> positionTrack (double seconds)
{
    std::vector<float> out ((std::size_t) (seconds * rate));
    for (std::size_t i = 0; i < out.size(); ++i)
    {
        const double frequency = 500.0 + 100.0 * (double) (i / (std::size_t) rate % 30);
        out[i] = 0.25f * (float) std::sin (2.0 * 3.141592653589793 * frequency * (double) i / rate);
    }
    return out;
}

/** The loudest of the 30 sines in each window: the work of one window. */
template <typename Level>
int loudestOf (Level&& level)
{
    int best = -1;
    double loudest = 0.1;
    for (int s = 0; s < 30; ++s)
        if (const auto a = level (500.0 + 100.0 * s); a > loudest)
            best = s, loudest = a;
    return best;
}

/** Seconds of CPU to listen to `track` with HeardTones: each frame taken in once, each window once. */
double withHeardTones (const std::vector<float>& track, long& checksum)
{
    const auto start = std::chrono::steady_clock::now();
    vantrel::test::HeardTones tones (window, step, rate);
    std::size_t frame = 0;
    for (std::size_t captured = period; captured <= track.size(); captured += period)
    {
        tones.append (track.data() + tones.frames(), captured - tones.frames());
        for (; frame + window <= tones.frames(); frame += step)
            checksum += loudestOf ([&] (double f) { return tones.level (f, frame); });
    }
    return std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
}

/** The same wait the plain way: at every look a copy of the capture, and every window since the
    wait began worked out again. */
double everyLookAgain (const std::vector<float>& track, long& checksum)
{
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t captured = period; captured <= track.size(); captured += period)
    {
        const std::vector<float> heard (track.begin(), track.begin() + (std::ptrdiff_t) captured);
        for (std::size_t frame = 0; frame + window <= heard.size(); frame += step)
            checksum += loudestOf ([&] (double f) { return vantrel::test::toneAmplitude (heard, frame, frame + window, f, rate); });
    }
    return std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
}

void printGrowth()
{
    long checksum = 0;
    std::printf ("Listening to a growing capture, a look every %zu frames (30 sines, %zu-frame windows every %zu frames)\n",
                 period, window, step);
    // The least of `runs` runs: what another process on the machine adds is left out.
    const auto row = [&] (const char* name, auto&& listen, double seconds, int runs) {
        const auto least = [&] (double length) {
            const auto track = positionTrack (length);
            double best = 1.0e9;
            for (int run = 0; run < runs; ++run)
                best = std::min (best, listen (track, checksum));
            return best;
        };
        const auto once = least (seconds), twice = least (2.0 * seconds);
        std::printf ("%-32s %5.1f s of capture: %8.1f ms   %5.1f s: %8.1f ms   ratio %.2f\n", name, seconds, once * 1000.0,
                     2.0 * seconds, twice * 1000.0, twice / once);
    };
    row ("HeardTones (each window once)", withHeardTones, 10.0, 5);
    row ("HeardTones (each window once)", withHeardTones, 0.5, 5);
    row ("plain (every look again)", everyLookAgain, 0.5, 1);
    benchmark::DoNotOptimize (checksum);
}

void heardTonesPerSecond (benchmark::State& state)
{
    const auto track = positionTrack (1.0);
    long checksum = 0;
    for (auto _ : state)
        withHeardTones (track, checksum);
    benchmark::DoNotOptimize (checksum);
}
BENCHMARK (heardTonesPerSecond)->Unit (benchmark::kMillisecond);
} // namespace

int main (int argc, char** argv)
{
    printGrowth();
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
