#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::platform
{
/** How a child process ended. */
struct ChildExit
{
    bool ended = false;     // false: still running when the wait gave up
    bool exited = false;    // ended by exit; false when a signal ended it
    int exitCode = -1;
    int signal = 0;
};

/** A child program whose standard input and output are pipes held by this object, and whose
    standard error goes to a file (or /dev/null). Used by the plug-in worker client, and by tests
    and benchmarks, to hold a conversation with a worker program. Starting one ignores SIGPIPE in
    this process, so that a write to a child that has gone fails instead of ending the caller.
    Our ends of the pipes are non-blocking; the deadline-based calls wait with poll() on the pipe
    and on a process descriptor (pidfd) of the child, so a child that ends is noticed at once.
    One owner thread at a time. */
class PipedProcess
{
public:
    struct Options
    {
        std::string program;
        std::vector<std::string> arguments;                              // without the program
        std::vector<std::pair<std::string, std::string>> environment;     // set in the child
        std::vector<std::string> unsetEnvironment;                       // removed in the child
        std::string standardErrorPath;                                    // empty: /dev/null
        std::string workingDirectory;      // empty: this process's
        bool ownProcessGroup = false;      // the child leads a process group of its own
        bool inheritNothingElse = false;   // descriptors 3 and up closed in the child, empty signal
                                           // mask, default signal actions, normal scheduling
    };

    /** Which step of start() failed. */
    enum class StartFailure
    {
        none,
        pipes,   // the pipes could not be created
        spawn    // the program could not be started
    };

    /** What one deadline-based transfer ended with. */
    enum class IoOutcome
    {
        done,       // `bytes` moved; for a read, 0 bytes means the child closed its output
        timedOut,   // the deadline passed first
        ended,      // the child ended while nothing could be moved
        failed      // the pipe failed (for a write: the reader has gone)
    };

    struct IoResult
    {
        IoOutcome outcome = IoOutcome::failed;
        std::size_t bytes = 0;
    };

    using Deadline = std::chrono::steady_clock::time_point;

    PipedProcess() = default;
    ~PipedProcess();

    PipedProcess (const PipedProcess&) = delete;
    PipedProcess& operator= (const PipedProcess&) = delete;

    /** Starts the child; false with `error` set when it could not be started. */
    bool start (const Options& options, std::string& error);

    /** The same, telling which step failed. */
    bool start (const Options& options, std::string& error, StartFailure& failure);

    bool isRunning() const { return pid > 0; }
    int processId() const { return pid; }

    /** Writes all bytes unless the deadline (ms from now) passes or the pipe fails. */
    bool writeAll (const void* data, std::size_t size, int timeoutMs);

    /** Reads at most `capacity` bytes once data is there. Returns the count, 0 at end of
        output, -1 on time-out or failure. */
    long readSome (void* destination, std::size_t capacity, int timeoutMs);

    /** Closes the child's standard input (it then sees end of input). */
    void closeInput();

    /** Sends SIGKILL. */
    void kill();

    /** Waits at most `timeoutMs` for the child to end and reaps it. */
    ChildExit wait (int timeoutMs);

    /** Reads what has arrived, at most `capacity` bytes, waiting until something arrives, the
        child ends or the deadline passes. Data still in the pipe is read before an ended child is
        reported. */
    IoResult readUntil (void* destination, std::size_t capacity, Deadline deadline);

    /** Writes at most `size` bytes once the pipe takes some, waiting until it does, the child
        ends or the deadline passes. */
    IoResult writeUntil (const void* data, std::size_t size, Deadline deadline);

    /** True once the child has ended (it is not reaped: wait() does that). False when no child
        was started. */
    bool hasEnded() const;

    /** Waits at most `timeoutMs` for the child to end, without reaping it; true when it ended. */
    bool waitForEnd (int timeoutMs) const;

    /** Sends SIGKILL to the child's process group (when it leads one) and to the child. */
    void killGroup();

private:
    int pid = -1;
    int pidFd = -1;      // a process descriptor of the child, -1 when the system has none
    bool leadsGroup = false;
    int inputFd = -1;    // our end of the child's standard input
    int outputFd = -1;   // our end of the child's standard output
};
} // namespace vantrel::platform
