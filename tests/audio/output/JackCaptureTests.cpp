// What the program really sends to JACK, heard by a separate JACK client on a private dummy
// server: the media's own samples at their gain, on the right channels, and silence around them.
#include "AdapterTestSupport.h"
#include "audio/output/JackMessages.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace
{
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::PadAudioCommand;
using orvane::audio::PadAudioCommandKind;
using orvane::audio::SinkAnswer;
using vantrel::JuceAudioAdapter;
using vantrel::OutputDeviceSettings;
using vantrel::test::JackCaptureClient;

const OutputDeviceSettings jackSystem { "JACK", "system", "JACK:system", 0.0, 0, 0 };
const std::string trackKey = "row-1";
const std::string padKey = vantrel::padMediaKey (1, 1);
constexpr float trackGainDb = -6.0f;
constexpr double tolerance = 1.0e-6;

/** Recognisable, never-silent media: every 4096-frame stretch takes each of 4096 levels once
    (the multipliers are odd), so the peak 0.25 (track) or 0.125 (pad) is reached and no shifted
    copy of the signal matches it. Right differs from left in sign and order. */
double mediaSample (const std::string& key, int channel, std::int64_t frame)
{
    const bool pad = key == padKey;
    const double amplitude = pad ? 0.125 : 0.25;
    const std::int64_t multiplier = channel == 0 ? (pad ? 3001 : 7919) : (pad ? 1237 : 104729);
    const double step = (double) ((frame * multiplier + channel * 1000) % 4096) / 4095.0;
    return (channel == 0 ? amplitude : -amplitude) * (0.5 + 0.5 * step);
}

vantrel::MediaLoader::LoadFunction recognisableMedia (double seconds)
{
    return [seconds] (const vantrel::MediaLoadRequest& request, vantrel::CancelFlag) {
        auto media = std::make_shared<vantrel::LoadedMedia>();
        auto pcm = std::make_shared<vantrel::PreparedPcm>();
        const auto frames = (std::int64_t) (request.rate * seconds);
        pcm->left.resize ((size_t) frames);
        pcm->right.resize ((size_t) frames);
        for (std::int64_t i = 0; i < frames; ++i)
        {
            pcm->left[(size_t) i] = (float) mediaSample (request.key, 0, i);
            pcm->right[(size_t) i] = (float) mediaSample (request.key, 1, i);
        }
        pcm->sampleRate = request.rate;
        media->pcm = pcm;
        return media;
    };
}

double linearGain (float dB)  { return (double) (float) std::pow (10.0, (double) dB / 20.0); }

/** The first frame from `from` on whose magnitude exceeds the tolerance; the length when none. */
size_t firstSounding (const std::vector<float>& signal, size_t from = 0)
{
    for (size_t i = from; i < signal.size(); ++i)
        if (std::abs (signal[i]) > tolerance)
            return i;
    return signal.size();
}

/** The first frame of [begin, end) where `signal` differs from `expected(frame)`; end when none. */
template <typename Expected>
size_t firstMismatch (const std::vector<float>& signal, size_t begin, size_t end, Expected expected)
{
    for (size_t i = begin; i < end && i < signal.size(); ++i)
        if (std::abs ((double) signal[i] - expected (i)) > tolerance)
            return i;
    return std::min (end, signal.size());
}

double peakOf (const std::vector<float>& signal, size_t begin, size_t end)
{
    double peak = 0.0;
    for (size_t i = begin; i < end && i < signal.size(); ++i)
        peak = std::max (peak, std::abs ((double) signal[i]));
    return peak;
}

class JackCaptureTest : public ::testing::Test
{
protected:
    /** Captures made before one comes through without a lost cycle. */
    static constexpr int attempts = 5;

    vantrel::test::JackDummyServer server;
    juce::File folder = juce::File::createTempFile ("jack-capture");
    std::unique_ptr<JuceAudioAdapter> adapter;
    std::unique_ptr<JackCaptureClient> capture;
    std::optional<std::uint32_t> clockStoppedAt;   // the program's clock, once the output runs

    void SetUp() override
    {
        if (! vantrel::test::JackDummyServer::installed())
            GTEST_SKIP() << "jackd is not installed (/usr/bin/jackd)";
        server.synchronous = true;
        ASSERT_TRUE (server.start()) << server.lastError();
        ASSERT_TRUE (folder.createDirectory());
    }

    void TearDown() override
    {
        adapter.reset();
        capture.reset();
        server.stop();
        folder.deleteRecursively();
    }

    /** Runs `play` (which opens the output, plays and captures) with a fresh adapter until its
        capture lost no JACK cycle: a lost cycle shifts or drops a block, so only an
        uninterrupted capture can be compared sample for sample. The server runs synchronously,
        so every client finishes every cycle before the next one begins: an xrun it reports is a
        late cycle (the dummy driver falls behind its clock), not a lost one, and is only
        recorded; a lost cycle shows as a jump in the capture's frame time. Fails when every one
        of `attempts` captures lost cycles. */
    template <typename Play>
    void captureWithoutLostCycles (Play play)
    {
        std::string interruptions;
        int lateCycles = 0;
        for (int attempt = 1; attempt <= attempts; ++attempt)
        {
            adapter.reset();
            capture.reset();
            adapter = std::make_unique<JuceAudioAdapter> (recognisableMedia (10.0), [] { return std::int64_t { 0 }; },
                                                          vantrel::test::privateRackOptions());
            adapter->setLimiterEnabled (false);
            // The program's clock runs until the output runs (an open waits for JACK's
            // connections by the clock: it opens again and gives up by it), then stands still:
            // a starved server is not taken for a stalled device, which would close the output
            // in the middle of a capture.
            clockStoppedAt.reset();
            adapter->millisecondCounter = [this] { return clockStoppedAt.value_or (juce::Time::getMillisecondCounter()); };
            play();
            if (HasFatalFailure())
                return;
            ASSERT_NE (capture, nullptr);
            capture->stop();
            lateCycles += capture->xruns();
            if (capture->skipped() == 0)
            {
                RecordProperty ("capturesWithLostCycles", attempt - 1);
                RecordProperty ("lateCycles", lateCycles);
                return;
            }
            interruptions += " " + std::to_string (capture->skipped());
            std::printf ("capture %d lost %d JACK cycles, captured again\n", attempt, capture->skipped());
        }
        FAIL() << "every capture lost JACK cycles; cycles lost per capture:" << interruptions;
    }

    /** Opens `settings` as the program does at its start, and waits until the output runs, as
        the program's clock brings it: an open succeeds before JACK shows its channels'
        connections, and the output starts at the tick that sees them (a GO before that is
        refused, as the program's own is); a busy server refuses the framework's client now and
        then, and a connection can fail, so the output is opened again by the clock. Then the
        clock stops. */
    void openOutputOrReopened (const OutputDeviceSettings& settings)
    {
        const auto opened = adapter->openOutput (settings, true);
        ASSERT_TRUE (tickUntil ([&] { return adapter->isRunning(); }))
            << opened.message << "; " << vantrel::test::describeDevice (*adapter) << "; JACK: "
            << vantrel::jack_messages::recentErrors().joinIntoString (" / ");
        clockStoppedAt = juce::Time::getMillisecondCounter();
    }

    /** The adapter on the server's playback ports, and a capture client listening to its outputs. */
    void openSystemAndListen()
    {
        ASSERT_NO_FATAL_FAILURE (openOutputOrReopened (jackSystem));
        capture = std::make_unique<JackCaptureClient>();
        // A name of this server's own: libjack's client sockets are named by client and user
        // only, so one name in two test processes at once can clash.
        ASSERT_TRUE (capture->open ("capture-" + server.serverName())) << capture->lastError();
        // A loaded server can refuse a connection for a moment; it is asked again.
        ASSERT_TRUE (vantrel::test::waitUntil ([&] { return capture->connectFrom (JackCaptureClient::programClientName); }, [] {},
                                              vantrel::test::patienceMs, 50)) << capture->lastError();
        capture->start();
    }

    void prepared (const std::string& key, float gainDb)
    {
        ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, folder, key, gainDb)) << key;
    }

    template <typename Condition>
    bool tickUntil (Condition condition)
    {
        return vantrel::test::tickUntil (*adapter, condition, vantrel::test::patienceMs, 10);
    }

    /** Waits for `frames` more captured frames (a block and the output stage's delay are well
        inside 4800), ticking the adapter meanwhile. */
    bool captureMore (size_t frames)
    {
        return capture->waitForFrames (capture->framesCaptured() + frames, vantrel::test::patienceMs, [this] { adapter->tick(); });
    }

    /** A GO of the track after 100 ms of captured silence; returns the frames captured before the
        GO was submitted. */
    size_t goAfterSilence (std::int64_t playToken)
    {
        EXPECT_TRUE (captureMore (4800));
        const auto beforeGo = capture->framesCaptured();
        EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, trackKey, 0.0, playToken }), SinkAnswer::accepted);
        return beforeGo;
    }

    /** The track's frame `frame - start` at the track's gain on `channel`; 0 before `start`. */
    static double trackAt (int channel, size_t start, size_t frame)
    {
        return frame < start ? 0.0 : mediaSample (trackKey, channel, (std::int64_t) (frame - start)) * linearGain (trackGainDb);
    }
};

