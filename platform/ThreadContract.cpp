#include "platform/ThreadContract.h"

#include <cstdio>
#include <cstdlib>

namespace vantrel
{
namespace
{
thread_local ThreadRole role = ThreadRole::message;

const char* roleName (ThreadRole r) noexcept
{
    switch (r)
    {
        case ThreadRole::audio:   return "audio thread";
        case ThreadRole::control: return "control thread";
        case ThreadRole::protocol: return "protocol thread";
        case ThreadRole::background: return "background thread";
        case ThreadRole::message: break;
    }
    return "message thread";
}
} // namespace

const void* currentThreadToken() noexcept
{
    static thread_local const char token = 0;
    return &token;
}

ThreadRole currentThreadRole() noexcept
{
    return role;
}

ThreadRoleScope::ThreadRoleScope (ThreadRole newRole) noexcept
    : previous (role)
{
    role = newRole;
}

ThreadRoleScope::~ThreadRoleScope()
{
    role = previous;
}

void threadContractBroken (const char* expected, const char* function, const char* file, int line) noexcept
{
    std::fprintf (stderr, "thread contract broken: %s must run on the %s, called on the %s (%s:%d)\n",
                  function, expected, roleName (role), file, line);
    std::fflush (stderr);
    std::abort();
}
} // namespace vantrel
