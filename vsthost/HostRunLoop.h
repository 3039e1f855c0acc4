#pragma once

#include "pluginterfaces/gui/iplugview.h"

#include <vector>

namespace orvane::vsthost
{
class UiDispatcher;

/** The host's run loop as plug-ins see it on Linux: their descriptors and timers are served by
    the worker's UI thread loop. A handler is held (addRef) while registered. Registration is
    accepted on the UI thread only. Not reference counted itself: its owner (the backend) keeps it
    for the plug-in's whole life, longer than any editor frame that hands it out (plug-ins keep the
    pointer), and unregisters everything on destruction, before the plug-in's module goes. */
class HostRunLoop final : public Steinberg::Linux::IRunLoop
{
public:
    explicit HostRunLoop (UiDispatcher& dispatcher);
    virtual ~HostRunLoop();

    HostRunLoop (const HostRunLoop&) = delete;
    HostRunLoop& operator= (const HostRunLoop&) = delete;

    /** The same handler may register several descriptors. */
    Steinberg::tresult PLUGIN_API registerEventHandler (Steinberg::Linux::IEventHandler* handler,
                                                        Steinberg::Linux::FileDescriptor fd) override;
    /** Removes every descriptor of the handler. */
    Steinberg::tresult PLUGIN_API unregisterEventHandler (Steinberg::Linux::IEventHandler* handler) override;
    Steinberg::tresult PLUGIN_API registerTimer (Steinberg::Linux::ITimerHandler* handler,
                                                 Steinberg::Linux::TimerInterval milliseconds) override;
    Steinberg::tresult PLUGIN_API unregisterTimer (Steinberg::Linux::ITimerHandler* handler) override;

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

    /** Drops every registration (releasing the handlers). */
    void unregisterAll();

private:
    UiDispatcher& dispatcher;
    std::vector<Steinberg::Linux::IEventHandler*> eventHandlers;
    std::vector<Steinberg::Linux::ITimerHandler*> timerHandlers;
};
} // namespace orvane::vsthost
