// The adapter's device side against stand-in drivers: how an output is chosen and opened, what a
// failed open leaves behind, a driver thread that stalls or fails, automatic reopening, and the
// catalogue queries of the audio settings panel.
#include "AdapterTestSupport.h"
#include "StandInOutput.h"

#include <gtest/gtest.h>


namespace
{
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::PadAudioCommand;
using orvane::audio::PadAudioCommandKind;
using orvane::audio::SinkAnswer;
using vantrel::JuceAudioAdapter;
using vantrel::OutputDeviceSettings;
using vantrel::test::StandInSpec;

juce::String utf8 (const char* text)  { return juce::String::fromUTF8 (text); }

OutputDeviceSettings standIn (const juce::String& name, double rate = 0.0, int buffer = 0, int pair = 0)
{
    return { "Stand-in", name, juce::String ("Stand-in:") + name, rate, buffer, pair };
}

class DeviceLifecycleTest : public ::testing::Test
{
protected:
    vantrel::test::StandInOutputs outputs;
    juce::File folder = juce::File::createTempFile ("device-lifecycle");
    std::atomic<std::uint32_t> nowMs { 100000 };
    std::unique_ptr<JuceAudioAdapter> adapter;

    void SetUp() override
    {
        ASSERT_TRUE (folder.createDirectory());
        adapter = std::make_unique<JuceAudioAdapter> (vantrel::test::constantMedia (10.0, 0.25f), [] { return std::int64_t { 0 }; },
                                                      vantrel::test::privateRackOptions());
        adapter->createDeviceType = [this] (const juce::String& kind) { return outputs.create (kind); };
        adapter->millisecondCounter = [this] { return nowMs.load(); };
    }

    void TearDown() override
    {
        adapter.reset();
        folder.deleteRecursively();
    }

    void prepared (const std::string& key)
    {
        ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, folder, key)) << key;
    }

    /** Ticks (on the test's own clock) while real time passes, until the condition holds. */
    template <typename Condition>
    bool tickUntil (Condition condition)
    {
        return vantrel::test::tickUntil (*adapter, condition);
    }

    void waitForCallbacks (std::int64_t more)
    {
        const auto target = adapter->statistics().callbacks.load() + more;
        ASSERT_TRUE (tickUntil ([&] { return adapter->statistics().callbacks.load() >= target; }));
    }
};

