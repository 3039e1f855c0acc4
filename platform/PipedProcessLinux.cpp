#include "platform/PipedProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::platform
{
namespace
{
using Clock = std::chrono::steady_clock;

int remainingMs (Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return static_cast<int> (std::max<long long> (0, left));
}

bool waitFor (int fd, short events, Clock::time_point deadline)
{
    for (;;)
    {
        pollfd entry { fd, events, 0 };
        const auto count = ::poll (&entry, 1, remainingMs (deadline));

        if (count > 0)
            return true;

        if (count == 0 || errno != EINTR)
            return false;
    }
}

void closeFd (int& fd)
{
    if (fd >= 0)
        ::close (fd);

    fd = -1;
}

/** Polls the descriptors until one is ready or the deadline passes; false on time-out or failure.
    Interrupted waits are resumed with the time that is left. */
bool pollUntil (pollfd* entries, nfds_t count, Clock::time_point deadline)
{
    for (;;)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds> (deadline - Clock::now()).count();
        const auto ready = ::poll (entries, count, static_cast<int> (std::clamp<long long> (left, 0, 1 << 30)));

        if (ready > 0)
            return true;

        if (ready == 0)
        {
            // poll's millisecond rounding can wake a little early; only a passed deadline ends.
            if (Clock::now() >= deadline)
                return false;

            continue;
        }

        if (errno != EINTR)
            return false;
    }
}
} // namespace

PipedProcess::~PipedProcess()
{
    if (pid > 0)
    {
        killGroup();
        wait (5000);
    }

    closeFd (inputFd);
    closeFd (outputFd);
    closeFd (pidFd);
}

bool PipedProcess::start (const Options& options, std::string& error)
{
    StartFailure failure = StartFailure::none;
    return start (options, error, failure);
}

