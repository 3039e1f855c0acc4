#include "AdapterTestSupport.h"
#include "support/JackDummyServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>

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

const OutputDeviceSettings jackSystem { "JACK", "system", "JACK:system", 0.0, 0, 0 };

class JackAdapterTest : public ::testing::Test
{
protected:
    vantrel::test::JackDummyServer server;
    juce::File folder = juce::File::createTempFile ("adapter-jack");
    std::atomic<std::uint32_t> nowMs { 100000 };
    std::unique_ptr<JuceAudioAdapter> adapter;

    void SetUp() override
    {
        if (! vantrel::test::JackDummyServer::installed())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE (server.start()) << server.lastError();
        ASSERT_TRUE (folder.createDirectory());
        adapter = std::make_unique<JuceAudioAdapter> (vantrel::test::constantMedia (30.0, level), [] { return std::int64_t { 0 }; },
                                                      vantrel::test::privateRackOptions());
        adapter->setLimiterEnabled (false);
        // JUCE's JACK device hands port changes to the MessageManager's thread: the adapter's
        // thread, never the JACK client's (which would restart the device during an open).
        ASSERT_TRUE (juce::MessageManager::existsAndIsCurrentThread());
        // The program's clock moves only when a test moves it: JACK's own loss reports are what
        // is tested here, so a server starved for half a second is not taken for a stalled
        // device (that watchdog is tested on stand-in devices).
        adapter->millisecondCounter = [this] { return nowMs.load(); };
    }

    void TearDown() override
    {
        adapter.reset();
        server.stop();
        folder.deleteRecursively();
    }

    void prepared (const std::string& key, float gainDb)
    {
        ASSERT_TRUE (vantrel::test::prepareStandIn (*adapter, folder, key, gainDb)) << key;
    }

    template <typename Condition>
    bool tickUntil (Condition condition)
    {
        return vantrel::test::tickUntil (*adapter, condition, vantrel::test::patienceMs, 10);
    }

    /** Opens the server's playback ports, asked again while the output reads as missing (see
        untilSeen); the last answer is returned. A successful open is waited for until it runs
        (below). */
    vantrel::StoreResult openSystem()
    {
        const auto opened = untilSeen ([&] { return adapter->openOutput (jackSystem, true); });
        if (opened.ok)
        {
            EXPECT_TRUE (startsRunning()) << vantrel::test::describeDevice (*adapter);
        }
        return opened;
    }

    /** `open` (an open or a selection) asked again while its answer is that the output is
        missing. libjack names a client's notification socket after the client's name and the
        user only (/dev/shm/jack_<name>_<uid>_0), whatever its server: two test processes that
        open JUCE's scan client ("JuceJackDummy") on their private servers at the same moment
        can take each other's socket, and that scan then lists no client (the device's own
        client, "Vantrel", the same: it then cannot start). The program opens its stored output
        again a second later; a test asks again. */
    template <typename Open>
    vantrel::StoreResult untilSeen (Open open)
    {
        vantrel::StoreResult result;
        vantrel::test::waitUntil ([&] { result = open();
                                        return result.message != missingText && ! result.message.startsWith (jackInitText); }, [] {},
                                  vantrel::test::patienceMs, 100);
        return result;
    }

    const juce::String missingText = juce::String::fromUTF8 ("指定された出力先がありません");
    const juce::String jackInitText = juce::String::fromUTF8 ("JACKを初期化できません: ");   // the device's own client clashed

    /** An open succeeds before JACK shows the connections of its output channels; the device
        starts at the tick that sees them, which may come later on a loaded machine, and the
        open waits for them by the program's clock (it opens again and gives up by it): the
        clock follows real time while this waits. */
    bool startsRunning()
    {
        auto last = juce::Time::getMillisecondCounter();
        return vantrel::test::waitUntil ([&] { return adapter->isRunning(); }, [&] {
            const auto now = juce::Time::getMillisecondCounter();
            nowMs += now - last;
            last = now;
            adapter->tick();
        }, vantrel::test::patienceMs, 10);
    }

