// The rack's slots with the fake worker: the initial load after the first scan, choosing and
// emptying slots, refusals, automatic saves, reloads after prepare, and the settings file.
#include "RackTestSupport.h"

#include "audio/rack/RackTexts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

/** For checks that something did not happen: waits until the control thread has been through
    a whole pass of its loop since now (it would have done it there). */
void letTheControlLoopRun (const RackFixture& fixture)
{
    ASSERT_TRUE (controlLoopPassed (*fixture.rack));
}

TEST (RackSlots, TheInitialLoadWaitsForTheScanTakesTheSavedStateAndReportsLatency)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGainL100");
    fixture.addBundle ("FakeGain");
    const auto uid0 = fakeClassId (fakeGain, 100);
    const auto uid1 = fakeClassId (fakeGain);
    fixture.writeConfig (slotWith (uid0, true, "aabb"), slotWith (uid1, false));

    fixture.start();
    EXPECT_TRUE (fixture.rack->isBusy());   // playback waits for the scan and the initial load
    ASSERT_TRUE (fixture.waitForCatalogue());

    const auto status = fixture.status();
    EXPECT_EQ (status.plugins.size(), 2u);
    EXPECT_TRUE (status.slots[0].loaded);
    EXPECT_TRUE (status.slots[1].loaded);
    EXPECT_EQ (status.slots[0].latency, 100);
    EXPECT_EQ (status.slots[1].latency, 0);
    EXPECT_EQ (status.latencySum, 100);
    EXPECT_EQ (status.bridgeLatency, 2048);
    EXPECT_EQ (status.slots[0].name, "Fake Gain");
    EXPECT_TRUE (status.slots[0].enabled);
    EXPECT_FALSE (status.slots[1].enabled);
    EXPECT_EQ (status.message, rackText::text (rackText::loaded));
    EXPECT_TRUE (fixture.rack->hasReadySlots());
    EXPECT_FALSE (fixture.rack->needsAttention());
    EXPECT_NE (fixture.fake.pidOf (uid0), 0);
    EXPECT_EQ (fixture.fake.rateOf (uid0), "48000");

    // The stored state went to the worker and comes back; the slot without one got its first.
    const auto saved = fixture.rack->saveAndWait();
    ASSERT_TRUE (saved.ok) << saved.message;
    const auto stored = fixture.stored();
    EXPECT_EQ (stored.slots[0].stateHex, "aabb");
    EXPECT_EQ (stored.slots[1].stateHex, "00112233");
    EXPECT_EQ (stored.slots[0].name, "Fake Gain");
    EXPECT_TRUE ((fixture.configFile().getSiblingFile ("master-vst.json.bak")).existsAsFile());
}

TEST (RackSlots, MissingOrDuplicatePluginsAreBypassedAndKeepTheirSettings)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.addBundle ("FakeEdits");
    fixture.addBundle ("FakeEdits_copy");   // the same class id twice
    const auto lowerCaseUid = fakeClassId (fakeGain).toLowerCase();   // the catalogue holds upper case
    fixture.writeConfig (slotWith (lowerCaseUid, true, "0a0b"), slotWith (fakeClassId (fakeEdits), true, "0c"));
    const auto before = fixture.stored();

    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    auto status = fixture.status();
    ASSERT_EQ (status.plugins.size(), 3u);
    EXPECT_EQ (std::count_if (status.plugins.begin(), status.plugins.end(), [] (const auto& p) { return p.duplicate; }), 2);

    for (const auto& slot : status.slots)
    {
        EXPECT_FALSE (slot.loaded);
        EXPECT_EQ (slot.message, rackText::text (rackText::missingOrDuplicate));
    }

    EXPECT_TRUE (fixture.rack->needsAttention());
    EXPECT_FALSE (fixture.rack->hasReadySlots());

    ASSERT_TRUE (fixture.rack->saveAndWait().ok);
    EXPECT_TRUE (fixture.stored() == before);

    // A duplicate cannot be chosen either.
    ASSERT_TRUE (fixture.rack->choosePlugin (1, fakeClassId (fakeEdits)));
    ASSERT_TRUE (fixture.waitIdle());
    status = fixture.status();
    EXPECT_EQ (status.message, rackText::text (rackText::notUnique));
    EXPECT_EQ (status.slots[1].uid, fakeClassId (fakeEdits));
}

