#pragma once

#include "pluginterfaces/base/funknown.h"

namespace orvane::vsthost
{
/** queryInterface helper: when `iid` names Interface, hands out `self` as that interface (with
    an addRef) and returns true. */
template <typename Interface, typename Object>
bool answerInterface (const Steinberg::TUID iid, void** obj, Object* self)
{
    if (! Steinberg::FUnknownPrivate::iidEqual (iid, Interface::iid))
        return false;

    *obj = static_cast<Interface*> (self);
    self->addRef();
    return true;
}

/** The reference count the worker's own host objects report: they are owned outright by the
    worker, so addRef and release change nothing. */
inline constexpr Steinberg::uint32 fixedReferenceCount = 1000;
} // namespace orvane::vsthost
