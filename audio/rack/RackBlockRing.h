#pragma once

// One producer thread and one consumer thread; no locks, no allocation. Entries are copied in and
// out whole.

#include <array>
#include <atomic>
#include <cstdint>

namespace vantrel
{
/** One block of the master bus: 512 frames of interleaved float32 stereo, numbered by the audio
    thread's frame counter of its first frame / 512, and stamped with the rack's epoch. */
struct RackBlock
{
    static constexpr int frames = 512;

    std::array<float, frames * 2> samples {};
    std::uint64_t sequence = 0;
    std::uint64_t epoch = 0;
};

/** A ring of 256 blocks of which at most 255 are held (empty when read == write, full when
    write + 1 == read, modulo 256). */
class RackBlockRing
{
public:
    static constexpr std::uint32_t size = 256;

    /** Producer. False (nothing written) when full. */
    bool push (const RackBlock& block) noexcept
    {
        const auto w = write.load (std::memory_order_relaxed);
        const auto next = (w + 1) % size;

        if (next == read.load (std::memory_order_acquire))
            return false;

        entries[w] = block;
        write.store (next, std::memory_order_release);
        return true;
    }

    /** Consumer: the oldest block, or null when empty. It stays until dropFront. */
    const RackBlock* front() const noexcept
    {
        const auto r = read.load (std::memory_order_relaxed);
        return r == write.load (std::memory_order_acquire) ? nullptr : &entries[r];
    }

    /** Consumer: forgets the oldest block (after front() gave one). */
    void dropFront() noexcept
    {
        read.store ((read.load (std::memory_order_relaxed) + 1) % size, std::memory_order_release);
    }

    /** Consumer: copies the oldest block out and forgets it; false when empty. */
    bool pop (RackBlock& block) noexcept
    {
        const auto* oldest = front();

        if (oldest == nullptr)
            return false;

        block = *oldest;
        dropFront();
        return true;
    }

    /** Consumer: forgets every block held. */
    void clear() noexcept
    {
        read.store (write.load (std::memory_order_acquire), std::memory_order_release);
    }

    /** Either side: how many blocks are held at this moment. */
    std::uint32_t count() const noexcept
    {
        return (write.load (std::memory_order_acquire) + size - read.load (std::memory_order_acquire)) % size;
    }

private:
    std::array<RackBlock, size> entries {};
    alignas (64) std::atomic<std::uint32_t> read { 0 };
    alignas (64) std::atomic<std::uint32_t> write { 0 };
};
} // namespace vantrel
