#include "audio/dsp/EqCoefficients.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace orvane::audio
{
namespace
{
    constexpr double pi = 3.141592653589793238462643383279502884;
    constexpr double minimumDesignRate = 8000.0;
    constexpr double designFrequencyLimit = 0.475;   // share of the rate
    constexpr double responseFrequencyLimit = 0.499; // share of the rate
    constexpr double magnitudeFloor = 1.0e-15;       // -300 dB

    /** Raw cookbook coefficients before the division by a0. */
    struct RawBiquad
    {
        double b0, b1, b2, a0, a1, a2;
    };

    RawBiquad rawBiquad (vantrel::EqShape shape, double w0, double gainDb, double q)
    {
        const double a = std::pow (10.0, gainDb / 40.0);
        const double c = std::cos (w0);
        const double alpha = std::sin (w0) / (2.0 * q);
        const double shelf = 2.0 * std::sqrt (a) * alpha;

        switch (shape)
        {
            case vantrel::EqShape::bell:
                return { 1.0 + alpha * a, -2.0 * c, 1.0 - alpha * a, 1.0 + alpha / a, -2.0 * c, 1.0 - alpha / a };

            case vantrel::EqShape::lowShelf:
                return { a * ((a + 1.0) - (a - 1.0) * c + shelf),
                         2.0 * a * ((a - 1.0) - (a + 1.0) * c),
                         a * ((a + 1.0) - (a - 1.0) * c - shelf),
                         (a + 1.0) + (a - 1.0) * c + shelf,
                         -2.0 * ((a - 1.0) + (a + 1.0) * c),
                         (a + 1.0) + (a - 1.0) * c - shelf };

            case vantrel::EqShape::highShelf:
                return { a * ((a + 1.0) + (a - 1.0) * c + shelf),
                         -2.0 * a * ((a - 1.0) + (a + 1.0) * c),
                         a * ((a + 1.0) + (a - 1.0) * c - shelf),
                         (a + 1.0) - (a - 1.0) * c + shelf,
                         2.0 * ((a - 1.0) - (a + 1.0) * c),
                         (a + 1.0) - (a - 1.0) * c - shelf };

            case vantrel::EqShape::highPass:
                return { (1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha };

            case vantrel::EqShape::lowPass:
                break;
        }

        return { (1.0 - c) / 2.0, 1.0 - c, (1.0 - c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha };
    }

    BiquadSection normalise (const RawBiquad& raw)
    {
        return { raw.b0 / raw.a0, raw.b1 / raw.a0, raw.b2 / raw.a0, raw.a1 / raw.a0, raw.a2 / raw.a0 };
    }

    /** Bell and shelves at exactly 0 dB are flat; the passes ignore the gain and are always built. */
    bool isFlat (const vantrel::EqBand& band)
    {
        const auto shape = static_cast<vantrel::EqShape> (band.shape);
        const bool gainShape = shape == vantrel::EqShape::bell || shape == vantrel::EqShape::lowShelf
                            || shape == vantrel::EqShape::highShelf;
        return gainShape && band.gainDb == 0.0;
    }

    double sectionMagnitude (const BiquadSection& s, std::complex<double> z)
    {
        const auto z2 = z * z;
        const auto numerator = s.b0 + s.b1 * z + s.b2 * z2;
        const auto denominator = 1.0 + s.a1 * z + s.a2 * z2;
        const double denominatorMagnitude = std::abs (denominator);

        if (! std::isfinite (denominatorMagnitude) || denominatorMagnitude == 0.0)
            return magnitudeFloor;

        const double magnitude = std::abs (numerator) / denominatorMagnitude;
        if (! std::isfinite (magnitude))
            return magnitudeFloor;

        return std::max (magnitude, magnitudeFloor);
    }
} // namespace

bool EqCoefficients::isIdentity() const
{
    return std::all_of (sections.begin(), sections.end(), [] (const BiquadSection& s) { return s.isIdentity(); });
}

double EqCoefficients::responseDb (double frequency, double sampleRate) const
{
    if (! (std::isfinite (sampleRate) && sampleRate >= 1.0))
        return 0.0;

    const double w = 2.0 * pi * std::min (frequency, responseFrequencyLimit * sampleRate) / sampleRate;
    const auto z = std::polar (1.0, -w);

    double sum = 0.0;
    for (const auto& section : sections)
        sum += 20.0 * std::log10 (sectionMagnitude (section, z));

    return sum;
}

EqCoefficients designEq (const vantrel::EqSettings& settings, double sampleRate)
{
    EqCoefficients result;

    if (! settings.enabled)
        return result;

    for (const auto& band : settings.bands)
        if (! vantrel::EqSettings::isValidBand (band))
            return result;

    if (! std::isfinite (sampleRate) || sampleRate < minimumDesignRate)
        return result;

    for (size_t i = 0; i < settings.bands.size(); ++i)
    {
        const auto& band = settings.bands[i];
        if (! band.enabled || isFlat (band))
            continue;

        const double f = std::min (band.frequency, designFrequencyLimit * sampleRate);
        const double w0 = 2.0 * pi * f / sampleRate;
        result.sections[i] = normalise (rawBiquad (static_cast<vantrel::EqShape> (band.shape), w0, band.gainDb, band.q));
    }

    return result;
}
} // namespace orvane::audio
