// Round trip of one 512-frame stereo PROCESS_F32_BUFFER block through the real worker hosting
// the JUCE test gain plug-in (median, p99, p99.9 and max over 20,000 blocks), the same with the
// plug-in's editor open on a private X server and resized during the run (with the ratio of the
// two; goal within 2x), and the time to scan one bundle in a fresh worker (start, PING,
// SCAN_VST3, reply).
// Usage: bench_vst_worker [--blocks N] [--scans N]   (--benchmark_* arguments are ignored)
#include "platform/PipedProcess.h"
#include "support/X11Inspector.h"
#include "support/XvfbServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

/** The client side of one worker: lines with a deadline, raw bytes. */
class WorkerLink
{
public:
    bool start (std::string& error, const std::string& displayName = {})
    {
        vantrel::platform::PipedProcess::Options options;
        options.program = ORVANE_BENCH_WORKER;
        options.arguments = { "--worker" };

        if (! displayName.empty())
            options.environment.push_back ({ "DISPLAY", displayName });

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

struct RoundTrips
{
    std::vector<double> milliseconds;
    bool ok = false;
};

/** Loads the gain plug-in into the worker and configures it; its class id comes from the scan. */
bool loadGain (WorkerLink& worker)
{
    std::string classId;
    std::string line;
    worker.send ("SCAN_VST3\t" + gainBundle() + "\n");

    while (worker.readLine (line) && line.rfind ("CLASS\t", 0) == 0)
        classId = line.substr (6, 32);

    return line == "OK\t1" && ! classId.empty()
        && worker.command ("LOAD_VST3\t" + gainBundle() + "\t" + classId).rfind ("OK", 0) == 0
        && worker.command ("CONFIG\t48000\t2\t512\trealtime") == "OK";
}

/** Times `blocks` blocks (after 200 unmeasured ones); `between` runs before each measured block
    and is not timed. */
RoundTrips measureBlocks (WorkerLink& worker, int blocks, const std::function<bool (int)>& between)
{
    RoundTrips result;
    std::vector<float> samples (1024);

    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float> (i % 200) / 200.0f - 0.5f;

    result.milliseconds.reserve (static_cast<std::size_t> (blocks));
    std::string line;

    for (int block = -200; block < blocks; ++block)
    {
        if (block >= 0 && ! between (block))
            return result;

        const auto tag = std::to_string (block + 200);
        const auto header = "PROCESS_F32_BUFFER\t" + tag + "\t512\t2\t4096\n";
        const auto start = Clock::now();

        if (! worker.send (header) || ! worker.sendBytes (samples.data(), 4096) || ! worker.readLine (line)
            || line != "BINARY\t" + tag + "\t4096" || ! worker.readExact (samples.data(), 4096) || ! worker.readLine (line)
            || line != "OK\t" + tag + "\t1024")
        {
            std::printf ("block %s failed: %s\n", tag.c_str(), line.c_str());
            return result;
        }

        const auto elapsed = std::chrono::duration<double, std::milli> (Clock::now() - start).count();

        if (block >= 0)
            result.milliseconds.push_back (elapsed);
    }

    result.ok = true;
    return result;
}

void printFigures (const RoundTrips& trips)
{
    const auto& values = trips.milliseconds;
    std::printf ("  median %.4f ms   p99 %.4f ms   p99.9 %.4f ms   max %.4f ms\n", percentile (values, 0.5),
                 percentile (values, 0.99), percentile (values, 0.999), percentile (values, 1.0));
}

int benchmarkBlocks (int blocks, RoundTrips& closed)
{
    WorkerLink worker;
    std::string error;

    if (! worker.start (error))
    {
        std::printf ("worker did not start: %s\n", error.c_str());
        return 1;
    }

    if (! loadGain (worker))
    {
        std::printf ("the gain plug-in could not be loaded\n");
        return 1;
    }

    closed = measureBlocks (worker, blocks, [] (int) { return true; });

    if (! closed.ok)
        return 1;

    std::printf ("PROCESS_F32_BUFFER 512 frames stereo, JUCE gain plug-in, %d blocks:\n", blocks);
    printFigures (closed);
    worker.finish();
    return 0;
}

/** The window of the worker's editor on the display, or an empty record. */
vantrel::platform::X11Inspector::TopLevelWindow editorWindow (vantrel::platform::X11Inspector& inspector)
{
    for (const auto& window : inspector.topLevelWindows())
        if (window.windowClass == "OrvaneVstEditorHostWindow" && window.viewable)
            return window;

    return {};
}

int benchmarkBlocksWithEditor (int blocks, const RoundTrips& closed)
{
    vantrel::platform::XvfbServer server;
    std::string error;

    if (vantrel::platform::XvfbServer::programPath().empty())
    {
        std::printf ("Editor open: Xvfb is not installed; the round trip with the editor open is not measured\n");
        return 0;
    }

    if (! server.start (93, 160, error))
    {
        std::printf ("Editor open: no private X server (%s); not measured\n", error.c_str());
        return 1;
    }

    auto inspector = vantrel::platform::X11Inspector::open (server.displayName(), error);
    WorkerLink worker;

    if (inspector == nullptr || ! worker.start (error, server.displayName()) || ! loadGain (worker))
    {
        std::printf ("Editor open: the worker could not be set up: %s\n", error.c_str());
        return 1;
    }

    // The size parameter's id, from the PARAMS lines.
    std::string sizeId;
    std::string line;
    worker.send ("PARAMS\n");

    while (worker.readLine (line) && line.rfind ("PARAM\t", 0) == 0)
        if (line.find ("\tEditor large\t") != std::string::npos)
            sizeId = line.substr (6, line.find ('\t', 6) - 6);

    if (sizeId.empty() || worker.command ("OPEN_EDITOR\tbench") != "OK")
    {
        std::printf ("Editor open: the editor could not be opened\n");
        return 1;
    }

    // Every 100 ms the plug-in is told to change its editor's size (through the UI thread); its
    // editor follows within a frame or two and asks the worker to resize the window.
    int resizes = 0;
    int sizeChanges = 0;
    int lastWidth = editorWindow (*inspector).width;
    auto nextResize = Clock::now();
    const auto open = measureBlocks (worker, blocks,
                                     [&] (int block)
                                     {
                                         if (block % 20 == 0)
                                         {
                                             const auto width = editorWindow (*inspector).width;
                                             sizeChanges += width != lastWidth ? 1 : 0;
                                             lastWidth = width;
                                         }

                                         if (Clock::now() < nextResize)
                                             return true;

                                         nextResize = Clock::now() + std::chrono::milliseconds (100);
                                         ++resizes;
                                         return worker.command ("SET_PARAM\t" + sizeId + (resizes % 2 == 1 ? "\t1" : "\t0")) == "OK";
                                     });

    if (! open.ok)
        return 1;

    const auto status = worker.command ("LIVE_STATUS");
    std::printf ("The same with the editor open on a private X server, %d size requests (%d size changes seen), %d blocks:\n",
                 resizes, sizeChanges, blocks);
    printFigures (open);
    std::printf ("  editor still open: %s\n", status.rfind ("OK\t1\t", 0) == 0 ? "yes" : "NO");
    std::printf ("  ratio open/closed: median %.2fx   p99 %.2fx   p99.9 %.2fx   (goal: within 2x)\n",
                 percentile (open.milliseconds, 0.5) / percentile (closed.milliseconds, 0.5),
                 percentile (open.milliseconds, 0.99) / percentile (closed.milliseconds, 0.99),
                 percentile (open.milliseconds, 0.999) / percentile (closed.milliseconds, 0.999));
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

    RoundTrips closed;
    const auto blockResult = benchmarkBlocks (blocks, closed);
    const auto editorResult = blockResult == 0 ? benchmarkBlocksWithEditor (blocks, closed) : 0;
    const auto scanResult = benchmarkScans (scans);
    return blockResult != 0 ? blockResult : editorResult != 0 ? editorResult : scanResult;
}
