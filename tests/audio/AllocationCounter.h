#pragma once

#include <cstdint>

namespace orvane::audio::testing
{
/** Counts the global operator new calls made on the calling thread while it lives. The
    replacement operators (AllocationCounter.cpp) serve every test of this binary; counting is
    off outside a scope, so test bookkeeping around the measured calls is never counted. */
class ScopedAllocationCount
{
public:
    ScopedAllocationCount();
    ~ScopedAllocationCount();

    ScopedAllocationCount (const ScopedAllocationCount&) = delete;
    ScopedAllocationCount& operator= (const ScopedAllocationCount&) = delete;

    /** Allocations on this thread since the scope began. */
    std::uint64_t allocations() const;

private:
    std::uint64_t startCount;
    bool wasCounting;
};
} // namespace orvane::audio::testing
