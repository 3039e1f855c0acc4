#include "audio/rack/RackSettings.h"

#include "audio/rack/RackConfigFile.h"
#include "audio/rack/RackTexts.h"
#include "platform/ThreadContract.h"

namespace vantrel
{
RackSettings::RackSettings (RackState& stateToShare, RackSlotWorkers& workersToAsk)
    : state (stateToShare), workers (workersToAsk)
{
}

void RackSettings::load (const juce::File& file)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    configFile = file;
    removeStaleRackConfigTemporaries (configFile);

    RackConfigContents contents;
    const auto read = readRackConfig (configFile, contents);
    const std::lock_guard<std::mutex> lock (state.mutex);

    if (read == RackConfigRead::loaded)
    {
        state.slots = contents.slots;
        state.searchFolders = contents.searchFolders;
    }
    else if (read == RackConfigRead::damaged)
    {
        // The file stays as it is; nothing is loaded, scanned or saved until a restart.
        state.configCorrupt = true;
        state.message = rackText::text (rackText::configCorrupt);
    }
}

StoreResult RackSettings::save (CaptureMode mode, bool* gaveWay)
{
    VANTREL_ASSERT_CONTROL_THREAD;

    const auto giveWayNow = [&]
    {
        if (mode != CaptureMode::yieldToPlayback || ! state.isPlaying())
            return false;

        if (gaveWay != nullptr)
            *gaveWay = true;

        return true;
    };

    {
        const std::lock_guard<std::mutex> lock (state.mutex);

        if (state.configCorrupt)
            return StoreResult::failure (rackText::text (rackText::saveRefusedCorrupt));
    }

    const auto capture = workers.captureStates (giveWayNow);

    if (capture.outcome == RackSlotWorkers::Capture::Outcome::failed)
        return setSaveError (capture.error);

    if (capture.outcome == RackSlotWorkers::Capture::Outcome::gaveWay || giveWayNow())
        return StoreResult::failure ({});

    RackConfigContents contents;

    {
        const std::lock_guard<std::mutex> lock (state.mutex);
        contents.slots = state.slots;
        contents.searchFolders = state.searchFolders;
    }

    const auto written = writeRackConfig (configFile, contents);
    const std::lock_guard<std::mutex> lock (state.mutex);

    if (written.ok)
    {
        state.configDirty = false;
        state.saveFailed = false;
        state.saveError.clear();
    }
    else
    {
        state.saveFailed = true;
        state.saveError = rackText::text (rackText::saveFailed) + written.message;
    }

    return written;
}

StoreResult RackSettings::setSaveError (const juce::String& text)
{
    state.saveFailed = true;
    const std::lock_guard<std::mutex> lock (state.mutex);
    state.saveError = text;
    return StoreResult::failure (text);
}
} // namespace vantrel
