#include "app/JobPool.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
using vantrel::JobPool;
using vantrel::testing::waitUntil;
constexpr std::chrono::seconds cap { 60 };   // a failure bound only

TEST (JobPool, RunsEveryJobOnceInTheOrderAddedAndCountsThemUntilDone)
{
    for (const int threads : { 1, 2 })
    {
        SCOPED_TRACE (threads);
        std::mutex mutex;
        std::vector<int> ran;
        JobPool pool (threads);
        for (int i = 0; i < 200; ++i)
            pool.addJob ([&, i] {
                const std::lock_guard<std::mutex> lock (mutex);
                ran.push_back (i);
            });
        ASSERT_TRUE (waitUntil ([&] { return pool.getNumJobs() == 0; }, cap));
        const std::lock_guard<std::mutex> lock (mutex);
        ASSERT_EQ (ran.size(), 200u);
        if (threads == 1)
        {
            for (int i = 0; i < 200; ++i)
                EXPECT_EQ (ran[(size_t) i], i);
        }
    }
}

TEST (JobPool, ItsEndWaitsForTheRunningJobDropsTheWaitingOnesAndTakesNoNewOnes)
{
    std::mutex mutex;
    std::condition_variable condition;
    bool released = false;
    std::atomic<bool> started { false }, finished { false }, waitingRan { false }, lateRan { false };

    auto pool = std::make_unique<JobPool> (1);
    pool->addJob ([&] {
        started = true;
        std::unique_lock<std::mutex> lock (mutex);
        condition.wait (lock, [&] { return released; });
        finished = true;
    });
    pool->addJob ([&] { waitingRan = true; });
    ASSERT_TRUE (waitUntil ([&] { return started.load(); }, cap));
    EXPECT_EQ (pool->getNumJobs(), 2);

    bool finishedWhenStopReturned = false;
    std::thread stopper ([&] {
        pool->stop();
        finishedWhenStopReturned = finished;
    });
    // The running job is held until the stop has dropped the waiting one.
    ASSERT_TRUE (waitUntil ([&] { return pool->getNumJobs() == 1; }, cap));
    {
        const std::lock_guard<std::mutex> lock (mutex);
        released = true;
    }
    condition.notify_all();
    stopper.join();

    EXPECT_TRUE (finishedWhenStopReturned);
    EXPECT_FALSE (waitingRan);
    pool->addJob ([&] { lateRan = true; });
    EXPECT_EQ (pool->getNumJobs(), 0);
    pool.reset();
    EXPECT_FALSE (lateRan);
}
} // namespace
