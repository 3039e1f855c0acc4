#pragma once

// Threads: prepare on the message thread, never while process runs (the adapter prepares before
// the device starts); process on the audio thread, realtime-safe (no lock, no allocation, no
// system call); the block hand-over (takeSentBlock .. finishTakenBlock) on the rack's control
// thread. Each ring has one producer and one consumer: the audio thread writes the outbound
// ring and reads the inbound one, the control thread the other way round. Epoch, faults and
// counters are atomics that any thread may read.

#include "audio/rack/RackBlockRing.h"
#include "audio/rack/VstRackRecords.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace vantrel
{
/** The master bus's way through the rack without ever blocking the audio thread. The audio
    thread cuts the bus into 512-frame blocks and hands them to the control thread, which sends
    them through the slots' workers and hands them back; each processed block plays exactly the
    bridge latency after its dry block left. Whenever no processed block is due the output falls
    back to the dry signal delayed by the bridge latency plus the plug-ins' own latency (so the
    timing of the plug-in path stays), and a returning block fades in over about 10 ms.

    Every change that invalidates the audio in flight (prepare, a slot load or clear, a state
    capture, the initial load) starts a new epoch: blocks of older epochs are dropped on both
    sides and the block numbering starts again, while the dry history goes on (no silence, no
    jump). */
class RackBridge
{
public:
    static constexpr int blockFrames = RackBlock::frames;

    /** What the rack tells the bridge at the top of each device block. */
    struct BlockConditions
    {
        bool slotsConfigured = false;      // none: the bus passes untouched and without delay
        bool holding = false;              // a load, a capture or a reload: delayed dry, nothing sent
        bool playing = false;              // playback active: lost blocks latch faults
        std::int32_t pluginLatency = 0;    // the configured slots' latency sum, samples
    };

    RackBridge() = default;
    RackBridge (const RackBridge&) = delete;
    RackBridge& operator= (const RackBridge&) = delete;

    /** The bridge latency in samples for a device at `sampleRate` whose blocks are at most
        `maxBlockFrames`: whole blocks, at least about 42.7 ms, at least 32 ms for the exchange
        with the workers plus the device block, at most 248 blocks. */
    static std::int32_t latencyFor (double sampleRate, int maxBlockFrames) noexcept;

    /** The step of the one-pole crossfades (10 ms time constant) at `sampleRate`. */
    static float crossfadeStep (double sampleRate) noexcept;

    /** Message thread, not concurrent with process: the latency for the device, a fresh dry
        history (allocated here), a new epoch, the fault cleared. A rate that no device can have
        is taken as 48 kHz. */
    void prepare (double sampleRate, int maxBlockFrames);

    /** Message thread, not concurrent with process (a device about to start again): the dry
        history and the processed blocks in flight are forgotten (a new epoch), so nothing heard
        before sounds after; the latency and the fault stay. Allocates nothing. */
    void clearHeldAudio() noexcept;

    /** Audio thread, realtime-safe: passes the master bus (channel 0 left, 1 right) through the
        bridge in place. Does nothing before prepare, or when given no channel or no frame. A
        null left channel reads as silence; a missing or null right channel reads as the left and
        is not written; with one channel the output is the mono sum. */
    void process (float* const* channels, int numChannels, int numSamples, const BlockConditions& conditions) noexcept;

    /** Control thread: the oldest block the audio thread sent, copied off the ring into the
        bridge's exchange block; null when none waits. Every block taken is finished with
        finishTakenBlock. */
    RackBlock* takeSentBlock() noexcept;

    /** Control thread: a taken block is worth the exchange (its epoch is current and no fault
        stopped the exchange). */
    bool isExchangeable (const RackBlock& block) const noexcept;

    /** Control thread: puts a processed block into the inbound ring when its epoch is still
        current (a block of an older epoch is dropped). False when the ring was full and the block
        was lost. */
    bool returnBlock (const RackBlock& block) noexcept;

    /** Control thread: a taken block is done with, returned or dropped. */
    void finishTakenBlock() noexcept;

    /** Any thread: the audio in flight is invalid from now on. */
    void startNewEpoch() noexcept { ++epochNumber; }
    std::uint64_t epoch() const noexcept { return epochNumber.load (std::memory_order_acquire); }

    /** Any thread: latches `fault` unless another fault came first; the bridge falls back to the
        delayed dry signal and the exchange stops until clearFault. */
    void latchFault (RackFault fault) noexcept;
    void clearFault() noexcept;
    bool audioFault() const noexcept { return faulted.load(); }
    RackFault fault() const noexcept { return faultKind.load(); }

    /** Any thread. */
    double sampleRate() const noexcept { return rate.load (std::memory_order_relaxed); }
    std::int32_t latencySamples() const noexcept { return bridgeLatency.load (std::memory_order_relaxed); }
    std::uint64_t underruns() const noexcept { return underrunCount.load (std::memory_order_relaxed); }
    std::uint64_t blocksSent() const noexcept { return blocksSentCount.load (std::memory_order_acquire); }
    std::uint64_t blocksTaken() const noexcept { return blocksTakenCount.load (std::memory_order_acquire); }

private:
    /** Audio thread, at the first frame of a block: takes the processed block numbered
        `dueSequence` from the inbound ring, dropping older ones; latches the faults of a gap and
        of missed blocks while playing. */
    void takeDueBlock (std::uint64_t dueSequence, std::uint64_t currentEpoch, bool playing, bool& faultedNow) noexcept;

    RackBlockRing outboundRing;   // audio thread -> control thread, dry blocks
    RackBlockRing inboundRing;    // control thread -> audio thread, processed blocks

    std::atomic<std::int32_t> bridgeLatency { 4 * blockFrames };
    std::atomic<double> rate { 48000.0 };
    std::atomic<std::uint64_t> epochNumber { 1 };
    std::atomic<bool> faulted { false };
    std::atomic<RackFault> faultKind { RackFault::none };
    std::atomic<std::uint64_t> underrunCount { 0 };
    std::atomic<std::uint64_t> blocksSentCount { 0 };
    std::atomic<std::uint64_t> blocksTakenCount { 0 };

    // Audio thread (and prepare).
    std::vector<std::array<float, 2>> dryHistory;   // allocated by prepare
    RackBlock inputBlock;
    RackBlock outputBlock;
    std::uint64_t lastEpochSeen = 0;
    std::uint64_t frameCounter = 0;                  // frames since the epoch began
    std::uint64_t historyWritePosition = 0;
    std::uint64_t historyFrames = 0;                 // frames written since prepare or since the bus passed untouched
    std::int32_t missedBlocks = 0;
    bool haveOutputBlock = false;
    float wetMix = 1.0f;

    // Control thread.
    RackBlock exchangeBlock;
};
} // namespace vantrel