bool PipedProcess::start (const Options& options, std::string& error, StartFailure& failure)
{
    ::signal (SIGPIPE, SIG_IGN);
    failure = StartFailure::none;

    int toChild[2] = { -1, -1 };
    int fromChild[2] = { -1, -1 };

    if (::pipe2 (toChild, O_CLOEXEC) != 0 || ::pipe2 (fromChild, O_CLOEXEC) != 0)
    {
        error = std::string ("pipe failed: ") + std::strerror (errno);
        failure = StartFailure::pipes;
        closeFd (toChild[0]);
        closeFd (toChild[1]);
        return false;
    }

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init (&actions);
    ::posix_spawn_file_actions_adddup2 (&actions, toChild[0], 0);
    ::posix_spawn_file_actions_adddup2 (&actions, fromChild[1], 1);

    const auto errorPath = options.standardErrorPath.empty() ? std::string ("/dev/null") : options.standardErrorPath;
    ::posix_spawn_file_actions_addopen (&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);

    if (options.inheritNothingElse)
        ::posix_spawn_file_actions_addclosefrom_np (&actions, 3);

    if (! options.workingDirectory.empty())
        ::posix_spawn_file_actions_addchdir_np (&actions, options.workingDirectory.c_str());

    posix_spawnattr_t attributes;
    ::posix_spawnattr_init (&attributes);
    short flags = 0;

    if (options.ownProcessGroup)
    {
        flags |= POSIX_SPAWN_SETPGROUP;
        ::posix_spawnattr_setpgroup (&attributes, 0);
    }

    if (options.inheritNothingElse)
    {
        // The caller may be a real-time thread with signals blocked; the child starts plainly.
        sigset_t none;
        sigset_t all;
        ::sigemptyset (&none);
        ::sigfillset (&all);
        ::posix_spawnattr_setsigmask (&attributes, &none);
        ::posix_spawnattr_setsigdefault (&attributes, &all);
        sched_param normal {};
        normal.sched_priority = 0;
        ::posix_spawnattr_setschedpolicy (&attributes, SCHED_OTHER);
        ::posix_spawnattr_setschedparam (&attributes, &normal);
        flags |= POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSCHEDULER;
    }

    ::posix_spawnattr_setflags (&attributes, flags);

    std::vector<std::string> environmentText;

    for (auto** entry = environ; *entry != nullptr; ++entry)
    {
        const std::string text (*entry);
        const auto name = text.substr (0, text.find ('='));
        const auto replaced = std::any_of (options.environment.begin(), options.environment.end(),
                                           [&] (const auto& pair) { return pair.first == name; })
                           || std::find (options.unsetEnvironment.begin(), options.unsetEnvironment.end(), name)
                                  != options.unsetEnvironment.end();

        if (! replaced)
            environmentText.push_back (text);
    }

    for (const auto& [name, value] : options.environment)
        environmentText.push_back (name + "=" + value);

    std::vector<char*> environmentPointers;

    for (auto& text : environmentText)
        environmentPointers.push_back (text.data());

    environmentPointers.push_back (nullptr);

    std::vector<std::string> argumentText { options.program };
    argumentText.insert (argumentText.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argumentPointers;

    for (auto& text : argumentText)
        argumentPointers.push_back (text.data());

    argumentPointers.push_back (nullptr);

    pid_t child = -1;
    const auto spawnResult = ::posix_spawn (&child, options.program.c_str(), &actions, &attributes,
                                            argumentPointers.data(), environmentPointers.data());
    ::posix_spawn_file_actions_destroy (&actions);
    ::posix_spawnattr_destroy (&attributes);
    closeFd (toChild[0]);
    closeFd (fromChild[1]);

    if (spawnResult != 0)
    {
        error = std::string ("posix_spawn failed: ") + std::strerror (spawnResult);
        failure = StartFailure::spawn;
        closeFd (toChild[1]);
        closeFd (fromChild[0]);
        return false;
    }

    pid = child;
    leadsGroup = options.ownProcessGroup;
    // The child is not reaped yet, so the id is still its own. (glibc 2.36's <sys/pidfd.h> lacks
    // C linkage for C++, hence the system call.)
    pidFd = static_cast<int> (::syscall (SYS_pidfd_open, child, 0));
    inputFd = toChild[1];
    outputFd = fromChild[0];
    ::fcntl (inputFd, F_SETFL, ::fcntl (inputFd, F_GETFL) | O_NONBLOCK);
    ::fcntl (outputFd, F_SETFL, ::fcntl (outputFd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool PipedProcess::writeAll (const void* data, std::size_t size, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);
    const auto* bytes = static_cast<const char*> (data);

    while (size > 0)
    {
        if (inputFd < 0)
            return false;

        const auto written = ::write (inputFd, bytes, size);

        if (written > 0)
        {
            bytes += written;
            size -= static_cast<std::size_t> (written);
            continue;
        }

        if (written < 0 && errno == EINTR)
            continue;

        if (written < 0 && errno == EAGAIN && waitFor (inputFd, POLLOUT, deadline))
            continue;

        return false;
    }

    return true;
}

long PipedProcess::readSome (void* destination, std::size_t capacity, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);

    for (;;)
    {
        if (outputFd < 0)
            return -1;

        const auto got = ::read (outputFd, destination, capacity);

        if (got >= 0)
            return static_cast<long> (got);

        if (errno == EINTR)
            continue;

        if (errno == EAGAIN && waitFor (outputFd, POLLIN, deadline))
            continue;

        return -1;
    }
}

void PipedProcess::closeInput()
{
    closeFd (inputFd);
}

void PipedProcess::kill()
{
    if (pid > 0)
        ::kill (pid, SIGKILL);
}

ChildExit PipedProcess::wait (int timeoutMs)
{
    ChildExit result;

    if (pid <= 0)
        return result;

    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);

    for (;;)
    {
        int status = 0;
        const auto reaped = ::waitpid (pid, &status, WNOHANG);

        if (reaped == pid)
        {
            pid = -1;
            leadsGroup = false;
            closeFd (pidFd);
            result.ended = true;
            result.exited = WIFEXITED (status);
            result.exitCode = result.exited ? WEXITSTATUS (status) : -1;
            result.signal = WIFSIGNALED (status) ? WTERMSIG (status) : 0;
            return result;
        }

        if (reaped < 0 && errno != EINTR)
            return result;

        if (Clock::now() >= deadline)
            return result;

        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
}
} // namespace vantrel::platform

namespace vantrel::platform
{
PipedProcess::IoResult PipedProcess::readUntil (void* destination, std::size_t capacity, Deadline deadline)
{
    for (;;)
    {
        if (outputFd < 0)
            return { IoOutcome::failed, 0 };

        const auto got = ::read (outputFd, destination, capacity);

        if (got >= 0)
            return { IoOutcome::done, static_cast<std::size_t> (got) };

        if (errno == EINTR)
            continue;

        if (errno != EAGAIN)
            return { IoOutcome::failed, 0 };

        pollfd entries[2] = { { outputFd, POLLIN, 0 }, { pidFd, POLLIN, 0 } };
        const nfds_t count = pidFd >= 0 ? 2 : 1;

        if (! pollUntil (entries, count, deadline))
            return { Clock::now() >= deadline ? IoOutcome::timedOut : IoOutcome::failed, 0 };

        // Whatever the pipe still holds comes first; only an empty pipe reports the end.
        if (entries[0].revents == 0 && count == 2 && entries[1].revents != 0)
            return { IoOutcome::ended, 0 };
    }
}

PipedProcess::IoResult PipedProcess::writeUntil (const void* data, std::size_t size, Deadline deadline)
{
    for (;;)
    {
        if (inputFd < 0)
            return { IoOutcome::failed, 0 };

        if (size == 0)
            return { IoOutcome::done, 0 };

        const auto written = ::write (inputFd, data, size);

        if (written > 0)
            return { IoOutcome::done, static_cast<std::size_t> (written) };

        if (written < 0 && errno == EINTR)
            continue;

        if (written == 0 || errno != EAGAIN)
            return { IoOutcome::failed, 0 };

        pollfd entries[2] = { { inputFd, POLLOUT, 0 }, { pidFd, POLLIN, 0 } };
        const nfds_t count = pidFd >= 0 ? 2 : 1;

        if (! pollUntil (entries, count, deadline))
            return { Clock::now() >= deadline ? IoOutcome::timedOut : IoOutcome::failed, 0 };

        if (entries[0].revents == 0 && count == 2 && entries[1].revents != 0)
            return { IoOutcome::ended, 0 };
    }
}

bool PipedProcess::hasEnded() const
{
    return waitForEnd (0);
}

bool PipedProcess::waitForEnd (int timeoutMs) const
{
    if (pid <= 0)
        return false;

    const auto deadline = Clock::now() + std::chrono::milliseconds (std::max (0, timeoutMs));

    if (pidFd >= 0)
    {
        pollfd entry { pidFd, POLLIN, 0 };

        if (timeoutMs <= 0)
            return ::poll (&entry, 1, 0) > 0;

        return pollUntil (&entry, 1, deadline);
    }

    // Without a process descriptor: ask without reaping, every millisecond.
    for (;;)
    {
        siginfo_t info {};

        if (::waitid (P_PID, static_cast<id_t> (pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            return true;

        if (Clock::now() >= deadline)
            return false;

        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
}

void PipedProcess::killGroup()
{
    if (pid <= 0)
        return;

    if (leadsGroup)
        ::kill (-pid, SIGKILL);

    ::kill (pid, SIGKILL);
}
} // namespace vantrel::platform