    /** Ticks with a second of the program's clock before each tick, so that every tick without a
        device makes an open attempt, until the condition holds. */
    template <typename Condition>
    bool reopenUntil (Condition condition)
    {
        return vantrel::test::waitUntil (condition, [this] {
            nowMs += 1000;
            adapter->tick();
        }, vantrel::test::patienceMs, 10);
    }
};

TEST_F (JackAdapterTest, OpensTheStoredOutputAndPlaysGoAndPadsAtTheirGain)
{
    const auto opened = openSystem();
    ASSERT_TRUE (opened.ok) << opened.message;
    EXPECT_TRUE (adapter->hasDevice());
    EXPECT_TRUE (adapter->isRunning());
    EXPECT_EQ (adapter->sampleRate(), 48000.0);

    prepared ("row-1", -6.0f);
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 7 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > 48000 / 4; })) << vantrel::test::describeDevice (*adapter);
    const auto meters = adapter->masterMeters();
    EXPECT_NEAR (meters.outputPeakLeftDb, 20.0f * std::log10 (level) - 6.0f, 0.1f);

    prepared (vantrel::padMediaKey (1, 1), 0.0f);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (2).playing; })) << vantrel::test::describeDevice (*adapter);
    EXPECT_GT (adapter->statistics().callbacks.load(), 0);
    EXPECT_EQ (adapter->statistics().stopNotifications.load(), 0);

    // The adapter's own close is not a lost device.
    adapter->closeDevice();
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_FALSE (adapter->tick());
    EXPECT_EQ (adapter->statistics().stopNotifications.load(), 0);
}

TEST_F (JackAdapterTest, EmptyIdOpensTheDefaultDeviceFoundByName)
{
    const auto opened = untilSeen ([&] { return adapter->openOutput ({ "JACK", "", "", 0.0, 0, 0 }, true); });
    ASSERT_TRUE (opened.ok) << opened.message;
    EXPECT_EQ (adapter->storedOutputSettings().id, "JACK:system");
}

// A first start (no settings file: no type) takes the JACK server that answers, on its playback
// ports, and reopens it by itself; settings that could not be read open nothing, JACK or not.
TEST_F (JackAdapterTest, AFirstStartTakesTheRunningServerAndUnreadSettingsOpenNothing)
{
    // A scan that lost its socket (see untilSeen) reads as no JACK: that first start is made again.
    vantrel::StoreResult opened;
    vantrel::test::waitUntil ([&] { return (opened = adapter->openOutput ({}, true)).ok; }, [] {},
                              vantrel::test::patienceMs, 100);
    ASSERT_TRUE (opened.ok) << opened.message;
    EXPECT_TRUE (startsRunning()) << vantrel::test::describeDevice (*adapter);
    EXPECT_EQ (adapter->storedOutputSettings(), jackSystem);
    EXPECT_TRUE (adapter->reopensAutomatically());
    adapter->closeDevice();

    const auto unread = adapter->openOutput ({}, false);
    EXPECT_FALSE (unread.ok);
    EXPECT_EQ (unread.message, juce::String::fromUTF8 ("出力先設定エラー。出力先を明示選択してください"));
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_FALSE (adapter->reopensAutomatically());
}

TEST_F (JackAdapterTest, OpenFailuresNameTheirCause)
{
    auto rate = jackSystem;
    rate.sampleRate = 44100.0;
    auto pair = jackSystem;
    pair.outputPair = 1;
    auto buffer = jackSystem;
    buffer.bufferSize = 256;
    auto missing = jackSystem;
    missing.id = "JACK:nobody";
    struct Case { OutputDeviceSettings settings; juce::String message; };
    for (const auto& c : { Case { rate, juce::String::fromUTF8 ("選択したサンプルレートに対応していません: 44100 Hz / 48000") },
                           Case { pair, juce::String::fromUTF8 ("選択した出力チャンネルがありません") },
                           Case { buffer, juce::String::fromUTF8 ("選択したバッファーサイズに対応していません") },
                           Case { missing, missingText } })
    {
        const auto result = c.message == missingText ? adapter->selectOutput (c.settings)
                                                     : untilSeen ([&] { return adapter->selectOutput (c.settings); });
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, c.message);
        EXPECT_EQ (adapter->lastError(), c.message);
        EXPECT_FALSE (adapter->hasDevice());
    }
    const auto unclean = adapter->openOutput (jackSystem, false);
    EXPECT_EQ (unclean.message, juce::String::fromUTF8 ("出力先設定エラー。出力先を明示選択してください"));
    EXPECT_FALSE (adapter->hasDevice());
}

