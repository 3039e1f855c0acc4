#include "platform/SharedLibrary.h"

#include <dlfcn.h>
#include <sys/utsname.h>

namespace vantrel::platform
{
namespace
{
std::string oneLine (std::string text)
{
    for (auto& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';

    return text;
}
} // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::open (const std::string& path, std::string& error)
{
    ::dlerror();
    auto* handle = ::dlopen (path.c_str(), RTLD_LAZY | RTLD_LOCAL);

    if (handle == nullptr)
    {
        const auto* reason = ::dlerror();
        error = "dlopen failed: " + oneLine (reason != nullptr ? reason : path);
        return nullptr;
    }

    return std::unique_ptr<SharedLibrary> (new SharedLibrary (handle));
}

SharedLibrary::~SharedLibrary()
{
    if (handle != nullptr)
        ::dlclose (handle);
}

void* SharedLibrary::symbol (const char* name) const
{
    return handle != nullptr ? ::dlsym (handle, name) : nullptr;
}

std::string machineArchitecture()
{
    utsname names {};

    if (::uname (&names) != 0)
        return "x86_64";

    return names.machine;
}
} // namespace vantrel::platform
