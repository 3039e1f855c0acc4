#pragma once

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
    standard error goes to a file (or /dev/null). Used by tests and benchmarks to hold a
    conversation with a worker program. Starting one ignores SIGPIPE in this process, so that a
    write to a child that has gone fails instead of ending the caller. */
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
    };

    PipedProcess() = default;
    ~PipedProcess();

    PipedProcess (const PipedProcess&) = delete;
    PipedProcess& operator= (const PipedProcess&) = delete;

    /** Starts the child; false with `error` set when it could not be started. */
    bool start (const Options& options, std::string& error);

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

private:
    int pid = -1;
    int inputFd = -1;    // our end of the child's standard input
    int outputFd = -1;   // our end of the child's standard output
};
} // namespace vantrel::platform
