#include "support/SignalMeasures.h"

#include "audio/dsp/EqProcessor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace orvane::audio;
using namespace orvane::audio::testing;
using vantrel::EqBand;
using vantrel::EqSettings;
using vantrel::EqShape;

namespace
{
EqSettings bands (std::initializer_list<EqBand> active)
{
    EqSettings eq;
    eq.enabled = true;
    for (auto& band : eq.bands)
        band = EqBand { true, (int) EqShape::bell, 1000.0, 0.0, 1.0 };
    size_t i = 0;
    for (const auto& band : active)
        eq.bands[i++] = band;
    return eq;
}

EqBand band (EqShape shape, double frequency, double gainDb, double q)
{
    return EqBand { true, (int) shape, frequency, gainDb, q };
}

/** The amplitude of a steady sine over a whole number of its periods. */
double steadyAmplitude (const std::vector<double>& signal, size_t begin, double frequency, double rate)
{
    const auto periods = std::floor ((double) (signal.size() - begin) * frequency / rate);
    const auto length = (size_t) std::llround (periods * rate / frequency);
    return std::sqrt (2.0) * rmsOver (signal, begin, begin + length);
}

/** Runs `samples` of a sine through the processor; the left channel carries the sine, the right
    a copy scaled by -0.5. Returns the left output. */
std::vector<double> run (EqProcessor& eq, double frequency, double rate, size_t samples, double amplitude,
                         std::vector<double>* right = nullptr, size_t start = 0)
{
    std::vector<double> out (samples);
    if (right != nullptr)
        right->resize (samples);
    for (size_t i = 0; i < samples; ++i)
    {
        double l = amplitude * std::sin (2.0 * pi * frequency * (double) (start + i) / rate);
        double r = -0.5 * l;
        eq.process (l, r);
        out[i] = l;
        if (right != nullptr)
            (*right)[i] = r;
    }
    return out;
}
} // namespace

TEST (EqProcessor, FiltersSinesByTheDesignedResponse)
{
    const EqSettings settings[] = {
        bands ({ band (EqShape::bell, 1000.0, 9.0, 2.0) }),
        bands ({ band (EqShape::lowShelf, 150.0, -12.0, 0.7), band (EqShape::highPass, 40.0, 0.0, 0.7071) }),
        bands ({ band (EqShape::highShelf, 6000.0, 6.0, 1.5), band (EqShape::lowPass, 12000.0, 0.0, 0.9),
                 band (EqShape::bell, 300.0, -18.0, 12.0) }),
    };

    for (double rate : testSampleRates())
        for (const auto& setting : settings)
        {
            const auto coefficients = designEq (setting, rate);
            for (double frequency : { 100.0, 300.0, 1000.0, 5000.0, 11000.0 })
            {
                EqProcessor eq;
                eq.setCoefficients (coefficients);
                std::vector<double> right;
                const auto left = run (eq, frequency, rate, (size_t) rate, 0.25, &right);
                const size_t settled = (size_t) (0.5 * rate);
                const double expectedDb = coefficients.responseDb (frequency, rate);
                EXPECT_NEAR (toDb (steadyAmplitude (left, settled, frequency, rate) / 0.25), expectedDb, 0.01)
                    << frequency << " Hz at " << rate;
                EXPECT_NEAR (toDb (steadyAmplitude (right, settled, frequency, rate) / 0.125), expectedDb, 0.01)
                    << "right channel, " << frequency << " Hz at " << rate;
            }
        }
}

TEST (EqProcessor, AnIdentityProcessorPassesSamplesBitExactly)
{
    EqProcessor eq;
    EXPECT_FALSE (eq.isActive());

    std::mt19937 random (3);
    std::uniform_real_distribution<double> value (-2.0, 2.0);
    for (int i = 0; i < 1000; ++i)
    {
        const double l = value (random), r = i == 500 ? std::numeric_limits<double>::quiet_NaN() : value (random);
        double pl = l, pr = r;
        eq.process (pl, pr);
        EXPECT_EQ (std::memcmp (&pl, &l, sizeof (l)), 0);
        EXPECT_EQ (std::memcmp (&pr, &r, sizeof (r)), 0);
    }

    eq.setCoefficients (EqCoefficients::identity());
    EXPECT_FALSE (eq.isActive());
    eq.setCoefficients (designEq (bands ({ band (EqShape::bell, 1000.0, 3.0, 1.0) }), 48000.0));
    EXPECT_TRUE (eq.isActive());
}

