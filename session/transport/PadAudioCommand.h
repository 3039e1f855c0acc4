#pragma once

#include "session/transport/AudioCommand.h"

namespace orvane::audio
{
/** The kinds of PadAudioCommand. */
enum class PadAudioCommandKind : int
{
    start = 0,   // start a pad that is not sounding
    restart = 1, // restart a pad that is sounding
    stopAll = 2  // stop every sounding pad, of every bank
};

/** One pad command for the audio-device adapter: a small value. bank is the
    current bank (1..5); pad is 1..9 within it, 0 for stopAll. */
struct PadAudioCommand
{
    PadAudioCommandKind kind = PadAudioCommandKind::start;
    int bank = 1;
    int pad = 0;

    bool operator== (const PadAudioCommand& other) const
    {
        return kind == other.kind && bank == other.bank && pad == other.pad;
    }
    bool operator!= (const PadAudioCommand& other) const  { return ! operator== (other); }
};

/** Where the pad controller sends its commands (the audio-device adapter's pad
    side). Message thread only. */
class IPadAudioCommandSink
{
public:
    virtual ~IPadAudioCommandSink() = default;

    /** Message thread only. Answers accepted or refused; every answer but
        accepted counts as a refusal. */
    virtual SinkAnswer submit (const PadAudioCommand& command) = 0;
};
} // namespace orvane::audio
