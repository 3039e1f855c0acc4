#include "platform/BelowNormalPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vantrel::platform
{
namespace
{
/** The nice value of a thread or, for the process id, of the main thread. */
int niceOf (id_t id, int fallback)
{
    errno = 0;
    const int value = ::getpriority (PRIO_PROCESS, id);
    return errno == 0 ? value : fallback;
}
} // namespace

bool setBelowNormalPriority()
{
    const int processNice = niceOf ((id_t) ::getpid(), 0);
    const int target = std::min (19, processNice + belowNormalNiceOffset);
    const auto thread = (id_t) ::gettid();

    if (niceOf (thread, target - 1) == target)
        return true;

    return ::setpriority (PRIO_PROCESS, thread, target) == 0;
}

int currentThreadNice()
{
    return niceOf ((id_t) ::gettid(), 0);
}
} // namespace vantrel::platform
