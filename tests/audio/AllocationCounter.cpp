// Replaces the global allocation functions of the audio test binary with ones that count the
// calls made on a thread while a ScopedAllocationCount is active there.

#include "tests/audio/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local bool counting = false;
thread_local std::uint64_t allocationCount = 0;

void* allocate (std::size_t size)
{
    if (counting)
        ++allocationCount;
    if (size == 0)
        size = 1;
    if (void* block = std::malloc (size))
        return block;
    throw std::bad_alloc();
}

void* allocateAligned (std::size_t size, std::align_val_t alignment)
{
    if (counting)
        ++allocationCount;
    const auto align = static_cast<std::size_t> (alignment);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;
    if (void* block = std::aligned_alloc (align, rounded))
        return block;
    throw std::bad_alloc();
}
} // namespace

namespace orvane::audio::testing
{
ScopedAllocationCount::ScopedAllocationCount()
    : startCount (allocationCount), wasCounting (counting)
{
    counting = true;
}

ScopedAllocationCount::~ScopedAllocationCount()
{
    counting = wasCounting;
}

std::uint64_t ScopedAllocationCount::allocations() const
{
    return allocationCount - startCount;
}
} // namespace orvane::audio::testing

void* operator new (std::size_t size)  { return allocate (size); }
void* operator new[] (std::size_t size)  { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void* operator new (std::size_t size, std::align_val_t alignment)  { return allocateAligned (size, alignment); }
void* operator new[] (std::size_t size, std::align_val_t alignment)  { return allocateAligned (size, alignment); }

void operator delete (void* block) noexcept  { std::free (block); }
void operator delete[] (void* block) noexcept  { std::free (block); }
void operator delete (void* block, std::size_t) noexcept  { std::free (block); }
void operator delete[] (void* block, std::size_t) noexcept  { std::free (block); }
void operator delete (void* block, std::align_val_t) noexcept  { std::free (block); }
void operator delete[] (void* block, std::align_val_t) noexcept  { std::free (block); }
void operator delete (void* block, std::size_t, std::align_val_t) noexcept  { std::free (block); }
void operator delete[] (void* block, std::size_t, std::align_val_t) noexcept  { std::free (block); }
