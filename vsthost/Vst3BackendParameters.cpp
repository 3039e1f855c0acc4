// Vst3Backend: the parameter table, the change traffic between controller and processor, and the
// control service that answers the plug-in's restart requests.
#include "vsthost/Vst3Backend.h"

#include "vsthost/Utf16Text.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
constexpr std::uint32_t maxParameterCount = 16384;
}

void Vst3Backend::sizeParameterContainers (std::size_t parameterCount)
{
    const auto capacity = std::max<std::size_t> (parameterCount, 1);

    {
        const std::lock_guard<std::recursive_mutex> lock (backendMutex);
        inputChanges.setCapacity (capacity);
        outputChanges.setCapacity (capacity);
        heldChanges.setCapacity (capacity);
    }

    {
        const std::lock_guard<std::mutex> transferLock (inputTransferMutex);
        inputTransfer.setCapacity (capacity);
    }

    {
        const std::lock_guard<std::mutex> transferLock (outputTransferMutex);
        outputTransfer.setCapacity (capacity);
    }
}

void Vst3Backend::queueInputChange (Vst::ParamID id, double value)
{
    const std::lock_guard<std::mutex> transferLock (inputTransferMutex);
    inputTransfer.add (id, value, 0);
}

ProcessResult Vst3Backend::readParameterInfos()
{
    parameterTable.clear();

    if (controller == nullptr)
        return ProcessResult::success();

    const auto count = static_cast<std::uint32_t> (controller->getParameterCount());

    if (count > maxParameterCount)
        return ProcessResult::failure ("plug-in parameter count exceeds Gate2.2 safety bound");

    // A table that grew (after a state load or a titles-changed restart) gets room in every
    // change container and transfer, so no edit of the new parameters is lost.
    sizeParameterContainers (count);
    parameterTable.reserve (count);

    for (std::uint32_t index = 0; index < count; ++index)
    {
        Vst::ParameterInfo info {};

        if (controller->getParameterInfo (static_cast<int32> (index), info) != kResultOk)
            return ProcessResult::failure ("plug-in parameter metadata read failed");

        ParameterRecord record;
        record.id = info.id;
        record.title = utf16ToUtf8 (info.title, 128);
        record.shortTitle = utf16ToUtf8 (info.shortTitle, 128);
        record.stepCount = info.stepCount;
        record.defaultNormalized = info.defaultNormalizedValue;
        record.flags = info.flags;
        parameterTable.push_back (std::move (record));
    }

    return ProcessResult::success();
}

std::vector<ParameterRecord> Vst3Backend::parameters()
{
    VANTREL_ASSERT_UI_THREAD;
    return parameterTable;
}

std::optional<double> Vst3Backend::parameterValue (std::uint32_t id)
{
    VANTREL_ASSERT_UI_THREAD;
    if (controller == nullptr)
        return std::nullopt;

    const auto known = std::any_of (parameterTable.begin(), parameterTable.end(),
                                    [id] (const ParameterRecord& record) { return record.id == id; });

    if (! known)
        return std::nullopt;

    return controller->getParamNormalized (id);
}

ProcessResult Vst3Backend::setParameter (std::uint32_t id, double normalized)
{
    VANTREL_ASSERT_UI_THREAD;
    if (controller == nullptr)
        return ProcessResult::failure ("IEditController unavailable");

    if (! std::isfinite (normalized) || normalized < 0.0 || normalized > 1.0)
        return ProcessResult::failure ("normalized parameter value outside [0,1]");

    const auto entry = std::find_if (parameterTable.begin(), parameterTable.end(),
                                     [id] (const ParameterRecord& record) { return record.id == id; });

    if (entry == parameterTable.end())
        return ProcessResult::failure ("unknown parameter id");

    if ((entry->flags & ParameterRecord::readOnlyFlag) != 0)
        return ProcessResult::failure ("parameter is read-only");

    if (controller->setParamNormalized (id, normalized) != kResultOk)
        return ProcessResult::failure ("controller setParamNormalized failed");

    queueInputChange (id, normalized);
    ++changeCounter;
    return ProcessResult::success();
}

void Vst3Backend::takePendingInputChanges()
{
    const std::lock_guard<std::mutex> transferLock (inputTransferMutex);
    inputTransfer.moveAllInto (heldChanges);
}

