#include "vsthost/UiDispatcher.h"

#include "platform/DescriptorPoll.h"
#include "platform/ThreadContract.h"

#include <algorithm>
#include <stdexcept>

namespace orvane::vsthost
{
namespace
{
const char* const unavailableText = "VST UI dispatcher unavailable";
}

UiDispatcher::UiDispatcher()
    : uiThread (std::this_thread::get_id()), nextIdle (Clock::now() + idlePeriod), nextDescriptorTick (nextIdle)
{
    if (! waker.isValid())
        throw std::runtime_error ("VST UI dispatcher creation failed");
}

UiDispatcher::~UiDispatcher()
{
    const std::lock_guard<std::mutex> lock (mutex);
    ended = true;

    for (auto* request : syncRequests)
    {
        request->done = true;
        requestFinished.notify_all();
    }

    syncRequests.clear();
}

std::pair<std::size_t, std::size_t> UiDispatcher::queuedCounts()
{
    const std::lock_guard<std::mutex> lock (mutex);
    return { syncRequests.size(), postedJobs.size() };
}

void UiDispatcher::invoke (std::function<void()> job)
{
    if (isUiThread())
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);

            if (ended)
                throw std::runtime_error (unavailableText);
        }

        if (! job)
            throw std::bad_function_call();

        job();
        return;
    }

    SyncRequest request;
    request.job = std::move (job);

    {
        std::unique_lock<std::mutex> lock (mutex);

        if (ended)
            throw std::runtime_error (unavailableText);

        syncRequests.push_back (&request);
        waker.wake();
        requestFinished.wait (lock, [&] { return request.done; });
    }

    if (! request.ran)
        throw std::runtime_error (unavailableText);

    if (request.failure)
        std::rethrow_exception (request.failure);
}

bool UiDispatcher::post (std::function<void()> job)
{
    const std::lock_guard<std::mutex> lock (mutex);

    if (ended)
        return false;

    postedJobs.push_back ({ std::move (job), false });
    waker.wake();
    return true;
}

void UiDispatcher::postQuit()
{
    const std::lock_guard<std::mutex> lock (mutex);
    postedJobs.push_back ({ {}, true });
    waker.wake();
}

void UiDispatcher::setIdleService (std::function<void()> service)
{
    VANTREL_ASSERT_THREAD (isUiThread(), "UI thread");
    idleService = std::move (service);
}

void UiDispatcher::run()
{
    VANTREL_ASSERT_THREAD (isUiThread(), "UI thread");
    while (runRound (false, -1))
    {
    }

    const std::lock_guard<std::mutex> lock (mutex);
    ended = true;

    for (auto* request : syncRequests)
        request->done = true;

    syncRequests.clear();
    requestFinished.notify_all();
}

void UiDispatcher::dispatchPending (int timeoutMs)
{
    VANTREL_ASSERT_THREAD (isUiThread(), "UI thread");
    runRound (true, std::max (0, timeoutMs));
}

void UiDispatcher::finishRequest (SyncRequest& request)
{
    const std::lock_guard<std::mutex> lock (mutex);
    request.done = true;
    requestFinished.notify_all();
}

void UiDispatcher::runIdleService()
{
    nextIdle = Clock::now() + idlePeriod;

    if (idleService)
        idleService();
}

int UiDispatcher::millisecondsUntilNextDue (Clock::time_point now) const
{
    auto due = nextIdle;

    for (const auto& timer : timers)
        due = std::min (due, timer.due);

    for (const auto& watch : watches)
        if (watch.service == DescriptorService::alsoEveryTick)
            due = std::min (due, nextDescriptorTick);

    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds> (due - now).count();
    return static_cast<int> (std::clamp<long long> (wait + 1, 0, idlePeriod.count()));
}

template <typename Entry>
bool UiDispatcher::stillRegistered (const std::vector<Entry>& entries, std::uint64_t serial)
{
    return std::any_of (entries.begin(), entries.end(), [serial] (const Entry& e) { return e.serial == serial; });
}

