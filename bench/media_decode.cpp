// The decode phase alone of a long 44.1 kHz stereo file of each format, one thread: the
// framework reader's planar reads in the loader's block sizes, the bulk PCM reader where it
// takes the file, and the stream decoder for M4A. Each line also prints a hash of the decoded
// floats, so that two builds can be compared for identical output. VANTREL_BENCH_MEDIA_SECONDS
// sets the file length (default 600 s); VANTREL_BENCH_MEDIA_FOLDER keeps the files in a folder
// (made once, reused by later runs).

#include "BenchTiming.h"
#include "audio/media/FfmpegDecoder.h"
#include "audio/media/LargeBuffers.h"
#include "audio/media/MediaLimits.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/PcmFileReader.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double msSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
}

bool run (const juce::StringArray& command)
{
    juce::ChildProcess process;
    if (! process.start (command, juce::ChildProcess::wantStdErr | juce::ChildProcess::wantStdOut))
        return false;
    process.readAllProcessOutput();
    process.waitForProcessToFinish (-1);
    return process.getExitCode() == 0;
}

/** FNV-1a over the floats' bit patterns, continuing from hash. */
std::uint64_t hashOf (const std::vector<float>& samples, std::uint64_t hash = 14695981039346656037ull)
{
    for (const float sample : samples)
    {
        std::uint32_t bits;
        std::memcpy (&bits, &sample, sizeof (bits));
        hash = (hash ^ bits) * 1099511628211ull;
    }
    return hash;
}

enum class Path { framework, bulk };

double lastOpenMs = 0.0;   // of the last decode: opening the reader

/** Reads the whole file in planar blocks; the time in ms, or -1 when it cannot. */
double decodePlanar (const juce::File& file, Path path, int blockFrames, std::vector<float>& left, std::vector<float>& right)
{
    const auto start = Clock::now();
    auto reader = vantrel::openMediaReader (file);
    if (reader == nullptr)
        return -1.0;
    lastOpenMs = msSince (start);
    std::unique_ptr<vantrel::PcmFileReader> bulk;
    if (path == Path::bulk && (bulk = vantrel::PcmFileReader::open (*reader, file)) == nullptr)
        return -1.0;

    const auto frames = (std::size_t) reader->lengthInSamples;
    left.clear();
    right.clear();
    vantrel::resizeLarge (left, frames);
    vantrel::resizeLarge (right, frames);
    for (std::size_t position = 0; position < frames; position += (std::size_t) blockFrames)
    {
        const int count = (int) std::min<std::size_t> ((std::size_t) blockFrames, frames - position);
        float* planes[2] = { left.data() + position, right.data() + position };
        const bool read = bulk != nullptr ? bulk->readPlanar (planes, (std::int64_t) position, count)
                                          : reader->read (planes, (int) reader->numChannels, (juce::int64) position, count);
        if (! read)
            return -1.0;
    }
    return msSince (start);
}

double lastCpuMs = 0.0;   // of the last fastest(): the least CPU time of its runs

/** The shortest wall time of a few runs of a decode (a busy machine slows some), -1 when one
    fails; lastCpuMs becomes the least thread CPU time of the runs. */
template <typename Decode>
double fastest (Decode&& decode)
{
    double best = -1.0;
    lastCpuMs = -1.0;
    for (int run = 0; run < 5; ++run)
    {
        const double cpuStart = vantrel::bench::threadCpuMs();
        const double ms = decode();
        const double cpu = vantrel::bench::threadCpuMs() - cpuStart;
        if (ms < 0.0)
            return -1.0;
        best = best < 0.0 ? ms : std::min (best, ms);
        lastCpuMs = lastCpuMs < 0.0 ? cpu : std::min (lastCpuMs, cpu);
    }
    return best;
}

void report (const char* label, double ms, std::uint64_t hash)
{
    if (ms < 0.0)
        std::printf ("%-22s %10s\n", label, "n/a");
    else
        std::printf ("%-22s %10.1f %10.1f   %016llx\n", label, ms, lastCpuMs, (unsigned long long) hash);
}
} // namespace

