#include "support/ForkedProcess.h"

#include <cerrno>
#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::platform
{
ForkedProcess::~ForkedProcess()
{
    if (child > 0)
    {
        kill();
        wait();
    }
}

bool ForkedProcess::start (const std::function<int()>& body)
{
    if (child > 0)
        return false;

    const auto pid = ::fork();

    if (pid < 0)
        return false;

    if (pid == 0)
        ::_exit (body() & 0xff);

    child = pid;
    return true;
}

bool ForkedProcess::kill()
{
    return child > 0 && ::kill (child, SIGKILL) == 0;
}

ForkedCallResult ForkedProcess::wait()
{
    if (child <= 0)
        return {};

    const auto result = waitForChild (child);
    child = -1;
    return result;
}
} // namespace vantrel::platform