bool UiDispatcher::runRound (bool nested, int maxWaitMs)
{
    bool queued = false;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        queued = ! syncRequests.empty() || (! postedJobs.empty() && ! (nested && postedJobs.front().quit));
    }

    auto waitMs = queued ? 0 : millisecondsUntilNextDue (Clock::now());

    if (maxWaitMs >= 0)
        waitMs = std::min (waitMs, maxWaitMs);

    std::vector<vantrel::platform::PolledDescriptor> descriptors;
    descriptors.reserve (watches.size() + 1);
    descriptors.push_back ({ waker.descriptor(), false });

    for (const auto& watch : watches)
        descriptors.push_back ({ watch.fd, false });

    vantrel::platform::waitForReadable (descriptors, waitMs);

    if (descriptors.front().ready)
        waker.consume();

    // Synchronous jobs first, like sent messages overtaking posted ones.
    for (;;)
    {
        SyncRequest* request = nullptr;

        {
            const std::lock_guard<std::mutex> lock (mutex);

            if (syncRequests.empty())
                break;

            request = syncRequests.front();
            syncRequests.pop_front();
        }

        request->ran = true;

        try
        {
            if (! request->job)
                throw std::bad_function_call();

            request->job();
        }
        catch (...)
        {
            request->failure = std::current_exception();
        }

        finishRequest (*request);
        runIdleService();
    }

    // One posted entry per round.
    PostedEntry posted;
    bool havePosted = false;

    {
        const std::lock_guard<std::mutex> lock (mutex);

        if (! postedJobs.empty() && ! (nested && postedJobs.front().quit))
        {
            posted = std::move (postedJobs.front());
            postedJobs.pop_front();
            havePosted = true;

            if (! postedJobs.empty())
                waker.wake();
        }
    }

    if (havePosted)
    {
        if (posted.quit)
            return false;

        try
        {
            if (posted.job)
                posted.job();
        }
        catch (...)
        {
            // Posted jobs report their own failures; nothing escapes into the loop.
        }

        runIdleService();
    }

    // Descriptors that became readable, for handlers still registered.
    std::vector<Watch> readyWatches;

    for (std::size_t i = 1; i < descriptors.size(); ++i)
        if (descriptors[i].ready && i - 1 < watches.size())
            readyWatches.push_back (watches[i - 1]);

    std::vector<std::uint64_t> served;

    for (const auto& watch : readyWatches)
    {
        if (! stillRegistered (watches, watch.serial))
            continue;

        served.push_back (watch.serial);
        watch.onReadable (watch.fd);
        runIdleService();
    }

    serveDescriptorsOnTick (served);

    // Timers that are due.
    const auto now = Clock::now();
    std::vector<Timer> dueTimers;

    for (auto& timer : timers)
    {
        if (timer.due <= now)
        {
            timer.due = now + timer.period;
            dueTimers.push_back (timer);
        }
    }

    for (const auto& timer : dueTimers)
    {
        if (! stillRegistered (timers, timer.serial))
            continue;

        timer.onTimer();
        runIdleService();
    }

    if (Clock::now() >= nextIdle)
        runIdleService();

    return true;
}

void UiDispatcher::serveDescriptorsOnTick (const std::vector<std::uint64_t>& servedThisRound)
{
    const auto now = Clock::now();

    if (now < nextDescriptorTick)
        return;

    nextDescriptorTick = now + idlePeriod;
    std::vector<Watch> due;

    for (const auto& watch : watches)
        if (watch.service == DescriptorService::alsoEveryTick
            && std::find (servedThisRound.begin(), servedThisRound.end(), watch.serial) == servedThisRound.end())
            due.push_back (watch);

    for (const auto& watch : due)
    {
        if (! stillRegistered (watches, watch.serial))
            continue;

        watch.onReadable (watch.fd);
        runIdleService();
    }
}

void UiDispatcher::watchDescriptor (const void* owner, int fd, std::function<void (int)> onReadable, DescriptorService service)
{
    VANTREL_ASSERT_THREAD (isUiThread(), "UI thread");
    watches.push_back ({ nextSerial++, owner, fd, std::move (onReadable), service });
}

void UiDispatcher::unwatchDescriptors (const void* owner)
{
    VANTREL_ASSERT_THREAD (isUiThread(), "UI thread");
    watches.erase (std::remove_if (watches.begin(), watches.end(), [owner] (const Watch& w) { return w.owner == owner; }),
                   watches.end());
}

void UiDispatcher::startTimer (const void* owner, std::uint64_t periodMs, std::function<void()> onTimer)
{
    VANTREL_ASSERT_THREAD (isUiThread(), "UI thread");
    const std::chrono::milliseconds period (std::max<std::uint64_t> (1, std::min<std::uint64_t> (periodMs, 86400000)));
    timers.push_back ({ nextSerial++, owner, period, Clock::now() + period, std::move (onTimer) });
}

void UiDispatcher::stopTimers (const void* owner)
{
    VANTREL_ASSERT_THREAD (isUiThread(), "UI thread");
    timers.erase (std::remove_if (timers.begin(), timers.end(), [owner] (const Timer& t) { return t.owner == owner; }),
                  timers.end());
}
} // namespace orvane::vsthost
