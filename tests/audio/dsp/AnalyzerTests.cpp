#include "support/SignalMeasures.h"

#include "audio/dsp/AnalyzerTap.h"
#include "audio/dsp/SpectrumAnalyzer.h"
#include "platform/ThreadContract.h"

#include <gtest/gtest.h>

#include <atomic>
#include <complex>
#include <limits>
#include <memory>
#include <thread>

using namespace orvane::audio;
using namespace orvane::audio::testing;

namespace
{
constexpr int frameLength = AnalyzerFrame::numSamples;

/** A block start, on the tap's producer side. */
std::intptr_t beginAudioBlock (AnalyzerTap& tap, double rate)
{
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
    return tap.beginBlock (rate);
}

/** Pushes `count` samples whose left value is the running sample number and right its negative. */
void pushNumbered (AnalyzerTap& tap, int64_t& number, int count, std::intptr_t tag, double rate)
{
    const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);   // the tap's producer side
    for (int i = 0; i < count; ++i, ++number)
        tap.push ((float) number, (float) -number, tag, rate);
}

/** A frame of a stereo sine (right channel at half the level) with the given serial. */
AnalyzerFrame sineFrame (double frequency, double rate, int64_t serial, double amplitude = 1.0, std::intptr_t tag = -1)
{
    AnalyzerFrame frame;
    frame.sourceTag = tag;
    frame.sampleRate = rate;
    frame.serial = serial;
    for (int i = 0; i < frameLength; ++i)
    {
        const double t = (double) ((serial - 1) * frameLength + i) / rate;
        frame.left[(size_t) i] = (float) (amplitude * std::sin (2.0 * pi * frequency * t));
        frame.right[(size_t) i] = 0.5f * frame.left[(size_t) i];
    }
    return frame;
}

bool allAt (const std::vector<float>& spectrum, float value)
{
    return std::all_of (spectrum.begin(), spectrum.end(), [value] (float v) { return v == value; });
}
} // namespace

TEST (AnalyzerTap, PublishesWholeFramesOfOneSourceAndRate)
{
    auto tap = std::make_unique<AnalyzerTap>();
    AnalyzerFrame frame;
    int64_t number = 0;

    pushNumbered (*tap, number, frameLength - 1, 7, 48000.0);
    EXPECT_FALSE (tap->pop (frame)) << "no frame before 2048 samples";
    pushNumbered (*tap, number, 1, 7, 48000.0);
    ASSERT_TRUE (tap->pop (frame));
    EXPECT_EQ (frame.serial, 1);
    EXPECT_EQ (frame.sourceTag, 7);
    EXPECT_EQ (frame.sampleRate, 48000.0);
    for (int i = 0; i < frameLength; ++i)
    {
        ASSERT_EQ (frame.left[(size_t) i], (float) i);
        ASSERT_EQ (frame.right[(size_t) i], (float) -i);
    }
    EXPECT_FALSE (tap->pop (frame));

    // A new tag mid-frame throws the partial frame away; so does a new rate.
    pushNumbered (*tap, number, 1000, 7, 48000.0);
    number = 0;
    pushNumbered (*tap, number, 500, AnalyzerFrame::trackBus, 48000.0);
    number = 0;
    pushNumbered (*tap, number, frameLength, AnalyzerFrame::trackBus, 44100.0);
    ASSERT_TRUE (tap->pop (frame));
    EXPECT_EQ (frame.sourceTag, AnalyzerFrame::trackBus);
    EXPECT_EQ (frame.sampleRate, 44100.0);
    EXPECT_EQ (frame.left[0], 0.0f);
    EXPECT_EQ (frame.left[(size_t) frameLength - 1], (float) (frameLength - 1));
    EXPECT_EQ (frame.serial, 2) << "discarded partial frames take no serial";

    // Non-finite samples enter as 0.
    {
        const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
        tap->push (std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 3, 48000.0);
    }
    pushNumbered (*tap, number, frameLength - 1, 3, 48000.0);
    ASSERT_TRUE (tap->pop (frame));
    EXPECT_EQ (frame.left[0], 0.0f);
    EXPECT_EQ (frame.right[0], 0.0f);
}

