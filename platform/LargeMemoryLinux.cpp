#include "platform/LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace vantrel::platform
{
void adviseLargePages (void* data, std::size_t bytes) noexcept
{
    constexpr std::uintptr_t largePage = std::uintptr_t (2) << 20;
    const auto begin = reinterpret_cast<std::uintptr_t> (data);
    const std::uintptr_t first = (begin + largePage - 1) & ~(largePage - 1);
    const std::uintptr_t last = (begin + bytes) & ~(largePage - 1);
    if (data != nullptr && last > first)
        ::madvise (reinterpret_cast<void*> (first), last - first, MADV_HUGEPAGE);
}
} // namespace vantrel::platform
