#pragma once

#include "pluginterfaces/vst/ivstmessage.h"

#include <atomic>
#include <string>

namespace orvane::vsthost
{
class HostAttributeList;

/** The message the host creates for plug-ins (createInstance of IMessage), used between a
    plug-in's component and controller. Reference counted; deleted at the last release. */
class HostMessage final : public Steinberg::Vst::IMessage
{
public:
    HostMessage();
    virtual ~HostMessage();

    Steinberg::FIDString PLUGIN_API getMessageID() override;
    void PLUGIN_API setMessageID (Steinberg::FIDString id) override;
    Steinberg::Vst::IAttributeList* PLUGIN_API getAttributes() override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

private:
    std::string messageId;
    bool hasId = false;
    HostAttributeList* attributes = nullptr;
    std::atomic<Steinberg::uint32> references { 1 };
};
} // namespace orvane::vsthost
