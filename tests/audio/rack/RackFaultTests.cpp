// Workers that fail during the show: each fault bypasses its slot within the block deadline, the
// other slot and the audio go on, and no worker is left behind.
#include "RackTestSupport.h"

#include "audio/rack/RackTexts.h"
#include "platform/ChildProcess.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

constexpr double settledDeviation = 1.0e-4;

struct FaultCase
{
    const char* bundle;
    FakeBehaviour behaviour;
    std::vector<juce::String> errors;   // the slot's message (one of them)
};

juce::String processError (const char* text)
{
    return juce::String (workerText::processPrefix) + text;
}

TEST (RackFaults, AFailingWorkerIsBypassedWhileTheOtherSlotAndTheShowGoOn)
{
    const FaultCase cases[] = {
        { "FakeExitAfterHeaderL32", fakeExitAfterHeader, { processError (workerText::exited) } },
        { "FakeExitMidPayloadL32", fakeExitMidPayload, { processError (workerText::exited) } },
        { "FakeExitBeforeReplyL32", fakeExitBeforeReply, { processError (workerText::exited) } },
        { "FakeHangL32", fakeHang, { processError (workerText::timeout) } },
        { "FakeStopSelfL32", fakeStopSelf, { processError (workerText::timeout) } },
        { "FakeGarbageL32", fakeGarbage, { processError (workerText::headerMismatch) } },
        { "FakeWrongTagL32", fakeWrongTag, { processError (workerText::headerMismatch) } },
        { "FakeNanPayloadL32", fakeNanPayload, { processError (workerText::nonFinite) } },
        // Killed from outside between two blocks: the next write or read finds it gone.
        { "FakeGainL32", fakeGain, { processError (workerText::exited), processError (workerText::exitedOrPipeFailed) } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.bundle);
        RackFixture fixture;
        fixture.addBundle (c.bundle);
        fixture.addBundle ("FakeGain");
        const auto faulty = fakeClassId (c.behaviour, 32);
        fixture.writeConfig (slotWith (faulty, true, "00"), slotWith (fakeClassId (fakeGain), true, "00"));
        fixture.start();
        ASSERT_TRUE (fixture.waitForCatalogue());
        ASSERT_TRUE (fixture.rack->tryMarkPlaybackActive());
        const auto pid = fixture.fake.pidOf (faulty);

        BridgeDriver driver (*fixture.rack, 512);
        ASSERT_TRUE (driver.feed (10 * 512));

        if (c.behaviour == fakeGain)
        {
            ASSERT_TRUE (platform::killProcess (pid));
        }

        // The fake's faults begin with its 17th block (5 went to the warm-up).
        const auto processedBefore = fixture.status().slots[1].processedBlocks;
        ASSERT_TRUE (driver.feed (60 * 512));

        const auto status = fixture.status();
        EXPECT_FALSE (status.slots[0].loaded);
        EXPECT_TRUE (std::find (c.errors.begin(), c.errors.end(), status.slots[0].message) != c.errors.end()) << status.slots[0].message;
        EXPECT_EQ (status.message, rackText::bypassed (0, status.slots[0].message));
        EXPECT_EQ (status.slots[0].uid, faulty);   // kept for the next load

        // The other slot processed on, and no audio fault was latched by one slow block.
        EXPECT_TRUE (status.slots[1].loaded);
        EXPECT_GE (status.slots[1].processedBlocks, processedBefore + 55);
        EXPECT_FALSE (status.audioFault);

        // The bypassed slot passes its input delayed by its latency: the timing stays.
        EXPECT_LE (driver.deviation (driver.position - 20 * 512, driver.position, 2048 + 32, 0.5f), settledDeviation);
        EXPECT_EQ (platform::processState (pid), 0);
        EXPECT_TRUE (zombieChildren().empty());
    }
}

