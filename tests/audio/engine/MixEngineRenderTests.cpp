#include "support/ScriptedShow.h"

#include <limits>
#include <random>

using namespace orvane::audio;
using namespace orvane::audio::testing;
using Kind = EngineCommandKind;

TEST (MixEngineRender, BlocksThatCannotBeRenderedLeaveEverythingUntouched)
{
    EngineRig rig;
    const auto media = rig.hold (constantPcm (100, 0.25f));
    ASSERT_TRUE (rig.push (start (Kind::goFromSilence, media, 1)));

    renderAsDevice (*rig.engine, rig.pointers.data(), 2, 0, true);
    renderAsDevice (*rig.engine, rig.pointers.data(), 2, -4, false);
    renderAsDevice (*rig.engine, rig.pointers.data(), 0, 64, false);
    renderAsDevice (*rig.engine, rig.pointers.data(), -1, 64, false);
    renderAsDevice (*rig.engine, nullptr, 2, 64, true);

    EXPECT_EQ (rig.engine->queuedCommands(), 1);
    EXPECT_EQ (rig.engine->lastAppliedSerial(), 0u);
    EXPECT_EQ (rig.status (1), VoiceStatus {}) << "nothing was published";
    EXPECT_EQ (rig.left (0), -9.0f) << "the buffers were not written";

    rig.render (1);
    EXPECT_EQ (rig.status (1), statusOf (1, 1, true, false, false));
    EXPECT_EQ (rig.left (0), 0.25f);
}

TEST (MixEngineRender, WritesMonoStereoAndExtraChannels)
{
    const auto media = constantPcm (100, 0.25f, 0.125f);

    EngineRig mono (48000.0, 1);
    mono.push (start (Kind::goFromSilence, media, 1));
    mono.render (4);
    EXPECT_EQ (mono.left (3), 0.1875f);

    EngineRig quad (48000.0, 4);
    quad.push (start (Kind::goFromSilence, media, 1));
    quad.render (4);
    EXPECT_EQ (quad.left (3), 0.25f);
    EXPECT_EQ (quad.right (3), 0.125f);
    EXPECT_EQ (quad.buffers[2][3], 0.0f);
    EXPECT_EQ (quad.buffers[3][3], 0.0f);
    EXPECT_EQ (quad.buffers[2][4], -9.0f) << "nothing beyond the block";

    EngineRig gaps (48000.0, 3);
    gaps.pointers[1] = nullptr;
    gaps.push (start (Kind::goFromSilence, media, 1));
    gaps.render (4);
    EXPECT_EQ (gaps.left (3), 0.25f);
    EXPECT_EQ (gaps.buffers[2][3], 0.0f);
}

// Commands take effect at block starts; everything else runs per sample. So a show cut into
// blocks of any sizes, each command at its own sample, must sound identical to the bit.
TEST (MixEngineRender, AnyBlockSizesGiveTheSameOutputAtEveryRate)
{
    for (double rate : { 8000.0, 44100.0, 48000.0, 96000.0, 192000.0 })
    {
        std::vector<float> referenceLeft, referenceRight;
        {
            EngineRig rig (rate);
            renderShow (*rig.engine, scriptedShow (rig, rate), scriptedShowLength, [] { return 512; }, referenceLeft,
                        referenceRight);
        }
        ASSERT_GT (rms (referenceLeft, 0, referenceLeft.size()), 0.01) << rate;

        std::mt19937 random ((unsigned) rate);
        const std::vector<std::pair<const char*, std::function<int()>>> partitions {
            { "1", [] { return 1; } },
            { "7", [] { return 7; } },
            { "255", [] { return 255; } },
            { "257", [] { return 257; } },
            { "4096", [] { return 4096; } },
            { "random with zeros", [&] { return (int) (random() % 1400); } },
        };
        for (const auto& [name, blocks] : partitions)
        {
            EngineRig rig (rate);
            std::vector<float> left, right;
            renderShow (*rig.engine, scriptedShow (rig, rate), scriptedShowLength, blocks, left, right);
            EXPECT_EQ (left, referenceLeft) << rate << " Hz, blocks " << name;
            EXPECT_EQ (right, referenceRight) << rate << " Hz, blocks " << name;
        }
    }
}

// The signal path in the documented order, against the EQ processors run directly: TRACK EQ,
// voice gain, PLAYLIST EQ and gain, pad bus, MASTER EQ.
TEST (MixEngineRender, TrackPathMatchesTheProcessorsRunInOrder)
{
    for (double rate : { 44100.0, 48000.0, 96000.0 })
    {
        EngineRig rig (rate);
        const auto music = rig.hold (sinePcm (6000, rate, 700.0));
        const auto trackEq = eqOf ((int) vantrel::EqShape::bell, 1000.0, 8.0, 1.5, rate);
        const auto busEq = eqOf ((int) vantrel::EqShape::lowShelf, 200.0, -6.0, 0.7, rate);
        const auto masterEq = eqOf ((int) vantrel::EqShape::highShelf, 3000.0, 5.0, 0.7, rate);

        auto master = simple (Kind::setMasterEq);
        master.coefficients = masterEq;
        master.sampleRate = rate;
        rig.push (master);
        auto go = start (Kind::goFromSilence, music, 1);
        go.coefficients = trackEq;
        go.playlistCoefficients = busEq;
        go.gainDb = -6.0f;
        go.playlistGainDb = -3.0f;
        rig.push (go);

        std::vector<float> left, right;
        renderShow (*rig.engine, {}, 6000, [] { return 333; }, left, right);

        EqProcessor track, bus, final;
        track.setCoefficients (trackEq);
        bus.setCoefficients (busEq);
        final.rampTo (masterEq, rig.engine->rampLengthSamples());
        const auto voiceGain = (float) std::pow (10.0, -6.0 / 20.0);
        const auto busGain = (float) std::pow (10.0, -3.0 / 20.0);
        for (std::size_t i = 0; i < 6000; ++i)
        {
            double l = music->left[i], r = music->right[i];
            track.process (l, r);
            double bl = (float) (l * voiceGain), br = (float) (r * voiceGain);
            bus.process (bl, br);
            double ml = (float) (bl * busGain), mr = (float) (br * busGain);
            final.process (ml, mr);
            ASSERT_EQ (left[i], (float) ml) << rate << " Hz, sample " << i;
            ASSERT_EQ (right[i], (float) mr) << rate << " Hz, sample " << i;
        }
    }
}

