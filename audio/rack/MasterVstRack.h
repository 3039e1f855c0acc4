#pragma once

// Threads:
//  - message thread: start, stop and every request and query below (status, isBusy ...);
//  - the rack's control thread: requests, slot loads, saves, the block exchange, polling; the only
//    thread that touches the worker slots and their clients (long-lived workers must be started
//    on it: a worker ends when the thread that started it ends);
//  - the scan thread: one short-lived worker per bundle;
//  - the audio thread: processBlock, realtime-safe (no lock, no allocation, no system call).
// The mutex guards configurations, statuses, catalogue, folders, texts and the request queue; it
// is never held during a worker command or a file write, and the audio thread never takes it.

#include "audio/rack/RackBlockRing.h"
#include "audio/rack/RackConfigFile.h"
#include "audio/rack/VstRackRecords.h"
#include "audio/rack/VstWorkerClient.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vantrel
{
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

/** The running side of one slot; control thread only. */
struct VstRackWorkerSlot
{
    std::unique_ptr<VstWorkerClient> client;
    std::vector<std::array<float, 2>> dryDelay;   // latency + 1 pairs
    std::uint64_t dryDelayPosition = 0;
    std::int32_t latency = 0;
    float mix = 0.0f;
    std::uint64_t editRevision = 0;
    bool stateDirty = false;
    bool editorOpen = false;
};

/** The master bus's insert rack: two slots, each holding at most one VST3 effect in a worker
    process of its own. The message thread posts requests that the control thread carries out
    one at a time; the audio thread cuts the master bus into 512-frame blocks that the control
    thread sends through the workers and hands back a fixed bridge latency later, falling back to
    the equally delayed dry signal whenever a processed block is missing.

    Differences from a literal reading of the design, each for the show's sake:
    - while a slot loads, a save captures states or a reload waits, the master keeps passing the
      delayed dry signal (no jump ahead), and an epoch change drops only the blocks in flight,
      never the dry history (no silence);
    - after prepare the slots are always reloaded at the new rate, also when saving failed (with
      the last stored state); the save failure is reported on its own;
    - an automatic capture never refuses a start: a start during it is granted and the capture
      gives way; closing the editors marks a slot dirty only when its change count moved;
    - a captured state that changed marks the settings dirty until they are written, so a failed
      write is tried again. */
class MasterVstRack
{
public:
    /** Nanoseconds of a steady clock; the rack's periods (status polls, automatic saves, warm-up
        limit) follow it, so tests can pass their own. */
    using Clock = std::function<std::int64_t()>;

    static constexpr int numSlots = 2;
    static constexpr int maxRequests = 64;

    MasterVstRack();
    explicit MasterVstRack (Clock clock);
    MasterVstRack (Clock clock, MasterVstRackOptions options);
    ~MasterVstRack();   // stop()

    MasterVstRack (const MasterVstRack&) = delete;
    MasterVstRack& operator= (const MasterVstRack&) = delete;

    // ---- message thread ----------------------------------------------------------------------

    /** Reads the settings file and starts the control thread (which scans first, then loads the
        configured slots). An empty workerExecutable means "OrvaneVstHost" beside this program.
        Does nothing while the control thread runs. */
    void start (const juce::File& configFile, const juce::File& workerExecutable);

    /** Stops the control thread (which ends every worker and answers waiting saves). Not on the
        control thread. */
    void stop();

    bool choosePlugin (int slot, const juce::String& uid);
    bool setSlotEnabled (int slot, bool enabled);
    bool openEditor (int slot);
    void closeEditors();
    bool addSearchFolder (const juce::File& folder);
    bool removeSearchFolder (const juce::String& folder);
    void requestRescan();

    /** Captures the plug-in states and writes the settings, waiting at most 12 s (the options'
        saveWaitMs). */
    StoreResult saveAndWait();

    VstRackStatus status() const;

    /** A load, a reload or a queued slot request is under way: rack and output changes wait, and
        so do starts of media. An automatic state capture does not count. */
    bool isBusy() const;
    bool hasReadySlots() const;
    bool needsAttention() const;

    /** Any thread: requests posted and not yet taken by the control thread (diagnostics). */
    std::size_t queuedRequests() const;

    /** Any thread: stop() has been called since the last start (diagnostics). */
    bool isStopping() const noexcept { return stopRequested.load(); }

    /** Any thread: passes the control thread has finished. Once it has grown by 2, one whole
        pass began after the moment it was read (diagnostics). */
    std::uint64_t controlPasses() const noexcept { return passCount.load (std::memory_order_acquire); }

    /** 0 -> 1 when active, 1 -> 0 when not; returns the previous state (2 = capturing, left). */
    std::int32_t setPlaybackActive (bool active);

    /** Marks playback active before media starts: true from 0 or 1, and from 2 (the automatic
        capture then gives way). Always true. */
    bool tryMarkPlaybackActive();

    static juce::StringArray defaultVst3Folders();

    // ---- audio side --------------------------------------------------------------------------

    /** Before the device starts (not concurrent with processBlock): the bridge latency for the
        rate and the device block, a fresh dry history, a new epoch, faults cleared; then the
        slots are reloaded at the new rate. Allocates. */
    void prepare (double sampleRate, int maxBlockFrames);

    /** Audio thread, realtime-safe: passes the master bus (channel 0 left, 1 right) through the
        rack in place. */
    void processBlock (float* const* channels, int numChannels, int numSamples) noexcept;

    /** Any thread: the bridge latency in samples. */
    std::int32_t bridgeLatencySamples() const noexcept { return bridgeLatency.load (std::memory_order_relaxed); }

    /** Any thread: blocks the audio thread has handed to the control thread, and blocks the
        control thread has taken off that ring (processed or dropped). When the two are equal,
        every block sent so far is back in the inbound ring or was dropped. */
    std::uint64_t blocksSent() const noexcept { return blocksSentCount.load (std::memory_order_acquire); }
    std::uint64_t blocksTaken() const noexcept { return blocksTakenCount.load (std::memory_order_acquire); }

    /** Any thread: how many scan catalogues have been taken (the first one after the initial
        load of the slots). */
    std::uint64_t catalogueGeneration() const noexcept { return catalogueCount.load (std::memory_order_acquire); }

    /** Any thread: whether the control thread got real-time scheduling. */
    bool controlThreadRealtime() const noexcept { return realtimeGranted.load (std::memory_order_relaxed); }

private:
    enum class LoadOrigin
    {
        user,
        automatic
    };

    enum class CaptureMode
    {
        always,
        yieldToPlayback   // the automatic save: stops when playback becomes active
    };

    // Control thread.
    void controlLoop();
    bool post (VstRackRequest request);
    void handleRequest (VstRackRequest& request);
    void reloadAfterPrepare();
    void takeScanResults();
    void automaticSave();
    bool loadSlot (int slot, const VstRackSlot& configuration, LoadOrigin origin);
    bool runLoadChain (VstWorkerClient& client, const VstRackSlot& configuration, const VstPluginInfo& plugin,
                       VstRackSlot& loaded, std::int32_t& latency, juce::String& error);
    bool warmUp (VstWorkerClient& client, std::int32_t latency, juce::String& error);
    void bypassSlot (int slot, const juce::String& reason);
    void pollLiveStatus();
    bool pollSlotLiveStatus (int slot);
    void publishStatus();   // takes the mutex
    void publishStatusLocked();
    int moveBlocks();
    void exchangeBlock (RackBlock& block);
    void latchFault (std::int32_t code) noexcept;
    std::int64_t now() const { return clock(); }

    // Settings and scan.
    void loadConfig();
    StoreResult saveConfig (CaptureMode mode, bool* yielded = nullptr);
    StoreResult setSaveError (const juce::String& text);
    void startScan();
    void scan (juce::StringArray folders);

    Clock clock;
    const MasterVstRackOptions options;

    mutable std::mutex mutex;
    std::array<VstRackSlot, numSlots> slots;
    std::array<VstRackSlotStatus, numSlots> slotStatus;
    std::array<VstRackWorkerSlot, numSlots> workers;   // control thread only
    std::vector<VstPluginInfo> plugins;
    juce::StringArray searchFolders;
    juce::String message;
    juce::String saveError;
    std::deque<VstRackRequest> requests;
    std::vector<VstPluginInfo> scanResults;
    juce::String scanSummary;
    bool scanResultsReady = false;
    bool initialLoadPending = true;
    bool configCorrupt = false;
    bool configDirty = false;
    juce::File configFile;
    juce::File workerExecutable;
    std::thread controlThread;
    std::thread scanThread;   // control thread only

    std::atomic<bool> stopRequested { false };
    std::atomic<bool> scanCancel { false };
    std::atomic<bool> rescanRequested { false };
    std::atomic<bool> scanRunning { false };
    std::atomic<bool> loading { false };
    std::atomic<bool> capturing { false };
    std::atomic<bool> audioFault { false };
    std::atomic<bool> reloadPending { false };
    std::atomic<bool> reloadOwed { false };       // prepare's reload when the queue was full
    std::atomic<bool> configCorruptShown { false };
    std::atomic<bool> saveFailed { false };
    std::atomic<bool> controlRunning { false };
    std::atomic<bool> realtimeGranted { false };
    std::atomic<std::int32_t> playbackState { 0 };
    std::atomic<std::int32_t> faultCode { 0 };
    std::atomic<std::uint64_t> stateCaptures { 0 };
    std::atomic<std::int32_t> configuredSlots { 0 };
    std::atomic<std::int32_t> readySlots { 0 };
    std::atomic<std::int32_t> failedSlots { 0 };
    std::atomic<std::int32_t> pendingOperations { 0 };
    std::atomic<std::int32_t> latencySum { 0 };
    std::atomic<std::int32_t> scanDone { 0 };
    std::atomic<std::int32_t> scanTotal { 0 };
    std::atomic<double> sampleRate { 48000.0 };
    std::atomic<std::uint64_t> epoch { 1 };
    std::atomic<std::uint64_t> underruns { 0 };
    std::atomic<std::uint64_t> blocksSentCount { 0 };
    std::atomic<std::uint64_t> blocksTakenCount { 0 };
    std::atomic<std::uint64_t> catalogueCount { 0 };
    std::atomic<std::uint64_t> passCount { 0 };

    // Bridge (the rings and blocks live here, allocated once with the rack).
    RackBlockRing outboundRing;   // audio thread -> control thread
    RackBlockRing inboundRing;    // control thread -> audio thread
    std::atomic<std::int32_t> bridgeLatency { 2048 };
    std::vector<std::array<float, 2>> dryHistory;   // allocated by prepare
    RackBlock inputBlock;                          // audio thread
    RackBlock outputBlock;                         // audio thread
    RackBlock exchangeScratch;                     // control thread
    std::array<float, RackBlock::frames * 2> dryCopy {};   // control thread
    std::uint64_t lastEpochSeen = 0;
    std::uint64_t frameCounter = 0;
    std::uint64_t historyWritePosition = 0;
    std::uint64_t historyFrames = 0;   // frames written since prepare or since the rack was bypassed
    std::int32_t missedBlocks = 0;
    bool haveOutputBlock = false;
    float wetMix = 1.0f;

    std::int64_t lastLiveStatusPoll = 0;
    std::int64_t lastAutosaveCheck = 0;
};
} // namespace vantrel
