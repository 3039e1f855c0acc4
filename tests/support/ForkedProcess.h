#pragma once

#include "support/ForkedCall.h"

#include <functional>

namespace vantrel::platform
{
/** A forked copy of this process that runs one body and can be killed at any moment: the
    crash harnesses stop a writer this way. The child ends with _exit and runs no destructors of
    the parent's objects. Meant for tests: start it while no other thread holds a lock that the
    body needs. Not copyable; one owner thread. */
class ForkedProcess
{
public:
    ForkedProcess() = default;

    /** Kills and reaps a child that is still running. */
    ~ForkedProcess();

    ForkedProcess (const ForkedProcess&) = delete;
    ForkedProcess& operator= (const ForkedProcess&) = delete;

    /** Forks and runs `body` in the child; its return value becomes the exit code. False when no
        child could be started or one is still running. */
    bool start (const std::function<int()>& body);

    /** Sends SIGKILL to the running child. */
    bool kill();

    /** Waits for the child to end and tells how (the output text stays empty). */
    ForkedCallResult wait();

    bool isRunning() const  { return child > 0; }

private:
    int child = -1;
};
} // namespace vantrel::platform
