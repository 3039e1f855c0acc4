#include "audio/rack/RackSlotWorkers.h"

#include "vsthost/ProtocolWords.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/WorkerReplyFields.h"
#include "platform/ThreadContract.h"

#include <chrono>
#include <cmath>
#include <locale>
#include <sstream>

namespace vantrel
{
namespace protocol = orvane::vsthost::protocol;

namespace
{
constexpr int configTimeoutMs = 5000;
constexpr int infoTimeoutMs = 1500;
constexpr int editorOpenTimeoutMs = 5000;
constexpr int editorCloseTimeoutMs = 1500;
constexpr int warmupBlockTimeoutMs = 1000;
constexpr std::int64_t warmupLimitNanos = std::int64_t { 5000 } * 1000000;

// A slot whose plug-in asks to be loaded again is loaded again at most this often.
constexpr std::int64_t reloadSpacingNanos = std::int64_t { 60000 } * 1000000;

// The warm-up sends at least four silent blocks, and four more than the plug-in's latency fills.
constexpr int minimumWarmupBlocks = 4;
constexpr int warmupBlocksBeyondLatency = 4;

// Reply fields: INFO "OK", ..., field 5 the latency, 8 fields at least; LIVE_STATUS "OK", editor
// open, change count, latency, ..., an editor error text and the reload request when present.
constexpr int minimumInfoFields = 8;
constexpr int infoLatencyField = 5;
constexpr int minimumLiveStatusFields = 5;
constexpr auto liveEditorOpenField = (int) protocol::liveEditorOpenField;
constexpr auto liveChangeCountField = (int) protocol::liveChangeCountField;
constexpr auto liveLatencyField = (int) protocol::liveLatencyField;
constexpr auto liveEditorErrorField = (int) protocol::liveEditorErrorField;
constexpr auto liveReloadField = (int) protocol::liveReloadField;

// A slot's reason names at most this many of the bundles that failed in the scan.
constexpr int failuresNamed = 3;

/** A plug-in's or a bundle's name as compared: its letters and digits, in lower case. */
juce::String comparableName (const juce::String& name)
{
    juce::String kept;
    for (auto c : name.toLowerCase())
        if (juce::CharacterFunctions::isLetterOrDigit (c))
            kept += c;
    return kept;
}

/** "bundle.vst3: reason". */
juce::String describe (const VstScanFailure& failure)
{
    return juce::File (failure.bundlePath).getFileName() + ": " + failure.reason;
}

/** The bundle that failed in the scan and is named like the configured plug-in; null when none. */
const VstScanFailure* failureNamedLike (const VstRackSlot& configuration, const std::vector<VstScanFailure>& failures)
{
    const auto wanted = comparableName (configuration.name);
    for (const auto& failure : failures)
        if (wanted.isNotEmpty() && comparableName (juce::File (failure.bundlePath).getFileNameWithoutExtension()) == wanted)
            return &failure;
    return nullptr;
}

/** Why a configured plug-in that the catalogue lacks may be missing: the failures of the scan. */
juce::String missingAfterFailures (const std::vector<VstScanFailure>& failures)
{
    juce::StringArray named;
    for (const auto& failure : failures)
        if (named.size() < failuresNamed)
            named.add (describe (failure));
    if (failures.size() > (std::size_t) failuresNamed)
        named.add (juce::String::fromUTF8 ("…"));
    return rackText::text (rackText::missingAfterScanFailures) + named.joinIntoString (" / ");
}

// A peak below this (-120 dB) is shown as -120 dB.
constexpr float silencePeak = 1.0e-6f;

/** A decimal integer field, strictly (an optional '-' and digits only). */
bool parseInteger (const juce::String& text, std::int64_t& value)
{
    const auto digits = text.startsWithChar ('-') ? text.substring (1) : text;

    if (digits.isEmpty() || digits.length() > 19 || ! digits.containsOnly ("0123456789"))
        return false;

    value = text.getLargeIntValue();
    return true;
}

bool parseUnsigned (const juce::String& text, std::uint64_t& value)
{
    if (text.isEmpty() || text.length() > 20 || ! text.containsOnly ("0123456789"))
        return false;

    value = std::stoull (text.toStdString());
    return true;
}

/** The rate as the worker reads it: general format, 6 significant digits ("48000", "44100"). */
juce::String rateText (double rate)
{
    std::ostringstream stream;
    stream.imbue (std::locale::classic());
    stream << rate;
    return stream.str();
}

juce::String commandWord (const juce::String& line)
{
    return line.upToFirstOccurrenceOf ("\t", false, false);
}

/** A plug-in may delay its output by at most 2 s. */
std::int32_t latencyLimit (double rate)
{
    return static_cast<std::int32_t> (2.0 * rate);
}

float peakToDb (float peak)
{
    return 20.0f * std::log10 (std::max (peak, silencePeak));
}
} // namespace

RackSlotWorkers::RackSlotWorkers (RackState& stateToShare, RackBridge& bridgeToFeed, const MasterVstRackOptions& optionsToUse,
                                  const RackClock& clockToUse)
    : state (stateToShare), bridge (bridgeToFeed), options (optionsToUse), clock (clockToUse)
{
}

bool RackSlotWorkers::loadSlot (int slot, const VstRackSlot& configuration, LoadOrigin origin)
{
    VANTREL_ASSERT_CONTROL_THREAD;

    if (! RackState::isSlotIndex (slot))
        return false;

    const auto index = (std::size_t) slot;
    state.loading = true;

    // However the load ends, the audio held the delayed dry signal meanwhile and sent no blocks:
    // a new epoch lets it start the block numbering afresh (also after a failed load).
    struct LoadingDone
    {
        RackState& state;
        RackBridge& bridge;
        ~LoadingDone()
        {
            bridge.startNewEpoch();
            state.loading = false;
        }
    } loadingDone { state, bridge };

    if (configuration.uid.isEmpty())
    {
        workers[index] = VstRackWorkerSlot();

        {
            const std::lock_guard<std::mutex> lock (state.mutex);
            state.slots[index] = VstRackSlot();
            state.slotStatus[index] = VstRackSlotStatus();
            state.configDirty = true;
        }

        bridge.clearFault();
        publishStatus();
        return true;
    }

    VstPluginInfo plugin;
    int matches = 0;
    bool listed = false;
    std::vector<VstScanFailure> scanFailures;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        for (const auto& entry : state.plugins)
        {
            listed = listed || entry.uid == configuration.uid;
            if (! entry.duplicate && entry.uid == configuration.uid)
            {
                plugin = entry;
                ++matches;
            }
        }
        scanFailures = state.scanFailures;
    }

