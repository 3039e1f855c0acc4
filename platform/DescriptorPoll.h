#pragma once

#include <vector>

namespace vantrel::platform
{
/** One descriptor to wait on; `ready` is set when it became readable, hung up or failed. */
struct PolledDescriptor
{
    int fd = -1;
    bool ready = false;
};

/** Waits until at least one descriptor is ready or `timeoutMs` passes (negative: no limit).
    Returns the number of ready descriptors, 0 on time-out or interruption, -1 on failure. */
int waitForReadable (std::vector<PolledDescriptor>& descriptors, int timeoutMs);
} // namespace vantrel::platform
