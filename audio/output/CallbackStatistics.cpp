#include "audio/output/CallbackStatistics.h"

#include <algorithm>

namespace vantrel
{
void CallbackStatistics::raise (std::atomic<int64_t>& maximum, int64_t value) noexcept
{
    auto current = maximum.load (std::memory_order_relaxed);
    while (value > current && ! maximum.compare_exchange_weak (current, value, std::memory_order_relaxed)) {}
}

uint64_t CallbackStatistics::recordCallback (int64_t nowMicros, int frames, double sampleRate) noexcept
{
    const auto previous = lastCallbackMicros.exchange (nowMicros);
    const auto period = static_cast<uint64_t> (static_cast<double> (frames) * 1000000.0 / std::max (sampleRate, 1.0));
    const bool hasPrevious = previous != 0;
    const int64_t gap = hasPrevious ? nowMicros - previous : 0;

    if (hasPrevious)
    {
        raise (maxCallbackGapMicros, gap);
        if (gap > std::max<int64_t> (static_cast<int64_t> (4 * period), 100000))
            callbackLongGaps.fetch_add (1, std::memory_order_relaxed);
    }
    const auto index = callbacks.fetch_add (1) % gapRingSize;
    gapRing[static_cast<size_t> (index)].store (gap, std::memory_order_relaxed);

    if (hasPrevious && gap < static_cast<int64_t> (period / 4))
    {
        fastCallbacks.fetch_add (1, std::memory_order_relaxed);
        burstFrames += frames;
    }
    else
    {
        burstFrames = frames;
    }
    raise (maxCallbackBurstFrames, burstFrames);
    return period;
}

void CallbackStatistics::recordRender (int64_t renderMicros, uint64_t blockPeriodMicros) noexcept
{
    raise (maxRenderMicros, renderMicros);
    if (renderMicros > static_cast<int64_t> (blockPeriodMicros))
        callbackBudgetOverruns.fetch_add (1, std::memory_order_relaxed);
}

std::vector<int64_t> CallbackStatistics::recentGaps() const
{
    const auto count = callbacks.load();
    std::vector<int64_t> gaps;
    for (auto i = std::max<int64_t> (0, count - gapRingSize); i < count; ++i)
        gaps.push_back (gapRing[static_cast<size_t> (i % gapRingSize)].load (std::memory_order_relaxed));
    return gaps;
}
} // namespace vantrel
