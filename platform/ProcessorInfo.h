#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel::platform
{
/** Where a logical processor sits: its physical package and its core within the package. */
struct CoreIdentity
{
    int package = 0;
    int core = 0;

    bool operator== (const CoreIdentity& other) const  { return package == other.package && core == other.core; }
};

/** The logical processors (CPU numbers, ascending) this process may run on, from its
    affinity mask. When the mask cannot be read, every configured processor. Any thread. */
std::vector<int> allowedProcessors();

/** The system's processor topology folder ("/sys/devices/system/cpu"). */
std::string processorTopologyRoot();

/** Reads root/cpuN/topology/{physical_package_id,core_id}; empty when either file is missing or
    does not hold a decimal number. Any thread. */
std::optional<CoreIdentity> readCoreIdentity (const std::string& root, int cpu);
} // namespace vantrel::platform
