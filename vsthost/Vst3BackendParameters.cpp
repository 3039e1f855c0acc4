// Vst3Backend: the parameter table, the change traffic between controller and processor, and the
// control service that answers the plug-in's restart requests.
#include "vsthost/Vst3Backend.h"

#include "vsthost/Utf16Text.h"

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
    return parameterTable;
}

std::optional<double> Vst3Backend::parameterValue (std::uint32_t id)
{
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

ProcessResult Vst3Backend::processParametersOnly()
{
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (! configured || ! processing)
        return ProcessResult::failure ("VST3 backend not configured");

    inputChanges.clear();
    outputChanges.clear();

    {
        const std::lock_guard<std::mutex> transferLock (inputTransferMutex);
        inputTransfer.moveInto (inputChanges);
    }

    if (inputChanges.getParameterCount() == 0)
        return ProcessResult::success();

    Vst::ProcessData data {};
    data.processMode = vstProcessMode();
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = 0;
    data.inputParameterChanges = &inputChanges;
    data.outputParameterChanges = &outputChanges;

    if (processor->process (data) != kResultOk)
    {
        inputChanges.clear();
        outputChanges.clear();
        return ProcessResult::failure ("VST3 parameter flush failed");
    }

    {
        const std::lock_guard<std::mutex> transferLock (outputTransferMutex);
        outputTransfer.addAll (outputChanges);
    }

    inputChanges.clear();
    outputChanges.clear();
    return ProcessResult::success();
}

ProcessResult Vst3Backend::flushParameters()
{
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);
    auto result = processParametersOnly();

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
    serviceEditorWindow();
    deliverOutputChanges();
}

ProcessResult Vst3Backend::serviceControl()
{
    deliverOutputChanges();

    const auto flags = pendingRestartFlags.exchange (0);

    if (flags == 0)
        return ProcessResult::success();

    if ((flags & Vst::kReloadComponent) != 0)
        return ProcessResult::failure ("plug-in requested kReloadComponent; slot recreation required");

    if ((flags & (Vst::kParamValuesChanged | Vst::kParamTitlesChanged)) != 0)
    {
        auto read = readParameterInfos();

        if (! read.ok)
            return read;
    }

    if ((flags & (Vst::kIoChanged | Vst::kPrefetchableSupportChanged)) != 0)
    {
        const std::lock_guard<std::recursive_mutex> lock (backendMutex);

        if (! configured)
            return checkPrefetchSupport();

        const auto position = samplePosition;
        const auto stored = config;
        auto result = configure (stored);

        if (result.ok)
            samplePosition = position;

        return result;
    }

    return ProcessResult::success();
}
} // namespace orvane::vsthost
