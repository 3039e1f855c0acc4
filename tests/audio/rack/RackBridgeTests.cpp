// The audio bridge: the bridge latency, the processed signal exactly that late, the delayed dry
// fallback, the faults it latches during playback, and a load while the show plays.
#include "RackTestSupport.h"

#include "audio/rack/RackTexts.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

// The bridge's crossfades are one-pole ramps in float: they settle to within about 1e-5 of
// their end (a float step smaller than its ulp stops moving), so "exact" allows 1e-4. A delay off
// by one frame would be off by up to 1 with this input.
constexpr double exact = 1.0e-4;

// After a load the processed signal fades in over about 10 ms from where the dry one was;
// 200 ms later it has settled.
constexpr std::int64_t settled = 9600;

TEST (RackBridge, TheBridgeLatencyFollowsTheRateAndTheDeviceBlock)
{
    struct Case
    {
        double rate;
        int block;
        int latency;
    };

    const Case cases[] = {
        { 44100, 512, 2048 }, { 48000, 512, 2048 }, { 96000, 512, 4096 }, { 192000, 512, 8192 },
        { 48000, 1024, 2560 }, { 48000, 2048, 3584 }, { 48000, 200000, 248 * 512 }, { 8000, 64, 2048 },
        { 384000, 512, 16384 }, { 48000, 0, 2048 }, { std::nan (""), 512, 2048 }, { -1.0, 512, 2048 },
    };

    for (const auto& c : cases)
    {
        MasterVstRack rack;
        rack.prepare (c.rate, c.block);
        EXPECT_EQ (rack.bridgeLatencySamples(), c.latency) << c.rate << " / " << c.block;
    }
}

TEST (RackBridge, WithoutAConfiguredSlotTheBusPassesUntouched)
{
    for (const auto block : { 1, 333, 512, 4096 })
    {
        MasterVstRack rack;
        rack.prepare (48000.0, block);
        BridgeDriver driver (rack, block);
        ASSERT_TRUE (driver.feed (20000, false));
        EXPECT_EQ (driver.outL, driver.inL);
        EXPECT_EQ (driver.outR, driver.inR);
    }

    // Unprepared, or given nothing: untouched as well.
    MasterVstRack rack;
    float sample = 0.7f;
    float* channels[] = { &sample };
    processAsDevice (rack, channels, 1, 1);
    processAsDevice (rack, nullptr, 1, 1);
    EXPECT_EQ (sample, 0.7f);
}

TEST (RackBridge, ProcessedAudioArrivesExactlyTheBridgeLatencyPlusThePluginsOwnDelayLater)
{
    struct Case
    {
        int deviceBlock;
        unsigned latency;
    };

    for (const auto& c : { Case { 512, 0 }, Case { 256, 0 }, Case { 333, 100 }, Case { 1024, 100 } })
    {
        RackFixture fixture;
        fixture.addBundle (c.latency == 0 ? "FakeGain" : "FakeGainL100");
        fixture.writeConfig (slotWith (fakeClassId (fakeGain, c.latency), true, "00"));
        fixture.start ({}, 48000.0, c.deviceBlock);
        ASSERT_TRUE (fixture.waitForCatalogue());

        const auto bridge = fixture.rack->bridgeLatencySamples();
        EXPECT_EQ (bridge, c.deviceBlock <= 512 ? 2048 : 2560);
        BridgeDriver driver (*fixture.rack, c.deviceBlock);
        ASSERT_TRUE (driver.feed (48000));

        // Silence first (the dry history starts empty), then the plug-in's output.
        EXPECT_LE (driver.deviation (0, bridge, 1 << 30, 0.0f), 0.0) << c.deviceBlock;
        EXPECT_LE (driver.deviation (bridge + c.latency + settled, driver.position, bridge + c.latency, 0.5f), exact) << c.deviceBlock;
        EXPECT_EQ (fixture.status().underruns, 0u);
    }
}

