// The master output stage alone at 48 kHz in 512-frame blocks: the time per block as a share of
// the block's real-time length (10.67 ms), median and 99th percentile, for the production stage
// and for the same stage written the straightforward way (per-sample modulo ring indices and a
// full 256-value maximum scan), which gives the same samples.

#include "audio/dsp/MasterOutputProcessor.h"
#include "platform/ThreadContract.h"
#include "tests/audio/dsp/PlainMasterOutput.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace
{
using namespace orvane::audio;

constexpr double rate = 48000.0;
constexpr int blockSize = 512;
constexpr int blocks = 4000;   // 42.7 s of audio

/** Loud programme material: noise at +3 dBFS peaks with a tone under it, so that the limiter
    and the true-peak stage work all the time. */
std::vector<float> material (uint32_t seed)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> noise (-1.4f, 1.4f);
    std::vector<float> out ((size_t) blocks * blockSize);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = noise (random) * ((i / 4800) % 3 == 0 ? 1.0f : 0.3f) + 0.5f * (float) std::sin (0.05 * (double) i);
    return out;
}

template <typename Stage>
std::vector<double> timeBlocks (Stage& stage, const std::vector<float>& left, const std::vector<float>& right)
{
    std::vector<float> l (blockSize), r (blockSize);
    std::vector<double> micros;
    micros.reserve (blocks);
    for (int b = 0; b < blocks; ++b)
    {
        std::copy_n (left.begin() + (ptrdiff_t) b * blockSize, blockSize, l.begin());
        std::copy_n (right.begin() + (ptrdiff_t) b * blockSize, blockSize, r.begin());
        float* channels[] = { l.data(), r.data() };
        const auto start = std::chrono::steady_clock::now();
        stage.process (channels, 2, blockSize);
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize (l.data());
        micros.push_back (std::chrono::duration<double, std::micro> (end - start).count());
    }
    std::sort (micros.begin(), micros.end());
    return micros;
}

void report (const char* name, const std::vector<double>& sorted)
{
    const double blockMicros = blockSize / rate * 1.0e6;
    const double median = sorted[sorted.size() / 2];
    const double p99 = sorted[(size_t) ((double) sorted.size() * 0.99)];
    std::printf ("%-34s median %7.1f us (%5.2f %% of real time)   p99 %7.1f us (%5.2f %%)\n", name, median,
                 100.0 * median / blockMicros, p99, 100.0 * p99 / blockMicros);
}

void printShares()
{
    const auto left = material (1), right = material (2);

    MasterOutputProcessor stage;
    stage.prepare (rate);
    testing::PlainMasterOutput plain (stage.truePeakStage().taps());
    plain.prepare (rate);

    std::printf ("Master output stage, %d blocks of %d frames at %.0f Hz (block = %.1f us)\n", blocks, blockSize, rate,
                 blockSize / rate * 1.0e6);
    report ("production (running max, mirrored)", timeBlocks (stage, left, right));
    report ("plain (modulo rings, full scan)", timeBlocks (plain, left, right));
}

void productionStage (benchmark::State& state)
{
    const auto left = material (3), right = material (4);
    MasterOutputProcessor stage;
    stage.prepare (rate);
    std::vector<float> l (blockSize), r (blockSize);
    size_t block = 0;
    for (auto _ : state)
    {
        const auto offset = (ptrdiff_t) (block++ % blocks) * blockSize;
        std::copy_n (left.begin() + offset, blockSize, l.begin());
        std::copy_n (right.begin() + offset, blockSize, r.begin());
        float* channels[] = { l.data(), r.data() };
        stage.process (channels, 2, blockSize);
        benchmark::DoNotOptimize (l.data());
    }
    state.SetItemsProcessed ((int64_t) state.iterations() * blockSize);
}
BENCHMARK (productionStage)->Unit (benchmark::kMicrosecond);
} // namespace

int main (int argc, char** argv)
{
    // The stage runs as the device callback runs it: with the audio role.
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
    printShares();
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
