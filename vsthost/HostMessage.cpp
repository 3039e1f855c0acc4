#include "vsthost/HostMessage.h"

#include "vsthost/ComSupport.h"
#include "vsthost/HostAttributeList.h"

namespace orvane::vsthost
{
using namespace Steinberg;

HostMessage::HostMessage()
    : attributes (new HostAttributeList())
{
}

HostMessage::~HostMessage()
{
    attributes->release();
}

FIDString PLUGIN_API HostMessage::getMessageID()
{
    return hasId ? messageId.c_str() : nullptr;
}

void PLUGIN_API HostMessage::setMessageID (FIDString id)
{
    hasId = id != nullptr;
    messageId = hasId ? id : "";
}

Vst::IAttributeList* PLUGIN_API HostMessage::getAttributes()
{
    return attributes;
}

tresult PLUGIN_API HostMessage::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<Vst::IMessage> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API HostMessage::addRef()
{
    return ++references;
}

uint32 PLUGIN_API HostMessage::release()
{
    const auto left = --references;

    if (left == 0)
        delete this;

    return left;
}
} // namespace orvane::vsthost
