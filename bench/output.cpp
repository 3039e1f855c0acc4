// The road from a GO to the device buffer on a private JACK dummy server (48 kHz, 512 frames):
// the time from a submitted GO to the block that carries the track's first samples, the
// callback's own cost with two tracks and nine pads playing, and the callbacks over budget.

#include "audio/output/JuceAudioAdapter.h"
#include "support/JackDummyServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::PadAudioCommand;
using orvane::audio::PadAudioCommandKind;
using orvane::audio::SinkAnswer;
using Clock = std::chrono::steady_clock;

vantrel::MediaLoader::LoadFunction constantMedia (double seconds)
{
    return [seconds] (const vantrel::MediaLoadRequest& request, vantrel::CancelFlag) {
        auto media = std::make_shared<vantrel::LoadedMedia>();
        auto pcm = std::make_shared<vantrel::PreparedPcm>();
        pcm->left.assign ((size_t) (request.rate * seconds), 0.1f);
        pcm->right = pcm->left;
        pcm->sampleRate = request.rate;
        media->pcm = pcm;
        return media;
    };
}

bool prepare (vantrel::JuceAudioAdapter& adapter, const juce::File& folder, const std::string& key)
{
    const auto file = folder.getChildFile (juce::String (key));
    file.replaceWithText ("stand-in");
    adapter.registerMedia (key, file.getFullPathName(), vantrel::readFileSignature (file), 0.0f, {}, {});
    adapter.requestPrepare (key, true);

    for (int i = 0; i < 2000 && adapter.loadedMedia (key) == nullptr; ++i)
    {
        adapter.tick();
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }

    return adapter.loadedMedia (key) != nullptr;
}

/** The rack is never started here; should it be, it scans no folder of the machine's own. */
vantrel::MasterVstRackOptions noMachineFolders()
{
    vantrel::MasterVstRackOptions options;
    options.standardFolders = juce::StringArray();
    return options;
}

double percentile (std::vector<double> values, double p)
{
    std::sort (values.begin(), values.end());
    return values[std::min (values.size() - 1, (size_t) (p * (double) (values.size() - 1) + 0.5))];
}

void tickFor (vantrel::JuceAudioAdapter& adapter, std::chrono::milliseconds duration)
{
    const auto end = Clock::now() + duration;
    while (Clock::now() < end)
    {
        adapter.tick();
        std::this_thread::sleep_for (std::chrono::milliseconds (33));   // the view's 30 Hz timer
    }
}
} // namespace

int main (int argc, char** argv)
{
    int budgetSeconds = 120;
    for (int i = 1; i < argc; ++i)
        if (std::string (argv[i]).rfind ("--seconds=", 0) == 0)
            budgetSeconds = std::max (1, std::atoi (argv[i] + 10));

    if (! vantrel::test::JackDummyServer::installed())
    {
        std::printf ("jackd is not installed: the output benchmark is skipped\n");
        return 0;
    }

    vantrel::test::JackDummyServer server;
    if (! server.start())
    {
        std::printf ("the JACK dummy server did not start\n");
        return 1;
    }

    const auto folder = juce::File::createTempFile ("bench-output");
    folder.createDirectory();
    int exitCode = 0;

    {
        vantrel::JuceAudioAdapter adapter (constantMedia (600.0), [] { return std::int64_t { 0 }; }, noMachineFolders());
        const auto opened = adapter.openOutput ({ "JACK", "system", "JACK:system", 0.0, 0, 0 }, true);

        if (! opened.ok || ! prepare (adapter, folder, "row-a") || ! prepare (adapter, folder, "row-b"))
        {
            std::printf ("could not open the JACK output or prepare the media: %s\n", opened.message.toRawUTF8());
            exitCode = 1;
        }
        else
        {
            // GO to first samples: each GO starts a fresh track as MAIN; the engine publishes the
            // voice's position at the end of the callback that wrote its first block.
            const double blockMs = 1000.0 * 512.0 / adapter.sampleRate();
            std::vector<double> latenciesMs;
            std::int64_t token = 0;

            for (int go = 0; go < 200; ++go)
            {
                const std::string key = (go % 2 == 0) ? "row-a" : "row-b";
                ++token;
                const auto start = Clock::now();

                if (adapter.submit (AudioCommand { AudioCommandKind::goFromSilence, key, 0.0, token }) != SinkAnswer::accepted)
                {
                    std::printf ("GO %d was refused: %s\n", go, adapter.lastError().toRawUTF8());
                    exitCode = 1;
                    break;
                }

                bool sounded = false;
                while (Clock::now() - start < std::chrono::seconds (2))
                {
                    const auto status = adapter.voiceStatus (1);
                    if (status.playToken == token && status.position > 0)
                    {
                        sounded = true;
                        break;
                    }
                    std::this_thread::sleep_for (std::chrono::microseconds (50));
                }

                latenciesMs.push_back (std::chrono::duration<double, std::milli> (Clock::now() - start).count());
                if (! sounded)
                {
                    std::printf ("GO %d did not sound within 2 s\n", go);
                    exitCode = 1;
                    break;
                }

                adapter.submit (AudioCommand { AudioCommandKind::stopMain, key, 0.0, 0 });
                adapter.tick();
                std::this_thread::sleep_for (std::chrono::milliseconds (3 + go % 7));   // GOs at every phase of a block
            }

            if (exitCode == 0)
                std::printf ("GO to first samples in the device buffer, %zu GOs (block %.2f ms): median %.2f ms  p99 %.2f ms  max %.2f ms\n"
                             "    goal p99 <= one block + 1 ms = %.2f ms: %s\n",
                             latenciesMs.size(), blockMs, percentile (latenciesMs, 0.5), percentile (latenciesMs, 0.99),
                             percentile (latenciesMs, 1.0), blockMs + 1.0,
                             percentile (latenciesMs, 0.99) <= blockMs + 1.0 ? "met" : "not met");

            // Two tracks (MAIN and OUTGOING) and nine pads for the rest of the run.
            for (int pad = 1; pad <= 9 && exitCode == 0; ++pad)
                if (! prepare (adapter, folder, vantrel::padMediaKey (1, pad)))
                    exitCode = 1;

            if (exitCode == 0)
            {
                adapter.submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-a"), 0.0, ++token });
                adapter.submit (AudioCommand { AudioCommandKind::goHandOver, std::string ("row-b"), 0.0, ++token });
                for (int pad = 1; pad <= 9; ++pad)
                    adapter.submit (PadAudioCommand { PadAudioCommandKind::start, 1, pad });

                tickFor (adapter, std::chrono::milliseconds (500));
                const auto& stats = adapter.statistics();
                const auto callbacksBefore = stats.callbacks.load();
                const auto overrunsBefore = stats.callbackBudgetOverruns.load();

                tickFor (adapter, std::chrono::seconds (budgetSeconds));

                const auto callbacks = stats.callbacks.load() - callbacksBefore;
                const auto overruns = stats.callbackBudgetOverruns.load() - overrunsBefore;
                std::printf ("%d s with 2 tracks and 9 pads playing: %lld callbacks, %lld over budget (goal 0), "
                             "longest callback render %lld us (%.2f %% of a block)\n",
                             budgetSeconds, (long long) callbacks, (long long) overruns,
                             (long long) stats.maxRenderMicros.load(), 100.0 * (double) stats.maxRenderMicros.load() / (1000.0 * blockMs));
            }
        }

        adapter.closeDevice();
    }

    folder.deleteRecursively();
    server.stop();
    return exitCode;
}
