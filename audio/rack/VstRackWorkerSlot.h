#pragma once

// Control thread only: the control thread creates, uses and ends every slot worker.

#include "audio/rack/RackBlockRing.h"
#include "audio/rack/VstWorkerClient.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel
{
/** What asking a worker for its plug-in state gave. */
struct WorkerStateReply
{
    enum class Outcome
    {
        captured,   // `stateHex` holds the state
        tooLarge,   // larger than the program takes, or not a state text: the worker keeps running
        failed      // `error` is "SAVE_STATE: " + the client's error; the worker may have ended
    };

    Outcome outcome = Outcome::failed;
    juce::String stateHex;
    juce::String error;
};

/** Control thread: "SAVE_STATE" on `client`, with `timeoutMs`. */
WorkerStateReply requestWorkerState (VstWorkerClient& client, int timeoutMs);

/** The running side of one rack slot: its worker, the delay line that keeps the slot's dry
    signal in time with its processed signal, and the slot's dry/processed crossfade. */
struct VstRackWorkerSlot
{
    /** What one block through the slot gave. */
    struct BlockResult
    {
        bool processed = false;      // the worker processed the block
        bool workerFailed = false;   // the slot has a worker and the exchange failed: bypass it with `error`
        juce::String error;
        double callMs = 0.0;         // the worker exchange, timed
        float inputPeak = 0.0f;      // before the slot
        float outputPeak = 0.0f;     // after the crossfade, when processed
    };

    /** No worker and no latency to keep: blocks pass the slot untouched. */
    bool passesUntouched() const noexcept { return client == nullptr && latency == 0; }

    /** The plug-in latency becomes `samples`; the dry delay line starts again from silence. */
    void resetDryDelay (std::int32_t samples);

    /** Sends `block` through the worker in place (with `timeoutMs`), and crossfades towards the
        processed signal when that succeeded and the slot is enabled, else towards the dry signal
        delayed by the latency. Without a worker, or when the exchange fails, the block becomes
        that delayed dry signal. */
    BlockResult process (RackBlock& block, bool enabled, float crossfadeStep, int timeoutMs);

    std::unique_ptr<VstWorkerClient> client;
    std::vector<std::array<float, 2>> dryDelay;   // latency + 1 pairs
    std::uint64_t dryDelayPosition = 0;
    std::int32_t latency = 0;                     // samples
    float mix = 0.0f;                             // 0 dry .. 1 processed
    std::uint64_t editRevision = 0;               // the worker's change count last seen
    bool stateDirty = false;                      // the plug-in state may differ from the stored one
    bool reloadRequested = false;                 // the plug-in asked to be loaded again
    bool editorOpen = false;

private:
    std::array<float, RackBlock::frames * 2> dryBlock {};   // the block's dry copy, delayed by the latency
};
} // namespace vantrel