    if (matches != 1)
    {
        const auto* failure = failureNamedLike (configuration, scanFailures);

        if (origin == LoadOrigin::user)
            state.setMessage (rackText::text (rackText::notUnique));
        else if (listed || scanFailures.empty())
            bypassSlot (slot, rackText::text (rackText::missingOrDuplicate));
        else if (failure == nullptr)
            bypassSlot (slot, missingAfterFailures (scanFailures));
        else
        {
            // The plug-in's own bundle failed: its name and the failure say what happened.
            bypassSlot (slot, rackText::text (rackText::failedInScan) + describe (*failure));
            const std::lock_guard<std::mutex> lock (state.mutex);
            state.slotStatus[index].failedInScan = true;
        }

        publishStatus();
        return false;
    }

    auto client = std::make_unique<VstWorkerClient>();
    VstRackSlot loaded;
    std::int32_t latency = 0;
    juce::String error;
    double warmupMs = 0.0;

    bool ok = isValidWorkerField (plugin.bundlePath) && client->start (workerExecutable, error)
              && runLoadChain (*client, configuration, plugin, loaded, latency, error);

    if (ok)
    {
        const auto warmupStart = std::chrono::steady_clock::now();
        ok = warmUp (*client, latency, error);
        warmupMs = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - warmupStart).count();
    }

    if (! ok)
    {
        if (error.isEmpty())
            error = rackText::text (rackText::initFailed);

        client.reset();

        if (origin == LoadOrigin::user)
            state.setMessage (rackText::text (rackText::changeFailed) + error);
        else
            bypassSlot (slot, error);

        publishStatus();
        return false;
    }

    VstRackWorkerSlot fresh;
    fresh.client = std::move (client);
    fresh.resetDryDelay (latency);
    fresh.mix = loaded.enabled ? 1.0f : 0.0f;
    workers[index] = std::move (fresh);   // the old worker, if any, ends here

    {
        const std::lock_guard<std::mutex> lock (state.mutex);
        state.slots[index] = loaded;
        auto& status = state.slotStatus[index];
        status.message.clear();
        status.failedInScan = false;
        status.warmupMs = warmupMs;
        status.maxProcessMs = 0.0;
        status.processedBlocks = 0;
        state.configDirty = true;
        state.message = rackText::text (rackText::loaded);
    }

    bridge.clearFault();
    publishStatus();
    return true;
}

