// Whole media loads (decode, checks, auto-cue, resampling, peaks through the cache) of a long
// 44.1 kHz stereo file of each format, prepared for a 48 kHz device, in multiples of real time,
// with one and two workers; next to sox's high-quality resampler, ffmpeg's default resampler
// and ffmpeg with soxr on the same file in the same run; the phase times, the ratios against the
// goals, and the load's peak memory against the PCM it has to hold. VANTREL_BENCH_MEDIA_SECONDS
// sets the file length (default 600 s).

#include "audio/media/MediaLoad.h"
#include "audio/media/ResampleKernel.h"
#include "support/MemoryUsage.h"

#include <benchmark/benchmark.h>
#include <juce_core/juce_core.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

double fileSeconds()
{
    const char* text = std::getenv ("VANTREL_BENCH_MEDIA_SECONDS");
    const double value = text != nullptr ? std::atof (text) : 0.0;
    return value > 0.0 ? value : 600.0;
}

/** Each load and each tool run is timed this many times and the fastest run counts, so that a
    moment of load elsewhere on the machine does not decide a ratio (VANTREL_BENCH_MEDIA_REPEATS). */
int repeats()
{
    const char* text = std::getenv ("VANTREL_BENCH_MEDIA_REPEATS");
    const int value = text != nullptr ? std::atoi (text) : 0;
    return value > 0 ? value : 3;
}

struct Fixture
{
    juce::File folder;
    double seconds = 0.0;
    std::vector<std::pair<juce::String, juce::File>> files;   // label, file
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

/** Starts a tool; the caller waits for it. */
std::unique_ptr<juce::ChildProcess> startTool (const juce::StringArray& command)
{
    auto process = std::make_unique<juce::ChildProcess>();
    if (! process->start (command, juce::ChildProcess::wantStdErr | juce::ChildProcess::wantStdOut))
        return nullptr;
    return process;
}

/** Runs a tool to its end; its wall time in seconds, or -1 when it failed. */
double timeTool (const juce::StringArray& command)
{
    const auto start = Clock::now();
    auto process = startTool (command);
    if (process == nullptr)
        return -1.0;
    process->readAllProcessOutput();
    process->waitForProcessToFinish (600000);
    return process->getExitCode() == 0 ? secondsSince (start) : -1.0;
}

/** Writes the test files once per run: pink noise after half a second of silence. */
bool makeFiles (Fixture& f)
{
    f.folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("vantrel-bench-media-" + juce::Uuid().toString());
    if (! f.folder.createDirectory())
        return false;
    f.seconds = fileSeconds();
    const auto wav = f.folder.getChildFile ("long.wav");
    if (timeTool ({ "sox", "-R", "-q", "-n", "-r", "44100", "-c", "2", "-b", "16", wav.getFullPathName(), "synth",
                    juce::String (f.seconds - 0.5), "pinknoise", "vol", "0.3", "pad", "0.5" }) < 0.0)
        return false;

    const auto aiff = f.folder.getChildFile ("long.aiff");
    const auto flac = f.folder.getChildFile ("long.flac");
    const auto mp3 = f.folder.getChildFile ("long.mp3");
    const auto m4a = f.folder.getChildFile ("long.m4a");
    std::vector<std::unique_ptr<juce::ChildProcess>> running;
    running.push_back (startTool ({ "sox", "-R", "-q", wav.getFullPathName(), aiff.getFullPathName() }));
    running.push_back (startTool ({ "sox", "-R", "-q", wav.getFullPathName(), flac.getFullPathName() }));
    running.push_back (startTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav.getFullPathName(),
                                    "-c:a", "libmp3lame", "-b:a", "192k", mp3.getFullPathName() }));
    running.push_back (startTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav.getFullPathName(),
                                    "-c:a", "aac", "-b:a", "192k", m4a.getFullPathName() }));
    for (auto& process : running)
    {
        if (process == nullptr)
            return false;
        process->readAllProcessOutput();
        process->waitForProcessToFinish (600000);
        if (process->getExitCode() != 0)
            return false;
    }
    f.files = { { "WAV", wav }, { "AIFF", aiff }, { "FLAC", flac }, { "MP3", mp3 }, { "M4A", m4a } };
    return true;
}

struct LoadFigures
{
    double realTimeFactor = 0.0;
    double peakExtraMB = 0.0;
    double heldMB = 0.0;   // the decoded source the load held at once + the prepared PCM
    std::shared_ptr<vantrel::LoadedMedia> media;
};

