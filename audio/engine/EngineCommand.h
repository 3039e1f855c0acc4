#pragma once

#include "audio/dsp/EqCoefficients.h"
#include "audio/media/MediaRecords.h"

#include <cstdint>
#include <type_traits>

namespace orvane::audio
{
/** The kinds of EngineCommand. Kinds 0..3 always act on MAIN (voice 1) and
    OUTGOING (voice 0), whatever the voice field says. A value outside the
    enumerators changes nothing but the applied serial. */
enum class EngineCommandKind : std::int32_t
{
    goFromSilence = 0,         // MAIN copied whole into OUTGOING, then MAIN starts; pause off
    goHandOver = 1,            // the same effect as 0
    goBesideOutgoing = 2,      // MAIN starts; OUTGOING untouched; pause off
    goFromPause = 3,           // MAIN copied into OUTGOING and stopped there, then MAIN starts; pause off
    startTrackVoice = 4,       // the voice starts (the adapter's kind for track voices)
    startPadVoice = 5,         // the voice starts (the adapter's kind for pads)
    stopVoice = 6,
    stopAllPads = 7,
    togglePause = 8,
    seek = 9,                  // frames is a signed offset from the voice's position
    setVoiceGain = 10,         // token 0 means any start of the voice
    setTrackEq = 11,           // voices 0 and 1 only; token rule as setVoiceGain; rate 0 or the engine rate
    setPlaylistBus = 12,       // PLAYLIST EQ and playlist-bus gain; engine rate only
    setMasterEq = 13           // MASTER EQ; engine rate only
};

/** One command for the mix engine: a plain value copied by value into the
    engine's ring. The default value is the inert command every ring slot holds
    at construction (stop MAIN, identity EQ). */
struct EngineCommand
{
    EngineCommandKind kind = EngineCommandKind::stopVoice;
    const vantrel::PreparedPcm* pcm = nullptr; // kept alive by the adapter until a later command was applied
    std::int64_t playToken = 0;                // for setVoiceGain and setTrackEq, 0 means any
    std::uint64_t serial = 0;                  // written by MixEngine::push
    std::int64_t frames = 0;                   // start frame (kinds 0..5) or relative offset (seek)
    std::int32_t voice = 1;                    // 0..46
    float gainDb = 0.0f;                       // voice gain (starts, setVoiceGain) or playlist-bus gain (setPlaylistBus)
    bool stopOutgoingAtEnd = true;
    EqCoefficients coefficients;               // TRACK EQ (starts, setTrackEq), PLAYLIST EQ (setPlaylistBus), MASTER EQ (setMasterEq)
    EqCoefficients playlistCoefficients;       // PLAYLIST EQ carried by starts of track voices
    float playlistGainDb = 0.0f;               // playlist-bus gain carried by starts of track voices
    double sampleRate = 0.0;                   // the rate the coefficients were designed for
};

// The ring copies commands by value on the audio thread: no user-written copy, no destructor.
static_assert (std::is_trivially_copyable_v<EngineCommand>, "EngineCommand must stay trivially copyable");
} // namespace orvane::audio
