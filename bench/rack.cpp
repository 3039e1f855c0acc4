// The master rack's bridge with two real workers hosting the JUCE test gain plug-in:
//  1. the block exchange of one 512-frame stereo block through both workers, as the control
//     thread makes it (median, p99, p99.9, max over --blocks blocks; goal: median <= 0.3 ms,
//     p99.9 <= 3 ms);
//  2. the same through the rack itself: device block in -> block back in the inbound ring,
//     including the control loop's polling (it sleeps 1 ms when idle);
//  3. the end-to-end delay through the rack in samples, found with an impulse (it must be exactly
//     the bridge latency plus the plug-ins' own processing delay), and underruns over a stretch
//     paced like a 48 kHz / 512 device with playback active.
// Usage: bench_rack [--blocks N] [--paced-seconds S]   (--benchmark_* arguments are ignored)
#include "audio/rack/MasterVstRack.h"
#include "audio/rack/RackConfigFile.h"
#include "audio/rack/VstPaths.h"
#include "audio/rack/VstWorkerClient.h"
#include "platform/ThreadContract.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
using vantrel::VstWorkerClient;

const juce::File workerProgram (ORVANE_BENCH_WORKER);
const juce::File gainBundle = juce::File (ORVANE_BENCH_GAIN_LIBRARY).getParentDirectory().getParentDirectory().getParentDirectory();

struct Figures
{
    double median = 0, p99 = 0, p999 = 0, max = 0;
};

Figures figuresOf (std::vector<double> ms)
{
    std::sort (ms.begin(), ms.end());
    const auto at = [&] (double q) { return ms[std::min (ms.size() - 1, (size_t) (q * (double) ms.size()))]; };
    return { at (0.5), at (0.99), at (0.999), ms.back() };
}

void print (const char* what, const Figures& f, size_t count)
{
    std::printf ("%-44s median %.3f ms  p99 %.3f ms  p99.9 %.3f ms  max %.3f ms  (%zu blocks)\n",
                 what, f.median, f.p99, f.p999, f.max, count);
}

juce::String gainClassId()
{
    VstWorkerClient client;
    std::vector<juce::String> lines;
    juce::String error;

    if (! client.start (workerProgram, error)
        || ! client.command ("SCAN_VST3\t" + gainBundle.getFullPathName(), lines, error, 7000) || lines.size() != 2)
    {
        std::fprintf (stderr, "scan of the gain plug-in failed: %s\n", error.toRawUTF8());
        return {};
    }

    return juce::StringArray::fromTokens (lines[0], "\t", "")[1];
}

bool loadGain (VstWorkerClient& client, const juce::String& uid)
{
    std::vector<juce::String> lines;
    juce::String error;
    const auto ok = client.start (workerProgram, error)
                 && client.command ("LOAD_VST3\t" + gainBundle.getFullPathName() + "\t" + uid, lines, error, 7000)
                 && client.command ("CONFIG\t48000\t2\t512\trealtime", lines, error, 5000);

    if (! ok)
        std::fprintf (stderr, "loading the gain plug-in failed: %s\n", error.toRawUTF8());

    return ok;
}

constexpr int exchangeTimeoutMs = 80;
constexpr int maxMissedExchanges = 20;

/** Loads the gain plug-in again into a client whose worker has been stopped. */
bool reloadStopped (VstWorkerClient& client, const juce::String& uid)
{
    return client.isAlive() || loadGain (client, uid);
}

