#include "platform/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>

namespace vantrel::platform
{
bool tryRealtimePriority()
{
    sched_param parameters {};
    parameters.sched_priority = 10;
    return ::pthread_setschedparam (::pthread_self(), SCHED_FIFO, &parameters) == 0;
}

void restoreNormalPriority()
{
    sched_param parameters {};
    parameters.sched_priority = 0;
    ::pthread_setschedparam (::pthread_self(), SCHED_OTHER, &parameters);
}
} // namespace vantrel::platform