TEST_F (DeviceLifecycleTest, RateBufferAndChannelsAreChosenFromWhatTheDeviceOffers)
{
    struct Case
    {
        const char* what;
        StandInSpec spec;
        OutputDeviceSettings settings;
        double rate;       // opened at, 0 when the open must fail
        int buffer;
        int channels;      // bit mask of the opened outputs
        juce::String error;
    };
    const auto stage = [] (double rate, int buffer = 0, int pair = 0) { return standIn ("Stage", rate, buffer, pair); };
    StandInSpec rates44And96;
    rates44And96.rates = { 44100.0, 96000.0 };
    StandInSpec only96;
    only96.rates = { 96000.0 };
    StandInSpec common;
    common.rates = { 44100.0, 48000.0, 96000.0 };
    common.bufferSizes = { 256, 1024 };
    common.defaultBufferSize = 1024;
    StandInSpec rates44And48;
    rates44And48.rates = { 44100.0, 48000.0 };
    StandInSpec oneChannel;
    oneChannel.channels = { "Mono" };
    StandInSpec threeChannels;
    threeChannels.channels = { "1", "2", "3" };
    StandInSpec fourChannels;
    fourChannels.channels = { "1", "2", "3", "4" };
    StandInSpec noChannels;
    noChannels.channels = {};
    StandInSpec broken;
    broken.errorText = "the driver refused";

    const Case cases[] = {
        { "no stored rate: 44100 before others", rates44And96, stage (0.0), 44100.0, 512, 0b11, {} },
        { "no stored rate, only 96000 offered", only96, stage (0.0), 96000.0, 512, 0b11, {} },
        { "no stored rate: 48000 first", common, stage (0.0), 48000.0, 1024, 0b11, {} },
        { "stored rate and buffer offered", common, stage (96000.0, 256), 96000.0, 256, 0b11, {} },
        { "stored rate not offered", rates44And48, stage (96000.0), 0.0, 0, 0,
          utf8 ("選択したサンプルレートに対応していません: ") + "96000 Hz / 44100, 48000" },
        { "stored buffer not offered", common, stage (48000.0, 512), 0.0, 0, 0, utf8 ("選択したバッファーサイズに対応していません") },
        { "second pair of a two-channel device", StandInSpec {}, stage (0.0, 0, 1), 0.0, 0, 0, utf8 ("選択した出力チャンネルがありません") },
        { "second pair of a three-channel device", threeChannels, stage (0.0, 0, 1), 0.0, 0, 0, utf8 ("選択した出力チャンネルがありません") },
        { "second pair of a four-channel device", fourChannels, stage (0.0, 0, 1), 48000.0, 512, 0b1100, {} },
        { "one channel plays the first pair", oneChannel, stage (0.0), 48000.0, 512, 0b1, {} },
        { "no output channels", noChannels, stage (0.0), 0.0, 0, 0, utf8 ("出力チャンネルがありません") },
        { "device reports an error", broken, stage (0.0), 0.0, 0, 0, "the driver refused" },
        { "name not offered", StandInSpec {}, standIn ("Booth"), 0.0, 0, 0, utf8 ("指定された出力先がありません") },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        vantrel::test::StandInOutputs own;
        const auto record = own.add ("Stage", c.spec);
        adapter->createDeviceType = [&own] (const juce::String& kind) { return own.create (kind); };

        const auto result = adapter->selectOutput (c.settings);
        if (c.error.isEmpty())
        {
            ASSERT_TRUE (result.ok) << result.message;
            EXPECT_TRUE (adapter->hasDevice());
            EXPECT_TRUE (adapter->isRunning());
            EXPECT_EQ (record->openedRate.load(), c.rate);
            EXPECT_EQ (record->openedBuffer.load(), c.buffer);
            EXPECT_EQ (record->openedChannels.load(), c.channels);
            EXPECT_EQ (adapter->sampleRate(), c.rate);
            EXPECT_TRUE (adapter->lastError().isEmpty());
            adapter->closeDevice();
        }
        else
        {
            EXPECT_FALSE (result.ok);
            EXPECT_EQ (result.message, c.error);
            EXPECT_EQ (adapter->lastError(), c.error);
            EXPECT_FALSE (adapter->hasDevice());
            EXPECT_FALSE (adapter->isRunning());
            EXPECT_EQ (record->opened.load(), 0);   // a failing device is never opened ...
            EXPECT_EQ (record->destroyed.load(), record->created.load());   // ... and is deleted
        }
        EXPECT_EQ (adapter->statistics().stopNotifications.load(), 0);   // the adapter's own stops are not news
    }
}

TEST_F (DeviceLifecycleTest, ChoosingAnotherOutputReplacesTheOpenOneOnlyWhenTheChoiceIsComplete)
{
    const auto stage = outputs.add ("Stage");
    const auto booth = outputs.add ("Booth");
    ASSERT_TRUE (adapter->selectOutput (standIn ("Stage")).ok);
    waitForCallbacks (2);

    // Without an id nothing changes: the stage keeps playing.
    const auto incomplete = adapter->selectOutput ({ "Stand-in", "Booth", "", 0.0, 0, 0 });
    EXPECT_FALSE (incomplete.ok);
    EXPECT_EQ (incomplete.message, utf8 ("出力先を選択してください"));
    EXPECT_TRUE (adapter->isRunning());
    EXPECT_EQ (adapter->storedOutputSettings().id, "Stand-in:Stage");

    ASSERT_TRUE (adapter->selectOutput (standIn ("Booth")).ok);
    EXPECT_EQ (stage->destroyed.load(), stage->created.load());
    EXPECT_EQ (booth->opened.load(), 1);
    waitForCallbacks (2);
    EXPECT_EQ (adapter->statistics().stopNotifications.load(), 0);
    EXPECT_FALSE (adapter->tick());

    // A type the program cannot make is named as such.
    const auto unknown = adapter->selectOutput ({ "Elsewhere", "X", "Elsewhere:X", 0.0, 0, 0 });
    EXPECT_EQ (unknown.message, utf8 ("保存した出力方式に対応していません"));
}

