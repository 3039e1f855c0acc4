#pragma once

#include "audio/engine/VoiceStatus.h"

#include <atomic>
#include <cstdint>

namespace orvane::audio
{
/** One sequence-guarded status slot: a single writer (the audio thread, or the
    message thread while no callback runs) and any number of readers on any
    thread. The counter is odd while the slot is being written; every field is
    an atomic of its own, so a reader that races a writer reads stale values,
    never torn ones, and the counter check throws such a reading away.

    Ordering: the fields are stored with release and loaded with acquire. A
    reader that sees any field of a write in progress therefore also sees the
    odd counter that began it when it loads the counter again, and a reader that
    acquired an even counter sees every field stored before it. This gives the
    ordering of the textbook fence-based seqlock without standalone fences,
    which ThreadSanitizer cannot model; on x86 both compile to plain moves. */
class VoiceStatusSlot
{
public:
    enum Flags : std::uint32_t
    {
        playingFlag = 1u << 0,
        pausedFlag = 1u << 1,
        reachedEndFlag = 1u << 2
    };

    /** Writer side; realtime-safe (lock-free atomics only). */
    void publish (std::int64_t playToken, std::int64_t position, std::uint32_t flags) noexcept
    {
        sequence.fetch_add (1, std::memory_order_seq_cst); // odd: writing
        positionValue.store (position, std::memory_order_release);
        flagBits.store (flags, std::memory_order_release);
        token.store (playToken, std::memory_order_release);
        sequence.fetch_add (1, std::memory_order_seq_cst); // even again
    }

    /** Any thread; lock-free, no retry: a slot in the middle of a write, or
        one written during the read, gives an all-zero status. */
    VoiceStatus read() const noexcept
    {
        const auto before = sequence.load (std::memory_order_acquire);
        if ((before & 1u) != 0)
            return {};

        VoiceStatus status;
        status.playToken = token.load (std::memory_order_acquire);
        status.position = positionValue.load (std::memory_order_acquire);
        const auto flags = flagBits.load (std::memory_order_acquire);
        if (sequence.load (std::memory_order_relaxed) != before)
            return {};

        status.playing = (flags & playingFlag) != 0;
        status.paused = (flags & pausedFlag) != 0;
        status.reachedEnd = (flags & reachedEndFlag) != 0;
        return status;
    }

    std::uint64_t sequenceNumber() const noexcept  { return sequence.load (std::memory_order_acquire); }

private:
    std::atomic<std::uint64_t> sequence { 0 };
    std::atomic<std::int64_t> token { 0 };
    std::atomic<std::int64_t> positionValue { 0 };
    std::atomic<std::uint32_t> flagBits { 0 };
};
} // namespace orvane::audio
