#pragma once

namespace vantrel::platform
{
/** Asks for real-time (SCHED_FIFO) scheduling of the calling thread at a low real-time
    priority. Returns false when the system refuses; the thread then keeps its priority. */
bool tryRealtimePriority();

/** Returns the calling thread to normal (SCHED_OTHER) scheduling. */
void restoreNormalPriority();
} // namespace vantrel::platform