TEST_F (DeviceLifecycleTest, AnOpenWaitsUntilJackShowsEveryChannelAndSaysWhatItWaitsFor)
{
    // A busy JACK server (a loaded PipeWire) shows a new port connection late: the open activates
    // one of the two channels, and the output would play on one side only. The open is held,
    // unstarted, until every channel shows: when JACK reports it, or at a new open made 1 s,
    // then 2 s and 3 s later; after 10 s it fails. Time here is the test's clock alone.
    const auto waiting = utf8 ("JACKが出力チャンネルを接続するのを待っています");
    struct Case
    {
        const char* name;
        int partialOpens;
        int showAfterMs;     // JACK reports the connections this late; -1: never
        bool connects;
        int opensSeen;
        int waitedMs;        // on the test's clock
    };
    for (const auto& c : { Case { "reported by JACK", 100, 2500, true, 2, 2500 },
                           Case { "shown at the third new open", 3, -1, true, 4, 6000 },
                           Case { "never shown", 100, -1, false, 4, 10000 } })
    {
        SCOPED_TRACE (c.name);
        const auto record = outputs.add ("Stage");
        record->partialOpens = c.partialOpens;
        const auto startMs = nowMs.load();
        const auto result = adapter->selectOutput (standIn ("Stage"));
        ASSERT_TRUE (result.ok) << result.message;
        EXPECT_TRUE (adapter->isConnectingOutput());
        EXPECT_EQ (adapter->lastError(), waiting);
        EXPECT_TRUE (adapter->hasDevice());
        EXPECT_FALSE (adapter->isRunning());

        // Every 100 ms of the clock a tick; no tick is a loss, and nothing calls back meanwhile.
        while (adapter->isConnectingOutput())
        {
            ASSERT_LE (nowMs.load() - startMs, 10000u);
            nowMs += 100;
            if (c.showAfterMs >= 0 && nowMs.load() - startMs >= (std::uint32_t) c.showAfterMs)
                record->connectionsShown = true;
            EXPECT_FALSE (adapter->tick());
        }
        EXPECT_EQ (nowMs.load() - startMs, (std::uint32_t) c.waitedMs);
        EXPECT_EQ (record->opened.load(), c.opensSeen);
        EXPECT_EQ (adapter->statistics().confirmedLossEvents.load(), 0);
        if (c.connects)
        {
            EXPECT_TRUE (adapter->isRunning());
            EXPECT_TRUE (adapter->lastError().isEmpty()) << adapter->lastError();
            EXPECT_EQ (record->openedChannels.load(), 0b11);
            waitForCallbacks (2);
            EXPECT_EQ (adapter->statistics().stopNotifications.load(), 0);
        }
        else
        {
            EXPECT_EQ (adapter->lastError(), utf8 ("出力チャンネルを接続できませんでした"));
            EXPECT_FALSE (adapter->hasDevice());
            EXPECT_EQ (record->destroyed.load(), record->created.load());
            // The stored output is opened again a second later, as after any failed attempt.
            nowMs += 900;
            EXPECT_FALSE (adapter->tick());
            EXPECT_EQ (record->opened.load(), c.opensSeen);
            nowMs += 100;
            EXPECT_FALSE (adapter->tick());
            EXPECT_EQ (record->opened.load(), c.opensSeen + 1);
            EXPECT_TRUE (adapter->isConnectingOutput());
        }
        adapter->closeDevice();
    }

    // Closing (as a quit does) ends a wait at once and leaves nothing open.
    const auto record = outputs.add ("Stage");
    record->partialOpens = 100;
    ASSERT_TRUE (adapter->selectOutput (standIn ("Stage")).ok);
    ASSERT_TRUE (adapter->isConnectingOutput());
    adapter->closeDevice();
    EXPECT_FALSE (adapter->isConnectingOutput());
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_EQ (record->destroyed.load(), record->created.load());
}

TEST_F (DeviceLifecycleTest, AStartRefusedInsideTheOpenFailsItAndTheNextTickCountsTheLoss)
{
    StandInSpec zeroBuffer;
    zeroBuffer.reportedBufferSize = 0;   // the driver starts with a block size it cannot have
    const auto record = outputs.add ("Stage", zeroBuffer);

    const auto result = adapter->selectOutput (standIn ("Stage"));
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, utf8 ("出力先が開始しませんでした"));
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_EQ (record->destroyed.load(), record->created.load());

    EXPECT_TRUE (adapter->tick());
    EXPECT_EQ (adapter->statistics().confirmedLossEvents.load(), 1);
    EXPECT_EQ (adapter->lastError(), utf8 ("出力先が切断されました。プレイリストは一時停止、PADは停止しました"));
    EXPECT_FALSE (adapter->tick());
}

