#include "platform/ProcessControl.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace vantrel::platform
{
namespace
{
/** The fields of /proc/<pid>/stat after the command name: state, ppid, pgrp, ... */
bool readStat (int pid, char& state, int& parent, int& group)
{
    std::ifstream in ("/proc/" + std::to_string (pid) + "/stat");
    std::string text;

    if (! std::getline (in, text))
        return false;

    // The command name is in parentheses and may itself hold spaces or parentheses.
    const auto close = text.rfind (')');

    if (close == std::string::npos)
        return false;

    std::istringstream fields (text.substr (close + 1));
    return static_cast<bool> (fields >> state >> parent >> group);
}
} // namespace

int currentProcessId()
{
    return static_cast<int> (::getpid());
}

bool stopProcess (int pid)
{
    return pid > 0 && ::kill (pid, SIGSTOP) == 0;
}

bool killProcess (int pid)
{
    return pid > 0 && ::kill (pid, SIGKILL) == 0;
}

char processState (int pid)
{
    char state = 0;
    int parent = 0;
    int group = 0;
    return readStat (pid, state, parent, group) ? state : 0;
}

int processGroupOf (int pid)
{
    char state = 0;
    int parent = 0;
    int group = -1;
    return readStat (pid, state, parent, group) ? group : -1;
}

std::vector<int> childProcessIds (int parentId)
{
    std::vector<int> children;
    std::error_code error;

    for (const auto& entry : std::filesystem::directory_iterator ("/proc", error))
    {
        const auto name = entry.path().filename().string();

        if (name.empty() || name.find_first_not_of ("0123456789") != std::string::npos)
            continue;

        const auto pid = std::stoi (name);
        char state = 0;
        int parent = 0;
        int group = 0;

        if (readStat (pid, state, parent, group) && parent == parentId)
            children.push_back (pid);
    }

    return children;
}

std::vector<std::pair<int, std::string>> openDescriptors (int pid)
{
    std::vector<std::pair<int, std::string>> descriptors;
    std::error_code error;

    for (const auto& entry : std::filesystem::directory_iterator ("/proc/" + std::to_string (pid) + "/fd", error))
    {
        std::error_code linkError;
        const auto target = std::filesystem::read_symlink (entry.path(), linkError);
        descriptors.emplace_back (std::stoi (entry.path().filename().string()), linkError ? std::string() : target.string());
    }

    return descriptors;
}
} // namespace vantrel::platform
