#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace vantrel
{
/** Source and target sample rates a load accepts, inclusive. */
constexpr double minimumMediaRate = 8000.0;
constexpr double maximumMediaRate = 384000.0;

/** At most this many decoded samples (frames x channels) are held. */
constexpr std::uint64_t decodedSampleLimit = 0x8000000;

/** At most this many frames of prepared PCM. */
constexpr std::uint64_t preparedFrameLimit = 0x4000000;

/** Rates closer than this count as equal: no resampling. */
constexpr double sameRateTolerance = 0.001;

/** The cancel flag a load polls; set by another thread, never cleared during a load. */
using CancelFlag = const std::atomic<bool>*;

inline bool isUsableMediaRate (double rate)
{
    return std::isfinite (rate) && rate >= minimumMediaRate && rate <= maximumMediaRate;
}

inline bool isCancelled (CancelFlag cancel)
{
    return cancel != nullptr && cancel->load();
}

/** Milliseconds on the monotonic clock, for the phase times of a load. */
inline double monotonicMs()
{
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds> (
        std::chrono::steady_clock::now().time_since_epoch()).count();
    return (double) ticks / 1000000.0;
}

/** Raises a load failure carrying an operator-facing text. */
[[noreturn]] inline void failLoad (const char* text)
{
    throw std::runtime_error (text);
}
} // namespace vantrel
