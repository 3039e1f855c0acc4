#include "session/transport/TransportController.h"

#include "RecordingSinks.h"

using namespace orvane::audio;
using vantrel::test::RecordingAudioSink;

namespace
{
using Id = std::optional<std::string>;
const Id none = std::nullopt;

/** Drives the cue state and the controller the way the session coordinator
    does: READY proposals after each start, end reports matched by play token. */
struct Show
{
    std::vector<std::string> rows { "a", "b", "c" };
    CueState cue;
    RecordingAudioSink sink;
    TransportController transport { &cue, &sink };
    Id lastStarted;

    void updateReady()
    {
        if (cue.manualReady)
            return;

        cue.offerReady (lastStarted ? chooseNextReady (rows, lastStarted, cue.repeatMode) : Id (rows.front()));
    }

    GoResult go()
    {
        const Id ready = cue.ready;
        const GoResult result = transport.go();

        if (result.outcome == SinkAnswer::accepted)
        {
            lastStarted = ready;
            updateReady();
        }

        return result;
    }

    // One end report from the engine, as the periodic tick sees it.
    void voiceEnded (std::int64_t token)
    {
        if (cue.outgoing && token == cue.outgoingGeneration)
        {
            transport.onOutgoingFinished();
            return;
        }

        if (! cue.main || token != cue.mainGeneration)
            return;

        const SinkAnswer answer = transport.onMainFinished();

        if (cue.ready && ! cue.manualReady)
            cue.setAnchor (cue.ready);

        if (! cue.autoReady && cue.ready && answer != SinkAnswer::refused)
            go();
    }
};
} // namespace

