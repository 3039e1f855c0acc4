#pragma once

#include "vsthost/PlugInterfaceSupportList.h"

#include "pluginterfaces/vst/ivsthostapplication.h"

namespace orvane::vsthost
{
/** The host application every plug-in of this worker sees: its name, the messages and attribute
    lists it creates, and the list of supported plug-in interfaces (answered through
    queryInterface of IPlugInterfaceSupport). One object lives for the whole process, because
    factories keep the host context they are given; it is not reference counted. */
class OrvaneHostApplication final : public Steinberg::Vst::IHostApplication
{
public:
    OrvaneHostApplication() = default;
    virtual ~OrvaneHostApplication() = default;

    /** The process-wide host application. */
    static OrvaneHostApplication& instance();

    /** Narrows the interface list to what the worker offers: IComponent, IAudioProcessor,
        IEditController, IConnectionPoint, IPrefetchableSupport, IProcessContextRequirements. */
    void trimInterfaceSupport();

    PlugInterfaceSupportList& interfaceSupport() { return supportList; }

    /** "Orvane VST Host" as UTF-16. */
    Steinberg::tresult PLUGIN_API getName (Steinberg::Vst::String128 name) override;
    Steinberg::tresult PLUGIN_API createInstance (Steinberg::TUID cid, Steinberg::TUID iid, void** obj) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    PlugInterfaceSupportList supportList;
};
} // namespace orvane::vsthost
