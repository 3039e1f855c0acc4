#include "support/SignalMeasures.h"

#include "audio/dsp/EqCoefficients.h"

#include <gtest/gtest.h>

#include <complex>
#include <limits>

using namespace orvane::audio;
using namespace orvane::audio::testing;
using vantrel::EqBand;
using vantrel::EqSettings;
using vantrel::EqShape;

namespace
{
/** An enabled EQ whose only active band is the given one (every other band a 0 dB bell). */
EqSettings singleBand (EqShape shape, double frequency, double gainDb, double q, size_t index = 3)
{
    EqSettings eq;
    eq.enabled = true;
    for (auto& band : eq.bands)
    {
        band.shape = (int) EqShape::bell;
        band.gainDb = 0.0;
    }
    eq.bands[index] = EqBand { true, (int) shape, frequency, gainDb, q };
    return eq;
}

/** The analogue prototype of each shape, evaluated at s = j x omega (omega relative to the
    band's frequency), after the bilinear transform's frequency warping: the cookbook filters
    are exactly these prototypes mapped with s = (1 - 1/z) / ((1 + 1/z) tan(w0 / 2)). */
double analyticDb (EqShape shape, double frequency, double gainDb, double q, double at, double rate)
{
    const double f0 = std::min (frequency, 0.475 * rate);
    const double omega = std::tan (pi * at / rate) / std::tan (pi * f0 / rate);
    const std::complex<double> s (0.0, omega);
    const double a = std::pow (10.0, gainDb / 40.0);
    const double ra = std::sqrt (a);

    std::complex<double> h;
    switch (shape)
    {
        case EqShape::bell:      h = (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0); break;
        case EqShape::lowShelf:  h = a * (s * s + s * (ra / q) + a) / (a * s * s + s * (ra / q) + 1.0); break;
        case EqShape::highShelf: h = a * (a * s * s + s * (ra / q) + 1.0) / (s * s + s * (ra / q) + a); break;
        case EqShape::highPass:  h = (s * s) / (s * s + s / q + 1.0); break;
        case EqShape::lowPass:   h = 1.0 / (s * s + s / q + 1.0); break;
    }
    return 20.0 * std::log10 (std::max (std::abs (h), 1.0e-15));
}

std::vector<double> logFrequencies (double rate, int count)
{
    std::vector<double> out;
    const double top = 0.49 * rate;
    for (int i = 0; i < count; ++i)
        out.push_back (10.0 * std::pow (top / 10.0, (double) i / (count - 1)));
    return out;
}
} // namespace

TEST (EqDesign, EveryShapeMatchesItsAnalogPrototypeAtEveryRate)
{
    const EqShape shapes[] = { EqShape::bell, EqShape::lowShelf, EqShape::highShelf, EqShape::highPass, EqShape::lowPass };
    const double frequencies[] = { 20.0, 100.0, 1000.0, 5000.0, 16000.0, 20000.0 };
    const double gains[] = { -18.0, -6.5, 3.0, 18.0 };
    const double qs[] = { 0.1, 0.7071067811865476, 2.0, 12.0 };

    for (double rate : testSampleRates())
        for (auto shape : shapes)
            for (double f0 : frequencies)
                for (double gain : gains)
                    for (double q : qs)
                    {
                        const auto coefficients = designEq (singleBand (shape, f0, gain, q), rate);
                        for (double at : logFrequencies (rate, 97))
                        {
                            const double expected = analyticDb (shape, f0, gain, q, at, rate);
                            // Very deep notches of the passes near DC lose relative precision.
                            if (expected < -150.0)
                                continue;
                            ASSERT_NEAR (coefficients.responseDb (at, rate), expected, 1.0e-6 + 1.0e-7 * std::abs (expected))
                                << "shape " << (int) shape << " f0 " << f0 << " gain " << gain << " q " << q
                                << " at " << at << " Hz, rate " << rate;
                        }
                    }
}

