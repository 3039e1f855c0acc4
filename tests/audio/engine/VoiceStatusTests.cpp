#include "support/ScriptedShow.h"

#include <array>
#include <atomic>
#include <thread>

using namespace orvane::audio;
using namespace orvane::audio::testing;

TEST (VoiceStatus, PublishesWholeRecordsUnderAnEvenCounter)
{
    VoiceStatusSlot slot;
    EXPECT_EQ (slot.read(), VoiceStatus {});
    slot.publish (7, 1234, VoiceStatusSlot::playingFlag | VoiceStatusSlot::pausedFlag);
    EXPECT_EQ (slot.read(), statusOf (7, 1234, true, true, false));
    EXPECT_EQ (slot.sequenceNumber(), 2u);
    slot.publish (-3, -1, VoiceStatusSlot::reachedEndFlag);
    EXPECT_EQ (slot.read(), statusOf (-3, -1, false, false, true));
    EXPECT_EQ (slot.sequenceNumber(), 4u);
}

TEST (VoiceStatus, VoicesOutsideTheEngineReadAsZero)
{
    EngineRig rig;
    const auto media = rig.hold (constantPcm (100, 0.25f));
    rig.push (start (EngineCommandKind::startPadVoice, media, 5, 46));
    rig.render (3);
    EXPECT_EQ (rig.status (46), statusOf (5, 3, true, false, false));
    for (int voice : { 47, -1, 1000, std::numeric_limits<int>::min() })
        EXPECT_EQ (rig.status (voice), VoiceStatus {}) << voice;
}

// A writer publishes (n, 3n, n mod 8) for n = 1, 2, ...; readers on other threads must only
// ever see such a record or all zeros, never fields of two different publications. The writer
// goes on for at least two million publications and until every reader, however late it was
// scheduled, has made its share of whole readings (or a great many attempts) meanwhile.
TEST (VoiceStatus, ReadersNeverSeeAMixOfTwoPublications)
{
    constexpr int readerCount = 3;
    constexpr long readingsPerReader = 10'000;
    constexpr long attemptsPerReader = 100'000'000;
    VoiceStatusSlot slot;
    std::atomic<bool> done { false };
    std::atomic<long> torn { 0 };
    std::array<std::atomic<long>, readerCount> consistent {};
    std::array<std::atomic<long>, readerCount> attempts {};

    std::vector<std::thread> readers;
    for (int r = 0; r < readerCount; ++r)
        readers.emplace_back ([&, r] {
            std::int64_t last = 0;
            while (! done.load (std::memory_order_relaxed))
            {
                const auto status = slot.read();
                attempts[(std::size_t) r].fetch_add (1, std::memory_order_relaxed);
                if (status == VoiceStatus {})
                    continue;
                const std::int64_t n = status.playToken;
                const bool flagsMatch = status.playing == ((n & 1) != 0) && status.paused == ((n & 2) != 0)
                                     && status.reachedEnd == ((n & 4) != 0);
                if (status.position != 3 * n || ! flagsMatch || n < last)
                    ++torn;
                else
                    ++consistent[(std::size_t) r];
                last = n;
            }
        });

    const auto everyReaderHasRead = [&] {
        for (std::size_t r = 0; r < readerCount; ++r)
            if (consistent[r].load() < readingsPerReader && attempts[r].load() < attemptsPerReader)
                return false;
        return true;
    };
    std::int64_t n = 0;
    while (n < 2'000'000 || ! everyReaderHasRead())
        for (const auto end = n + 4096; n < end;)
        {
            ++n;
            slot.publish (n, 3 * n, (std::uint32_t) (n & 7));
        }
    done = true;
    for (auto& reader : readers)
        reader.join();

    EXPECT_EQ (torn.load(), 0);
    for (const auto& count : consistent)
        EXPECT_GT (count.load(), 0);
}

// The engine's slots while it renders on another thread: start k uses token 1000 * k + voice,
// start frame 1000 * k and PCM that ends 500 frames later, so its positions stay within
// 1000 * k .. 1000 * k + 500 however far the renderer runs; a token paired with a position of
// another start would show.
TEST (VoiceStatus, RenderingThreadAgainstStatusReaders)
{
    EngineRig rig;
    std::vector<Pcm> media;
    for (int k = 0; k <= 20; ++k)
        media.push_back (rig.hold (constantPcm ((std::size_t) (1000 * k + 500), 0.1f)));
    std::atomic<bool> done { false };
    std::atomic<long> mismatches { 0 };
    std::array<std::atomic<std::int64_t>, 6> tokenSeen {};   // the newest token the reader saw, per voice
    std::atomic<long> readings { 0 };

    std::thread renderer ([&] {
        const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
        std::vector<float> left (512), right (512);
        float* channels[] = { left.data(), right.data() };
        while (! done.load())
            rig.engine->render (channels, 2, 97, false);
    });
    std::thread reader ([&] {
        while (! done.load())
            for (int voice = 2; voice < 6; ++voice)
            {
                const auto status = rig.engine->voiceStatus (voice);
                ++readings;
                if (status.playToken == 0)
                    continue;
                const std::int64_t k = status.playToken / 1000;
                if (status.playToken % 1000 != voice || status.position < 1000 * k || status.position > 1000 * k + 500)
                    ++mismatches;
                tokenSeen[(std::size_t) voice] = status.playToken;
            }
    });

    // Each start is applied by the renderer and then read by the reader, while the renderer
    // goes on publishing, before the next one is pushed. An applied start that ten million
    // readings still have not shown is a fault.
    std::int64_t unseen = 0;
    for (std::int64_t k = 1; k <= 20 && unseen == 0; ++k)
        for (int voice = 2; voice < 6 && unseen == 0; ++voice)
        {
            const auto token = 1000 * k + voice;
            auto command = start (EngineCommandKind::startPadVoice, media[(std::size_t) k], token, voice, 1000 * k);
            while (! rig.engine->push (command))
                std::this_thread::yield();
            while (rig.engine->lastAppliedSerial() < command.serial)
                std::this_thread::yield();
            const auto readingsBefore = readings.load();
            while (tokenSeen[(std::size_t) voice].load() != token)
            {
                if (readings.load() - readingsBefore > 10'000'000)
                {
                    unseen = token;
                    break;
                }
                std::this_thread::yield();
            }
        }
    done = true;
    renderer.join();
    reader.join();

    EXPECT_EQ (unseen, 0) << "the reader never saw this start";
    EXPECT_EQ (mismatches.load(), 0);
    for (int voice = 2; voice < 6; ++voice)
        EXPECT_EQ (tokenSeen[(std::size_t) voice].load(), 20000 + voice);
}
