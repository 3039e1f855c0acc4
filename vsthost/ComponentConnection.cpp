#include "vsthost/ComponentConnection.h"

namespace orvane::vsthost
{
using namespace Steinberg;

ComponentConnection::~ComponentConnection()
{
    disconnect();
}

bool ComponentConnection::connect (FUnknown* component, FUnknown* controller)
{
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
    if (componentPoint == nullptr)
        return;

    componentPoint->disconnect (controllerPoint);
    controllerPoint->disconnect (componentPoint);
    componentPoint = nullptr;
    controllerPoint = nullptr;
}
} // namespace orvane::vsthost
