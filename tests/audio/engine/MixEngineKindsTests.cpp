#include "support/EngineTestSupport.h"

#include <limits>

using namespace orvane::audio;
using namespace orvane::audio::testing;
using vantrel::test::codeFromNumber;
using vantrel::test::numberOf;
using Kind = EngineCommandKind;

namespace
{
constexpr int outgoing = MixEngine::outgoingVoice;
constexpr int mainV = MixEngine::mainVoice;

/** Flat except one high-pass band: blocks DC, so a constant PCM dies away through it. */
EqCoefficients highPassAt1k (double rate = 48000.0)
{
    vantrel::EqSettings settings;
    settings.enabled = true;
    settings.bands[0] = { true, (int) vantrel::EqShape::highPass, 1000.0, 0.0, 0.7071 };
    return designEq (settings, rate);
}

EqCoefficients bell (double frequency, double gainDb)
{
    vantrel::EqSettings settings;
    settings.enabled = true;
    settings.bands[3] = { true, (int) vantrel::EqShape::bell, frequency, gainDb, 1.0 };
    return designEq (settings, 48000.0);
}

float gainOf (float dB)  { return (float) std::pow (10.0, (double) dB / 20.0); }

/** Half a second at 48 kHz: 25 smoothing time constants, so every gain sits at its target. */
void settle (EngineRig& rig)
{
    for (int i = 0; i < 3; ++i)
        rig.render (8000);
}
} // namespace

TEST (MixEngineKinds, GoFromSilenceAndHandOverMoveMainToOutgoing)
{
    for (Kind kind : { Kind::goFromSilence, Kind::goHandOver })
    {
        EngineRig rig;
        const auto a = constantPcm (1000, 0.25f);
        const auto b = constantPcm (1000, 0.125f);
        ASSERT_TRUE (rig.push (start (Kind::goFromSilence, a, 1)));
        rig.render (100);
        ASSERT_TRUE (rig.push (simple (Kind::togglePause)));
        rig.render (10);
        ASSERT_TRUE (rig.status (mainV).paused);

        // The voice field is ignored by kinds 0..3.
        ASSERT_TRUE (rig.push (start (kind, b, 2, 30, 10)));
        rig.render (5);
        EXPECT_EQ (rig.status (outgoing), statusOf (1, 105, true, false, false)) << "kind " << numberOf (kind);
        EXPECT_EQ (rig.status (mainV), statusOf (2, 15, true, false, false)) << "kind " << numberOf (kind);
        EXPECT_EQ (rig.status (30), VoiceStatus {}) << "kind " << numberOf (kind);
        EXPECT_EQ (rig.left (4), 0.375f) << "kind " << numberOf (kind);
    }
}

TEST (MixEngineKinds, OutgoingContinuesWithTheGainAndEqStateMainHad)
{
    // One engine hands MAIN over to OUTGOING mid-stream (the new MAIN is silent); the other
    // never does. The old track must continue bit for bit: position, smoothed gain, EQ memory.
    const auto music = sinePcm (4000, 48000.0, 997.0);
    const auto silence = constantPcm (4000, 0.0f);
    auto first = start (Kind::goFromSilence, music, 1);
    first.coefficients = bell (1000.0, 9.0);
    first.gainDb = -6.0f;

    std::vector<std::vector<float>> outputs;
    for (bool handOver : { true, false })
    {
        EngineRig rig;
        ASSERT_TRUE (rig.push (first));
        rig.render (300);
        ASSERT_TRUE (rig.push (simple (Kind::setVoiceGain, mainV, 0, 1, -12.0f)));
        rig.render (7);
        if (handOver)
        {
            ASSERT_TRUE (rig.push (start (Kind::goHandOver, silence, 2)));
        }
        outputs.push_back (rig.renderLeft (500));
    }
    EXPECT_EQ (outputs[0], outputs[1]);
    EXPECT_GT (rms (outputs[0], 0, 500), 0.05);
}

