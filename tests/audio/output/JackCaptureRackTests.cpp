// The master rack in the program's real output, heard by a separate JACK client on a private
// dummy server: plug-ins scanned, chosen and switched on through the adapter's rack interface
// while a track plays change the track by their gain, a bridge latency later.
#include "AdapterRackSupport.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace
{
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::SinkAnswer;
using vantrel::JuceAudioAdapter;
using vantrel::OutputDeviceSettings;
using vantrel::test::JackCaptureClient;

const OutputDeviceSettings jackSystem { "JACK", "system", "JACK:system", 0.0, 0, 0 };
constexpr float trackLevel = 0.25f;
constexpr float storedGain = 0.5f;   // the gain in the second slot's stored state

class JackCaptureRackTest : public ::testing::Test
{
protected:
    /** Runs with a fresh adapter before a latched rack fault counts as a failure: on a starved
        machine the worker can miss the blocks that the bridge waits for, and the rack then falls
        back to the dry signal for good, as it must. */
    static constexpr int attempts = 5;

    vantrel::test::JackDummyServer server;
    vantrel::test::RackProfile profile;
    vantrel::test::GainPluginState halfGain;
    std::unique_ptr<JuceAudioAdapter> adapter;
    std::unique_ptr<JackCaptureClient> capture;

    void SetUp() override
    {
        if (! vantrel::test::JackDummyServer::installed())
            GTEST_SKIP() << "jackd is not installed (/usr/bin/jackd)";
        ASSERT_TRUE (profile.ready());
        halfGain = vantrel::test::gainPluginState (storedGain);
        ASSERT_TRUE (halfGain.uid.isNotEmpty() && halfGain.stateHex.isNotEmpty()) << "the worker did not save a state";
        server.synchronous = true;   // a late client delays the cycle instead of losing it
        ASSERT_TRUE (server.start()) << server.lastError();
    }

    void TearDown() override
    {
        adapter.reset();
        capture.reset();
        server.stop();
    }

    /** The profile as an operator left it: the gain plug-in in the second slot at the stored
        gain, switched off, and no search folder yet. */
    void writeSettings() const
    {
        vantrel::RackConfigContents contents;
        contents.slots[1].uid = halfGain.uid;
        contents.slots[1].name = vantrel::test::gainPluginName;
        contents.slots[1].stateHex = halfGain.stateHex;
        contents.slots[1].enabled = false;
        ASSERT_TRUE (vantrel::writeRackConfig (profile.settingsFile(), contents).ok);
    }

    /** The mean magnitude of the left channel over `frames` captured frames that follow `skip`
        frames from now, ticking the adapter meanwhile; -1 when they did not arrive. */
    double levelAfter (size_t skip, size_t frames)
    {
        capture->start();
        if (! capture->waitForFrames (skip + frames, vantrel::test::patienceMs, [this] { adapter->tick(); }))
            return -1.0;
        if (capture->skipped() > 0)
            lostCycles = true;   // the capture missed samples: its level says nothing
        const auto left = capture->channel (0);
        double sum = 0.0;
        for (size_t i = skip; i < skip + frames; ++i)
            sum += std::abs ((double) left[i]);
        return sum / (double) frames;
    }

    bool lostCycles = false;   // a capture of this attempt skipped a cycle

    /** Frames after a finished rack change by which its sound is surely heard: the bridge
        latency, then the 10 ms crossfade many times over. */
    size_t settleFrames()
    {
        return (size_t) adapter->rack().status().bridgeLatency + 9600;
    }
};

TEST_F (JackCaptureRackTest, PlugInsChosenAndSwitchedOnDuringATrackChangeItByTheirGain)
{
    constexpr size_t measured = 9600;
    double before = 0.0, chosen = 0.0, switchedOn = 0.0;
    std::string faults;
    for (int attempt = 1; attempt <= attempts; ++attempt)
    {
        adapter.reset();
        capture.reset();
        lostCycles = false;   // each attempt is judged by its own captures
        adapter = std::make_unique<JuceAudioAdapter> (vantrel::test::constantMedia (120.0, trackLevel), [] { return std::int64_t { 0 }; },
                                                      vantrel::test::privateRackOptions());
        adapter->setLimiterEnabled (false);
        // The program's clock stands still: a starved server is not taken for a stalled device.
        adapter->millisecondCounter = [] { return std::uint32_t { 0 }; };
        ASSERT_NO_FATAL_FAILURE (writeSettings());
        adapter->setRackFiles (profile.settingsFile(), vantrel::test::realWorker());

        const auto opened = adapter->openOutput (jackSystem, true);
        ASSERT_TRUE (opened.ok) << opened.message;
        capture = std::make_unique<JackCaptureClient>();
        ASSERT_TRUE (capture->open ("vantrel-rack-capture")) << capture->lastError();
        ASSERT_TRUE (capture->connectFrom (JackCaptureClient::programClientName)) << capture->lastError();

        // Scanned through the rack, before anything plays (search folders wait for silence).
        ASSERT_EQ (vantrel::test::scanForGainPlugin (*adapter, profile), halfGain.uid) << adapter->rack().status().message;

        ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, profile.mediaFolder(), "row-1"));
        ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 1 }), SinkAnswer::accepted)
            << adapter->lastError();
        before = levelAfter (settleFrames(), measured);

        // Chosen while the track plays: the first slot loads at the plug-in's default gain.
        ASSERT_TRUE (adapter->rack().choosePlugin (0, halfGain.uid));
        ASSERT_TRUE (vantrel::test::slotSettles (*adapter, 0, true)) << adapter->rack().status().message;
        chosen = levelAfter (settleFrames(), measured);

        // Switched on: the second slot loads with its stored state.
        ASSERT_TRUE (adapter->rack().setSlotEnabled (1, true));
        ASSERT_TRUE (vantrel::test::slotSettles (*adapter, 1, true)) << adapter->rack().status().message;
        switchedOn = levelAfter (settleFrames(), measured);

        const auto status = adapter->rack().status();
        ASSERT_TRUE (adapter->voiceStatus (1).playing) << vantrel::test::describeDevice (*adapter);
        if (lostCycles)
        {
            std::printf ("attempt %d: the capture lost a cycle, played again\n", attempt);
            faults += " \"capture lost a cycle\"";
            ASSERT_LT (attempt, attempts) << "every attempt lost a capture cycle or latched a fault:" << faults;
            continue;
        }
        if (! status.audioFault)
        {
            EXPECT_EQ (status.latencySum, 256) << "both slots carry the plug-in";
            break;
        }
        faults += " \"" + status.faultText.toStdString() + "\"";
        std::printf ("attempt %d: the rack fell back to the dry signal (%s), played again\n", attempt, status.faultText.toRawUTF8());
        ASSERT_LT (attempt, attempts) << "the rack latched a fault in every attempt:" << faults;
    }

    EXPECT_NEAR (before, trackLevel, trackLevel * 0.01);
    EXPECT_NEAR (chosen, before * vantrel::test::gainPluginDefaultGain, before * 0.01);
    EXPECT_NEAR (switchedOn, before * storedGain, before * 0.01);
}
} // namespace
