#include "audio/rack/MasterVstRack.h"

#include "audio/rack/RackConfigFile.h"
#include "audio/rack/RackTexts.h"
#include "audio/rack/Vst3BundleSearch.h"
#include "audio/rack/VstPaths.h"
#include "audio/rack/VstWorkerClient.h"
#include "platform/ThreadContract.h"
#include "platform/ThreadPriority.h"
#include "platform/WorkerIo.h"
#include "platform/ThreadName.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>

namespace vantrel
{
namespace
{
using Kind = VstRackRequest::Kind;

constexpr std::int64_t nanosPerMs = 1000000;
constexpr std::int64_t liveStatusPeriod = 500 * nanosPerMs;
constexpr std::int64_t autosavePeriod = 2000 * nanosPerMs;
constexpr int blocksPerPass = 8;

std::int64_t steadyNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
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

// ---- message thread ---------------------------------------------------------------------------

void MasterVstRack::start (const juce::File& configFile, const juce::File& workerExecutable)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (controlThread.joinable())
        return;

    // A worker that dies while we write to it must cost a failed write, not this program.
    platform::ignoreBrokenPipes();

    workers.setWorkerProgram (workerExecutable != juce::File()
                                  ? workerExecutable
                                  : juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("OrvaneVstHost"));
    settings.load (configFile);
    workers.publishStatus();

    bool corrupt = false;
    {
        const std::lock_guard<std::mutex> lock (state.mutex);
        corrupt = state.configCorrupt;
    }

    state.reloadPending = state.configuredSlots.load() > 0 && ! corrupt;
    state.rescanRequested = ! corrupt;
    state.stopRequested = false;
    lastLiveStatusPoll = now();
    lastAutosaveCheck = now();
    controlRunning = true;
    controlThread = std::thread ([this] { platform::nameCurrentThread ("rack control"); controlLoop(); });
}

void MasterVstRack::stop()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    state.stopRequested = true;
    wakeControlThread();
    scan.cancel();

    if (controlThread.joinable())
    {
        jassert (controlThread.get_id() != std::this_thread::get_id());
        controlThread.join();
    }

    state.readySlots = 0;
}

bool MasterVstRack::choosePlugin (int slot, const juce::String& classId)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (state.configCorruptShown || state.loading || state.reloadPending || requests.pendingOperations() > 0
        || state.playbackState.load() == RackPlaybackState::capturing)
        return false;

    if (! RackState::isSlotIndex (slot) || (classId.isNotEmpty() && ! isVstUid (classId)))
        return false;

    return post ({ Kind::choosePlugin, slot, classId.toUpperCase(), false, nullptr });
}

bool MasterVstRack::setSlotEnabled (int slot, bool enabled)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (state.configCorruptShown || ! RackState::isSlotIndex (slot))
        return false;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        if (state.slots[(std::size_t) slot].uid.isEmpty())
            return false;
    }

    return post ({ Kind::setSlotEnabled, slot, {}, enabled, nullptr });
}

bool MasterVstRack::openEditor (int slot)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (! RackState::isSlotIndex (slot))
        return false;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        if (! state.slotStatus[(std::size_t) slot].loaded)
            return false;
    }

    return post ({ Kind::openEditor, slot, {}, false, nullptr });
}

void MasterVstRack::closeEditors()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    post ({ Kind::closeEditors, 0, {}, false, nullptr });
}

bool MasterVstRack::addSearchFolder (const juce::File& folder)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (state.configCorruptShown || state.isPlaying())
        return false;

    const auto path = normalizeVstPath (folder);

    if (path.isEmpty() || ! juce::File (path).isDirectory() || ! isValidWorkerField (path))
        return false;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        if (state.searchFolders.size() >= maxRackSearchFolders && ! state.searchFolders.contains (path))
            return false;
    }

    return post ({ Kind::addSearchFolder, 0, path, false, nullptr });
}

bool MasterVstRack::removeSearchFolder (const juce::String& folder)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (state.configCorruptShown || state.isPlaying())
        return false;

    return post ({ Kind::removeSearchFolder, 0, folder, false, nullptr });
}

void MasterVstRack::requestRescan()
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (! state.configCorruptShown && ! state.isPlaying())
    {
        state.rescanRequested = true;
        wakeControlThread();
    }
}

StoreResult MasterVstRack::saveAndWait()
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (! controlThread.joinable())
        return StoreResult::success();

    auto promise = std::make_shared<std::promise<StoreResult>>();
    auto future = promise->get_future();

    if (! post ({ Kind::saveAndWait, 0, {}, false, promise }))
        return StoreResult::failure (rackText::text (rackText::saveQueueFull));

    if (future.wait_for (std::chrono::milliseconds (options.saveWaitMs)) != std::future_status::ready)
        return StoreResult::failure (rackText::text (rackText::saveTimeout));

    return future.get();
}

