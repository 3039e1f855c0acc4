#include "audio/dsp/AnalyzerTap.h"

#include "platform/ThreadContract.h"

namespace orvane::audio
{
std::intptr_t AnalyzerTap::beginBlock (double sampleRate)
{
    VANTREL_ASSERT_AUDIO_THREAD;
    const auto selection = sourceSelection();

    if (selection != collecting.sourceTag || sampleRate != collecting.sampleRate)
        restart (selection, sampleRate);

    return selection;
}

void AnalyzerTap::restart (std::intptr_t sourceTag, double sampleRate)
{
    collecting.sourceTag = sourceTag;
    collecting.sampleRate = sampleRate;
    position = 0;
}

void AnalyzerTap::completeFrame()
{
    collecting.serial = static_cast<int64_t> (++serialCounter);
    position = 0;

    const auto write = writeIndex.load (std::memory_order_relaxed);
    const auto next = (write + 1) % ringSize;

    if (next == readIndex.load (std::memory_order_acquire))
    {
        overflow.fetch_add (1, std::memory_order_relaxed);
        return;
    }

    ring[write] = collecting;                                 // the copy completes before ...
    writeIndex.store (next, std::memory_order_release);       // ... the frame is published
}

bool AnalyzerTap::pop (AnalyzerFrame& out)
{
    const auto read = readIndex.load (std::memory_order_relaxed);

    if (read == writeIndex.load (std::memory_order_acquire))
        return false;

    out = ring[read];                                         // copied out before the slot is freed
    readIndex.store ((read + 1) % ringSize, std::memory_order_release);
    return true;
}
} // namespace orvane::audio
