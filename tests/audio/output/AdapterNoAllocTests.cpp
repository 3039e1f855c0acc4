// The whole render path of the adapter, as the device callback runs it (engine, master rack with a
// real plug-in, master stage), must not allocate: a show that uses every kind of command the
// session sends, in blocks of odd sizes, with the rack carrying the test gain plug-in.
#include "AdapterRackSupport.h"
#include "audio/rack/RackBlockRing.h"
#include "tests/audio/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

namespace
{
using orvane::audio::AudioCommand;
using orvane::audio::AudioCommandKind;
using orvane::audio::PadAudioCommand;
using orvane::audio::PadAudioCommandKind;
using orvane::audio::SinkAnswer;
using orvane::audio::testing::ScopedAllocationCount;
using vantrel::EqSettings;
using vantrel::EqShape;
using vantrel::JuceAudioAdapter;

constexpr double rate = 48000.0;
constexpr std::int64_t roundFrames = 24000;

/** Sines whose pitch and length follow the key: tracks of 0.3 s and pads of 0.1 s, so that voices
    also end by themselves during a round; tracks carry a cue frame. */
vantrel::MediaLoader::LoadFunction sineMedia()
{
    return [] (const vantrel::MediaLoadRequest& request, vantrel::CancelFlag) {
        const bool pad = request.key.rfind ("pad-", 0) == 0;
        const auto frames = (std::size_t) (request.rate * (pad ? 0.1 : 0.3));
        const double frequency = 110.0 + 37.0 * (double) (std::hash<std::string>() (request.key) % 40);
        auto pcm = std::make_shared<vantrel::PreparedPcm>();
        pcm->left.resize (frames);
        pcm->right.resize (frames);
        for (std::size_t i = 0; i < frames; ++i)
        {
            pcm->left[i] = 0.3f * (float) std::sin (2.0 * M_PI * frequency * (double) i / request.rate);
            pcm->right[i] = 0.2f * (float) std::cos (2.0 * M_PI * frequency * 1.5 * (double) i / request.rate);
        }
        pcm->sampleRate = request.rate;
        pcm->cueFrame = pad ? 0 : 480;
        auto media = std::make_shared<vantrel::LoadedMedia>();
        media->pcm = pcm;
        return media;
    };
}

EqSettings eqWith (EqShape shape, double frequency, double gainDb)
{
    EqSettings eq;
    eq.enabled = true;
    eq.bands[2] = { true, (int) shape, frequency, gainDb, 0.9 };
    eq.bands[6] = { true, (int) EqShape::highShelf, 8000.0, -4.0, 0.7071 };
    return eq;
}

/** One operation of the session on the message thread, due at a frame of the round. */
struct ShowStep
{
    std::int64_t at;
    std::function<void (JuceAudioAdapter&, std::int64_t tokenBase)> run;
};

AudioCommand go (AudioCommandKind kind, const char* key, std::int64_t token, double seconds = 0.0)
{
    return { kind, std::string (key), seconds, token };
}

/** What the session does in a show: every GO kind, pads started, retriggered, stopped and
    released, gains and every EQ, seeks, pauses, stops, the master and pad bus settings and the
    analyser's source. Answers are not asserted here: a refused command is part of a show too. */
std::vector<ShowStep> sessionShow()
{
    return {
        { 0, [] (JuceAudioAdapter& a, std::int64_t) { a.setMasterEq (eqWith (EqShape::bell, 2500.0, -5.0)); } },
        { 0, [] (JuceAudioAdapter& a, std::int64_t) { a.setPlaylistEq (eqWith (EqShape::lowShelf, 150.0, 3.0), -2.0f); } },
        { 0, [] (JuceAudioAdapter& a, std::int64_t t) { a.submit (go (AudioCommandKind::goFromSilence, "row-a", t + 1)); } },
        { 500, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (PadAudioCommand { PadAudioCommandKind::start, 1, 1 }); } },
        { 500, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (PadAudioCommand { PadAudioCommandKind::start, 1, 2 }); } },
        { 800, [] (JuceAudioAdapter& a, std::int64_t) { a.setMediaGain (vantrel::padMediaKey (1, 2), -10.0f); } },
        { 1000, [] (JuceAudioAdapter& a, std::int64_t) { a.setMediaGain ("row-a", -9.0f); } },
        { 1500, [] (JuceAudioAdapter& a, std::int64_t) { a.setMediaEq ("row-a", eqWith (EqShape::highPass, 200.0, 0.0)); } },
        { 2000, [] (JuceAudioAdapter& a, std::int64_t t) { a.submit (go (AudioCommandKind::goHandOver, "row-b", t + 2)); } },
        { 2600, [] (JuceAudioAdapter& a, std::int64_t) { a.setPlaylistEq (eqWith (EqShape::lowPass, 5000.0, 0.0), -1.0f); } },
        { 3000, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (go (AudioCommandKind::seekMain, "row-b", 0, 0.05)); } },
        { 3500, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (go (AudioCommandKind::togglePause, "row-b", 0)); } },
        { 3600, [] (JuceAudioAdapter& a, std::int64_t) { a.eqTargetPlayToken ("@playlist"); } },
        { 4200, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (go (AudioCommandKind::togglePause, "row-b", 0)); } },
        { 4300, [] (JuceAudioAdapter& a, std::int64_t) { a.eqTargetPlayToken ("row-b"); } },
        { 4500, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (PadAudioCommand { PadAudioCommandKind::stopAll, 1, 0 }); } },
        { 4600, [] (JuceAudioAdapter& a, std::int64_t) { a.releasePad (1, 1); a.releasePad (1, 2); } },
        { 4800, [] (JuceAudioAdapter& a, std::int64_t) { a.setMediaGain ("row-a", 2.0f); } },
        { 5000, [] (JuceAudioAdapter& a, std::int64_t) {
              for (int pad = 1; pad <= 9; ++pad)
                  a.submit (PadAudioCommand { PadAudioCommandKind::start, 2, pad });
          } },
        { 5100, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (PadAudioCommand { PadAudioCommandKind::restart, 2, 3 }); } },
        { 5150, [] (JuceAudioAdapter& a, std::int64_t) { a.eqTargetPlayToken ("@master"); } },
        { 5200, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (go (AudioCommandKind::stopOutgoing, "row-a", 0)); } },
        { 5800, [] (JuceAudioAdapter& a, std::int64_t t) { a.submit (go (AudioCommandKind::goBesideOutgoing, "row-c", t + 3)); } },
        { 6000, [] (JuceAudioAdapter& a, std::int64_t t) { a.submit (go (AudioCommandKind::goRestartOutgoing, "row-a", t + 4)); } },
        { 6200, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (go (AudioCommandKind::togglePause, "row-c", 0)); } },
        { 6500, [] (JuceAudioAdapter& a, std::int64_t t) { a.submit (go (AudioCommandKind::goFromPause, "row-b", t + 5)); } },
        { 6800, [] (JuceAudioAdapter& a, std::int64_t t) { a.submit (go (AudioCommandKind::goRestartMain, "row-b", t + 6)); } },
        { 7000, [] (JuceAudioAdapter& a, std::int64_t) {
              a.setPadBusGainDb (-4.0f);
              a.setPadMute (true);
              a.setMasterGainDb (-3.0f);
              a.setLimiterThresholdDb (-12.0f);
              a.setLimiterCeilingDb (-6.0f);
              a.setLimiterReleaseMs (40.0f);
              a.setLimiterDriveDb (9.0f);
          } },
        { 7500, [] (JuceAudioAdapter& a, std::int64_t) { a.setLimiterEnabled (false); a.setPadMute (false); } },
        { 8000, [] (JuceAudioAdapter& a, std::int64_t) { a.setMasterEq (eqWith (EqShape::bell, 900.0, 6.0)); } },
        { 9000, [] (JuceAudioAdapter& a, std::int64_t) { a.setLimiterEnabled (true); a.setLimiterDriveDb (0.0f); } },
        { 12000, [] (JuceAudioAdapter& a, std::int64_t t) { a.submit (go (AudioCommandKind::goHandOver, "row-c", t + 7)); } },
        { 16000, [] (JuceAudioAdapter& a, std::int64_t) { a.submit (go (AudioCommandKind::mainEnded, "row-c", 0)); } },
        { 20000, [] (JuceAudioAdapter& a, std::int64_t) {
              a.submit (go (AudioCommandKind::stopMain, "row-c", 0));
              a.submit (go (AudioCommandKind::stopOutgoing, "row-b", 0));
              a.submit (PadAudioCommand { PadAudioCommandKind::stopAll, 2, 0 });
              for (int pad = 1; pad <= 9; ++pad)
                  a.releasePad (2, pad);
          } },
    };
}

