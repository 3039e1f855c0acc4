#include "platform/DescriptorPoll.h"

#include <cerrno>

#include <poll.h>

namespace vantrel::platform
{
int waitForReadable (std::vector<PolledDescriptor>& descriptors, int timeoutMs)
{
    thread_local std::vector<pollfd> entries;
    entries.resize (descriptors.size());

    for (std::size_t i = 0; i < descriptors.size(); ++i)
    {
        descriptors[i].ready = false;
        entries[i] = pollfd { descriptors[i].fd, POLLIN, 0 };
    }

    const auto count = ::poll (entries.data(), entries.size(), timeoutMs);

    if (count < 0)
        return errno == EINTR ? 0 : -1;

    for (std::size_t i = 0; i < descriptors.size(); ++i)
        descriptors[i].ready = (entries[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;

    return count;
}
} // namespace vantrel::platform
