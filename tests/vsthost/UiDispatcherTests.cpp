// The worker's UI thread loop: ordering of synchronous and posted jobs, the quit entry,
// exceptions crossing threads, and the descriptors and timers plug-ins register through the
// host run loop.
#include "vsthost/HostRunLoop.h"
#include "vsthost/UiDispatcher.h"

#include "platform/EventWaker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

using namespace orvane::vsthost;

TEST (UiDispatcher, SynchronousJobsOvertakePostedOnesAndPostedJobsBeforeQuitStillRun)
{
    UiDispatcher dispatcher;
    std::vector<std::string> order;   // written on the UI thread only

    std::thread protocol ([&]
    {
        std::thread sender;

        // Hold the UI thread inside a job while posted jobs, a synchronous job and the quit
        // entry queue up behind it.
        dispatcher.invoke ([&]
        {
            order.push_back ("blocking");
            dispatcher.post ([&] { order.push_back ("posted-1"); });
            dispatcher.post ([&] { order.push_back ("posted-2"); });
            sender = std::thread ([&] { dispatcher.invoke ([&] { order.push_back ("sync"); }); });

            while (dispatcher.queuedCounts().first == 0)
                std::this_thread::yield();

            dispatcher.postQuit();
            dispatcher.post ([&] { order.push_back ("after-quit"); });
        });

        sender.join();
    });

    dispatcher.run();
    protocol.join();

    // The waiting synchronous job overtakes the posted ones; every job posted before the quit
    // entry still ran, none after it.
    const std::vector<std::string> expected { "blocking", "sync", "posted-1", "posted-2" };
    EXPECT_EQ (order, expected);
    EXPECT_THROW (dispatcher.invoke ([] {}), std::runtime_error);
    EXPECT_FALSE (dispatcher.post ([] {}));
}

TEST (UiDispatcher, ExceptionsOfSynchronousJobsReachTheCaller)
{
    UiDispatcher dispatcher;
    std::string caught;
    bool badFunctionCall = false;

    std::thread protocol ([&]
    {
        try
        {
            dispatcher.invoke ([] { throw std::runtime_error ("plug-in refused"); });
        }
        catch (const std::runtime_error& failure)
        {
            caught = failure.what();
        }

        try
        {
            dispatcher.invoke ({});
        }
        catch (const std::bad_function_call&)
        {
            badFunctionCall = true;
        }

        dispatcher.post ([] { throw std::logic_error ("posted jobs report their own failures"); });
        dispatcher.postQuit();
    });

    dispatcher.run();
    protocol.join();
    EXPECT_EQ (caught, "plug-in refused");
    EXPECT_TRUE (badFunctionCall);
}

TEST (UiDispatcher, IdleServiceRunsAfterEveryItemAndOnItsOwn)
{
    UiDispatcher dispatcher;
    std::atomic<int> idleRuns { 0 };
    dispatcher.setIdleService ([&] { ++idleRuns; });

    std::thread protocol ([&]
    {
        for (int i = 0; i < 5; ++i)
            dispatcher.invoke ([] {});

        // Read on the UI thread, after the services that followed the five jobs.
        int afterJobs = 0;
        dispatcher.invoke ([&] { afterJobs = idleRuns.load(); });
        EXPECT_GE (afterJobs, 5);

        // With nothing to do the loop still serves its idle service.
        while (idleRuns.load() < afterJobs + 3)
            std::this_thread::yield();

        dispatcher.postQuit();
    });

    dispatcher.run();
    protocol.join();
}

TEST (UiDispatcher, NestedPumpsServeJobsButNeverTheQuit)
{
    UiDispatcher dispatcher;
    std::vector<std::string> order;

    std::thread protocol ([&]
    {
        dispatcher.invoke ([&]
        {
            // Inside a job (as an editor's modal loop would), let other work in.
            std::thread other ([&]
            {
                dispatcher.post ([&] { order.push_back ("posted-inside"); });
                dispatcher.postQuit();
            });
            other.join();

            for (int i = 0; i < 5; ++i)
                dispatcher.dispatchPending (1);

            order.push_back ("modal-loop-done");
        });
    });

    dispatcher.run();
    protocol.join();
    EXPECT_EQ (order, (std::vector<std::string> { "posted-inside", "modal-loop-done" }));
}

namespace
{
class CountingHandler final : public Steinberg::Linux::IEventHandler, public Steinberg::Linux::ITimerHandler
{
public:
    explicit CountingHandler (vantrel::platform::EventWaker& wakerToDrain) : waker (wakerToDrain) {}

    void PLUGIN_API onFDIsSet (Steinberg::Linux::FileDescriptor fd) override
    {
        EXPECT_EQ (fd, waker.descriptor());
        waker.consume();
        ++events;
    }

    void PLUGIN_API onTimer() override { ++timerCalls; }

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID, void** obj) override
    {
        *obj = nullptr;
        return Steinberg::kNoInterface;
    }

    Steinberg::uint32 PLUGIN_API addRef() override { return static_cast<Steinberg::uint32> (++references); }
    Steinberg::uint32 PLUGIN_API release() override { return static_cast<Steinberg::uint32> (--references); }

    vantrel::platform::EventWaker& waker;
    int events = 0;
    int timerCalls = 0;
    int references = 1;
};
} // namespace

TEST (HostRunLoop, ServesPluginDescriptorsAndTimersOnTheUiThread)
{
    UiDispatcher dispatcher;
    vantrel::platform::EventWaker pluginEvent;
    ASSERT_TRUE (pluginEvent.isValid());
    CountingHandler handler (pluginEvent);

    {
        HostRunLoop runLoop (dispatcher);
        EXPECT_EQ (runLoop.registerEventHandler (nullptr, 3), Steinberg::kInvalidArgument);
        EXPECT_EQ (runLoop.registerTimer (&handler, 0), Steinberg::kInvalidArgument);
        ASSERT_EQ (runLoop.registerEventHandler (&handler, pluginEvent.descriptor()), Steinberg::kResultOk);
        ASSERT_EQ (runLoop.registerEventHandler (&handler, pluginEvent.descriptor()), Steinberg::kResultOk);
        ASSERT_EQ (runLoop.registerTimer (&handler, 1), Steinberg::kResultOk);
        EXPECT_EQ (handler.references, 4);
        EXPECT_EQ (dispatcher.watchedDescriptorCount(), 2u);

        // Registration from another thread is refused.
        std::thread other ([&] { EXPECT_EQ (runLoop.registerTimer (&handler, 5), Steinberg::kResultFalse); });
        other.join();

        pluginEvent.wake();

        for (int round = 0; round < 2000 && (handler.events == 0 || handler.timerCalls < 3); ++round)
            dispatcher.dispatchPending (5);

        EXPECT_GE (handler.events, 1);
        EXPECT_GE (handler.timerCalls, 3);

        // One unregistration removes every descriptor of the handler.
        EXPECT_EQ (runLoop.unregisterEventHandler (&handler), Steinberg::kResultOk);
        EXPECT_EQ (dispatcher.watchedDescriptorCount(), 0u);
        EXPECT_EQ (runLoop.unregisterEventHandler (&handler), Steinberg::kResultFalse);
        EXPECT_EQ (handler.references, 2);

        const auto eventsBefore = handler.events;
        pluginEvent.wake();
        dispatcher.dispatchPending (5);
        EXPECT_EQ (handler.events, eventsBefore);
    }

    // Destroying the run loop drops what was still registered.
    EXPECT_EQ (dispatcher.timerCount(), 0u);
    EXPECT_EQ (handler.references, 1);
}
