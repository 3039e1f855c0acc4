#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vantrel::platform
{
/** What acquire found: this process now holds the instance, another live process holds it, or
    the instance files could not be used (the reason is in the text). */
enum class InstanceLock { acquired, busy, failed };

struct AcquireResult
{
    InstanceLock state = InstanceLock::failed;
    std::string error;   // empty unless failed
};

/** What became of a raise request sent to the running copy. */
enum class RaiseDelivery
{
    delivered,    // the running copy answered that it took the request
    noListener,   // nobody accepted a connection before the deadline
    refused,      // the running copy closed the connection without answering
    timedOut,     // connected, but no answer before the deadline
    failed        // the folder is unsafe or missing, or the system refused (see the text)
};

struct NotifyResult
{
    RaiseDelivery outcome = RaiseDelivery::failed;
    std::string error;   // empty when delivered

    bool delivered() const  { return outcome == RaiseDelivery::delivered; }
};

/** One running copy of the program per instance folder. The first copy holds an exclusive flock
    on "Vantrel.lock" in that folder for its whole life (a crashed holder releases it by itself)
    and listens on the local stream socket "Vantrel.socket" beside it. A second copy finds the
    lock busy, sends the raise request with notifyRunning and quits; neither step creates or
    changes any file.

    The folder must be private: a folder of this user, not a symbolic link, with no access for
    group or others. acquire creates it (0700, with any missing parents) when it is missing and
    refuses one that exists in any other state.

    The listener runs on its own thread. It refuses a peer of another user (logged, never acted
    on), reads at most maxMessageBytes from each connection within readDeadlineMs, and acts only
    on the exact raiseMessage; anything else is logged and dropped. At most
    maxPendingConnections are read at once; a newer connection pushes out the oldest.

    Not copyable; one owner thread for acquire and release. */
class SingleInstance
{
public:
    /** Called on the listener thread for each accepted raise request; it must return quickly
        (post the work to the message thread). */
    using RaiseCallback = std::function<void()>;

    /** Receives one line per refused or dropped connection, on the listener thread. */
    using LogFunction = std::function<void (const std::string&)>;

    static constexpr const char* lockFileName = "Vantrel.lock";
    static constexpr const char* socketFileName = "Vantrel.socket";
    static constexpr const char* raiseMessage = "Vantrel!/raise\n";
    static constexpr const char* acknowledgement = "ok\n";
    static constexpr int maxMessageBytes = 64;
    static constexpr int readDeadlineMs = 2000;
    static constexpr int maxPendingConnections = 8;
    static constexpr int defaultNotifyTimeoutMs = 2000;

    /** Without a log function the lines go to juce::Logger. */
    explicit SingleInstance (RaiseCallback onAnotherInstance, LogFunction log = {});

    /** Releases a held instance (see release). */
    ~SingleInstance();

    SingleInstance (const SingleInstance&) = delete;
    SingleInstance& operator= (const SingleInstance&) = delete;

    /** Takes the instance in `folder` and starts listening. Busy leaves every file as it was.
        Failed when the folder is unsafe, when the lock or the socket cannot be set up, or when
        this object already holds an instance; nothing is held then. */
    AcquireResult acquire (const std::string& folder);

    /** Stops the listener (no callback runs after it returns), removes the socket file while
        the lock is still held, then releases the lock. Nothing when not held. */
    void release();

    /** The second copy's side: connects to the copy that holds `folder`, sends the raise
        request and waits for its answer, all within timeoutMs. Until the deadline it keeps
        retrying a copy that holds the lock but does not listen yet. Creates and changes no
        file. Any thread. */
    static NotifyResult notifyRunning (const std::string& folder, int timeoutMs = defaultNotifyTimeoutMs);

private:
    struct Held;

    RaiseCallback callback;
    LogFunction logLine;
    std::unique_ptr<Held> held;
};
} // namespace vantrel::platform
