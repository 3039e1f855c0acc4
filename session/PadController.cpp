#include "session/PadController.h"

#include <cassert>
#include <utility>

namespace orvane::audio
{
PadController::PadController (PadTriggerState* stateToUse, IPadAudioCommandSink* sinkToUse)
    : state (stateToUse), sink (sinkToUse)
{
    assert (state != nullptr && sink != nullptr);
}

int PadController::submit (const PadAudioCommand& command)
{
    return sink->submit (command) == SinkAnswer::accepted ? SinkAnswer::accepted : SinkAnswer::refused;
}

PadTriggerResult PadController::triggerPad (int slot, bool hasAudio)
{
    PadTriggerState next = *state;
    const int code = next.trigger (slot, hasAudio);

    if (code == PadTriggerCode::invalid || code == PadTriggerCode::noAudio)
        return { code, SinkAnswer::nothingSent };

    // The trigger codes 0 and 1 are the command kinds start and restart.
    const int answer = submit ({ code, state->bank, slot });

    if (answer == SinkAnswer::accepted)
        *state = std::move (next);

    return { code, answer };
}

int PadController::stopAllPads()
{
    if (state->triggers.empty())
        return SinkAnswer::nothingSent;

    const int answer = submit ({ PadAudioCommandKind::stopAll, state->bank, 0 });

    if (answer == SinkAnswer::accepted)
        state->clear();

    return answer;
}

void PadController::onPadFinished (int bank, int slot)
{
    state->removeVoice (bank, slot);
}

bool PadController::selectBank (int bank)
{
    return state->setBank (bank);
}
} // namespace orvane::audio
