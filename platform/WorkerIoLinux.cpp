#include "platform/WorkerIo.h"

#include <csignal>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace vantrel::platform
{
void endWithParent()
{
    const auto parentBefore = ::getppid();

    if (::prctl (PR_SET_PDEATHSIG, SIGKILL) != 0)
        return;

    // The parent may have gone between the two calls: then nobody will send the signal.
    if (::getppid() != parentBefore)
        ::kill (::getpid(), SIGKILL);
}

void ignoreBrokenPipes()
{
    ::signal (SIGPIPE, SIG_IGN);
}

int takeProtocolOutput()
{
    const auto privateOutput = ::fcntl (STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);

    if (privateOutput < 0)
        return -1;

    if (::dup2 (STDERR_FILENO, STDOUT_FILENO) < 0)
    {
        ::close (privateOutput);
        return -1;
    }

    return privateOutput;
}
} // namespace vantrel::platform
