// The life of a rack slot on the control thread: requests, loading, bypass and status polling.
#include "audio/rack/MasterVstRack.h"

#include "vsthost/ProtocolWords.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/VstPaths.h"
#include "audio/rack/WorkerReplyFields.h"

#include <chrono>
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

/** Ends in the rack's failure text when a SAVE_STATE reply is too large for the rack. */
bool isStateTooLarge (const VstWorkerClient& client, const juce::String& error)
{
    return client.isAlive() && (error == workerText::replyExceededBound || error == rackText::workerStateBound);
}

std::int32_t latencyLimit (double rate)
{
    return static_cast<std::int32_t> (2.0 * rate);
}
} // namespace

void MasterVstRack::handleRequest (VstRackRequest& request)
{
    struct PendingDone
    {
        std::atomic<std::int32_t>* counter;
        ~PendingDone() { if (counter != nullptr) --*counter; }
    } pendingDone { (request.kind == VstRackRequest::choosePlugin || request.kind == VstRackRequest::setSlotEnabled
                     || request.kind == VstRackRequest::openEditor || request.kind == VstRackRequest::reloadAfterPrepare)
                        ? &pendingOperations : nullptr };

    const auto slot = request.slot;
    const auto index = (size_t) slot;

    switch (request.kind)
    {
        case VstRackRequest::choosePlugin:
        {
            VstRackSlot configuration;

            if (request.text.isNotEmpty())
            {
                configuration.uid = request.text;
                configuration.enabled = true;
            }

            loadSlot (slot, configuration, LoadOrigin::user);
            break;
        }

        case VstRackRequest::setSlotEnabled:
        {
            VstRackSlot configuration;

            {
                const std::lock_guard<std::mutex> lock (mutex);
                slots[index].enabled = request.value;
                configuration = slots[index];
                configDirty = true;
            }

            // Disabling keeps the worker running; its audio fades out in the exchange.
            if (request.value && (workers[index].client == nullptr || audioFault))
                loadSlot (slot, configuration, LoadOrigin::automatic);

            publishStatus();
            break;
        }

        case VstRackRequest::openEditor:
        {
            juce::String errorText;
            auto& worker = workers[index];
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
            {
                const std::lock_guard<std::mutex> lock (mutex);
                message = rackText::text (rackText::editorFailed) + errorText;
            }

            publishStatus();
            break;
        }

        case VstRackRequest::closeEditors:
        {
            for (int s = 0; s < numSlots; ++s)
            {
                auto& worker = workers[(size_t) s];

                if (worker.client == nullptr)
                    continue;

                std::vector<juce::String> reply;
                juce::String error;
                worker.client->command (protocol::closeEditorAsync, reply, error, editorCloseTimeoutMs);
                worker.editorOpen = false;

                // The state is captured later only when an edit moved the change count; a poll
                // now sees edits made just before the close.
                if (worker.client != nullptr)
                    pollSlotLiveStatus (s);
            }

            publishStatus();
            break;
        }

        case VstRackRequest::addSearchFolder:
        {
            {
                const std::lock_guard<std::mutex> lock (mutex);

                if (searchFolders.size() < maxRackSearchFolders)
                    searchFolders.addIfNotAlreadyThere (request.text);

                configDirty = true;
            }

            rescanRequested = true;
            break;
        }

        case VstRackRequest::removeSearchFolder:
        {
            {
                const std::lock_guard<std::mutex> lock (mutex);
                searchFolders.removeString (request.text);
                configDirty = true;
            }

            rescanRequested = true;
            break;
        }

        case VstRackRequest::saveAndWait:
        {
            const auto result = saveConfig (CaptureMode::always);

            if (request.promise != nullptr)
                request.promise->set_value (result);

            break;
        }

        case VstRackRequest::reloadAfterPrepare:
            reloadAfterPrepare();
            break;

        default:
            break;
    }
}

