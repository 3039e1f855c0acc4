// What a plug-in in the rack changes or asks for, through the real worker: a parameter edited
// through the worker is in the state the rack saves and a fresh worker plays it; a plug-in that
// asks to be loaded again leaves every save and the quit working and is loaded again with its
// state once nothing plays.
#include "RackTestSupport.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/VstRackWorkerSlot.h"
#include "support/ProbeLogFile.h"
#include "vsthost/ProbeClasses.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;
using vantrel::testing::ProbeLogFile;

constexpr double settledDeviation = 1.0e-4;

juce::String probeUid (probe::Kind kind)
{
    return probeClassId (static_cast<unsigned> (kind));
}

/** The state the rack's own save request takes from a real worker after the probe's gain was set
    to `gain` (output = input x 2 x gain) through the worker; "" on failure. */
juce::String probeStateWithGain (probe::Kind kind, double gain)
{
    VstWorkerClient client;
    std::vector<juce::String> lines;
    juce::String error;
    const auto limit = workerBounds::maxCommandTimeoutMs;

    if (! client.start (realWorker(), error)
        || ! client.command ("LOAD_VST3\t" + probeBundle().getFullPathName() + "\t" + probeUid (kind), lines, error, limit)
        || ! client.command ("CONFIG\t48000\t2\t512\trealtime", lines, error, limit)
        || ! client.command ("SET_PARAM\t" + juce::String (probe::gainParameter) + "\t" + juce::String (gain, 6), lines, error, limit))
        return {};

    const ThreadRoleScope controlRole (ThreadRole::control);   // the slot workers' thread asks
    const auto reply = requestWorkerState (client, limit);
    return reply.outcome == WorkerStateReply::Outcome::captured ? reply.stateHex : juce::String();
}

/** The ratio of output to input of one block through a fresh real worker that loaded `stateHex`
    into the probe class `kind`; -1 on failure. */
float levelOfState (probe::Kind kind, const juce::String& stateHex)
{
    VstWorkerClient client;
    std::vector<juce::String> lines;
    juce::String error;
    const auto limit = workerBounds::maxCommandTimeoutMs;

    if (! client.start (realWorker(), error)
        || ! client.command ("LOAD_VST3\t" + probeBundle().getFullPathName() + "\t" + probeUid (kind), lines, error, limit)
        || ! client.command ("CONFIG\t48000\t2\t512\trealtime", lines, error, limit)
        || ! client.command ("LOAD_STATE\t" + stateHex, lines, error, limit))
        return -1.0f;

    std::vector<float> block (1024, 0.25f);

    if (! client.processF32 (block.data(), 512, 0, error, workerBounds::maxBlockTimeoutMs))
        return -1.0f;

    return block[100] / 0.25f;
}

} // namespace

TEST (RackPluginRequests, AParameterEditedThroughTheWorkerIsInTheSavedStateAndAFreshWorkerPlaysIt)
{
    // Both probes: one that reads its changes in every call, one that skips calls without frames.
    for (const auto kind : { probe::Kind::skipsEmptyProcess, probe::Kind::fxStereo })
    {
        SCOPED_TRACE (probeUid (kind));
        const auto state = probeStateWithGain (kind, 0.25);
        ASSERT_TRUE (state.isNotEmpty());

        RackFixture fixture;
        ASSERT_TRUE (probeBundle().copyDirectoryTo (fixture.pluginFolder().getChildFile ("OrvaneProbe.vst3")));
        fixture.writeConfig (slotWith (probeUid (kind), true, state));
        fixture.start (realWorker());
        ASSERT_TRUE (fixture.waitForCatalogue());
        ASSERT_TRUE (fixture.status().slots[0].loaded) << fixture.status().slots[0].message;

        // Half level, exactly the bridge latency late (the probe reports latency but does not delay).
        BridgeDriver driver (*fixture.rack, 512);
        ASSERT_TRUE (driver.feed (40 * 512));
        EXPECT_LE (driver.deviation (2048 + 9600, driver.position, 2048, 0.5f), settledDeviation);
    }
}

