#include "audio/rack/MasterVstRack.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/Vst3BundleSearch.h"
#include "audio/rack/VstPaths.h"
#include "platform/ThreadPriority.h"
#include "platform/WorkerIo.h"

#include <chrono>
#include <optional>

namespace vantrel
{
namespace
{
constexpr std::int64_t nanosPerMs = 1000000;
constexpr std::int64_t liveStatusPeriod = 500 * nanosPerMs;
constexpr std::int64_t autosavePeriod = 2000 * nanosPerMs;

std::int64_t steadyNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool isSlotIndex (int slot)
{
    return slot == 0 || slot == 1;
}

bool countsAsPending (std::int32_t kind)
{
    return kind == VstRackRequest::choosePlugin || kind == VstRackRequest::setSlotEnabled
        || kind == VstRackRequest::openEditor || kind == VstRackRequest::reloadAfterPrepare;
}
} // namespace

MasterVstRack::MasterVstRack()
    : MasterVstRack (steadyNanos)
{
}

MasterVstRack::MasterVstRack (Clock clockToUse)
    : MasterVstRack (std::move (clockToUse), {})
{
}

MasterVstRack::MasterVstRack (Clock clockToUse, MasterVstRackOptions optionsToUse)
    : clock (std::move (clockToUse)), options (std::move (optionsToUse))
{
}

MasterVstRack::~MasterVstRack()
{
    stop();
}

juce::StringArray MasterVstRack::defaultVst3Folders()
{
    return vantrel::defaultVst3Folders();
}

void MasterVstRack::start (const juce::File& configFileToUse, const juce::File& workerExecutableToUse)
{
    if (controlThread.joinable())
        return;

    // A worker that dies while we write to it must cost a failed write, not this program.
    platform::ignoreBrokenPipes();

    configFile = configFileToUse;
    workerExecutable = workerExecutableToUse != juce::File()
                           ? workerExecutableToUse
                           : juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("OrvaneVstHost");
    loadConfig();
    publishStatus();

    bool corrupt = false;
    {
        const std::lock_guard<std::mutex> lock (mutex);
        corrupt = configCorrupt;
    }

    reloadPending = configuredSlots.load() > 0 && ! corrupt;
    rescanRequested = ! corrupt;
    stopRequested = false;
    scanCancel = false;
    lastLiveStatusPoll = now();
    lastAutosaveCheck = now();
    controlRunning = true;
    controlThread = std::thread ([this] { controlLoop(); });
}

void MasterVstRack::stop()
{
    stopRequested = true;
    scanCancel = true;

    if (controlThread.joinable())
    {
        jassert (controlThread.get_id() != std::this_thread::get_id());
        controlThread.join();
    }

    readySlots = 0;
}

bool MasterVstRack::post (VstRackRequest request)
{
    const std::lock_guard<std::mutex> lock (mutex);

    if (stopRequested.load() || requests.size() >= (size_t) maxRequests)
        return false;

    if (countsAsPending (request.kind))
        ++pendingOperations;

    requests.push_back (std::move (request));
    return true;
}

bool MasterVstRack::choosePlugin (int slot, const juce::String& uid)
{
    if (configCorruptShown || loading || reloadPending || pendingOperations.load() > 0 || playbackState.load() == 2)
        return false;

    if (! isSlotIndex (slot) || (uid.isNotEmpty() && ! isVstUid (uid)))
        return false;

    return post ({ VstRackRequest::choosePlugin, slot, uid.toUpperCase(), false, nullptr });
}

bool MasterVstRack::setSlotEnabled (int slot, bool enabled)
{
    if (configCorruptShown || ! isSlotIndex (slot))
        return false;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (slots[(size_t) slot].uid.isEmpty())
            return false;
    }

    return post ({ VstRackRequest::setSlotEnabled, slot, {}, enabled, nullptr });
}

bool MasterVstRack::openEditor (int slot)
{
    if (! isSlotIndex (slot))
        return false;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (! slotStatus[(size_t) slot].loaded)
            return false;
    }

    return post ({ VstRackRequest::openEditor, slot, {}, false, nullptr });
}

void MasterVstRack::closeEditors()
{
    post ({ VstRackRequest::closeEditors, 0, {}, false, nullptr });
}

bool MasterVstRack::addSearchFolder (const juce::File& folder)
{
    if (configCorruptShown || playbackState.load() == 1)
        return false;

    const auto path = normalizeVstPath (folder);

    if (path.isEmpty() || ! juce::File (path).isDirectory() || ! isValidWorkerField (path))
        return false;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (searchFolders.size() >= maxRackSearchFolders && ! searchFolders.contains (path))
            return false;
    }

    return post ({ VstRackRequest::addSearchFolder, 0, path, false, nullptr });
}

bool MasterVstRack::removeSearchFolder (const juce::String& folder)
{
    if (configCorruptShown || playbackState.load() == 1)
        return false;

    return post ({ VstRackRequest::removeSearchFolder, 0, folder, false, nullptr });
}

void MasterVstRack::requestRescan()
{
    if (! configCorruptShown && playbackState.load() != 1)
        rescanRequested = true;
}

StoreResult MasterVstRack::saveAndWait()
{
    if (! controlThread.joinable())
        return StoreResult::success();

    auto promise = std::make_shared<std::promise<StoreResult>>();
    auto future = promise->get_future();

    if (! post ({ VstRackRequest::saveAndWait, 0, {}, false, promise }))
        return StoreResult::failure (rackText::text (rackText::saveQueueFull));

    if (future.wait_for (std::chrono::milliseconds (options.saveWaitMs)) != std::future_status::ready)
        return StoreResult::failure (rackText::text (rackText::saveTimeout));

    return future.get();
}

