// Undo history on a large catalog: the cost of one guarded commit, one undo and one
// redo, and the memory the history holds after 100 edits.

#include "session/UndoHistory.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<long long> liveBytes { 0 };

constexpr size_t header = alignof (std::max_align_t);
} // namespace

// Counting allocator: the live heap of this program, to measure the history's memory.
void* operator new (size_t size)
{
    auto* block = static_cast<char*> (std::malloc (size + header));
    if (block == nullptr)
        throw std::bad_alloc();

    *reinterpret_cast<size_t*> (block) = size;
    liveBytes += (long long) size;
    return block + header;
}

void operator delete (void* pointer) noexcept
{
    if (pointer == nullptr)
        return;

    auto* block = static_cast<char*> (pointer) - header;
    liveBytes -= (long long) *reinterpret_cast<size_t*> (block);
    std::free (block);
}

void operator delete (void* pointer, size_t) noexcept  { operator delete (pointer); }

namespace
{
using namespace vantrel;

std::string hexId (int n)
{
    char text[33];
    std::snprintf (text, sizeof (text), "%08x%08x%08x%08x", n * 2654435761u, n, n ^ 0x5bd1e995, n * 40503u);
    return text;
}

/** A show of the given number of rows in 100 playlists, ids and paths of realistic length. */
CatalogDocument makeCatalog (int rows)
{
    CatalogDocument document;
    const int playlists = 100;

    for (int p = 0; p < playlists; ++p)
    {
        Playlist playlist;
        playlist.id = "playlist-" + std::to_string (p);
        playlist.name = "Act " + std::to_string (p);

        for (int r = p; r < rows; r += playlists)
        {
            Row row;
            row.id = hexId (r);
            row.title = "Cue " + std::to_string (r) + " - Walk-in music";
            row.source = "/home/operator/.local/share/Vantrel/music/playlists/" + playlist.id + "/audio/" + row.id + ".wav";
            row.bytes = 48'000'000u + (uint64_t) r;
            row.modified = 1'700'000'000'000 + r;
            row.duration = 180.0 + r % 60;
            playlist.rows.push_back (row);
        }

        document.playlists.push_back (std::move (playlist));
    }

    document.current = "playlist-0";
    return document;
}

/** LIVE LOCK with every scope the history checks, and MAIN and OUTGOING sounding. */
EditGuard liveGuard (const CatalogDocument& document)
{
    EditGuard guard;
    guard.lockEdits = true;
    guard.lockTrackGainEq = true;
    guard.lockMasterEq = true;
    guard.soundingIds = { document.playlists[0].rows[0].id, document.playlists[0].rows[1].id };
    return guard;
}

double secondsSince (std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
}

void guardedCommit (benchmark::State& state)
{
    UndoHistory history (makeCatalog ((int) state.range (0)));
    const auto guard = liveGuard (history.current());
    int edit = 0;

    for (auto _ : state)
    {
        auto proposed = history.current();   // the caller's copy is not the commit's cost
        proposed.playlists[(size_t) (edit % 100)].gainDb = (float) (edit % 24) - 12.0f;
        ++edit;

        const auto start = std::chrono::steady_clock::now();
        const bool accepted = history.commit (std::move (proposed), guard);
        state.SetIterationTime (secondsSince (start));

        if (! accepted)
            state.SkipWithError ("commit refused");
    }
}

void undoAndRedo (benchmark::State& state, bool measureRedo)
{
    UndoHistory history (makeCatalog ((int) state.range (0)));
    const auto guard = liveGuard (history.current());

    for (int i = 0; i < 4; ++i)
    {
        auto proposed = history.current();
        proposed.playlists[(size_t) (10 + i)].gainDb = -3.0f;
        history.commit (std::move (proposed), guard);
    }

    for (auto _ : state)
    {
        auto start = std::chrono::steady_clock::now();
        bool ok = history.undo (guard);
        const double undoSeconds = secondsSince (start);

        start = std::chrono::steady_clock::now();
        ok = history.redo (guard) && ok;
        const double redoSeconds = secondsSince (start);

        state.SetIterationTime (measureRedo ? redoSeconds : undoSeconds);
        if (! ok)
            state.SkipWithError ("undo or redo refused");
    }
}

void undo (benchmark::State& state)  { undoAndRedo (state, false); }
void redo (benchmark::State& state)  { undoAndRedo (state, true); }

void historyMemoryAfter100Edits (benchmark::State& state)
{
    for (auto _ : state)
    {
        const auto baseline = liveBytes.load();
        UndoHistory history (makeCatalog ((int) state.range (0)));
        const auto oneDocument = liveBytes.load() - baseline;
        EditGuard guard;

        for (int edit = 0; edit < 100; ++edit)
        {
            auto proposed = history.current();
            proposed.playlists[(size_t) (edit % 100)].rows[0].title = "Edit " + std::to_string (edit);
            history.commit (std::move (proposed), guard);
        }

        state.counters["document_MB"] = (double) oneDocument / 1.0e6;
        state.counters["history_MB"] = (double) (liveBytes.load() - baseline) / 1.0e6;
        state.counters["steps"] = (double) history.undoStack().size();
    }
}
} // namespace

BENCHMARK (guardedCommit)->Arg (1000)->Arg (10000)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (undo)->Arg (1000)->Arg (10000)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (redo)->Arg (1000)->Arg (10000)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (historyMemoryAfter100Edits)->Arg (1000)->Arg (10000)->Iterations (1)->Unit (benchmark::kMillisecond);

BENCHMARK_MAIN();