TEST_F (JackCaptureTest, GoArrivesAsTheMediaAtItsGainOnBothChannelsAfterSilence)
{
    constexpr size_t heard = 9600;
    size_t beforeGo = 0;
    ASSERT_NO_FATAL_FAILURE (captureWithoutLostCycles ([&] {
        ASSERT_NO_FATAL_FAILURE (openSystemAndListen());
        ASSERT_NO_FATAL_FAILURE (prepared (trackKey, trackGainDb));
        beforeGo = goAfterSilence (11);
        ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > (std::int64_t) heard; })) << vantrel::test::describeDevice (*adapter);
        ASSERT_TRUE (captureMore (4800)) << vantrel::test::describeDevice (*adapter);
    }));

    const auto frames = capture->stereoFrames();
    const auto start = firstSounding (frames.left);
    ASSERT_LT (start, frames.left.size()) << "the GO never reached the capture; " << vantrel::test::describeDevice (*adapter);
    EXPECT_GE (start, beforeGo) << "sound before the GO";
    EXPECT_EQ (firstSounding (frames.right), start);
    ASSERT_GE (frames.left.size(), start + heard);

    // Sample for sample the media from its first frame, at -6 dB, on both channels.
    const auto end = start + heard;
    EXPECT_EQ (firstMismatch (frames.left, start, end, [&] (size_t i) { return trackAt (0, start, i); }), end);
    EXPECT_EQ (firstMismatch (frames.right, start, end, [&] (size_t i) { return trackAt (1, start, i); }), end);
    const double expectedPeak = 0.25 * std::pow (10.0, -6.0 / 20.0);
    EXPECT_NEAR (peakOf (frames.left, start, end), expectedPeak, 1.0e-4);
    EXPECT_NEAR (peakOf (frames.right, start, end), expectedPeak, 1.0e-4);
}

