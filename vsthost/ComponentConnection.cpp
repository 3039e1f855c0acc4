#include "vsthost/ComponentConnection.h"

#include "platform/ThreadContract.h"

namespace orvane::vsthost
{
using namespace Steinberg;

ComponentConnection::~ComponentConnection()
{
    VANTREL_ASSERT_UI_THREAD;
    disconnect();
}

bool ComponentConnection::connect (FUnknown* component, FUnknown* controller)
{
    VANTREL_ASSERT_UI_THREAD;
    disconnect();

    if (component == nullptr || controller == nullptr)
        return false;

    FUnknownPtr<Vst::IConnectionPoint> fromComponent (component);
    FUnknownPtr<Vst::IConnectionPoint> fromController (controller);

    if (! fromComponent || ! fromController)
        return false;

    if (fromComponent->connect (fromController) != kResultOk)
        return false;

    if (fromController->connect (fromComponent) != kResultOk)
    {
        fromComponent->disconnect (fromController);
        return false;
    }

    componentPoint = fromComponent;
    controllerPoint = fromController;
    return true;
}

void ComponentConnection::disconnect()
{
    VANTREL_ASSERT_UI_THREAD;
    if (componentPoint == nullptr)
        return;

    componentPoint->disconnect (controllerPoint);
    controllerPoint->disconnect (componentPoint);
    componentPoint = nullptr;
    controllerPoint = nullptr;
}
} // namespace orvane::vsthost
