#include "platform/ForkedProcess.h"

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
    ForkedCallResult result;

    if (child <= 0)
        return result;

    int status = 0;

    while (::waitpid (child, &status, 0) < 0)
        if (errno != EINTR)
        {
            child = -1;
            return result;
        }

    child = -1;

    if (WIFEXITED (status))
    {
        result.exited = true;
        result.exitCode = WEXITSTATUS (status);
    }
    else if (WIFSIGNALED (status))
    {
        result.signal = WTERMSIG (status);
    }

    return result;
}
} // namespace vantrel::platform
