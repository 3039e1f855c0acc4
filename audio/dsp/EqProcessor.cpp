#include "audio/dsp/EqProcessor.h"

#include <algorithm>

namespace orvane::audio
{
void EqProcessor::setCoefficients (const EqCoefficients& coefficients)
{
    current = coefficients;
    target = coefficients;
    state = {};
    incomingState = {};
    remaining = 0;
    hasPending = false;
    active = ! coefficients.isIdentity();
}

void EqProcessor::rampTo (const EqCoefficients& coefficients, int rampSamples)
{
    const auto& newest = hasPending ? pending : target;
    if (coefficients == newest)
        return;

    const auto length = static_cast<int32_t> (std::max (rampSamples, 1));

    if (remaining > 0)
    {
        pending = coefficients;
        pendingLength = length;
        hasPending = true;
        return;
    }

    startRamp (coefficients, length);
}

void EqProcessor::startRamp (const EqCoefficients& coefficients, int32_t length)
{
    target = coefficients;
    incomingState = state;   // the incoming filter takes over the outgoing one's memory
    remaining = length;
    rampLength = length;
    active = true;
}

void EqProcessor::finishRamp()
{
    current = target;
    state = incomingState;

    if (hasPending)
    {
        hasPending = false;
        if (pending != current)
        {
            startRamp (pending, pendingLength);
            return;
        }
    }

    if (current.isIdentity())
        deactivate();
}

void EqProcessor::deactivate()
{
    active = false;
    state = {};
    incomingState = {};
}
} // namespace orvane::audio
