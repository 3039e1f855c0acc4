#include "vsthost/WorkerServer.h"

#include "vsthost/ProtocolText.h"
#include "vsthost/Vst3Loader.h"

#include "platform/ThreadContract.h"
#include "platform/ThreadPriority.h"

#include <stdexcept>
#include <thread>

namespace orvane::vsthost
{
namespace
{
ProtocolServices vst3Services (UiDispatcher& dispatcher)
{
    ProtocolServices services;
    services.loadBackend = [&dispatcher] (const std::string& path, const std::string& classId, std::string& error)
    {
        return BackendSlot (loadVst3Backend (path, classId, error, &dispatcher));
    };
    services.scanModule = [] (const std::string& path, std::string& error) { return scanVst3Module (path, error); };
    return services;
}
} // namespace

void invokeOnUiThread (UiDispatcher& dispatcher, std::function<void()> job)
{
    dispatcher.invoke (std::move (job));
}

void postToUiThread (UiDispatcher& dispatcher, std::function<void()> job)
{
    if (! dispatcher.post (std::move (job)))
        throw std::runtime_error ("VST UI dispatcher unavailable");
}

void serviceUiIdle (BackendSlot& slot, LiveStatus& liveStatus)
{
    VANTREL_ASSERT_UI_THREAD;
    if (slot == nullptr)
        return;

    slot->serviceIdle();
    updateLiveStatus (liveStatus, slot.get());
}

void protocolThreadMain (ProtocolThreadStart& start)
{
    const vantrel::ThreadRoleScope protocolRole (vantrel::ThreadRole::protocol);
    const bool realtime = vantrel::platform::tryRealtimePriority();
    auto& dispatcher = start.dispatcher;
    const UiInvoker invokeSync = [&dispatcher] (std::function<void()> job) { invokeOnUiThread (dispatcher, std::move (job)); };
    const UiInvoker postAsync = [&dispatcher] (std::function<void()> job) { postToUiThread (dispatcher, std::move (job)); };

    try
    {
        start.resultCode = runProtocol (start.in, start.out, start.slot, invokeSync, postAsync, start.liveStatus, start.services);
    }
    catch (const std::exception& failure)
    {
        start.out << "ERR\t" << sanitizeField (failure.what()) << "\n";
        start.out.flush();
    }
    catch (...)
    {
        start.out << "ERR\tVST worker protocol failed\n";
        start.out.flush();
    }

    try
    {
        invokeOnUiThread (dispatcher, [&start] { start.slot.reset(); });
    }
    catch (...)
    {
        // The UI loop is gone; runWorkerServer destroys the backend itself.
    }

    dispatcher.postQuit();

    if (realtime)
        vantrel::platform::restoreNormalPriority();
}

int runWorkerServer (std::istream& in, std::ostream& out)
{
    return runWorkerServer (in, out, vst3Services);
}

int runWorkerServer (std::istream& in, std::ostream& out, const std::function<ProtocolServices (UiDispatcher&)>& makeServices)
{
    VANTREL_ASSERT_UI_THREAD;
    LiveStatus liveStatus;
    UiDispatcher dispatcher;
    BackendSlot slot;
    const auto services = makeServices (dispatcher);
    dispatcher.setIdleService ([&slot, &liveStatus] { serviceUiIdle (slot, liveStatus); });

    int resultCode = 70;
    ProtocolThreadStart start { resultCode, in, out, slot, dispatcher, liveStatus, services };
    std::thread protocolThread ([&start] { protocolThreadMain (start); });

    dispatcher.run();
    protocolThread.join();
    slot.reset();
    return resultCode;
}
} // namespace orvane::vsthost
