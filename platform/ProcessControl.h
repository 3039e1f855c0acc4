#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vantrel::platform
{
/** This process's id. */
int currentProcessId();

/** Sends SIGSTOP or SIGKILL to one process; false when it could not be sent. */
bool stopProcess (int pid);
bool killProcess (int pid);

/** The state letter of a process as the system shows it ('R', 'S', 'D', 'T', 'Z' ...), or 0 when
    no process has that id. */
char processState (int pid);

/** The process group a process belongs to, or -1 when it cannot be read. */
int processGroupOf (int pid);

/** The ids of the processes whose parent is `parent` (zombies included). */
std::vector<int> childProcessIds (int parent);

/** The descriptors a process holds open, each with what it refers to (a path, "pipe:[n]" ...). */
std::vector<std::pair<int, std::string>> openDescriptors (int pid);
} // namespace vantrel::platform
