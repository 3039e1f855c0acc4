#include "platform/QuitSignals.h"

#include "platform/ThreadName.h"

#include <juce_events/juce_events.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <thread>

namespace vantrel::platform
{
namespace
{
enum Kind { interruptKind, hangUpKind, terminateKind, kinds };

std::array<std::atomic<unsigned>, kinds> arrived {};   // counted by the handler
std::array<unsigned, kinds> taken {};                  // handed to the program (message thread)
static_assert (std::atomic<unsigned>::is_always_lock_free, "the counts are written in a signal handler");

int signalDescriptor = -1;   // an eventfd made readable by every signal; -1 when none

// The forced end: a reason in one of two buffers (the handler reads the one the index names,
// the message thread writes the other before it switches), and where it is written.
std::atomic<bool> forcedEnd { false };
std::array<std::array<char, 1024>, 2> reasons {};
std::atomic<int> reasonIndex { 0 };
std::atomic<int> errorTarget { STDERR_FILENO };   // the real standard error, also behind the relay

[[noreturn]] void endNow()
{
    const auto& reason = reasons[(size_t) reasonIndex.load()];
    std::size_t length = 0;
    while (length < reason.size() && reason[length] != '\0')
        ++length;
    // Only what the kernel takes at once: a standard error that blocks must not hold the end.
    pollfd target { errorTarget.load(), POLLOUT, 0 };
    if (::poll (&target, 1, 1000) > 0 && (target.revents & POLLOUT) != 0)
    {
        [[maybe_unused]] const auto written = ::write (target.fd, reason.data(), length);
    }
    ::_exit (forcedEndExitStatus);
}

void onSignal (int signal)
{
    const int savedErrno = errno;
    if (signal == SIGTERM && forcedEnd.load())
        endNow();
    arrived[signal == SIGINT ? interruptKind : signal == SIGHUP ? hangUpKind : terminateKind].fetch_add (1);
    if (signalDescriptor >= 0)
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write (signalDescriptor, &one, sizeof (one));   // async-signal-safe
    }
    errno = savedErrno;
}

// A handler rather than SIG_IGN: the program's children start with the default again.
void onBrokenPipe (int) {}

// ---- the relay of the standard output and error ----------------------------------------------------------

struct Relay
{
    int from = -1;            // the read end of the program's own pipe
    int to = -1;              // the real output
    bool targetAlive = true;  // false once the real output failed (hung up, closed): dropped from then on
};

std::array<Relay, 2> relays;
int relayCount = 0;

void pass (Relay& relay, const char* data, std::size_t size)
{
    while (relay.targetAlive && size > 0)
    {
        const auto written = ::write (relay.to, data, size);
        if (written > 0)
        {
            data += written;
            size -= (std::size_t) written;
        }
        else if (written < 0 && errno == EINTR)
        {
            continue;
        }
        else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            pollfd target { relay.to, POLLOUT, 0 };   // made non-blocking by another process: wait here
            (void) ::poll (&target, 1, -1);
        }
        else
        {
            relay.targetAlive = false;
        }
    }
}

void runRelay()
{
    nameCurrentThread ("output relay");
    std::array<char, 4096> buffer {};
    for (;;)
    {
        std::array<pollfd, 2> ends {};
        for (int i = 0; i < relayCount; ++i)
            ends[(size_t) i] = { relays[(size_t) i].from, POLLIN, 0 };
        if (::poll (ends.data(), (nfds_t) relayCount, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < relayCount; ++i)
            if ((ends[(size_t) i].revents & (POLLIN | POLLHUP)) != 0)
            {
                const auto got = ::read (relays[(size_t) i].from, buffer.data(), buffer.size());
                if (got > 0)
                    pass (relays[(size_t) i], buffer.data(), (std::size_t) got);
            }
    }
}

bool blocksWhenNobodyReads (int descriptor)
{
    struct stat status {};
    if (::fstat (descriptor, &status) != 0)
        return false;
    return S_ISFIFO (status.st_mode) || S_ISSOCK (status.st_mode) || (S_ISCHR (status.st_mode) && ::isatty (descriptor) == 1);
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

    struct sigaction pipe {};
    pipe.sa_handler = onBrokenPipe;
    sigemptyset (&pipe.sa_mask);
    pipe.sa_flags = SA_RESTART;
    ::sigaction (SIGPIPE, &pipe, nullptr);
    ::signal (SIGTTOU, SIG_IGN);
}

QuitSignalCounts takeQuitSignals()
{
    std::array<int, kinds> now {};
    for (std::size_t i = 0; i < kinds; ++i)
    {
        const auto count = arrived[i].load();
        now[i] = (int) (count - taken[i]);
        taken[i] = count;
    }
    return { now[interruptKind], now[hangUpKind], now[terminateKind] };
}

void armForcedEnd (const std::string& reason)
{
    const int next = 1 - reasonIndex.load();
    auto& buffer = reasons[(size_t) next];
    const auto length = std::min (reason.size(), buffer.size() - 2);
    std::copy_n (reason.data(), length, buffer.data());
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
    reasonIndex.store (next);
    forcedEnd.store (true);
}

void disarmForcedEnd()
{
    forcedEnd.store (false);
}

bool isForcedEndArmed()
{
    return forcedEnd.load();
}

void relayStandardOutput()
{
    if (relayCount > 0)
        return;
    for (const int descriptor : { STDOUT_FILENO, STDERR_FILENO })
    {
        if (! blocksWhenNobodyReads (descriptor))
            continue;
        const int target = ::fcntl (descriptor, F_DUPFD_CLOEXEC, 3);
        int ends[2] = { -1, -1 };
        if (target < 0 || ::pipe2 (ends, O_CLOEXEC) != 0)
        {
            if (target >= 0)
                ::close (target);
            continue;
        }
        // The write end is the program's own: non-blocking there touches nobody else's terminal.
        ::fcntl (ends[1], F_SETFL, O_NONBLOCK);
        if (descriptor == STDOUT_FILENO)
            std::fflush (stdout);
        ::dup2 (ends[1], descriptor);
        ::close (ends[1]);
        relays[(size_t) relayCount++] = { ends[0], target, true };
        if (descriptor == STDERR_FILENO)
            errorTarget.store (target);
    }
    if (relayCount == 0)
        return;
    std::setvbuf (stdout, nullptr, _IOLBF, 0);   // line by line, as on the terminal it stands for
    std::thread (runRelay).detach();   // ends with the process: it may be blocked on a full output
}

void flushStandardOutput (int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    for (int i = 0; i < relayCount; ++i)
        for (;;)
        {
            int waiting = 0;
            if (::ioctl (relays[(size_t) i].from, FIONREAD, &waiting) != 0 || waiting == 0
                || std::chrono::steady_clock::now() >= end)
                break;
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
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
