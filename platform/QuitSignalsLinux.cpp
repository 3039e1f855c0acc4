#include "platform/QuitSignals.h"

#include <juce_events/juce_events.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <csignal>

namespace vantrel::platform
{
namespace
{
std::atomic<bool> received { false };
static_assert (std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

int signalDescriptor = -1;   // an eventfd made readable by every signal; -1 when none

void onSignal (int)
{
    received.store (true);
    if (signalDescriptor >= 0)
    {
        const int savedErrno = errno;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write (signalDescriptor, &one, sizeof (one));   // async-signal-safe
        errno = savedErrno;
    }
}
} // namespace

void installQuitSignals()
{
    if (signalDescriptor < 0)
        signalDescriptor = ::eventfd (0, EFD_NONBLOCK | EFD_CLOEXEC);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction (signal, &action, nullptr);
}

bool quitSignalReceived()
{
    return received.load();
}

QuitSignalWatch::QuitSignalWatch (std::function<void()> onSignal)
    : descriptor (signalDescriptor)
{
    if (descriptor < 0)
        return;
    juce::LinuxEventLoop::registerFdCallback (descriptor, [onSignal = std::move (onSignal)] (int fd) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read (fd, &count, sizeof (count));   // readable again at the next signal
        onSignal();
    });
}

QuitSignalWatch::~QuitSignalWatch()
{
    if (descriptor >= 0)
        juce::LinuxEventLoop::unregisterFdCallback (descriptor);
}
} // namespace vantrel::platform
