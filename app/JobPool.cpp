#include "app/JobPool.h"
#include "platform/ThreadName.h"

namespace vantrel
{
JobPool::JobPool (int threads)
{
    try
    {
        for (int i = 0; i < threads; ++i)
            workers.emplace_back ([this] { platform::nameCurrentThread ("job pool"); run(); });
    }
    catch (...)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            stopping = true;
        }
        wake.notify_all();
        for (auto& worker : workers)
            worker.join();
        throw;
    }
}

JobPool::~JobPool()
{
    stop();
}

void JobPool::stop()
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        stopping = true;
        waiting.clear();
    }
    wake.notify_all();
    for (auto& worker : workers)
        if (worker.joinable())
            worker.join();
}

void JobPool::addJob (std::function<void()> job)
{
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (stopping)
            return;
        waiting.push_back (std::move (job));
    }
    wake.notify_one();
}

int JobPool::getNumJobs() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return (int) waiting.size() + running;
}

void JobPool::run()
{
    std::unique_lock<std::mutex> lock (mutex);
    for (;;)
    {
        wake.wait (lock, [this] { return stopping || ! waiting.empty(); });
        if (stopping)
            return;
        auto job = std::move (waiting.front());
        waiting.pop_front();
        ++running;
        lock.unlock();
        job();
        job = nullptr;   // what the job holds goes before it counts as finished
        lock.lock();
        --running;
    }
}
} // namespace vantrel
