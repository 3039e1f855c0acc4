#include "support/MemoryUsage.h"

#include <malloc.h>

#include <fstream>
#include <string>

namespace vantrel::platform
{
namespace
{
/** A "Name:   123 kB" line of /proc/self/status, in bytes. */
std::int64_t readStatusKilobytes (const char* name)
{
    std::ifstream in ("/proc/self/status");
    std::string key;
    while (in >> key)
    {
        if (key == name)
        {
            std::int64_t kilobytes = -1;
            in >> kilobytes;
            return kilobytes < 0 ? -1 : kilobytes * 1024;
        }
        in.ignore (1 << 16, '\n');
    }
    return -1;
}
} // namespace

std::int64_t residentBytes()
{
    return readStatusKilobytes ("VmRSS:");
}

std::int64_t peakResidentBytes()
{
    return readStatusKilobytes ("VmHWM:");
}

void returnFreedMemory()
{
    ::malloc_trim (0);
}

bool resetPeakResidentBytes()
{
    std::ofstream out ("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool> (out);
}
} // namespace vantrel::platform
