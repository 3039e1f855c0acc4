// Round trip of one 512-frame stereo PROCESS_F32_BUFFER block through the real worker hosting
// the JUCE test gain plug-in (median, p99, p99.9 and max over 20,000 blocks), and the time to
// scan one bundle in a fresh worker (start, PING, SCAN_VST3, reply).
// Usage: bench_vst_worker [--blocks N] [--scans N]   (--benchmark_* arguments are ignored)
#include "platform/PipedProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

/** The client side of one worker: lines with a deadline, raw bytes. */
class WorkerLink
{
public:
    bool start (std::string& error)
    {
        vantrel::platform::PipedProcess::Options options;
        options.program = ORVANE_BENCH_WORKER;
        options.arguments = { "--worker" };
        return process.start (options, error);
    }

    bool send (const std::string& text) { return process.writeAll (text.data(), text.size(), 5000); }
    bool sendBytes (const void* data, std::size_t size) { return process.writeAll (data, size, 5000); }

    bool readLine (std::string& line)
    {
        for (;;)
        {
            const auto lf = buffered.find ('\n');

            if (lf != std::string::npos)
            {
                line.assign (buffered, 0, lf);
                buffered.erase (0, lf + 1);
                return true;
            }

            char chunk[8192];
            const auto got = process.readSome (chunk, sizeof (chunk), 5000);

            if (got <= 0)
                return false;

            buffered.append (chunk, static_cast<std::size_t> (got));
        }
    }

    bool readExact (void* destination, std::size_t size)
    {
        auto* bytes = static_cast<char*> (destination);
        const auto fromBuffer = std::min (size, buffered.size());
        std::memcpy (bytes, buffered.data(), fromBuffer);
        buffered.erase (0, fromBuffer);

        for (std::size_t done = fromBuffer; done < size;)
        {
            const auto got = process.readSome (bytes + done, size - done, 5000);

            if (got <= 0)
                return false;

            done += static_cast<std::size_t> (got);
        }

        return true;
    }

    /** Sends a command and returns its final line ("" on failure). */
    std::string command (const std::string& line)
    {
        std::string reply;

        if (! send (line + "\n"))
            return {};

        while (readLine (reply))
            if (reply.rfind ("CLASS\t", 0) != 0 && reply.rfind ("PARAM\t", 0) != 0)
                return reply;

        return {};
    }

    vantrel::platform::ChildExit finish()
    {
        process.closeInput();
        return process.wait (5000);
    }

private:
    vantrel::platform::PipedProcess process;
    std::string buffered;
};

double percentile (std::vector<double> values, double fraction)
{
    std::sort (values.begin(), values.end());
    const auto index = static_cast<std::size_t> (fraction * static_cast<double> (values.size() - 1) + 0.5);
    return values[std::min (index, values.size() - 1)];
}

std::string gainBundle()
{
    return std::filesystem::path (ORVANE_BENCH_GAIN_LIBRARY).parent_path().parent_path().parent_path().string();
}

int benchmarkBlocks (int blocks)
{
    WorkerLink worker;
    std::string error;

    if (! worker.start (error))
    {
        std::printf ("worker did not start: %s\n", error.c_str());
        return 1;
    }

    // The class id comes from the scan's CLASS line.
    std::string classId;
    std::string line;
    worker.send ("SCAN_VST3\t" + gainBundle() + "\n");

    while (worker.readLine (line) && line.rfind ("CLASS\t", 0) == 0)
        classId = line.substr (6, 32);

    if (line != "OK\t1" || classId.empty() || worker.command ("LOAD_VST3\t" + gainBundle() + "\t" + classId).rfind ("OK", 0) != 0
        || worker.command ("CONFIG\t48000\t2\t512\trealtime") != "OK")
    {
        std::printf ("the gain plug-in could not be loaded\n");
        return 1;
    }

    std::vector<float> samples (1024);

    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float> (i % 200) / 200.0f - 0.5f;

    std::vector<double> roundTrips;
    roundTrips.reserve (static_cast<std::size_t> (blocks));

    for (int block = -200; block < blocks; ++block)
    {
        const auto tag = std::to_string (block + 200);
        const auto header = "PROCESS_F32_BUFFER\t" + tag + "\t512\t2\t4096\n";
        const auto start = Clock::now();

        if (! worker.send (header) || ! worker.sendBytes (samples.data(), 4096) || ! worker.readLine (line)
            || line != "BINARY\t" + tag + "\t4096" || ! worker.readExact (samples.data(), 4096) || ! worker.readLine (line)
            || line != "OK\t" + tag + "\t1024")
        {
            std::printf ("block %s failed: %s\n", tag.c_str(), line.c_str());
            return 1;
        }

        const auto elapsed = std::chrono::duration<double, std::milli> (Clock::now() - start).count();

        if (block >= 0)
            roundTrips.push_back (elapsed);
    }

    std::printf ("PROCESS_F32_BUFFER 512 frames stereo, JUCE gain plug-in, %d blocks:\n", blocks);
    std::printf ("  median %.4f ms   p99 %.4f ms   p99.9 %.4f ms   max %.4f ms\n", percentile (roundTrips, 0.5),
                 percentile (roundTrips, 0.99), percentile (roundTrips, 0.999), percentile (roundTrips, 1.0));
    worker.finish();
    return 0;
}

int benchmarkScans (int scans)
{
    std::vector<double> times;

    for (int i = 0; i < scans; ++i)
    {
        const auto start = Clock::now();
        WorkerLink worker;
        std::string error;

        if (! worker.start (error) || worker.command ("PING") != "OK\tORVANE_VST_HOST\t1"
            || worker.command ("SCAN_VST3\t" + gainBundle()) != "OK\t1")
        {
            std::printf ("scan %d failed %s\n", i, error.c_str());
            return 1;
        }

        times.push_back (std::chrono::duration<double, std::milli> (Clock::now() - start).count());
        worker.finish();
    }

    std::printf ("Scan of one bundle in a fresh worker (start, PING, SCAN_VST3), %d runs:\n", scans);
    std::printf ("  median %.2f ms   p99 %.2f ms   max %.2f ms\n", percentile (times, 0.5), percentile (times, 0.99),
                 percentile (times, 1.0));
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    int blocks = 20000;
    int scans = 50;

    for (int i = 1; i + 1 < argc; ++i)
    {
        if (std::strcmp (argv[i], "--blocks") == 0)
            blocks = std::max (1, std::atoi (argv[i + 1]));
        else if (std::strcmp (argv[i], "--scans") == 0)
            scans = std::max (1, std::atoi (argv[i + 1]));
    }

    if (std::strlen (ORVANE_BENCH_GAIN_LIBRARY) == 0 || ! std::filesystem::exists (ORVANE_BENCH_GAIN_LIBRARY))
    {
        std::printf ("bench_vst_worker: the JUCE test plug-in is not built (tests disabled); nothing measured\n");
        return 0;
    }

    const auto blockResult = benchmarkBlocks (blocks);
    const auto scanResult = benchmarkScans (scans);
    return blockResult != 0 ? blockResult : scanResult;
}