VstRackStatus MasterVstRack::status() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    VstRackStatus snapshot;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);
        snapshot.slots = state.slotStatus;
        snapshot.plugins = state.plugins;
        snapshot.searchFolders = state.searchFolders;
        snapshot.message = state.saveError.isNotEmpty() ? state.saveError : state.message;
        snapshot.configCorrupt = state.configCorrupt;
    }

    snapshot.faultText = rackText::faultText (bridge.fault());
    snapshot.scanning = scan.isRunning();
    snapshot.busy = isBusy();
    snapshot.audioFault = bridge.audioFault();
    snapshot.scanDone = scan.bundlesDone();
    snapshot.scanTotal = scan.bundlesTotal();
    snapshot.bridgeLatency = state.configuredSlots.load() > 0 ? bridge.latencySamples() : 0;
    snapshot.latencySum = state.latencySum;
    snapshot.underruns = bridge.underruns();
    snapshot.stateCaptures = state.stateCaptures;
    return snapshot;
}

bool MasterVstRack::isBusy() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return state.loading || state.reloadPending || requests.pendingOperations() > 0;
}

bool MasterVstRack::hasReadySlots() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return state.readySlots.load() >= 1 && ! bridge.audioFault();
}

bool MasterVstRack::needsAttention() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return bridge.audioFault() || state.failedSlots.load() > 0 || state.configCorruptShown || state.saveFailed;
}

RackPlaybackState MasterVstRack::setPlaybackActive (bool active)
{
    auto expected = active ? RackPlaybackState::idle : RackPlaybackState::active;
    state.playbackState.compare_exchange_strong (expected, active ? RackPlaybackState::active : RackPlaybackState::idle);
    return expected;
}

bool MasterVstRack::tryMarkPlaybackActive()
{
    // From idle, and from an automatic capture (which then gives way to the show).
    for (auto found = state.playbackState.load(); found != RackPlaybackState::active;)
        if (state.playbackState.compare_exchange_weak (found, RackPlaybackState::active))
            break;

    return true;
}

// ---- audio side -------------------------------------------------------------------------------

void MasterVstRack::prepare (double sampleRate, int maxBlockFrames)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    bridge.prepare (sampleRate, maxBlockFrames);

    if (! controlRunning)
        return;

    // The workers must follow the new rate: until they are reloaded the bridge holds the
    // delayed dry signal.
    if (state.configuredSlots.load() > 0)
        state.reloadPending = true;

    if (! post ({ Kind::reloadAfterPrepare, 0, {}, false, nullptr }))
    {
        requests.beginOperation();
        reloadOwed = true;
        wakeControlThread();
    }
}

void MasterVstRack::clearHeldAudio()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    bridge.clearHeldAudio();
    // No device runs now, so no block of the new epoch exists yet: the control thread sees this
    // before the first one it takes.
    restartEpoch.store (bridge.epoch(), std::memory_order_release);
}

void MasterVstRack::processBlock (float* const* channels, int numChannels, int numSamples) noexcept
{
    VANTREL_ASSERT_AUDIO_THREAD;

    RackBridge::BlockConditions conditions;
    conditions.slotsConfigured = state.configuredSlots.load (std::memory_order_acquire) > 0;
    conditions.holding = state.loading.load() || state.reloadPending.load() || state.capturing.load();
    conditions.playing = state.isPlaying();
    conditions.pluginLatency = state.latencySum.load();
    bridge.process (channels, numChannels, numSamples, conditions);
}

// ---- control thread ---------------------------------------------------------------------------

void MasterVstRack::controlLoop()
{
    const ThreadRoleScope controlRole (ThreadRole::control);
    realtimeGranted = platform::tryRealtimePriority();

    while (! state.stopRequested)
    {
        const auto passStart = std::chrono::steady_clock::now();
        bool worked = false;

        if (state.rescanRequested.exchange (false))
        {
            if (scan.isRunning())
                state.rescanRequested = true;   // again in the next pass
            else
                startScan();
        }

        if (reloadOwed.exchange (false))
        {
            reloadAfterPrepare();
            requests.endOperation();
            worked = true;
        }
        else if (auto request = requests.take())
        {
            runRequest (*request);
            worked = true;
        }

        takeScanResults();

        if (moveBlocks() > 0)
            worked = true;

        if (now() - lastLiveStatusPoll > liveStatusPeriod)
        {
            workers.pollLiveStatus();
            lastLiveStatusPoll = now();
        }

        automaticSave();
        recreateRequestedSlots();
        passCount.fetch_add (1, std::memory_order_release);

        // A pass that found nothing to do waits 1 ms while blocks or scan results can come. With
        // no slot configured, nothing loading or scanning and no request pending, none can (the
        // bridge passes the signal on untouched): the thread sleeps until something is asked of it.
        if (! worked)
        {
            if (nothingToServe())
                waitForWork();
            else
                std::this_thread::sleep_until (passStart + std::chrono::milliseconds (1));
        }
    }

    scan.cancel();
    scan.join();
    workers.endAll();
    requests.abandonAll (rackText::text (rackText::stopped));
    workers.publishStatus();

    if (realtimeGranted)
        platform::restoreNormalPriority();

    controlRunning = false;
}

