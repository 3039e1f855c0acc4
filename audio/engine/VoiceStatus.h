#pragma once

#include <cstdint>

namespace orvane::audio
{
/** What the engine publishes about one voice. All zero means "no consistent
    reading" as well as "idle". */
struct VoiceStatus
{
    std::int64_t playToken = 0;
    std::int64_t position = 0;   // frames
    bool playing = false;
    bool paused = false;         // voices 0 and 1 only, while the track pause is on
    bool reachedEnd = false;

    bool operator== (const VoiceStatus& other) const
    {
        return playToken == other.playToken && position == other.position && playing == other.playing
            && paused == other.paused && reachedEnd == other.reachedEnd;
    }
    bool operator!= (const VoiceStatus& other) const  { return ! operator== (other); }
};
} // namespace orvane::audio
