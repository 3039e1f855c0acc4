#include "launcher/Launcher.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::launcher
{
namespace
{
/** Owns a file-actions list and an attribute set for one posix_spawn call. */
struct SpawnSetup
{
    SpawnSetup()   { ::posix_spawn_file_actions_init (&actions); ::posix_spawnattr_init (&attributes); }
    ~SpawnSetup()  { ::posix_spawn_file_actions_destroy (&actions); ::posix_spawnattr_destroy (&attributes); }
    SpawnSetup (const SpawnSetup&) = delete;
    SpawnSetup& operator= (const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

std::vector<char*> argumentPointers (std::vector<std::string>& texts)
{
    std::vector<char*> pointers;

    for (auto& text : texts)
        pointers.push_back (text.data());

    pointers.push_back (nullptr);
    return pointers;
}

bool hasDisplay()
{
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY" })
        if (const char* value = std::getenv (name); value != nullptr && *value != '\0')
            return true;

    return false;
}

/** Runs the first message-box program found on PATH and waits until its box is closed. Its own
    output goes to /dev/null, so that toolkit warnings do not mix with the launcher's text. */
void showMessageBox (const std::string& text)
{
    const std::vector<std::vector<std::string>> boxes {
        { "zenity", "--error", "--title=Vantrel!", "--no-markup", "--text=" + text },
        { "kdialog", "--title", "Vantrel!", "--error", text },
        { "xmessage", "-title", "Vantrel!", "-center", "-buttons", "OK:0", "-default", "OK", text }
    };

    for (auto box : boxes)
    {
        SpawnSetup setup;
        ::posix_spawn_file_actions_addopen (&setup.actions, 0, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen (&setup.actions, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_adddup2 (&setup.actions, 1, 2);
        ::posix_spawn_file_actions_addclosefrom_np (&setup.actions, 3);
        auto pointers = argumentPointers (box);
        pid_t child = -1;

        if (::posix_spawnp (&child, box.front().c_str(), &setup.actions, &setup.attributes,
                            pointers.data(), environ) != 0)
            continue;   // not installed: try the next one

        int status = 0;

        while (::waitpid (child, &status, 0) < 0 && errno == EINTR) {}

        return;
    }
}
} // namespace

std::optional<std::string> folderOf (const std::string& path)
{
    const auto slash = path.rfind ('/');

    if (slash == std::string::npos)
        return std::nullopt;

    return path.substr (0, slash);
}

std::optional<std::string> ownExecutablePath()
{
    std::string path (4096, '\0');

    for (;;)
    {
        const auto length = ::readlink ("/proc/self/exe", path.data(), path.size());

        if (length <= 0)
            return std::nullopt;

        if (static_cast<std::size_t> (length) < path.size())
        {
            path.resize (static_cast<std::size_t> (length));
            return path;
        }

        if (path.size() >= (1u << 20))
            return std::nullopt;

        path.resize (path.size() * 2);   // possibly cut short: read again with more room
    }
}

LaunchResult launchMainProgram (const std::string& folder, const std::vector<std::string>& arguments)
{
    const auto supportFolder = folder + "/support";
    const auto program = supportFolder + "/Vantrel";
    struct stat attributes {};

    if (::stat (program.c_str(), &attributes) != 0)
    {
        reportFailure (programMissingText);
        return LaunchResult::programMissing;
    }

    std::vector<std::string> argumentTexts { program };
    argumentTexts.insert (argumentTexts.end(), arguments.begin(), arguments.end());
    auto pointers = argumentPointers (argumentTexts);

    SpawnSetup setup;
    ::posix_spawn_file_actions_addchdir_np (&setup.actions, supportFolder.c_str());
    ::posix_spawn_file_actions_addclosefrom_np (&setup.actions, 3);
    // The program starts plainly whatever the launcher inherited: no blocked or ignored signals.
    sigset_t none;
    sigset_t all;
    ::sigemptyset (&none);
    ::sigfillset (&all);
    ::posix_spawnattr_setsigmask (&setup.attributes, &none);
    ::posix_spawnattr_setsigdefault (&setup.attributes, &all);
    ::posix_spawnattr_setflags (&setup.attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = -1;

    if (::posix_spawn (&child, program.c_str(), &setup.actions, &setup.attributes, pointers.data(), environ) != 0)
    {
        reportFailure (startFailedText);
        return LaunchResult::startFailed;
    }

    // Not waited for: when the launcher ends, the program is handed to the system's reaper.
    return LaunchResult::started;
}

void reportFailure (const char* text)
{
    std::fprintf (stderr, "%s\n", text);
    std::fflush (stderr);

    if (hasDisplay())
        showMessageBox (text);
}
} // namespace vantrel::launcher