bool RackSlotWorkers::runLoadChain (VstWorkerClient& client, const VstRackSlot& configuration, const VstPluginInfo& plugin,
                                    VstRackSlot& loaded, std::int32_t& latency, juce::String& error)
{
    std::vector<juce::String> reply;

    const auto step = [&] (const juce::String& line, int timeoutMs)
    {
        juce::String clientError;

        if (client.command (line, reply, clientError, timeoutMs))
            return true;

        error = commandWord (line) + ": " + clientError;
        return false;
    };

    const auto rate = bridge.sampleRate();

    if (! step (juce::String (protocol::loadVst3) + "\t" + plugin.bundlePath + "\t" + configuration.uid, options.loadTimeoutMs)
        || ! step (juce::String (protocol::config) + "\t" + rateText (rate) + "\t2\t512\trealtime", configTimeoutMs)
        || (configuration.stateHex.isNotEmpty() && ! step (juce::String (protocol::loadState) + "\t" + configuration.stateHex, options.stateTimeoutMs))
        || ! step (protocol::info, infoTimeoutMs))
        return false;

    const auto info = splitReplyFields (reply.back());
    std::int64_t reported = 0;

    if (info.size() < minimumInfoFields || ! parseInteger (info[infoLatencyField], reported))
        return false;

    if (reported < 0 || reported > latencyLimit (rate))
    {
        error = rackText::text (rackText::latencyTooLong);
        return false;
    }

    latency = static_cast<std::int32_t> (reported);
    loaded.uid = configuration.uid;
    loaded.name = plugin.name;
    loaded.vendor = plugin.vendor;
    loaded.version = plugin.version;
    loaded.stateHex = configuration.stateHex;
    loaded.enabled = configuration.enabled;

    // A slot without a stored state gets its first one now.
    if (loaded.stateHex.isEmpty())
    {
        const auto first = requestWorkerState (client, options.stateTimeoutMs);

        if (first.outcome != WorkerStateReply::Outcome::captured)
        {
            error = first.outcome == WorkerStateReply::Outcome::tooLarge ? rackText::text (rackText::stateTooLarge) : first.error;
            return false;
        }

        loaded.stateHex = first.stateHex;
    }

    return true;
}

bool RackSlotWorkers::warmUp (VstWorkerClient& client, std::int32_t latency, juce::String& error)
{
    const auto latencyBlocks = (latency + RackBlock::frames - 1) / RackBlock::frames;
    const auto blocks = std::max (minimumWarmupBlocks, latencyBlocks + warmupBlocksBeyondLatency);
    const auto start = clock();
    std::array<float, RackBlock::frames * 2> silence {};

    for (int block = 0; block < blocks; ++block)
    {
        if (state.stopRequested || clock() - start > warmupLimitNanos)
        {
            error = rackText::text (rackText::warmupTimeout);
            return false;
        }

        silence.fill (0.0f);

        if (! client.processF32 (silence.data(), RackBlock::frames, (std::uint64_t) block, error, warmupBlockTimeoutMs))
            return false;
    }

    return true;
}

void RackSlotWorkers::setEnabled (int slot, bool enabled)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    const auto index = (std::size_t) slot;
    VstRackSlot configuration;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);
        state.slots[index].enabled = enabled;
        configuration = state.slots[index];
        state.configDirty = true;
    }

    // Disabling keeps the worker running; its audio fades out in the exchange.
    if (enabled && (workers[index].client == nullptr || bridge.audioFault()))
        loadSlot (slot, configuration, LoadOrigin::automatic);

    publishStatus();
}

void RackSlotWorkers::openEditor (int slot)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    auto& worker = workers[(std::size_t) slot];
    juce::String errorText;
    bool opened = false;

    if (worker.client != nullptr)
    {
        const auto line = juce::String (protocol::openEditorAsync) + "\tVantrel! - VST " + juce::String (slot + 1);
        std::vector<juce::String> reply;
        juce::String error;
        opened = worker.client->command (line, reply, error, editorOpenTimeoutMs);

        if (! opened)
        {
            errorText = commandWord (line) + ": " + error;

            if (! worker.client->isAlive())
                bypassSlot (slot, errorText);
        }
    }

    if (! opened)
        state.setMessage (rackText::text (rackText::editorFailed) + errorText);

    publishStatus();
}

void RackSlotWorkers::closeEditors()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    for (int slot = 0; slot < RackState::numSlots; ++slot)
    {
        auto& worker = workers[(std::size_t) slot];

        if (worker.client == nullptr)
            continue;

        std::vector<juce::String> reply;
        juce::String error;
        worker.client->command (protocol::closeEditorAsync, reply, error, editorCloseTimeoutMs);
        worker.editorOpen = false;

        // The state is captured later only when an edit moved the change count; a poll now sees
        // edits made just before the close.
        if (worker.client != nullptr)
            pollSlotLiveStatus (slot);
    }

    publishStatus();
}

