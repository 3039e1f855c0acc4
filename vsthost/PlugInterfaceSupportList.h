#pragma once

#include "pluginterfaces/vst/ivstpluginterfacesupport.h"

#include <array>
#include <vector>

namespace orvane::vsthost
{
/** The list of plug-in interfaces the host tells plug-ins it supports. Owned by the host
    application; not reference counted. */
class PlugInterfaceSupportList final : public Steinberg::Vst::IPlugInterfaceSupport
{
public:
    /** Starts with the VST3 default set: IComponent, IAudioProcessor, IEditController,
        IConnectionPoint, IUnitInfo, IUnitData, IProgramListData, IMidiMapping, IEditController2. */
    PlugInterfaceSupportList();
    virtual ~PlugInterfaceSupportList() = default;

    /** Adds the interface unless it is listed already. */
    void add (const Steinberg::TUID iid);

    /** Removes every entry of the interface; false when it was not listed. */
    bool remove (const Steinberg::TUID iid);

    std::size_t size() const { return entries.size(); }

    Steinberg::tresult PLUGIN_API isPlugInterfaceSupported (const Steinberg::TUID iid) override;
    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    using Id = std::array<char, 16>;
    static Id toId (const Steinberg::TUID iid);

    std::vector<Id> entries;
};
} // namespace orvane::vsthost
