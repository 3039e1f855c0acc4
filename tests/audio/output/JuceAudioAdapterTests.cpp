#include "AdapterTestSupport.h"
#include "audio/output/JuceAudioAdapter.h"
#include "audio/media/MediaTexts.h"
#include "session/CatalogValidation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace
{
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::PadAudioCommand;
using orvane::audio::PadAudioCommandKind;
using orvane::audio::SinkAnswer;
using vantrel::test::codeFromNumber;
using vantrel::JuceAudioAdapter;

constexpr float sampleValue = 0.25f;

/** A load that makes one second of constant PCM at the requested rate, or fails with the text
    scripted for the key (each scripted failure is used once). A load of a held file name waits
    until the test releases it. */
struct ScriptedLoads
{
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::vector<std::string>> failures;
    std::set<std::string> held;                                       // file names
    std::vector<std::string> started;                                 // file names, in load order
    std::map<std::string, std::shared_ptr<vantrel::LoadedMedia>> made;  // the newest result per file name

    vantrel::MediaLoader::LoadFunction function()
    {
        return [this] (const vantrel::MediaLoadRequest& request, vantrel::CancelFlag) {
            auto media = std::make_shared<vantrel::LoadedMedia>();
            const auto name = request.path.getFileName().toStdString();
            std::unique_lock<std::mutex> lock (mutex);
            started.push_back (name);
            changed.notify_all();
            changed.wait (lock, [&] { return held.count (name) == 0; });
            made[name] = media;
            auto& queued = failures[request.key];
            if (! queued.empty())
            {
                media->error = juce::String::fromUTF8 (queued.front().c_str());
                queued.erase (queued.begin());
                return media;
            }
            auto pcm = std::make_shared<vantrel::PreparedPcm>();
            pcm->left.assign ((size_t) request.rate, sampleValue);
            pcm->right = pcm->left;
            pcm->sampleRate = request.rate;
            media->pcm = pcm;
            return media;
        };
    }

    void hold (const std::string& name)
    {
        std::lock_guard<std::mutex> lock (mutex);
        held.insert (name);
    }

    void release (const std::string& name)
    {
        std::lock_guard<std::mutex> lock (mutex);
        held.erase (name);
        changed.notify_all();
    }

    void releaseAll()
    {
        std::lock_guard<std::mutex> lock (mutex);
        held.clear();
        changed.notify_all();
    }

    /** Waits until a load of the file name has begun. */
    bool waitForStart (const std::string& name)
    {
        std::unique_lock<std::mutex> lock (mutex);
        return changed.wait_for (lock, std::chrono::milliseconds (vantrel::test::patienceMs), [&] {
            return std::find (started.begin(), started.end(), name) != started.end();
        });
    }

    long startsOf (const std::string& name)
    {
        std::lock_guard<std::mutex> lock (mutex);
        return std::count (started.begin(), started.end(), name);
    }

    std::shared_ptr<vantrel::LoadedMedia> madeFor (const std::string& name)
    {
        std::lock_guard<std::mutex> lock (mutex);
        const auto found = made.find (name);
        return found != made.end() ? found->second : nullptr;
    }
};

class AdapterTest : public ::testing::Test
{
protected:
    juce::File folder = juce::File::createTempFile ("adapter");
    ScriptedLoads loads;
    std::unique_ptr<JuceAudioAdapter> adapter;

    void SetUp() override
    {
        ASSERT_TRUE (folder.createDirectory());
        adapter = std::make_unique<JuceAudioAdapter> (loads.function(), [] { return std::int64_t { 0 }; },
                                                      vantrel::test::privateRackOptions());
        adapter->setLimiterEnabled (false);
    }

    void TearDown() override
    {
        loads.releaseAll();   // a load held by a failed test must not keep the loader from stopping
        adapter.reset();
        folder.deleteRecursively();
    }

    void registerFile (const std::string& key, float gainDb = 0.0f)
    {
        const auto file = folder.getChildFile (juce::String (key) + ".wav");
        ASSERT_TRUE (file.replaceWithText ("stand-in audio"));
        adapter->registerMedia (key, file.getFullPathName(), vantrel::readFileSignature (file), gainDb, {}, {});
    }

    /** Ticks until the condition holds (the loader runs on its own thread). */
    template <typename Condition>
    bool tickUntil (Condition condition)
    {
        return vantrel::test::tickUntil (*adapter, condition, vantrel::test::patienceMs, 2);
    }

    /** Ticks until the key's media arrived. */
    void waitForMedia (const std::string& key)
    {
        ASSERT_TRUE (tickUntil ([&] { return adapter->loadedMedia (key) != nullptr; })) << key;
    }

    void prepared (const std::string& key, float gainDb = 0.0f)
    {
        registerFile (key, gainDb);
        adapter->requestPrepare (key, true);
        waitForMedia (key);
    }

    static AudioCommand go (AudioCommandKind kind, const std::string& key, std::int64_t token)
    {
        return { kind, key, 0.0, token };
    }

    /** The peak of the left channel over the last 512 of `frames` rendered frames. */
    float renderTail (int frames)
    {
        std::vector<float> left ((size_t) frames), right ((size_t) frames);
        adapter->renderOfflineFrames (frames, left.data(), right.data());
        float peak = 0.0f;
        for (int i = frames - 512; i < frames; ++i)
            peak = std::max (peak, std::abs (left[(size_t) i]));
        return peak;
    }
};

TEST_F (AdapterTest, WithoutOutputGoIsRefusedButStopsAndSeeksTakeEffect)
{
    prepared ("row-1");
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "row-1", 11)), SinkAnswer::refused);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::refused);
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::stopMain, {}, 0.0, 0 }), SinkAnswer::accepted);
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::stopOutgoing, {}, 0.0, 0 }), SinkAnswer::accepted);
    EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::togglePause, {}, 0.0, 0 }), SinkAnswer::refused);
    EXPECT_EQ (adapter->queuedEngineCommands(), 0);   // applied at once

    struct Seek { double seconds; SinkAnswer answer; };
    for (const Seek s : { Seek { 86400.0, SinkAnswer::accepted }, Seek { -86400.0, SinkAnswer::accepted },
                          Seek { 86400.5, SinkAnswer::refused }, Seek { std::nan (""), SinkAnswer::refused },
                          Seek { INFINITY, SinkAnswer::refused } })
        EXPECT_EQ (adapter->submit (AudioCommand { AudioCommandKind::seekMain, std::string ("row-1"), s.seconds, 0 }), s.answer)
            << s.seconds;
    EXPECT_EQ (adapter->submit (AudioCommand { codeFromNumber<AudioCommandKind> (42), {}, 0.0, 0 }), SinkAnswer::refused)
        << "a kind outside the table";
}

