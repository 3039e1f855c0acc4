// What the session coordinator reaches the adapter through besides the commands: the rack that
// starts with the output, the master and pad bus settings as they sound, AUTO CUE, and the
// offline render hook that renders only when nothing else does.
#include "AdapterRackSupport.h"
#include "StandInOutput.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace
{
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::PadAudioCommand;
using orvane::audio::PadAudioCommandKind;
using orvane::audio::SinkAnswer;
using vantrel::JuceAudioAdapter;
using vantrel::OutputDeviceSettings;

constexpr float level = 0.25f;
const auto minus6dB = (float) (20.0 * std::log10 (0.5));

OutputDeviceSettings standIn (const juce::String& name)
{
    return { "Stand-in", name, juce::String ("Stand-in:") + name, 0.0, 0, 0 };
}

std::unique_ptr<JuceAudioAdapter> makeAdapter (vantrel::MediaLoader::LoadFunction load)
{
    return std::make_unique<JuceAudioAdapter> (std::move (load), [] { return std::int64_t { 0 }; }, vantrel::test::privateRackOptions());
}

// A running rack writes its settings file when asked to save; a rack that was never started
// answers the save with success and writes nothing.
TEST (JuceAudioAdapterRackStart, TheOutputStartsTheRackWhetherTheDeviceOpenedOrNotAndTheOfflineRendererDoesNot)
{
    struct Case
    {
        const char* what;
        bool rackFilesGiven;
        std::function<void (JuceAudioAdapter&)> start;
        bool rackRuns;
    };
    const Case cases[] = {
        { "an output that opens", true, [] (JuceAudioAdapter& a) { EXPECT_TRUE (a.openOutput (standIn ("Desk"), true).ok); }, true },
        { "an output settings file that was not read cleanly", true,
          [] (JuceAudioAdapter& a) { EXPECT_FALSE (a.openOutput (standIn ("Desk"), false).ok); }, true },
        { "an output kind this machine lacks", true,
          [] (JuceAudioAdapter& a) { EXPECT_FALSE (a.openOutput ({ "Nowhere", "x", "Nowhere:x", 0.0, 0, 0 }, true).ok); }, true },
        { "an output that is gone", true, [] (JuceAudioAdapter& a) { EXPECT_FALSE (a.openOutput (standIn ("Gone"), true).ok); }, true },
        { "the offline renderer alone", true, [] (JuceAudioAdapter& a) { a.startOfflineRenderer (48000.0); }, false },
        { "an output opened without rack files", false,
          [] (JuceAudioAdapter& a) { EXPECT_TRUE (a.openOutput (standIn ("Desk"), true).ok); }, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        vantrel::testing::TempFolder profile ("adapter-rack-start");
        const auto settings = profile / "master-vst.json";
        vantrel::test::StandInOutputs outputs;
        outputs.add ("Desk");
        auto adapter = makeAdapter (vantrel::test::constantMedia (1.0, level));
        adapter->createDeviceType = [&outputs] (const juce::String& kind) { return outputs.create (kind); };
        if (c.rackFilesGiven)
            adapter->setRackFiles (settings, vantrel::test::realWorker());

        c.start (*adapter);
        const auto saved = adapter->rack().saveAndWait();
        EXPECT_TRUE (saved.ok) << saved.message;
        EXPECT_EQ (settings.existsAsFile(), c.rackRuns);
        adapter.reset();
    }
}

// The master stage and the pad bus as the coordinator sets them, heard in the rendered output:
// a track and a pad of constant level 0.25 play together.
TEST (JuceAudioAdapterMasterBus, SettingsReachTheRenderedOutputAndTheMeters)
{
    struct Case
    {
        const char* what;
        std::function<void (JuceAudioAdapter&)> set;
        float expected;
    };
    const Case cases[] = {
        { "as built", [] (JuceAudioAdapter&) {}, 0.5f },
        { "master gain -6 dB", [] (JuceAudioAdapter& a) { a.setMasterGainDb (minus6dB); }, 0.25f },
        { "pad bus -6 dB", [] (JuceAudioAdapter& a) { a.setPadBusGainDb (minus6dB); }, 0.375f },
        { "PAD MUTE", [] (JuceAudioAdapter& a) { a.setPadMute (true); }, 0.25f },
        { "limiter threshold at 0.25", [] (JuceAudioAdapter& a) { a.setLimiterThresholdDb (2.0f * minus6dB); }, 0.25f },
        { "limiter ceiling at its lowest, -12 dB", [] (JuceAudioAdapter& a) { a.setLimiterCeilingDb (-12.0f); },
          (float) std::pow (10.0, -12.0 / 20.0) },
        { "drive +6 dB into the -3 dB threshold", [] (JuceAudioAdapter& a) { a.setLimiterDriveDb (-minus6dB); },
          (float) std::pow (10.0, -3.0 / 20.0) },
        { "drive with the limiter off", [] (JuceAudioAdapter& a) { a.setLimiterEnabled (false); a.setLimiterDriveDb (-minus6dB); }, 0.5f },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        vantrel::testing::TempFolder media ("adapter-master-bus");
        auto adapter = makeAdapter (vantrel::test::constantMedia (2.0, level));
        // Set before the output starts, as at start-up: no glide from the defaults shows in the
        // meters, which fall by only 24 dB per second.
        c.set (*adapter);
        adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
        ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, media.path(), "row"));
        ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, media.path(), vantrel::padMediaKey (1, 1)));
        ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row"), 0.0, 1 }), SinkAnswer::accepted);
        ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::accepted);

        // 200 ms: every glide (20 ms) and the stage's delay are over.
        std::vector<float> left (9600), right (9600);
        adapter->renderOfflineFrames (9600, left.data(), right.data());
        for (size_t i = 9600 - 512; i < 9600; ++i)
        {
            ASSERT_NEAR (left[i], c.expected, 1.0e-3f) << "frame " << i;
            ASSERT_NEAR (right[i], c.expected, 1.0e-3f) << "frame " << i;
        }
        const auto meters = adapter->masterMeters();
        EXPECT_NEAR (meters.outputPeakLeftDb, 20.0f * std::log10 (c.expected), 0.05f);
        EXPECT_NEAR (meters.outputPeakRightDb, 20.0f * std::log10 (c.expected), 0.05f);
    }
}

