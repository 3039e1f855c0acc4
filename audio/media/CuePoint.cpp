#include "audio/media/CuePoint.h"

#include <algorithm>
#include <cmath>

namespace orvane::audio
{
namespace
{
constexpr std::uint64_t checkpointInterval = 65536;

/** The window in frames; 0 when the arguments cannot give a search. */
std::uint64_t windowFrames (std::uint64_t frames, double sampleRate, const CueSearchSettings& settings, double& threshold)
{
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0 || frames == 0 || ! std::isfinite (settings.threshold)
        || ! std::isfinite (settings.window) || settings.window < 0.0)
        return 0;

    threshold = std::pow (10.0, settings.threshold / 20.0);
    const double span = settings.window * sampleRate / 1000.0;
    if (! std::isfinite (threshold) || threshold < 0.0 || ! (span <= (double) frames))
        return 0;

    const auto window = std::max<std::uint64_t> (1, (std::uint64_t) std::ceil (span));
    return window > frames ? 0 : window;
}

/** The sliding search over any frame-level function. */
template <typename IsLoud>
CuePoint search (std::uint64_t frames, std::uint64_t window, double sampleRate, IsLoud isLoud,
                 const std::function<void()>* checkpoint)
{
    std::uint64_t loudInWindow = 0;
    for (std::uint64_t i = 0; i < window; ++i)
        loudInWindow += isLoud (i) ? 1 : 0;

    const std::uint64_t last = frames - window;
    for (std::uint64_t i = 0; i <= last; ++i)
    {
        if (checkpoint != nullptr && i % checkpointInterval == 0)
            (*checkpoint)();

        if (isLoud (i) && 2 * loudInWindow >= window)
            return { i, (double) i / sampleRate, true };

        if (i < last)
            loudInWindow = loudInWindow + (isLoud (i + window) ? 1 : 0) - (isLoud (i) ? 1 : 0);
    }
    return {};
}
} // namespace

CuePoint findCuePoint (const float* interleaved, std::size_t sampleCount, int channels, double sampleRate,
                       const CueSearchSettings& settings)
{
    if (interleaved == nullptr || channels <= 0 || sampleCount == 0 || sampleCount % (std::size_t) channels != 0)
        return {};

    const std::uint64_t frames = sampleCount / (std::size_t) channels;
    double threshold = 0.0;
    const auto window = windowFrames (frames, sampleRate, settings, threshold);
    if (window == 0)
        return {};

    const auto isLoud = [interleaved, channels, threshold] (std::uint64_t frame)
    {
        const float* s = interleaved + frame * (std::uint64_t) channels;
        double level = 0.0;
        for (int c = 0; c < channels; ++c)
            level = std::max (level, std::abs ((double) s[c]));
        return level >= threshold;
    };
    return search (frames, window, sampleRate, isLoud, nullptr);
}

CueSearch::CueSearch (int channelCount, double rate, std::uint64_t totalFrames, const CueSearchSettings& settings,
                      std::uint64_t firstCandidate, std::uint64_t lastCandidateToLook)
    : channels (channelCount), sampleRate (rate), start (firstCandidate), next (firstCandidate),
      lastCandidate (lastCandidateToLook)
{
    if (channels <= 0)
        return;
    window = windowFrames (totalFrames, sampleRate, settings, threshold);
    if (window == 0)
        return;
    lastCandidate = std::min (lastCandidate, totalFrames - window);
    if (firstCandidate > lastCandidate)
        window = 0;
    else
    {
        needEnd = lastCandidate + window;
        loud.assign ((std::size_t) window, 0);
    }
}

void CueSearch::feed (const float* interleaved, std::uint64_t first, std::uint64_t frames)
{
    if (window == 0 || found.found || first + frames <= next || next >= needEnd)
        return;

    const std::uint64_t end = std::min (first + frames, needEnd);
    for (std::uint64_t j = std::max (next, first); j < end; ++j)
    {
        const float* s = interleaved + (j - first) * (std::uint64_t) channels;
        double level = 0.0;
        for (int c = 0; c < channels; ++c)
            level = std::max (level, std::abs ((double) s[c]));
        const auto slot = (std::size_t) (j % window);
        loudInWindow -= loud[slot];
        loud[slot] = level >= threshold ? 1 : 0;
        loudInWindow += loud[slot];
        next = j + 1;

        // frame j closes the window of candidate i = j - window + 1
        if (next >= start + window)
        {
            const std::uint64_t i = j + 1 - window;
            if (loud[(std::size_t) (i % window)] != 0 && 2 * loudInWindow >= window)
            {
                found = { i, (double) i / sampleRate, true };
                return;
            }
        }
    }
}

CuePoint findCuePoint (const float* left, const float* right, std::uint64_t frames, double sampleRate,
                       const CueSearchSettings& settings, const std::function<void()>& checkpoint)
{
    if (left == nullptr || right == nullptr)
        return {};

    double threshold = 0.0;
    const auto window = windowFrames (frames, sampleRate, settings, threshold);
    if (window == 0)
        return {};

    const auto isLoud = [left, right, threshold] (std::uint64_t frame)
    {
        return std::max (std::abs ((double) left[frame]), std::abs ((double) right[frame])) >= threshold;
    };
    return search (frames, window, sampleRate, isLoud, checkpoint ? &checkpoint : nullptr);
}
} // namespace orvane::audio