VstRackStatus MasterVstRack::status() const
{
    VstRackStatus snapshot;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        snapshot.slots = slotStatus;
        snapshot.plugins = plugins;
        snapshot.searchFolders = searchFolders;
        snapshot.message = saveError.isNotEmpty() ? saveError : message;
        snapshot.configCorrupt = configCorrupt;
    }

    snapshot.faultText = rackText::faultText (faultCode.load());
    snapshot.scanning = scanRunning;
    snapshot.busy = isBusy();
    snapshot.audioFault = audioFault;
    snapshot.scanDone = scanDone;
    snapshot.scanTotal = scanTotal;
    snapshot.bridgeLatency = configuredSlots.load() > 0 ? bridgeLatency.load() : 0;
    snapshot.latencySum = latencySum;
    snapshot.underruns = underruns;
    snapshot.stateCaptures = stateCaptures;
    return snapshot;
}

std::size_t MasterVstRack::queuedRequests() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return requests.size();
}

bool MasterVstRack::isBusy() const
{
    return loading || reloadPending || pendingOperations.load() > 0;
}

bool MasterVstRack::hasReadySlots() const
{
    return readySlots.load() >= 1 && ! audioFault;
}

bool MasterVstRack::needsAttention() const
{
    return audioFault || failedSlots.load() > 0 || configCorruptShown || saveFailed;
}

std::int32_t MasterVstRack::setPlaybackActive (bool active)
{
    auto expected = active ? 0 : 1;
    playbackState.compare_exchange_strong (expected, active ? 1 : 0);
    return expected;
}

bool MasterVstRack::tryMarkPlaybackActive()
{
    // From idle, and from an automatic capture (which then gives way to the show).
    for (auto state = playbackState.load(); state != 1;)
        if (playbackState.compare_exchange_weak (state, 1))
            break;

    return true;
}

void MasterVstRack::controlLoop()
{
    realtimeGranted = platform::tryRealtimePriority();

    while (! stopRequested)
    {
        const auto passStart = std::chrono::steady_clock::now();
        bool worked = false;

        if (rescanRequested.exchange (false))
        {
            if (scanRunning)
                rescanRequested = true;
            else
                startScan();
        }

        if (reloadOwed.exchange (false))
        {
            reloadAfterPrepare();
            --pendingOperations;
            worked = true;
        }
        else
        {
            std::optional<VstRackRequest> request;

            {
                const std::lock_guard<std::mutex> lock (mutex);

                if (! requests.empty())
                {
                    request = std::move (requests.front());
                    requests.pop_front();
                }
            }

            if (request.has_value())
            {
                handleRequest (*request);
                worked = true;
            }
        }

        takeScanResults();

        if (moveBlocks() > 0)
            worked = true;

        if (now() - lastLiveStatusPoll > liveStatusPeriod)
        {
            pollLiveStatus();
            lastLiveStatusPoll = now();
        }

        automaticSave();
        passCount.fetch_add (1, std::memory_order_release);

        if (! worked)
            std::this_thread::sleep_until (passStart + std::chrono::milliseconds (1));
    }

    scanCancel = true;

    if (scanThread.joinable())
        scanThread.join();

    for (auto& worker : workers)
        worker = VstRackWorkerSlot();

    {
        const std::lock_guard<std::mutex> lock (mutex);

        for (auto& request : requests)
        {
            if (request.promise != nullptr)
                request.promise->set_value (StoreResult::failure (rackText::text (rackText::stopped)));

            if (countsAsPending (request.kind))
                --pendingOperations;
        }

        requests.clear();
    }

    publishStatus();

    if (realtimeGranted)
        platform::restoreNormalPriority();

    controlRunning = false;
}

void MasterVstRack::takeScanResults()
{
    bool initialLoad = false;
    std::array<VstRackSlot, numSlots> configurations;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (! scanResultsReady)
            return;

        plugins = std::move (scanResults);
        scanResults.clear();
        message = scanSummary;
        scanResultsReady = false;
        initialLoad = initialLoadPending;
        initialLoadPending = false;
        configurations = slots;
    }

    if (! initialLoad)
    {
        ++catalogueCount;
        return;
    }

    // The first catalogue is there: load every configured slot, enabled or not.
    for (int slot = 0; slot < numSlots; ++slot)
        if (configurations[(size_t) slot].uid.isNotEmpty())
            loadSlot (slot, configurations[(size_t) slot], LoadOrigin::automatic);

    publishStatus();
    reloadPending = false;
    ++epoch;
    ++catalogueCount;
}

void MasterVstRack::automaticSave()
{
    if (playbackState.load() == 1 || now() - lastAutosaveCheck <= autosavePeriod)
        return;

    bool dirty = false;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        dirty = configDirty;
    }

    for (const auto& worker : workers)
        dirty = dirty || worker.stateDirty;

    auto idle = 0;

    if (dirty && playbackState.compare_exchange_strong (idle, 2))
    {
        // The audio keeps the delayed dry signal while the states are captured.
        capturing = true;
        ++stateCaptures;
        bool yielded = false;
        const auto result = saveConfig (CaptureMode::yieldToPlayback, &yielded);

        if (! result.ok && ! yielded)
        {
            const std::lock_guard<std::mutex> lock (mutex);
            message = result.message;
        }

        ++epoch;
        capturing = false;
        auto busy = 2;
        playbackState.compare_exchange_strong (busy, 0);
    }

    lastAutosaveCheck = now();
}
} // namespace vantrel