TEST (RackSlots, ChoosingLoadsReplacesAndEmptiesASlot)
{
    RackFixture fixture;

    for (const auto* name : { "FakeGain", "FakeGainL64", "FakeLatencyTooBig", "FakeFailLoad" })
        fixture.addBundle (name);

    fixture.start();   // no settings file yet
    ASSERT_TRUE (fixture.waitForCatalogue());
    EXPECT_EQ (fixture.status().bridgeLatency, 0);
    ASSERT_TRUE (fixture.rack->addSearchFolder (fixture.pluginFolder()));
    ASSERT_TRUE (fixture.waitForCatalogue (2));
    EXPECT_EQ (fixture.status().plugins.size(), 4u);
    EXPECT_FALSE (fixture.configFile().exists());

    const auto gain = fakeClassId (fakeGain);
    const auto gain64 = fakeClassId (fakeGain, 64);

    EXPECT_FALSE (fixture.rack->choosePlugin (2, gain));
    EXPECT_FALSE (fixture.rack->choosePlugin (0, "not-an-id"));
    ASSERT_TRUE (fixture.rack->choosePlugin (0, gain.toLowerCase()));   // stored in upper case
    EXPECT_FALSE (fixture.rack->choosePlugin (1, gain64));              // another load is under way
    ASSERT_TRUE (fixture.waitIdle());

    auto status = fixture.status();
    EXPECT_EQ (status.slots[0].uid, gain);
    EXPECT_TRUE (status.slots[0].loaded);
    EXPECT_TRUE (status.slots[0].enabled);
    const auto firstPid = fixture.fake.pidOf (gain);

    // Refused loads leave the slot as it was.
    const std::pair<juce::String, juce::String> refusals[] = {
        { fakeClassId (fakeLatencyTooBig), rackText::text (rackText::changeFailed) + rackText::text (rackText::latencyTooLong) },
        { fakeClassId (fakeFailLoad), rackText::text (rackText::changeFailed) + "LOAD_VST3: plug-in class refused" },
    };

    for (const auto& [uid, text] : refusals)
    {
        ASSERT_TRUE (fixture.rack->choosePlugin (0, uid));
        ASSERT_TRUE (fixture.waitIdle());
        status = fixture.status();
        EXPECT_EQ (status.message, text);
        EXPECT_EQ (status.slots[0].uid, gain);
        EXPECT_EQ (fixture.fake.pidOf (gain), firstPid);
    }

    // Another plug-in replaces the worker.
    ASSERT_TRUE (fixture.rack->choosePlugin (0, gain64));
    ASSERT_TRUE (fixture.waitIdle());
    EXPECT_EQ (platform::processState (firstPid), 0);
    EXPECT_EQ (fixture.status().slots[0].latency, 64);

    // An empty choice empties the slot; the first save creates the file.
    ASSERT_TRUE (fixture.rack->choosePlugin (0, ""));
    ASSERT_TRUE (fixture.waitIdle());
    status = fixture.status();
    EXPECT_EQ (status.slots[0].uid, "");
    EXPECT_EQ (status.bridgeLatency, 0);
    ASSERT_TRUE (fixture.rack->saveAndWait().ok);
    EXPECT_TRUE (fixture.stored().slots[0] == VstRackSlot());
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (RackSlots, AFullQueueRefusesRequestsAndSavesAtOnce)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    const auto uid = fakeClassId (fakeGain);
    fixture.writeConfig (slotWith (uid, true));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    // While the control thread is held (at its clock) nothing leaves the queue: fill it.
    fixture.clock.hold();
    ASSERT_TRUE (fixture.clock.waitUntilHolding());
    int accepted = 0;

    while (accepted < 100 && fixture.rack->removeSearchFolder ("/nowhere"))
        ++accepted;

    EXPECT_EQ (accepted, MasterVstRack::maxRequests);
    EXPECT_EQ (fixture.rack->queuedRequests(), (std::size_t) MasterVstRack::maxRequests);
    EXPECT_FALSE (fixture.rack->openEditor (0));

    const auto refused = fixture.rack->saveAndWait();
    EXPECT_FALSE (refused.ok);
    EXPECT_EQ (refused.message, rackText::text (rackText::saveQueueFull));

    fixture.clock.release();
    ASSERT_TRUE (fixture.waitIdle());
    ASSERT_TRUE (eventually ([&] { return fixture.rack->queuedRequests() == 0; }));
    EXPECT_TRUE (eventually ([&] { return fixture.rack->saveAndWait().ok; }));
    EXPECT_TRUE (fixture.status().slots[0].loaded);
}