TEST_F (DeviceLifecycleTest, ADriverThreadThatStopsQuietlyIsALostDeviceAndTheOutputComesBack)
{
    const auto record = outputs.add ("Stage");
    ASSERT_TRUE (adapter->openOutput (standIn ("Stage"), true).ok);
    prepared ("row");
    prepared (vantrel::padMediaKey (1, 1));
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row"), 0.0, 7 }), SinkAnswer::accepted);
    ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > 4800 && adapter->voiceStatus (2).playing; }));

    // A healthy driver is never taken for stalled, however long the message thread slept.
    for (int i = 0; i < 5; ++i)
    {
        const auto before = adapter->statistics().callbacks.load();
        ASSERT_TRUE (vantrel::test::waitUntil ([&] { return adapter->statistics().callbacks.load() != before; }));
        nowMs += 10000;
        EXPECT_FALSE (adapter->tick());
    }

    // The driver thread ends quietly; from then on the counter stands still.
    record->stall = true;
    const auto stalledAt = adapter->statistics().callbacks.load();
    ASSERT_TRUE (vantrel::test::waitUntil ([&] { return record->stalls.load() == 1; }));
    ASSERT_LE (adapter->statistics().callbacks.load(), stalledAt + 1);
    EXPECT_FALSE (adapter->tick());   // the counter is watched from here
    nowMs += 400;
    EXPECT_FALSE (adapter->tick());
    nowMs += 200;
    ASSERT_TRUE (adapter->tick());
    EXPECT_EQ (adapter->lastError(), utf8 ("出力先が切断されました。プレイリストは一時停止、PADは停止しました"));
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_FALSE (adapter->isRunning());
    EXPECT_EQ (adapter->statistics().confirmedLossEvents.load(), 1);
    const auto track = adapter->voiceStatus (1);
    EXPECT_TRUE (track.playing && track.paused);
    EXPECT_GT (track.position, 4800);
    EXPECT_FALSE (adapter->voiceStatus (2).playing);
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row"), 0.0, 8 }), SinkAnswer::refused);

    // The lost device is let go half a second later; its stop is not a new loss.
    nowMs += 600;
    EXPECT_FALSE (adapter->tick());
    EXPECT_EQ (record->destroyed.load(), record->created.load());
    EXPECT_EQ (adapter->statistics().stopNotifications.load(), 0);

    // A second after the loss the stored output is opened again at the held rate.
    record->stall = false;
    nowMs += 500;
    adapter->tick();
    ASSERT_TRUE (adapter->hasDevice());
    EXPECT_TRUE (adapter->isRunning());
    EXPECT_EQ (record->openedRate.load(), 48000.0);
    EXPECT_EQ (adapter->statistics().successfulDriverRestarts.load(), 0);
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row"), 0.0, 9 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).playToken == 9 && adapter->voiceStatus (1).position > 4800; }));

    // An error from the driver thread is a loss as well, counted as a device error.
    record->fail = true;
    ASSERT_TRUE (vantrel::test::waitUntil ([&] { return adapter->statistics().deviceErrors.load() != 0; }));
    EXPECT_EQ (adapter->statistics().deviceErrors.load(), 1);
    EXPECT_TRUE (adapter->tick());
    EXPECT_EQ (adapter->statistics().confirmedLossEvents.load(), 2);
}

TEST_F (DeviceLifecycleTest, AnOutputThatReturnsAtAnotherRateDoesNotResumeUnderAPausedTrack)
{
    const auto record = outputs.add ("Stage");
    ASSERT_TRUE (adapter->openOutput (standIn ("Stage"), true).ok);
    prepared ("row");
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row"), 0.0, 7 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > 4800; }));
    record->fail = true;
    ASSERT_TRUE (tickUntil ([&] { return ! adapter->hasDevice(); }));
    record->fail = false;

    // The device comes back offering only 44100: the held rate cannot be resumed.
    outputs.spec ("Stage").rates = { 44100.0 };
    nowMs += 1000;
    adapter->tick();
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_EQ (adapter->lastError(), utf8 ("保持中のサンプルレートで出力先を復帰できません"));

    // Chosen by the operator at 44100 while the paused track still holds its place: the start is
    // gated and the next tick reports the rate change.
    const auto chosen = adapter->selectOutput (standIn ("Stage"));
    EXPECT_FALSE (chosen.ok);
    EXPECT_EQ (chosen.message, utf8 ("出力先が開始しませんでした"));
    EXPECT_EQ (adapter->statistics().rateChangeGates.load(), 1);
    EXPECT_TRUE (adapter->tick());
    EXPECT_EQ (adapter->lastError(), utf8 ("サンプルレートが変化したため一時停止しました。元の出力レートで復帰を確認してください"));
    EXPECT_EQ (adapter->sampleRate(), 48000.0);

    // Once the track is stopped the new rate is taken.
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::stopMain, {}, 0.0, 0 }), SinkAnswer::accepted);
    ASSERT_TRUE (adapter->selectOutput (standIn ("Stage")).ok);
    EXPECT_EQ (adapter->sampleRate(), 44100.0);
}

