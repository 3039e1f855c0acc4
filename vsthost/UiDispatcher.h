#pragma once

#include "platform/EventWaker.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace orvane::vsthost
{
/** The worker's UI thread loop: synchronous jobs (which overtake posted ones), posted jobs in
    order, a quit entry queued behind the posted jobs, descriptors and timers registered for the
    plug-ins' run loop, and an idle service that runs after every dispatched item and at least
    every 10 ms. The thread that constructs the dispatcher is its UI thread and must call run(). */
class UiDispatcher
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds idlePeriod { 10 };

    /** Throws std::runtime_error ("VST UI dispatcher creation failed") when its wake-up
        descriptor cannot be made. */
    UiDispatcher();
    ~UiDispatcher();

    UiDispatcher (const UiDispatcher&) = delete;
    UiDispatcher& operator= (const UiDispatcher&) = delete;

    // Any thread --------------------------------------------------------------------------------

    /** Runs the job on the UI thread and returns once it has run; an exception of the job is
        raised again here (an empty job raises std::bad_function_call). Throws
        std::runtime_error ("VST UI dispatcher unavailable") when the loop has ended or ends
        before taking the job. Called on the UI thread itself, it runs the job directly. */
    void invoke (std::function<void()> job);

    /** Queues the job behind the posted jobs; false when the loop has already ended. */
    bool post (std::function<void()> job);

    /** Queues the end of the loop behind every job posted so far. */
    void postQuit();

    // UI thread ---------------------------------------------------------------------------------

    void setIdleService (std::function<void()> service);

    /** Serves jobs, descriptors and timers until the quit entry is reached. Synchronous jobs
        still waiting then fail with "VST UI dispatcher unavailable". */
    void run();

    /** One round for nested pumps (an editor's modal loop): waits at most `timeoutMs` for work,
        then serves what is due. Never takes the quit entry. */
    void dispatchPending (int timeoutMs);

    bool isUiThread() const { return std::this_thread::get_id() == uiThread; }

    /** Synchronous and posted entries waiting (tests). */
    std::pair<std::size_t, std::size_t> queuedCounts();

    enum class DescriptorService
    {
        whenReadable,
        alsoEveryTick   // also every 10 ms when it was not readable: an X connection, whose
                        // events may wait in Xlib's queue while its socket stays quiet
    };

    /** Calls `onReadable` (on the UI thread) whenever `fd` is readable, until unwatched. */
    void watchDescriptor (const void* owner, int fd, std::function<void (int)> onReadable,
                          DescriptorService service = DescriptorService::whenReadable);
    void unwatchDescriptors (const void* owner);
    std::size_t watchedDescriptorCount() const { return watches.size(); }

    /** Calls `onTimer` every `periodMs` (at least 1 ms) until stopped. */
    void startTimer (const void* owner, std::uint64_t periodMs, std::function<void()> onTimer);
    void stopTimers (const void* owner);
    std::size_t timerCount() const { return timers.size(); }

private:
    struct SyncRequest
    {
        std::function<void()> job;
        std::exception_ptr failure;
        bool ran = false;
        bool done = false;
    };

    struct PostedEntry
    {
        std::function<void()> job;
        bool quit = false;
    };

    struct Watch
    {
        std::uint64_t serial = 0;
        const void* owner = nullptr;
        int fd = -1;
        std::function<void (int)> onReadable;
        DescriptorService service = DescriptorService::whenReadable;
    };

    struct Timer
    {
        std::uint64_t serial = 0;
        const void* owner = nullptr;
        std::chrono::milliseconds period { 1 };
        Clock::time_point due;
        std::function<void()> onTimer;
    };

    /** Returns false when the quit entry was taken (never in a nested round). */
    bool runRound (bool nested, int maxWaitMs);
    int millisecondsUntilNextDue (Clock::time_point now) const;
    void runIdleService();
    void serveDescriptorsOnTick (const std::vector<std::uint64_t>& servedThisRound);
    void finishRequest (SyncRequest& request);
    template <typename Entry>
    static bool stillRegistered (const std::vector<Entry>& entries, std::uint64_t serial);

    const std::thread::id uiThread;
    vantrel::platform::EventWaker waker;

    std::mutex mutex;   // guards the two queues and `ended`; no job runs under it
    std::condition_variable requestFinished;
    std::deque<SyncRequest*> syncRequests;
    std::deque<PostedEntry> postedJobs;
    bool ended = false;

    // UI thread only.
    std::function<void()> idleService;
    Clock::time_point nextIdle;
    Clock::time_point nextDescriptorTick;
    std::vector<Watch> watches;
    std::vector<Timer> timers;
    std::uint64_t nextSerial = 1;
};
} // namespace orvane::vsthost
