#include "platform/EventWaker.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace vantrel::platform
{
EventWaker::EventWaker()
    : fd (::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

EventWaker::~EventWaker()
{
    if (fd >= 0)
        ::close (fd);
}

void EventWaker::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write (fd, &one, sizeof (one));
}

void EventWaker::consume()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read (fd, &count, sizeof (count));
}
} // namespace vantrel::platform
