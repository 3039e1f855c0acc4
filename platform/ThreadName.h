#pragma once

namespace vantrel::platform
{
/** Names the calling thread as the system's tools show it (at most 15 characters are kept).
    Makes a system call: not for the real-time path's blocks. */
void nameCurrentThread (const char* name);
} // namespace vantrel::platform
