#include "support/EngineTestSupport.h"

#include <atomic>
#include <random>
#include <thread>

using namespace orvane::audio;
using namespace orvane::audio::testing;
using Kind = EngineCommandKind;

TEST (MixEngineRing, HoldsAtMost255CommandsAndOneRenderFreesTheRing)
{
    EngineRig rig;
    for (int i = 1; i <= 255; ++i)
    {
        auto command = simple (Kind::setVoiceGain, 2 + i % 45, 0, 0, -1.0f);
        ASSERT_TRUE (rig.engine->push (command)) << "push " << i;
        EXPECT_EQ (command.serial, (std::uint64_t) i);
    }
    EXPECT_EQ (rig.engine->queuedCommands(), 255);

    auto refused = simple (Kind::stopAllPads);
    EXPECT_FALSE (rig.engine->push (refused));
    EXPECT_EQ (refused.serial, 0u) << "a refused command gets no serial";
    EXPECT_EQ (rig.engine->lastPushedSerial(), 255u);
    EXPECT_EQ (rig.engine->lastAppliedSerial(), 0u);

    rig.render (1);
    EXPECT_EQ (rig.engine->queuedCommands(), 0);
    EXPECT_EQ (rig.engine->lastAppliedSerial(), 255u);
    EXPECT_TRUE (rig.engine->push (refused));
    EXPECT_EQ (refused.serial, 256u);
}

TEST (MixEngineRing, KeepsOrderAndSerialsAcrossManyWrapArounds)
{
    EngineRig rig;
    const auto media = rig.hold (constantPcm (100000, 0.25f));
    ASSERT_TRUE (rig.push (start (Kind::startPadVoice, media, 1, 2)));
    std::mt19937 random (7);
    std::uint64_t expectedSerial = 1;
    std::int64_t expectedPosition = 0;
    for (int round = 0; round < 40; ++round)
    {
        const int count = 1 + (int) (random() % 255);
        for (int i = 0; i < count && rig.engine->queuedCommands() < 255; ++i)
        {
            // Seeks forward and back: only applying them in order lands where expected.
            const std::int64_t offset = (i % 2 == 0) ? 7 : -3;
            auto seek = simple (Kind::seek, 2, offset);
            ASSERT_TRUE (rig.engine->push (seek));
            ASSERT_EQ (seek.serial, ++expectedSerial);
            expectedPosition += offset;
            expectedPosition = std::max<std::int64_t> (expectedPosition, 0);
        }
        rig.engine->applyPending(); // stops the pad, so restart it where it stands
        ASSERT_EQ (rig.engine->lastAppliedSerial(), expectedSerial);
        ASSERT_EQ (rig.status (2).position, expectedPosition);
        auto restart = start (Kind::startPadVoice, media, 1, 2, expectedPosition);
        ASSERT_TRUE (rig.engine->push (restart));
        ++expectedSerial;
    }
}

TEST (MixEngineRing, RefusesBadVoicesAndBadPcmWithoutAnyChange)
{
    EngineRig rig;
    auto unequal = rig.hold (constantPcm (10, 0.25f));
    unequal->right.pop_back();
    auto emptyLeft = rig.hold (constantPcm (0, 0.25f));
    auto rightOnly = rig.hold (constantPcm (0, 0.25f));
    rightOnly->right.assign (5, 0.5f);

    struct Case
    {
        const char* name;
        EngineCommand command;
    };
    const Case cases[] = {
        { "voice 47", simple (Kind::stopVoice, 47) },
        { "voice -1", simple (Kind::stopVoice, -1) },
        { "voice far out", simple (Kind::seek, 1 << 30) },
        { "unequal channels", start (Kind::startPadVoice, unequal, 1, 3) },
        { "empty PCM", start (Kind::goFromSilence, emptyLeft, 1) },
        { "right channel only", start (Kind::goFromSilence, rightOnly, 1) },
    };
    for (const auto& c : cases)
    {
        auto command = c.command;
        EXPECT_FALSE (rig.engine->push (command)) << c.name;
        EXPECT_EQ (command.serial, 0u) << c.name;
    }
    EXPECT_EQ (rig.engine->queuedCommands(), 0);
    EXPECT_EQ (rig.engine->lastPushedSerial(), 0u);

    // Voice 46 and a command without PCM are fine.
    EXPECT_TRUE (rig.push (simple (Kind::stopVoice, 46)));
    EXPECT_TRUE (rig.push (start (Kind::startPadVoice, nullptr, 1, 46)));
}