TEST (EqDesign, KnownPointsOfEachShape)
{
    for (double rate : testSampleRates())
    {
        const auto bell = designEq (singleBand (EqShape::bell, 1000.0, 6.0, 1.0), rate);
        EXPECT_NEAR (bell.responseDb (1000.0, rate), 6.0, 0.01);
        EXPECT_NEAR (bell.responseDb (10.0, rate), 0.0, 0.01);

        const auto low = designEq (singleBand (EqShape::lowShelf, 200.0, -12.0, 0.7071067811865476), rate);
        EXPECT_NEAR (low.responseDb (1.0, rate), -12.0, 0.01);
        EXPECT_NEAR (low.responseDb (200.0, rate), -6.0, 0.01);   // half the gain at the corner
        EXPECT_NEAR (low.responseDb (0.49 * rate, rate), 0.0, 0.01);

        const auto high = designEq (singleBand (EqShape::highShelf, 4000.0, 9.0, 0.7071067811865476), rate);
        EXPECT_NEAR (high.responseDb (4000.0, rate), 4.5, 0.01);
        EXPECT_NEAR (high.responseDb (10.0, rate), 0.0, 0.01);

        // A pass at its corner gives Q (in dB); gain is ignored.
        const auto highPass = designEq (singleBand (EqShape::highPass, 100.0, 0.0, 2.0), rate);
        EXPECT_NEAR (highPass.responseDb (100.0, rate), 20.0 * std::log10 (2.0), 1.0e-6);
        EXPECT_LT (highPass.responseDb (10.0, rate), -35.0);
        const auto lowPass = designEq (singleBand (EqShape::lowPass, 2000.0, 12.0, 0.5), rate);
        EXPECT_NEAR (lowPass.responseDb (2000.0, rate), 20.0 * std::log10 (0.5), 1.0e-6);
        EXPECT_NEAR (lowPass.responseDb (20.0, rate), 0.0, 1.0e-3);
    }
}

TEST (EqDesign, TheResponseIsTheSumOfTheBands)
{
    EqSettings eq;
    eq.enabled = true;
    const double gains[] = { 4.0, -3.0, 0.0, 7.5, -18.0, 2.0, 11.0, -6.0 };
    const EqShape shapes[] = { EqShape::lowShelf, EqShape::bell, EqShape::bell, EqShape::bell,
                               EqShape::bell, EqShape::highPass, EqShape::bell, EqShape::highShelf };
    for (size_t i = 0; i < 8; ++i)
    {
        eq.bands[i].gainDb = gains[i];
        eq.bands[i].shape = (int) shapes[i];
    }
    eq.bands[5].frequency = 30.0;

    for (double rate : testSampleRates())
    {
        const auto coefficients = designEq (eq, rate);
        for (double at : logFrequencies (rate, 61))
        {
            double expected = 0.0;
            for (const auto& band : eq.bands)
                if (! (band.gainDb == 0.0 && band.shape != (int) EqShape::highPass))
                    expected += analyticDb ((EqShape) band.shape, band.frequency, band.gainDb, band.q, at, rate);
            EXPECT_NEAR (coefficients.responseDb (at, rate), expected, 1.0e-6) << at << " Hz at " << rate;
        }
    }
}

