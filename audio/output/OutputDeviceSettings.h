#pragma once

#include <juce_core/juce_core.h>

#include <cmath>
#include <cstdint>

namespace vantrel
{
/** The operator's output choice, kept in "device.json". `id`, not the display name, selects the
    device: "JACK:" + the JACK client's name, or the ALSA PCM's own id. */
struct OutputDeviceSettings
{
    juce::String type;          // "JACK" or "ALSA"
    juce::String name;          // display name, as the framework lists it
    juce::String id;            // stable device identifier
    double sampleRate = 0.0;    // 0 leaves the choice to the opener
    int bufferSize = 0;         // 0 means the device's default
    int outputPair = 0;         // 0 = the first two output channels

    /** The three numbers are inside their ranges. */
    bool isValid() const
    {
        const bool rateOk = std::isfinite (sampleRate)
                            && (sampleRate == 0.0 || (sampleRate >= 8000.0 && sampleRate <= 384000.0));
        return rateOk && static_cast<uint32_t> (bufferSize) <= 65536u
                      && static_cast<uint32_t> (outputPair) <= 127u;
    }

    /** type, name and id are all present. */
    bool namesDevice() const  { return type.isNotEmpty() && name.isNotEmpty() && id.isNotEmpty(); }

    bool operator== (const OutputDeviceSettings& o) const
    {
        return type == o.type && name == o.name && id == o.id && sampleRate == o.sampleRate
               && bufferSize == o.bufferSize && outputPair == o.outputPair;
    }
    bool operator!= (const OutputDeviceSettings& o) const  { return ! operator== (o); }
};
} // namespace vantrel
