// The rack's settings file: read once at start, written by every save after the plug-in states
// have been captured.
#include "audio/rack/MasterVstRack.h"

#include "vsthost/ProtocolWords.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/VstPaths.h"

namespace vantrel
{
namespace protocol = orvane::vsthost::protocol;

void MasterVstRack::loadConfig()
{
    RackConfigContents contents;
    const auto read = readRackConfig (configFile, contents);
    const std::lock_guard<std::mutex> lock (mutex);

    if (read == RackConfigRead::loaded)
    {
        slots = contents.slots;
        searchFolders = contents.searchFolders;
    }
    else if (read == RackConfigRead::damaged)
    {
        // The file stays as it is; nothing is loaded, scanned or saved until a restart.
        configCorrupt = true;
        message = rackText::text (rackText::configCorrupt);
    }
}

StoreResult MasterVstRack::saveConfig (CaptureMode mode, bool* yielded)
{
    const auto yieldNow = [&]
    {
        if (mode != CaptureMode::yieldToPlayback || playbackState.load() != 1)
            return false;

        if (yielded != nullptr)
            *yielded = true;

        return true;
    };

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (configCorrupt)
            return StoreResult::failure (rackText::text (rackText::saveRefusedCorrupt));
    }

    for (int slot = 0; slot < numSlots; ++slot)
    {
        if (yieldNow())
            return StoreResult::failure ({});

        auto& worker = workers[(size_t) slot];

        if (worker.client == nullptr || ! worker.client->isAlive())
            continue;

        std::vector<juce::String> reply;
        juce::String error;

        if (! worker.client->command (protocol::saveState, reply, error, options.stateTimeoutMs))
        {
            const bool alive = worker.client->isAlive();

            // Larger than the program takes: the worker stays and the stored state stands.
            if (alive && (error == workerText::replyExceededBound || error == rackText::workerStateBound))
                return setSaveError (rackText::text (rackText::stateTooLarge));

            const auto errorText = "SAVE_STATE: " + error;

            if (! alive)
                bypassSlot (slot, errorText);

            return setSaveError (rackText::text (rackText::stateNotSaved) + errorText);
        }

        const auto state = reply.back().substring (3);

        if (! isVstStateHex (state))
            return setSaveError (rackText::text (rackText::stateTooLarge));

        {
            const std::lock_guard<std::mutex> lock (mutex);

            // A new state is a change of the settings until it is written.
            if (slots[(size_t) slot].stateHex != state)
            {
                slots[(size_t) slot].stateHex = state;
                configDirty = true;
            }
        }

        worker.stateDirty = false;
    }

    if (yieldNow())
        return StoreResult::failure ({});

    RackConfigContents contents;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        contents.slots = slots;
        contents.searchFolders = searchFolders;
    }

    const auto written = writeRackConfig (configFile, contents);
    const std::lock_guard<std::mutex> lock (mutex);

    if (written.ok)
    {
        configDirty = false;
        saveFailed = false;
        saveError.clear();
    }
    else
    {
        saveFailed = true;
        saveError = rackText::text (rackText::saveFailed) + written.message;
    }

    return written;
}

StoreResult MasterVstRack::setSaveError (const juce::String& text)
{
    saveFailed = true;
    const std::lock_guard<std::mutex> lock (mutex);
    saveError = text;
    return StoreResult::failure (text);
}
} // namespace vantrel
