// Ripping an audio CD track: a 5-minute track of a generated BIN/CUE image read through libcdio
// and AudioCdImport::ripTrack (every block read twice and compared, the WAV written and flushed),
// in multiples of real time; and the time from a cancel to ripTrack's return while a read hangs in
// the drive, against the 100 ms goal. VANTREL_BENCH_CD_SECONDS sets the track length (default 300 s).

#include "app/FakeCdDrive.h"
#include "app/cd/AudioCdImport.h"
#include "support/CdImage.h"

#include <benchmark/benchmark.h>
#include <juce_core/juce_core.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace
{
using namespace vantrel;
using Clock = std::chrono::steady_clock;

double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

struct Fixture
{
    juce::File folder;
    juce::File cue;
    double seconds = 300.0;
    double ripRealTime = 0.0;
    std::vector<double> cancelMs;
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

bool makeImage (Fixture& f)
{
    const auto exeFolder = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
    f.folder = exeFolder.getChildFile ("scratch").getChildFile ("cd_rip-" + juce::Uuid().toString());
    if (! f.folder.createDirectory())
        return false;
    if (const char* text = std::getenv ("VANTREL_BENCH_CD_SECONDS"); text != nullptr && std::atof (text) >= 1.0)
        f.seconds = std::atof (text);
    f.cue = test::writeCdImage (f.folder, { { test::cdAudio (1, (int) (f.seconds * 75.0)) }, 0, {} }).cue;
    return f.cue.existsAsFile();
}

void benchRip (benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state)
    {
        CdDeviceHandle handle (platform::openCdDevice (f.cue.getFullPathName()));
        const auto disc = AudioCdImport::readDisc (handle, f.cue.getFullPathName(), nullptr);
        if (! disc || disc->tracks.size() != 1)
        {
            state.SkipWithError ("the image cannot be read");
            return;
        }
        const auto wav = f.folder.getChildFile ("Track01.wav");
        wav.deleteFile();
        const auto start = Clock::now();
        try
        {
            AudioCdImport::ripTrack (handle, disc->tracks[0], wav, nullptr, {});
        }
        catch (const std::runtime_error& e)
        {
            state.SkipWithError (e.what());
            return;
        }
        const double elapsed = secondsSince (start);
        f.ripRealTime = f.seconds / elapsed;
        state.SetIterationTime (elapsed);
        state.counters["x_realtime"] = f.ripRealTime;
    }
}

/** A read that blocks in the drive until the end of the run. */
struct Gate
{
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool inside = false;
};

void benchCancel (benchmark::State& state)
{
    auto& f = fixture();
    auto gate = std::make_shared<Gate>();
    auto drive = std::make_shared<test::FakeDrive>();
    drive->disc = test::fakeDisc ({ 750 });
    drive->read = [gate] (int, int, std::uint8_t*)
    {
        std::unique_lock<std::mutex> lock (gate->mutex);
        gate->inside = true;
        gate->changed.notify_all();
        gate->changed.wait (lock, [&] { return gate->open; });
        return -1;
    };
    for (auto _ : state)
    {
        {
            std::lock_guard<std::mutex> lock (gate->mutex);
            gate->inside = false;
        }
        CdDeviceHandle handle (std::make_unique<test::FakeCdDevice> (drive));
        std::atomic<bool> cancel { false };
        Clock::time_point cancelled, returned;
        std::thread rip ([&]
        {
            try
            {
                AudioCdImport::ripTrack (handle, { 1, 0, 750, "Track 01" }, f.folder.getChildFile ("cancel.wav"), &cancel, {});
            }
            catch (const std::runtime_error&) {}
            returned = Clock::now();
        });
        {
            std::unique_lock<std::mutex> lock (gate->mutex);
            gate->changed.wait (lock, [&] { return gate->inside; });
        }
        cancelled = Clock::now();
        cancel = true;
        rip.join();
        f.folder.getChildFile ("cancel.wav").deleteFile();
        const double ms = std::chrono::duration<double, std::milli> (returned - cancelled).count();
        f.cancelMs.push_back (ms);
        state.SetIterationTime (ms / 1000.0);
    }
    std::lock_guard<std::mutex> lock (gate->mutex);
    gate->open = true;   // the given-up reads return and their device threads end
    gate->changed.notify_all();
}

void printSummary()
{
    auto& f = fixture();
    std::printf ("\nRip of a %.0f s track from a BIN/CUE image through libcdio: %.1f x real time\n", f.seconds, f.ripRealTime);
    auto ms = f.cancelMs;
    std::sort (ms.begin(), ms.end());
    if (! ms.empty())
        std::printf ("Cancel to ripTrack's return while a read hangs (%zu runs): median %.1f ms, worst %.1f ms (goal: 100 ms)\n",
                     ms.size(), ms[ms.size() / 2], ms.back());
}
} // namespace

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    auto& f = fixture();
    if (! makeImage (f))
    {
        std::fprintf (stderr, "cannot write the disc image\n");
        f.folder.deleteRecursively();
        return 1;
    }
    benchmark::RegisterBenchmark ("rip/image", benchRip)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
    benchmark::RegisterBenchmark ("cancel/hanging_read", benchCancel)->Iterations (20)->UseManualTime()->Unit (benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    f.folder.deleteRecursively();
    return 0;
}
