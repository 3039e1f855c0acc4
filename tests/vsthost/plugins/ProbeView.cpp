#include "ProbeView.h"

#include "ProbeLog.h"

#include <cstring>
#include <string>

namespace probe
{
using namespace Steinberg;

ProbeView::ProbeView (EditorMode editorMode)
    : mode (editorMode), rect (0, 0, editorWidth, editorHeight)
{
    if (mode == EditorMode::zeroSize)
        rect = ViewRect (0, 0, 0, 300);
}

ProbeView::~ProbeView()
{
    if (mode != EditorMode::none)   // not the stand-in for another view
        logLine ("view.destroyed");
}

tresult PLUGIN_API ProbeView::isPlatformTypeSupported (FIDString type)
{
    if (mode == EditorMode::refusesX11 || type == nullptr)
        return kResultFalse;

    return std::strcmp (type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API ProbeView::attached (void* parent, FIDString type)
{
    logLine (std::string ("view.attached parent=") + (parent != nullptr ? "set" : "null") + " type="
             + (type != nullptr ? type : ""));

    if (mode == EditorMode::slowAttach)
        waitForGate();

    if (mode == EditorMode::attachFails || parent == nullptr)
        return kResultFalse;

    if (frame != nullptr)
    {
        if (frame->queryInterface (Linux::IRunLoop::iid, reinterpret_cast<void**> (&runLoop)) == kResultOk && runLoop != nullptr)
            logLine ("view.runLoop timer=" + std::to_string (runLoop->registerTimer (this, 20)));
        else
            logLine ("view.runLoop none");

        ProbeView other (EditorMode::none);
        ViewRect small (0, 0, 100, 100);
        logLine ("view.resizeView foreign=" + std::to_string (frame->resizeView (&other, &small)));

        ViewRect larger (0, 0, editorResizedWidth, editorResizedHeight);
        logLine ("view.resizeView own=" + std::to_string (frame->resizeView (this, &larger)));
    }

    return kResultOk;
}

tresult PLUGIN_API ProbeView::removed()
{
    if (runLoop != nullptr)
    {
        runLoop->unregisterTimer (this);
        runLoop->release();
        runLoop = nullptr;
    }

    logLine ("view.removed");
    return kResultOk;
}

tresult PLUGIN_API ProbeView::onWheel (float)
{
    return kResultFalse;
}

tresult PLUGIN_API ProbeView::onKeyDown (char16, int16, int16)
{
    return kResultFalse;
}

tresult PLUGIN_API ProbeView::onKeyUp (char16, int16, int16)
{
    return kResultFalse;
}

tresult PLUGIN_API ProbeView::getSize (ViewRect* size)
{
    if (size == nullptr)
        return kInvalidArgument;

    *size = rect;
    return kResultOk;
}

tresult PLUGIN_API ProbeView::onSize (ViewRect* newSize)
{
    if (newSize == nullptr)
        return kInvalidArgument;

    rect = *newSize;
    logLine ("view.onSize " + std::to_string (rect.getWidth()) + "x" + std::to_string (rect.getHeight()));
    return kResultOk;
}

tresult PLUGIN_API ProbeView::onFocus (TBool)
{
    return kResultOk;
}

tresult PLUGIN_API ProbeView::setFrame (IPlugFrame* newFrame)
{
    logLine (std::string ("view.setFrame ") + (newFrame != nullptr ? "set" : "null"));

    if (mode == EditorMode::setFrameFails && newFrame != nullptr)
        return kResultFalse;

    frame = newFrame;
    return kResultOk;
}

tresult PLUGIN_API ProbeView::canResize()
{
    logLine ("view.canResize");
    return kResultTrue;
}

tresult PLUGIN_API ProbeView::checkSizeConstraint (ViewRect*)
{
    return kResultOk;
}

void PLUGIN_API ProbeView::onTimer()
{
    if (! timerLogged)
        logLine ("view.timer");

    timerLogged = true;
}

tresult PLUGIN_API ProbeView::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (FUnknownPrivate::iidEqual (iid, FUnknown::iid) || FUnknownPrivate::iidEqual (iid, IPlugView::iid))
    {
        *obj = static_cast<IPlugView*> (this);
        addRef();
        return kResultOk;
    }

    if (FUnknownPrivate::iidEqual (iid, Linux::ITimerHandler::iid))
    {
        *obj = static_cast<Linux::ITimerHandler*> (this);
        addRef();
        return kResultOk;
    }

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API ProbeView::addRef()
{
    return ++references;
}

uint32 PLUGIN_API ProbeView::release()
{
    const auto left = --references;

    if (left == 0)
        delete this;

    return left;
}
} // namespace probe
