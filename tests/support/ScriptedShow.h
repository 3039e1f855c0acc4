#pragma once

#include "support/EngineTestSupport.h"

#include <functional>

namespace orvane::audio::testing
{
/** One command pushed when the show reaches a sample position. */
struct ShowEvent
{
    std::int64_t at = 0;
    EngineCommand command;
};

inline EqCoefficients eqOf (int shape, double frequency, double gainDb, double q, double rate)
{
    vantrel::EqSettings settings;
    settings.enabled = true;
    settings.bands[2] = { true, shape, frequency, gainDb, q };
    settings.bands[6] = { true, (int) vantrel::EqShape::highShelf, 8000.0, -4.0, 0.7071 };
    return designEq (settings, rate);
}

/** A short show that uses every command kind: GOs of each kind, pads, gains, every EQ, seeks,
    pauses and stops, at the given rate. The PCM is kept alive by the rig. */
inline std::vector<ShowEvent> scriptedShow (EngineRig& rig, double rate, std::int64_t tokenBase = 0)
{
    const auto trackA = rig.hold (sinePcm (20000, rate, 440.0));
    const auto trackB = rig.hold (sinePcm (20000, rate, 1234.5, 0.7f));
    const auto trackC = rig.hold (sinePcm (2000, rate, 220.0));
    const auto shortPad = rig.hold (sinePcm (3000, rate, 3000.0, 0.3f));
    const auto longPad = rig.hold (sinePcm (20000, rate, 97.0, 0.2f));

    const auto at = [&] (std::int64_t when, EngineCommand command) { return ShowEvent { when, command }; };
    const auto withRate = [rate] (EngineCommand command) {
        command.sampleRate = rate;
        return command;
    };
    const auto track = [&] (EngineCommandKind kind, const Pcm& pcm, std::int64_t token, int voice, std::int64_t frames) {
        auto command = withRate (start (kind, pcm, tokenBase + token, voice, frames));
        command.coefficients = eqOf ((int) vantrel::EqShape::bell, 900.0, 6.0, 1.2, rate);
        command.playlistCoefficients = eqOf ((int) vantrel::EqShape::lowShelf, 150.0, 3.0, 0.8, rate);
        command.gainDb = -3.0f;
        command.playlistGainDb = -2.0f;
        return command;
    };
    const auto eqCommand = [&] (EngineCommandKind kind, int voice, std::int64_t token, EqCoefficients coefficients) {
        auto command = withRate (simple (kind, voice, 0, token, -4.0f));
        command.coefficients = coefficients;
        return command;
    };

    std::vector<ShowEvent> show {
        at (0, eqCommand (EngineCommandKind::setMasterEq, 1, 0, eqOf ((int) vantrel::EqShape::bell, 2500.0, -5.0, 2.0, rate))),
        at (0, track (EngineCommandKind::goFromSilence, trackA, 1, 1, 0)),
        at (500, start (EngineCommandKind::startPadVoice, shortPad, tokenBase + 100, 2)),
        at (500, start (EngineCommandKind::startPadVoice, longPad, tokenBase + 101, 10)),
        at (800, simple (EngineCommandKind::setVoiceGain, 10, 0, 0, -10.0f)),
        at (1000, simple (EngineCommandKind::setVoiceGain, 1, 0, tokenBase + 1, -9.0f)),
        at (1500, eqCommand (EngineCommandKind::setTrackEq, 1, tokenBase + 1, eqOf ((int) vantrel::EqShape::highPass, 200.0, 0.0, 0.7, rate))),
        at (2000, track (EngineCommandKind::goHandOver, trackB, 2, 1, 1234)),
        at (2600, eqCommand (EngineCommandKind::setPlaylistBus, 1, 0, eqOf ((int) vantrel::EqShape::lowPass, 5000.0, 0.0, 0.9, rate))),
        at (3000, simple (EngineCommandKind::seek, 1, -700)),
        at (3500, simple (EngineCommandKind::togglePause)),
        at (4200, simple (EngineCommandKind::togglePause)),
        at (4500, simple (EngineCommandKind::stopAllPads)),
        at (4800, simple (EngineCommandKind::setVoiceGain, 0, 0, 0, 2.0f)),
        at (5200, simple (EngineCommandKind::stopVoice, 0)),
        at (5800, track (EngineCommandKind::goBesideOutgoing, trackC, 3, 1, 0)),
        at (6000, track (EngineCommandKind::startTrackVoice, trackA, 4, 0, 100)),
        at (6500, track (EngineCommandKind::goFromPause, trackB, 5, 1, 0)),
        at (7000, simple (vantrel::test::codeFromNumber<EngineCommandKind> (20))),   // outside the kinds
    };
    for (int pad = 20; pad < 30; ++pad)
        show.push_back (at (5000, start (EngineCommandKind::startPadVoice, longPad, tokenBase + 200 + pad, pad, pad * 10)));
    std::stable_sort (show.begin(), show.end(), [] (const ShowEvent& a, const ShowEvent& b) { return a.at < b.at; });
    return show;
}

constexpr std::int64_t scriptedShowLength = 9000;

/** Renders a show into left/right vectors of the given length, with block sizes from nextBlock
    (0 allowed), cutting blocks at the events so each command applies at its sample. */
inline void renderShow (MixEngine& engine, const std::vector<ShowEvent>& show, std::int64_t length,
                        const std::function<int()>& nextBlock, std::vector<float>& left, std::vector<float>& right,
                        bool applyMaster = false, const std::function<void (const std::function<void()>&)>& around = {})
{
    left.assign ((std::size_t) length, 0.0f);
    right.assign ((std::size_t) length, 0.0f);
    std::size_t next = 0;
    std::int64_t position = 0;
    while (position < length)
    {
        while (next < show.size() && show[next].at <= position)
        {
            auto command = show[next++].command;
            EXPECT_TRUE (engine.push (command));
        }
        const std::int64_t limit = (next < show.size() ? std::min (show[next].at, length) : length) - position;
        const int block = (int) std::min<std::int64_t> (nextBlock(), limit);
        float* channels[] = { left.data() + position, right.data() + position };
        if (around)
            around ([&] { renderAsDevice (engine, channels, 2, block, applyMaster); });
        else
            renderAsDevice (engine, channels, 2, block, applyMaster);
        position += block;
    }
}
} // namespace orvane::audio::testing