TEST_F (DeviceLifecycleTest, SettingsPanelQueries)
{
    StandInSpec stageSpec;
    stageSpec.rates = { 44100.0, 48000.0 };
    stageSpec.bufferSizes = { 256, 512 };
    stageSpec.xruns = 3;
    const auto stage = outputs.add ("Stage", stageSpec);
    StandInSpec boothSpec;
    boothSpec.rates = { 96000.0 };
    boothSpec.channels = { "A", "B", "C", "D" };
    boothSpec.controlPanel = true;
    const auto booth = outputs.add ("Booth", boothSpec);

    const auto listed = adapter->listOutputDevices ({ "Stand-in", {}, {}, 0.0, 0, 0 });
    ASSERT_EQ (listed.size(), 2u);
    EXPECT_EQ (listed[0], standIn ("Booth"));
    EXPECT_EQ (listed[1], standIn ("Stage"));
    EXPECT_TRUE (adapter->listOutputDevices ({ "Elsewhere", {}, {}, 0.0, 0, 0 }).empty());

    // Not open: a temporary device answers and is deleted again.
    const auto closed = adapter->deviceCapabilities (standIn ("Booth"));
    EXPECT_EQ (closed.sampleRates, juce::Array<double> { 96000.0 });
    EXPECT_EQ (closed.outputChannelNames, (juce::StringArray { "A", "B", "C", "D" }));
    EXPECT_EQ (booth->created.load(), 1);
    EXPECT_EQ (booth->destroyed.load(), 1);
    const auto missing = adapter->deviceCapabilities (standIn ("Nowhere"));
    EXPECT_TRUE (missing.sampleRates.isEmpty() && missing.bufferSizes.isEmpty() && missing.outputChannelNames.isEmpty());
    EXPECT_FALSE (adapter->showDriverControlPanel());

    // Open: the open device answers itself.
    ASSERT_TRUE (adapter->selectOutput (standIn ("Stage")).ok);
    const int createdBefore = stage->created.load();
    const auto open = adapter->deviceCapabilities (standIn ("Stage"));
    EXPECT_EQ (open.sampleRates, (juce::Array<double> { 44100.0, 48000.0 }));
    EXPECT_EQ (open.bufferSizes, (juce::Array<int> { 256, 512 }));
    EXPECT_EQ (stage->created.load(), createdBefore);
    EXPECT_FALSE (adapter->showDriverControlPanel());   // no panel to show
    EXPECT_EQ (stage->panelsShown.load(), 0);

    // The diagnostics name the open output and take the driver's own xrun count.
    EXPECT_EQ (static_cast<int> (adapter->diagnosticsJson()["driverXruns"]), -1);
    adapter->tick();
    const auto document = adapter->diagnosticsJson();
    EXPECT_EQ (document["outputType"].toString(), "Stand-in");
    EXPECT_EQ (document["outputName"].toString(), "Stage");
    EXPECT_EQ (static_cast<double> (document["sampleRate"]), 48000.0);
    EXPECT_EQ (static_cast<int> (document["bufferSamples"]), 512);
    EXPECT_EQ (static_cast<int> (document["driverLatencySamples"]), 512);
    EXPECT_TRUE (static_cast<bool> (document["ready"]));
    EXPECT_EQ (static_cast<int> (document["driverXruns"]), 3);

    ASSERT_TRUE (adapter->selectOutput (standIn ("Booth")).ok);
    EXPECT_TRUE (adapter->showDriverControlPanel());
    EXPECT_EQ (booth->panelsShown.load(), 1);
    outputs.spec ("Booth").controlPanelShows = false;
    ASSERT_TRUE (adapter->selectOutput (standIn ("Booth")).ok);
    EXPECT_FALSE (adapter->showDriverControlPanel());
}
} // namespace