TEST_F (AdapterTest, GoPlaysThePreparedMediaAtItsGain)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    registerFile ("row-1", -6.0f);

    // Not loaded yet: refused, and the request goes to the loader.
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "row-1", 11)), SinkAnswer::refused);
    EXPECT_EQ (adapter->lastError(), juce::String::fromUTF8 ("音源を準備中です"));
    waitForMedia ("row-1");

    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "row-1", 12)), SinkAnswer::accepted);
    EXPECT_TRUE (adapter->lastError().isEmpty());
    EXPECT_EQ (adapter->voiceToken (1), 12);
    EXPECT_EQ (adapter->voiceMedia (1), adapter->loadedMedia ("row-1"));
    const float expected = sampleValue * std::pow (10.0f, -6.0f / 20.0f);
    EXPECT_NEAR (renderTail (9600), expected, 1.0e-3f);
    const auto status = adapter->voiceStatus (1);
    EXPECT_TRUE (status.playing);
    EXPECT_EQ (status.playToken, 12);

    // A changed gain reaches the playing voice.
    adapter->setMediaGain ("row-1", 0.0f);
    EXPECT_NEAR (renderTail (9600), sampleValue, 1.0e-3f);

    // Unknown key and a moved file are refused with their texts.
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "nope", 13)), SinkAnswer::refused);
    EXPECT_EQ (adapter->lastError(), juce::String::fromUTF8 ("音源の登録がありません"));
    ASSERT_TRUE (folder.getChildFile ("row-1.wav").replaceWithText ("changed contents, other size"));
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goRestartMain, "row-1", 14)), SinkAnswer::refused);
    EXPECT_EQ (adapter->lastError(), juce::String::fromUTF8 ("音源参照が変わりました。再リンクが必要です"));
    EXPECT_EQ (adapter->voiceToken (1), 12);
}

