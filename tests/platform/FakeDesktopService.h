#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test
{
/** A stand-in for the desktop's power services on a private bus: it owns one bus name and answers
    org.freedesktop.ScreenSaver Inhibit/UnInhibit at /org/freedesktop/ScreenSaver and
    org.freedesktop.login1.Manager Inhibit at /org/freedesktop/login1, recording every call. A
    login1 Inhibit hands out the write end of a pipe and keeps the read end, so the service sees
    the lock dropped when the caller closes every copy of it. Served by a thread of its own with
    its own connection; every other method is public and safe from any thread. */
class FakeDesktopService
{
public:
    enum class Answer
    {
        normally,
        withError,   // every Inhibit is answered by an error
        never        // every Inhibit is recorded and left without an answer
    };

    struct ScreenSaverInhibit
    {
        std::string application, reason;
        std::uint32_t cookie = 0;
    };

    struct SleepInhibit
    {
        std::string what, who, why, mode;
        bool open = true;   // false once the caller closed the lock
    };

    static constexpr const char* refusal = "Inhibiting is turned off here";

    FakeDesktopService();
    ~FakeDesktopService();

    FakeDesktopService (const FakeDesktopService&) = delete;
    FakeDesktopService& operator= (const FakeDesktopService&) = delete;

    /** Connects to the bus, owns `name` there and starts serving. */
    bool start (const std::string& busAddress, const std::string& name, Answer answer, std::string& error);
    void stop();

    void setAnswer (Answer answer);

    /** Closes the service's end of the lock, as a restarted logind would lose it. */
    void dropSleepLock (size_t index);

    /** What the service has seen so far. */
    struct Records
    {
        std::vector<ScreenSaverInhibit> inhibits;
        std::vector<std::uint32_t> unInhibits;   // the cookies handed back
        std::vector<SleepInhibit> sleepLocks;
        size_t unanswered = 0;                  // Inhibit calls left without an answer

        /** Screen saver inhibits not handed back yet. */
        size_t displayHolds() const;
        /** Sleep locks still open. */
        size_t sleepHolds() const;
    };

    Records records() const;

    /** Waits (at most 60 s) until the records satisfy `condition`; true when they do. */
    bool waitUntil (const std::function<bool (const Records&)>& condition) const;

private:
    struct Connection;

    void serve();
    void handle (void* message);
    void noticeClosedLocks();
    void changed();

    std::unique_ptr<Connection> connection;
    std::thread thread;
    std::atomic<bool> stopping { false };

    mutable std::mutex lock;
    mutable std::condition_variable anyChange;
    Answer answer = Answer::normally;
    std::uint32_t nextCookie = 7001;
    Records seen;
    std::vector<int> lockEnds;   // our read end of each sleep lock, -1 once closed
};
} // namespace vantrel::test
