#pragma once

#include "session/transport/AudioCommand.h"
#include "session/transport/CueState.h"

namespace orvane::audio
{
/** Turns each transport operation into one AudioCommand and changes the cue
    state only when the sink accepts it, so the model never claims a track that
    the engine refused to start.

    Every operation works the same way: copy the cue state, run the transition
    on the copy, submit the command, and commit the copy only when it is
    accepted. Each returns a SinkAnswer: nothingSent, accepted or refused (any
    sink answer other than accepted is reported as refused). A refused command
    leaves the cue state exactly as it was.

    Message thread only: the copy-submit-commit order needs no lock because
    nothing else changes the cue state meanwhile; the sink passes the command on
    to the audio thread itself. Owns neither the cue state nor the sink; both
    must outlive the controller and neither may be null. */
class TransportController
{
public:
    TransportController (CueState* cueState, IAudioCommandSink* sink);

    /** GO: (noReady, nothingSent) without READY and (twoSounding,
        nothingSent) with two tracks sounding, sending nothing; otherwise
        submits the start (kind = goCommandKind of the GoKind, sourceKey = READY
        as it was before the GO, playToken = the fresh token) and reports
        (GoKind, answer). GO while paused drops the paused tracks and starts
        READY as MAIN (fromPause); it never resumes. */
    GoResult go();

    /** The MAIN voice reported the end of its track (the caller matched the
        token). MAIN is cleared at once; when OUTGOING sounds, it is stopped with
        the end-of-MAIN command and cleared on acceptance. Returns nothingSent
        when nothing was sent, also when MAIN was already free (a stale report
        never stops OUTGOING). */
    SinkAnswer onMainFinished();

    /** The OUTGOING voice reported its end: clears OUTGOING, sends nothing. */
    void onOutgoingFinished();

    /** Pauses or resumes everything that sounds; nothingSent when nothing
        sounds. */
    SinkAnswer togglePause();

    /** Moves MAIN's play position by a signed offset in seconds from where it
        is now (not to an absolute position). nothingSent without MAIN or for a
        non-finite offset; the cue state never changes. */
    SinkAnswer seekMain (double seconds);

    /** MAIN STOP: nothingSent without MAIN; clears MAIN on acceptance. */
    SinkAnswer stopMain();

    /** OUT STOP: nothingSent without OUTGOING; clears OUTGOING on acceptance. */
    SinkAnswer stopOutgoing();

private:
    SinkAnswer submit (const AudioCommand& command);

    CueState* cueState;
    IAudioCommandSink* sink;
};
} // namespace orvane::audio