void MasterVstRack::reloadAfterPrepare()
{
    std::array<VstRackSlot, numSlots> configurations;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        // Before the first scan nothing is loaded yet; the initial load uses the new rate.
        if (initialLoadPending)
            return;
    }

    // The workers must run at the new rate whatever the save does: a failed capture or write
    // is reported, and the slots reload with the state last stored.
    const auto saved = saveConfig (CaptureMode::always);

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (! saved.ok)
            message = saved.message;

        configurations = slots;
    }

    for (int slot = 0; slot < numSlots; ++slot)
        if (configurations[(size_t) slot].uid.isNotEmpty())
            loadSlot (slot, configurations[(size_t) slot], LoadOrigin::automatic);

    ++epoch;
    reloadPending = false;
    publishStatus();
}

bool MasterVstRack::loadSlot (int slot, const VstRackSlot& configuration, LoadOrigin origin)
{
    if (slot != 0 && slot != 1)
        return false;

    const auto index = (size_t) slot;
    loading = true;

    // However the load ends, the audio held the delayed dry signal meanwhile and sent no blocks:
    // a new epoch lets it start the block numbering afresh (also after a failed load).
    struct LoadingDone
    {
        std::atomic<bool>& flag;
        std::atomic<std::uint64_t>& epochToRaise;
        ~LoadingDone()
        {
            ++epochToRaise;
            flag = false;
        }
    } loadingDone { loading, epoch };

    if (configuration.uid.isEmpty())
    {
        workers[index] = VstRackWorkerSlot();

        {
            const std::lock_guard<std::mutex> lock (mutex);
            slots[index] = VstRackSlot();
            slotStatus[index] = VstRackSlotStatus();
            configDirty = true;
        }

        audioFault = false;
        faultCode = 0;
        publishStatus();
        return true;
    }

    VstPluginInfo plugin;
    int matches = 0;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        for (const auto& entry : plugins)
            if (! entry.duplicate && entry.uid == configuration.uid)
            {
                plugin = entry;
                ++matches;
            }
    }

    if (matches != 1)
    {
        if (origin == LoadOrigin::user)
        {
            const std::lock_guard<std::mutex> lock (mutex);
            message = rackText::text (rackText::notUnique);
        }
        else
            bypassSlot (slot, rackText::text (rackText::missingOrDuplicate));

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
        {
            const std::lock_guard<std::mutex> lock (mutex);
            message = rackText::text (rackText::changeFailed) + error;
        }
        else
            bypassSlot (slot, error);

        publishStatus();
        return false;
    }

    VstRackWorkerSlot fresh;
    fresh.client = std::move (client);
    fresh.dryDelay.assign ((size_t) latency + 1, { 0.0f, 0.0f });
    fresh.latency = latency;
    fresh.mix = loaded.enabled ? 1.0f : 0.0f;
    workers[index] = std::move (fresh);   // the old worker, if any, ends here

    {
        const std::lock_guard<std::mutex> lock (mutex);
        slots[index] = loaded;
        auto& status = slotStatus[index];
        status.message.clear();
        status.warmupMs = warmupMs;
        status.maxProcessMs = 0.0;
        status.processedBlocks = 0;
        configDirty = true;
        message = rackText::text (rackText::loaded);
    }

    audioFault = false;
    faultCode = 0;
    publishStatus();
    return true;
}

bool MasterVstRack::runLoadChain (VstWorkerClient& client, const VstRackSlot& configuration, const VstPluginInfo& plugin,
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

    const auto rate = sampleRate.load();

    if (! step (juce::String (protocol::loadVst3) + "\t" + plugin.bundlePath + "\t" + configuration.uid, options.loadTimeoutMs)
        || ! step (juce::String (protocol::config) + "\t" + rateText (rate) + "\t2\t512\trealtime", configTimeoutMs)
        || (configuration.stateHex.isNotEmpty() && ! step (juce::String (protocol::loadState) + "\t" + configuration.stateHex, options.stateTimeoutMs))
        || ! step (protocol::info, infoTimeoutMs))
        return false;

    const auto info = splitReplyFields (reply.back());
    std::int64_t reported = 0;

    if (info.size() < 8 || ! parseInteger (info[5], reported))
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

    if (loaded.stateHex.isEmpty())
    {
        juce::String clientError;

        if (! client.command (protocol::saveState, reply, clientError, options.stateTimeoutMs))
        {
            error = isStateTooLarge (client, clientError) ? rackText::text (rackText::stateTooLarge)
                                                          : "SAVE_STATE: " + clientError;
            return false;
        }

        const auto state = reply.back().substring (3);

        if (! isVstStateHex (state))
        {
            error = rackText::text (rackText::stateTooLarge);
            return false;
        }

        loaded.stateHex = state;
    }

    return true;
}

