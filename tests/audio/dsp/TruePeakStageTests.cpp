#include "support/SignalMeasures.h"

#include "audio/dsp/TruePeakStage.h"
#include "platform/ThreadContract.h"

#include <gtest/gtest.h>

using namespace orvane::audio;
using namespace orvane::audio::testing;

TEST (TruePeakStage, TapsAreNormalisedBlackmanWindowedSincPhases)
{
    const TruePeakStage stage;
    const auto& taps = stage.taps();

    for (int p = 1; p <= 3; ++p)
    {
        const auto& phase = taps[(size_t) p - 1];
        double sum = 0.0, raw = 0.0;
        for (int k = 0; k < 128; ++k)
        {
            const double a = k - 63.0 - p / 4.0;
            raw += (0.42 + 0.5 * std::cos (pi * a / 64.0) + 0.08 * std::cos (2.0 * pi * a / 64.0)) * std::sin (pi * a) / (pi * a);
            sum += phase[(size_t) k];
        }
        EXPECT_NEAR (sum, 1.0, 1.0e-6) << "phase " << p;

        for (int k = 0; k < 128; ++k)
        {
            const double a = k - 63.0 - p / 4.0;
            const double expected = (0.42 + 0.5 * std::cos (pi * a / 64.0) + 0.08 * std::cos (2.0 * pi * a / 64.0))
                                  * std::sin (pi * a) / (pi * a) / raw;
            EXPECT_NEAR (phase[(size_t) k], expected, 1.0e-6) << "phase " << p << " tap " << k;
        }
    }

    // The quarter and three-quarter phases mirror each other.
    for (int k = 0; k < 128; ++k)
        EXPECT_NEAR (taps[0][(size_t) k], taps[2][(size_t) (127 - k)], 1.0e-7);
}

TEST (TruePeakStage, ThePhasesInterpolateBetweenSamples)
{
    // Each phase p reconstructs the signal at n - 64 + p/4 from the 128 samples n-127..n.
    const TruePeakStage stage;
    for (double rate : testSampleRates())
        for (double frequency : { 100.0, 1000.0, 7000.0, 0.4 * rate })
        {
            const auto signal = sine (frequency, rate, 512, 1.0, 0.3);
            const int n = 300;
            for (int p = 1; p <= 3; ++p)
            {
                double sum = 0.0;
                for (int k = 0; k < 128; ++k)
                    sum += stage.taps()[(size_t) p - 1][(size_t) k] * signal[(size_t) (n - 127 + k)];
                const double at = n - 64 + p / 4.0;
                const double expected = std::sin (2.0 * pi * frequency * at / rate + 0.3);
                EXPECT_NEAR (sum, expected, frequency < 0.3 * rate ? 2.0e-3 : 0.05) << frequency << " Hz, phase " << p;
            }
        }
}

TEST (TruePeakStage, TheTestMeterReadsTheInterSamplePeakOfAQuarterRateSine)
{
    // A sine at a quarter of the rate with a 45 degree offset: every sample sits at 0.707 of
    // the peak, which lies exactly halfway between samples. (Read after the first 200 samples:
    // the sudden start of a tone has inter-sample overshoot of its own.)
    const TruePeakMeter meter;
    for (double rate : testSampleRates())
    {
        const auto signal = sine (rate / 4.0, rate, 4000, 1.0, pi / 4.0);
        EXPECT_NEAR (peakOver (signal), std::sqrt (0.5), 1.0e-9);
        EXPECT_NEAR (meter.truePeak (signal, 200), 1.0, 1.0e-4);
        EXPECT_GT (meter.truePeak (signal), 1.005) << "the start's own overshoot";

        // A steady tone well inside the band reads its amplitude.
        EXPECT_NEAR (meter.truePeak (sine (1234.5, rate, 4000, 0.5, 0.1), 200), 0.5, 1.0e-4);
    }
}

TEST (TruePeakStage, HoldsAQuarterRateSineAndStartsFromSilence)
{
    const float limit = (float) fromDb (-1.0);
    TruePeakStage stage;
    const size_t length = 8192;
    std::vector<float> x (length), y (length), mix (TruePeakStage::maxChunk, 1.0f), outL (length), outR (length);
    const auto tone = sine (12000.0, 48000.0, length, 1.0, pi / 4.0);   // samples at 0.707, peaks at 1.0
    std::copy (tone.begin(), tone.end(), x.begin());
    std::copy (tone.begin(), tone.end(), y.begin());

    float smallest = 1.0f;
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
    for (size_t offset = 0; offset < length; offset += 64)
        stage.processChunk (x.data() + offset, y.data() + offset, mix.data(), 64, limit, 0.999f,
                            outL.data() + offset, outR.data() + offset, smallest);

    EXPECT_EQ (peakOver (outL, 0, TruePeakStage::delaySamples), 0.0);
    EXPECT_GT (peakOver (outL, TruePeakStage::delaySamples), 0.5);
    // Once the onset has passed, the interpolated peak (1.0) is held at limit x 0.96605086.
    EXPECT_NEAR (stage.gain(), limit * TruePeakStage::targetShare, 1.0e-3);
    EXPECT_LE (smallest, stage.gain());
    EXPECT_NEAR (peakOver (outL, length - 1000), std::sqrt (0.5) * stage.gain(), 1.0e-4);
    EXPECT_LE (TruePeakMeter().truePeak (outL), limit);

    stage.reset();
    EXPECT_EQ (stage.gain(), 1.0f);
    EXPECT_EQ (stage.sampleCount(), 0u);
}
