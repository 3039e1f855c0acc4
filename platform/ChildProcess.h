#pragma once

#include <string>
#include <vector>

namespace vantrel::platform
{
/** A child process started with posix_spawn in its own process group, its standard output on a
    pipe that the parent reads, standard input and error on /dev/null. Owned by one thread; the
    destructor kills (SIGKILL) and reaps a child that still runs. Used by tests that kill a
    process at a random moment. */
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();

    ChildProcess (const ChildProcess&) = delete;
    ChildProcess& operator= (const ChildProcess&) = delete;

    /** Starts `program` with `arguments` (not counting the program itself) and this process's
        environment with `environment` entries ("NAME=value") added or replaced. */
    bool start (const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {});

    /** Appends what the child has written to `output`, waiting at most timeoutMs for something
        to arrive. False once the output has ended (the child closed it or died). */
    bool readOutput (std::string& output, int timeoutMs);

    /** Sends SIGKILL. */
    void kill();

    /** Sends SIGTERM, so that the child can end cleanly (a JACK server leaves its registry
        entry behind when killed). */
    void terminate();

    /** Waits for the child to end; true when SIGKILL ended it. */
    bool waitUntilEnded();

    bool isRunning() const  { return pid > 0; }

    /** The path of this process's executable. */
    static std::string currentExecutable();

private:
    int pid = -1;
    int outputFd = -1;
};
} // namespace vantrel::platform