TEST_F (JackAdapterTest, ServerLossPausesTracksStopsPadsAndTheOutputReopensByItself)
{
    ASSERT_TRUE (openSystem().ok);
    prepared ("row-1", 0.0f);
    prepared (vantrel::padMediaKey (1, 1), 0.0f);
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 7 }), SinkAnswer::accepted);
    ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > 4800 && adapter->voiceStatus (2).playing; })) << vantrel::test::describeDevice (*adapter);

    server.stop();
    bool lost = false;
    ASSERT_TRUE (vantrel::test::waitUntil ([&] { return lost; }, [&] { lost = adapter->tick(); }, vantrel::test::patienceMs, 10));
    EXPECT_EQ (adapter->lastError(), juce::String::fromUTF8 ("出力先が切断されました。プレイリストは一時停止、PADは停止しました"));
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_EQ (adapter->statistics().confirmedLossEvents.load(), 1);
    const auto track = adapter->voiceStatus (1);
    EXPECT_GT (track.position, 4800);
    EXPECT_FALSE (adapter->voiceStatus (2).playing);
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 8 }), SinkAnswer::refused);

    ASSERT_TRUE (server.start()) << server.lastError();
    ASSERT_TRUE (reopenUntil ([&] { return adapter->hasDevice() && adapter->isRunning(); })) << vantrel::test::describeDevice (*adapter);
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 9 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).playToken == 9 && adapter->voiceStatus (1).playing; })) << vantrel::test::describeDevice (*adapter);
}

TEST_F (JackAdapterTest, AServerBackAtAnotherRateWaitsUntilTheTrackIsStopped)
{
    ASSERT_TRUE (openSystem().ok);
    prepared ("row-1", 0.0f);
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 7 }), SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).position > 4800; })) << vantrel::test::describeDevice (*adapter);

    server.stop();
    ASSERT_TRUE (tickUntil ([&] { return ! adapter->hasDevice(); })) << vantrel::test::describeDevice (*adapter);
    server.sampleRate = 44100;
    ASSERT_TRUE (server.start()) << server.lastError();

    // The paused track holds its place at 48 kHz: the server at 44.1 kHz is tried and not taken.
    const auto heldRateRefused = juce::String::fromUTF8 ("保持中のサンプルレートで出力先を復帰できません");
    ASSERT_TRUE (reopenUntil ([&] { return adapter->lastError() == heldRateRefused; })) << adapter->lastError();
    EXPECT_FALSE (adapter->hasDevice());
    EXPECT_TRUE (adapter->voiceStatus (1).paused);
    EXPECT_EQ (adapter->sampleRate(), 48000.0);

    // Stopped, the output reopens by itself at the server's new rate and plays again.
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::stopMain, {}, 0.0, 0 }), SinkAnswer::accepted);
    ASSERT_TRUE (reopenUntil ([&] { return adapter->hasDevice() && adapter->isRunning(); })) << vantrel::test::describeDevice (*adapter);
    EXPECT_EQ (adapter->sampleRate(), 44100.0);
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 8 }),
               SinkAnswer::refused);   // prepared at 48 kHz
    const AudioCommand go { AudioCommandKind::goFromSilence, std::string ("row-1"), 0.0, 9 };
    ASSERT_TRUE (tickUntil ([&] { return adapter->submit (go) == SinkAnswer::accepted; }))
        << vantrel::test::describeDevice (*adapter);
    ASSERT_TRUE (tickUntil ([&] { return adapter->voiceStatus (1).playToken == 9 && adapter->voiceStatus (1).position > 4410; })) << vantrel::test::describeDevice (*adapter);
}
} // namespace
