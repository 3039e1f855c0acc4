#include "audio/media/ProcessorTopology.h"

#include <set>
#include <utility>

namespace vantrel
{
namespace
{
/** CPUs beyond this count belong to further processor groups and are not counted. */
constexpr int firstGroupSize = 64;
} // namespace

ProcessorTopology countProcessorTopology (const std::vector<int>& allowedCpus,
                                          const std::function<std::optional<platform::CoreIdentity> (int cpu)>& coreOf)
{
    std::set<std::pair<int, int>> cores;
    int logical = 0;
    for (const int cpu : allowedCpus)
    {
        if (cpu < 0 || cpu >= firstGroupSize)
            continue;

        const auto core = coreOf (cpu);
        if (! core)
            return {};

        cores.insert ({ core->package, core->core });
        ++logical;
    }

    if (cores.empty())
        return {};

    return { (std::int32_t) cores.size(), (std::int32_t) logical };
}

ProcessorTopology queryProcessorTopology()
{
    const auto root = platform::processorTopologyRoot();
    return countProcessorTopology (platform::allowedProcessors(),
                                   [&root] (int cpu) { return platform::readCoreIdentity (root, cpu); });
}

ProcessorTopology processorTopology()
{
    static const ProcessorTopology topology = queryProcessorTopology();
    return topology;
}

int resampleWorkerCount (const ProcessorTopology& topology, std::uint64_t frames, double sampleRate)
{
    const bool enoughProcessors = topology.cores >= 4 && topology.logicalProcessors >= 4;
    const bool longEnough = sampleRate > 0.0 && (double) frames >= 5.0 * sampleRate;
    return enoughProcessors && longEnough ? 2 : 1;
}
} // namespace vantrel