ProcessResult Vst3Backend::processParametersOnly()
{
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (! configured || ! processing)
        return ProcessResult::failure ("VST3 backend not configured");

    takePendingInputChanges();

    if (heldChanges.empty())
        return ProcessResult::success();

    inputChanges.clear();
    outputChanges.clear();
    heldChanges.copyInto (inputChanges);

    Vst::ProcessData data {};
    data.processMode = vstProcessMode();
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = 0;
    data.inputParameterChanges = &inputChanges;
    data.outputParameterChanges = &outputChanges;

    const auto result = processor->process (data);

    if (result == kResultOk)
    {
        const std::lock_guard<std::mutex> transferLock (outputTransferMutex);
        outputTransfer.addAll (outputChanges);
    }

    inputChanges.clear();
    outputChanges.clear();

    // Whether the plug-in read the changes in a call without frames is its own affair: they stay
    // held until a call with frames has carried them.
    if (result != kResultOk)
        return ProcessResult::failure ("VST3 parameter flush failed");

    return ProcessResult::success();
}

ProcessResult Vst3Backend::carryHeldChanges()
{
    // One silent frame, its output dropped: the shortest call that every plug-in reads its
    // parameter changes in. The plug-in's audio history gains one frame of silence.
    constexpr std::uint32_t carrierFrames = 1;

    if (heldChanges.empty())
        return ProcessResult::success();

    for (std::uint32_t i = 0; i < carrierFrames; ++i)
    {
        inputLeft[i] = 0.0f;
        inputRight[i] = 0.0f;
    }

    auto carried = processAudio (carrierFrames);

    if (! carried.ok)
        return ProcessResult::failure ("VST3 parameter flush failed");

    return carried;
}

ProcessResult Vst3Backend::flushParameters()
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (! configured || ! processing)
        return ProcessResult::failure ("VST3 backend not configured");

    takePendingInputChanges();
    auto result = carryHeldChanges();

    if (! result.ok)
        return result;

    return serviceControl();
}

void Vst3Backend::deliverOutputChanges()
{
    outputScratch.clear();

    {
        const std::lock_guard<std::mutex> transferLock (outputTransferMutex);
        outputTransfer.takeAll (outputScratch);
    }

    if (controller == nullptr)
        return;

    for (const auto& change : outputScratch)
        controller->setParamNormalized (change.id, change.value);
}

void Vst3Backend::serviceIdle()
{
    VANTREL_ASSERT_UI_THREAD;
    // A failure here shows through the processing state, the live status and the next command.
    serviceEditor();
}

bool Vst3Backend::reloadRequested()
{
    VANTREL_ASSERT_UI_THREAD;
    return reloadAsked.load();
}

ProcessResult Vst3Backend::restartProcessing()
{
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (! configured)
        return checkPrefetchSupport();

    // Deactivated and set up again with the same configuration: the plug-in adapts its buses,
    // or prefetch support in between, and the stream position goes on.
    const auto position = samplePosition;
    const auto stored = config;
    auto result = configure (stored);

    if (result.ok)
        samplePosition = position;

    return result;
}

ProcessResult Vst3Backend::serviceControl()
{
    VANTREL_ASSERT_UI_THREAD;
    deliverOutputChanges();

    const auto flags = pendingRestartFlags.exchange (0);

    if (flags == 0)
        return ProcessResult::success();

    if ((flags & Vst::kReloadComponent) != 0)
    {
        // The live status reports it until the client has loaded the slot again.
        reloadAsked = true;
        return ProcessResult::failure ("plug-in requested kReloadComponent; slot recreation required");
    }

    if ((flags & (Vst::kParamValuesChanged | Vst::kParamTitlesChanged)) != 0)
    {
        auto read = readParameterInfos();

        if (! read.ok)
            return read;
    }

    if ((flags & (Vst::kIoChanged | Vst::kPrefetchableSupportChanged)) != 0)
        return restartProcessing();

    // Other requests (a latency change) are only cleared: every info call asks the processor
    // for its latency, and a restart in the middle of a show would cut the plug-in's sound.
    return ProcessResult::success();
}
} // namespace orvane::vsthost
