#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel
{
/** A fixed set of worker threads that run jobs in the order they were added. Its end waits for
    the running jobs and joins every thread without a deadline: a thread that a busy machine
    schedules late is waited for, never killed mid-way (juce::ThreadPool gives an idle thread
    500 ms and then kills it by force, which brings the whole process down). Jobs not started
    yet are dropped at the end. addJob and getNumJobs on any thread. Not copyable. */
class JobPool
{
public:
    /** Starts `threads` workers; throws std::system_error when one cannot be started. */
    explicit JobPool (int threads);
    /** As stop. */
    ~JobPool();

    JobPool (const JobPool&) = delete;
    JobPool& operator= (const JobPool&) = delete;

    /** Queues `job`; dropped once the pool stopped. */
    void addJob (std::function<void()> job);
    /** Drops the jobs not started, waits for the running ones and joins the workers. */
    void stop();
    /** The jobs waiting or running. */
    int getNumJobs() const;

private:
    void run();

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> waiting;
    int running = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
};
} // namespace vantrel
