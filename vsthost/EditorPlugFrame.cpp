#include "vsthost/EditorPlugFrame.h"

#include "vsthost/ComSupport.h"

#include "platform/X11Window.h"

#include <algorithm>
#include <cstdint>

namespace orvane::vsthost
{
using namespace Steinberg;

namespace
{
int sideOf (int32 low, int32 high)
{
    const auto side = static_cast<std::int64_t> (high) - static_cast<std::int64_t> (low);
    return static_cast<int> (std::clamp<std::int64_t> (side, 1, INT32_MAX));
}
} // namespace

EditorPlugFrame::EditorPlugFrame (vantrel::platform::X11Window* hostWindow, IPlugView* plugView, Linux::IRunLoop* hostRunLoop)
    : window (hostWindow), ownView (plugView), runLoop (hostRunLoop)
{
}

tresult PLUGIN_API EditorPlugFrame::resizeView (IPlugView* view, ViewRect* newSize)
{
    if (view == nullptr || newSize == nullptr || view != ownView)
        return kInvalidArgument;

    // The view's size is the window's inside size: no frame adjustment on X11.
    if (window != nullptr)
        window->resize (sideOf (newSize->left, newSize->right), sideOf (newSize->top, newSize->bottom));

    return view->onSize (newSize);
}

tresult PLUGIN_API EditorPlugFrame::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<IPlugFrame> (iid, obj, this))
        return kResultOk;

    if (runLoop != nullptr && FUnknownPrivate::iidEqual (iid, Linux::IRunLoop::iid))
    {
        *obj = runLoop;
        runLoop->addRef();
        return kResultOk;
    }

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API EditorPlugFrame::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API EditorPlugFrame::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
