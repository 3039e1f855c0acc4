#pragma once

#include "audio/output/JuceAudioAdapter.h"
#include "audio/rack/VstWorkerClient.h"
#include "support/CodePrinting.h"
#include "support/WaitUntil.h"

#include <juce_core/juce_core.h>

#include <chrono>
#include <string>
#include <thread>

namespace vantrel::test
{
/** A load that gives `seconds` of constant `level` on both channels at the requested rate. */
inline MediaLoader::LoadFunction constantMedia (double seconds, float level)
{
    return [seconds, level] (const MediaLoadRequest& request, CancelFlag) {
        auto media = std::make_shared<LoadedMedia>();
        auto pcm = std::make_shared<PreparedPcm>();
        pcm->left.assign ((size_t) (request.rate * seconds), level);
        pcm->right = pcm->left;
        pcm->sampleRate = request.rate;
        media->pcm = pcm;
        return media;
    };
}

/** The rack options of the adapter tests: the rack scans no folder of the machine's own, only
    the search folders a test gives it, and its workers, which share a busy machine, get the
    longest deadlines a command and a block can have. */
inline MasterVstRackOptions privateRackOptions()
{
    MasterVstRackOptions options;
    options.standardFolders = juce::StringArray();
    options.loadTimeoutMs = workerBounds::maxCommandTimeoutMs;
    options.stateTimeoutMs = workerBounds::maxCommandTimeoutMs;
    options.liveStatusTimeoutMs = workerBounds::maxCommandTimeoutMs;
    options.blockTimeoutMs = workerBounds::maxBlockTimeoutMs;
    options.saveWaitMs = 10 * workerBounds::maxCommandTimeoutMs;
    return options;
}

/** How long a test waits for something that takes milliseconds on an idle machine before it
    calls it a failure: long enough for threads of a starved machine. Waits end as soon as their
    condition holds, so a passing test never waits this long. */
constexpr int patienceMs = 120000;

/** Checks the condition every `stepMs` of real time (calling `idle` in between) until it holds
    or `maxMs` passed; the condition's last answer. */
template <typename Condition, typename Idle>
bool waitUntil (Condition condition, Idle idle, int maxMs = patienceMs, int stepMs = 1)
{
    return vantrel::testing::waitUntil (condition, std::chrono::milliseconds (maxMs), std::chrono::milliseconds (stepMs), idle);
}

template <typename Condition>
bool waitUntil (Condition condition)
{
    return waitUntil (condition, [] {});
}

/** Ticks the adapter every `stepMs` of real time until the condition holds or `maxMs` passed. */
template <typename Condition>
bool tickUntil (JuceAudioAdapter& adapter, Condition condition, int maxMs = patienceMs, int stepMs = 5)
{
    return waitUntil (condition, [&adapter] { adapter.tick(); }, maxMs, stepMs);
}

/** The adapter's view of its device, for failure messages. */
inline std::string describeDevice (JuceAudioAdapter& adapter)
{
    const auto& statistics = adapter.statistics();
    return "device " + std::string (adapter.hasDevice() ? "open" : "closed") + (adapter.isRunning() ? ", running" : "")
         + ", callbacks " + std::to_string (statistics.callbacks.load())
         + ", stop notifications " + std::to_string (statistics.stopNotifications.load())
         + ", device errors " + std::to_string (statistics.deviceErrors.load())
         + ", losses " + std::to_string (statistics.confirmedLossEvents.load())
         + ", longest gap " + std::to_string (statistics.maxCallbackGapMicros.load()) + " us"
         + ", MAIN at " + std::to_string (adapter.voiceStatus (1).position)
         + ", last error \"" + adapter.lastError().toStdString() + "\"";
}

/** Registers a stand-in file in `folder` for `key` (the load function decides what it sounds
    like), asks for it urgently and ticks until the loader's result was adopted. */
inline bool prepareStandIn (JuceAudioAdapter& adapter, const juce::File& folder, const std::string& key,
                            float gainDb = 0.0f)
{
    const auto file = folder.getChildFile (juce::String (key));
    if (! file.replaceWithText ("stand-in"))
        return false;
    adapter.registerMedia (key, file.getFullPathName(), readFileSignature (file), gainDb, {}, {});
    adapter.requestPrepare (key, true);
    return tickUntil (adapter, [&] { return adapter.loadedMedia (key) != nullptr; }, patienceMs, 2);
}
} // namespace vantrel::test
