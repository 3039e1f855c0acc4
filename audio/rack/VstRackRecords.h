#pragma once

#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

namespace vantrel
{
/** Nanoseconds of a steady clock. The rack's periods (status polls, automatic saves, the warm-up
    limit) follow it, so tests can pass their own. */
using RackClock = std::function<std::int64_t()>;

/** What the owner of a rack fixes when making it. The program takes the defaults; tests scan
    their own folders only and give their stand-in workers, which share a busy machine, more time
    (the client clamps a command's deadline to 15,000 ms and a block's to 1,000 ms). */
struct MasterVstRackOptions
{
    /** The folders scanned before the search folders; none given: the system's VST3 folders
        (defaultVst3Folders, read at each scan). */
    std::optional<juce::StringArray> standardFolders;
    int loadTimeoutMs = 7000;        // LOAD_VST3
    int stateTimeoutMs = 5000;       // LOAD_STATE and SAVE_STATE
    int liveStatusTimeoutMs = 80;    // LIVE_STATUS, every 500 ms
    int blockTimeoutMs = 80;         // one block of the running exchange
    int saveWaitMs = 12000;          // how long saveAndWait waits for its save
};

/** Whether anything sounds, as the rack has been told; setPlaybackActive returns the state it
    found. */
enum class RackPlaybackState : std::int32_t
{
    idle = 0,       // nothing sounds: automatic saves may run, search folders may change
    active = 1,     // a track or a pad sounds: lost blocks latch faults; no automatic save or rescan
    capturing = 2   // the control thread captures the plug-in states for an automatic save
};

/** Why the bridge fell back to the delayed dry signal for good (until prepare or a successful
    slot load). The first fault wins. The number is the fault's code. */
enum class RackFault : std::int32_t
{
    none = 0,
    inputQueueOverflow = 1,      // the audio thread found the outbound ring full
    sequenceDiscontinuity = 2,   // a processed block newer than the one due arrived
    missedDeadlines = 3,         // three blocks in a row had no processed block
    outputQueueOverflow = 4      // the control thread found the inbound ring full
};

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
    bool failedInScan = false;     // bypassed because its bundle failed to load in the scan
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

/** A bundle that the scan could not list: its worker could not start, timed out, ended or
    refused. */
struct VstScanFailure
{
    juce::String bundlePath;   // normalised
    juce::String reason;       // the worker client's text
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
    enum class Kind : std::int32_t
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

    Kind kind = Kind::choosePlugin;
    std::int32_t slot = 0;
    juce::String text;
    bool value = false;
    std::shared_ptr<std::promise<StoreResult>> promise;   // saveAndWait only
};
} // namespace vantrel