TEST (TransportShow, AScriptedShowKeepsModelAndCommandsInStep)
{
    Show show;
    auto& cue = show.cue;

    show.updateReady();
    EXPECT_EQ (cue.ready, Id ("a"));

    EXPECT_EQ (show.go(), (GoResult { GoKind::fromSilence, SinkAnswer::accepted }));
    EXPECT_EQ (cue.ready, Id ("b"));

    EXPECT_EQ (show.go(), (GoResult { GoKind::handOver, SinkAnswer::accepted }));
    EXPECT_EQ (cue.outgoing, Id ("a"));
    EXPECT_EQ (cue.main, Id ("b"));
    EXPECT_EQ (cue.ready, Id ("c"));

    EXPECT_EQ (show.go(), (GoResult { GoKind::twoSounding, SinkAnswer::nothingSent }));

    show.voiceEnded (1);   // OUTGOING "a" ends
    EXPECT_EQ (cue.outgoing, none);
    EXPECT_EQ (cue.previousOutgoing, Id ("a"));
    show.voiceEnded (1);   // repeated report of a voice already gone: ignored
    EXPECT_EQ (cue.main, Id ("b"));

    EXPECT_EQ (show.go(), (GoResult { GoKind::handOver, SinkAnswer::accepted }));
    EXPECT_EQ (cue.outgoing, Id ("b"));
    EXPECT_EQ (cue.main, Id ("c"));
    EXPECT_EQ (cue.ready, none) << "REPEAT OFF after the last row";

    EXPECT_EQ (show.transport.togglePause(), SinkAnswer::accepted);
    EXPECT_TRUE (cue.paused);
    EXPECT_EQ (show.go(), (GoResult { GoKind::noReady, SinkAnswer::nothingSent }));

    cue.selectReady ("a");   // the operator steps back to the first row
    EXPECT_EQ (show.go(), (GoResult { GoKind::fromPause, SinkAnswer::accepted }));
    EXPECT_FALSE (cue.paused);
    EXPECT_EQ (cue.outgoing, none) << "the paused tracks are dropped";
    EXPECT_EQ (cue.previousOutgoing, Id ("c"));
    EXPECT_EQ (cue.main, Id ("a"));
    EXPECT_EQ (cue.mainGeneration, 4);
    EXPECT_EQ (cue.manualReady, none);
    EXPECT_EQ (cue.ready, Id ("b"));

    cue.repeatMode = RepeatMode::all;
    show.voiceEnded (3);   // a stale token of "c": not MAIN's
    EXPECT_EQ (cue.main, Id ("a"));
    show.voiceEnded (4);   // MAIN "a" ends by itself; AUTO READY only keeps "b" ready
    EXPECT_EQ (cue.main, none);
    EXPECT_EQ (cue.previousMain, Id ("a"));
    EXPECT_EQ (cue.anchor, Id ("b"));
    EXPECT_EQ (cue.ready, Id ("b"));

    cue.autoReady = false;
    EXPECT_EQ (show.go(), (GoResult { GoKind::fromSilence, SinkAnswer::accepted }));
    EXPECT_EQ (cue.previousOutgoing, Id ("a"));
    show.voiceEnded (5);   // MAIN "b" ends: without AUTO READY the next row starts
    EXPECT_EQ (cue.main, Id ("c"));
    EXPECT_EQ (cue.mainGeneration, 6);
    EXPECT_EQ (cue.ready, Id ("a")) << "REPEAT ALL wraps round";

    EXPECT_EQ (show.transport.seekMain (-3.0), SinkAnswer::accepted);

    show.sink.answerNext ({ SinkAnswer::refused });
    const CueState beforeRefusal = cue;
    EXPECT_EQ (show.go(), (GoResult { GoKind::handOver, SinkAnswer::refused }));
    EXPECT_EQ (cue, beforeRefusal);

    EXPECT_EQ (show.transport.stopMain(), SinkAnswer::accepted);
    EXPECT_EQ (cue.activeCount(), 0);
    EXPECT_EQ (cue.goCounter, 6);

    const std::vector<AudioCommand> expected {
        { AudioCommandKind::goFromSilence, Id ("a"), 0.0, 1 },
        { AudioCommandKind::goHandOver, Id ("b"), 0.0, 2 },
        { AudioCommandKind::goHandOver, Id ("c"), 0.0, 3 },
        { AudioCommandKind::togglePause, none, 0.0, 0 },
        { AudioCommandKind::goFromPause, Id ("a"), 0.0, 4 },
        { AudioCommandKind::goFromSilence, Id ("b"), 0.0, 5 },
        { AudioCommandKind::goFromSilence, Id ("c"), 0.0, 6 },
        { AudioCommandKind::seekMain, Id ("c"), -3.0, 0 },
        { AudioCommandKind::goHandOver, Id ("a"), 0.0, 7 },
        { AudioCommandKind::stopMain, Id ("c"), 0.0, 0 },
    };
    EXPECT_EQ (show.sink.commands, expected);
}

TEST (TransportShow, EndOfMainWithOutgoingStillSoundingStopsItAndKeepsTokensApart)
{
    Show show;
    auto& cue = show.cue;
    show.updateReady();
    show.go();
    show.go();   // OUTGOING "a" (token 1), MAIN "b" (token 2)

    show.sink.answerNext ({ SinkAnswer::refused });   // the stop of OUTGOING is refused
    show.voiceEnded (2);
    EXPECT_EQ (cue.main, none);
    EXPECT_EQ (cue.outgoing, Id ("a")) << "a refused stop keeps the track";
    EXPECT_EQ (cue.outgoingGeneration, 1);

    show.voiceEnded (2);   // repeated MAIN report: MAIN is free, nothing happens
    show.voiceEnded (1);   // OUTGOING ends later by itself
    EXPECT_EQ (cue.activeCount(), 0);

    const std::vector<AudioCommand> expected {
        { AudioCommandKind::goFromSilence, Id ("a"), 0.0, 1 },
        { AudioCommandKind::goHandOver, Id ("b"), 0.0, 2 },
        { AudioCommandKind::mainEnded, Id ("a"), 0.0, 0 },
    };
    EXPECT_EQ (show.sink.commands, expected);
}