TEST (MixEngineKinds, GoBesideOutgoingLeavesOutgoingAlone)
{
    EngineRig rig;
    const auto a = constantPcm (1000, 0.25f);
    const auto b = constantPcm (1000, 0.125f);
    const auto c = constantPcm (1000, 0.5f);
    rig.push (start (Kind::goFromSilence, a, 1));
    rig.render (10);
    rig.push (start (Kind::goHandOver, b, 2));
    rig.push (simple (Kind::stopVoice, mainV));
    rig.render (10);
    rig.push (simple (Kind::togglePause));
    rig.render (10);
    ASSERT_TRUE (rig.status (outgoing).paused);

    ASSERT_TRUE (rig.push (start (Kind::goBesideOutgoing, c, 3, 46)));
    rig.render (4);
    EXPECT_EQ (rig.status (outgoing), statusOf (1, 24, true, false, false));
    EXPECT_EQ (rig.status (mainV), statusOf (3, 4, true, false, false));
    EXPECT_EQ (rig.status (46), VoiceStatus {});
    EXPECT_EQ (rig.left (3), 0.75f);
}

TEST (MixEngineKinds, GoFromPauseDropsBothPausedTracks)
{
    EngineRig rig;
    const auto a = constantPcm (1000, 0.25f);
    const auto b = constantPcm (1000, 0.125f);
    const auto c = constantPcm (1000, 0.5f);
    rig.push (start (Kind::goFromSilence, a, 1));
    rig.push (start (Kind::goHandOver, b, 2));
    rig.render (10);
    rig.push (simple (Kind::togglePause));
    rig.render (10);

    ASSERT_TRUE (rig.push (start (Kind::goFromPause, c, 3, 0)));
    rig.render (4);
    EXPECT_EQ (rig.status (outgoing), statusOf (2, 10, false, false, false)) << "silent, neither playing nor ended";
    EXPECT_EQ (rig.status (mainV), statusOf (3, 4, true, false, false));
    EXPECT_EQ (rig.left (3), 0.5f);
}

TEST (MixEngineKinds, StartsOfNamedVoicesLeaveThePauseAlone)
{
    EngineRig rig;
    const auto track = constantPcm (1000, 0.25f);
    const auto pad = constantPcm (1000, 0.125f);
    rig.push (start (Kind::goFromSilence, track, 1));
    rig.push (simple (Kind::togglePause));
    ASSERT_TRUE (rig.push (start (Kind::startPadVoice, pad, 100, 17, 3)));
    rig.render (8);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 0, true, true, false));
    EXPECT_EQ (rig.status (17), statusOf (100, 11, true, false, false)) << "pads are never paused";
    EXPECT_EQ (rig.left (7), 0.125f);

    // Kind 4 restarts OUTGOING in place; the pause stays on.
    ASSERT_TRUE (rig.push (start (Kind::startTrackVoice, track, 7, outgoing, 500)));
    rig.render (8);
    EXPECT_EQ (rig.status (outgoing), statusOf (7, 500, true, true, false));
}

TEST (MixEngineKinds, StartFramesAreClampedIntoTheMedia)
{
    struct Case
    {
        std::int64_t frames;
        std::int64_t position;
    };
    const auto media = constantPcm (10, 0.25f);
    for (const Case c : { Case { -5, 0 }, Case { 0, 0 }, Case { 9, 9 }, Case { 10, 9 }, Case { 1'000'000, 9 },
                          Case { std::numeric_limits<std::int64_t>::max(), 9 },
                          Case { std::numeric_limits<std::int64_t>::min(), 0 } })
    {
        EngineRig rig;
        ASSERT_TRUE (rig.push (start (Kind::startPadVoice, media, 4, 9, c.frames)));
        rig.engine->applyPending();
        EXPECT_EQ (rig.status (9).position, c.position) << c.frames;
    }

    // From its last frame a voice plays one frame and ends at the next sample.
    EngineRig rig;
    rig.push (start (Kind::goFromSilence, media, 1, mainV, 50));
    rig.render (3);
    EXPECT_EQ (rig.left (0), 0.25f);
    EXPECT_EQ (rig.left (1), 0.0f);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 10, false, false, true));

    // Without PCM nothing plays.
    rig.push (start (Kind::startPadVoice, nullptr, 9, 5, 3));
    rig.render (1);
    EXPECT_EQ (rig.status (5), statusOf (9, 0, false, false, false));
}

