#include "vsthost/PlugProvider.h"

#include "vsthost/ClassIdText.h"

#include "platform/ThreadContract.h"

namespace orvane::vsthost
{
using namespace Steinberg;

PlugProvider::PlugProvider (IPluginFactory* pluginFactory, const ModuleClassInfo& info, std::ostream& errorStream)
    : factory (pluginFactory), classInfo (info), errors (errorStream)
{
    VANTREL_ASSERT_UI_THREAD;
}

PlugProvider::~PlugProvider()
{
    VANTREL_ASSERT_UI_THREAD;
    terminate();
}

bool PlugProvider::initialize (FUnknown* hostContext)
{
    VANTREL_ASSERT_UI_THREAD;
    terminate();

    if (factory == nullptr)
        return false;

    Vst::IComponent* created = nullptr;

    if (factory->createInstance (classInfo.id, Vst::IComponent::iid, reinterpret_cast<void**> (&created)) != kResultOk
        || created == nullptr)
    {
        errors << "Failed to create instance of " << classInfo.name << "!" << std::endl;
        return false;
    }

    pluginComponent = owned (created);

    if (pluginComponent->initialize (hostContext) != kResultOk)
    {
        errors << "Failed to initialize component of " << classInfo.name << "!" << std::endl;
        return false;
    }

    componentInitialized = true;

    Vst::IEditController* sameObject = nullptr;

    if (pluginComponent->queryInterface (Vst::IEditController::iid, reinterpret_cast<void**> (&sameObject)) == kResultOk
        && sameObject != nullptr)
    {
        pluginController = owned (sameObject);
        controllerIsComponent = true;
        return true;
    }

    TUID controllerId {};

    if (pluginComponent->getControllerClassId (controllerId) != kResultOk)
        return true;   // no controller: a component-only plug-in

    Vst::IEditController* controllerCreated = nullptr;

    if (factory->createInstance (controllerId, Vst::IEditController::iid, reinterpret_cast<void**> (&controllerCreated))
            != kResultOk
        || controllerCreated == nullptr)
    {
        errors << "Failed to create controller " << classIdText (controllerId) << " of " << classInfo.name << std::endl;
        return true;
    }

    pluginController = owned (controllerCreated);

    if (pluginController->initialize (hostContext) != kResultOk)
    {
        errors << "Failed to initialize controller of " << classInfo.name << "!" << std::endl;
        pluginController = nullptr;
        return false;
    }

    controllerInitialized = true;

    if (! connection.connect (pluginComponent, pluginController))
        errors << "Component and controller of " << classInfo.name << " could not be connected" << std::endl;

    return true;
}

void PlugProvider::terminate()
{
    connection.disconnect();

    if (pluginController != nullptr && controllerInitialized && ! controllerIsComponent)
        pluginController->terminate();

    if (pluginComponent != nullptr && componentInitialized)
        pluginComponent->terminate();

    pluginController = nullptr;
    pluginComponent = nullptr;
    componentInitialized = false;
    controllerInitialized = false;
    controllerIsComponent = false;
}
} // namespace orvane::vsthost