TEST_F (JackCaptureTest, PadOnTopOfTheTrackSumsWithIt)
{
    constexpr size_t heard = 9600;
    ASSERT_NO_FATAL_FAILURE (captureWithoutLostCycles ([&] {
        ASSERT_NO_FATAL_FAILURE (openSystemAndListen());
        ASSERT_NO_FATAL_FAILURE (prepared (trackKey, trackGainDb));
        ASSERT_NO_FATAL_FAILURE (prepared (padKey, 0.0f));
        goAfterSilence (12);
        ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > 4800; })) << vantrel::test::describeDevice (*adapter);
        ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::accepted);
        ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (2).position > (std::int64_t) heard; })) << vantrel::test::describeDevice (*adapter);
        ASSERT_TRUE (captureMore (4800)) << vantrel::test::describeDevice (*adapter);
        EXPECT_TRUE (adapter->voiceStatus (1).playing);
    }));

    const auto frames = capture->stereoFrames();
    const auto start = firstSounding (frames.left);
    ASSERT_LT (start, frames.left.size()) << "the GO never reached the capture; " << vantrel::test::describeDevice (*adapter);

    // What is left after taking the track away is the pad, from its first frame, at 0 dB.
    std::vector<float> rest[2];
    for (int c = 0; c < 2; ++c)
    {
        const auto& heardChannel = c == 0 ? frames.left : frames.right;
        for (size_t i = 0; i < heardChannel.size(); ++i)
            rest[c].push_back ((float) ((double) heardChannel[i] - trackAt (c, start, i)));
    }
    const auto padStart = firstSounding (rest[0]);
    ASSERT_LT (padStart, rest[0].size()) << "the pad never reached the capture";
    EXPECT_GT (padStart, start + 4800);
    EXPECT_EQ (firstSounding (rest[1]), padStart);
    ASSERT_GE (rest[0].size(), padStart + heard);
    const auto end = padStart + heard;
    for (int c = 0; c < 2; ++c)
    {
        const auto& heardChannel = c == 0 ? frames.left : frames.right;
        const auto sum = [&] (size_t i) { return trackAt (c, start, i) + mediaSample (padKey, c, (std::int64_t) (i - padStart)); };
        EXPECT_EQ (firstMismatch (heardChannel, padStart, end, sum), end) << "channel " << c;
    }
    // Both at once: louder than either (left 0.125..0.25 at -6 dB plus 0.0625..0.125).
    EXPECT_GT (peakOf (frames.left, padStart, end), 0.25 * linearGain (trackGainDb) + 0.0625);
}