TEST (MixEngineKinds, StopsClearPlayingAndEnded)
{
    EngineRig rig;
    const auto shortPad = constantPcm (2, 0.25f);
    const auto longPad = constantPcm (1000, 0.125f);
    rig.push (start (Kind::goFromSilence, longPad, 1));
    rig.push (start (Kind::startPadVoice, shortPad, 10, 2));
    rig.push (start (Kind::startPadVoice, longPad, 11, 46));
    rig.render (10);
    ASSERT_TRUE (rig.status (2).reachedEnd);

    rig.push (simple (Kind::stopAllPads));
    rig.render (1);
    EXPECT_EQ (rig.status (2), statusOf (10, 2, false, false, false));
    EXPECT_EQ (rig.status (46), statusOf (11, 10, false, false, false));
    EXPECT_TRUE (rig.status (mainV).playing) << "stopAllPads leaves the tracks";

    rig.push (simple (Kind::stopVoice, mainV));
    rig.render (1);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 11, false, false, false));
    EXPECT_EQ (rig.left (0), 0.0f);
}

TEST (MixEngineKinds, PauseFreezesTheTracksWhilePadsPlayOn)
{
    EngineRig rig;
    const auto track = constantPcm (1000, 0.25f);
    const auto pad = constantPcm (1000, 0.125f);
    rig.push (start (Kind::goFromSilence, track, 1));
    rig.push (start (Kind::startPadVoice, pad, 20, 3));
    rig.render (100);

    rig.push (simple (Kind::togglePause));
    rig.render (50);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 100, true, true, false));
    EXPECT_EQ (rig.status (outgoing), statusOf (0, 0, false, true, false)) << "both track voices show the pause";
    EXPECT_EQ (rig.status (3), statusOf (20, 150, true, false, false));
    EXPECT_EQ (rig.left (49), 0.125f);

    rig.push (simple (Kind::togglePause));
    rig.render (50);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 150, true, false, false));
    EXPECT_EQ (rig.left (49), 0.375f);
}

TEST (MixEngineKinds, APauseWithoutAPlayingTrackIsCancelledAtOnce)
{
    EngineRig rig;
    rig.push (start (Kind::startPadVoice, rig.hold (constantPcm (1000, 0.125f)), 20, 3));
    rig.push (simple (Kind::togglePause));
    rig.push (start (Kind::startTrackVoice, rig.hold (constantPcm (1000, 0.25f)), 1, mainV));
    rig.render (10);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 10, true, false, false));
    EXPECT_EQ (rig.left (9), 0.375f);

    // The pause also ends when the last paused track is stopped.
    rig.push (simple (Kind::togglePause));
    rig.push (simple (Kind::stopVoice, mainV));
    rig.push (start (Kind::startTrackVoice, rig.hold (constantPcm (1000, 0.25f)), 2, mainV));
    rig.render (10);
    EXPECT_EQ (rig.status (mainV), statusOf (2, 10, true, false, false));
}

TEST (MixEngineKinds, MainsEndStopsOutgoingInTheSameSampleWhenFlagged)
{
    for (bool flag : { true, false })
    {
        EngineRig rig;
        const auto longTrack = constantPcm (1000, 0.125f);
        const auto shortTrack = constantPcm (10, 0.25f);
        rig.push (start (Kind::goFromSilence, longTrack, 1));
        auto second = start (Kind::goHandOver, shortTrack, 2);
        second.stopOutgoingAtEnd = flag;
        rig.push (second);
        rig.render (20);

        EXPECT_EQ (rig.left (9), 0.375f);
        EXPECT_EQ (rig.left (10), flag ? 0.0f : 0.125f);
        EXPECT_EQ (rig.status (mainV), statusOf (2, 10, false, false, true));
        EXPECT_EQ (rig.status (outgoing), flag ? statusOf (1, 10, false, false, false) : statusOf (1, 20, true, false, false));
    }
}

TEST (MixEngineKinds, NoEndIsDetectedWhilePaused)
{
    EngineRig rig;
    rig.push (start (Kind::goFromSilence, rig.hold (constantPcm (10, 0.25f)), 1, mainV, 9));
    rig.render (1);
    rig.push (simple (Kind::togglePause));
    rig.render (64);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 10, true, true, false));
    rig.push (simple (Kind::togglePause));
    rig.render (1);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 10, false, false, true));
}

