#pragma once

#include "vsthost/LiveStatus.h"
#include "vsthost/UiDispatcher.h"
#include "vsthost/WorkerProtocol.h"

#include <functional>
#include <istream>
#include <ostream>

namespace orvane::vsthost
{
/** What the protocol thread is started with. resultCode is 70 until the protocol loop returns,
    then the loop's result. */
struct ProtocolThreadStart
{
    int& resultCode;
    std::istream& in;
    std::ostream& out;
    BackendSlot& slot;
    UiDispatcher& dispatcher;
    LiveStatus& liveStatus;
    const ProtocolServices& services;
};

/** The worker's frame, on the calling thread, which becomes the UI thread: sets up the live
    status, the dispatcher and the empty backend slot, starts the protocol thread and serves the
    UI loop until the protocol thread's teardown ends it. Returns the exit code: 0 after QUIT or
    the end of input, exitOutOfStep (65) when the input fell out of step, 70 when an exception
    escaped the protocol loop. Throws when the dispatcher or the protocol thread cannot be
    created. */
int runWorkerServer (std::istream& in, std::ostream& out);

/** The same with other plug-in services (tests). */
int runWorkerServer (std::istream& in, std::ostream& out,
                     const std::function<ProtocolServices (UiDispatcher&)>& makeServices);

/** The protocol thread's body: real-time priority when the system grants it, the protocol loop,
    an "ERR" line for an escaping exception, then the teardown: the plug-in is destroyed on the
    UI thread and the UI loop is told to end behind the jobs already posted. */
void protocolThreadMain (ProtocolThreadStart& start);

/** Runs the job on the UI thread and waits; its exception is raised again here. */
void invokeOnUiThread (UiDispatcher& dispatcher, std::function<void()> job);

/** Queues the job for the UI thread; throws "VST UI dispatcher unavailable" once the loop ended. */
void postToUiThread (UiDispatcher& dispatcher, std::function<void()> job);

/** UI thread, after every dispatched item and at least every 10 ms: the backend's idle service,
    then the live status. Nothing happens without a backend. */
void serviceUiIdle (BackendSlot& slot, LiveStatus& liveStatus);
} // namespace orvane::vsthost