bool MasterVstRack::warmUp (VstWorkerClient& client, std::int32_t latency, juce::String& error)
{
    const auto blocks = std::max (4, (latency + 511) / 512 + 4);
    const auto start = now();
    std::array<float, RackBlock::frames * 2> silence {};

    for (int block = 0; block < blocks; ++block)
    {
        if (stopRequested || now() - start > warmupLimitNanos)
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

void MasterVstRack::bypassSlot (int slot, const juce::String& reason)
{
    auto& worker = workers[(size_t) slot];
    worker.client.reset();   // ends the worker; the latency and dry delay stay for the timing
    worker.editorOpen = false;

    const std::lock_guard<std::mutex> lock (mutex);
    auto& status = slotStatus[(size_t) slot];
    status.loaded = false;
    status.editorOpen = false;
    status.message = reason;
    message = rackText::bypassed (slot, reason);
    publishStatusLocked();
}

void MasterVstRack::pollLiveStatus()
{
    for (int slot = 0; slot < numSlots; ++slot)
        if (workers[(size_t) slot].client != nullptr)
            pollSlotLiveStatus (slot);
}

bool MasterVstRack::pollSlotLiveStatus (int slot)
{
    auto& worker = workers[(size_t) slot];
    std::vector<juce::String> reply;
    juce::String error;

    if (! worker.client->command (protocol::liveStatus, reply, error, options.liveStatusTimeoutMs))
    {
        bypassSlot (slot, "LIVE_STATUS: " + error);
        return false;
    }

    const auto fields = splitReplyFields (reply.back());

    if (fields.size() >= 5)
    {
        worker.editorOpen = fields[1] == "1";
        std::uint64_t revision = 0;

        if (parseUnsigned (fields[2], revision) && revision != worker.editRevision)
        {
            worker.editRevision = revision;
            worker.stateDirty = true;
        }

        if (fields.size() >= 6 && fields[5].isNotEmpty())
        {
            const std::lock_guard<std::mutex> lock (mutex);
            message = rackText::text (rackText::editorMessage) + fields[5];
        }

        std::int64_t latency = 0;

        if (! parseInteger (fields[3], latency) || latency < 0 || latency > latencyLimit (sampleRate.load()))
        {
            bypassSlot (slot, rackText::text (rackText::latencyOverLimit));
            return false;
        }

        if (latency != worker.latency)
        {
            worker.latency = static_cast<std::int32_t> (latency);
            worker.dryDelay.assign ((size_t) latency + 1, { 0.0f, 0.0f });
            worker.dryDelayPosition = 0;
        }
    }

    publishStatus();
    return true;
}

void MasterVstRack::publishStatus()
{
    const std::lock_guard<std::mutex> lock (mutex);
    publishStatusLocked();
}

void MasterVstRack::publishStatusLocked()
{
    std::int32_t configured = 0;
    std::int32_t ready = 0;
    std::int32_t failed = 0;
    std::int32_t latencies = 0;
    const bool faulted = audioFault;

    for (size_t s = 0; s < (size_t) numSlots; ++s)
    {
        const auto& worker = workers[s];
        auto& status = slotStatus[s];
        status.uid = slots[s].uid;
        status.name = slots[s].name;
        status.enabled = slots[s].enabled;
        status.editorOpen = worker.editorOpen;
        status.latency = worker.latency;
        status.editRevision = worker.editRevision;
        status.loaded = worker.client != nullptr && worker.client->isAlive();

        if (slots[s].uid.isEmpty())
            continue;

        ++configured;
        latencies += worker.latency;

        if (status.enabled && status.loaded && ! faulted)
            ++ready;

        if (status.message.isNotEmpty())
            ++failed;
    }

    configuredSlots = configured;
    readySlots = ready;
    failedSlots = failed;
    latencySum = latencies;
    configCorruptShown = configCorrupt;
}
} // namespace vantrel