/** 1: the two workers' exchange, directly. */
bool benchWorkerExchange (const juce::String& uid, int blocks)
{
    VstWorkerClient first, second;

    if (! loadGain (first, uid) || ! loadGain (second, uid))
        return false;

    std::vector<float> block (1024);
    std::vector<double> ms;
    ms.reserve ((size_t) blocks);
    juce::String error;
    int missed = 0;

    for (int i = -200; i < blocks; ++i)
    {
        for (size_t s = 0; s < block.size(); ++s)
            block[s] = 0.25f * std::sin (0.01f * (float) (s + (size_t) i));

        const auto start = Clock::now();
        const auto sequence = (std::uint64_t) (i + 200);
        const auto exchanged = first.processF32 (block.data(), 512, sequence, error, exchangeTimeoutMs)
                            && second.processF32 (block.data(), 512, sequence, error, exchangeTimeoutMs);

        if (i >= 0)
            ms.push_back (std::chrono::duration<double, std::milli> (Clock::now() - start).count());

        if (exchanged)
            continue;

        // A worker whose exchange ran out of time is stopped by its client, as in the rack. The
        // miss stays in the figures (at its full wait) and the worker is started again, which a
        // stalled machine may need a few times; a worker that cannot be started ends the run.
        std::fprintf (stderr, "exchange %d missed: %s; the worker is started again\n", i, error.toRawUTF8());

        if (++missed > maxMissedExchanges || ! reloadStopped (first, uid) || ! reloadStopped (second, uid))
        {
            std::fprintf (stderr, "the exchange cannot go on after %d missed blocks\n", missed);
            return false;
        }
    }

    const auto f = figuresOf (ms);
    print ("exchange, 512 frames through 2 workers:", f, ms.size());
    std::printf ("    exchanges that ran out of their %d ms: %d\n", exchangeTimeoutMs, missed);
    std::printf ("    goal median <= 0.300 ms: %s   goal p99.9 <= 3.000 ms: %s\n", f.median <= 0.3 ? "met" : "MISSED",
                 f.p999 <= 3.0 ? "met" : "MISSED");
    return true;
}

/** A rack with the gain plug-in in both slots, prepared for 48 kHz / 512. */
struct RackSetup
{
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("vantrel-bench-rack-" + juce::Uuid().toDashedString().toStdString());
    vantrel::MasterVstRack rack;

    bool start (const juce::String& uid)
    {
        std::filesystem::create_directories (folder);
        vantrel::RackConfigContents contents;
        contents.slots[0] = { uid, {}, {}, {}, {}, true };
        contents.slots[1] = { uid, {}, {}, {}, {}, true };
        contents.searchFolders.add (vantrel::normalizeVstPath (gainBundle.getParentDirectory()));
        const auto configFile = juce::File (folder.string()).getChildFile ("master-vst.json");

        if (! vantrel::writeRackConfig (configFile, contents).ok)
            return false;

        rack.prepare (48000.0, 512);
        rack.start (configFile, workerProgram);

        for (int waited = 0; waited < 30000; waited += 5)
        {
            const auto status = rack.status();

            if (rack.catalogueGeneration() >= 1 && ! rack.isBusy())
            {
                if (status.slots[0].loaded && status.slots[1].loaded)
                    return true;

                std::fprintf (stderr, "slots did not load: %s / %s\n", status.slots[0].message.toRawUTF8(),
                              status.slots[1].message.toRawUTF8());
                return false;
            }

            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }

        return false;
    }

    ~RackSetup()
    {
        rack.stop();
        std::error_code error;
        std::filesystem::remove_all (folder, error);
    }
};

/** One device block through the rack, on this thread in the audio role as the device callback
    takes it. */
void processAsDevice (vantrel::MasterVstRack& rack, float* const* channels)
{
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
    rack.processBlock (channels, 2, 512);
}

/** Waits until the control thread has taken every block sent; false when it takes none for 10 s
    (it takes one within a block's time, or a worker's timeout when an exchange stalls). */
bool waitForExchange (vantrel::MasterVstRack& rack)
{
    const auto giveUp = Clock::now() + std::chrono::seconds (10);

    while (rack.blocksTaken() < rack.blocksSent())
    {
        if (Clock::now() > giveUp)
            return false;

        std::this_thread::yield();
    }

    return true;
}

