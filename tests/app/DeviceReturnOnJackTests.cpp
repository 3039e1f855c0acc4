// A show on a private JACK server whose server is stopped under a playing track and started
// again: the output that comes back by itself sounds nothing until the operator resumes, with and
// without a plug-in in the master rack (one of them holding audio of its own), and when the
// server first returns at another rate; PAUSE then resumes the track where it was lost, and
// nothing from before the loss sounds after it, also when PAUSE comes 50 ms after the return. The program's output is the test's own capture
// client, so the capture hears the returned device from its very first cycle.
#include "SessionTestSupport.h"

#include "audio/output/AdapterRackSupport.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace
{
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using namespace vantrel::test;

constexpr double rate = 48000.0;
constexpr const char* listenerName = "vantrel-return";
const vantrel::OutputDeviceSettings listenerOutput { "JACK", listenerName, juce::String ("JACK:") + listenerName, 0.0, 0, 0 };

/** -90 dBFS. */
const double silenceLimit = std::pow (10.0, -90.0 / 20.0);

/** The track's amplitude tells where it is: 0.05 + 0.01 per second, in steps of 50 ms. */
constexpr double toneFrequency = 300.0;
constexpr double stepSeconds = 0.05;
double amplitudeAt (double seconds)  { return 0.05 + 0.01 * seconds; }
double secondsAt (double amplitude)  { return (amplitude - 0.05) / 0.01; }
/** Judged windows: whole 10 ms, one step long. */
constexpr std::size_t window = 2400;

std::vector<ToneStep> risingSteps (double seconds)
{
    std::vector<ToneStep> steps;
    for (double t = 0.0; t < seconds; t += stepSeconds)
        steps.push_back ({ stepSeconds, (float) amplitudeAt (t) });
    return steps;
}

/** The plug-in in slot 1 of the master rack. */
enum class Insert
{
    none,
    gain,    // OrvaneTestGain at unity: the audio in flight is the bridge's
    delay    // OrvaneTestDelay: 100 ms of audio held inside the plug-in too
};

/** How long the plug-in itself delays the audio (not what it reports). */
std::size_t pluginDelayOf (Insert insert) { return insert == Insert::delay ? 4800 : 0; }

/** The bundle folder of the delay plug-in. */
juce::File delayBundle()
{
    return juce::File (ORVANE_TEST_DELAY_LIBRARY).getParentDirectory().getParentDirectory().getParentDirectory();
}

struct ReturnCase
{
    const char* name;
    Insert insert;
    int firstReturnRate;    // the server comes back at this rate first (then at 48 kHz)
    bool padFirst = false;  // before resuming, the operator fires a pad: it sounds at once
    std::size_t resumeAfterFrames = 24000;   // the operator's wait after the return before PAUSE
};

/** The case's name in the test's name (its bytes would hold pointers, new at every run). */
void PrintTo (const ReturnCase& c, std::ostream* out) { *out << c.name; }

constexpr double padFrequency = 700.0;

class DeviceReturnOnJackTest : public ::testing::TestWithParam<ReturnCase>
{
protected:
    JackDummyServer server;

    void SetUp() override
    {
        if (! JackDummyServer::installed())
            GTEST_SKIP() << "jackd is not installed (/usr/bin/jackd)";
        server.synchronous = true;
    }

    /** The test's capture client as the program's output, recording. */
    /** The listener under its own name; a server just started on a loaded machine may refuse a
        client for a while, so it is asked again until the patience runs out. */
    static std::unique_ptr<JackCaptureClient> listen()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (patienceMs);
        for (;;)
        {
            auto capture = std::make_unique<JackCaptureClient> (2, 30 * 48000);
            if (capture->open (listenerName) && capture->name() == listenerName)
            {
                capture->start();
                return capture;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return nullptr;
            capture.reset();
            std::this_thread::sleep_for (std::chrono::milliseconds (100));
        }
    }

    /** The loudest sample of both channels in [begin, end). */
    static double peakOf (const JackCaptureClient& capture, std::size_t begin, std::size_t end)
    {
        const auto frames = capture.stereoFrames();
        double peak = 0.0;
        for (const auto* channel : { &frames.left, &frames.right })
            for (auto i = begin; i < std::min (end, channel->size()); ++i)
                peak = std::max (peak, (double) std::abs ((*channel)[i]));
        return peak;
    }

    /** One attempt; false when a capture lost a JACK cycle (the attempt is then played again). */
    bool attempt (const ReturnCase& param)
    {
        SessionRig rig;
        ManualClock deviceClock;
        RackProfile profile;   // a plug-in folder with the gain plug-in
        const auto delayFolder = rig.profile.path().getChildFile ("plugins");
        if (param.insert != Insert::none)
        {
            EXPECT_TRUE (profile.ready());
            EXPECT_TRUE (delayBundle().copyDirectoryTo (delayFolder.getChildFile (delayBundle().getFileName())));
            rig.options.workerExecutable = realWorker();
        }
        const auto track = writeToneSteps (rig.media(), "m.wav", risingSteps (20.0), toneFrequency);
        EXPECT_TRUE (vantrel::writeOutputDeviceSettings (rig.deviceFile(), listenerOutput).ok);

        server.sampleRate = 48000;
        EXPECT_TRUE (server.start()) << server.lastError();
        auto before = listen();
        if (before == nullptr)
        {
            ADD_FAILURE() << "the capture client did not open as " << listenerName;
            return true;
        }
        auto session = rig.make (true);
        session->mutableAudioAdapter().millisecondCounter = deviceClock.function();
        const auto reopen = [&] {
            deviceClock.advance (1000);   // every tick may try to open again
            session->tick();
        };
        if (! waitUntil ([&] { return session->isOutputOpen(); }, reopen, patienceMs, 10))
        {
            ADD_FAILURE() << session->statusText();
            return true;
        }

        if (param.insert != Insert::none)
        {
            const juce::String pluginName = param.insert == Insert::gain ? gainPluginName : "OrvaneTestDelay";
            const auto uidOf = [pluginName] (const vantrel::VstRackStatus& s) {
                for (const auto& plugin : s.plugins)
                    if (plugin.name == pluginName && ! plugin.duplicate)
                        return plugin.uid;
                return juce::String();
            };
            auto& rack = session->audioAdapter().rack();
            const auto settle = [&] (auto condition) {
                return tickUntil (*session, [&] { return ! rack.isBusy() && condition (rack.status()); });
            };
            EXPECT_TRUE (session->addVstSearchFolder (param.insert == Insert::gain ? profile.pluginFolder() : delayFolder));
            EXPECT_TRUE (settle ([&] (const vantrel::VstRackStatus& s) { return uidOf (s).isNotEmpty() && ! s.scanning; }))
                << rack.status().message;
            EXPECT_TRUE (session->chooseVstPlugin (0, uidOf (rack.status())));
            EXPECT_TRUE (settle ([] (const vantrel::VstRackStatus& s) { return s.slots[0].loaded; })) << rack.status().message;
            EXPECT_TRUE (session->setVstSlotEnabled (0, true));
            EXPECT_TRUE (settle ([] (const vantrel::VstRackStatus& s) { return s.slots[0].enabled && s.slots[0].processedBlocks > 0; }))
                << rack.status().message;
            if (::testing::Test::HasFailure())
                return true;
        }

        const auto playlist = playlistOf ("Show", { track });
        EXPECT_TRUE (addAndOpen (*session, playlist));
        EXPECT_TRUE (tickUntilPrepared (*session, playlist.rows[0].id));
        if (param.padFirst)
        {
            session->assignPad (1, 1, writeToneSteps (rig.media(), "p.wav", { { 0.3, 0.1f } }, padFrequency));
            EXPECT_TRUE (tickUntil (*session, [&] { return ! session->catalogState().pads[0].asset.empty(); }));
            EXPECT_TRUE (tickUntilPrepared (*session, vantrel::padMediaKey (1, 1)));
        }
        EXPECT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
        EXPECT_TRUE (tickUntil (*session, [&] { return session->mutableAudioAdapter().voiceStatus (1).position > (std::int64_t) (1.5 * rate); }));
        // The capture hears the track before the loss: its silence later means something.
        const auto heard = before->framesCaptured();
        EXPECT_GT (toneAmplitude (before->stereoFrames().left, heard - window, heard, toneFrequency), 0.05);

        before->close();
        server.stop();
        if (! tickUntil (*session, [&] { return session->lastStatus() == ja ("出力先が切断されました。安全Pause退避しました"); }))
        {
            ADD_FAILURE() << "the loss was not reported: " << session->statusText();
            return true;
        }
        const auto held = session->mutableAudioAdapter().voiceStatus (1).position;
        EXPECT_TRUE (session->cueState().paused);

        std::vector<std::unique_ptr<JackCaptureClient>> captures;
        if (param.firstReturnRate != 48000)
        {
            // At another rate the paused track's output does not come back: it waits for its own.
            server.sampleRate = param.firstReturnRate;
            EXPECT_TRUE (server.start()) << server.lastError();
            captures.push_back (listen());
            if (captures.back() == nullptr)
            {
                ADD_FAILURE() << "the capture client did not open at the other rate";
                return true;
            }
            for (int tries = 0; tries < 3; ++tries)
                reopen();
            EXPECT_TRUE (captures.back()->waitForFrames (captures.back()->framesCaptured() + 24000, patienceMs, reopen));
            EXPECT_FALSE (session->isOutputOpen());
            EXPECT_EQ (session->audioAdapter().lastError(), ja ("保持中のサンプルレートで出力先を復帰できません"));
            captures.back()->close();
            server.stop();
            server.sampleRate = 48000;
        }

        EXPECT_TRUE (server.start()) << server.lastError();
        captures.push_back (listen());
        auto* after = captures.back().get();
        if (after == nullptr)
        {
            ADD_FAILURE() << "the capture client did not open again";
            return true;
        }
        if (! waitUntil ([&] { return session->isOutputOpen(); }, reopen, patienceMs, 10))
        {
            ADD_FAILURE() << describeDevice (session->mutableAudioAdapter());
            return true;
        }
        EXPECT_EQ (session->lastStatus(), ja ("出力先を復旧しました。再開: ") + "Space");
        // The operator waits a moment on the returned device before resuming.
        EXPECT_TRUE (after->waitForFrames (after->framesCaptured() + param.resumeAfterFrames, patienceMs, [&] { session->tick(); }));
        EXPECT_TRUE (session->cueState().paused);
        EXPECT_EQ (session->mutableAudioAdapter().voiceStatus (1).position, held);
        auto silentUntil = after->framesCaptured();
        if (param.padFirst)
        {
            // The pad sounds on the returned device while the track stays paused.
            session->triggerPad (1);
            EXPECT_TRUE (after->waitForFrames (silentUntil + 24000, patienceMs, [&] { session->tick(); }));
            const auto padHeard = after->stereoFrames().left;
            EXPECT_NEAR (toneAmplitude (padHeard, silentUntil + 4800, silentUntil + 4800 + window, padFrequency), 0.1, 0.005);
            EXPECT_LT (toneAmplitude (padHeard, silentUntil + 4800, silentUntil + 4800 + window, toneFrequency), 1.0e-4);
            EXPECT_LT (peakOf (*after, silentUntil + 19200, after->framesCaptured()), silenceLimit) << "the pad did not end";
        }
        const auto resumedAt = after->framesCaptured();
        session->togglePause();
        EXPECT_FALSE (session->cueState().paused);
        EXPECT_TRUE (after->waitForFrames (resumedAt + 48000, patienceMs, [&] { session->tick(); }));

        for (const auto& capture : captures)
            if (capture->skipped() > 0)
                return false;

        const auto silentPeak = peakOf (*after, 0, silentUntil);
        EXPECT_LT (silentPeak, silenceLimit) << "the returned device sounded before the operator resumed: "
                                             << 20.0 * std::log10 (silentPeak) << " dBFS";
        if (captures.size() > 1)
        {
            EXPECT_LT (peakOf (*captures.front(), 0, captures.front()->framesCaptured()), silenceLimit)
                << "the output sounded at the other rate";
        }

        // Where the sound comes back: its amplitude tells the track's position.
        const auto frames = after->stereoFrames();
        std::size_t back = resumedAt;
        while (back < frames.left.size() && std::abs (frames.left[back]) < 1.0e-3)
            ++back;
        EXPECT_LT (back, frames.left.size()) << "nothing sounded after PAUSE";

        // The resumed track reaches the output through the bridge and the plug-in's own delay,
        // as through a plug-in started from silence: whatever sounds before is from before the loss.
        const auto throughRack = param.insert == Insert::none
                                     ? std::size_t { 0 }
                                     : (std::size_t) session->audioAdapter().rack().status().bridgeLatency + pluginDelayOf (param.insert);
        const auto heldPeak = peakOf (*after, resumedAt, resumedAt + throughRack);
        EXPECT_LT (heldPeak, silenceLimit) << "audio from before the loss sounded after PAUSE: "
                                           << 20.0 * std::log10 (heldPeak) << " dBFS";
        const auto begin = back + 480;   // past the first cycle of the returning sound
        const auto amplitude = toneAmplitude (frames.left, begin, begin + window, toneFrequency);
        const auto resumedSeconds = secondsAt (amplitude) - (double) (begin - back) / rate;
        const auto lostSeconds = (double) held / rate;
        EXPECT_NEAR (resumedSeconds, lostSeconds, 0.2) << "amplitude " << amplitude;
        RecordProperty ("resumedAfterLossMs", (int) std::lround (1000.0 * (resumedSeconds - lostSeconds)));
        RecordProperty ("peakBeforeResumeDbfs", (int) std::lround (20.0 * std::log10 (std::max (silentPeak, 1.0e-12))));
        return true;
    }
};

TEST_P (DeviceReturnOnJackTest, TheReturnedOutputSoundsNothingUntilPauseResumesTheTrackWhereItWasLost)
{
    for (int attempts = 1; attempts <= 4; ++attempts)
    {
        if (attempt (GetParam()) || HasFailure())
            return;
        std::printf ("attempt %d lost JACK cycles; played again\n", attempts);
    }
    FAIL() << "no attempt was heard whole";
}

INSTANTIATE_TEST_SUITE_P (Returns, DeviceReturnOnJackTest, ::testing::Values (
    ReturnCase { "SameRate", Insert::none, 48000 },
    ReturnCase { "SameRateWithGainPlugin", Insert::gain, 48000 },
    ReturnCase { "SameRateWithDelayPlugin", Insert::delay, 48000 },
    ReturnCase { "ResumedAt50msWithDelayPlugin", Insert::delay, 48000, false, 2400 },
    ReturnCase { "OtherRateFirst", Insert::none, 44100 },
    ReturnCase { "OtherRateFirstWithDelayPlugin", Insert::delay, 44100 },
    ReturnCase { "PadBeforeResume", Insert::none, 48000, true }),
    [] (const auto& info) { return std::string (info.param.name); });
} // namespace
