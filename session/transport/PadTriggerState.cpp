#include "session/transport/PadTriggerState.h"

#include "platform/ThreadContract.h"

#include <algorithm>

namespace orvane::audio
{
namespace
{
    bool inRange (int value, int last)
    {
        return value >= 1 && value <= last;
    }
} // namespace

PadTriggerCode PadTriggerState::trigger (int slot, bool hasAudio)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! inRange (bank, numBanks) || ! inRange (slot, padsPerBank))
        return PadTriggerCode::invalid;

    if (! hasAudio)
        return PadTriggerCode::noAudio;

    for (auto& entry : triggers)
    {
        if (entry.bank == bank && entry.slot == slot)
        {
            ++entry.retriggers;
            return PadTriggerCode::retriggered;
        }
    }

    triggers.push_back ({ bank, slot, 0 });
    return PadTriggerCode::started;
}

void PadTriggerState::removeVoice (int bankOfPad, int slot)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    triggers.erase (std::remove_if (triggers.begin(), triggers.end(),
                                    [&] (const PadTrigger& entry)
                                    { return entry.bank == bankOfPad && entry.slot == slot; }),
                    triggers.end());
}

void PadTriggerState::clear()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    triggers.clear();
}

bool PadTriggerState::setBank (int newBank)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! inRange (newBank, numBanks))
        return false;

    bank = newBank;
    return true;
}
} // namespace orvane::audio
