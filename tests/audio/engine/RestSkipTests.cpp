// A show rendered through the engine and the master stage gives the same samples and meters
// whether the master stage gives out its blocks of silence at rest without computing them or
// computes every block: GOs, pads, every EQ, a fade and stop into a long silence (long enough for
// the limiter's release to come to rest), parameter changes while silent, and a new start after it.

#include "support/ScriptedShow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace orvane::audio::testing
{
namespace
{
constexpr double rate = 48000.0;
constexpr std::int64_t silenceStart = scriptedShowLength + 600;
constexpr std::int64_t restart = silenceStart + 16 * 48000;   // past the limiter's 120 ms release to rest
constexpr std::int64_t showEnd = restart + 30000;

/** What the master stage is told while the show runs (the same for both renders). Loud: the
    show's passages are limited and lifted into the true-peak stage's reduction, whose release
    then runs for seconds into the silence; quiet: nothing is limited, so the stage is at rest as
    soon as its delay lines hold silence. */
void changeMaster (MasterOutputProcessor& master, std::int64_t position, bool loud)
{
    if (position == 0)
    {
        master.setThresholdDb (loud ? -12.0f : 0.0f);
        master.setCeilingDb (0.0f);
        master.setOutputGainDb (loud ? 12.0f : -20.0f);
    }
    else if (position == silenceStart + 48000)
        master.setThresholdDb (-9.0f);    // a change while silent: glides, then rests again
    else if (position == silenceStart + 96000)
        master.setEnabled (false);
    else if (position == silenceStart + 144000)
        master.setEnabled (true);
    else if (position == silenceStart + 200000)
        master.setOutputGainDb (-6.0f);
}

struct Rendered
{
    std::vector<float> left, right;
    std::vector<MasterOutputMeters> meters;   // after every block
    std::uint64_t skipped = 0;
};

Rendered renderThrough (const std::vector<ShowEvent>& show, bool skipsRest, bool loud)
{
    MixEngine engine;
    engine.prepare (rate);
    engine.masterOutput().setSkipsRest (skipsRest);
    Rendered out;
    out.left.assign ((std::size_t) showEnd, -7.0f);
    out.right.assign ((std::size_t) showEnd, -7.0f);
    std::mt19937 sizes (49);   // the same block sizes for both renders
    std::vector<std::int64_t> changes { 0, silenceStart + 48000, silenceStart + 96000, silenceStart + 144000, silenceStart + 200000 };
    std::size_t next = 0;
    for (std::int64_t position = 0; position < showEnd;)
    {
        while (next < show.size() && show[next].at <= position)
        {
            auto command = show[next++].command;
            EXPECT_TRUE (engine.push (command));
        }
        changeMaster (engine.masterOutput(), position, loud);
        std::int64_t limit = showEnd;
        if (next < show.size())
            limit = std::min (limit, show[next].at);
        for (const auto change : changes)
            if (change > position)
                limit = std::min (limit, change);
        const int block = (int) std::min<std::int64_t> ((std::int64_t) (sizes() % 600 + 1), limit - position);
        float* channels[] = { out.left.data() + position, out.right.data() + position };
        std::fill (channels[0], channels[0] + block, 0.0f);
        std::fill (channels[1], channels[1] + block, 0.0f);
        {
            const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
            engine.render (channels, 2, block, false);
            engine.masterOutput().process (channels, 2, block);
            out.skipped = engine.masterOutput().blocksSkippedAtRest();
        }
        out.meters.push_back (engine.masterOutput().meters());
        position += block;
    }
    return out;
}

std::vector<ShowEvent> showWithSilence (EngineRig& rig)
{
    auto show = scriptedShow (rig, rate);
    const auto loud = rig.hold (sinePcm (40000, rate, 330.0, 0.9f));
    const auto pad = rig.hold (sinePcm (4000, rate, 2000.0, 0.8f));
    // A fade of MAIN and OUTGOING towards -60 dB, then everything stops: silence.
    show.push_back ({ scriptedShowLength - 1500, simple (EngineCommandKind::setVoiceGain, 1, 0, 0, -60.0f) });
    show.push_back ({ scriptedShowLength - 1500, simple (EngineCommandKind::setVoiceGain, 0, 0, 0, -60.0f) });
    show.push_back ({ silenceStart, simple (EngineCommandKind::stopVoice, 0) });
    show.push_back ({ silenceStart, simple (EngineCommandKind::stopVoice, 1) });
    show.push_back ({ silenceStart, simple (EngineCommandKind::stopAllPads) });
    // After the silence: a loud GO from silence and a pad over it.
    auto go = start (EngineCommandKind::goFromSilence, loud, 900, 1);
    show.push_back ({ restart, go });
    show.push_back ({ restart + 5000, start (EngineCommandKind::startPadVoice, pad, 901, 5) });
    std::stable_sort (show.begin(), show.end(), [] (const ShowEvent& a, const ShowEvent& b) { return a.at < b.at; });
    return show;
}

TEST (MasterRestSkip, ShowThroughSilenceGivesTheSameSamplesAndMetersAsComputingEveryBlock)
{
  {
    const bool loud = true;
    EngineRig rig (rate);
    const auto show = showWithSilence (rig);
    const auto computed = renderThrough (show, false, loud);
    const auto skipping = renderThrough (show, true, loud);

    EXPECT_EQ (computed.skipped, 0u);
    // The skip did its work: most of the silence's blocks were given out at rest.
    EXPECT_GT (skipping.skipped, 500u);
    ASSERT_EQ (computed.left.size(), skipping.left.size());
    // Bit for bit (a -0.0 for a +0.0 counts as a difference).
    EXPECT_EQ (std::memcmp (computed.left.data(), skipping.left.data(), computed.left.size() * sizeof (float)), 0);
    EXPECT_EQ (std::memcmp (computed.right.data(), skipping.right.data(), computed.right.size() * sizeof (float)), 0);
    for (std::size_t i = 0; i < computed.left.size(); ++i)
        if (computed.left[i] != skipping.left[i] || computed.right[i] != skipping.right[i])
        {
            ADD_FAILURE() << "first difference at sample " << i << ": " << computed.left[i] << " / " << skipping.left[i];
            break;
        }
    ASSERT_EQ (computed.meters.size(), skipping.meters.size());
    for (std::size_t b = 0; b < computed.meters.size(); ++b)
    {
        const auto& a = computed.meters[b];
        const auto& s = skipping.meters[b];
        if (std::memcmp (&a, &s, sizeof (a)) != 0)
        {
            ADD_FAILURE() << "meters differ after block " << b << ": " << a.outputPeakLeftDb << " / " << s.outputPeakLeftDb << ", "
                          << a.limiterReductionDb << " / " << s.limiterReductionDb << ", " << a.truePeakReductionDb << " / "
                          << s.truePeakReductionDb;
            break;
        }
    }
    // The show limited before the silence, and the new start is heard at once after it.
    const auto firstHeard = std::find_if (skipping.left.begin() + restart, skipping.left.end(), [] (float v) { return v != 0.0f; });
    ASSERT_NE (firstHeard, skipping.left.end());
    EXPECT_GE (firstHeard - skipping.left.begin(), restart + MasterOutputProcessor::latencySamples);
    EXPECT_LE (firstHeard - skipping.left.begin(), restart + MasterOutputProcessor::latencySamples + 1);   // a sine's first sample is 0
    EXPECT_TRUE (! loud || std::any_of (computed.meters.begin(), computed.meters.end(), [] (const MasterOutputMeters& m) {
        return m.limiterReductionDb > 1.0f;
    }));
    EXPECT_EQ (loud, std::any_of (computed.meters.begin(), computed.meters.end(), [] (const MasterOutputMeters& m) {
        return m.truePeakReductionDb > 0.5f;
    }));
  }
}

TEST (MasterRestSkip, QuietSoundsAndClicksAmidSilenceGiveTheSameAsComputingEveryBlock)
{
    // Nothing here is limited: the stage comes to rest as soon as its delay lines hold silence.
    // The input: a quiet tone, silence, a single quiet click, a -0.0 (computed, never skipped),
    // silence, a click at the first sample of a block.
    std::vector<float> input (20000, 0.0f);
    for (int i = 0; i < 1000; ++i)
        input[(std::size_t) i] = 0.1f * (float) std::sin (0.05 * i);
    input[6000] = 0.1f;
    input[9000] = -0.0f;
    input[14000] = -0.05f;
    for (const int block : { 1, 64, 100, 256, 700 })
    {
        SCOPED_TRACE ("blocks of " + std::to_string (block));
        MasterOutputProcessor stages[2];
        std::vector<float> out[2];
        std::vector<MasterOutputMeters> meters[2];
        for (int s = 0; s < 2; ++s)
        {
            stages[s].prepare (rate);
            stages[s].setSkipsRest (s == 1);
            out[s] = input;
            const vantrel::ThreadRoleScope audioRole (vantrel::ThreadRole::audio);
            for (std::size_t at = 0; at < out[s].size(); at += (std::size_t) block)
            {
                float* channels[] = { out[s].data() + at };
                stages[s].process (channels, 1, (int) std::min<std::size_t> ((std::size_t) block, out[s].size() - at));
                meters[s].push_back (stages[s].meters());
            }
        }
        EXPECT_EQ (stages[0].blocksSkippedAtRest(), 0u);
        EXPECT_GT (stages[1].blocksSkippedAtRest(), 2u);
        EXPECT_EQ (std::memcmp (out[0].data(), out[1].data(), out[0].size() * sizeof (float)), 0);
        EXPECT_EQ (std::memcmp (meters[0].data(), meters[1].data(), meters[0].size() * sizeof (MasterOutputMeters)), 0);
        EXPECT_NE (out[1][14000 + MasterOutputProcessor::latencySamples], 0.0f);   // the last click is heard
    }
}
} // namespace
} // namespace orvane::audio::testing
