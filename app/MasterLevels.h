#pragma once

#include "audio/output/JuceAudioAdapter.h"

#include <array>

namespace vantrel
{
/** The master output's engine settings as the coordinator shows them: the master gain, the
    limiter's switch and its four values. Each setter hands the value to the adapter's master
    stage, which clamps it, and keeps what the stage kept. LIVE LOCK and saving stay the
    coordinator's. Message thread only. */
class MasterLevels
{
public:
    explicit MasterLevels (JuceAudioAdapter& audio) noexcept : audio (audio) {}

    MasterLevels (const MasterLevels&) = delete;
    MasterLevels& operator= (const MasterLevels&) = delete;

    /** Hands every value to the stage: the switch as the saved state has it, the defaults of
        the four values. Before the device opens. */
    void applyAtStart (bool limiterOn);

    /** gainDb is clamped to the gain range first. */
    void setMasterGain (float gainDb);
    /** which: 0 threshold, 1 ceiling, 2 release, 3 drive; other values and non-finite ones
        change nothing. */
    void setLimiterParameter (int which, float value);
    void setLimiterEnabled (bool on);

    float masterGain() const noexcept  { return masterGainDb; }
    bool isLimiterOn() const noexcept  { return limiterEnabled; }
    /** Threshold, ceiling, release and drive, in setLimiterParameter's order. */
    std::array<float, 4> limiterValues() const noexcept
    {
        return { limiterThresholdDb, limiterCeilingDb, limiterReleaseMs, limiterDriveDb };
    }

private:
    JuceAudioAdapter& audio;
    bool limiterEnabled = true;
    float masterGainDb = 0.0f;
    float limiterThresholdDb = -3.0f;
    float limiterCeilingDb = -0.5f;
    float limiterReleaseMs = 120.0f;
    float limiterDriveDb = 0.0f;
};
} // namespace vantrel
