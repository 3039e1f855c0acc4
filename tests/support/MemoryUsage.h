#pragma once

#include <cstdint>

namespace vantrel::platform
{
/** The process's resident memory now, in bytes; -1 when it cannot be read. */
std::int64_t residentBytes();

/** The highest resident memory since start or since the last resetPeakResidentBytes; -1 when
    it cannot be read. */
std::int64_t peakResidentBytes();

/** Gives memory that the allocator holds but no longer uses back to the system, so that the
    resident size reflects what is in use. */
void returnFreedMemory();

/** Starts a new peak measurement at the current resident size. False when the system does
    not allow it (the peak then keeps counting from start). */
bool resetPeakResidentBytes();
} // namespace vantrel::platform