TEST_F (AdapterTest, HandOverRetiresOutgoingOnlyAfterTheEngineAppliedTheStart)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    prepared ("a");
    prepared ("b");
    prepared ("c");
    ASSERT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "a", 1)), SinkAnswer::accepted);
    adapter->renderOfflineFrames (512);
    ASSERT_EQ (adapter->submit (go (AudioCommandKind::goHandOver, "b", 2)), SinkAnswer::accepted);
    adapter->renderOfflineFrames (512);
    adapter->tick();
    EXPECT_EQ (adapter->retiredCount(), 0u);
    EXPECT_EQ (adapter->voiceMedia (0), adapter->loadedMedia ("a"));
    EXPECT_EQ (adapter->voiceToken (0), 1);

    std::weak_ptr<vantrel::LoadedMedia> oldOutgoing = adapter->voiceMedia (0);
    ASSERT_EQ (adapter->submit (go (AudioCommandKind::goHandOver, "c", 3)), SinkAnswer::accepted);
    EXPECT_EQ (adapter->voiceMedia (0), adapter->loadedMedia ("b"));
    EXPECT_EQ (adapter->voiceMedia (1), adapter->loadedMedia ("c"));
    EXPECT_EQ (adapter->retiredCount(), 2u);   // the old OUTGOING and the old MAIN

    adapter->tick();   // the engine has not taken the start yet: the old PCM stays
    EXPECT_EQ (adapter->retiredCount(), 2u);
    adapter->renderOfflineFrames (512);
    adapter->tick();
    EXPECT_EQ (adapter->retiredCount(), 0u);
    EXPECT_FALSE (oldOutgoing.expired());   // still in the media map
}

TEST_F (AdapterTest, PadStartsUseFreshTokensAndStopAllReachesTheEngine)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    prepared (vantrel::padMediaKey (2, 3));
    EXPECT_EQ (vantrel::padMediaKey (2, 3), "pad-2-3");
    const int voice = 2 + *vantrel::padIndex (2, 3);

    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 2, 3 }), SinkAnswer::accepted);
    const auto first = adapter->voiceToken (voice);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::restart, 2, 3 }), SinkAnswer::accepted);
    const auto second = adapter->voiceToken (voice);
    EXPECT_NE (first, second);
    EXPECT_NE (first, 0);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 2, 4 }), SinkAnswer::refused);   // not registered
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 6, 1 }), SinkAnswer::refused);   // no such bank

    adapter->renderOfflineFrames (1024);
    EXPECT_TRUE (adapter->voiceStatus (voice).playing);
    EXPECT_EQ (adapter->eqTargetPlayToken ("@master"), -1);
    EXPECT_EQ (adapter->eqTargetPlayToken ("@playlist"), 0);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::stopAll, 2, 0 }), SinkAnswer::accepted);
    adapter->renderOfflineFrames (2048);
    EXPECT_FALSE (adapter->voiceStatus (voice).playing);

    adapter->releasePad (2, 3);
    EXPECT_EQ (adapter->voiceMedia (voice), nullptr);
    EXPECT_EQ (adapter->voiceToken (voice), 0);
}

TEST_F (AdapterTest, TransientLoadFailureIsRetriedButAChangedFileIsNot)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    {
        std::lock_guard<std::mutex> lock (loads.mutex);
        loads.failures["flaky"] = { vantrel::mediatext::pcmReadFailed };
        loads.failures["changed"] = { vantrel::mediatext::changedWhileLoading };
    }
    prepared ("flaky");
    ASSERT_TRUE (adapter->loadedMedia ("flaky")->failed());
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "flaky", 1)), SinkAnswer::refused);
    EXPECT_EQ (adapter->lastError(), juce::String::fromUTF8 (vantrel::mediatext::pcmReadFailed));

    adapter->requestPrepare ("flaky", false);
    ASSERT_TRUE (tickUntil ([&] { return ! adapter->loadedMedia ("flaky")->failed(); }));
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "flaky", 2)), SinkAnswer::accepted);

    prepared ("changed");
    ASSERT_TRUE (adapter->loadedMedia ("changed")->failed());
    adapter->requestPrepare ("changed", true);
    // The loader takes requests in order: once a request made afterwards has been loaded, a
    // second load of the changed file would have happened.
    registerFile ("later");
    adapter->requestPrepare ("later", false);
    waitForMedia ("later");
    EXPECT_EQ (loads.startsOf ("changed.wav"), 1);
    EXPECT_EQ (loads.startsOf ("later.wav"), 1);
    EXPECT_TRUE (adapter->loadedMedia ("changed")->failed());
}