TEST (AnalyzerTap, TheBlockStartFollowsTheSelection)
{
    auto tap = std::make_unique<AnalyzerTap>();
    AnalyzerFrame frame;
    int64_t number = 0;

    EXPECT_EQ (beginAudioBlock (*tap, 48000.0), 0);
    tap->setSourceSelection (AnalyzerFrame::masterOutput);
    EXPECT_EQ (tap->sourceSelection(), AnalyzerFrame::masterOutput);
    EXPECT_EQ (beginAudioBlock (*tap, 48000.0), AnalyzerFrame::masterOutput);

    pushNumbered (*tap, number, 1500, AnalyzerFrame::masterOutput, 48000.0);
    EXPECT_EQ (beginAudioBlock (*tap, 48000.0), AnalyzerFrame::masterOutput);   // unchanged: the frame goes on
    pushNumbered (*tap, number, frameLength - 1500, AnalyzerFrame::masterOutput, 48000.0);
    ASSERT_TRUE (tap->pop (frame));
    EXPECT_EQ (frame.left[1500], 1500.0f);

    // A rate change at a block start restarts the collecting frame.
    pushNumbered (*tap, number, 1000, AnalyzerFrame::masterOutput, 48000.0);
    beginAudioBlock (*tap, 96000.0);
    number = 0;
    pushNumbered (*tap, number, frameLength, AnalyzerFrame::masterOutput, 96000.0);
    ASSERT_TRUE (tap->pop (frame));
    EXPECT_EQ (frame.left[0], 0.0f);
    EXPECT_EQ (frame.sampleRate, 96000.0);
}

TEST (AnalyzerTap, AStalledReaderLetsThreeFramesWaitAndCountsTheRest)
{
    auto tap = std::make_unique<AnalyzerTap>();
    int64_t number = 0;
    pushNumbered (*tap, number, 5 * frameLength, -1, 48000.0);
    EXPECT_EQ (tap->overflowCount(), 2u);

    AnalyzerFrame frame;
    for (int64_t expected : { 1, 2, 3 })
    {
        ASSERT_TRUE (tap->pop (frame));
        EXPECT_EQ (frame.serial, expected);
    }
    EXPECT_FALSE (tap->pop (frame));

    // Dropped frames keep their serials, so the reader sees the gap.
    pushNumbered (*tap, number, frameLength, -1, 48000.0);
    ASSERT_TRUE (tap->pop (frame));
    EXPECT_EQ (frame.serial, 6);
    EXPECT_EQ (frame.left[0], (float) (5 * frameLength));
}

TEST (AnalyzerTap, FramesCrossThreadsWhole)
{
    // One audio-side producer and one analyser-side consumer: every frame the consumer gets is
    // the complete run of samples its serial names, however the two threads interleave.
    auto tap = std::make_unique<AnalyzerTap>();
    constexpr int64_t frames = 3000;
    std::atomic<bool> done { false };

    std::thread producer ([&] {
        const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
        int64_t number = 0;
        for (int64_t f = 0; f < frames; ++f)
            for (int i = 0; i < frameLength; ++i, ++number)
                tap->push ((float) (number % 1000003), (float) -(number % 1000003), -1, 48000.0);
        done = true;
    });

    auto frame = std::make_unique<AnalyzerFrame>();
    int64_t received = 0, lastSerial = 0;
    bool intact = true;
    const auto check = [&] {
        ++received;
        intact = intact && frame->serial > lastSerial;
        lastSerial = frame->serial;
        const int64_t first = (frame->serial - 1) * frameLength;
        for (int i = 0; i < frameLength && intact; ++i)
            intact = frame->left[(size_t) i] == (float) ((first + i) % 1000003) && frame->right[(size_t) i] == -frame->left[(size_t) i];
    };
    for (;;)
    {
        if (tap->pop (*frame))
        {
            check();
            continue;
        }
        if (done.load())
        {
            while (tap->pop (*frame))
                check();
            break;
        }
        std::this_thread::yield();
    }
    producer.join();

    EXPECT_TRUE (intact);
    EXPECT_GT (received, 0);
    EXPECT_EQ (received + (int64_t) tap->overflowCount(), frames);
}

TEST (SpectrumAnalyzer, AFullScaleBinCentredSineReadsZeroDecibels)
{
    for (double rate : testSampleRates())
        for (auto size : { SpectrumSize::points4096, SpectrumSize::points16384 })
        {
            auto analyzer = std::make_unique<SpectrumAnalyzer> (size);
            const int n = analyzer->size();
            const int bin = n / 16 + 3;
            const double frequency = bin * rate / n;

            for (int64_t serial = 1; serial <= n / frameLength; ++serial)
                analyzer->update (sineFrame (frequency, rate, serial));

            ASSERT_TRUE (analyzer->hasData());
            const auto& spectrum = analyzer->spectrum();
            ASSERT_EQ (spectrum.size(), (size_t) n / 2 + 1);
            EXPECT_NEAR (spectrum[(size_t) bin], 0.0f, 0.1f) << "the louder channel counts";
            EXPECT_LT (spectrum[(size_t) bin + 4], -60.0f);
            EXPECT_EQ (analyzer->sampleRate(), rate);
        }
}

