#pragma once

// Realtime-safe on the audio thread (no allocation, no lock, no system call):
//   EqProcessor::process, EqProcessor::setCoefficients, EqProcessor::rampTo,
//   EqProcessor::isActive, EqProcessor::isRamping and the accessors.
// The coefficients come from designEq (EqCoefficients.h), which runs on the message thread.

#include "audio/dsp/EqCoefficients.h"

#include <cmath>
#include <cstdint>

namespace orvane::audio
{
/** Runs the eight sections of an EQ on a stereo stream, Direct Form I in double precision,
    with click-free coefficient changes. Inactive (pass-through, zero state) while its
    coefficients are the identity. One instance belongs to one stream and one thread at a time.

    A smoothed change (rampTo) runs the outgoing and the incoming filter side by side on the same
    input, the incoming one starting from the outgoing one's memory, and crossfades their outputs
    linearly over the ramp. Moving the coefficients themselves in a straight line would not be
    click-free: the response of a section whose poles lie near z = 1 (every bass shelf or bell)
    changes almost entirely within the first or last few samples of such a ramp. */
class EqProcessor
{
public:
    EqProcessor() = default;

    /** Immediate change: the coefficients apply from the next sample, the filter state is
        cleared, any ramp (and any change waiting behind it) is dropped. Active unless the
        coefficients are the identity. */
    void setCoefficients (const EqCoefficients& coefficients);

    /** Smoothed change over max(rampSamples, 1) samples, keeping the filter state. A target equal
        to the newest one already asked for changes nothing (a running ramp continues). While a
        ramp runs, a new target waits until it ends and then ramps in turn; a newer one replaces
        a waiting one. */
    void rampTo (const EqCoefficients& coefficients, int rampSamples);

    /** Forgets the signal heard so far (the filter memory, also of a running ramp's incoming
        filter); the coefficients and any ramp stay. */
    void clearState()
    {
        state = {};
        incomingState = {};
    }

    /** One stereo sample in place. An inactive processor leaves the samples untouched. */
    void process (double& left, double& right)
    {
        if (! active)
            return;

        if (remaining > 0)
        {
            crossfade (left, right);
            return;
        }

        runSections (current, state, left, right);
    }

    bool isActive() const  { return active; }
    bool isRamping() const  { return remaining > 0; }
    /** True while a change waits for the running ramp to end. */
    bool hasWaitingChange() const  { return hasPending; }
    int32_t remainingRampSamples() const  { return remaining; }
    /** The coefficients that sound when no ramp runs (during a ramp: the outgoing ones). */
    const EqCoefficients& currentCoefficients() const  { return current; }
    /** The coefficients a running ramp leads to (without a ramp: the current ones). */
    const EqCoefficients& targetCoefficients() const  { return target; }

private:
    /** The filter memory of one section for one channel. */
    struct ChannelState
    {
        double x1 = 0.0;
        double x2 = 0.0;
        double y1 = 0.0;
        double y2 = 0.0;
    };

    struct SectionState
    {
        ChannelState left;
        ChannelState right;
    };

    using State = std::array<SectionState, EqCoefficients::numSections>;

    static constexpr double denormalFloor = 1.0e-30;

    static double runSection (const BiquadSection& c, ChannelState& s, double x)
    {
        double y = c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a1 * s.y1 - c.a2 * s.y2;

        if (! std::isfinite (y))
        {
            // One bad value must not latch the filter: restart this channel of this section.
            s = ChannelState {};
            s.x1 = x;
            return 0.0;
        }

        if (std::abs (y) < denormalFloor)
            y = 0.0;

        s.x2 = s.x1;
        s.x1 = x;
        s.y2 = s.y1;
        s.y1 = y;
        return y;
    }

    static void runSections (const EqCoefficients& coefficients, State& memory, double& left, double& right)
    {
        for (size_t i = 0; i < (size_t) EqCoefficients::numSections; ++i)
        {
            const auto& c = coefficients.sections[i];
            auto& s = memory[i];
            left = runSection (c, s.left, left);
            right = runSection (c, s.right, right);
        }
    }

    void crossfade (double& left, double& right)
    {
        double incomingLeft = left, incomingRight = right;
        runSections (current, state, left, right);
        runSections (target, incomingState, incomingLeft, incomingRight);

        --remaining;
        const double share = 1.0 - (double) remaining / (double) rampLength;   // 1 at the last sample
        left += (incomingLeft - left) * share;
        right += (incomingRight - right) * share;

        if (remaining == 0)
            finishRamp();
    }

    void startRamp (const EqCoefficients& coefficients, int32_t length);
    void finishRamp();
    void deactivate();

    EqCoefficients current;           // sounding (outgoing during a ramp)
    EqCoefficients target;            // incoming during a ramp
    EqCoefficients pending;           // waits for the running ramp to end
    State state {};                   // memory of the current filter
    State incomingState {};           // memory of the incoming filter during a ramp
    int32_t remaining = 0;
    int32_t rampLength = 1;
    int32_t pendingLength = 1;
    bool active = false;
    bool hasPending = false;
};
} // namespace orvane::audio