TEST (RackBridge, AfterClearingTheHeldAudioNothingFromBeforeSoundsAndTheProcessedPathGoesOn)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.writeConfig (slotWith (fakeClassId (fakeGain, 0), true, "00"));
    fixture.start ({}, 48000.0, 512);
    ASSERT_TRUE (fixture.waitForCatalogue());
    const auto bridge = fixture.rack->bridgeLatencySamples();
    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (24000));

    // A device that stopped and starts again: what the bridge held from before never sounds.
    fixture.rack->clearHeldAudio();
    const auto cleared = driver.position;
    ASSERT_TRUE (driver.feed (2 * bridge + settled, true, [] (std::int64_t) { return 0.0f; }));
    EXPECT_LE (driver.deviation (cleared, driver.position, 0, 0.0f), 0.0);

    // Sound fed after it comes through the plug-in exactly the bridge latency later.
    const auto resumed = driver.position;
    ASSERT_TRUE (driver.feed (24000));
    EXPECT_LE (driver.deviation (resumed, resumed + bridge, 1 << 30, 0.0f), 0.0);
    EXPECT_LE (driver.deviation (resumed + bridge + settled, driver.position, bridge, 0.5f), exact);
}

TEST (RackBridge, AfterClearingTheHeldAudioThePluginsStartFromAClearedStateWithTheirParametersAndStates)
{
    // A delay holding 4800 samples in slot 1, the gain plug-in at its saved gain 0.5 in slot 2.
    const auto delayUid = classIdIn (delayBundle());
    const auto gainUid = gainClassId();
    const auto half = gainStateHex (0.25);
    ASSERT_TRUE (delayUid.isNotEmpty() && gainUid.isNotEmpty() && half.isNotEmpty());
    constexpr std::int64_t held = 4800;

    RackFixture fixture;
    for (const auto& bundle : { delayBundle(), gainBundle() })
        ASSERT_TRUE (bundle.copyDirectoryTo (fixture.pluginFolder().getChildFile (bundle.getFileName())));
    fixture.writeConfig (slotWith (delayUid, true), slotWith (gainUid, true, half));
    fixture.start (realWorker());
    ASSERT_TRUE (fixture.waitForCatalogue());
    ASSERT_TRUE (fixture.status().slots[0].loaded) << fixture.status().slots[0].message;
    ASSERT_TRUE (fixture.status().slots[1].loaded) << fixture.status().slots[1].message;
    ASSERT_TRUE (fixture.rack->saveAndWait().ok);
    const auto storedBefore = fixture.stored();

    const auto bridge = fixture.rack->bridgeLatencySamples();
    BridgeDriver before (*fixture.rack, 512);
    ASSERT_TRUE (before.feed (24000));
    ASSERT_LE (before.deviation (bridge + held + settled, before.position, bridge + held, 0.5f), exact);

    // The device starts again: the first block after it goes through plug-ins that hold nothing,
    // so the output is the new input through the chain from silence, at the same gain.
    fixture.rack->clearHeldAudio();
    BridgeDriver after (*fixture.rack, 512);
    ASSERT_TRUE (after.feed (24000));
    EXPECT_LE (after.deviation (0, bridge + held, 1 << 30, 0.0f), 0.0) << "audio from before the restart sounded";
    EXPECT_LE (after.deviation (0, after.position, bridge + held, 0.5f), exact);

    const auto status = fixture.status();
    for (const auto& slot : status.slots)
        EXPECT_TRUE (slot.loaded && slot.message.isEmpty()) << slot.message;
    ASSERT_TRUE (fixture.rack->saveAndWait().ok);
    const auto storedAfter = fixture.stored();
    for (std::size_t slot = 0; slot < 2; ++slot)
        EXPECT_EQ (storedAfter.slots[slot].stateHex, storedBefore.slots[slot].stateHex) << slot;
    EXPECT_EQ (storedAfter.slots[1].stateHex, half);
}

