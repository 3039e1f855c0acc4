#include "vsthost/OrvaneHostApplication.h"

#include "vsthost/ComSupport.h"
#include "vsthost/HostAttributeList.h"
#include "vsthost/HostMessage.h"
#include "vsthost/Utf16Text.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstprefetchablesupport.h"
#include "pluginterfaces/vst/ivstunits.h"

#include <algorithm>
#include <cstring>

namespace orvane::vsthost
{
using namespace Steinberg;

OrvaneHostApplication& OrvaneHostApplication::instance()
{
    static OrvaneHostApplication application;
    return application;
}

void OrvaneHostApplication::trimInterfaceSupport()
{
    supportList.remove (Vst::IMidiMapping::iid);
    supportList.remove (Vst::IUnitInfo::iid);
    supportList.remove (Vst::IUnitData::iid);
    supportList.remove (Vst::IProgramListData::iid);
    supportList.remove (Vst::IEditController2::iid);
    supportList.add (Vst::IPrefetchableSupport::iid);
    supportList.add (Vst::IProcessContextRequirements::iid);
}

tresult PLUGIN_API OrvaneHostApplication::getName (Vst::String128 name)
{
    if (name == nullptr)
        return kInvalidArgument;

    std::u16string text;

    if (! utf8ToUtf16 ("Orvane VST Host", text))
        return kInternalError;

    const auto count = std::min<std::size_t> (text.size(), 127);
    std::memcpy (name, text.data(), count * sizeof (Vst::TChar));
    name[count] = 0;
    return kResultOk;
}

tresult PLUGIN_API OrvaneHostApplication::createInstance (TUID cid, TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    *obj = nullptr;

    if (cid == nullptr || iid == nullptr)
        return kInvalidArgument;

    if (FUnknownPrivate::iidEqual (cid, Vst::IMessage::iid) && FUnknownPrivate::iidEqual (iid, Vst::IMessage::iid))
    {
        *obj = static_cast<Vst::IMessage*> (new HostMessage());
        return kResultTrue;
    }

    if (FUnknownPrivate::iidEqual (cid, Vst::IAttributeList::iid) && FUnknownPrivate::iidEqual (iid, Vst::IAttributeList::iid))
    {
        *obj = static_cast<Vst::IAttributeList*> (new HostAttributeList());
        return kResultTrue;
    }

    return kResultFalse;
}

tresult PLUGIN_API OrvaneHostApplication::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<Vst::IHostApplication> (iid, obj, this))
        return kResultOk;

    if (supportList.queryInterface (iid, obj) == kResultOk)
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API OrvaneHostApplication::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API OrvaneHostApplication::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