bool MasterVstRack::nothingToServe() const
{
    return state.configuredSlots.load() == 0 && ! state.loading.load() && ! state.reloadPending.load()
        && ! state.rescanRequested.load() && ! reloadOwed.load() && ! scan.isRunning() && ! scan.hasResults() && requests.pendingOperations() == 0
        && requests.size() == 0;
}

void MasterVstRack::waitForWork()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    // Nothing but the automatic save falls due by itself. One that is overdue waits for the show to
    // stop playing (or a capture to end), which wakes nobody: it is looked at again a period later.
    const auto untilSave = autosavePeriod - (now() - lastAutosaveCheck);
    const auto wait = untilSave > 0 ? std::min (untilSave, autosavePeriod) : autosavePeriod;
    std::unique_lock<std::mutex> lock (wakeMutex);
    wakeCondition.wait_for (lock, std::chrono::nanoseconds (wait), [this] { return wakeRequested; });
    wakeRequested = false;
}

void MasterVstRack::wakeControlThread()
{
    {
        const std::lock_guard<std::mutex> lock (wakeMutex);
        wakeRequested = true;
    }

    wakeCondition.notify_one();
}

bool MasterVstRack::post (VstRackRequest request)
{
    VANTREL_ASSERT_MESSAGE_THREAD;

    if (! requests.post (std::move (request)))
        return false;

    wakeControlThread();
    return true;
}

void MasterVstRack::runRequest (VstRackRequest& request)
{
    VANTREL_ASSERT_CONTROL_THREAD;

    // However the request ends, it no longer counts as pending.
    struct Finished
    {
        RackRequestQueue& queue;
        const VstRackRequest& request;
        ~Finished() { queue.finished (request); }
    } finished { requests, request };

    switch (request.kind)
    {
        case Kind::choosePlugin:
        {
            VstRackSlot configuration;

            if (request.text.isNotEmpty())
            {
                configuration.uid = request.text;
                configuration.enabled = true;
            }

            workers.loadSlot (request.slot, configuration, RackSlotWorkers::LoadOrigin::user);
            break;
        }

        case Kind::setSlotEnabled:
            workers.setEnabled (request.slot, request.value);
            break;

        case Kind::openEditor:
            workers.openEditor (request.slot);
            break;

        case Kind::closeEditors:
            workers.closeEditors();
            break;

        case Kind::addSearchFolder:
        {
            {
                const std::lock_guard<std::mutex> lock (state.mutex);

                if (state.searchFolders.size() < maxRackSearchFolders)
                    state.searchFolders.addIfNotAlreadyThere (request.text);

                state.configDirty = true;
            }

            state.rescanRequested = true;
            break;
        }

        case Kind::removeSearchFolder:
        {
            {
                const std::lock_guard<std::mutex> lock (state.mutex);
                state.searchFolders.removeString (request.text);
                state.configDirty = true;
            }

            state.rescanRequested = true;
            break;
        }

        case Kind::saveAndWait:
        {
            const auto result = settings.save (RackSettings::CaptureMode::always);

            if (request.promise != nullptr)
                request.promise->set_value (result);

            break;
        }

        case Kind::reloadAfterPrepare:
            reloadAfterPrepare();
            break;
    }
}

void MasterVstRack::reloadAfterPrepare()
{
    VANTREL_ASSERT_CONTROL_THREAD;
    std::array<VstRackSlot, numSlots> configurations;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        // Before the first scan nothing is loaded yet; the initial load uses the new rate.
        if (state.initialLoadPending)
            return;
    }

    // The workers must run at the new rate whatever the save does: a failed capture or write
    // is reported, and the slots reload with the state last stored.
    const auto saved = settings.save (RackSettings::CaptureMode::always);

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        if (! saved.ok)
            state.message = saved.message;

        configurations = state.slots;
    }

    for (int slot = 0; slot < numSlots; ++slot)
        if (configurations[(std::size_t) slot].uid.isNotEmpty())
            workers.loadSlot (slot, configurations[(std::size_t) slot], RackSlotWorkers::LoadOrigin::automatic);

    bridge.startNewEpoch();
    state.reloadPending = false;
    workers.publishStatus();
}

