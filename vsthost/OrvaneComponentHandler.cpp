#include "vsthost/OrvaneComponentHandler.h"

#include "vsthost/ComSupport.h"

#include <cmath>

namespace orvane::vsthost
{
using namespace Steinberg;

OrvaneComponentHandler::OrvaneComponentHandler (std::function<void (std::uint32_t, double)> performEditCallback,
                                                std::function<void (std::int32_t)> restartCallback,
                                                std::function<void (bool)> dirtyCallback)
    : onPerformEdit (std::move (performEditCallback)),
      onRestart (std::move (restartCallback)),
      onDirty (std::move (dirtyCallback))
{
}

tresult PLUGIN_API OrvaneComponentHandler::beginEdit (Vst::ParamID)
{
    return kResultOk;
}

tresult PLUGIN_API OrvaneComponentHandler::performEdit (Vst::ParamID id, Vst::ParamValue value)
{
    if (! std::isfinite (value) || value < 0.0 || value > 1.0)
        return kInvalidArgument;

    if (onPerformEdit)
        onPerformEdit (id, value);

    return kResultOk;
}

tresult PLUGIN_API OrvaneComponentHandler::endEdit (Vst::ParamID)
{
    return kResultOk;
}

tresult PLUGIN_API OrvaneComponentHandler::restartComponent (int32 flags)
{
    if (onRestart)
        onRestart (flags);

    return kResultOk;
}

tresult PLUGIN_API OrvaneComponentHandler::setDirty (TBool state)
{
    if (onDirty)
        onDirty (state != 0);

    return kResultOk;
}

tresult PLUGIN_API OrvaneComponentHandler::requestOpenEditor (FIDString)
{
    return kNotImplemented;
}

tresult PLUGIN_API OrvaneComponentHandler::startGroupEdit()
{
    return kResultOk;
}

tresult PLUGIN_API OrvaneComponentHandler::finishGroupEdit()
{
    return kResultOk;
}

tresult PLUGIN_API OrvaneComponentHandler::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (FUnknownPrivate::iidEqual (iid, FUnknown::iid))
    {
        *obj = static_cast<FUnknown*> (static_cast<Vst::IComponentHandler*> (this));
        return kResultOk;
    }

    if (answerInterface<Vst::IComponentHandler> (iid, obj, this) || answerInterface<Vst::IComponentHandler2> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API OrvaneComponentHandler::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API OrvaneComponentHandler::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
