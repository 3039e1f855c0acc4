#pragma once

#include "session/transport/PadAudioCommand.h"
#include "session/transport/PadTriggerState.h"

namespace orvane::audio
{
/** What PadController::triggerPad reports: the PadTriggerCode and the
    SinkAnswer (nothingSent, accepted or refused). */
struct PadTriggerResult
{
    PadTriggerCode code = PadTriggerCode::invalid;
    SinkAnswer answer = SinkAnswer::nothingSent;

    bool operator== (const PadTriggerResult& other) const  { return code == other.code && answer == other.answer; }
    bool operator!= (const PadTriggerResult& other) const  { return ! operator== (other); }
};

/** Turns a pad press and PAD STOP into one PadAudioCommand and changes the pad
    state only when the sink accepts it: a refused first press leaves no entry,
    a refused retrigger leaves the count as it was. Any sink answer other than
    accepted is reported as refused.

    Message thread only. Owns neither the state nor the sink; both must outlive
    the controller and neither may be null. */
class PadController
{
public:
    PadController (PadTriggerState* state, IPadAudioCommandSink* sink);

    /** A press of pad slot (1..9) of the current bank. hasAudio: the slot has an
        audio file assigned. invalid and noAudio send nothing; started sends a
        start and retriggered a restart (bank = current bank, pad = slot). */
    PadTriggerResult triggerPad (int slot, bool hasAudio);

    /** PAD STOP: stops every sounding pad of every bank. nothingSent when none
        sounds; the list is emptied on acceptance. */
    SinkAnswer stopAllPads();

    /** A pad voice reported the end of its sound; the bank may differ from the
        current one. Sends nothing. */
    void onPadFinished (int bank, int slot);

    /** Switches the current bank (false outside 1..5). Sends nothing: pads of
        the previous bank keep sounding and keep their entries. */
    bool selectBank (int bank);

private:
    SinkAnswer submit (const PadAudioCommand& command);

    PadTriggerState* state;
    IPadAudioCommandSink* sink;
};
} // namespace orvane::audio
