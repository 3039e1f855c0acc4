#pragma once

#include "vsthost/ComponentConnection.h"
#include "vsthost/Vst3Module.h"

#include "pluginterfaces/base/smartpointer.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <ostream>

namespace orvane::vsthost
{
/** Creates one plug-in class from a factory: the component, initialised with the host context;
    its controller (the component itself when it also is one, else the class the component names),
    initialised too; both connected. A class without a controller is a valid plug-in. The
    destructor disconnects and terminates them. Failures are described on `errorStream`
    (standard error; never the protocol's output). UI thread only. */
class PlugProvider
{
public:
    PlugProvider (Steinberg::IPluginFactory* factory, const ModuleClassInfo& classInfo, std::ostream& errorStream);
    ~PlugProvider();

    PlugProvider (const PlugProvider&) = delete;
    PlugProvider& operator= (const PlugProvider&) = delete;

    /** False when the component cannot be created or initialised, or a controller it names
        exists but fails to initialise. */
    bool initialize (Steinberg::FUnknown* hostContext);

    Steinberg::Vst::IComponent* component() const { return pluginComponent; }
    Steinberg::Vst::IEditController* controller() const { return pluginController; }

private:
    void terminate();

    Steinberg::IPtr<Steinberg::IPluginFactory> factory;
    ModuleClassInfo classInfo;
    std::ostream& errors;
    Steinberg::IPtr<Steinberg::Vst::IComponent> pluginComponent;
    Steinberg::IPtr<Steinberg::Vst::IEditController> pluginController;
    bool componentInitialized = false;
    bool controllerInitialized = false;
    bool controllerIsComponent = false;
    ComponentConnection connection;
};
} // namespace orvane::vsthost