TEST (RackBridge, TwoSlotsInSeries)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGainL64");
    fixture.addBundle ("FakeGain");
    fixture.writeConfig (slotWith (fakeClassId (fakeGain, 64), true, "00"), slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (30000));
    EXPECT_LE (driver.deviation (2048 + 64 + settled, driver.position, 2048 + 64, 0.25f), exact);

    EXPECT_EQ (fixture.status().slots[1].processedBlocks, fixture.status().slots[0].processedBlocks);
    EXPECT_GT (fixture.status().slots[0].processedBlocks, 50u);
}

TEST (RackBridge, TheRealWorkerCarriesTheGainPluginInBothSlotsWithTheirSavedStates)
{
    const auto uid = gainClassId();
    const auto half = gainStateHex (0.25);   // gain 0.5
    ASSERT_TRUE (uid.isNotEmpty());
    ASSERT_TRUE (half.isNotEmpty());

    RackFixture fixture;
    ASSERT_TRUE (gainBundle().copyDirectoryTo (fixture.pluginFolder().getChildFile (gainBundle().getFileName())));
    fixture.writeConfig (slotWith (uid, true), slotWith (uid, true, half));
    fixture.start (realWorker());
    ASSERT_TRUE (fixture.waitForCatalogue());

    const auto status = fixture.status();
    ASSERT_TRUE (status.slots[0].loaded) << status.slots[0].message;
    ASSERT_TRUE (status.slots[1].loaded) << status.slots[1].message;
    EXPECT_EQ (status.slots[0].latency, 128);
    EXPECT_EQ (status.latencySum, 256);
    EXPECT_EQ (status.slots[0].name, "OrvaneTestGain");

    // The test plug-in reports 128 samples but does not delay: the processed path is exactly
    // the bridge latency late, at the saved gain.
    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (30000));
    EXPECT_LE (driver.deviation (2048 + settled, driver.position, 2048, 0.5f), exact);

    // The first slot got its first state while loading; both round-trip through the file.
    ASSERT_TRUE (fixture.rack->saveAndWait().ok);
    const auto stored = fixture.stored();
    EXPECT_TRUE (stored.slots[0].stateHex.isNotEmpty());
    EXPECT_EQ (stored.slots[1].stateHex, half);
}

TEST (RackBridge, DisablingFadesTheSlotOutOverAbout10msAndEnablingFadesItIn)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.writeConfig (slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    BridgeDriver driver (*fixture.rack, 512);
    const auto constant = [] (std::int64_t) { return 0.5f; };
    ASSERT_TRUE (driver.feed (2048 + settled, true, constant));
    EXPECT_NEAR (driver.outL.back(), 0.25f, exact);

    for (const auto enabled : { false, true })
    {
        ASSERT_TRUE (fixture.rack->setSlotEnabled (0, enabled));
        ASSERT_TRUE (fixture.waitIdle());
        const auto from = (size_t) driver.position;
        ASSERT_TRUE (driver.feed (24000, true, constant));

        // One-pole with a 10 ms time constant: 1 - 0.5 x mix on the way out, and back.
        const auto start = (size_t) std::distance (driver.outL.begin(),
                                                    std::find_if (driver.outL.begin() + (long) from, driver.outL.end(),
                                                                  [&] (float v) { return std::fabs (v - (enabled ? 0.5f : 0.25f)) > 1.0e-4f; }));
        ASSERT_LT (start + 2400, driver.outL.size());
        const auto target = enabled ? 0.25f : 0.5f;
        const auto begin = enabled ? 0.5f : 0.25f;
        EXPECT_NEAR (driver.outL[start], begin, 0.01f);                        // no step
        const auto afterOneConstant = begin + (target - begin) * (1.0f - std::exp (-1.0f));
        EXPECT_NEAR (driver.outL[start + 480], afterOneConstant, 0.01f);
        EXPECT_NEAR (driver.outL[start + 2400], target, 0.002f);               // done after 50 ms
        EXPECT_NEAR (driver.outL.back(), target, exact);
    }

    EXPECT_TRUE (fixture.status().slots[0].loaded);
}

/** A running slot whose worker is stopped while the audio thread goes on without waiting: the
    due blocks are missing (the control thread is held at its clock meanwhile, so that none comes
    back, however the threads are scheduled). The stopped worker is then found by the block
    exchange or, once a fault has stopped the exchange, by the next status poll. */