TEST (EqProcessor, ARampToIdentityEndsInactiveAndBitExact)
{
    for (double rate : testSampleRates())
    {
        EqProcessor eq;
        eq.setCoefficients (designEq (bands ({ band (EqShape::lowShelf, 200.0, 12.0, 0.7) }), rate));
        run (eq, 440.0, rate, 4800, 0.5);

        const int ramp = (int) (0.02 * rate);
        eq.rampTo (EqCoefficients::identity(), ramp);
        run (eq, 440.0, rate, (size_t) ramp - 1, 0.5);
        EXPECT_TRUE (eq.isActive());
        EXPECT_EQ (eq.remainingRampSamples(), 1);

        run (eq, 440.0, rate, 1, 0.5);
        EXPECT_FALSE (eq.isActive());
        EXPECT_EQ (eq.currentCoefficients(), EqCoefficients::identity()) << "the last step lands exactly";

        double l = 0.123456789, r = -1.0e-300;
        eq.process (l, r);
        EXPECT_EQ (l, 0.123456789);
        EXPECT_EQ (r, -1.0e-300);

        // Switched on again, it starts from silence in its history: the first output is b0 x.
        const auto bell = designEq (bands ({ band (EqShape::bell, 500.0, 6.0, 1.0) }), rate);
        eq.rampTo (bell, 1);
        double x = 1.0, y = 0.0;
        eq.process (x, y);
        EXPECT_DOUBLE_EQ (x, bell.sections[0].b0);
        EXPECT_EQ (y, 0.0);
    }
}

TEST (EqProcessor, ARampCrossfadesFromTheOldFilterToTheNew)
{
    const double rate = 48000.0;
    const auto a = designEq (bands ({ band (EqShape::bell, 500.0, -6.0, 2.0) }), rate);
    const auto b = designEq (bands ({ band (EqShape::bell, 500.0, 12.0, 2.0) }), rate);

    // A processor that ramps from a to b over 960 samples, and two copies of it that keep a, or
    // switch to b at once keeping a's memory: the ramp's output is the straight-line mix of theirs.
    EqProcessor ramping;
    ramping.setCoefficients (a);
    run (ramping, 200.0, rate, 4800, 0.5);
    EqProcessor outgoing = ramping, incoming = ramping;
    ramping.rampTo (b, 960);
    incoming.rampTo (b, 1);   // switches to b at once, keeping a's memory
    EXPECT_TRUE (ramping.isRamping());
    EXPECT_EQ (ramping.targetCoefficients(), b);
    EXPECT_EQ (ramping.currentCoefficients(), a);

    for (int i = 1; i <= 960; ++i)
    {
        const auto mixed = run (ramping, 200.0, rate, 1, 0.5, nullptr, 4800 + (size_t) i - 1)[0];
        const auto from = run (outgoing, 200.0, rate, 1, 0.5, nullptr, 4800 + (size_t) i - 1)[0];
        const auto to = run (incoming, 200.0, rate, 1, 0.5, nullptr, 4800 + (size_t) i - 1)[0];
        ASSERT_NEAR (mixed, from + (to - from) * (i / 960.0), 1.0e-12) << i;
    }
    EXPECT_FALSE (ramping.isRamping());
    EXPECT_EQ (ramping.currentCoefficients(), b);

    // Afterwards it is the new filter alone, memory included.
    for (size_t i = 0; i < 100; ++i)
        ASSERT_EQ (run (ramping, 200.0, rate, 1, 0.5, nullptr, 5760 + i)[0], run (incoming, 200.0, rate, 1, 0.5, nullptr, 5760 + i)[0]);
}

