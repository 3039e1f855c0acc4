#pragma once

#include "platform/ProcessorInfo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vantrel
{
/** The processors this process may use. {1, 1} when unknown. */
struct ProcessorTopology
{
    std::int32_t cores = 1;
    std::int32_t logicalProcessors = 1;

    bool operator== (const ProcessorTopology& other) const
    {
        return cores == other.cores && logicalProcessors == other.logicalProcessors;
    }
};

/** Counts cores and logical processors among the allowed CPUs numbered 0..63 (the first
    processor group): a core is a distinct (package, core) pair, and counts when at least one
    of its logical processors is allowed. Gives {1, 1} when no such CPU is allowed or when the
    core of any of them cannot be read. Pure. */
ProcessorTopology countProcessorTopology (const std::vector<int>& allowedCpus,
                                          const std::function<std::optional<platform::CoreIdentity> (int cpu)>& coreOf);

/** Queries this machine: the process's affinity and the system's CPU topology. Any thread. */
ProcessorTopology queryProcessorTopology();

/** The query of the first call, computed once per process (thread-safe); later calls return it. */
ProcessorTopology processorTopology();

/** 2 when the machine offers at least 4 cores and 4 logical processors and the audio lasts at
    least 5 seconds (frames >= 5 x rate, with a rate above 0); else 1. */
int resampleWorkerCount (const ProcessorTopology& topology, std::uint64_t frames, double sampleRate);
} // namespace vantrel
