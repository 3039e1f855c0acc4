#include "session/transport/PadController.h"

#include "platform/ThreadContract.h"

#include <cassert>
#include <utility>

namespace orvane::audio
{
PadController::PadController (PadTriggerState* stateToUse, IPadAudioCommandSink* sinkToUse)
    : state (stateToUse), sink (sinkToUse)
{
    assert (state != nullptr && sink != nullptr);
}

SinkAnswer PadController::submit (const PadAudioCommand& command)
{
    return sink->submit (command) == SinkAnswer::accepted ? SinkAnswer::accepted : SinkAnswer::refused;
}

PadTriggerResult PadController::triggerPad (int slot, bool hasAudio)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    PadTriggerState next = *state;
    const PadTriggerCode code = next.trigger (slot, hasAudio);
    const auto commandKind = padCommandKind (code);

    if (! commandKind)
        return { code, SinkAnswer::nothingSent };

    const SinkAnswer answer = submit ({ *commandKind, state->bank, slot });

    if (answer == SinkAnswer::accepted)
        *state = std::move (next);

    return { code, answer };
}

SinkAnswer PadController::stopAllPads()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (state->triggers.empty())
        return SinkAnswer::nothingSent;

    const SinkAnswer answer = submit ({ PadAudioCommandKind::stopAll, state->bank, 0 });

    if (answer == SinkAnswer::accepted)
        state->clear();

    return answer;
}

void PadController::onPadFinished (int bank, int slot)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    state->removeVoice (bank, slot);
}

bool PadController::selectBank (int bank)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return state->setBank (bank);
}
} // namespace orvane::audio
