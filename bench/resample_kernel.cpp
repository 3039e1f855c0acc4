// The resampler's inner loop alone: resampleRange over a long 44.1 kHz source (deterministic
// noise) to 48 kHz on one thread, for each path the processor offers, stereo and mono, in
// milliseconds per call. VANTREL_BENCH_MEDIA_SECONDS sets the source length (default 600 s).

#include "audio/media/ResampleKernel.h"
#include "audio/media/Resampler.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace
{
using namespace vantrel;

double sourceSeconds()
{
    const char* text = std::getenv ("VANTREL_BENCH_MEDIA_SECONDS");
    const double value = text != nullptr ? std::atof (text) : 0.0;
    return value > 0.0 ? value : 600.0;
}

void benchRange (benchmark::State& state, ResamplePath path, int channels)
{
    constexpr double sourceRate = 44100.0;
    constexpr double targetRate = 48000.0;
    const auto frames = (std::size_t) (sourceSeconds() * sourceRate);
    std::vector<float> source (frames * (std::size_t) channels);
    std::mt19937 generator (7);
    std::uniform_real_distribution<float> value (-0.5f, 0.5f);
    for (auto& s : source)
        s = value (generator);

    const auto table = buildResampleTable (0.94);
    const auto outputFrames = (std::size_t) std::round ((double) frames * targetRate / sourceRate);
    std::vector<float> left (outputFrames), right (outputFrames);

    ResampleJob job;
    job.source = source.data();
    job.sourceFrames = frames;
    job.channels = channels;
    job.step = sourceRate / targetRate;
    job.table = table.data();
    job.left = left.data();
    job.right = right.data();
    job.path = path;

    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        resampleRange (job, 0, outputFrames);
        state.SetIterationTime (std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize (left.data());
        benchmark::DoNotOptimize (right.data());
    }
    state.counters["s_per_frame"] = benchmark::Counter ((double) outputFrames * (double) state.iterations(),
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel (resamplePathName (resamplePathInUse (path)));
}
} // namespace

int main (int argc, char** argv)
{
    const std::pair<const char*, ResamplePath> paths[] = { { "portable", ResamplePath::portable },
                                                           { "avx2", ResamplePath::avx2 },
                                                           { "avx512", ResamplePath::avx512 } };
    for (const auto& [name, path] : paths)
        for (const int channels : { 2, 1 })
        {
            const auto label = std::string ("resampleRange/") + name + (channels == 2 ? "/stereo" : "/mono");
            benchmark::RegisterBenchmark (label.c_str(), [path = path, channels] (benchmark::State& s)
                                          { benchRange (s, path, channels); })
                ->Iterations (3)->UseManualTime()->Unit (benchmark::kMillisecond);
        }
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