TEST (EqDesign, IdentityWhereTheEqCannotOrNeedNotFilter)
{
    const auto identity = EqCoefficients::identity();

    EqSettings flat;   // disabled
    flat.bands[2].gainDb = 6.0;
    EXPECT_EQ (designEq (flat, 48000.0), identity);

    flat.enabled = true;
    flat.bands[2].gainDb = 0.0;
    EXPECT_EQ (designEq (flat, 48000.0), identity) << "bell and shelves at 0 dB are skipped";

    // One band out of range, enabled or not, makes the whole EQ flat.
    const auto broken = [] (void (*change) (EqBand&))
    {
        auto eq = singleBand (EqShape::bell, 1000.0, 6.0, 1.0);
        eq.bands[6].enabled = false;
        change (eq.bands[6]);
        return designEq (eq, 48000.0);
    };
    EXPECT_EQ (broken ([] (EqBand& b) { b.q = 13.0; }), identity);
    EXPECT_EQ (broken ([] (EqBand& b) { b.q = 0.0999; }), identity);
    EXPECT_EQ (broken ([] (EqBand& b) { b.frequency = 19.999; }), identity);
    EXPECT_EQ (broken ([] (EqBand& b) { b.frequency = std::numeric_limits<double>::quiet_NaN(); }), identity);
    EXPECT_EQ (broken ([] (EqBand& b) { b.gainDb = 18.0001; }), identity);
    EXPECT_EQ (broken ([] (EqBand& b) { b.gainDb = -std::numeric_limits<double>::infinity(); }), identity);
    EXPECT_EQ (broken ([] (EqBand& b) { b.shape = 5; }), identity);
    EXPECT_EQ (broken ([] (EqBand& b) { b.shape = -1; }), identity);
    EXPECT_NE (broken ([] (EqBand& b) { b.q = 12.0; }), identity) << "the bounds themselves are valid";

    const auto bell = singleBand (EqShape::bell, 1000.0, 6.0, 1.0);
    for (double rate : { 7999.0, 0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity() })
        EXPECT_EQ (designEq (bell, rate), identity) << rate;
    EXPECT_NE (designEq (bell, 8000.0), identity);

    // A disabled band is identity even with gain; passes at 0 dB are still built.
    auto disabledBand = bell;
    disabledBand.bands[3].enabled = false;
    EXPECT_EQ (designEq (disabledBand, 48000.0), identity);
    const auto highPass = designEq (singleBand (EqShape::highPass, 80.0, 0.0, 0.7071067811865476), 48000.0);
    EXPECT_FALSE (highPass.sections[3].isIdentity());
    EXPECT_TRUE (highPass.sections[2].isIdentity());
}

TEST (EqDesign, BandsAboveTheDesignLimitAreDesignedAtIt)
{
    // 20 kHz at 32 kHz is designed at 0.475 x 32000 = 15200 Hz.
    const auto at20k = designEq (singleBand (EqShape::bell, 20000.0, 12.0, 2.0), 32000.0);
    const auto at15k2 = designEq (singleBand (EqShape::bell, 15200.0, 12.0, 2.0), 32000.0);
    EXPECT_EQ (at20k, at15k2);
    EXPECT_NEAR (at20k.responseDb (15200.0, 32000.0), 12.0, 1.0e-9);
}

TEST (EqDesign, ResponseEdgeCases)
{
    const auto identity = EqCoefficients::identity();
    for (double at : { 0.0, 20.0, 1000.0, 23999.0, 1.0e9 })
        EXPECT_EQ (identity.responseDb (at, 48000.0), 0.0);

    const auto bell = designEq (singleBand (EqShape::bell, 20000.0, 6.0, 0.5), 48000.0);
    EXPECT_EQ (bell.responseDb (30000.0, 48000.0), bell.responseDb (0.499 * 48000.0, 48000.0));
    EXPECT_EQ (bell.responseDb (1000.0, 0.5), 0.0);
    EXPECT_EQ (bell.responseDb (1000.0, std::numeric_limits<double>::quiet_NaN()), 0.0);

    // A section that cannot be evaluated counts as -300 dB; a zero magnitude is floored there too.
    EqCoefficients broken;
    broken.sections[0].a1 = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NEAR (broken.responseDb (1000.0, 48000.0), -300.0, 1.0e-9);
    const auto highPass = designEq (singleBand (EqShape::highPass, 1000.0, 0.0, 1.0), 48000.0);
    EXPECT_NEAR (highPass.responseDb (0.0, 48000.0), -300.0, 1.0e-6);
}

TEST (EqDesign, EqualityIsOverAllFortyValues)
{
    const auto a = designEq (singleBand (EqShape::lowShelf, 120.0, 4.0, 0.8), 48000.0);
    auto b = a;
    EXPECT_EQ (a, b);
    b.sections[7].a2 = std::nextafter (b.sections[7].a2, 2.0);
    EXPECT_NE (a, b);

    auto withNaN = a;
    withNaN.sections[0].b1 = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE (withNaN, withNaN);
}
