#include "app/PadBus.h"

#include "session/CatalogValidation.h"

namespace vantrel
{
void PadBus::setMute (bool on)
{
    mute = on;
    audio.setPadMute (on);
}

void PadBus::setGain (float newGainDb)
{
    gainDb = clampGainDb (newGainDb);
    audio.setPadBusGainDb (gainDb);
}
} // namespace vantrel
