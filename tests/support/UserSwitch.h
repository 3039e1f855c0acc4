#pragma once

#include <string>

namespace vantrel::platform
{
/** The ids of a system user, looked up by name. */
struct UserIds
{
    bool found = false;
    unsigned uid = 0;
    unsigned gid = 0;
};

/** Looks a user up; call it before forking (the lookup is not safe in a forked child). */
UserIds lookUpUser (const std::string& name);

bool runningAsRoot();

/** Gives a file or folder (not a link's target) to the user; needs root. */
bool changeOwner (const std::string& path, const UserIds& user);

/** In a forked child of a root process: drops the supplementary groups, then takes the user's
    group and user for good. False when any step fails. */
bool becomeUser (const UserIds& user);
} // namespace vantrel::platform