void RackSlotWorkers::bypassSlot (int slot, const juce::String& reason)
{
    auto& worker = workers[(std::size_t) slot];
    worker.client.reset();   // ends the worker; the latency and dry delay stay for the timing
    worker.editorOpen = false;

    const std::lock_guard<std::mutex> lock (state.mutex);
    auto& status = state.slotStatus[(std::size_t) slot];
    status.loaded = false;
    status.editorOpen = false;
    status.message = reason;
    status.failedInScan = false;
    state.message = rackText::bypassed (slot, reason);
    publishStatusLocked();
}

void RackSlotWorkers::pollLiveStatus()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    for (int slot = 0; slot < RackState::numSlots; ++slot)
        if (workers[(std::size_t) slot].client != nullptr)
            pollSlotLiveStatus (slot);
}

bool RackSlotWorkers::pollSlotLiveStatus (int slot)
{
    auto& worker = workers[(std::size_t) slot];
    std::vector<juce::String> reply;
    juce::String error;

    if (! worker.client->command (protocol::liveStatus, reply, error, options.liveStatusTimeoutMs))
    {
        bypassSlot (slot, "LIVE_STATUS: " + error);
        return false;
    }

    const auto fields = splitReplyFields (reply.back());

    if (fields.size() >= minimumLiveStatusFields)
    {
        worker.editorOpen = fields[liveEditorOpenField] == "1";
        std::uint64_t revision = 0;

        if (parseUnsigned (fields[liveChangeCountField], revision) && revision != worker.editRevision)
        {
            worker.editRevision = revision;
            worker.stateDirty = true;
        }

        if (fields.size() > liveEditorErrorField && fields[liveEditorErrorField].isNotEmpty())
            state.setMessage (rackText::text (rackText::editorMessage) + fields[liveEditorErrorField]);

        if (fields.size() > liveReloadField && fields[liveReloadField] == protocol::liveReloadRequested)
            worker.reloadRequested = true;

        std::int64_t latency = 0;

        if (! parseInteger (fields[liveLatencyField], latency) || latency < 0 || latency > latencyLimit (bridge.sampleRate()))
        {
            bypassSlot (slot, rackText::text (rackText::latencyOverLimit));
            return false;
        }

        if (latency != worker.latency)
            worker.resetDryDelay (static_cast<std::int32_t> (latency));
    }

    publishStatus();
    return true;
}

void RackSlotWorkers::restartProcessing()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    for (int slot = 0; slot < RackState::numSlots; ++slot)
    {
        auto& worker = workers[(std::size_t) slot];
        worker.resetDryDelay (worker.latency);

        if (worker.client == nullptr)
            continue;

        std::vector<juce::String> reply;
        juce::String error;

        // A plug-in left half restarted could still hold its audio, or process no more.
        if (! worker.client->command (protocol::resetSeek, reply, error, configTimeoutMs))
            bypassSlot (slot, juce::String (protocol::resetSeek) + ": " + error);
    }

    publishStatus();
}

void RackSlotWorkers::exchangeBlock (RackBlock& block)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    const auto fadeStep = RackBridge::crossfadeStep (bridge.sampleRate());

    for (int slot = 0; slot < RackState::numSlots; ++slot)
    {
        auto& worker = workers[(std::size_t) slot];
        bool enabled = false;

        {
            const std::lock_guard<std::mutex> lock (state.mutex);
            enabled = state.slots[(std::size_t) slot].enabled;
        }

        if (worker.passesUntouched())
            continue;

        const auto result = worker.process (block, enabled, fadeStep, options.blockTimeoutMs);

        if (result.workerFailed)
            bypassSlot (slot, result.error);

        if (result.processed)
        {
            const std::lock_guard<std::mutex> lock (state.mutex);
            auto& status = state.slotStatus[(std::size_t) slot];
            ++status.processedBlocks;
            status.maxProcessMs = std::max (status.maxProcessMs, result.callMs);
            status.editRevision = worker.editRevision;
            status.inputPeakDb = peakToDb (result.inputPeak);
            status.outputPeakDb = peakToDb (result.outputPeak);
        }
    }
}

