#include "platform/ProcessorInfo.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace vantrel::platform
{
namespace
{
std::optional<int> readDecimalFile (const std::string& path)
{
    std::ifstream in (path);
    std::string text;
    if (! (in >> text) || text.empty() || text.size() > 9)
        return std::nullopt;

    std::size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size())
        return std::nullopt;
    for (std::size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;

    return std::atoi (text.c_str());
}
} // namespace

std::vector<int> allowedProcessors()
{
    std::vector<int> cpus;
    cpu_set_t mask;
    CPU_ZERO (&mask);

    if (::sched_getaffinity (0, sizeof (mask), &mask) == 0)
    {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET (cpu, &mask))
                cpus.push_back (cpu);
        return cpus;
    }

    const long configured = ::sysconf (_SC_NPROCESSORS_CONF);
    for (long cpu = 0; cpu < configured && cpu < CPU_SETSIZE; ++cpu)
        cpus.push_back ((int) cpu);
    return cpus;
}

std::string processorTopologyRoot()
{
    return "/sys/devices/system/cpu";
}

std::optional<CoreIdentity> readCoreIdentity (const std::string& root, int cpu)
{
    const std::string folder = root + "/cpu" + std::to_string (cpu) + "/topology/";
    const auto package = readDecimalFile (folder + "physical_package_id");
    const auto core = readDecimalFile (folder + "core_id");
    if (! package || ! core)
        return std::nullopt;

    return CoreIdentity { *package, *core };
}
} // namespace vantrel::platform
