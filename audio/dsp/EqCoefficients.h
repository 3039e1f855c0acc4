#pragma once

// Threads: designEq and EqCoefficients::responseDb run on the message thread (the adapter and
// the EQ window's curve). They do not allocate either, but they are not meant for the audio
// thread. EqCoefficients itself is a plain, trivially copyable value that engine commands carry
// by value; copying and comparing it is realtime-safe. The realtime-safe filter is EqProcessor
// (EqProcessor.h).

#include "session/EqSettings.h"

#include <array>

namespace orvane::audio
{
/** One biquad section, normalised so that a0 = 1. */
struct BiquadSection
{
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;

    bool isIdentity() const  { return b0 == 1.0 && b1 == 0.0 && b2 == 0.0 && a1 == 0.0 && a2 == 0.0; }

    /** True when all five values are equal (a NaN is never equal). */
    bool operator== (const BiquadSection& other) const
    {
        return b0 == other.b0 && b1 == other.b1 && b2 == other.b2 && a1 == other.a1 && a2 == other.a2;
    }
    bool operator!= (const BiquadSection& other) const  { return ! operator== (other); }
};

/** The eight biquad sections of an 8-band EQ, in band order, designed for one sample rate.
    A default-constructed value is the identity (every section passes the signal unchanged). */
struct EqCoefficients
{
    static constexpr int numSections = vantrel::EqSettings::numBands;

    std::array<BiquadSection, numSections> sections {};

    static EqCoefficients identity()  { return {}; }

    bool isIdentity() const;

    /** The summed magnitude response of the eight sections in dB at the given frequency,
        limited to 0.499 x sampleRate. A rate below 1 (or not finite) gives 0 dB; a section whose
        value cannot be formed counts as -300 dB. Message thread (the EQ curve). */
    double responseDb (double frequency, double sampleRate) const;

    /** True when all 40 values are equal (a NaN is never equal). */
    bool operator== (const EqCoefficients& other) const  { return sections == other.sections; }
    bool operator!= (const EqCoefficients& other) const  { return ! operator== (other); }
};

/** Designs the eight sections of an EQ for a sample rate (RBJ cookbook filters, alpha from Q
    for every shape, frequencies limited to 0.475 x sampleRate). A disabled EQ, any band out of
    range (enabled or not) or a rate that is not finite or below 8000 Hz gives the identity.
    Message thread; any thread on values the caller owns. */
EqCoefficients designEq (const vantrel::EqSettings& settings, double sampleRate);
} // namespace orvane::audio
