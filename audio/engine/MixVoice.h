#pragma once

#include "audio/dsp/EqProcessor.h"
#include "audio/media/MediaRecords.h"

#include <cstdint>

namespace orvane::audio
{
/** One voice of the mix engine. Copied whole (EQ state included) when MAIN
    hands over to OUTGOING. Audio thread only once the engine runs. */
struct MixVoice
{
    const vantrel::PreparedPcm* pcm = nullptr; // not owned; the adapter keeps it alive
    std::int64_t playToken = 0;
    std::int64_t position = 0;                 // next frame to play
    bool playing = false;
    bool reachedEnd = false;
    bool stopOutgoingAtEnd = true;
    float gain = 1.0f;                         // linear, current
    float targetGain = 1.0f;                   // linear
    EqProcessor trackEq;                       // TRACK EQ; used by voices 0 and 1 only

    std::int64_t length() const noexcept  { return pcm != nullptr ? (std::int64_t) pcm->left.size() : 0; }
};
} // namespace orvane::audio
