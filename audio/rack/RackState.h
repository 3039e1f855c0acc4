#pragma once

// What the parts of the master rack share. The members under `mutex` are written by the control
// thread (and by start before the control thread runs) and read by the message thread's
// snapshots; the mutex is never held during a worker command or a file write, and the audio
// thread never takes it. The atomics are the flags and counts that other threads read without
// the mutex: the audio thread reads configuredSlots, latencySum, loading, capturing,
// reloadPending and playbackState at the top of each device block.

#include "audio/rack/VstRackRecords.h"

#include <juce_core/juce_core.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vantrel
{
struct RackState
{
    static constexpr int numSlots = 2;

    static bool isSlotIndex (int slot) noexcept { return slot == 0 || slot == 1; }

    /** Under the mutex: the status line becomes `text`. */
    void setMessage (const juce::String& text)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        message = text;
    }

    bool isPlaying() const noexcept { return playbackState.load() == RackPlaybackState::active; }

    mutable std::mutex mutex;
    std::array<VstRackSlot, numSlots> slots;             // the configurations, as the settings file holds them
    std::array<VstRackSlotStatus, numSlots> slotStatus;
    std::vector<VstPluginInfo> plugins;                  // the catalogue of the last finished scan
    std::vector<VstScanFailure> scanFailures;            // the bundles that scan could not list
    juce::StringArray searchFolders;                     // at most 16, normalised
    juce::String message;                                // the rack's status line
    juce::String saveError;                              // the last failed save's text; empty after a good save
    bool initialLoadPending = true;                      // the configured slots wait for the first catalogue
    bool configCorrupt = false;                          // set only by reading a damaged settings file
    bool configDirty = false;                            // the settings changed since the last good save

    std::atomic<bool> stopRequested { false };
    std::atomic<bool> rescanRequested { false };
    std::atomic<bool> loading { false };                 // a slot load runs
    std::atomic<bool> capturing { false };               // an automatic save captures the states
    std::atomic<bool> reloadPending { false };           // configured slots wait for their (re)load
    std::atomic<bool> configCorruptShown { false };      // the published copy of configCorrupt
    std::atomic<bool> saveFailed { false };
    std::atomic<RackPlaybackState> playbackState { RackPlaybackState::idle };
    std::atomic<std::uint64_t> stateCaptures { 0 };      // automatic saves started

    // Refreshed with the slot status.
    std::atomic<std::int32_t> configuredSlots { 0 };     // slots with a class id
    std::atomic<std::int32_t> readySlots { 0 };          // configured, enabled, loaded, and no audio fault
    std::atomic<std::int32_t> failedSlots { 0 };         // configured slots with a failure or bypass text
    std::atomic<std::int32_t> latencySum { 0 };          // the configured slots' plug-in latencies, samples
};
} // namespace vantrel