TEST (RackPluginRequests, APluginAskingToBeLoadedAgainLeavesSavesAndTheQuitWorking)
{
    ProbeLogFile log;
    const auto uid = probeUid (probe::Kind::reloadsWhenLoud);
    const auto state = probeStateWithGain (probe::Kind::reloadsWhenLoud, 0.25);
    ASSERT_TRUE (state.isNotEmpty());

    RackFixture fixture;
    ASSERT_TRUE (probeBundle().copyDirectoryTo (fixture.pluginFolder().getChildFile ("OrvaneProbe.vst3")));
    fixture.writeConfig (slotWith (uid, true, state));
    fixture.start (realWorker());
    ASSERT_TRUE (fixture.waitForCatalogue());
    ASSERT_TRUE (fixture.status().slots[0].loaded) << fixture.status().slots[0].message;
    auto instances = log.count ("component.initialize");   // the rack's instances, and those below


    // During playback a loud passage makes the plug-in ask to be loaded again.
    ASSERT_EQ (fixture.rack->setPlaybackActive (true), RackPlaybackState::idle);
    BridgeDriver driver (*fixture.rack, 512);
    ASSERT_TRUE (driver.feed (8 * 512, true, [] (std::int64_t) { return 1.9f; }));
    ASSERT_TRUE (eventually ([&] { return log.count ("restartComponent flags=1 result=0") == 1; }));

    // The status polls see the request; the plug-in goes on while the show plays, and a save
    // (as when the operator quits during the show) works and keeps the plug-in's state.
    for (int poll = 0; poll < 3; ++poll)
    {
        fixture.clock.advanceMs (600);
        ASSERT_TRUE (controlLoopPassed (*fixture.rack));
    }

    const auto duringPlayback = fixture.rack->saveAndWait();
    EXPECT_TRUE (duringPlayback.ok) << duringPlayback.message;
    EXPECT_EQ (levelOfState (probe::Kind::reloadsWhenLoud, fixture.stored().slots[0].stateHex), 0.5f);
    ++instances;   // the fresh worker's
    EXPECT_EQ (log.count ("component.initialize"), instances);

    // Once nothing plays, a new worker takes over with the state (the status polls go on as the
    // clock moves); the next save and the quit work.
    EXPECT_EQ (fixture.rack->setPlaybackActive (false), RackPlaybackState::active);
    ASSERT_TRUE (eventually (
        [&]
        {
            fixture.clock.advanceMs (600);
            return log.count ("component.initialize") >= instances + 1 && ! fixture.rack->isBusy();
        }));
    EXPECT_EQ (log.count ("component.initialize"), instances + 1);

    // An automatic save that the moving clock made due runs within the next whole pass; after
    // it the clock stands, so no capture holds the blocks back while the audio is checked.
    ASSERT_TRUE (controlLoopPassed (*fixture.rack));
    const auto status = fixture.status();
    EXPECT_TRUE (status.slots[0].loaded) << status.slots[0].message;
    EXPECT_EQ (status.slots[0].message, "");
    EXPECT_EQ (status.message, rackText::text (rackText::loaded));
    EXPECT_FALSE (fixture.rack->needsAttention());

    ASSERT_TRUE (driver.feed (40 * 512));
    EXPECT_LE (driver.deviation (driver.position - 20 * 512, driver.position, 2048, 0.5f), settledDeviation);

    const auto afterwards = fixture.rack->saveAndWait();
    EXPECT_TRUE (afterwards.ok) << afterwards.message;
    EXPECT_EQ (levelOfState (probe::Kind::reloadsWhenLoud, fixture.stored().slots[0].stateHex), 0.5f);
    EXPECT_EQ (log.count ("restartComponent flags=1 result=0"), 1);

    fixture.rack->stop();
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (RackPluginRequests, APluginThatAsksAfterEveryLoadIsLoadedAgainAtMostOnceAMinute)
{
    RackFixture fixture;
    fixture.addBundle ("FakeReloadAlways");   // every status poll says the plug-in asks for it
    const auto uid = fakeClassId (fakeReloadAlways);
    fixture.writeConfig (slotWith (uid, true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    const auto loadsOf = [&]
    {
        int count = 0;

        for (const auto& [pid, loaded] : fixture.fake.pids())
            count += loaded.rfind (uid.toStdString(), 0) == 0 ? 1 : 0;

        return count;
    };

    // One status poll (the clock moves past the poll period), then a whole control pass.
    const auto poll = [&] (int ms)
    {
        fixture.clock.advanceMs (ms);
        return controlLoopPassed (*fixture.rack) && controlLoopPassed (*fixture.rack);
    };

    ASSERT_EQ (loadsOf(), 1);
    ASSERT_TRUE (poll (600));
    EXPECT_EQ (loadsOf(), 2);   // the first request is served at once

    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE (poll (600));

    EXPECT_EQ (loadsOf(), 2);   // the new worker asks again at once: not within the minute
    EXPECT_TRUE (fixture.status().slots[0].loaded);
    const auto saved = fixture.rack->saveAndWait();
    EXPECT_TRUE (saved.ok) << saved.message;

    ASSERT_TRUE (poll (60000));
    EXPECT_EQ (loadsOf(), 3);
    EXPECT_TRUE (fixture.status().slots[0].loaded);
}