// The coordinator keeps the clamped limiter values it reads back.
TEST (JuceAudioAdapterMasterBus, LimiterAndGainSettersStoreTheClampedValueThatTheGettersReturn)
{
    struct Case
    {
        const char* what;
        std::function<void (JuceAudioAdapter&)> set;
        std::function<float (const JuceAudioAdapter&)> get;
        float expected;
    };
    const auto threshold = [] (const JuceAudioAdapter& a) { return a.limiterThresholdDb(); };
    const auto ceiling = [] (const JuceAudioAdapter& a) { return a.limiterCeilingDb(); };
    const auto release = [] (const JuceAudioAdapter& a) { return a.limiterReleaseMs(); };
    const auto drive = [] (const JuceAudioAdapter& a) { return a.limiterDriveDb(); };
    const auto master = [] (const JuceAudioAdapter& a) { return a.masterGainDb(); };
    const auto padBus = [] (const JuceAudioAdapter& a) { return a.padBusGainDb(); };
    const Case cases[] = {
        { "defaults: threshold", [] (JuceAudioAdapter&) {}, threshold, -3.0f },
        { "defaults: ceiling", [] (JuceAudioAdapter&) {}, ceiling, -0.5f },
        { "defaults: release", [] (JuceAudioAdapter&) {}, release, 120.0f },
        { "defaults: drive", [] (JuceAudioAdapter&) {}, drive, 0.0f },
        { "threshold below range", [] (JuceAudioAdapter& a) { a.setLimiterThresholdDb (-40.0f); }, threshold, -30.0f },
        { "threshold NaN", [] (JuceAudioAdapter& a) { a.setLimiterThresholdDb (NAN); }, threshold, -30.0f },
        { "ceiling below range", [] (JuceAudioAdapter& a) { a.setLimiterCeilingDb (-20.0f); }, ceiling, -12.0f },
        { "release 5 ms", [] (JuceAudioAdapter& a) { a.setLimiterReleaseMs (5.0f); }, release, 10.0f },
        { "release NaN", [] (JuceAudioAdapter& a) { a.setLimiterReleaseMs (NAN); }, release, 120.0f },
        { "drive above range", [] (JuceAudioAdapter& a) { a.setLimiterDriveDb (30.0f); }, drive, 24.0f },
        { "master gain above range", [] (JuceAudioAdapter& a) { a.setMasterGainDb (20.0f); }, master, 12.0f },
        { "master gain infinite", [] (JuceAudioAdapter& a) { a.setMasterGainDb (INFINITY); }, master, -60.0f },
        { "pad bus below range", [] (JuceAudioAdapter& a) { a.setPadBusGainDb (-90.0f); }, padBus, -60.0f },
        { "pad bus NaN keeps the last value", [] (JuceAudioAdapter& a) { a.setPadBusGainDb (-6.0f); a.setPadBusGainDb (NAN); }, padBus, -6.0f },
    };
    for (const auto& c : cases)
    {
        auto adapter = makeAdapter ({});
        c.set (*adapter);
        EXPECT_EQ (c.get (*adapter), c.expected) << c.what;
    }
    auto adapter = makeAdapter ({});
    EXPECT_TRUE (adapter->isLimiterEnabled());
    EXPECT_FALSE (adapter->isPadMuted());
    adapter->setLimiterEnabled (false);
    adapter->setPadMute (true);
    EXPECT_FALSE (adapter->isLimiterEnabled());
    EXPECT_TRUE (adapter->isPadMuted());
}

