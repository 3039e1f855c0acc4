#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace vantrel
{
/** Running statistics of the device callback and the device's life. The device thread records
    each block (realtime-safe: atomics only, no locks or allocation); the message thread counts
    lifecycle events and reads every value atomically by itself (not a consistent snapshot across
    values). Never reset while the program runs. */
class CallbackStatistics
{
public:
    static constexpr int gapRingSize = 128;

    /** Device thread: the start of a block of `frames` at `sampleRate`, `nowMicros` on a monotonic
        clock. Returns the block period in µs, to be passed to recordRender. */
    uint64_t recordCallback (int64_t nowMicros, int frames, double sampleRate) noexcept;

    /** Device thread: the render of the block took `renderMicros`. */
    void recordRender (int64_t renderMicros, uint64_t blockPeriodMicros) noexcept;

    /** Message thread, when a start is accepted: the next callback records a gap of 0. */
    void forgetLastCallbackTime() noexcept  { lastCallbackMicros.store (0); }

    void countStopNotification() noexcept   { stopNotifications.fetch_add (1); }
    void countDriverRestart() noexcept      { successfulDriverRestarts.fetch_add (1); }
    void countDeviceError() noexcept        { deviceErrors.fetch_add (1); }
    void countRateChangeGate() noexcept     { rateChangeGates.fetch_add (1); }
    void countConfirmedLoss() noexcept      { confirmedLossEvents.fetch_add (1); }

    /** The gaps of the last (at most 128) callbacks, oldest first. Message thread. */
    std::vector<int64_t> recentGaps() const;

    std::atomic<int64_t> callbacks { 0 };
    std::atomic<int64_t> stopNotifications { 0 };
    std::atomic<int64_t> successfulDriverRestarts { 0 };
    std::atomic<int64_t> deviceErrors { 0 };
    std::atomic<int64_t> rateChangeGates { 0 };
    std::atomic<int64_t> confirmedLossEvents { 0 };
    std::atomic<int64_t> callbackLongGaps { 0 };
    std::atomic<int64_t> callbackBudgetOverruns { 0 };
    std::atomic<int64_t> maxCallbackGapMicros { 0 };
    std::atomic<int64_t> maxRenderMicros { 0 };
    std::atomic<int64_t> fastCallbacks { 0 };
    std::atomic<int64_t> maxCallbackBurstFrames { 0 };

private:
    static void raise (std::atomic<int64_t>& maximum, int64_t value) noexcept;

    std::atomic<int64_t> lastCallbackMicros { 0 };
    int64_t burstFrames = 0;   // device thread only
    std::array<std::atomic<int64_t>, gapRingSize> gapRing {};
};
} // namespace vantrel
