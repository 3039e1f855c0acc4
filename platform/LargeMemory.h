#pragma once

#include <cstddef>

namespace vantrel::platform
{
/** Asks the system to back the whole 2 MiB pages inside [data, data + bytes) with large
    pages, so that first touching a buffer of hundreds of megabytes costs a few hundred page
    faults instead of a hundred thousand. Only a hint: nothing changes where the system
    declines, and the memory's contents and size stay as they are. */
void adviseLargePages (void* data, std::size_t bytes) noexcept;
} // namespace vantrel::platform
