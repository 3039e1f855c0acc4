#include "support/UserSwitch.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace vantrel::platform
{
UserIds lookUpUser (const std::string& name)
{
    UserIds ids;

    if (const auto* entry = ::getpwnam (name.c_str()))
    {
        ids.found = true;
        ids.uid = entry->pw_uid;
        ids.gid = entry->pw_gid;
    }

    return ids;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

bool changeOwner (const std::string& path, const UserIds& user)
{
    return user.found && ::lchown (path.c_str(), user.uid, user.gid) == 0;
}

bool becomeUser (const UserIds& user)
{
    return user.found
        && ::setgroups (0, nullptr) == 0
        && ::setresgid (user.gid, user.gid, user.gid) == 0
        && ::setresuid (user.uid, user.uid, user.uid) == 0
        && ::geteuid() == user.uid;
}
} // namespace vantrel::platform
