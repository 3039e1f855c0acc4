#pragma once

#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <future>
#include <memory>
#include <vector>

namespace vantrel
{
/** The configuration of one rack slot, as "master-vst.json" stores it. */
struct VstRackSlot
{
    juce::String uid;        // 32 hex digits (upper case when chosen in the program); empty = slot empty
    juce::String name;
    juce::String vendor;
    juce::String version;
    juce::String stateHex;   // the worker's state text; at most 0x2000000 characters, even length
    bool enabled = false;

    bool operator== (const VstRackSlot& other) const
    {
        return uid == other.uid && name == other.name && vendor == other.vendor && version == other.version
            && stateHex == other.stateHex && enabled == other.enabled;
    }

    bool operator!= (const VstRackSlot& other) const { return ! operator== (other); }
};

/** What the user interface and the diagnostics see of one slot. */
struct VstRackSlotStatus
{
    juce::String uid;
    juce::String name;
    juce::String message;          // failure or bypass reason; empty when healthy
    bool enabled = false;
    bool loaded = false;           // a worker exists for the slot and runs
    bool editorOpen = false;
    std::int32_t latency = 0;      // samples
    std::uint64_t processedBlocks = 0;
    std::uint64_t editRevision = 0;
    float inputPeakDb = -120.0f;
    float outputPeakDb = -120.0f;
    double warmupMs = 0.0;
    double maxProcessMs = 0.0;
};

/** One entry of the plug-in catalogue that the scan builds. */
struct VstPluginInfo
{
    juce::String uid;          // 32 upper-case hex digits
    juce::String name;
    juce::String vendor;
    juce::String version;
    juce::String bundlePath;   // normalised
    bool duplicate = false;    // the uid occurs in more than one entry: never loadable

    bool operator== (const VstPluginInfo& other) const
    {
        return uid == other.uid && name == other.name && vendor == other.vendor && version == other.version
            && bundlePath == other.bundlePath && duplicate == other.duplicate;
    }
};

/** A snapshot of the whole rack for the panel and the diagnostics. */
struct VstRackStatus
{
    std::array<VstRackSlotStatus, 2> slots;
    std::vector<VstPluginInfo> plugins;
    juce::StringArray searchFolders;
    juce::String message;      // the last failed save's text while there is one, else the status line
    juce::String faultText;
    bool scanning = false;
    bool busy = false;
    bool configCorrupt = false;
    bool audioFault = false;
    std::int32_t scanDone = 0;
    std::int32_t scanTotal = 0;
    std::int32_t bridgeLatency = 0;   // samples, 0 while no slot is configured
    std::int32_t latencySum = 0;
    std::uint64_t underruns = 0;
    std::uint64_t stateCaptures = 0;
};

/** One request from the message thread to the rack's control thread. */
struct VstRackRequest
{
    enum Kind : std::int32_t
    {
        choosePlugin = 0,
        setSlotEnabled = 1,
        openEditor = 2,
        closeEditors = 3,
        addSearchFolder = 4,
        removeSearchFolder = 5,
        saveAndWait = 6,
        reloadAfterPrepare = 7
    };

    std::int32_t kind = 0;
    std::int32_t slot = 0;
    juce::String text;
    bool value = false;
    std::shared_ptr<std::promise<StoreResult>> promise;   // kind 6 only
};
} // namespace vantrel