LoadFigures measureLoad (const juce::File& file, int workers)
{
    vantrel::MediaLoadRequest request;
    request.key = "bench";
    request.path = file;
    request.waveformCachePath = file.getSiblingFile (file.getFileName() + "-peaks-v2.bin");
    request.waveformCachePath.deleteFile();
    request.signature = vantrel::readFileSignature (file);
    request.rate = 48000.0;

    vantrel::MediaLoadOptions options;
    options.workers = workers;
    vantrel::platform::returnFreedMemory();
    const auto residentBefore = vantrel::platform::residentBytes();
    vantrel::platform::resetPeakResidentBytes();
    const auto start = Clock::now();
    auto media = vantrel::loadMedia (request, nullptr, options);
    const double elapsed = secondsSince (start);
    const auto peak = vantrel::platform::peakResidentBytes();

    LoadFigures figures;
    figures.media = media;
    if (media->error.isNotEmpty() || media->pcm == nullptr)
        return figures;
    figures.realTimeFactor = media->duration / elapsed;
    figures.peakExtraMB = (double) (peak - residentBefore) / 1.0e6;
    figures.heldMB = (double) (media->sourceBytesHeld + media->pcm->byteSize()) / 1.0e6;
    return figures;
}

struct Row
{
    double load1 = 0.0, load2 = 0.0, sox = -1.0, ffmpeg = -1.0, soxr = -1.0, peakExtraMB = 0.0, heldMB = 0.0, preparedMB = 0.0;
    vantrel::LoadedMedia phases;   // the one-worker load's times (its PCM and peaks dropped)
};

std::map<juce::String, Row>& rows()
{
    static std::map<juce::String, Row> table;
    return table;
}

void benchLoad (benchmark::State& state, const juce::String& label, const juce::File& file, int workers)
{
    for (auto _ : state)
    {
        auto figures = measureLoad (file, workers);
        for (int run = 1; run < repeats() && figures.media->error.isEmpty(); ++run)
        {
            auto again = measureLoad (file, workers);
            if (again.realTimeFactor > figures.realTimeFactor || again.media->error.isNotEmpty())
                figures = std::move (again);
        }
        if (figures.media->error.isNotEmpty())
        {
            state.SkipWithError (figures.media->error.toRawUTF8());
            return;
        }
        state.SetIterationTime (fixture().seconds / figures.realTimeFactor);
        state.counters["x_realtime"] = figures.realTimeFactor;
        state.counters["peak_MB"] = figures.peakExtraMB;
        state.counters["held_MB"] = figures.heldMB;
        auto& row = rows()[label];
        (workers == 1 ? row.load1 : row.load2) = figures.realTimeFactor;
        if (workers == 1)
        {
            row.peakExtraMB = figures.peakExtraMB;
            row.heldMB = figures.heldMB;
            row.preparedMB = (double) figures.media->pcm->byteSize() / 1.0e6;
            row.phases = *figures.media;
            row.phases.pcm.reset();
            row.phases.peaks.reset();
        }
    }
}

enum class Tool { sox, ffmpeg, soxr };

void benchTool (benchmark::State& state, const juce::String& label, const juce::StringArray& command, Tool tool)
{
    for (auto _ : state)
    {
        double elapsed = timeTool (command);
        for (int run = 1; run < repeats() && elapsed > 0.0; ++run)
            elapsed = std::min (elapsed, timeTool (command));
        if (elapsed <= 0.0)
        {
            state.SkipWithError ("the tool cannot read this file");
            return;
        }
        state.SetIterationTime (elapsed);
        state.counters["x_realtime"] = fixture().seconds / elapsed;
        auto& row = rows()[label];
        (tool == Tool::sox ? row.sox : tool == Tool::ffmpeg ? row.ffmpeg : row.soxr) = fixture().seconds / elapsed;
    }
}

const char* verdict (bool met)
{
    return met ? "met" : "NOT met";
}

