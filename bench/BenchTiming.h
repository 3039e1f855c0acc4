#pragma once
// Timing helpers shared by the benchmarks that time frames of the interface.

#include <algorithm>
#include <ctime>
#include <vector>

namespace vantrel::bench
{
/** The CPU time this thread has used, in milliseconds. */
inline double threadCpuMs()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec * 1000.0 + (double) t.tv_nsec / 1.0e6;
}

/** The value at fraction p (0..1) of the sorted values, nearest rank; 0 for none. */
inline double percentile (std::vector<double> values, double p)
{
    std::sort (values.begin(), values.end());
    return values.empty() ? 0.0 : values[std::min (values.size() - 1, (size_t) (p * (double) (values.size() - 1) + 0.5))];
}
} // namespace vantrel::bench