TEST_F (JackCaptureTest, StopOfMainReturnsTheOutputToSilenceRightAfterItsLastFrame)
{
    size_t played = 0;
    ASSERT_NO_FATAL_FAILURE (captureWithoutLostCycles ([&] {
        ASSERT_NO_FATAL_FAILURE (openSystemAndListen());
        ASSERT_NO_FATAL_FAILURE (prepared (trackKey, trackGainDb));
        goAfterSilence (13);
        ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > 4800; })) << vantrel::test::describeDevice (*adapter);
        ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::stopMain, trackKey, 0.0, 0 }), SinkAnswer::accepted);
        ASSERT_TRUE (tickUntil ([&] { return ! adapter->voiceStatus (1).playing; })) << vantrel::test::describeDevice (*adapter);
        played = (size_t) adapter->voiceStatus (1).position;
        ASSERT_TRUE (captureMore (9600)) << vantrel::test::describeDevice (*adapter);
    }));

    // The media up to the frame the engine stopped at, then nothing at all.
    const auto frames = capture->stereoFrames();
    const auto start = firstSounding (frames.left);
    ASSERT_LT (start, frames.left.size()) << "the GO never reached the capture; " << vantrel::test::describeDevice (*adapter);
    const auto silentFrom = start + played;
    ASSERT_LT (silentFrom + 4800, frames.left.size());
    EXPECT_EQ (firstMismatch (frames.left, start, silentFrom, [&] (size_t i) { return trackAt (0, start, i); }), silentFrom);
    EXPECT_EQ (firstMismatch (frames.right, start, silentFrom, [&] (size_t i) { return trackAt (1, start, i); }), silentFrom);
    EXPECT_EQ (firstSounding (frames.left, silentFrom), frames.left.size());
    EXPECT_EQ (firstSounding (frames.right, silentFrom), frames.right.size());
}

/** The capture client is itself the output: four inputs, so the adapter's output pair picks
    which two of them carry the program's left and right. */
class JackCapturePairTest : public JackCaptureTest, public ::testing::WithParamInterface<int> {};

TEST_P (JackCapturePairTest, TheChosenOutputPairCarriesTheMediaLeftAndRightAndTheOthersStaySilent)
{
    const int pair = GetParam();
    constexpr size_t heard = 9600;
    ASSERT_NO_FATAL_FAILURE (captureWithoutLostCycles ([&] {
        capture = std::make_unique<JackCaptureClient> (4);
        ASSERT_TRUE (capture->open ("pairs-" + server.serverName())) << capture->lastError();
        capture->start();
        const auto name = juce::String (capture->name());
        ASSERT_NO_FATAL_FAILURE (openOutputOrReopened ({ "JACK", name, "JACK:" + name, 0.0, 0, pair }));
        ASSERT_NO_FATAL_FAILURE (prepared (trackKey, trackGainDb));
        goAfterSilence (14);
        ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > (std::int64_t) heard; })) << vantrel::test::describeDevice (*adapter);
        ASSERT_TRUE (captureMore (4800)) << vantrel::test::describeDevice (*adapter);
    }));

    const auto frames = capture->stereoFrames (pair * 2);
    const auto start = firstSounding (frames.left);
    ASSERT_LT (start, frames.left.size()) << "nothing arrived on pair " << pair << "; " << vantrel::test::describeDevice (*adapter);
    ASSERT_GE (frames.left.size(), start + heard);
    const auto end = start + heard;
    EXPECT_EQ (firstMismatch (frames.left, start, end, [&] (size_t i) { return trackAt (0, start, i); }), end);
    EXPECT_EQ (firstMismatch (frames.right, start, end, [&] (size_t i) { return trackAt (1, start, i); }), end);
    const auto other = capture->stereoFrames ((1 - pair) * 2);
    EXPECT_EQ (firstSounding (other.left), other.left.size());
    EXPECT_EQ (firstSounding (other.right), other.right.size());
}

INSTANTIATE_TEST_SUITE_P (Pairs, JackCapturePairTest, ::testing::Values (0, 1));
} // namespace
