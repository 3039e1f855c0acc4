#include "AdapterTestSupport.h"

#include <gtest/gtest.h>


namespace
{
using orvane::audio::AudioCommandKind;
using orvane::audio::SinkAnswer;
using vantrel::JuceAudioAdapter;

/** A device that only answers the questions the adapter's start handling asks. */
class FixedDevice : public juce::AudioIODevice
{
public:
    explicit FixedDevice (double rate) : juce::AudioIODevice ("Fixed", "Test"), rate (rate) {}

    juce::StringArray getOutputChannelNames() override  { return { "L", "R" }; }
    juce::StringArray getInputChannelNames() override   { return {}; }
    juce::Array<double> getAvailableSampleRates() override  { return { rate }; }
    juce::Array<int> getAvailableBufferSizes() override  { return { 512 }; }
    int getDefaultBufferSize() override  { return 512; }
    juce::String open (const juce::BigInteger&, const juce::BigInteger&, double, int) override  { return {}; }
    void close() override {}
    bool isOpen() override  { return true; }
    void start (juce::AudioIODeviceCallback*) override {}
    void stop() override {}
    bool isPlaying() override  { return true; }
    juce::String getLastError() override  { return {}; }
    int getCurrentBufferSizeSamples() override  { return 512; }
    double getCurrentSampleRate() override  { return rate; }
    int getCurrentBitDepth() override  { return 32; }
    juce::BigInteger getActiveOutputChannels() const override  { return 3; }
    juce::BigInteger getActiveInputChannels() const override  { return {}; }
    int getOutputLatencyInSamples() override  { return 64; }
    int getInputLatencyInSamples() override  { return 0; }

    double rate;
};

vantrel::MediaLoader::LoadFunction constantMedia()
{
    return vantrel::test::constantMedia (10.0, 0.1f);
}

class DeviceCallbackTest : public ::testing::Test
{
protected:
    juce::File folder = juce::File::createTempFile ("device-callback");
    JuceAudioAdapter adapter { constantMedia(), [] { return std::int64_t { 0 }; }, vantrel::test::privateRackOptions() };
    std::vector<float> left = std::vector<float> (512), right = std::vector<float> (512);

    void SetUp() override     { ASSERT_TRUE (folder.createDirectory()); }
    void TearDown() override  { folder.deleteRecursively(); }

    void block()
    {
        float* channels[] = { left.data(), right.data() };
        adapter.audioDeviceIOCallbackWithContext (nullptr, 0, channels, 2, 512, {});
    }

    void playTrack()
    {
        ASSERT_TRUE (vantrel::test::prepareStandIn (adapter, folder, "track"));
        const orvane::audio::AudioCommand go { AudioCommandKind::goFromSilence, std::string ("track"), 0.0, 5 };
        ASSERT_EQ (adapter.submit (go), SinkAnswer::accepted);
        block();
        ASSERT_TRUE (adapter.voiceStatus (1).playing);
    }
};

TEST_F (DeviceCallbackTest, RestartAtTheSameRateIsCountedAndAnotherRateUnderAPlayingTrackIsGated)
{
    FixedDevice device48 (48000.0), device44 (44100.0);
    adapter.audioDeviceAboutToStart (&device48);
    EXPECT_TRUE (adapter.isRunning());
    playTrack();
    EXPECT_GT (left[511], 0.0f);

    // A stop notification followed by a restart at the same rate before the next tick.
    adapter.audioDeviceStopped();
    EXPECT_FALSE (adapter.isRunning());
    EXPECT_EQ (adapter.statistics().stopNotifications.load(), 1);
    adapter.audioDeviceAboutToStart (&device48);
    EXPECT_TRUE (adapter.isRunning());
    EXPECT_EQ (adapter.statistics().successfulDriverRestarts.load(), 1);
    block();
    EXPECT_EQ (adapter.statistics().recentGaps().back(), 0);   // the first callback after a start
    EXPECT_FALSE (adapter.tick());

    // A restart at another rate while the track sounds is refused; the next tick closes.
    adapter.audioDeviceStopped();
    adapter.audioDeviceAboutToStart (&device44);
    EXPECT_FALSE (adapter.isRunning());
    EXPECT_EQ (adapter.statistics().rateChangeGates.load(), 1);
    EXPECT_EQ (adapter.sampleRate(), 48000.0);
    block();   // silence while not ready
    EXPECT_EQ (left[0], 0.0f);
    EXPECT_TRUE (adapter.tick());
    EXPECT_EQ (adapter.statistics().confirmedLossEvents.load(), 1);
    EXPECT_EQ (adapter.lastError(),
               juce::String::fromUTF8 ("サンプルレートが変化したため一時停止しました。元の出力レートで復帰を確認してください"));
}

TEST_F (DeviceCallbackTest, AnErrorNotificationIsALossWithTheDisconnectText)
{
    FixedDevice device (48000.0);
    adapter.audioDeviceAboutToStart (&device);
    block();
    adapter.audioDeviceError ("driver gone");
    EXPECT_FALSE (adapter.isRunning());
    EXPECT_EQ (adapter.statistics().deviceErrors.load(), 1);
    EXPECT_TRUE (adapter.tick());
    EXPECT_EQ (adapter.lastError(), juce::String::fromUTF8 ("出力先が切断されました。プレイリストは一時停止、PADは停止しました"));
    EXPECT_FALSE (adapter.tick());
}
} // namespace

namespace
{
TEST (AdapterDiagnostics, TickWritesTheFileWithDeviceAndRackFieldsButNotOffline)
{
    const auto folder = juce::File::createTempFile ("adapter-diagnostics");
    ASSERT_TRUE (folder.createDirectory());
    const auto file = folder.getChildFile ("audio-diagnostics.json");
    {
        JuceAudioAdapter adapter { constantMedia(), [] { return std::int64_t { 0 }; }, vantrel::test::privateRackOptions() };
        adapter.setDiagnosticsPath (file);
        adapter.tick();
        ASSERT_TRUE (vantrel::test::waitUntil ([&] { return file.existsAsFile(); }));   // written on the writer's thread
        const auto document = juce::JSON::parse (file);
        EXPECT_EQ (static_cast<int> (document["driverXruns"]), -1);
        EXPECT_FALSE (static_cast<bool> (document["ready"]));
        EXPECT_EQ (document["vstSlots"].size(), 2);
    }
    ASSERT_TRUE (file.deleteFile());
    {
        JuceAudioAdapter adapter { constantMedia(), [] { return std::int64_t { 0 }; }, vantrel::test::privateRackOptions() };
        adapter.setDiagnosticsPath (file);
        adapter.startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
        adapter.tick();
    }   // the destructor joins the writer: nothing was queued
    EXPECT_FALSE (file.exists());
    folder.deleteRecursively();
}
} // namespace