/** 2 and 3: through the rack. */
bool benchRack (const juce::String& uid, int blocks, double pacedSeconds)
{
    RackSetup setup;

    if (! setup.start (uid))
        return false;

    auto& rack = setup.rack;
    std::vector<float> left (512), right (512);
    float* channels[] = { left.data(), right.data() };
    std::vector<double> ms;
    std::int64_t frame = 0;
    std::int64_t impulseAt = -1;
    std::int64_t heardAt = -1;

    // Round trips, with an impulse in the middle for the end-to-end delay.
    for (int i = 0; i < blocks; ++i, frame += 512)
    {
        std::fill (left.begin(), left.end(), 0.0f);
        std::fill (right.begin(), right.end(), 0.0f);

        if (i == blocks / 2)
        {
            impulseAt = frame + 100;
            left[100] = 1.0f;
        }

        const auto start = Clock::now();
        processAsDevice (rack, channels);

        for (int s = 0; s < 512 && heardAt < 0; ++s)
            if (impulseAt >= 0 && std::fabs (left[(size_t) s]) > 0.5f)
                heardAt = frame + s;

        if (! waitForExchange (rack))
        {
            std::fprintf (stderr, "the control thread stopped taking blocks\n");
            return false;
        }

        if (i >= 100)
            ms.push_back (std::chrono::duration<double, std::milli> (Clock::now() - start).count());
    }

    // Keep going until the impulse has come out.
    for (int i = 0; heardAt < 0 && i < 200; ++i, frame += 512)
    {
        std::fill (left.begin(), left.end(), 0.0f);
        processAsDevice (rack, channels);

        for (int s = 0; s < 512 && heardAt < 0; ++s)
            if (std::fabs (left[(size_t) s]) > 0.5f)
                heardAt = frame + s;

        waitForExchange (rack);
    }

    const auto status = rack.status();
    print ("rack round trip (block in -> processed back):", figuresOf (ms), ms.size());
    std::printf ("    control thread real-time scheduling: %s; longest exchange per slot %.3f / %.3f ms\n",
                 rack.controlThreadRealtime() ? "granted" : "refused", status.slots[0].maxProcessMs, status.slots[1].maxProcessMs);

    const auto delay = heardAt < 0 ? -1 : heardAt - impulseAt;
    std::printf ("end-to-end delay through the rack: %lld samples = bridge latency %d + plug-ins' processing delay %lld"
                 " (they report %d samples in all but do not delay; the dry fallback is delayed by %d)\n",
                 (long long) delay, rack.bridgeLatencySamples(), (long long) (delay - rack.bridgeLatencySamples()),
                 status.latencySum, rack.bridgeLatencySamples() + status.latencySum);

    // Paced like a device at 48 kHz / 512 with playback active: no waiting, only the clock.
    rack.setPlaybackActive (true);
    const auto before = rack.status().underruns;
    const auto period = std::chrono::microseconds (10667);
    const auto pacedBlocks = (int) (pacedSeconds * 48000.0 / 512.0);
    auto next = Clock::now();

    for (int i = 0; i < pacedBlocks; ++i)
    {
        for (size_t s = 0; s < 512; ++s)
            left[s] = right[s] = 0.1f * std::sin (0.02f * (float) (frame + (std::int64_t) s));

        processAsDevice (rack, channels);
        frame += 512;
        next += period;
        std::this_thread::sleep_until (next);
    }

    const auto after = rack.status();
    std::printf ("paced %.1f s (%d blocks of 512 at 48 kHz, playback active): underruns %llu, fault \"%s\"\n",
                 pacedSeconds, pacedBlocks, (unsigned long long) (after.underruns - before), after.faultText.toRawUTF8());
    rack.setPlaybackActive (false);

    // The impulse's block comes back processed (bridge latency) unless that one exchange missed
    // its deadline on a busy machine, when the dry fallback carries it (later by the plug-ins'
    // latency). Either is right; an impulse that never came out, or at any other delay, is not.
    const bool processed = delay == rack.bridgeLatencySamples();
    const bool dryFallback = delay == rack.bridgeLatencySamples() + status.latencySum;
    if (dryFallback)
        std::printf ("    the impulse's block missed its exchange and came through the dry fallback\n");
    return processed || dryFallback;
}
} // namespace

int main (int argc, char** argv)
{
    int blocks = 20000;
    double pacedSeconds = 5.0;

    for (int i = 1; i + 1 < argc; ++i)
    {
        if (std::strcmp (argv[i], "--blocks") == 0)
            blocks = std::max (1000, std::atoi (argv[i + 1]));
        else if (std::strcmp (argv[i], "--paced-seconds") == 0)
            pacedSeconds = std::max (0.5, std::atof (argv[i + 1]));
    }

    const auto uid = gainClassId();

    if (uid.isEmpty() || ! benchWorkerExchange (uid, blocks))
        return 1;

    return benchRack (uid, blocks / 4, pacedSeconds) ? 0 : 1;
}