void stallTheWorkerAndRunAhead (RackFixture& fixture, BridgeDriver& driver)
{
    const auto pid = fixture.fake.pidOf (fakeClassId (fakeGain));
    ASSERT_NE (pid, 0);
    ASSERT_TRUE (platform::stopProcess (pid));
    fixture.clock.hold();
    ASSERT_TRUE (fixture.clock.waitUntilHolding());
    ASSERT_TRUE (driver.feed (8 * 512, false));
    fixture.clock.advanceMs (600);
    fixture.clock.release();
    ASSERT_TRUE (eventually ([&] { return ! fixture.status().slots[0].loaded; }));
}

TEST (RackBridge, MissedBlocksLatchAFaultOnlyDuringPlayback)
{
    for (const auto playing : { true, false })
    {
        RackFixture fixture;
        fixture.addBundle ("FakeGain");
        fixture.writeConfig (slotWith (fakeClassId (fakeGain), true, "00"));
        fixture.start();
        ASSERT_TRUE (fixture.waitForCatalogue());
        fixture.rack->setPlaybackActive (playing);

        BridgeDriver driver (*fixture.rack, 512);
        ASSERT_TRUE (driver.feed (20 * 512));
        stallTheWorkerAndRunAhead (fixture, driver);
        ASSERT_TRUE (driver.feed (40 * 512));

        const auto status = fixture.status();
        EXPECT_TRUE (status.slots[0].message == "PROCESS_F32_BUFFER: VST worker timeout"
                     || status.slots[0].message == "LIVE_STATUS: VST worker timeout") << status.slots[0].message;
        EXPECT_EQ (status.audioFault, playing);
        EXPECT_EQ (status.faultText, playing ? "VST processing missed three block deadlines" : "");
        EXPECT_EQ (status.underruns >= 3, playing);
        EXPECT_EQ (fixture.rack->needsAttention(), true);   // the bypassed slot, and the fault

        // Either way the show goes on with the dry signal, delayed as the plug-in path was.
        EXPECT_LE (driver.deviation (driver.position - 10 * 512, driver.position, 2048, 1.0f), 1.0e-4) << playing;
        EXPECT_TRUE (zombieChildren().empty());
    }
}

TEST (RackBridge, ABlockNewerThanTheOneDueLatchesADiscontinuityDuringPlayback)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.writeConfig (slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (20 * 512));

    // While the control thread is held (at its clock), 300 blocks overflow the outbound ring:
    // what does not fit is dropped. Without playback the dropped blocks are no fault.
    const auto sentBefore = fixture.rack->blocksSent();
    fixture.clock.hold();
    ASSERT_TRUE (fixture.clock.waitUntilHolding());
    ASSERT_TRUE (driver.feed (300 * 512, false));
    EXPECT_EQ (fixture.rack->blocksSent() - sentBefore, RackBlockRing::size - 1);
    fixture.clock.release();
    ASSERT_TRUE (eventually ([&] { return fixture.rack->blocksTaken() >= fixture.rack->blocksSent(); }));
    EXPECT_FALSE (fixture.status().audioFault);

    // With playback active the gap left by the dropped blocks is a discontinuity.
    fixture.rack->setPlaybackActive (true);
    ASSERT_TRUE (driver.feed (6 * 512));
    EXPECT_EQ (fixture.status().faultText, "VST sequence discontinuity");
    EXPECT_TRUE (fixture.status().audioFault);
}