TEST (MixEngineRender, PrepareDerivesSmoothingAndRampsFromTheRate)
{
    auto engine = std::make_unique<MixEngine>();
    EXPECT_EQ (engine->sampleRate(), 48000.0);
    EXPECT_EQ (engine->rampLengthSamples(), 960);
    EXPECT_EQ (engine->smoothingCoefficient(), 0.001f);

    struct Case
    {
        double rate;
        int ramp;
        double smoothingRate;
    };
    for (const Case c : { Case { 48000.0, 960, 48000.0 }, Case { 44100.0, 882, 44100.0 }, Case { 192000.0, 3840, 192000.0 },
                          Case { 0.5, 1, 1.0 }, Case { -10.0, 1, 1.0 },
                          Case { std::numeric_limits<double>::quiet_NaN(), 960, 48000.0 },
                          Case { std::numeric_limits<double>::infinity(), 960, 48000.0 } })
    {
        engine->prepare (c.rate);
        EXPECT_EQ (engine->rampLengthSamples(), c.ramp) << c.rate;
        EXPECT_EQ (engine->smoothingCoefficient(), (float) (1.0 - std::exp (-1.0 / (0.02 * c.smoothingRate)))) << c.rate;
    }
}

TEST (MixEngineRender, ARateChangeFlattensTheBusAndMasterEq)
{
    EngineRig rig;
    const auto media = rig.hold (constantPcm (100000, 0.25f));
    rig.push (start (Kind::goFromSilence, media, 1));
    auto master = simple (Kind::setMasterEq);
    master.coefficients = eqOf ((int) vantrel::EqShape::highPass, 1000.0, 0.0, 0.7, 48000.0);
    master.sampleRate = 48000.0;
    rig.push (master);
    rig.render (8000);
    ASSERT_LT (std::abs (rig.left (7999)), 1e-3);

    rig.engine->prepare (48000.0);
    rig.render (100);
    EXPECT_LT (std::abs (rig.left (99)), 1e-3) << "the same rate keeps the EQ";

    rig.engine->prepare (44100.0);
    rig.render (100);
    EXPECT_EQ (rig.left (99), 0.25f) << "a new rate drops coefficients designed for the old one";
    rig.push (master);
    rig.render (8000);
    EXPECT_EQ (rig.left (7999), 0.25f) << "and refuses them afterwards";
}

TEST (MixEngineRender, TheTapReceivesTheSelectedPoint)
{
    EngineRig rig;
    const auto media = rig.hold (constantPcm (100000, 0.25f));
    auto go = start (Kind::goFromSilence, media, 41);
    go.gainDb = -6.0f;
    go.playlistGainDb = -12.0f;
    rig.push (go);

    const float voiceGain = (float) std::pow (10.0, -6.0 / 20.0);
    const float busGain = (float) std::pow (10.0, -12.0 / 20.0);
    const float trackPoint = 0.25f;                                // after the TRACK EQ, before the gain
    const float busPoint = (float) (0.25 * voiceGain);             // after the PLAYLIST EQ, before its gain
    const float masterPoint = (float) ((float) (0.25 * voiceGain) * busGain); // after the MASTER EQ
    for (const auto& [selection, expected] : { std::pair<std::intptr_t, float> { 41, trackPoint },
                                               { AnalyzerFrame::trackBus, busPoint },
                                               { AnalyzerFrame::masterOutput, masterPoint } })
    {
        rig.engine->analyzerTap().setSourceSelection (selection);
        rig.render (2048);
        AnalyzerFrame frame;
        ASSERT_TRUE (rig.engine->analyzerTap().pop (frame)) << selection;
        EXPECT_EQ (frame.sourceTag, selection);
        EXPECT_EQ (frame.sampleRate, 48000.0);
        EXPECT_EQ (frame.left[100], expected) << selection;
        EXPECT_FALSE (rig.engine->analyzerTap().pop (frame));
    }

    rig.engine->analyzerTap().setSourceSelection (0);
    rig.render (4096);
    AnalyzerFrame frame;
    EXPECT_FALSE (rig.engine->analyzerTap().pop (frame)) << "nothing is tapped without a selection";
}

TEST (MixEngineRender, TheMasterStageRunsOnlyWhenAsked)
{
    for (bool applyMaster : { false, true })
    {
        EngineRig rig;
        const auto media = rig.hold (constantPcm (1000, 0.25f));
        rig.push (start (Kind::goFromSilence, media, 1));
        renderAsDevice (*rig.engine, rig.pointers.data(), 2, 400, applyMaster);
        const int delay = applyMaster ? MasterOutputProcessor::latencySamples : 0;
        EXPECT_EQ (rig.left (delay > 0 ? delay - 1 : 0), applyMaster ? 0.0f : 0.25f);
        EXPECT_NEAR (rig.left (delay + 10), 0.25f, 1e-5);
    }
}
