#include "session/EqSettings.h"

#include <cmath>

namespace vantrel
{
namespace
{
    constexpr double inverseSqrt2 = 0.7071067811865476;

    EqBand makeBand (EqShape shape, double frequency, double q)
    {
        EqBand band;
        band.enabled = true;
        band.shape = static_cast<int> (shape);
        band.frequency = frequency;
        band.gainDb = 0.0;
        band.q = q;
        return band;
    }

    bool finiteIn (double value, double low, double high)
    {
        return std::isfinite (value) && value >= low && value <= high;
    }
} // namespace

EqSettings::EqSettings()
    : bands { makeBand (EqShape::lowShelf, 40.0, inverseSqrt2),
              makeBand (EqShape::bell, 100.0, 1.0),
              makeBand (EqShape::bell, 300.0, 1.0),
              makeBand (EqShape::bell, 700.0, 1.0),
              makeBand (EqShape::bell, 1800.0, 1.0),
              makeBand (EqShape::bell, 4000.0, 1.0),
              makeBand (EqShape::bell, 8000.0, 1.0),
              makeBand (EqShape::highShelf, 16000.0, inverseSqrt2) }
{
}

bool EqSettings::isValidBand (const EqBand& band)
{
    // The shape is checked as unsigned, so a negative code fails too.
    return static_cast<unsigned int> (band.shape) <= 4u
        && finiteIn (band.frequency, 20.0, 20000.0)
        && finiteIn (band.gainDb, -18.0, 18.0)
        && finiteIn (band.q, 0.1, 12.0);
}

bool EqSettings::isValid() const
{
    for (const auto& band : bands)
        if (! isValidBand (band))
            return false;

    return true;
}
} // namespace vantrel