void printSummary()
{
    const auto& f = fixture();
    const auto ratio = [] (double a, double b) { return b > 0.0 ? a / b : 0.0; };
    std::printf ("\nWhole load of a %.0f s 44.1 kHz stereo file to 48 kHz, multiples of real time%s\n", f.seconds,
                 f.seconds < 600.0 ? " (shorter than 10 minutes: VANTREL_BENCH_MEDIA_SECONDS)" : "");
    std::printf ("resampler inner loop: %s (the tests also force the portable one)\n",
                 vantrel::resamplePathName (vantrel::resamplePathInUse (vantrel::ResamplePath::widest)));
    std::printf ("%-5s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %9s\n", "file", "load 1w", "load 2w", "sox -v", "ffmpeg",
                 "f.soxr", "1w/sox", "1w/ffm", "1w/soxr", "2w/1w", "peak MB", "held MB", "peak/held");
    for (const auto& entry : f.files)
    {
        const auto& row = rows()[entry.first];
        std::printf ("%-5s %8.0f %8.0f %8.0f %8.0f %8.0f %8.2f %8.2f %8.2f %8.2f %8.0f %8.0f %9.3f\n", entry.first.toRawUTF8(),
                     row.load1, row.load2, row.sox, row.ffmpeg, row.soxr, ratio (row.load1, row.sox),
                     ratio (row.load1, row.ffmpeg), ratio (row.load1, row.soxr), ratio (row.load2, row.load1),
                     row.peakExtraMB, row.heldMB, ratio (row.peakExtraMB, row.heldMB));
    }
    std::printf ("sox -v: 'sox -R FILE -t f32 /dev/null rate -v 48000' (-1: sox cannot read the file); ffmpeg: "
                 "'ffmpeg -threads 1 -i FILE -af aresample=48000 -f null -'; f.soxr: the same with "
                 "aresample=48000:resampler=soxr.\n"
                 "held MB: the prepared 48 kHz PCM plus the decoded source the load holds at once (a few blocks; the whole "
                 "source only for a stream-decoded file already at the device's rate); peak MB: the load's peak resident memory above the resident size before it. "
                 "Each figure is the fastest of %d runs, after one unmeasured warm-up load.\n",
                 repeats());

    std::printf ("\nGoals (one worker unless said):\n");
    for (const auto& entry : f.files)
    {
        const auto& label = entry.first;
        const auto& row = rows()[label];
        if (label == "MP3")
            std::printf ("%-5s 1w >= 1.5 x sox -v: %.2f %s", label.toRawUTF8(), ratio (row.load1, row.sox),
                         verdict (row.load1 >= 1.5 * row.sox));
        else if (label == "M4A")
            std::printf ("%-5s 1w >= ffmpeg soxr: %.2f %s", label.toRawUTF8(), ratio (row.load1, row.soxr),
                         verdict (row.load1 >= row.soxr));
        else
            std::printf ("%-5s 1w >= ffmpeg aresample: %.2f %s; 1w >= 2 x sox -v: %.2f %s", label.toRawUTF8(),
                         ratio (row.load1, row.ffmpeg), verdict (row.load1 >= row.ffmpeg), ratio (row.load1, row.sox),
                         verdict (row.load1 >= 2.0 * row.sox));
        std::printf ("; 2w >= 1.6 x 1w: %.2f %s; peak <= 1.05 x held: %.3f %s\n", ratio (row.load2, row.load1),
                     verdict (row.load2 >= 1.6 * row.load1), ratio (row.peakExtraMB, row.heldMB),
                     verdict (row.peakExtraMB <= 1.05 * row.heldMB));
    }

    std::printf ("\nPhase times of the one-worker load (ms; decoding and resampling overlap, each counted apart):\n"
                 "%-5s %9s %9s %9s %9s %9s\n", "file", "decode", "validate", "cue", "resample", "peaks");
    for (const auto& entry : f.files)
    {
        const auto& media = rows()[entry.first].phases;
        std::printf ("%-5s %9.0f %9.1f %9.1f %9.0f %9.1f\n", entry.first.toRawUTF8(), media.decodeMs, media.validationMs,
                     media.cueSearchMs, media.preparationMs, media.peaksMs);
    }
}
} // namespace

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    auto& f = fixture();
    if (! makeFiles (f))
    {
        std::fprintf (stderr, "cannot make the test files with sox and ffmpeg\n");
        f.folder.deleteRecursively();
        return 1;
    }

    for (const auto& entry : f.files)
    {
        const auto label = entry.first;
        const auto file = entry.second;
        const auto path = file.getFullPathName();
        benchmark::RegisterBenchmark (("load/" + label + "/1_worker").toRawUTF8(),
                                      [label, file] (benchmark::State& s) { benchLoad (s, label, file, 1); })
            ->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
        benchmark::RegisterBenchmark (("load/" + label + "/2_workers").toRawUTF8(),
                                      [label, file] (benchmark::State& s) { benchLoad (s, label, file, 2); })
            ->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
        if (! file.hasFileExtension ("m4a"))
            benchmark::RegisterBenchmark (("sox_rate_v/" + label).toRawUTF8(), [label, path] (benchmark::State& s)
                                          { benchTool (s, label, { "sox", "-R", "-q", path, "-t", "f32", "/dev/null", "rate", "-v", "48000" }, Tool::sox); })
                ->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
        benchmark::RegisterBenchmark (("ffmpeg_aresample/" + label).toRawUTF8(), [label, path] (benchmark::State& s)
                                      { benchTool (s, label, { "ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-i", path,
                                                               "-af", "aresample=48000", "-f", "null", "-" }, Tool::ffmpeg); })
            ->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
        benchmark::RegisterBenchmark (("ffmpeg_soxr/" + label).toRawUTF8(), [label, path] (benchmark::State& s)
                                      { benchTool (s, label, { "ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-i", path,
                                                               "-af", "aresample=48000:resampler=soxr", "-f", "null", "-" }, Tool::soxr); })
            ->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);
    }

    measureLoad (f.files.front().second, 1);   // the warm-up load: the first large allocations of the process
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    f.folder.deleteRecursively();
    return 0;
}
