#include "session/transport/TransportController.h"

#include "platform/ThreadContract.h"

#include <cassert>
#include <cmath>

namespace orvane::audio
{
TransportController::TransportController (CueState* cueStateToUse, IAudioCommandSink* sinkToUse)
    : cueState (cueStateToUse), sink (sinkToUse)
{
    assert (cueState != nullptr && sink != nullptr);
}

SinkAnswer TransportController::submit (const AudioCommand& command)
{
    return sink->submit (command) == SinkAnswer::accepted ? SinkAnswer::accepted : SinkAnswer::refused;
}

GoResult TransportController::go()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! cueState->ready)
        return { GoKind::noReady, SinkAnswer::nothingSent };

    // The start names READY as it was: the transition empties it on the copy.
    const std::string readyId = *cueState->ready;

    CueState next = *cueState;
    const GoKind kind = next.go();
    const auto commandKind = goCommandKind (kind);

    if (! commandKind)
        return { kind, SinkAnswer::nothingSent };

    const SinkAnswer answer = submit ({ *commandKind, readyId, 0.0, next.goCounter });

    if (answer == SinkAnswer::accepted)
        *cueState = next;

    return { kind, answer };
}

SinkAnswer TransportController::onMainFinished()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! cueState->main)
        return SinkAnswer::nothingSent;

    // The MAIN voice is already silent: its slot is free whatever happens next.
    cueState->clearMain();

    if (! cueState->outgoing)
        return SinkAnswer::nothingSent;

    const SinkAnswer answer = submit ({ AudioCommandKind::mainEnded, cueState->outgoing, 0.0, 0 });

    if (answer == SinkAnswer::accepted)
        cueState->clearOutgoing();

    return answer;
}

void TransportController::onOutgoingFinished()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    cueState->clearOutgoing();
}

SinkAnswer TransportController::togglePause()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (cueState->activeCount() == 0)
        return SinkAnswer::nothingSent;

    const SinkAnswer answer = submit ({ AudioCommandKind::togglePause, std::nullopt, 0.0, 0 });

    if (answer == SinkAnswer::accepted)
        cueState->paused = ! cueState->paused;

    return answer;
}

SinkAnswer TransportController::seekMain (double seconds)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! cueState->main || ! std::isfinite (seconds))
        return SinkAnswer::nothingSent;

    return submit ({ AudioCommandKind::seekMain, cueState->main, seconds, 0 });
}

SinkAnswer TransportController::stopMain()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! cueState->main)
        return SinkAnswer::nothingSent;

    const SinkAnswer answer = submit ({ AudioCommandKind::stopMain, cueState->main, 0.0, 0 });

    if (answer == SinkAnswer::accepted)
        cueState->clearMain();

    return answer;
}

SinkAnswer TransportController::stopOutgoing()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! cueState->outgoing)
        return SinkAnswer::nothingSent;

    const SinkAnswer answer = submit ({ AudioCommandKind::stopOutgoing, cueState->outgoing, 0.0, 0 });

    if (answer == SinkAnswer::accepted)
        cueState->clearOutgoing();

    return answer;
}
} // namespace orvane::audio