void MasterVstRack::startScan()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    // The standard folders first, then each search folder not among them.
    auto folders = options.standardFolders.value_or (vantrel::defaultVst3Folders());

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        for (const auto& folder : state.searchFolders)
            folders.addIfNotAlreadyThere (folder);

        state.message = rackText::text (rackText::scanning);
    }

    scan.start (folders, workers.workerProgram());
}

void MasterVstRack::takeScanResults()
{
    VANTREL_ASSERT_CONTROL_THREAD;
    auto results = scan.takeResults();

    if (! results.has_value())
        return;

    bool initialLoad = false;
    std::array<VstRackSlot, numSlots> configurations;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);
        state.plugins = std::move (results->plugins);
        state.scanFailures = std::move (results->failures);
        state.message = results->summary;
        initialLoad = state.initialLoadPending;
        state.initialLoadPending = false;
        configurations = state.slots;
    }

    if (! initialLoad)
    {
        ++catalogueCount;
        return;
    }

    // The first catalogue is there: load every configured slot, enabled or not.
    for (int slot = 0; slot < numSlots; ++slot)
        if (configurations[(std::size_t) slot].uid.isNotEmpty())
            workers.loadSlot (slot, configurations[(std::size_t) slot], RackSlotWorkers::LoadOrigin::automatic);

    workers.publishStatus();
    state.reloadPending = false;
    bridge.startNewEpoch();
    ++catalogueCount;
}

void MasterVstRack::automaticSave()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    if (state.isPlaying() || now() - lastAutosaveCheck <= autosavePeriod)
        return;

    bool dirty = false;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);
        dirty = state.configDirty;
    }

    dirty = dirty || workers.anyStateDirty();
    auto idle = RackPlaybackState::idle;

    if (dirty && state.playbackState.compare_exchange_strong (idle, RackPlaybackState::capturing))
    {
        // The audio keeps the delayed dry signal while the states are captured.
        state.capturing = true;
        ++state.stateCaptures;
        bool gaveWay = false;
        const auto result = settings.save (RackSettings::CaptureMode::yieldToPlayback, &gaveWay);

        if (! result.ok && ! gaveWay)
            state.setMessage (result.message);

        bridge.startNewEpoch();
        state.capturing = false;
        auto capturing = RackPlaybackState::capturing;
        state.playbackState.compare_exchange_strong (capturing, RackPlaybackState::idle);
    }

    lastAutosaveCheck = now();
}

void MasterVstRack::recreateRequestedSlots()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    // A plug-in that asked to be loaded again goes on as it is while anything plays; the new
    // worker takes over in the next quiet moment, holding the delayed dry signal meanwhile.
    if (state.isPlaying() || ! workers.anyReloadRequested())
        return;

    auto idle = RackPlaybackState::idle;

    if (! state.playbackState.compare_exchange_strong (idle, RackPlaybackState::capturing))
        return;

    state.capturing = true;
    workers.recreateRequestedSlots();
    bridge.startNewEpoch();
    state.capturing = false;
    auto capturing = RackPlaybackState::capturing;
    state.playbackState.compare_exchange_strong (capturing, RackPlaybackState::idle);
}

int MasterVstRack::moveBlocks()
{
    VANTREL_ASSERT_CONTROL_THREAD;
    int moved = 0;

    for (; moved < blocksPerPass; ++moved)
    {
        auto* block = bridge.takeSentBlock();

        if (block == nullptr)
            break;

        if (bridge.isExchangeable (*block) && ! state.reloadPending)
        {
            // A device that starts again sounds nothing a plug-in held from before: the plug-ins
            // restart before the first block of its epoch goes through them (a block of an older
            // epoch taken meanwhile still goes to them as they were).
            const auto restartDue = restartEpoch.load (std::memory_order_acquire);

            if (restartDue != restartedEpoch && block->epoch >= restartDue)
            {
                restartedEpoch = restartDue;
                workers.restartProcessing();
            }

            workers.exchangeBlock (*block);

            if (! bridge.returnBlock (*block) && state.isPlaying())
            {
                bridge.latchFault (RackFault::outputQueueOverflow);
                workers.publishStatus();
            }
        }

        bridge.finishTakenBlock();
    }

    return moved;
}
} // namespace vantrel