TEST (MixEngineKinds, SeeksMoveByAnOffsetClampedToTheMedia)
{
    struct Case
    {
        std::int64_t offset;
        std::int64_t position;
    };
    const auto media = constantPcm (1000, 0.25f);
    for (const Case c : { Case { 100, 200 }, Case { -60, 40 }, Case { -1'000'000'000, 0 }, Case { 900, 1000 },
                          Case { 1'000'000'000, 1000 }, Case { std::numeric_limits<std::int64_t>::max(), 1000 },
                          Case { std::numeric_limits<std::int64_t>::min(), 0 } })
    {
        for (int voice : { mainV, 12 })
        {
            EngineRig rig;
            rig.push (start (voice == mainV ? Kind::goFromSilence : Kind::startPadVoice, media, 1, voice, 100));
            rig.push (simple (Kind::seek, voice, c.offset));
            rig.engine->applyPending();
            EXPECT_EQ (rig.status (voice).position, c.position) << c.offset;
        }
    }

    // A seek to the end ends the voice at the next sample.
    EngineRig rig;
    rig.push (start (Kind::goFromSilence, media, 1));
    rig.render (10);
    rig.push (simple (Kind::seek, mainV, 5000));
    rig.render (2);
    EXPECT_EQ (rig.left (0), 0.0f);
    EXPECT_EQ (rig.status (mainV), statusOf (1, 1000, false, false, true));

    // A voice that does not play does not move.
    rig.push (simple (Kind::seek, mainV, -500));
    rig.render (1);
    EXPECT_EQ (rig.status (mainV).position, 1000);
}

TEST (MixEngineKinds, GainCommandsFollowTheirTokenAndSmoothPerSample)
{
    EngineRig rig;
    rig.push (start (Kind::startPadVoice, rig.hold (constantPcm (100000, 0.25f)), 5, 8));
    rig.render (10);

    rig.push (simple (Kind::setVoiceGain, 8, 0, 4, -20.0f)); // stale token
    rig.render (10);
    EXPECT_EQ (rig.left (9), 0.25f);

    // Sample by sample along the smoothing law, until the gain has long settled.
    rig.push (simple (Kind::setVoiceGain, 8, 0, 0, -6.0f)); // any token
    const float c = rig.engine->smoothingCoefficient();
    const float target = gainOf (-6.0f);
    float g = 1.0f;
    for (int block = 0; block < 6; ++block)
    {
        const auto out = rig.renderLeft (5000);
        for (int i = 0; i < 5000; ++i)
        {
            g = g + (target - g) * c;
            ASSERT_EQ (out[(std::size_t) i], 0.25f * g) << "sample " << block * 5000 + i;
        }
    }

    rig.push (simple (Kind::setVoiceGain, 8, 0, 5, 40.0f)); // clamped to +12 dB
    settle (rig);
    EXPECT_NEAR (rig.left (7999), 0.25 * gainOf (12.0f), 1e-4);

    rig.push (simple (Kind::setVoiceGain, 8, 0, 5, std::numeric_limits<float>::quiet_NaN()));
    settle (rig);
    EXPECT_NEAR (rig.left (7999), 0.25, 1e-4) << "a NaN gain counts as 0 dB";
}

TEST (MixEngineKinds, TrackEqCommandsNeedATrackVoiceItsTokenAndTheRate)
{
    struct Case
    {
        const char* name;
        int voice;
        std::int64_t token;
        double rate;
        bool applies;
    };
    for (const Case c : { Case { "matching", mainV, 1, 48000.0, true }, Case { "any token, no rate", mainV, 0, 0.0, true },
                          Case { "stale token", mainV, 2, 48000.0, false },
                          Case { "other rate", mainV, 1, 44100.0, false }, Case { "pad voice", 2, 1, 48000.0, false } })
    {
        EngineRig rig;
        rig.push (start (Kind::goFromSilence, rig.hold (constantPcm (20000, 0.25f)), 1));
        rig.push (start (Kind::startPadVoice, rig.hold (constantPcm (20000, 0.0f)), 1, 2));
        auto eq = simple (Kind::setTrackEq, c.voice, 0, c.token);
        eq.coefficients = highPassAt1k();
        eq.sampleRate = c.rate;
        rig.push (eq);
        rig.render (8000);
        if (c.applies)
            EXPECT_LT (std::abs (rig.left (7999)), 1e-3) << c.name;
        else
            EXPECT_EQ (rig.left (7999), 0.25f) << c.name;
    }
}

TEST (MixEngineKinds, BusAndMasterEqCommandsNeedTheEngineRate)
{
    for (Kind kind : { Kind::setPlaylistBus, Kind::setMasterEq })
        for (double rate : { 48000.0, 44100.0, 0.0 })
        {
            EngineRig rig;
            rig.push (start (Kind::goFromSilence, rig.hold (constantPcm (20000, 0.25f)), 1));
            auto eq = simple (kind);
            eq.coefficients = highPassAt1k (48000.0);
            eq.sampleRate = rate;
            rig.push (eq);
            rig.render (8000);
            if (rate == 48000.0)
                EXPECT_LT (std::abs (rig.left (7999)), 1e-3) << numberOf (kind) << " at " << rate;
            else
                EXPECT_EQ (rig.left (7999), 0.25f) << numberOf (kind) << " at " << rate;
        }
}

TEST (MixEngineKinds, PlaylistGainActsOnTracksOnlyAndJumpsOnlyWhenNoTrackPlays)
{
    EngineRig rig;
    auto first = start (Kind::goFromSilence, rig.hold (constantPcm (30000, 0.25f)), 1);
    first.playlistGainDb = -6.0f;
    rig.push (first);
    rig.push (start (Kind::startPadVoice, rig.hold (constantPcm (30000, 0.125f)), 9, 40));
    rig.render (1);
    const float bus = gainOf (-6.0f);
    EXPECT_EQ (rig.left (0), (float) (0.25 * bus) + 0.125f) << "no track played: the bus gain jumps";

    // A start beside a playing track only moves the bus gain's target.
    auto second = start (Kind::goHandOver, rig.hold (constantPcm (30000, 0.25f)), 2);
    second.playlistGainDb = 0.0f;
    rig.push (second);
    const auto out = rig.renderLeft (3);
    const float c = rig.engine->smoothingCoefficient();
    float g = bus;
    for (int i = 0; i < 3; ++i)
    {
        g = g + (1.0f - g) * c;
        EXPECT_EQ (out[(std::size_t) i], (float) (0.5 * g) + 0.125f) << i;
    }

    auto busCommand = simple (Kind::setPlaylistBus);
    busCommand.gainDb = -60.0f;
    busCommand.sampleRate = 48000.0;
    rig.push (busCommand);
    settle (rig);
    EXPECT_NEAR (rig.left (7999), 0.125 + 0.5 * 0.001, 1e-5) << "pads bypass the playlist bus";
}

TEST (MixEngineKinds, PadBusGainAndMuteActOnPadsOnly)
{
    EngineRig rig;
    rig.push (start (Kind::goFromSilence, rig.hold (constantPcm (100000, 0.25f)), 1));
    rig.push (start (Kind::startPadVoice, rig.hold (constantPcm (100000, 0.125f)), 9, 40));
    rig.engine->setPadBusGain (-120.0f); // clamped to -60 dB
    EXPECT_EQ (rig.engine->padBusGainDb(), -60.0f);
    rig.engine->setPadBusGain (std::numeric_limits<float>::infinity());
    EXPECT_EQ (rig.engine->padBusGainDb(), -60.0f) << "non-finite values are ignored";
    settle (rig);
    EXPECT_NEAR (rig.left (7999), 0.25 + 0.125 * 0.001, 1e-5);

    rig.engine->setPadBusGain (0.0f);
    rig.engine->setPadMute (true);
    settle (rig);
    EXPECT_EQ (rig.left (7999), 0.25f);
    rig.engine->setPadMute (false);
    rig.render (1);
    EXPECT_NEAR (rig.left (0), 0.375, 1e-5) << "the pad gain kept moving while muted";
}

TEST (MixEngineKinds, UnknownKindsOnlyAdvanceTheAppliedSerial)
{
    EngineRig rig;
    rig.push (start (Kind::goFromSilence, rig.hold (constantPcm (1000, 0.25f)), 1));
    rig.render (10);
    for (std::int32_t number : { 14, 99, -1 })
    {
        auto command = simple (codeFromNumber<Kind> (number), 3, 77, 5, -30.0f);
        ASSERT_TRUE (rig.engine->push (command));
        rig.render (10);
        EXPECT_EQ (rig.engine->lastAppliedSerial(), command.serial);
        EXPECT_EQ (rig.left (9), 0.25f);
    }
    EXPECT_EQ (rig.status (mainV), statusOf (1, 40, true, false, false));
}
