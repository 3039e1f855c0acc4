#include "app/MasterLevels.h"

#include "session/CatalogValidation.h"

#include <cmath>

namespace vantrel
{
void MasterLevels::applyAtStart (bool limiterOn)
{
    limiterEnabled = limiterOn;
    audio.setLimiterEnabled (limiterEnabled);
    audio.setLimiterThresholdDb (limiterThresholdDb);
    audio.setLimiterCeilingDb (limiterCeilingDb);
    audio.setLimiterReleaseMs (limiterReleaseMs);
    audio.setLimiterDriveDb (limiterDriveDb);
}

void MasterLevels::setMasterGain (float gainDb)
{
    audio.setMasterGainDb (clampGainDb (gainDb));
    masterGainDb = audio.masterGainDb();
}

void MasterLevels::setLimiterParameter (int which, float value)
{
    if (! std::isfinite (value))
        return;
    // The stage clamps; the mirror keeps what it kept.
    switch (which)
    {
        case 0:
            audio.setLimiterThresholdDb (value);
            limiterThresholdDb = audio.limiterThresholdDb();
            break;
        case 1:
            audio.setLimiterCeilingDb (value);
            limiterCeilingDb = audio.limiterCeilingDb();
            break;
        case 2:
            audio.setLimiterReleaseMs (value);
            limiterReleaseMs = audio.limiterReleaseMs();
            break;
        case 3:
            audio.setLimiterDriveDb (value);
            limiterDriveDb = audio.limiterDriveDb();
            break;
        default:
            break;
    }
}

void MasterLevels::setLimiterEnabled (bool on)
{
    limiterEnabled = on;
    audio.setLimiterEnabled (on);
}
} // namespace vantrel
