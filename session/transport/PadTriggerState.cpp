#include "session/transport/PadTriggerState.h"

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
    triggers.erase (std::remove_if (triggers.begin(), triggers.end(),
                                    [&] (const PadTrigger& entry)
                                    { return entry.bank == bankOfPad && entry.slot == slot; }),
                    triggers.end());
}

void PadTriggerState::clear()
{
    triggers.clear();
}

bool PadTriggerState::setBank (int newBank)
{
    if (! inRange (newBank, numBanks))
        return false;

    bank = newBank;
    return true;
}
} // namespace orvane::audio
