// The quit with a plug-in in the master rack that asked to be loaded again during the show: the
// rack's save holds the plug-in's state and the quit goes through.
#include "SessionTestSupport.h"
#include "audio/output/AdapterRackSupport.h"
#include "support/ProbeLogFile.h"
#include "vsthost/ProbeClasses.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::test;
using vantrel::testing::ProbeLogFile;

TEST (Quit, APluginThatAskedToBeLoadedAgainDuringTheShowDoesNotAbandonTheQuit)
{
    ProbeLogFile log;
    vantrel::testing::TempFolder plugins { "quit-rack-plugins" };
    const auto probeBundle = juce::File (ORVANE_TEST_PROBE_BUNDLES).getChildFile ("OrvaneProbe.vst3");
    ASSERT_TRUE (probeBundle.copyDirectoryTo (plugins.path().getChildFile ("OrvaneProbe.vst3")));
    const juce::String uid (probe::classIdText (probe::Kind::reloadsWhenLoud));

    StandInSessionRig rig;
    rig.options.workerExecutable = realWorker();
    auto session = rig.make (true);
    ASSERT_TRUE (session->isOutputOpen()) << session->statusText();
    auto& rack = session->audioAdapter().rack();
    const auto settle = [&] (auto condition) { return tickUntil (*session, [&] { return ! rack.isBusy() && condition (rack.status()); }); };

    ASSERT_TRUE (session->addVstSearchFolder (plugins.path()));
    ASSERT_TRUE (settle ([] (const VstRackStatus& s) { return s.plugins.size() > 1 && ! s.scanning; })) << rack.status().message;
    ASSERT_TRUE (session->chooseVstPlugin (0, uid));
    ASSERT_TRUE (settle ([] (const VstRackStatus& s) { return s.slots[0].loaded && s.slots[0].enabled; })) << rack.status().message;

    // A loud passage makes the plug-in ask, while the track plays on.
    const auto playlist = playlistOf ("Show", { writeTone (rig.media(), "loud.wav", 30.0, 0.99f) });
    ASSERT_TRUE (addAndOpen (*session, playlist));
    ASSERT_TRUE (tickUntilPrepared (*session, playlist.rows[0].id));
    ASSERT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
    const auto rackState = [&] {
        const auto status = rack.status();
        const auto& slot = status.slots[0];
        return "slot loaded " + juce::String ((int) slot.loaded) + ", message \"" + slot.message + "\", "
               + juce::String ((juce::int64) slot.processedBlocks) + " blocks, input peak " + juce::String (slot.inputPeakDb, 1)
               + " dB, longest exchange " + juce::String (slot.maxProcessMs, 1) + " ms, fault \"" + status.faultText
               + "\", underruns " + juce::String ((juce::int64) status.underruns) + "; status line \"" + session->statusText()
               + "\"; probe log:\n" + log.file().loadFileAsString();
    };
    ASSERT_TRUE (tickUntil (*session, [&] { return log.count ("restartComponent flags=1 result=0") == 1; })) << rackState();
    EXPECT_TRUE (session->cueState().main.has_value());   // the track still plays

    // The quit closes the output, saves the rack with the plug-in's state and goes through.
    bool quit = false;
    ASSERT_TRUE (tickUntil (*session, [&] { quit = session->prepareQuit(); return quit || ! session->isQuitting(); }));
    EXPECT_TRUE (quit) << session->statusText();

    RackConfigContents stored;
    ASSERT_EQ (readRackConfig (rig.local().getChildFile ("master-vst.json"), stored), RackConfigRead::loaded);
    EXPECT_EQ (stored.slots[0].uid, uid);
    EXPECT_TRUE (stored.slots[0].stateHex.isNotEmpty());
}
} // namespace
