// The library's copy and scan: throughput of the journalled, verified copy (copyIntoLibrary) for
// one 500 MB file and for 1,000 small files, against `cp` of the same files in the same run
// (plain, and with the same durability and check: `cp`, `sync FILE`, `cmp`), and the time of one
// library scan over 10,000 managed files used by 10,000 rows.
//
// The files live in a private folder under /tmp, removed at the end. Each benchmark runs once.

#include "session/CopyTransaction.h"
#include "session/Library.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace vantrel;
using Clock = std::chrono::steady_clock;

constexpr int64_t largeFileBytes = int64_t { 500 } * 1000 * 1000;
constexpr int smallFileCount = 1000;
constexpr int smallFileBytes = 32 * 1024;
constexpr int scanFileCount = 10000;

juce::File workFolder()
{
    static const juce::File folder = []
    {
        auto f = juce::File ("/tmp").getChildFile ("vantrel-bench-library-" + juce::Uuid().toString());
        f.createDirectory();
        return f;
    }();
    return folder;
}

std::string quoted (const juce::File& file)  { return "'" + file.getFullPathName().toStdString() + "'"; }

bool run (const std::string& command)  { return std::system (command.c_str()) == 0; }

void writePattern (const juce::File& file, int64_t size, uint32_t seed)
{
    juce::FileOutputStream out (file);
    std::vector<uint32_t> block (1 << 18);
    uint32_t state = seed * 2654435761u + 1u;

    for (int64_t written = 0; written < size;)
    {
        for (auto& word : block)
        {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            word = state;
        }

        const auto chunk = std::min<int64_t> (size - written, static_cast<int64_t> (block.size() * 4));
        out.write (block.data(), static_cast<size_t> (chunk));
        written += chunk;
    }
}

const juce::File& largeSource()
{
    static const juce::File file = []
    {
        const auto f = workFolder().getChildFile ("src/large.wav");
        f.getParentDirectory().createDirectory();
        writePattern (f, largeFileBytes, 1);
        run ("sync");   // nothing of the preparation left to flush during the measurements
        return f;
    }();
    return file;
}

const juce::StringArray& smallSources()
{
    static const juce::StringArray files = []
    {
        juce::StringArray list;
        const auto folder = workFolder().getChildFile ("src/small");
        folder.createDirectory();

        for (int i = 0; i < smallFileCount; ++i)
        {
            const auto f = folder.getChildFile ("s" + juce::String (i) + ".wav");
            writePattern (f, smallFileBytes, static_cast<uint32_t> (i + 2));
            list.add (f.getFullPathName());
        }

        run ("sync");
        return list;
    }();
    return files;
}

/** Seconds per case, for the ratios printed at the end. */
std::map<std::string, double>& seconds()
{
    static std::map<std::string, double> table;
    return table;
}

/** Times `body` once with real time; `prepare` and `cleanUp` stay outside the timing. */
template <typename Body>
void timeOnce (benchmark::State& state, const std::string& name, int64_t bytes, Body&& body)
{
    for (auto _ : state)
    {
        const auto start = Clock::now();
        const bool ok = body();
        const auto elapsed = std::chrono::duration<double> (Clock::now() - start).count();
        state.SetIterationTime (elapsed);
        seconds()[name] = elapsed;

        if (! ok)
            state.SkipWithError ("failed");
    }

    state.counters["MB/s"] = benchmark::Counter (static_cast<double> (bytes) / 1.0e6 / seconds()[name]);
}

juce::File freshFolder (const char* name)
{
    auto folder = workFolder().getChildFile (name);
    folder.deleteRecursively();
    folder.createDirectory();
    return folder;
}

void BM_LargeFile_copyIntoLibrary (benchmark::State& state)
{
    const auto& source = largeSource();
    const auto root = freshFolder ("music");
    timeOnce (state, "large library", largeFileBytes, [&]
    {
        return copyIntoLibrary (root, "bench", { source.getFullPathName() }, { "Large" }, {}).message.isEmpty();
    });
    root.deleteRecursively();
}

void BM_LargeFile_cp (benchmark::State& state)
{
    const auto& source = largeSource();
    const auto folder = freshFolder ("cp");
    const auto target = folder.getChildFile ("large.wav");
    timeOnce (state, "large cp", largeFileBytes, [&] { return run ("cp " + quoted (source) + " " + quoted (target)); });
    folder.deleteRecursively();
    run ("sync");
}

void BM_LargeFile_cpSyncCmp (benchmark::State& state)
{
    const auto& source = largeSource();
    const auto folder = freshFolder ("cp");
    const auto target = folder.getChildFile ("large.wav");
    timeOnce (state, "large cp+sync+cmp", largeFileBytes, [&]
    {
        return run ("cp " + quoted (source) + " " + quoted (target) + " && sync " + quoted (target)
                    + " && cmp -s " + quoted (source) + " " + quoted (target));
    });
    folder.deleteRecursively();
    run ("sync");
}