TEST (EqProcessor, ChangesDuringARampWaitForItAndTheNewestWins)
{
    const auto a = designEq (bands ({ band (EqShape::bell, 500.0, -6.0, 2.0) }), 48000.0);
    const auto b = designEq (bands ({ band (EqShape::bell, 500.0, 12.0, 2.0) }), 48000.0);
    const auto c = designEq (bands ({ band (EqShape::highPass, 90.0, 0.0, 0.7) }), 48000.0);
    const auto d = designEq (bands ({ band (EqShape::lowPass, 9000.0, 0.0, 0.7) }), 48000.0);

    EqProcessor eq;
    eq.setCoefficients (a);
    eq.rampTo (b, 960);
    run (eq, 200.0, 48000.0, 480, 0.5);
    EXPECT_EQ (eq.remainingRampSamples(), 480);

    // The same target again starts no new ramp.
    eq.rampTo (b, 960);
    EXPECT_EQ (eq.remainingRampSamples(), 480);
    EXPECT_FALSE (eq.hasWaitingChange());

    // New targets wait; the newest replaces the older one; asking again for it changes nothing.
    eq.rampTo (c, 100);
    eq.rampTo (d, 200);
    eq.rampTo (d, 50);
    EXPECT_TRUE (eq.hasWaitingChange());
    EXPECT_EQ (eq.remainingRampSamples(), 480);
    EXPECT_EQ (eq.targetCoefficients(), b);

    run (eq, 200.0, 48000.0, 480, 0.5);
    EXPECT_EQ (eq.currentCoefficients(), b);
    EXPECT_EQ (eq.targetCoefficients(), d);
    EXPECT_EQ (eq.remainingRampSamples(), 200);
    EXPECT_FALSE (eq.hasWaitingChange());

    run (eq, 200.0, 48000.0, 200, 0.5);
    EXPECT_EQ (eq.currentCoefficients(), d);
    EXPECT_FALSE (eq.isRamping());
    EXPECT_TRUE (eq.isActive());

    // Asking, during a ramp, for the coefficients the ramp started from ramps back afterwards.
    eq.rampTo (a, 10);
    eq.rampTo (d, 10);
    EXPECT_TRUE (eq.hasWaitingChange());
    run (eq, 200.0, 48000.0, 10, 0.5);
    EXPECT_EQ (eq.currentCoefficients(), a);
    EXPECT_TRUE (eq.isRamping());
    run (eq, 200.0, 48000.0, 10, 0.5);
    EXPECT_EQ (eq.currentCoefficients(), d);

    // setCoefficients drops a running ramp and a waiting change.
    eq.rampTo (a, 100);
    eq.rampTo (b, 100);
    eq.setCoefficients (c);
    EXPECT_FALSE (eq.isRamping());
    EXPECT_FALSE (eq.hasWaitingChange());
    EXPECT_EQ (eq.currentCoefficients(), c);

    // A ramp length below 1 changes over one sample.
    eq.rampTo (a, 0);
    EXPECT_EQ (eq.remainingRampSamples(), 1);
    run (eq, 200.0, 48000.0, 1, 0.5);
    eq.rampTo (b, -5);
    EXPECT_EQ (eq.remainingRampSamples(), 1);
}

TEST (EqProcessor, CoefficientRampsAreClickFree)
{
    // A ramp is click-free when no output step exceeds what a smooth change of level could
    // produce. During a ramp the output is the straight-line crossfade of two steady sines,
    // gA x A and gB x A (gA, gB the two responses at f): a sine whose phasor lies on the segment
    // between theirs, so its amplitude never exceeds max(gA, gB) x A and it changes by at most
    // (gA + gB) x A / rampLength per sample. A sine of amplitude X moves by at most
    // 2 X sin(pi f / rate) between samples. The bound is the sum of the two, with 50 % added for
    // the incoming filter settling from the outgoing one's memory: a sharp resonance of the new
    // filter rings for a few of its own (short) periods while its share of the mix is still a few
    // per cent. An abrupt change (the same check, same bound, without a ramp) produces steps of
    // the order of the signal itself and must fail it by far.
    struct Change
    {
        const char* name;
        EqSettings from, to;
    };
    const Change changes[] = {
        { "flat to a +18 dB bell", bands ({}), bands ({ band (EqShape::bell, 440.0, 18.0, 4.0) }) },
        { "+18 dB to -18 dB", bands ({ band (EqShape::bell, 100.0, 18.0, 12.0) }), bands ({ band (EqShape::bell, 100.0, -18.0, 12.0) }) },
        { "low pass 20 kHz to 200 Hz", bands ({ band (EqShape::lowPass, 20000.0, 0.0, 0.7) }), bands ({ band (EqShape::lowPass, 200.0, 0.0, 0.7) }) },
        { "high pass 20 Hz to 2 kHz", bands ({ band (EqShape::highPass, 20.0, 0.0, 4.0) }), bands ({ band (EqShape::highPass, 2000.0, 0.0, 4.0) }) },
        { "low shelf to high shelf", bands ({ band (EqShape::lowShelf, 100.0, 18.0, 0.7) }), bands ({ band (EqShape::highShelf, 8000.0, 18.0, 0.7) }) },
        { "resonance swept 100 Hz to 10 kHz", bands ({ band (EqShape::bell, 100.0, 18.0, 12.0) }), bands ({ band (EqShape::bell, 10000.0, 18.0, 12.0) }) },
        { "all eight bands", bands ({ band (EqShape::lowShelf, 60.0, -18.0, 0.5), band (EqShape::bell, 200.0, 12.0, 3.0),
                                      band (EqShape::bell, 900.0, -9.0, 1.0), band (EqShape::bell, 3000.0, 6.0, 8.0),
                                      band (EqShape::highPass, 30.0, 0.0, 0.7), band (EqShape::bell, 7000.0, -18.0, 0.3),
                                      band (EqShape::lowPass, 18000.0, 0.0, 0.7), band (EqShape::highShelf, 10000.0, 9.0, 1.0) }),
                             bands ({ band (EqShape::lowShelf, 300.0, 18.0, 2.0), band (EqShape::bell, 80.0, -12.0, 0.5),
                                      band (EqShape::bell, 2500.0, 15.0, 12.0), band (EqShape::bell, 500.0, -18.0, 2.0),
                                      band (EqShape::highPass, 120.0, 0.0, 1.5), band (EqShape::bell, 12000.0, 18.0, 1.0),
                                      band (EqShape::lowPass, 5000.0, 0.0, 3.0), band (EqShape::highShelf, 2000.0, -18.0, 0.7) }) },
    };
    const double amplitude = 0.1;

    double worstAbruptRatio = 0.0;
    for (double rate : testSampleRates())
        for (const auto& change : changes)
            for (double frequency : { 50.0, 440.0, 3000.0, 12000.0 })
                for (int ramp : { (int) (0.02 * rate), 1 })
                {
                    EqProcessor eq;
                    const auto from = designEq (change.from, rate);
                    const auto to = designEq (change.to, rate);
                    eq.setCoefficients (from);
                    const size_t settle = (size_t) rate;
                    const double lastSettled = run (eq, frequency, rate, settle, amplitude).back();

                    eq.rampTo (to, ramp);
                    const double gainFrom = fromDb (from.responseDb (frequency, rate));
                    const double gainTo = fromDb (to.responseDb (frequency, rate));
                    const double rampLength = (double) (int) (0.02 * rate);
                    std::vector<double> out { lastSettled };   // the step into the first changed sample counts too
                    const size_t length = (size_t) (0.02 * rate) + (size_t) (0.3 * rate);
                    for (size_t i = 0; i < length; ++i)
                        out.push_back (run (eq, frequency, rate, 1, amplitude, nullptr, settle + i)[0]);

                    const double bound = amplitude * (1.5 * 2.0 * std::sin (pi * frequency / rate) * std::max (gainFrom, gainTo)
                                                      + (gainFrom + gainTo) / rampLength);
                    const double step = largestStepOver (out);

                    if (ramp > 1)
                        EXPECT_LE (step, bound) << change.name << ", " << frequency << " Hz at " << rate;
                    else
                        worstAbruptRatio = std::max (worstAbruptRatio, step / bound);

                }

    EXPECT_GT (worstAbruptRatio, 20.0) << "without a ramp the same check must detect clicks";
}