TEST (RackFaults, AWorkerThatCannotRestartItsPluginIsBypassedBeforeItPlaysAnythingHeld)
{
    RackFixture fixture;
    fixture.addBundle ("FakeFailRestartL32");
    fixture.addBundle ("FakeGain");
    fixture.writeConfig (slotWith (fakeClassId (fakeFailRestart, 32), true, "00"), slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    BridgeDriver before (*fixture.rack, 512);
    ASSERT_TRUE (before.feed (10 * 512));

    fixture.rack->clearHeldAudio();
    BridgeDriver after (*fixture.rack, 512);
    ASSERT_TRUE (after.feed (40 * 512));
    const auto status = fixture.status();
    EXPECT_FALSE (status.slots[0].loaded);
    EXPECT_EQ (status.slots[0].message, "RESET_SEEK: seek reset activate failed");
    EXPECT_TRUE (status.slots[1].loaded);

    // Silence until the new input arrives, then the input through the bypassed slot's delay.
    EXPECT_LE (after.deviation (0, 2048 + 32, 1 << 30, 0.0f), 0.0);
    EXPECT_LE (after.deviation (20 * 512, after.position, 2048 + 32, 0.5f), settledDeviation);
}

TEST (RackFaults, WithBothSlotsGoneTheMasterPassesTheDryDelayedSignal)
{
    RackFixture fixture;
    fixture.addBundle ("FakeExitMidPayloadL100");
    fixture.writeConfig (slotWith (fakeClassId (fakeExitMidPayload, 100), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    ASSERT_TRUE (fixture.rack->tryMarkPlaybackActive());

    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (80 * 512));
    const auto status = fixture.status();
    EXPECT_FALSE (status.slots[0].loaded);
    EXPECT_FALSE (fixture.rack->hasReadySlots());
    EXPECT_TRUE (fixture.rack->needsAttention());

    // Dry, at unity, exactly the bridge latency plus the slot's latency late.
    EXPECT_LE (driver.deviation (driver.position - 20 * 512, driver.position, 2048 + 100, 1.0f), settledDeviation);
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (RackFaults, APluginThatCrashesTheRealWorkerIsBypassedAtItsLoad)
{
    RackFixture fixture;
    ASSERT_TRUE (probeBundle().copyDirectoryTo (fixture.pluginFolder().getChildFile ("OrvaneProbe.vst3")));
    fixture.writeConfig (slotWith (probeClassId (22), true), slotWith (probeClassId (1), true));   // crashes; plain
    fixture.start (realWorker());
    ASSERT_TRUE (fixture.waitForCatalogue());

    const auto status = fixture.status();
    EXPECT_FALSE (status.slots[0].loaded);
    EXPECT_TRUE (status.slots[0].message.startsWith (processError (workerText::exited))) << status.slots[0].message;
    EXPECT_TRUE (status.slots[1].loaded) << status.slots[1].message;
    EXPECT_EQ (status.latencySum, 64);

    // The plain probe class reports 64 samples without delaying: the processed path is exactly
    // the bridge latency late.
    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (40 * 512));
    EXPECT_LE (driver.deviation (2048 + 9600, driver.position, 2048, 1.0f), settledDeviation);
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (RackFaults, KillingTheHostEndsEveryWorker)
{
    struct Case
    {
        const char* mode;      // what the host waits for before it says it is ready
        bool realWorker;
    };

    for (const auto& c : { Case { "loaded", false }, Case { "loaded", true }, Case { "scanning", true } })
    {
        SCOPED_TRACE (juce::String (c.mode) + (c.realWorker ? " real" : " fake"));
        RackFixture fixture;
        auto worker = fixture.fake.worker();

        if (c.realWorker && juce::String (c.mode) == "loaded")
        {
            ASSERT_TRUE (gainBundle().copyDirectoryTo (fixture.pluginFolder().getChildFile (gainBundle().getFileName())));
            const auto uid = gainClassId();
            fixture.writeConfig (slotWith (uid, true), slotWith (uid, true));
            worker = realWorker();
        }
        else if (c.realWorker)
        {
            // A bundle that hangs while loading holds a scan worker.
            ASSERT_TRUE (hangBundle().copyDirectoryTo (fixture.pluginFolder().getChildFile (hangBundle().getFileName())));
            fixture.writeConfig ({});
            worker = realWorker();
        }
        else
        {
            fixture.addBundle ("FakeGain");
            fixture.addBundle ("FakeGainL64");
            fixture.writeConfig (slotWith (fakeClassId (fakeGain), true, "00"), slotWith (fakeClassId (fakeGain, 64), true, "00"));
        }

        const auto ready = fixture.folder / "ready";
        const auto hangMarker = fixture.folder / "inside-the-hanging-module";
        platform::ChildProcess host;
        ASSERT_TRUE (host.start (ORVANE_TEST_RACK_HOST,
                                 { fixture.configFile().getFullPathName().toStdString(), worker.getFullPathName().toStdString(),
                                   ready.getFullPathName().toStdString(), c.mode },
                                 { "ORVANE_TEST_HANG_MARKER=" + hangMarker.getFullPathName().toStdString() }));
        ASSERT_TRUE (eventually ([&] { return ready.existsAsFile(); }, 60000));

        // The host's children are its workers (a hanging scan worker, or the two slot workers).
        const auto hostPid = ready.loadFileAsString().getIntValue();
        const auto workers = platform::childProcessIds (hostPid);
        ASSERT_EQ (workers.size(), juce::String (c.mode) == "loaded" ? 2u : 1u);

        host.kill();
        EXPECT_TRUE (host.waitUntilEnded());
        const auto gone = [&]
        {
            for (const auto pid : workers)
                if (const auto state = platform::processState (pid); state != 0 && state != 'Z')
                    return false;

            return true;
        };

        // The kernel ends them with their parent (a worker inside the hanging module reads
        // nothing, so only that can end it); how soon is up to the scheduler.
        EXPECT_TRUE (eventually (gone, 60000));
    }
}
} // namespace
