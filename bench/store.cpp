// Save and load times of the session store, and the bytes one save writes.
//   save_edit:  one row retitled, submitted to the save worker, until it is durable on disk
//   save_all:   every file's text changed (a different show of the same size)
//   load:       a fresh store's start-up load of the saved root
// Counters: rows, bytes written per save (all files, backups included), files replaced per save;
// for save_edit also the mean save time against its goal (at most 50 ms at 1,000 rows and 400 ms
// at 10,000, fsyncs included): goal_ms and goal_ratio (mean / goal; at most 1 meets the goal).

#include "platform/FileFaults.h"
#include "session/CatalogStore.h"
#include "session/SaveQueue.h"
#include "tests/session/StateGenerator.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

using namespace vantrel;

namespace
{
constexpr int rowsPerPlaylist = 200;

/** The goal of a one-row edit's save at a number of rows, in ms; 0 when there is none. */
double saveEditGoalMs (int rows)
{
    return rows == 1000 ? 50.0 : rows == 10000 ? 400.0 : 0.0;
}

struct BenchRoot
{
    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("vantrel-bench-store-" + juce::Uuid().toString());
    ~BenchRoot()  { folder.deleteRecursively(); }
};

int countRows (const CatalogState& state)
{
    int rows = 0;
    for (const auto& playlist : state.document.playlists)
        rows += static_cast<int> (playlist.rows.size());
    return rows;
}

/** Bytes written and files replaced by the operations recorded since the last call. */
std::pair<int64_t, int64_t> writtenSinceLast()
{
    int64_t bytes = 0;
    int64_t files = 0;

    for (const auto& op : platform::FileFaults::recorded())
    {
        bytes += op.op == platform::FileOp::writeFile ? op.bytes : 0;
        files += op.op == platform::FileOp::renameFile ? 1 : 0;
    }

    platform::FileFaults::startRecording();
    return { bytes, files };
}

void saveThroughQueue (benchmark::State& bench, bool changeEverything)
{
    const auto rows = static_cast<int> (bench.range (0));
    BenchRoot root;
    CatalogStore store (root.folder);
    SaveQueue queue (&store);

    auto state = testing::generateState (1, rows / rowsPerPlaylist, rowsPerPlaylist, true);
    queue.submit (state);
    queue.waitIdle();

    platform::FileFaults::startRecording();
    int64_t bytes = 0;
    int64_t files = 0;
    uint64_t seed = 2;
    double savingMs = 0.0;

    for (auto _ : bench)
    {
        bench.PauseTiming();
        const auto next = seed++;
        if (changeEverything)
            state = testing::generateState (next, rows / rowsPerPlaylist, rowsPerPlaylist, true);
        else
            state.document.playlists[next % state.document.playlists.size()].rows[0].title = "edit " + std::to_string (next);
        auto copy = state;
        writtenSinceLast();
        bench.ResumeTiming();

        const auto started = std::chrono::steady_clock::now();
        queue.submit (std::move (copy));
        if (! queue.waitIdle())
            bench.SkipWithError (queue.lastResult().message.toRawUTF8());
        savingMs += std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - started).count();

        bench.PauseTiming();
        const auto [b, f] = writtenSinceLast();
        bytes += b;
        files += f;
        bench.ResumeTiming();
    }

    platform::FileFaults::reset();
    bench.counters["rows"] = countRows (state);
    bench.counters["bytes_per_save"] = benchmark::Counter (static_cast<double> (bytes) / static_cast<double> (bench.iterations()));
    bench.counters["files_per_save"] = benchmark::Counter (static_cast<double> (files) / static_cast<double> (bench.iterations()));

    if (const auto goal = saveEditGoalMs (rows); ! changeEverything && goal > 0.0)
    {
        const auto meanMs = savingMs / static_cast<double> (bench.iterations());
        bench.counters["goal_ms"] = goal;
        bench.counters["goal_ratio"] = meanMs / goal;
        std::printf ("save_edit/%d: mean %.1f ms against the goal of %.0f ms: ratio %.2f (%s)\n", rows, meanMs, goal,
                     meanMs / goal, meanMs <= goal ? "met" : "not met");
    }
}

void saveEdit (benchmark::State& bench)  { saveThroughQueue (bench, false); }
void saveAll (benchmark::State& bench)   { saveThroughQueue (bench, true); }

void load (benchmark::State& bench)
{
    const auto rows = static_cast<int> (bench.range (0));
    BenchRoot root;
    const auto state = testing::generateState (1, rows / rowsPerPlaylist, rowsPerPlaylist, true);
    {
        CatalogStore store (root.folder);
        if (! store.save (state).ok)
            bench.SkipWithError ("save failed");
    }

    for (auto _ : bench)
    {
        CatalogStore store (root.folder);
        CatalogState loaded;
        if (! store.load (loaded).ok || loaded != state)
            bench.SkipWithError ("load failed");
        benchmark::DoNotOptimize (loaded);
    }

    bench.counters["rows"] = countRows (state);
}
} // namespace

BENCHMARK (saveEdit)->Name ("save_edit")->Arg (1000)->Iterations (20)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (saveEdit)->Name ("save_edit")->Arg (10000)->Iterations (5)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (saveAll)->Name ("save_all")->Arg (1000)->Iterations (10)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (saveAll)->Name ("save_all")->Arg (10000)->Iterations (3)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (load)->Arg (1000)->Iterations (10)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (load)->Arg (10000)->Iterations (3)->Unit (benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
