#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvane::audio
{
/** What a controller operation reports about its command: nothing was sent,
    or the sink's answer. A sink answers accepted or refused; the controllers
    report any other answer as refused. */
enum class SinkAnswer : int
{
    nothingSent = 0,
    accepted = 1,
    refused = 2
};

/** The kinds of AudioCommand. The GO kinds 0..5 equal the GoKind that
    produced them (goCommandKind in CueState.h). */
enum class AudioCommandKind : int
{
    goFromSilence = 0,     // nothing sounds: READY starts as MAIN
    goHandOver = 1,        // MAIN moves to OUTGOING (keeps sounding), READY starts as MAIN
    goBesideOutgoing = 2,  // only OUTGOING sounds: READY starts as MAIN beside it
    goRestartMain = 3,     // READY is the MAIN row: MAIN restarts in place
    goRestartOutgoing = 4, // READY is the OUTGOING row: OUTGOING restarts in place
    goFromPause = 5,       // paused: the paused tracks are dropped, READY starts as MAIN
    stopMain = 6,
    stopOutgoing = 7,
    mainEnded = 8,         // MAIN ended by itself: stop OUTGOING
    togglePause = 9,       // pause or resume everything that sounds
    seekMain = 10          // move MAIN's play position by a relative offset
};

/** One transport command for the audio-device adapter: a small value, copied
    freely.

    sourceKey is the row id the command concerns (READY for the GO kinds, MAIN
    for stop-MAIN and seek, OUTGOING for stop-OUTGOING and end-of-MAIN, none for
    pause). seconds is used by the seek only and is a signed offset from MAIN's
    current play position (negative moves back), never an absolute target; it is
    0 for every other kind. playToken is the fresh token of a start (GO kinds),
    0 otherwise. */
struct AudioCommand
{
    AudioCommandKind kind = AudioCommandKind::goFromSilence;
    std::optional<std::string> sourceKey;
    double seconds = 0.0;
    std::int64_t playToken = 0;

    bool operator== (const AudioCommand& other) const
    {
        return kind == other.kind && sourceKey == other.sourceKey && seconds == other.seconds
            && playToken == other.playToken;
    }
    bool operator!= (const AudioCommand& other) const  { return ! operator== (other); }
};

/** Where the transport controller sends its commands (the audio-device
    adapter). Message thread only: submit is called on the message thread and
    hands the command on to the audio thread itself. */
class IAudioCommandSink
{
public:
    virtual ~IAudioCommandSink() = default;

    /** Message thread only. Answers accepted or refused; every answer but
        accepted counts as a refusal. */
    virtual SinkAnswer submit (const AudioCommand& command) = 0;
};
} // namespace orvane::audio