TEST_F (AdapterTest, ResultOfASupersededRequestIsDropped)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    loads.hold ("row.wav");
    loads.hold ("other.wav");
    registerFile ("row");
    adapter->requestPrepare ("row", true);
    ASSERT_TRUE (loads.waitForStart ("row.wav"));

    // Registered anew with another file while the first load runs.
    const auto other = folder.getChildFile ("other.wav");
    ASSERT_TRUE (other.replaceWithText ("another stand-in"));
    adapter->registerMedia ("row", other.getFullPathName(), vantrel::readFileSignature (other), 0.0f, {}, {});
    adapter->requestPrepare ("row", true);
    loads.release ("row.wav");
    // The loader finishes one request before it takes the next: the first result is waiting.
    ASSERT_TRUE (loads.waitForStart ("other.wav"));
    adapter->tick();
    EXPECT_EQ (adapter->loadedMedia ("row").get(), nullptr);

    loads.release ("other.wav");
    waitForMedia ("row");
    EXPECT_EQ (adapter->loadedMedia ("row").get(), loads.madeFor ("other.wav").get());
    EXPECT_NE (adapter->loadedMedia ("row").get(), loads.madeFor ("row.wav").get());
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "row", 5)), SinkAnswer::accepted);
}

TEST_F (AdapterTest, RealTimeRendererConsumesCommandsSoVoicesEnd)
{
    prepared ("short");
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::realTime);
    // More commands than the ring holds, in batches: the renderer drains each batch by itself.
    for (int i = 0; i < 300; ++i)
    {
        ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::stopMain, {}, 0.0, 0 }), SinkAnswer::accepted) << i;
        if (i % 50 == 49)
        {
            ASSERT_TRUE (vantrel::test::waitUntil ([&] { return adapter->queuedEngineCommands() == 0; })) << i;
        }
    }
    ASSERT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "short", 9)), SinkAnswer::accepted);
    // The one-second media ends by itself.
    EXPECT_TRUE (vantrel::test::waitUntil ([&] { return adapter->voiceStatus (1).reachedEnd; }));
    adapter->stopOffline();
    EXPECT_FALSE (adapter->isRunning());
}

TEST_F (AdapterTest, StartsAreRefusedAbovePlayingMemoryCountingSharedPcmOnce)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    const std::uint64_t oneSecond = 48000u * 8u;   // two float channels
    JuceAudioAdapter::PcmLimits limits;
    limits.playing = 3 * oneSecond;
    adapter->setPcmLimits (limits);
    for (const auto* key : { "row", "pad-1-1", "pad-1-2", "pad-1-3" })
        prepared (key);

    ASSERT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "row", 1)), SinkAnswer::accepted);
    ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }), SinkAnswer::accepted);
    ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 2 }), SinkAnswer::accepted);   // exactly at the limit
    adapter->renderOfflineFrames (512);

    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 3 }), SinkAnswer::refused);
    EXPECT_EQ (adapter->lastError(), juce::String::fromUTF8 ("再生用メモリ上限のため開始を保留しました"));
    EXPECT_EQ (adapter->voiceMedia (4), nullptr);
    adapter->renderOfflineFrames (512);
    EXPECT_FALSE (adapter->voiceStatus (4).playing);

    // Media already playing is counted once: restarting the track and retriggering a pad fit.
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goRestartMain, "row", 2)), SinkAnswer::accepted);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::restart, 1, 1 }), SinkAnswer::accepted);
    EXPECT_TRUE (adapter->lastError().isEmpty());

    // A released pad whose PCM the engine may still read keeps counting until the engine moved on.
    ASSERT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::stopAll, 0, 0 }), SinkAnswer::accepted);
    adapter->releasePad (1, 2);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 3 }), SinkAnswer::refused);
    adapter->renderOfflineFrames (512);
    adapter->tick();
    EXPECT_EQ (adapter->retiredCount(), 0u);
    EXPECT_EQ (adapter->submit (PadAudioCommand { PadAudioCommandKind::start, 1, 3 }), SinkAnswer::accepted);
}

