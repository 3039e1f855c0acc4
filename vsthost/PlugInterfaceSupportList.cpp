#include "vsthost/PlugInterfaceSupportList.h"

#include "vsthost/ComSupport.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <algorithm>
#include <cstring>

namespace orvane::vsthost
{
using namespace Steinberg;

PlugInterfaceSupportList::PlugInterfaceSupportList()
{
    add (Vst::IComponent::iid);
    add (Vst::IAudioProcessor::iid);
    add (Vst::IEditController::iid);
    add (Vst::IConnectionPoint::iid);
    add (Vst::IUnitInfo::iid);
    add (Vst::IUnitData::iid);
    add (Vst::IProgramListData::iid);
    add (Vst::IMidiMapping::iid);
    add (Vst::IEditController2::iid);
}

PlugInterfaceSupportList::Id PlugInterfaceSupportList::toId (const TUID iid)
{
    Id id {};
    std::memcpy (id.data(), iid, id.size());
    return id;
}

void PlugInterfaceSupportList::add (const TUID iid)
{
    const auto id = toId (iid);

    if (std::find (entries.begin(), entries.end(), id) == entries.end())
        entries.push_back (id);
}

bool PlugInterfaceSupportList::remove (const TUID iid)
{
    const auto id = toId (iid);
    const auto first = std::remove (entries.begin(), entries.end(), id);
    const bool found = first != entries.end();
    entries.erase (first, entries.end());
    return found;
}

tresult PLUGIN_API PlugInterfaceSupportList::isPlugInterfaceSupported (const TUID iid)
{
    if (iid == nullptr)
        return kInvalidArgument;

    return std::find (entries.begin(), entries.end(), toId (iid)) != entries.end() ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API PlugInterfaceSupportList::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<Vst::IPlugInterfaceSupport> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API PlugInterfaceSupportList::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API PlugInterfaceSupportList::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
