#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orvane::audio
{
/** What counts as the start of a track: a level threshold and the window that must be at
    least half loud. */
struct CueSearchSettings
{
    double threshold = -50.0;   // dBFS
    double window = 5.0;        // milliseconds
};

/** Where a track starts: the first loud frame, at the rate of the audio searched. */
struct CuePoint
{
    std::uint64_t frame = 0;
    double seconds = 0.0;
    bool found = false;
};

/** The first frame whose largest channel magnitude reaches the threshold and that opens a
    window of E = max(1, ceil(window x rate / 1000)) frames of which at least half are loud,
    in interleaved samples. Not found for unusable arguments (no channels, a rate that is not
    finite and positive, a sample count that is not a positive multiple of channels, a
    threshold or window that is not finite, a negative window), when the window is longer
    than the audio, or when no frame qualifies. One pass with a sliding count. Any thread. */
CuePoint findCuePoint (const float* interleaved, std::size_t sampleCount, int channels, double sampleRate,
                       const CueSearchSettings& settings);

/** The same search over planar audio (a frame's level is max(|left|, |right|); pass left as
    right for mono). checkpoint runs before every frame whose index is a multiple of 65536
    and may throw to abandon the search. */
CuePoint findCuePoint (const float* left, const float* right, std::uint64_t frames, double sampleRate,
                       const CueSearchSettings& settings, const std::function<void()>& checkpoint);
} // namespace orvane::audio
