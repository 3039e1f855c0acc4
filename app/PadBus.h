#pragma once

#include "audio/output/JuceAudioAdapter.h"

namespace vantrel
{
/** The pads' own bus as the coordinator shows it: PAD MUTE and the pad bus gain, each handed to
    the engine when it changes. Pad triggers and pad slots are not its business. Message thread
    only. */
class PadBus
{
public:
    explicit PadBus (JuceAudioAdapter& audio) noexcept : audio (audio) {}

    PadBus (const PadBus&) = delete;
    PadBus& operator= (const PadBus&) = delete;

    void setMute (bool on);
    /** gainDb is clamped to the gain range first. */
    void setGain (float gainDb);

    bool isMuted() const noexcept  { return mute; }
    float gain() const noexcept  { return gainDb; }

private:
    JuceAudioAdapter& audio;
    bool mute = false;
    float gainDb = 0.0f;
};
} // namespace vantrel