TEST (SpectrumAnalyzer, TheTransformMatchesADirectFourierSum)
{
    auto analyzer = std::make_unique<SpectrumAnalyzer> (SpectrumSize::points4096);
    std::mt19937 random (5);
    std::uniform_real_distribution<float> value (-0.5f, 0.5f);
    AnalyzerFrame frames[2];
    for (int f = 0; f < 2; ++f)
    {
        frames[f].sourceTag = -2;
        frames[f].serial = f + 1;
        for (auto& s : frames[f].left)
            s = value (random);
        frames[f].right.fill (0.0f);
        analyzer->update (frames[f]);
    }

    const int n = 4096;
    double windowSum = 0.0;
    for (int i = 0; i < n; ++i)
        windowSum += 0.5 - 0.5 * std::cos (2.0 * pi * i / n);
    for (int k : { 0, 1, 17, 500, 1024, 2047, 2048 })
    {
        std::complex<double> sum;
        for (int i = 0; i < n; ++i)
        {
            const double x = frames[i / frameLength].left[(size_t) (i % frameLength)] * (0.5 - 0.5 * std::cos (2.0 * pi * i / n));
            sum += x * std::polar (1.0, -2.0 * pi * k * i / n);
        }
        const double expectedDb = toDb (std::max (std::abs (sum) * 2.0 / windowSum, 1.0e-6));
        EXPECT_NEAR (analyzer->spectrum()[(size_t) k], expectedDb, 0.01) << "bin " << k;
    }
}

TEST (SpectrumAnalyzer, FillsBeforeItAnalysesAndHoldsPeaksFalling)
{
    for (auto size : { SpectrumSize::points4096, SpectrumSize::points16384 })
    {
        auto analyzer = std::make_unique<SpectrumAnalyzer> (size);
        const int framesToFill = analyzer->size() / frameLength;
        const double rate = 48000.0;
        int64_t serial = 0;

        for (int f = 1; f < framesToFill; ++f)
        {
            analyzer->update (sineFrame (1000.0, rate, ++serial));
            EXPECT_FALSE (analyzer->hasData());
            EXPECT_TRUE (allAt (analyzer->spectrum(), -120.0f)) << "frame " << f;
        }
        analyzer->update (sineFrame (1000.0, rate, ++serial));
        EXPECT_TRUE (analyzer->hasData());

        // Once only silence is left in the window, every bin falls by 36 dB per second of audio,
        // down to -120.
        const float fall = 36.0f * (float) (2048.0 / rate);
        AnalyzerFrame silence;
        silence.sourceTag = -1;
        silence.sampleRate = rate;
        for (int f = 0; f < framesToFill; ++f)
        {
            silence.serial = ++serial;
            analyzer->update (silence);
        }
        auto previous = analyzer->spectrum();
        EXPECT_GT (previous[(size_t) std::lround (1000.0 * analyzer->size() / rate)], -30.0f) << "the tone's peak is held, falling";
        for (int f = 0; f < 200; ++f)
        {
            silence.serial = ++serial;
            analyzer->update (silence);
            const auto& now = analyzer->spectrum();
            for (size_t k = 0; k < now.size(); k += 97)
                ASSERT_NEAR (now[k], std::max (previous[k] - fall, -120.0f), 1.0e-3f) << "bin " << k << ", frame " << f;
            previous = now;
        }
        EXPECT_TRUE (allAt (previous, -120.0f));
    }
}

TEST (SpectrumAnalyzer, RestartsOnANewSourceRateOrALostFrame)
{
    const auto fill = [] (SpectrumAnalyzer& analyzer, int64_t firstSerial, std::intptr_t tag, double rate)
    {
        analyzer.update (sineFrame (1000.0, rate, firstSerial, 1.0, tag));
        analyzer.update (sineFrame (1000.0, rate, firstSerial + 1, 1.0, tag));
    };
    auto analyzer = std::make_unique<SpectrumAnalyzer> (SpectrumSize::points4096);

    fill (*analyzer, 3, -1, 48000.0);
    ASSERT_TRUE (analyzer->hasData());
    EXPECT_EQ (analyzer->lastSerial(), 4);

    // Serial 6 after 4: a frame was lost, the analyser starts over and has one frame only.
    analyzer->update (sineFrame (1000.0, 48000.0, 6));
    EXPECT_FALSE (analyzer->hasData());
    EXPECT_TRUE (allAt (analyzer->spectrum(), -120.0f));
    analyzer->update (sineFrame (1000.0, 48000.0, 7));
    EXPECT_TRUE (analyzer->hasData());

    analyzer->update (sineFrame (1000.0, 48000.0, 8, 1.0, 42));   // another source
    EXPECT_FALSE (analyzer->hasData());
    EXPECT_EQ (analyzer->sourceTag(), 42);

    fill (*analyzer, 9, 42, 48000.0);
    analyzer->update (sineFrame (1000.0, 44100.0, 11, 1.0, 42));   // another rate
    EXPECT_FALSE (analyzer->hasData());
    EXPECT_EQ (analyzer->sampleRate(), 44100.0);

    analyzer->reset();
    EXPECT_EQ (analyzer->sourceTag(), 0);
    EXPECT_EQ (analyzer->lastSerial(), 0);
    EXPECT_EQ (analyzer->sampleRate(), 44100.0) << "reset keeps the rate";
    EXPECT_TRUE (allAt (analyzer->spectrum(), -120.0f));
}