TEST (AdapterNoAllocRender, AShowThroughTheRackCarryingTheGainPlugInRendersWithoutAllocating)
{
    vantrel::test::RackProfile profile;
    ASSERT_TRUE (profile.ready());
    JuceAudioAdapter adapter { sineMedia(), [] { return std::int64_t { 0 }; }, vantrel::test::privateRackOptions() };
    adapter.setRackFiles (profile.settingsFile(), vantrel::test::realWorker());

    // No output device (its settings file was found damaged): the rack starts all the same, and
    // the offline renderer runs the device callback's render path on this thread, by hand.
    ASSERT_FALSE (adapter.openOutput ({ "JACK", "system", "JACK:system", 0.0, 0, 0 }, false).ok);
    adapter.startOfflineRenderer (rate, JuceAudioAdapter::Pacing::manual);

    const auto uid = vantrel::test::scanForGainPlugin (adapter, profile);
    ASSERT_TRUE (uid.isNotEmpty()) << adapter.rack().status().message;
    ASSERT_TRUE (adapter.rack().choosePlugin (0, uid));
    ASSERT_TRUE (vantrel::test::slotSettles (adapter, 0, true)) << adapter.rack().status().message;

    std::vector<std::string> keys { "row-a", "row-b", "row-c" };
    for (int bank = 1; bank <= 2; ++bank)
        for (int pad = 1; pad <= 9; ++pad)
            keys.push_back (vantrel::padMediaKey (bank, pad));
    for (const auto& key : keys)
        ASSERT_TRUE (vantrel::test::prepareStandIn (adapter, profile.mediaFolder(), key)) << key;

    // Every block the rack sends is back from the plug-in before the next is rendered: the
    // plug-in path carries the whole show, however slowly the machine runs the worker.
    const auto processed = [&] { return adapter.rack().status().slots[0].processedBlocks; };
    const auto processedAtStart = processed();
    std::int64_t framesSinceLoad = 0;
    std::vector<float> left (512), right (512);
    const auto render = [&] (int frames, std::uint64_t& allocations) {
        {
            ScopedAllocationCount count;
            adapter.renderOfflineFrames (frames, left.data(), right.data());
            allocations += count.allocations();
        }
        framesSinceLoad += frames;
        const auto sent = (std::uint64_t) (framesSinceLoad / vantrel::RackBlock::frames);
        return vantrel::test::waitUntil ([&] { return processed() - processedAtStart >= sent; });
    };

    std::mt19937 random (7);
    std::uint64_t allocations = 0;
    int blocks = 0;
    const auto show = sessionShow();
    for (int round = 0; round < 10; ++round)
    {
        const std::int64_t tokenBase = 1000 * (round + 1);
        std::size_t next = 0;
        for (std::int64_t position = 0; position < roundFrames;)
        {
            for (; next < show.size() && show[next].at <= position; ++next)
                show[next].run (adapter, tokenBase);
            adapter.tick();
            const int frames = 1 + 2 * (int) (random() % 256);   // odd, 1..511
            ASSERT_TRUE (render (frames, allocations)) << "the rack fell behind; " << adapter.rack().status().message;
            position += frames;
            ++blocks;
        }
    }

    const auto status = adapter.rack().status();
    EXPECT_GT (blocks, 800);
    EXPECT_EQ (allocations, 0u);
    EXPECT_TRUE (status.slots[0].loaded) << status.slots[0].message;
    EXPECT_FALSE (status.audioFault) << status.faultText;
    EXPECT_EQ (status.underruns, 0u) << "a block of the show went without the plug-in";
    EXPECT_GT (status.slots[0].processedBlocks - processedAtStart, 400u);
}
} // namespace