TEST (RackSlots, AnEditSavesInTheNextIdlePeriodButNeverDuringPlayback)
{
    RackFixture fixture;
    fixture.addBundle ("FakeEdits");   // every status poll reports one more change
    const auto uid = fakeClassId (fakeEdits);
    fixture.writeConfig (slotWith (uid, true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    // The load changed the settings (names from the catalogue): saved after 2 s of quiet.
    fixture.clock.advanceMs (2100);
    ASSERT_TRUE (eventually ([&] { return fixture.stored().slots[0].name == "Fake Edits"; }));
    EXPECT_EQ (fixture.status().stateCaptures, 1u);

    // Playback starts once the capture has handed the state back (setPlaybackActive leaves a
    // capture's state alone).
    ASSERT_TRUE (eventually ([&] { return fixture.rack->setPlaybackActive (true) == RackPlaybackState::idle; }));
    fixture.clock.advanceMs (600);
    ASSERT_TRUE (eventually ([&] { return fixture.status().slots[0].editRevision >= 1; }));
    fixture.clock.advanceMs (2100);
    letTheControlLoopRun (fixture);
    EXPECT_EQ (fixture.status().stateCaptures, 1u);

    EXPECT_EQ (fixture.rack->setPlaybackActive (false), RackPlaybackState::active);
    fixture.clock.advanceMs (2100);
    EXPECT_TRUE (eventually ([&] { return fixture.status().stateCaptures == 2u; }));
}

TEST (RackSlots, ClosingEditorsMarksASlotDirtyOnlyWhenItsChangeCountMoved)
{
    for (const auto behaviour : { fakeGain, fakeEdits })
    {
        RackFixture fixture;
        fixture.addBundle (behaviour == fakeGain ? "FakeGain" : "FakeEdits");
        const auto uid = fakeClassId (behaviour);
        fixture.writeConfig (slotWith (uid, true, "00"));
        fixture.start();
        ASSERT_TRUE (fixture.waitForCatalogue());
        fixture.clock.advanceMs (2100);
        ASSERT_TRUE (eventually ([&] { return fixture.status().stateCaptures == 1u; }));
        letTheControlLoopRun (fixture);

        fixture.rack->closeEditors();   // as switching LIVE LOCK on does
        letTheControlLoopRun (fixture);
        fixture.clock.advanceMs (2100);
        letTheControlLoopRun (fixture);

        EXPECT_EQ (fixture.status().stateCaptures, behaviour == fakeGain ? 1u : 2u) << behaviour;
    }
}

TEST (RackSlots, AStartDuringAnAutomaticCaptureIsGrantedAndTheCaptureGivesWay)
{
    RackFixture fixture;
    fixture.addBundle ("FakeHeldSave");   // the test holds its state captures
    const auto uid = fakeClassId (fakeHeldSave);
    fixture.writeConfig (slotWith (uid, true, "00"));
    const auto before = fixture.configFile().loadFileAsString();
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    // The load changed the settings (names from the catalogue): the next quiet period captures.
    fixture.fake.hold();
    fixture.clock.advanceMs (2100);
    ASSERT_TRUE (fixture.fake.waitUntilHeld());
    EXPECT_EQ (fixture.status().stateCaptures, 1u);

    // GO while the capture runs: granted, and the rack does not count as busy.
    EXPECT_FALSE (fixture.rack->isBusy());
    EXPECT_TRUE (fixture.rack->tryMarkPlaybackActive());
    EXPECT_EQ (fixture.rack->setPlaybackActive (true), RackPlaybackState::active);

    // The capture stops without writing; the settings stay to be saved.
    fixture.fake.release();
    letTheControlLoopRun (fixture);
    EXPECT_EQ (fixture.configFile().loadFileAsString(), before);

    EXPECT_EQ (fixture.rack->setPlaybackActive (false), RackPlaybackState::active);
    fixture.clock.advanceMs (2100);
    EXPECT_TRUE (eventually ([&] { return fixture.stored().slots[0].name == "Fake HeldSave"; }));
    EXPECT_TRUE (fixture.status().slots[0].loaded);
}

TEST (RackSlots, AfterPrepareTheSlotsRunAtTheNewRateEvenWhenSavingFails)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    const auto uid = fakeClassId (fakeGain);
    fixture.writeConfig (slotWith (uid, true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    const auto firstPid = fixture.fake.pidOf (uid);
    EXPECT_EQ (fixture.fake.rateOf (uid), "48000");

    // The settings file cannot be replaced: a non-empty folder stands in its place.
    ASSERT_TRUE (fixture.configFile().deleteFile());
    ASSERT_TRUE (fixture.configFile().getChildFile ("keep").create().wasOk());

    fixture.rack->prepare (44100.0, 512);
    EXPECT_TRUE (fixture.rack->isBusy());
    ASSERT_TRUE (fixture.waitIdle());

    const auto status = fixture.status();
    EXPECT_TRUE (status.slots[0].loaded);
    EXPECT_EQ (fixture.fake.rateOf (uid), "44100");
    EXPECT_NE (fixture.fake.pidOf (uid), firstPid);
    EXPECT_TRUE (status.message.startsWith (rackText::text (rackText::saveFailed))) << status.message;
    EXPECT_TRUE (fixture.rack->needsAttention());
}

TEST (RackSlots, StatesLargerThanTheProgramTakesAreRefusedAndTheWorkerStays)
{
    // Tens of MiB of state text take a while on a busy machine: the state exchanges get the
    // longest deadline a command can have (the program allows 5 s).
    for (const auto behaviour : { fakeMidState, fakeBigState })
    {
        RackFixture fixture;
        fixture.options.stateTimeoutMs = workerBounds::maxCommandTimeoutMs;
        fixture.addBundle (behaviour == fakeMidState ? "FakeMidState" : "FakeBigState");
        const auto uid = fakeClassId (behaviour);
        fixture.writeConfig (slotWith (uid, true, "00"));
        const auto before = fixture.configFile().loadFileAsString();
        fixture.start();
        ASSERT_TRUE (fixture.waitForCatalogue());
        const auto pid = fixture.fake.pidOf (uid);

        const auto saved = fixture.rack->saveAndWait();
        EXPECT_FALSE (saved.ok) << behaviour;
        EXPECT_EQ (saved.message, rackText::text (rackText::stateTooLarge)) << behaviour;
        EXPECT_TRUE (fixture.status().slots[0].loaded) << behaviour;
        EXPECT_EQ (fixture.fake.pidOf (uid), pid) << behaviour;
        EXPECT_EQ (fixture.configFile().loadFileAsString(), before) << behaviour;
        EXPECT_EQ (fixture.status().message, rackText::text (rackText::stateTooLarge)) << behaviour;
    }

    // Without a stored state the first capture happens while loading: the load fails.
    RackFixture fixture;
    fixture.options.stateTimeoutMs = workerBounds::maxCommandTimeoutMs;
    fixture.addBundle ("FakeBigState");
    fixture.writeConfig (slotWith (fakeClassId (fakeBigState), true));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    EXPECT_EQ (fixture.status().slots[0].message, rackText::text (rackText::stateTooLarge));
    EXPECT_FALSE (fixture.status().slots[0].loaded);
}

TEST (RackSlots, StatusPollsFollowTheLatencyAndBypassAHungWorker)
{
    RackFixture fixture;
    fixture.addBundle ("FakeLatencyChangeL100");
    fixture.addBundle ("FakeLiveStatusHang");
    fixture.writeConfig (slotWith (fakeClassId (fakeLatencyChange, 100), true, "00"),
                         slotWith (fakeClassId (fakeLiveStatusHang), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    EXPECT_EQ (fixture.status().latencySum, 100);

    fixture.clock.advanceMs (600);
    ASSERT_TRUE (eventually ([&] { return ! fixture.status().slots[1].loaded; }));

    const auto status = fixture.status();
    EXPECT_EQ (status.slots[0].latency, 164);
    EXPECT_EQ (status.latencySum, 164);
    EXPECT_EQ (status.slots[1].message, "LIVE_STATUS: VST worker timeout");
    EXPECT_EQ (status.message, rackText::bypassed (1, "LIVE_STATUS: VST worker timeout"));
    EXPECT_TRUE (status.slots[0].loaded);
    EXPECT_EQ (status.slots[1].uid, fakeClassId (fakeLiveStatusHang));   // the settings stay
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (RackSlots, EnablingDisablingAndTheEditor)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    const auto uid = fakeClassId (fakeGain);
    fixture.writeConfig (slotWith (uid, true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    const auto pid = fixture.fake.pidOf (uid);

    EXPECT_FALSE (fixture.rack->setSlotEnabled (1, true));   // an empty slot
    EXPECT_FALSE (fixture.rack->openEditor (1));
    ASSERT_TRUE (fixture.rack->setSlotEnabled (0, false));
    ASSERT_TRUE (fixture.waitIdle());
    EXPECT_FALSE (fixture.status().slots[0].enabled);
    EXPECT_EQ (fixture.fake.pidOf (uid), pid);   // a disabled slot's worker keeps running

    ASSERT_TRUE (fixture.rack->setSlotEnabled (0, true));
    ASSERT_TRUE (fixture.waitIdle());
    EXPECT_TRUE (fixture.status().slots[0].enabled);
    EXPECT_EQ (fixture.fake.pidOf (uid), pid);

    ASSERT_TRUE (fixture.rack->openEditor (0));
    ASSERT_TRUE (fixture.waitIdle());
    EXPECT_EQ (fixture.status().message, rackText::text (rackText::loaded));

    // A worker that died meanwhile: the editor request finds it ended and bypasses the slot.
    ASSERT_TRUE (platform::killProcess (pid));
    ASSERT_TRUE (eventually ([&] { return platform::processState (pid) == 'Z'; }));
    ASSERT_TRUE (fixture.rack->openEditor (0));
    ASSERT_TRUE (fixture.waitIdle());
    auto status = fixture.status();
    const auto failure = juce::String ("OPEN_EDITOR_ASYNC: ") + workerText::exited;
    EXPECT_EQ (status.message, rackText::text (rackText::editorFailed) + failure);
    EXPECT_EQ (status.slots[0].message, failure);
    EXPECT_FALSE (status.slots[0].loaded);

    // Enabling a slot without a worker loads it again.
    ASSERT_TRUE (fixture.rack->setSlotEnabled (0, true));
    ASSERT_TRUE (fixture.waitIdle());
    status = fixture.status();
    EXPECT_TRUE (status.slots[0].loaded);
    EXPECT_EQ (status.slots[0].message, "");
    EXPECT_NE (fixture.fake.pidOf (uid), 0);
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (RackSlots, ADamagedSettingsFileStopsTheRackAndIsNeverOverwritten)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    const auto damaged = juce::String ("{\n  \"schema\": 2,\n  \"searchFolders\": [],\n  \"slots\": []\n}");
    ASSERT_TRUE (vantrel::testing::writeBytes (fixture.configFile(), damaged.toStdString()));

    fixture.start();
    letTheControlLoopRun (fixture);

    auto status = fixture.status();
    EXPECT_TRUE (status.configCorrupt);
    EXPECT_EQ (status.message, rackText::text (rackText::configCorrupt));
    EXPECT_FALSE (status.scanning);
    EXPECT_TRUE (status.plugins.empty());
    EXPECT_EQ (fixture.rack->catalogueGeneration(), 0u);
    EXPECT_FALSE (fixture.rack->isBusy());
    EXPECT_TRUE (fixture.rack->needsAttention());

    EXPECT_FALSE (fixture.rack->choosePlugin (0, fakeClassId (fakeGain)));
    EXPECT_FALSE (fixture.rack->addSearchFolder (fixture.pluginFolder()));
    EXPECT_FALSE (fixture.rack->removeSearchFolder ("/x"));

    const auto saved = fixture.rack->saveAndWait();
    EXPECT_FALSE (saved.ok);
    EXPECT_EQ (saved.message, rackText::text (rackText::saveRefusedCorrupt));

    fixture.rack->requestRescan();
    fixture.rack->prepare (44100.0, 512);
    letTheControlLoopRun (fixture);
    fixture.rack->stop();
    EXPECT_EQ (vantrel::testing::readBytes (fixture.configFile()), damaged.toStdString());
    EXPECT_FALSE (fixture.configFile().getSiblingFile ("master-vst.json.bak").exists());
}

TEST (RackSlots, SearchFoldersAreAddedRemovedAndRescanned)
{
    RackFixture fixture;
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    EXPECT_TRUE (fixture.status().plugins.empty());

    TempFolder extra ("rack-extra");
    ASSERT_TRUE ((extra / "FakeGain.vst3").createDirectory());
    EXPECT_FALSE (fixture.rack->addSearchFolder (extra / "missing"));
    EXPECT_FALSE (fixture.rack->addSearchFolder (extra / "FakeGain.vst3/../nothing"));

    ASSERT_TRUE (fixture.rack->addSearchFolder (extra.path()));
    ASSERT_TRUE (fixture.waitForCatalogue (2));
    auto status = fixture.status();
    ASSERT_EQ (status.plugins.size(), 1u);
    EXPECT_EQ (status.plugins[0].bundlePath, normalizeVstPath (extra / "FakeGain.vst3"));
    EXPECT_EQ (status.searchFolders, juce::StringArray { normalizeVstPath (extra.path()) });
    EXPECT_TRUE (status.message.startsWith ("VST3 1"));

    // No rescans while playback is active.
    fixture.rack->setPlaybackActive (true);
    EXPECT_FALSE (fixture.rack->removeSearchFolder (normalizeVstPath (extra.path())));
    fixture.rack->setPlaybackActive (false);

    ASSERT_TRUE (fixture.rack->removeSearchFolder (normalizeVstPath (extra.path())));
    ASSERT_TRUE (fixture.waitForCatalogue (3));
    EXPECT_TRUE (fixture.status().plugins.empty());
    ASSERT_TRUE (fixture.rack->saveAndWait().ok);
    EXPECT_TRUE (fixture.stored().searchFolders.isEmpty());
}

TEST (RackSlots, AnIdleRackSleepsUntilAskedAndThenServesEveryRequest)
{
    RackFixture fixture;
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    // No slot, nothing loading or queued, and the clock stands (no save falls due): the control
    // thread runs no pass of its own. A pass under way when the window opens may still end.
    const auto passesOver300Ms = [&]
    {
        const auto before = fixture.rack->controlPasses();
        std::this_thread::sleep_for (std::chrono::milliseconds (300));
        return fixture.rack->controlPasses() - before;
    };
    EXPECT_LE (passesOver300Ms(), 1u);

    // Nor while the show plays past the time of an automatic save, which then waits.
    ASSERT_EQ (fixture.rack->setPlaybackActive (true), RackPlaybackState::idle);
    fixture.clock.advanceMs (2100);
    ASSERT_TRUE (controlLoopPassed (*fixture.rack));
    EXPECT_LE (passesOver300Ms(), 1u);
    ASSERT_EQ (fixture.rack->setPlaybackActive (false), RackPlaybackState::active);

    // What the message thread asks of the sleeping rack is done: a rescan, a folder, a save, the
    // reload after prepare, and the stop.
    TempFolder extra ("rack-extra");
    ASSERT_TRUE ((extra / "FakeGain.vst3").createDirectory());
    fixture.rack->requestRescan();
    ASSERT_TRUE (fixture.waitForCatalogue (2));
    ASSERT_TRUE (fixture.rack->addSearchFolder (extra.path()));
    ASSERT_TRUE (fixture.waitForCatalogue (3));
    EXPECT_EQ (fixture.status().plugins.size(), 1u);

    const auto saved = fixture.rack->saveAndWait();
    EXPECT_TRUE (saved.ok) << saved.message;
    EXPECT_EQ (fixture.stored().searchFolders, juce::StringArray { normalizeVstPath (extra.path()) });

    fixture.rack->prepare (44100.0, 256);
    EXPECT_TRUE (fixture.waitIdle());

    fixture.rack->stop();
    EXPECT_FALSE (fixture.rack->isBusy());
}

TEST (RackSlots, StopAnswersWaitingSavesAndEndsEveryWorker)
{
    RackFixture fixture;
    fixture.addBundle ("FakeGain");
    fixture.addBundle ("FakeHeldSave");
    fixture.writeConfig (slotWith (fakeClassId (fakeHeldSave), true, "00"), slotWith (fakeClassId (fakeGain), true, "00"));
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());
    const auto pids = fixture.fake.pids();

    // A save is under way (held in its first capture) while another waits behind it; the save
    // under way is let go only once the stop has been asked for.
    fixture.fake.hold();
    auto first = std::async (std::launch::async, [&] { return fixture.rack->saveAndWait(); });
    ASSERT_TRUE (fixture.fake.waitUntilHeld());
    auto second = std::async (std::launch::async, [&] { return fixture.rack->saveAndWait(); });
    ASSERT_TRUE (eventually ([&] { return fixture.rack->queuedRequests() == 1; }));
    auto stopping = std::async (std::launch::async, [&] { fixture.rack->stop(); });
    ASSERT_TRUE (eventually ([&] { return fixture.rack->isStopping(); }));
    fixture.fake.release();
    stopping.get();

    EXPECT_TRUE (first.get().ok);
    const auto answered = second.get();
    EXPECT_FALSE (answered.ok);
    EXPECT_EQ (answered.message, rackText::text (rackText::stopped));

    for (const auto& [pid, uid] : pids)
        EXPECT_EQ (platform::processState (pid), 0) << uid;

    EXPECT_FALSE (fixture.rack->hasReadySlots());
}
} // namespace
