#pragma once

namespace vantrel::platform
{
/** How far below normal a background worker runs: nice +4 over the process's own nice value. */
constexpr int belowNormalNiceOffset = 4;

/** Lowers the calling thread to below-normal priority: the process's nice value plus
    belowNormalNiceOffset, at most 19. Ordinary time-sharing scheduling, never SCHED_IDLE, so a
    busy machine slows a worker down but cannot starve it. Calling it again on the same thread
    changes nothing. Returns false when the system refuses; the thread then keeps its priority. */
bool setBelowNormalPriority();

/** The calling thread's nice value. */
int currentThreadNice();
} // namespace vantrel::platform