TEST (EqProcessor, ANonFiniteSampleNeitherLatchesNorLeaks)
{
    const auto coefficients = designEq (bands ({ band (EqShape::bell, 800.0, 6.0, 1.0), band (EqShape::lowShelf, 100.0, 3.0, 0.7) }), 48000.0);

    for (double bad : { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -1.0e308 })
    {
        EqProcessor eq, reference;
        eq.setCoefficients (coefficients);
        reference.setCoefficients (coefficients);
        run (eq, 300.0, 48000.0, 1000, 0.5);
        run (reference, 300.0, 48000.0, 1000, 0.5);

        // The bad value enters the left channel only; the right channel is untouched by it.
        double l = bad, r = 0.25, rl = 0.0, rr = 0.25;
        eq.process (l, r);
        reference.process (rl, rr);
        EXPECT_EQ (r, rr);
        EXPECT_TRUE (std::isfinite (l));

        // The left channel recovers: finite output, and after the filter's memory has drained
        // it matches a processor that never saw the bad value.
        std::vector<double> a (48000), b (48000);
        for (size_t i = 0; i < a.size(); ++i)
        {
            double x = 0.5 * std::sin (2.0 * pi * 300.0 * (double) i / 48000.0), y = x;
            double u = x, v = y;
            eq.process (x, y);
            reference.process (u, v);
            a[i] = x;
            b[i] = u;
            ASSERT_TRUE (std::isfinite (x)) << i;
        }
        EXPECT_NEAR (a.back(), b.back(), 1.0e-9);
        EXPECT_NEAR (rmsOver (a, 24000), rmsOver (b, 24000), 1.0e-9);
    }
}

TEST (EqProcessor, DecaysToExactZeroWithoutDenormals)
{
    for (double rate : testSampleRates())
    {
        EqProcessor eq;
        eq.setCoefficients (designEq (bands ({ band (EqShape::bell, 40.0, 18.0, 12.0), band (EqShape::lowPass, 30.0, 0.0, 12.0) }), rate));
        double l = 1.0, r = -1.0;
        eq.process (l, r);

        bool reachedZero = false;
        for (int i = 0; i < (int) (60 * rate) && ! reachedZero; ++i)
        {
            l = r = 0.0;
            eq.process (l, r);
            ASSERT_FALSE (l != 0.0 && std::abs (l) < 1.0e-30) << "denormal-range output at " << i;
            ASSERT_FALSE (r != 0.0 && std::abs (r) < 1.0e-30) << "denormal-range output at " << i;
            reachedZero = l == 0.0 && r == 0.0;
        }
        EXPECT_TRUE (reachedZero);
    }
}
