#include "support/ForkedCall.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::platform
{
namespace
{
void writeAll (int fd, const std::string& text)
{
    const char* data = text.data();
    auto size = text.size();

    while (size > 0)
    {
        const auto written = ::write (fd, data, size);

        if (written < 0 && errno == EINTR)
            continue;

        if (written <= 0)
            return;

        data += written;
        size -= static_cast<size_t> (written);
    }
}
} // namespace

ForkedCallResult waitForChild (int processId)
{
    ForkedCallResult result;
    int status = 0;

    while (::waitpid (processId, &status, 0) < 0)
        if (errno != EINTR)
            return result;

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

ForkedCallResult runInForkedChild (const std::function<int (std::string& output)>& body, int64_t fileSizeLimit)
{
    ForkedCallResult result;
    int pipeEnds[2];

    if (::pipe2 (pipeEnds, O_CLOEXEC) != 0)
        return result;

    const auto child = ::fork();

    if (child < 0)
    {
        ::close (pipeEnds[0]);
        ::close (pipeEnds[1]);
        return result;
    }

    if (child == 0)
    {
        ::close (pipeEnds[0]);

        if (fileSizeLimit >= 0)
        {
            ::signal (SIGXFSZ, SIG_IGN);
            struct rlimit limit {};
            limit.rlim_cur = static_cast<rlim_t> (fileSizeLimit);
            limit.rlim_max = static_cast<rlim_t> (fileSizeLimit);

            if (::setrlimit (RLIMIT_FSIZE, &limit) != 0)
                ::_exit (125);
        }

        std::string output;
        const auto code = body (output);
        writeAll (pipeEnds[1], output);
        ::_exit (code & 0xff);
    }

    ::close (pipeEnds[1]);
    char buffer[4096];

    for (;;)
    {
        const auto got = ::read (pipeEnds[0], buffer, sizeof (buffer));

        if (got < 0 && errno == EINTR)
            continue;

        if (got <= 0)
            break;

        result.output.append (buffer, static_cast<size_t> (got));
    }

    ::close (pipeEnds[0]);
    auto ended = waitForChild (child);
    ended.output = std::move (result.output);
    result = std::move (ended);

    return result;
}
} // namespace vantrel::platform
