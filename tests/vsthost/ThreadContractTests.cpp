// The worker's entry points check their thread in checked builds: the plug-in's processing
// belongs to the protocol thread, everything else of the plug-in to the UI thread, and the UI
// loop's registrations to the thread that made the dispatcher. A call from the wrong thread stops
// the worker with the broken contract instead of racing the plug-in.
#include "FakeBackend.h"

#include "vsthost/LiveStatus.h"
#include "vsthost/ProcessInterleaved.h"
#include "vsthost/UiDispatcher.h"

#include "platform/ThreadContract.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace
{
using namespace orvane::vsthost;
using vantrel::ThreadRole;
using vantrel::ThreadRoleScope;

#if VANTREL_THREAD_CHECKS
TEST (WorkerThreadContracts, AnEntryPointCalledFromTheWrongThreadStopsWithTheBrokenContract)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    struct Case
    {
        ThreadRole caller;
        std::function<void()> call;
        const char* report;
    };

    const Case cases[] = {
        { ThreadRole::message, []
          {
              vsthost_test::FakeBackend backend;
              std::vector<float> samples (4, 0.0f);
              processInterleaved (backend, ProcessConfig {}, samples, 2, 2);
          }, "processInterleaved must run on the protocol thread, called on the message thread" },
        { ThreadRole::protocol, []
          {
              LiveStatus status;
              vsthost_test::FakeBackend backend;
              updateLiveStatus (status, &backend);
          }, "updateLiveStatus must run on the UI thread, called on the protocol thread" },
        { ThreadRole::message, []
          {
              UiDispatcher dispatcher;
              std::thread other ([&dispatcher] { dispatcher.startTimer (&dispatcher, 10, [] {}); });
              other.join();
          }, "startTimer must run on the UI thread" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.report);
        EXPECT_DEATH (
            {
                const ThreadRoleScope role (c.caller);
                c.call();
            },
            c.report);
    }
}
#endif
} // namespace
