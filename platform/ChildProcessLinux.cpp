#include "platform/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::platform
{
ChildProcess::~ChildProcess()
{
    if (pid > 0)
    {
        kill();
        waitUntilEnded();
    }

    if (outputFd >= 0)
        ::close (outputFd);
}

bool ChildProcess::start (const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::string>& environment)
{
    if (pid > 0)
        return false;

    int pipeEnds[2];

    if (::pipe2 (pipeEnds, O_CLOEXEC) != 0)
        return false;

    std::vector<std::string> environmentEntries;

    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        const std::string text (*entry);
        const auto name = text.substr (0, text.find ('=') + 1);
        bool replaced = false;

        for (const auto& added : environment)
            replaced = replaced || added.compare (0, name.size(), name) == 0;

        if (! replaced)
            environmentEntries.push_back (text);
    }

    environmentEntries.insert (environmentEntries.end(), environment.begin(), environment.end());

    std::vector<char*> argv { const_cast<char*> (program.c_str()) };
    for (const auto& argument : arguments)
        argv.push_back (const_cast<char*> (argument.c_str()));
    argv.push_back (nullptr);

    std::vector<char*> envp;
    for (const auto& entry : environmentEntries)
        envp.push_back (const_cast<char*> (entry.c_str()));
    envp.push_back (nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init (&actions);
    ::posix_spawnattr_init (&attributes);
    ::posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], 1);
    ::posix_spawn_file_actions_addopen (&actions, 2, "/dev/null", O_WRONLY, 0);
    ::posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup (&attributes, 0);

    pid_t child = -1;
    const auto result = ::posix_spawn (&child, program.c_str(), &actions, &attributes, argv.data(), envp.data());

    ::posix_spawn_file_actions_destroy (&actions);
    ::posix_spawnattr_destroy (&attributes);
    ::close (pipeEnds[1]);

    if (result != 0)
    {
        ::close (pipeEnds[0]);
        return false;
    }

    pid = child;
    outputFd = pipeEnds[0];
    return true;
}

bool ChildProcess::readOutput (std::string& output, int timeoutMs)
{
    if (outputFd < 0)
        return false;

    pollfd request { outputFd, POLLIN, 0 };
    const auto ready = ::poll (&request, 1, timeoutMs);

    if (ready < 0)
        return errno == EINTR;

    if (ready == 0)
        return true;

    char buffer[4096];
    const auto got = ::read (outputFd, buffer, sizeof (buffer));

    if (got < 0)
        return errno == EINTR || errno == EAGAIN;

    if (got == 0)
    {
        ::close (outputFd);
        outputFd = -1;
        return false;
    }

    output.append (buffer, static_cast<size_t> (got));
    return true;
}

void ChildProcess::kill()
{
    if (pid > 0)
        ::kill (pid, SIGKILL);
}

void ChildProcess::terminate()
{
    if (pid > 0)
        ::kill (pid, SIGTERM);
}

bool ChildProcess::waitUntilEnded()
{
    if (pid <= 0)
        return false;

    int status = 0;

    while (::waitpid (pid, &status, 0) < 0)
    {
        if (errno != EINTR)
        {
            pid = -1;
            return false;
        }
    }

    pid = -1;
    return WIFSIGNALED (status) && WTERMSIG (status) == SIGKILL;
}

std::string ChildProcess::currentExecutable()
{
    char buffer[4096];
    const auto length = ::readlink ("/proc/self/exe", buffer, sizeof (buffer) - 1);
    return length > 0 ? std::string (buffer, static_cast<size_t> (length)) : std::string();
}
} // namespace vantrel::platform