int main (int argc, char** argv)
{
    // An argument names the one format to decode (WAV, AIFF, FLAC, MP3, M4A), for profiling;
    // options (the benchmark runner passes --benchmark_...) are not format names.
    juce::String only;
    for (int i = 1; i < argc; ++i)
        if (! juce::String (argv[i]).startsWith ("-"))
            only = argv[i];
    const char* secondsText = std::getenv ("VANTREL_BENCH_MEDIA_SECONDS");
    const double seconds = secondsText != nullptr && std::atof (secondsText) > 0.0 ? std::atof (secondsText) : 600.0;
    const char* folderText = std::getenv ("VANTREL_BENCH_MEDIA_FOLDER");
    const bool keep = folderText != nullptr && *folderText != 0;
    const auto folder = keep ? juce::File (folderText)
                             : juce::File::getSpecialLocation (juce::File::tempDirectory)
                                   .getChildFile ("vantrel-bench-decode-" + juce::Uuid().toString());
    folder.createDirectory();

    const auto wav = folder.getChildFile ("long.wav");
    const auto aiff = folder.getChildFile ("long.aiff");
    const auto flac = folder.getChildFile ("long.flac");
    const auto mp3 = folder.getChildFile ("long.mp3");
    const auto m4a = folder.getChildFile ("long.m4a");
    if (! m4a.existsAsFile())
    {
        const bool made = run ({ "sox", "-R", "-q", "-n", "-r", "44100", "-c", "2", "-b", "16", wav.getFullPathName(), "synth",
                                 juce::String (seconds - 0.5), "pinknoise", "vol", "0.3", "pad", "0.5" })
            && run ({ "sox", "-R", "-q", wav.getFullPathName(), aiff.getFullPathName() })
            && run ({ "sox", "-R", "-q", wav.getFullPathName(), flac.getFullPathName() })
            && run ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav.getFullPathName(), "-c:a", "libmp3lame", "-b:a",
                      "192k", mp3.getFullPathName() })
            && run ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav.getFullPathName(), "-c:a", "aac", "-b:a", "192k",
                      m4a.getFullPathName() });
        if (! made)
        {
            std::fprintf (stderr, "cannot make the test files with sox and ffmpeg\n");
            return 1;
        }
    }

    std::printf ("Decode of a %.0f s 44.1 kHz stereo file, one thread: wall ms, CPU ms, hash of the floats\n", seconds);
    std::vector<float> left, right;
    const auto planarHash = [&] { return hashOf (right, hashOf (left)); };
    for (const auto& [label, file, block] : { std::tuple { "WAV", wav, 65536 }, std::tuple { "AIFF", aiff, 65536 },
                                               std::tuple { "FLAC", flac, 65536 }, std::tuple { "MP3", mp3, 8192 } })
    {
        if (only.isNotEmpty() && only != label)
            continue;
        double ms = fastest ([&] { return decodePlanar (file, Path::framework, block, left, right); });
        report ((juce::String (label) + " reader").toRawUTF8(), ms, ms < 0.0 ? 0 : planarHash());
        std::printf ("%-22s %10.1f\n", (juce::String (label) + " reader open").toRawUTF8(), lastOpenMs);
        ms = fastest ([&] { return decodePlanar (file, Path::bulk, block, left, right); });
        if (ms >= 0.0)
            report ((juce::String (label) + " bulk").toRawUTF8(), ms, planarHash());
    }

    if (only.isEmpty() || only == "M4A")
    {
        vantrel::DecodedAudio decoded;
        const double ms = fastest ([&]
        {
            decoded = {};
            const auto start = Clock::now();
            decoded = vantrel::decodeWithMediaFoundation (m4a, vantrel::decodedSampleLimit, nullptr);
            return decoded.error.isEmpty() ? msSince (start) : -1.0;
        });
        report ("M4A stream decoder", ms, hashOf (decoded.samples));
    }

    if (! keep)
        folder.deleteRecursively();
    return 0;
}
