// Vst3Backend: saving and restoring the plug-in's state through the state envelope.
#include "vsthost/Vst3Backend.h"

#include "vsthost/BoundedMemoryStream.h"
#include "vsthost/StateEnvelope.h"

#include "platform/ThreadContract.h"

namespace orvane::vsthost
{
using namespace Steinberg;

std::string Vst3Backend::saveState()
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (component == nullptr)
        return {};

    BoundedMemoryStream componentStream;

    if (component->getState (&componentStream) != kResultOk || componentStream.overflowed())
        return {};

    BoundedMemoryStream controllerStream;
    const std::vector<std::uint8_t> noControllerState;
    const auto* controllerBytes = &noControllerState;

    if (controller != nullptr && controller->getState (&controllerStream) == kResultOk && ! controllerStream.overflowed())
        controllerBytes = &controllerStream.data();

    return stateEnvelopeText (componentStream.data(), *controllerBytes);
}

ProcessResult Vst3Backend::loadState (const std::string& hexText)
{
    VANTREL_ASSERT_UI_THREAD;
    const std::lock_guard<std::recursive_mutex> lock (backendMutex);

    if (component == nullptr)
        return ProcessResult::failure ("IComponent unavailable");

    StateEnvelopeParts parts;
    std::string message;

    if (! decodeStateEnvelope (hexText, parts, message))
        return ProcessResult::failure (message);

    // Edits queued before the load would otherwise reach the processor after the loaded state
    // and leave processor and controller disagreeing.
    heldChanges.clear();

    {
        const std::lock_guard<std::mutex> transferLock (inputTransferMutex);
        inputTransfer.clear();
    }

    const auto controllerSize = parts.controller.size();
    BoundedMemoryStream componentStream (std::move (parts.component), BoundedMemoryStream::stateCapacity);

    if (component->setState (&componentStream) != kResultOk)
        return ProcessResult::failure ("component setState failed");

    if (controller != nullptr)
    {
        componentStream.seek (0, IBStream::kIBSeekSet, nullptr);
        const auto result = controller->setComponentState (&componentStream);

        if (result != kResultOk && result != kResultFalse && result != kNotImplemented)
            return ProcessResult::failure ("controller setComponentState failed: " + std::to_string (result));

        if (controllerSize > 0)
        {
            BoundedMemoryStream controllerStream (std::move (parts.controller), BoundedMemoryStream::stateCapacity);

            if (controller->setState (&controllerStream) != kResultOk)
                return ProcessResult::failure ("controller setState failed");
        }

        auto read = readParameterInfos();

        if (! read.ok)
            return read;
    }

    return serviceControl();
}
} // namespace orvane::vsthost
