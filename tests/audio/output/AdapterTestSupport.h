#pragma once

#include "audio/output/JuceAudioAdapter.h"

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

/** Ticks the adapter every `stepMs` of real time until the condition holds or `maxMs` passed. */
template <typename Condition>
bool tickUntil (JuceAudioAdapter& adapter, Condition condition, int maxMs, int stepMs = 5)
{
    for (int waited = 0; waited < maxMs; waited += stepMs)
    {
        if (condition())
            return true;
        adapter.tick();
        std::this_thread::sleep_for (std::chrono::milliseconds (stepMs));
    }
    return condition();
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
    return tickUntil (adapter, [&] { return adapter.loadedMedia (key) != nullptr; }, 5000, 2);
}
} // namespace vantrel::test
