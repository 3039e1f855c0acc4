#include "platform/PipedProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
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
} // namespace

PipedProcess::~PipedProcess()
{
    if (pid > 0)
    {
        kill();
        wait (5000);
    }

    closeFd (inputFd);
    closeFd (outputFd);
}

bool PipedProcess::start (const Options& options, std::string& error)
{
    ::signal (SIGPIPE, SIG_IGN);

    int toChild[2] = { -1, -1 };
    int fromChild[2] = { -1, -1 };

    if (::pipe2 (toChild, O_CLOEXEC) != 0 || ::pipe2 (fromChild, O_CLOEXEC) != 0)
    {
        error = std::string ("pipe failed: ") + std::strerror (errno);
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
    const auto spawnResult = ::posix_spawn (&child, options.program.c_str(), &actions, nullptr,
                                            argumentPointers.data(), environmentPointers.data());
    ::posix_spawn_file_actions_destroy (&actions);
    closeFd (toChild[0]);
    closeFd (fromChild[1]);

    if (spawnResult != 0)
    {
        error = std::string ("posix_spawn failed: ") + std::strerror (spawnResult);
        closeFd (toChild[1]);
        closeFd (fromChild[0]);
        return false;
    }

    pid = child;
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
