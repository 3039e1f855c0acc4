#include "platform/Reveal.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::platform
{
namespace
{
/** Openers whose reaper thread could not be started; the next reveal collects those that ended. */
std::mutex unreapedLock;
std::vector<pid_t> unreaped;

void collectEnded()
{
    const std::lock_guard<std::mutex> lock (unreapedLock);
    for (auto it = unreaped.begin(); it != unreaped.end();)
        it = ::waitpid (*it, nullptr, WNOHANG) != 0 ? unreaped.erase (it) : it + 1;
}

void reapLater (pid_t child)
{
    try
    {
        std::thread ([child]
        {
            while (::waitpid (child, nullptr, 0) < 0 && errno == EINTR)
            {
            }
        }).detach();
    }
    catch (...)
    {
        const std::lock_guard<std::mutex> lock (unreapedLock);
        unreaped.push_back (child);
    }
}
} // namespace

bool revealInFileManager (const juce::File& file, const std::string& opener)
{
    collectEnded();
    const auto folder = file.isDirectory() ? file : file.getParentDirectory();
    if (opener.empty() || ! folder.isDirectory())
        return false;

    const std::string path = folder.getFullPathName().toStdString();   // absolute: never starts with '-'
    std::vector<char*> argv { const_cast<char*> (opener.c_str()), const_cast<char*> (path.c_str()), nullptr };

    // The opener gets a session of its own, default signal dispositions and mask (the program
    // ignores SIGPIPE), standard input from /dev/null and none of the program's descriptors.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init (&actions);
    ::posix_spawnattr_init (&attributes);
    ::posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addclosefrom_np (&actions, 3);
    sigset_t none, all;
    sigemptyset (&none);
    sigfillset (&all);
    ::posix_spawnattr_setsigmask (&attributes, &none);
    ::posix_spawnattr_setsigdefault (&attributes, &all);
    ::posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = -1;
    const auto result = ::posix_spawnp (&child, opener.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy (&actions);
    ::posix_spawnattr_destroy (&attributes);
    if (result != 0)
        return false;

    reapLater (child);
    return true;
}
} // namespace vantrel::platform