RackSlotWorkers::Capture RackSlotWorkers::captureStates (const std::function<bool()>& giveWay)
{
    VANTREL_ASSERT_CONTROL_THREAD;
    using Outcome = Capture::Outcome;

    for (int slot = 0; slot < RackState::numSlots; ++slot)
    {
        if (giveWay())
            return { Outcome::gaveWay, {} };

        auto& worker = workers[(std::size_t) slot];

        if (worker.client == nullptr || ! worker.client->isAlive())
            continue;

        const auto reply = requestWorkerState (*worker.client, options.stateTimeoutMs);

        if (reply.outcome == WorkerStateReply::Outcome::tooLarge)
            return { Outcome::failed, rackText::text (rackText::stateTooLarge) };

        if (reply.outcome == WorkerStateReply::Outcome::failed)
        {
            if (! worker.client->isAlive())
                bypassSlot (slot, reply.error);

            return { Outcome::failed, rackText::text (rackText::stateNotSaved) + reply.error };
        }

        {
            const std::lock_guard<std::mutex> lock (state.mutex);
            auto& stored = state.slots[(std::size_t) slot].stateHex;

            // A new state is a change of the settings until it is written.
            if (stored != reply.stateHex)
            {
                stored = reply.stateHex;
                state.configDirty = true;
            }
        }

        worker.stateDirty = false;
    }

    return { Outcome::captured, {} };
}

bool RackSlotWorkers::reloadDue (int slot) const
{
    const auto index = (std::size_t) slot;
    const auto& worker = workers[index];
    return worker.reloadRequested && worker.client != nullptr
           && (! reloaded[index] || clock() - lastReloads[index] >= reloadSpacingNanos);
}

bool RackSlotWorkers::anyReloadRequested() const
{
    for (int slot = 0; slot < RackState::numSlots; ++slot)
        if (reloadDue (slot))
            return true;

    return false;
}

void RackSlotWorkers::recreateRequestedSlots()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    for (int slot = 0; slot < RackState::numSlots; ++slot)
    {
        auto& worker = workers[(std::size_t) slot];

        if (! reloadDue (slot))
            continue;

        // Served once: a new worker that cannot be loaded leaves this one going, unasked again.
        worker.reloadRequested = false;
        reloaded[(std::size_t) slot] = true;
        lastReloads[(std::size_t) slot] = clock();
        const auto reply = requestWorkerState (*worker.client, options.stateTimeoutMs);
        VstRackSlot configuration;

        {
            const std::lock_guard<std::mutex> lock (state.mutex);
            auto& stored = state.slots[(std::size_t) slot];

            if (reply.outcome == WorkerStateReply::Outcome::captured && stored.stateHex != reply.stateHex)
            {
                stored.stateHex = reply.stateHex;
                state.configDirty = true;
            }

            configuration = stored;
        }

        if (reply.outcome == WorkerStateReply::Outcome::captured)
            worker.stateDirty = false;
        else if (! worker.client->isAlive())
        {
            bypassSlot (slot, reply.error);
            continue;
        }

        loadSlot (slot, configuration, LoadOrigin::user);
    }
}

bool RackSlotWorkers::anyStateDirty() const noexcept
{
    for (const auto& worker : workers)
        if (worker.stateDirty)
            return true;

    return false;
}

void RackSlotWorkers::endAll()
{
    VANTREL_ASSERT_CONTROL_THREAD;

    for (auto& worker : workers)
        worker = VstRackWorkerSlot();
}

void RackSlotWorkers::publishStatus()
{
    const std::lock_guard<std::mutex> lock (state.mutex);
    publishStatusLocked();
}

void RackSlotWorkers::publishStatusLocked()
{
    std::int32_t configured = 0;
    std::int32_t ready = 0;
    std::int32_t failed = 0;
    std::int32_t latencies = 0;
    const bool faulted = bridge.audioFault();

    for (std::size_t s = 0; s < (std::size_t) RackState::numSlots; ++s)
    {
        const auto& worker = workers[s];
        const auto& slot = state.slots[s];
        auto& status = state.slotStatus[s];
        status.uid = slot.uid;
        status.name = slot.name;
        status.enabled = slot.enabled;
        status.editorOpen = worker.editorOpen;
        status.latency = worker.latency;
        status.editRevision = worker.editRevision;
        status.loaded = worker.client != nullptr && worker.client->isAlive();

        if (slot.uid.isEmpty())
            continue;

        ++configured;
        latencies += worker.latency;

        if (status.enabled && status.loaded && ! faulted)
            ++ready;

        if (status.message.isNotEmpty())
            ++failed;
    }

    state.configuredSlots = configured;
    state.readySlots = ready;
    state.failedSlots = failed;
    state.latencySum = latencies;
    state.configCorruptShown = state.configCorrupt;
}
} // namespace vantrel
