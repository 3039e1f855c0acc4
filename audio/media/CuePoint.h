#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

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
/** The same search over interleaved audio that arrives in pieces, in order: it keeps only the
    last window's levels. It looks at the start candidates [firstCandidate, lastCandidate]
    (a frame is a candidate when it could open the window) and is fed the frames from
    firstCandidate on; two searches over adjoining candidate ranges together give the whole
    search (the first one's point when it found one). Any thread, one at a time. */
class CueSearch
{
public:
    CueSearch (int channels, double sampleRate, std::uint64_t totalFrames, const CueSearchSettings& settings,
               std::uint64_t firstCandidate, std::uint64_t lastCandidate);

    /** Frames [first, first + frames) with first the next frame the search needs (the frames
        before it are skipped). */
    void feed (const float* interleaved, std::uint64_t first, std::uint64_t frames);

    /** The frames the search needs: [firstNeeded, framesNeeded); an empty range when there is
        nothing to search. */
    std::uint64_t firstNeeded() const noexcept   { return needEnd > 0 ? start : needEnd; }
    std::uint64_t framesNeeded() const noexcept  { return needEnd; }

    const CuePoint& result() const noexcept  { return found; }

private:
    int channels;
    double sampleRate;
    double threshold = 0.0;
    std::uint64_t window = 0;        // 0: no search
    std::uint64_t start;             // the first candidate
    std::uint64_t next;              // the next frame to take in
    std::uint64_t lastCandidate;
    std::uint64_t needEnd = 0;
    std::uint64_t loudInWindow = 0;
    std::vector<std::uint8_t> loud;  // the levels of the last window's frames, by frame % window
    CuePoint found;
};
} // namespace orvane::audio
