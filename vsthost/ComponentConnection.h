#pragma once

#include "pluginterfaces/base/smartpointer.h"
#include "pluginterfaces/vst/ivstmessage.h"

namespace orvane::vsthost
{
/** Connects a plug-in's component and controller to each other through their connection points
    (each sees the other directly) and disconnects them again. UI thread only. */
class ComponentConnection
{
public:
    ComponentConnection() = default;
    ~ComponentConnection();

    ComponentConnection (const ComponentConnection&) = delete;
    ComponentConnection& operator= (const ComponentConnection&) = delete;

    /** True when both offer a connection point and both accepted the other; false (and nothing
        left connected) otherwise. */
    bool connect (Steinberg::FUnknown* component, Steinberg::FUnknown* controller);

    void disconnect();
    bool isConnected() const { return componentPoint != nullptr; }

private:
    Steinberg::IPtr<Steinberg::Vst::IConnectionPoint> componentPoint;
    Steinberg::IPtr<Steinberg::Vst::IConnectionPoint> controllerPoint;
};
} // namespace orvane::vsthost