void BM_SmallFiles_copyIntoLibrary (benchmark::State& state)
{
    const auto& sources = smallSources();
    juce::StringArray titles;

    for (int i = 0; i < sources.size(); ++i)
        titles.add ("Small " + juce::String (i));

    const auto root = freshFolder ("music");
    timeOnce (state, "small library", int64_t { smallFileCount } * smallFileBytes, [&]
    {
        return copyIntoLibrary (root, "bench", sources, titles, {}).message.isEmpty();
    });
    root.deleteRecursively();
}

void BM_SmallFiles_cp (benchmark::State& state)
{
    const auto& sources = smallSources();
    const auto folder = freshFolder ("cp");
    const auto from = juce::File (sources[0]).getParentDirectory();
    timeOnce (state, "small cp", int64_t { smallFileCount } * smallFileBytes, [&]
    {
        return run ("cp " + quoted (from) + "/*.wav " + quoted (folder));
    });
    folder.deleteRecursively();
    run ("sync");
}

void BM_SmallFiles_cpSyncCmp (benchmark::State& state)
{
    const auto& sources = smallSources();
    const auto folder = freshFolder ("cp");
    const auto from = juce::File (sources[0]).getParentDirectory();
    timeOnce (state, "small cp+sync+cmp", int64_t { smallFileCount } * smallFileBytes, [&]
    {
        return run ("cp " + quoted (from) + "/*.wav " + quoted (folder) + " && sync " + quoted (folder) + "/*.wav "
                    + quoted (folder) + " && cd " + quoted (from) + " && for f in *.wav; do cmp -s \"$f\" "
                    + quoted (folder) + "/\"$f\" || exit 1; done");
    });
    folder.deleteRecursively();
    run ("sync");
}

void BM_LibraryScan_10000Files (benchmark::State& state)
{
    const auto root = freshFolder ("scan");
    CatalogDocument document;

    for (int p = 0; p < 50; ++p)
    {
        Playlist playlist;
        playlist.id = "playlist-" + std::to_string (p);
        playlist.name = "Playlist " + std::to_string (p);
        const auto audio = root.getChildFile ("playlists").getChildFile (juce::String (playlist.id)).getChildFile ("audio");
        audio.createDirectory();

        for (int i = 0; i < scanFileCount / 50; ++i)
        {
            const auto file = audio.getChildFile (juce::Uuid().toString() + ".wav");
            file.replaceWithText ("x");
            Row row;
            row.id = juce::Uuid().toString().toStdString();
            row.title = "Track " + std::to_string (i);
            row.source = file.getFullPathName().toStdString();
            playlist.rows.push_back (row);
        }

        document.playlists.push_back (playlist);
    }

    Library library (root);
    size_t listed = 0;
    double itemsMicros = 0;

    for (auto _ : state)
    {
        const auto start = Clock::now();
        library.refresh (document, {});

        while (library.items().scanning || library.items().generation == 0)
            std::this_thread::sleep_for (std::chrono::microseconds (200));

        const auto elapsed = std::chrono::duration<double> (Clock::now() - start).count();
        state.SetIterationTime (elapsed);
        seconds()["scan"] = elapsed;

        const auto pollStart = Clock::now();
        const auto snapshot = library.items();
        itemsMicros = std::chrono::duration<double, std::micro> (Clock::now() - pollStart).count();
        listed = snapshot.items->size();
    }

    state.counters["files"] = static_cast<double> (listed);
    state.counters["items() us"] = itemsMicros;
    root.deleteRecursively();
}

BENCHMARK (BM_LargeFile_cp)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_LargeFile_cpSyncCmp)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_LargeFile_copyIntoLibrary)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_SmallFiles_cp)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_SmallFiles_cpSyncCmp)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_SmallFiles_copyIntoLibrary)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_LibraryScan_10000Files)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);

void printRatios()
{
    auto ratio = [] (const char* label, const std::string& ours, const std::string& theirs)
    {
        const auto& table = seconds();

        if (table.count (ours) == 0 || table.count (theirs) == 0 || table.at (ours) <= 0)
            return;

        char line[256];
        std::snprintf (line, sizeof (line), "%-44s %6.2f  (copyIntoLibrary %.3f s, %s %.3f s)", label,
                       table.at (theirs) / table.at (ours), table.at (ours), theirs.c_str(), table.at (theirs));
        std::cout << line << std::endl;
    };

    std::cout << "\nThroughput of copyIntoLibrary relative to cp (1.00 = as fast):" << std::endl;
    ratio ("500 MB file, vs cp", "large library", "large cp");
    ratio ("500 MB file, vs cp + sync + cmp", "large library", "large cp+sync+cmp");
    ratio ("1,000 files of 32 KiB, vs cp", "small library", "small cp");
    ratio ("1,000 files of 32 KiB, vs cp + sync + cmp", "small library", "small cp+sync+cmp");

    if (seconds().count ("scan") > 0)
        std::cout << "Library scan of " << scanFileCount << " files and " << scanFileCount << " rows: "
                  << seconds().at ("scan") << " s" << std::endl;
}
} // namespace

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();

    std::error_code error;
    std::filesystem::remove_all (workFolder().getFullPathName().toStdString(), error);
    return 0;
}