TEST (MixEngineRing, ApplyPendingDrainsPausesTracksAndStopsPads)
{
    EngineRig rig;
    const auto track = rig.hold (constantPcm (1000, 0.25f));
    const auto shortPad = rig.hold (constantPcm (3, 0.125f));
    const auto longPad = rig.hold (constantPcm (1000, 0.125f));
    rig.push (start (Kind::goFromSilence, track, 1));
    rig.push (start (Kind::startPadVoice, shortPad, 2, 2));
    rig.push (start (Kind::startPadVoice, longPad, 3, 3));
    rig.render (10);
    ASSERT_TRUE (rig.status (2).reachedEnd);

    rig.push (simple (Kind::seek, 1, 100));
    rig.engine->applyPending();
    EXPECT_EQ (rig.engine->queuedCommands(), 0);
    EXPECT_EQ (rig.status (1), statusOf (1, 110, true, true, false)) << "the track is paused where it stands";
    EXPECT_EQ (rig.status (2), statusOf (2, 3, false, false, true)) << "an ended pad keeps its end";
    EXPECT_EQ (rig.status (3), statusOf (3, 10, false, false, false));

    // When the device comes back the track stays paused until it is resumed.
    rig.render (20);
    EXPECT_EQ (rig.left (19), 0.0f);
    EXPECT_EQ (rig.status (1).position, 110);
    rig.push (simple (Kind::togglePause));
    rig.render (20);
    EXPECT_EQ (rig.left (19), 0.25f);

    // With no track playing the pause is off.
    rig.push (simple (Kind::stopVoice, 1));
    rig.engine->applyPending();
    EXPECT_FALSE (rig.status (1).paused);
}

// One producer thread pushes a long stream of commands while a rendering thread consumes them
// at random block sizes and a third thread reads voice states. Run under ThreadSanitizer this
// proves the ring and the status slots race-free; everywhere it checks order and serials.
TEST (MixEngineRing, ProducerAgainstRenderingThread)
{
    auto engine = std::make_unique<MixEngine>();
    engine->prepare (48000.0);
    const auto media = constantPcm (1 << 20, 0.25f);
    constexpr std::uint64_t total = 1'000'000;
    std::atomic<bool> producerDone { false };
    std::atomic<bool> readerFailed { false };
    std::atomic<long> readerPasses { 0 };
    bool serialsInOrder = true;

    std::thread renderer ([&] {
        const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
        std::vector<float> left (1024), right (1024);
        float* channels[] = { left.data(), right.data() };
        std::mt19937 random (3);
        std::uint64_t lastSeen = 0;
        while (! producerDone.load() || engine->lastAppliedSerial() < total)
        {
            engine->render (channels, 2, (int) (random() % 1024), random() % 8 == 0);
            const auto applied = engine->lastAppliedSerial();
            if (applied < lastSeen)
                readerFailed = true;
            lastSeen = applied;
        }
    });
    std::thread reader ([&] {
        while (! producerDone.load())
        {
            for (int v = 0; v < MixEngine::numVoices; ++v)
            {
                const auto status = engine->voiceStatus (v);
                // Every start below uses token = 1000 + voice, so a torn reading would show.
                if (status.playToken != 0 && status.playToken != 1000 + v)
                    readerFailed = true;
            }
            ++readerPasses;
        }
    });

    std::uint64_t pushed = 0;
    std::uint64_t refusals = 0;
    std::mt19937 random (5);
    while (pushed < total)
    {
        EngineCommand command;
        const int voice = (int) (random() % MixEngine::numVoices);
        switch (random() % 4)
        {
            case 0: command = start (voice < 2 ? Kind::startTrackVoice : Kind::startPadVoice, nullptr, 1000 + voice, voice); break;
            case 1: command = simple (Kind::seek, voice, 5); break;
            case 2: command = simple (Kind::setVoiceGain, voice, 0, 0, -3.0f); break;
            default: command = simple (Kind::stopVoice, voice); break;
        }
        if (command.kind == Kind::startTrackVoice || command.kind == Kind::startPadVoice)
            command.pcm = media.get();
        if (! engine->push (command))
        {
            ++refusals;
            std::this_thread::yield();
            continue;
        }
        serialsInOrder = serialsInOrder && command.serial == ++pushed;
    }
    // The renderer keeps rendering until the producer is done: a reader that was scheduled late
    // still reads the slots while they are being published.
    while (readerPasses.load() < 10'000)
        std::this_thread::yield();
    producerDone = true;
    renderer.join();
    reader.join();

    EXPECT_TRUE (serialsInOrder);
    EXPECT_FALSE (readerFailed.load());
    EXPECT_EQ (engine->lastAppliedSerial(), total);
    EXPECT_EQ (engine->queuedCommands(), 0);
    RecordProperty ("fullRingRefusals", (int) std::min<std::uint64_t> (refusals, 1u << 30));
}