TEST (RackBridge, LoadingASlotDuringPlaybackKeepsTheDelayedSignalWithoutJumpOrSilence)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.addBundle ("FakeHeldSave");   // its load captures a first state, which the test holds
    fixture.writeConfig (slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    ASSERT_TRUE (fixture.rack->tryMarkPlaybackActive());

    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (20 * 512));
    fixture.fake.hold();
    ASSERT_TRUE (fixture.rack->choosePlugin (1, fakeClassId (fakeHeldSave)));

    // Device blocks keep coming through the whole load, without waiting for the control thread
    // (which is busy loading): while the load waits in its state capture, and until it is done.
    ASSERT_TRUE (fixture.fake.waitUntilHeld());
    ASSERT_TRUE (driver.feed (40 * 512, false));
    EXPECT_TRUE (fixture.rack->isBusy());   // all of them went through during the load
    fixture.fake.release();
    ASSERT_TRUE (eventually ([&] { return driver.feed (512, false) && fixture.status().slots[1].loaded; }, 60000));

    ASSERT_TRUE (driver.feed (40 * 512));

    // Every output frame is the input 2048 frames earlier, at a gain between both slots wet
    // (0.25) and dry (1): never the undelayed input, never silence.
    for (std::int64_t n = 2048; n < driver.position; ++n)
    {
        const auto ratio = driver.outL[(size_t) n] / driver.inL[(size_t) (n - 2048)];
        ASSERT_GE (ratio, 0.25f - 1.0e-4f) << n;
        ASSERT_LE (ratio, 1.0f + 1.0e-4f) << n;
    }

    EXPECT_LE (driver.deviation (driver.position - 10 * 512, driver.position, 2048, 0.25f), exact);
    EXPECT_FALSE (fixture.status().audioFault);
    EXPECT_EQ (fixture.status().underruns, 0u);
}

TEST (RackBridge, AFailedLoadDuringPlaybackLeavesNoGapBehind)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.addBundle ("FakeHeldFailLoad");   // refuses once the test lets it go on
    fixture.writeConfig (slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    ASSERT_TRUE (fixture.rack->tryMarkPlaybackActive());

    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (20 * 512));
    fixture.fake.hold();
    ASSERT_TRUE (fixture.rack->choosePlugin (1, fakeClassId (fakeHeldFailLoad)));

    ASSERT_TRUE (fixture.fake.waitUntilHeld());
    ASSERT_TRUE (driver.feed (40 * 512, false));
    EXPECT_TRUE (fixture.rack->isBusy());   // all of them went through during the load
    fixture.fake.release();
    ASSERT_TRUE (eventually ([&] { return driver.feed (512, false) && ! fixture.rack->isBusy(); }, 60000));

    // The blocks not sent while the load held the dry signal are no missed deadlines.
    ASSERT_TRUE (driver.feed (40 * 512));
    EXPECT_TRUE (fixture.status().message.startsWith (rackText::text (rackText::changeFailed)));
    EXPECT_FALSE (fixture.status().audioFault);
    EXPECT_EQ (fixture.status().underruns, 0u);
    EXPECT_LE (driver.deviation (driver.position - 10 * 512, driver.position, 2048, 0.5f), exact);
}

TEST (RackBridge, MonoAndMissingChannels)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.writeConfig (slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    // One channel: right = left in, and the mono sum out.
    std::vector<float> mono;
    std::vector<float> in;

    for (int block = 0; block < 50; ++block)
    {
        std::vector<float> samples (512);

        for (int i = 0; i < 512; ++i)
            samples[(size_t) i] = BridgeDriver::signal (block * 512 + i);

        in.insert (in.end(), samples.begin(), samples.end());
        float* channels[] = { samples.data() };
        processAsDevice (*fixture.rack, channels, 1, 512);
        mono.insert (mono.end(), samples.begin(), samples.end());
        ASSERT_TRUE (eventually ([&] { return fixture.rack->blocksTaken() >= fixture.rack->blocksSent(); }));
    }

    for (size_t n = 2048 + settled; n < mono.size(); ++n)
        ASSERT_NEAR (mono[n], 0.5f * in[n - 2048], exact) << n;

    // A null right channel reads as the left and is not written.
    std::vector<float> left (512, 0.5f);
    float* channels[] = { left.data(), nullptr };
    processAsDevice (*fixture.rack, channels, 2, 512);
    EXPECT_NEAR (left.back(), 0.5f * in[in.size() + 511 - 2048], exact);
}
} // namespace
