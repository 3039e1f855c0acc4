#include "platform/FrameClock.h"

#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>

namespace vantrel::platform
{
FrameClock::FrameClock (std::function<void()> onFrame)
    : descriptor (::timerfd_create (CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (descriptor < 0)
        return;
    juce::LinuxEventLoop::registerFdCallback (descriptor, [onFrame = std::move (onFrame)] (int fd) {
        std::uint64_t beats = 0;
        if (::read (fd, &beats, sizeof (beats)) == (ssize_t) sizeof (beats) && beats > 0)
            onFrame();
    });
}

FrameClock::~FrameClock()
{
    if (descriptor < 0)
        return;
    juce::LinuxEventLoop::unregisterFdCallback (descriptor);
    ::close (descriptor);
}

void FrameClock::run (double hz)
{
    if (descriptor < 0 || ! (hz > 0.0))
        return;
    const auto periodNs = (long long) std::llround (1.0e9 / hz);
    itimerspec spec {};
    spec.it_interval.tv_sec = (time_t) (periodNs / 1000000000LL);
    spec.it_interval.tv_nsec = (long) (periodNs % 1000000000LL);
    spec.it_value = spec.it_interval;
    if (::timerfd_settime (descriptor, 0, &spec, nullptr) == 0)
        runningHz = hz;
}

void paintWindowsNow()
{
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
    for (int i = juce::ComponentPeer::getNumPeers(); --i >= 0;)
        if (auto* peer = juce::ComponentPeer::getPeer (i))
        {
            if (windowSystem != nullptr)
                windowSystem->processPendingPaintsForWindow ((::Window) peer->getNativeHandle());
            peer->performAnyPendingRepaintsNow();
        }
}

void FrameClock::stop()
{
    if (descriptor < 0)
        return;
    itimerspec spec {};
    ::timerfd_settime (descriptor, 0, &spec, nullptr);
    runningHz = 0.0;
}
} // namespace vantrel::platform
