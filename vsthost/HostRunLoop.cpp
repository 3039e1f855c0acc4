#include "vsthost/HostRunLoop.h"

#include "vsthost/ComSupport.h"
#include "vsthost/UiDispatcher.h"

#include "platform/X11Connection.h"

#include <algorithm>

namespace orvane::vsthost
{
using namespace Steinberg;

HostRunLoop::HostRunLoop (UiDispatcher& uiDispatcher)
    : dispatcher (uiDispatcher)
{
}

HostRunLoop::~HostRunLoop()
{
    unregisterAll();
}

tresult PLUGIN_API HostRunLoop::registerEventHandler (Linux::IEventHandler* handler, Linux::FileDescriptor fd)
{
    if (handler == nullptr || fd < 0)
        return kInvalidArgument;

    if (! dispatcher.isUiThread())
        return kResultFalse;

    handler->addRef();
    eventHandlers.push_back (handler);
    // An X connection is offered every tick as well: a plug-in's editor may leave its events in
    // Xlib's queue (read along with a reply) and then wait on a socket that stays quiet.
    const auto service = vantrel::platform::isX11ServerConnection (fd) ? UiDispatcher::DescriptorService::alsoEveryTick
                                                                       : UiDispatcher::DescriptorService::whenReadable;
    dispatcher.watchDescriptor (handler, fd, [handler] (int readyFd) { handler->onFDIsSet (readyFd); }, service);
    return kResultOk;
}

tresult PLUGIN_API HostRunLoop::unregisterEventHandler (Linux::IEventHandler* handler)
{
    if (handler == nullptr)
        return kInvalidArgument;

    if (! dispatcher.isUiThread())
        return kResultFalse;

    const auto registered = std::count (eventHandlers.begin(), eventHandlers.end(), handler);

    if (registered == 0)
        return kResultFalse;

    dispatcher.unwatchDescriptors (handler);
    eventHandlers.erase (std::remove (eventHandlers.begin(), eventHandlers.end(), handler), eventHandlers.end());

    for (auto i = 0; i < registered; ++i)
        handler->release();

    return kResultOk;
}

tresult PLUGIN_API HostRunLoop::registerTimer (Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds)
{
    if (handler == nullptr || milliseconds == 0)
        return kInvalidArgument;

    if (! dispatcher.isUiThread())
        return kResultFalse;

    handler->addRef();
    timerHandlers.push_back (handler);
    dispatcher.startTimer (handler, milliseconds, [handler] { handler->onTimer(); });
    return kResultOk;
}

tresult PLUGIN_API HostRunLoop::unregisterTimer (Linux::ITimerHandler* handler)
{
    if (handler == nullptr)
        return kInvalidArgument;

    if (! dispatcher.isUiThread())
        return kResultFalse;

    const auto registered = std::count (timerHandlers.begin(), timerHandlers.end(), handler);

    if (registered == 0)
        return kResultFalse;

    dispatcher.stopTimers (handler);
    timerHandlers.erase (std::remove (timerHandlers.begin(), timerHandlers.end(), handler), timerHandlers.end());

    for (auto i = 0; i < registered; ++i)
        handler->release();

    return kResultOk;
}

void HostRunLoop::unregisterAll()
{
    for (auto* handler : eventHandlers)
    {
        dispatcher.unwatchDescriptors (handler);
        handler->release();
    }

    for (auto* handler : timerHandlers)
    {
        dispatcher.stopTimers (handler);
        handler->release();
    }

    eventHandlers.clear();
    timerHandlers.clear();
}

tresult PLUGIN_API HostRunLoop::queryInterface (const TUID iid, void** obj)
{
    if (obj == nullptr)
        return kInvalidArgument;

    if (answerInterface<FUnknown> (iid, obj, this) || answerInterface<Linux::IRunLoop> (iid, obj, this))
        return kResultOk;

    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API HostRunLoop::addRef()
{
    return fixedReferenceCount;
}

uint32 PLUGIN_API HostRunLoop::release()
{
    return fixedReferenceCount;
}
} // namespace orvane::vsthost