// The EQ window's analyser reads what the EQ target selects, through the adapter.
TEST (JuceAudioAdapterMasterBus, TheAnalyserReadsTheSourceTheEqTargetChose)
{
    vantrel::testing::TempFolder media ("adapter-analyser");
    auto adapter = makeAdapter (vantrel::test::constantMedia (2.0, level));
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, media.path(), vantrel::padMediaKey (1, 1)));
    ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::accepted);
    orvane::audio::AnalyzerFrame frame;
    adapter->renderOfflineFrames (4096);
    EXPECT_FALSE (adapter->popAnalyzerFrame (frame)) << "nothing is tapped before a target is chosen";

    ASSERT_EQ (adapter->eqTargetPlayToken ("@master"), -1);
    adapter->renderOfflineFrames (4096);
    ASSERT_TRUE (adapter->popAnalyzerFrame (frame));
    EXPECT_EQ (frame.sourceTag, orvane::audio::AnalyzerFrame::masterOutput);
    EXPECT_NEAR (frame.left.back(), level, 1.0e-3f);
}

vantrel::MediaLoader::LoadFunction mediaWithCueAt (std::int64_t cueFrame)
{
    return [cueFrame] (const vantrel::MediaLoadRequest& request, vantrel::CancelFlag) {
        auto media = vantrel::test::constantMedia (1.0, level) (request, nullptr);
        media->pcm->cueFrame = cueFrame;
        return media;
    };
}

// AUTO CUE starts the track voices at the media's cue frame; pads always start at the top.
TEST (JuceAudioAdapterAutoCue, TrackVoicesStartAtTheCueFrameOnlyWhileAutoCueIsOn)
{
    struct Case
    {
        bool autoCue;
        bool pad;
        std::int64_t position;   // after one 512-frame block
    };
    for (const Case c : { Case { true, false, 4800 + 512 }, Case { false, false, 512 }, Case { true, true, 512 } })
    {
        SCOPED_TRACE (std::string (c.autoCue ? "AUTO CUE on, " : "AUTO CUE off, ") + (c.pad ? "pad" : "track"));
        vantrel::testing::TempFolder media ("adapter-auto-cue");
        auto adapter = makeAdapter (mediaWithCueAt (4800));
        EXPECT_TRUE (adapter->autoCue());
        adapter->setAutoCue (c.autoCue);
        EXPECT_EQ (adapter->autoCue(), c.autoCue);
        adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
        const std::string key = c.pad ? vantrel::padMediaKey (1, 1) : "row";
        ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, media.path(), key));
        const auto answer = c.pad ? adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 })
                                  : adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, key, 0.0, 1 });
        ASSERT_EQ (answer, SinkAnswer::accepted);
        adapter->renderOfflineFrames (512);
        EXPECT_EQ (adapter->voiceStatus (c.pad ? 2 : 1).position, c.position);
    }
}

// The render hook renders only where nothing else renders: a second render next to a running
// device or renderer thread would race it for the engine.
TEST (JuceAudioAdapterOfflineRender, FramesAreRenderedByHandOnlyOfflineWithManualPacing)
{
    struct Case
    {
        const char* what;
        std::function<void (JuceAudioAdapter&)> start;
        bool renders;
    };
    const Case cases[] = {
        { "no output at all", [] (JuceAudioAdapter&) {}, false },
        { "a device that runs", [] (JuceAudioAdapter& a) { ASSERT_TRUE (a.openOutput (standIn ("Desk"), true).ok); }, false },
        { "the renderer thread", [] (JuceAudioAdapter& a) { a.startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::realTime); }, false },
        { "offline by hand", [] (JuceAudioAdapter& a) { a.startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual); }, true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        vantrel::test::StandInOutputs outputs;
        outputs.add ("Desk");
        auto adapter = makeAdapter (vantrel::test::constantMedia (1.0, level));
        adapter->createDeviceType = [&outputs] (const juce::String& kind) { return outputs.create (kind); };
        c.start (*adapter);
        std::vector<float> left (512, -9.0f), right (512, -9.0f);
        adapter->renderOfflineFrames (512, left.data(), right.data());
        EXPECT_EQ (left[0] != -9.0f, c.renders);
        EXPECT_EQ (right[511] != -9.0f, c.renders);
        adapter.reset();
    }
}
} // namespace