TEST_F (AdapterTest, PcmCacheGivesUpTheLeastRecentlyUsedMediaThatNothingPlays)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    JuceAudioAdapter::PcmLimits limits;
    limits.cache = 2 * 48000u * 8u;
    adapter->setPcmLimits (limits);
    prepared ("m1");
    prepared ("m2");
    prepared ("m3");   // the third second of PCM: the oldest use gives its PCM up
    adapter->tick();
    ASSERT_NE (adapter->loadedMedia ("m1"), nullptr);   // the media and its peaks stay
    EXPECT_EQ (adapter->loadedMedia ("m1")->pcm, nullptr);
    EXPECT_NE (adapter->loadedMedia ("m2")->pcm, nullptr);
    EXPECT_NE (adapter->loadedMedia ("m3")->pcm, nullptr);

    // Evicted media cannot start until it is prepared again; the start itself asks for that.
    EXPECT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "m1", 1)), SinkAnswer::refused);
    EXPECT_EQ (adapter->lastError(), juce::String::fromUTF8 ("音源を準備中です"));
    ASSERT_TRUE (tickUntil ([&] { return adapter->loadedMedia ("m1")->pcm != nullptr; }));
    // m1 came back as the newest use; m2 was the oldest and made room.
    EXPECT_NE (adapter->loadedMedia ("m1")->pcm, nullptr);
    EXPECT_EQ (adapter->loadedMedia ("m2")->pcm, nullptr);
    EXPECT_NE (adapter->loadedMedia ("m3")->pcm, nullptr);

    // Media on a voice is never given up, even as the oldest use: the next oldest goes instead.
    ASSERT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "m1", 2)), SinkAnswer::accepted);
    adapter->requestPrepare ("m3", false);
    adapter->requestPrepare ("m2", true);
    ASSERT_TRUE (tickUntil ([&] { return adapter->loadedMedia ("m2")->pcm != nullptr; }));
    adapter->tick();
    EXPECT_NE (adapter->loadedMedia ("m1")->pcm, nullptr);
    EXPECT_NE (adapter->loadedMedia ("m2")->pcm, nullptr);
    EXPECT_EQ (adapter->loadedMedia ("m3")->pcm, nullptr);
    adapter->renderOfflineFrames (512);
    EXPECT_TRUE (adapter->voiceStatus (1).playing);
}

TEST_F (AdapterTest, EqTargetFollowsOnlyVoicesThatSoundUnpaused)
{
    adapter->startOfflineRenderer (48000.0, JuceAudioAdapter::Pacing::manual);
    prepared ("row");
    EXPECT_EQ (adapter->eqTargetPlayToken ("@master"), 0);
    ASSERT_EQ (adapter->submit (go (AudioCommandKind::goFromSilence, "row", 21)), SinkAnswer::accepted);
    adapter->renderOfflineFrames (512);
    EXPECT_EQ (adapter->eqTargetPlayToken ("row"), 21);
    EXPECT_EQ (adapter->eqTargetPlayToken ("@playlist"), -2);
    EXPECT_EQ (adapter->eqTargetPlayToken ("@master"), -1);

    // Pause: the track still holds its place.
    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::togglePause, {}, 0.0, 0 }), SinkAnswer::accepted);
    adapter->renderOfflineFrames (2048);
    ASSERT_TRUE (adapter->voiceStatus (1).playing);
    ASSERT_TRUE (adapter->voiceStatus (1).paused);
    EXPECT_EQ (adapter->eqTargetPlayToken ("row"), 0);
    EXPECT_EQ (adapter->eqTargetPlayToken ("@playlist"), 0);
    EXPECT_EQ (adapter->eqTargetPlayToken ("@master"), 0);
    EXPECT_EQ (adapter->eqTargetPlayToken (""), 0);

    ASSERT_EQ (adapter->submit (AudioCommand { AudioCommandKind::togglePause, {}, 0.0, 0 }), SinkAnswer::accepted);
    adapter->renderOfflineFrames (2048);
    EXPECT_EQ (adapter->eqTargetPlayToken ("@master"), -1);
    EXPECT_EQ (adapter->eqTargetPlayToken ("row"), 21);
}
} // namespace
