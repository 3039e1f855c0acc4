#include "session/transport/TransportController.h"

#include "RecordingSinks.h"

#include <cmath>
#include <limits>
#include <set>

using namespace orvane::audio;
using vantrel::test::expectCueState;
using vantrel::test::codeFromNumber;
using vantrel::test::numberOf;
using vantrel::test::RecordingAudioSink;

namespace
{
using Id = std::optional<std::string>;
const Id none = std::nullopt;

// Every sink answer the tests use: accepted, refused, and odd values that must count as refusals.
const SinkAnswer sinkAnswers[] { SinkAnswer::accepted, SinkAnswer::refused, SinkAnswer::nothingSent,
                                 codeFromNumber<SinkAnswer> (-1), codeFromNumber<SinkAnswer> (3) };

SinkAnswer reportedAnswer (SinkAnswer sinkAnswer)
{
    return sinkAnswer == SinkAnswer::accepted ? SinkAnswer::accepted : SinkAnswer::refused;
}

struct GoCase
{
    const char* name;
    CueState before;
    GoKind kind;
    CueState afterAccepted;   // equal to before for noReady and twoSounding
};

std::vector<GoCase> goCases()
{
    std::vector<GoCase> cases;

    {
        CueState s;
        s.ready = "a";
        s.manualReady = "a";
        s.anchor = "x";
        s.previousMain = "pm";
        s.previousOutgoing = "po";
        s.mainGeneration = 4;
        s.outgoingGeneration = 2;
        s.goCounter = 4;
        s.repeatMode = RepeatMode::all;
        s.autoReady = false;

        CueState a = s;
        a.previousOutgoing = "pm";
        a.outgoingGeneration = 4;
        a.main = "a";
        a.previousMain = none;
        a.goCounter = 5;
        a.mainGeneration = 5;
        a.anchor = "a";
        a.manualReady = none;
        a.ready = none;
        cases.push_back ({ "from silence, lanes move on", s, GoKind::fromSilence, a });
    }
    {
        CueState s;
        s.ready = "a";
        s.previousOutgoing = "po";

        CueState a = s;
        a.previousOutgoing = none;
        a.main = "a";
        a.goCounter = 1;
        a.mainGeneration = 1;
        a.anchor = "a";
        a.ready = none;
        cases.push_back ({ "from silence, first start", s, GoKind::fromSilence, a });
    }
    {
        CueState s;
        s.main = "a";
        s.mainGeneration = 3;
        s.outgoingGeneration = 1;
        s.goCounter = 3;
        s.previousOutgoing = "po";
        s.previousMain = "pm";
        s.ready = "b";
        s.manualReady = "c";
        s.anchor = "a";

        CueState a = s;
        a.outgoing = "a";
        a.outgoingGeneration = 3;
        a.previousOutgoing = none;
        a.main = "b";
        a.previousMain = none;
        a.goCounter = 4;
        a.mainGeneration = 4;
        a.anchor = "b";
        a.ready = none;   // manualReady "c" stays: another row was started
        cases.push_back ({ "hand-over MAIN to OUTGOING", s, GoKind::handOver, a });
    }
    {
        CueState s;
        s.outgoing = "a";
        s.outgoingGeneration = 2;
        s.previousOutgoing = "po";
        s.previousMain = "pm";
        s.mainGeneration = 3;
        s.goCounter = 3;
        s.ready = "b";
        s.manualReady = "b";

        CueState a = s;
        a.main = "b";
        a.previousMain = none;
        a.goCounter = 4;
        a.mainGeneration = 4;
        a.anchor = "b";
        a.manualReady = none;
        a.ready = none;
        cases.push_back ({ "beside OUTGOING", s, GoKind::besideOutgoing, a });
    }
    {
        CueState s;
        s.main = "a";
        s.mainGeneration = 1;
        s.goCounter = 1;
        s.ready = "a";
        s.manualReady = "a";
        s.anchor = "z";
        s.previousMain = "pm";

        CueState a = s;
        a.goCounter = 2;
        a.mainGeneration = 2;
        a.manualReady = none;
        a.anchor = "a";
        cases.push_back ({ "restart MAIN alone", s, GoKind::restartMain, a });
    }
    {
        CueState s;
        s.main = "a";
        s.mainGeneration = 3;
        s.outgoing = "b";
        s.outgoingGeneration = 2;
        s.goCounter = 3;
        s.ready = "a";

        CueState a = s;
        a.goCounter = 4;
        a.mainGeneration = 4;
        a.anchor = "a";
        cases.push_back ({ "restart MAIN beside OUTGOING", s, GoKind::restartMain, a });
    }
    {
        CueState s;
        s.outgoing = "a";
        s.outgoingGeneration = 2;
        s.main = "b";
        s.mainGeneration = 3;
        s.goCounter = 3;
        s.ready = "a";
        s.manualReady = "a";

        CueState a = s;
        a.goCounter = 4;
        a.outgoingGeneration = 4;
        a.manualReady = none;
        a.anchor = "a";
        cases.push_back ({ "restart OUTGOING beside MAIN", s, GoKind::restartOutgoing, a });
    }
    {
        CueState s;
        s.outgoing = "a";
        s.outgoingGeneration = 2;
        s.goCounter = 2;
        s.ready = "a";

        CueState a = s;
        a.goCounter = 3;
        a.outgoingGeneration = 3;
        a.anchor = "a";
        cases.push_back ({ "restart OUTGOING alone", s, GoKind::restartOutgoing, a });
    }
    {
        CueState s;
        s.paused = true;
        s.main = "a";
        s.mainGeneration = 6;
        s.outgoing = "b";
        s.outgoingGeneration = 5;
        s.goCounter = 6;
        s.ready = "c";
        s.previousMain = "pm";
        s.previousOutgoing = "po";
        s.manualReady = "c";

        CueState a = s;
        a.previousOutgoing = "a";
        a.outgoingGeneration = 6;
        a.outgoing = none;
        a.previousMain = none;
        a.main = "c";
        a.goCounter = 7;
        a.mainGeneration = 7;
        a.paused = false;
        a.anchor = "c";
        a.manualReady = none;
        a.ready = none;
        cases.push_back ({ "paused, both sounding", s, GoKind::fromPause, a });
    }
    {
        CueState s;
        s.paused = true;
        s.outgoing = "b";
        s.outgoingGeneration = 5;
        s.mainGeneration = 6;
        s.previousMain = "pm";
        s.goCounter = 6;
        s.ready = "c";

        CueState a = s;
        a.previousOutgoing = "pm";
        a.outgoingGeneration = 6;
        a.outgoing = none;
        a.previousMain = none;
        a.main = "c";
        a.goCounter = 7;
        a.mainGeneration = 7;
        a.paused = false;
        a.anchor = "c";
        a.ready = none;
        cases.push_back ({ "paused, only OUTGOING", s, GoKind::fromPause, a });
    }
    {
        CueState s;
        s.paused = true;
        s.main = "a";
        s.mainGeneration = 2;
        s.goCounter = 2;
        s.ready = "a";

        CueState a = s;
        a.previousOutgoing = "a";
        a.outgoingGeneration = 2;
        a.main = "a";
        a.goCounter = 3;
        a.mainGeneration = 3;
        a.paused = false;
        a.anchor = "a";
        a.ready = none;
        cases.push_back ({ "paused, READY is MAIN: no resume, a fresh start", s, GoKind::fromPause, a });
    }
    {
        CueState s;
        s.main = "a";
        s.mainGeneration = 1;
        s.goCounter = 1;
        cases.push_back ({ "no READY", s, GoKind::noReady, s });
    }
    {
        CueState s;
        s.paused = true;
        s.main = "a";
        s.outgoing = "b";
        cases.push_back ({ "no READY while paused", s, GoKind::noReady, s });
    }
    {
        CueState s;
        s.main = "a";
        s.mainGeneration = 2;
        s.outgoing = "b";
        s.outgoingGeneration = 1;
        s.goCounter = 2;
        s.ready = "c";
        s.manualReady = "c";
        cases.push_back ({ "two sounding", s, GoKind::twoSounding, s });
    }

    return cases;
}
} // namespace

TEST (TransportControllerGo, MatrixOverEveryCaseAndSinkAnswer)
{
    std::set<GoKind> kindsSeen;

    for (const auto& c : goCases())
    {
        kindsSeen.insert (c.kind);

        {
            SCOPED_TRACE (std::string ("CueState::go: ") + c.name);
            CueState direct = c.before;
            EXPECT_EQ (direct.go(), c.kind);
            expectCueState (direct, c.afterAccepted);
        }

        for (SinkAnswer sinkAnswer : sinkAnswers)
        {
            SCOPED_TRACE (std::string (c.name) + ", sink answers " + std::to_string (numberOf (sinkAnswer)));

            CueState state = c.before;
            RecordingAudioSink sink;
            sink.defaultAnswer = sinkAnswer;
            TransportController controller (&state, &sink);

            const GoResult result = controller.go();
            const bool sends = c.kind != GoKind::noReady && c.kind != GoKind::twoSounding;

            EXPECT_EQ (result.kind, c.kind);
            EXPECT_EQ (result.outcome, sends ? reportedAnswer (sinkAnswer) : SinkAnswer::nothingSent);

            if (sends)
            {
                // A GO start travels as the audio command kind with the GoKind's number.
                const auto commandKind = codeFromNumber<AudioCommandKind> (numberOf (c.kind));
                const AudioCommand expected { commandKind, c.before.ready, 0.0, c.afterAccepted.goCounter };
                ASSERT_EQ (sink.commands.size(), 1u);
                EXPECT_EQ (sink.commands[0], expected);
            }
            else
            {
                EXPECT_TRUE (sink.commands.empty());
            }

            expectCueState (state, sends && sinkAnswer == SinkAnswer::accepted ? c.afterAccepted : c.before);
        }
    }

    const std::set<GoKind> everyKind { GoKind::fromSilence, GoKind::handOver, GoKind::besideOutgoing,
                                       GoKind::restartMain, GoKind::restartOutgoing, GoKind::fromPause,
                                       GoKind::noReady, GoKind::twoSounding };
    EXPECT_EQ (kindsSeen, everyKind);
}

TEST (TransportControllerGo, FromTheInitialStateStartsReadyAsMainWithToken1)
{
    CueState state;
    state.ready = "a";
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);

    EXPECT_EQ (controller.go(), (GoResult { GoKind::fromSilence, SinkAnswer::accepted }));
    EXPECT_EQ (state.main, Id ("a"));
    EXPECT_EQ (state.ready, none);
    EXPECT_EQ (state.goCounter, 1);
    EXPECT_EQ (state.mainGeneration, 1);
    EXPECT_EQ (state.anchor, Id ("a"));
    ASSERT_EQ (sink.commands.size(), 1u);
    EXPECT_EQ (sink.commands[0], (AudioCommand { AudioCommandKind::goFromSilence, Id ("a"), 0.0, 1 }));
}

TEST (TransportControllerGo, TokensFollowTheTrackAndEveryStartTakesAFreshOne)
{
    CueState state;
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);

    state.ready = "a";
    EXPECT_EQ (controller.go().kind, GoKind::fromSilence);
    state.ready = "b";
    EXPECT_EQ (controller.go().kind, GoKind::handOver);
    EXPECT_EQ (state.outgoing, Id ("a"));
    EXPECT_EQ (state.outgoingGeneration, 1) << "MAIN keeps its token when it moves to OUTGOING";
    EXPECT_EQ (state.main, Id ("b"));
    EXPECT_EQ (state.mainGeneration, 2);

    state.selectReady ("b");
    EXPECT_EQ (controller.go().kind, GoKind::restartMain);
    EXPECT_EQ (state.mainGeneration, 3);
    EXPECT_EQ (state.outgoingGeneration, 1);
    EXPECT_EQ (state.ready, Id ("b")) << "an in-place restart leaves READY";

    state.selectReady ("a");
    EXPECT_EQ (controller.go().kind, GoKind::restartOutgoing);
    EXPECT_EQ (state.outgoingGeneration, 4);
    EXPECT_EQ (state.mainGeneration, 3);
    EXPECT_EQ (state.goCounter, 4) << "the in-place restarts count too";

    const std::vector<std::int64_t> tokens { 1, 2, 3, 4 };
    ASSERT_EQ (sink.commands.size(), tokens.size());
    for (size_t i = 0; i < tokens.size(); ++i)
        EXPECT_EQ (sink.commands[i].playToken, tokens[i]) << "command " << i;
}

TEST (TransportControllerGo, ARefusedGoCanBeRepeatedWithTheSameToken)
{
    CueState state;
    state.ready = "a";
    RecordingAudioSink sink;
    sink.answerNext ({ SinkAnswer::refused });
    TransportController controller (&state, &sink);

    EXPECT_EQ (controller.go(), (GoResult { GoKind::fromSilence, SinkAnswer::refused }));
    EXPECT_EQ (controller.go(), (GoResult { GoKind::fromSilence, SinkAnswer::accepted }));
    ASSERT_EQ (sink.commands.size(), 2u);
    EXPECT_EQ (sink.commands[0], sink.commands[1]);
    EXPECT_EQ (state.goCounter, 1);
}

TEST (TransportControllerEnd, MainEndingAloneSendsNothingAndFreesMain)
{
    CueState state;
    state.main = "a";
    state.mainGeneration = 1;
    state.goCounter = 1;
    state.paused = true;
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);

    EXPECT_EQ (controller.onMainFinished(), SinkAnswer::nothingSent);
    EXPECT_TRUE (sink.commands.empty());
    EXPECT_EQ (state.main, none);
    EXPECT_EQ (state.previousMain, Id ("a"));
    EXPECT_FALSE (state.paused);
}

TEST (TransportControllerEnd, MainEndingStopsOutgoingOnlyWhenAccepted)
{
    for (SinkAnswer sinkAnswer : sinkAnswers)
    {
        SCOPED_TRACE ("sink answers " + std::to_string (numberOf (sinkAnswer)));
        CueState state;
        state.outgoing = "a";
        state.outgoingGeneration = 1;
        state.main = "b";
        state.mainGeneration = 2;
        state.goCounter = 2;
        RecordingAudioSink sink;
        sink.defaultAnswer = sinkAnswer;
        TransportController controller (&state, &sink);

        EXPECT_EQ (controller.onMainFinished(), reportedAnswer (sinkAnswer));
        ASSERT_EQ (sink.commands.size(), 1u);
        EXPECT_EQ (sink.commands[0], (AudioCommand { AudioCommandKind::mainEnded, Id ("a"), 0.0, 0 }));
        EXPECT_EQ (state.main, none) << "MAIN is silent whatever the answer";
        EXPECT_EQ (state.previousMain, Id ("b"));

        if (sinkAnswer == SinkAnswer::accepted)
        {
            EXPECT_EQ (state.outgoing, none);
            EXPECT_EQ (state.previousOutgoing, Id ("a"));
        }
        else
        {
            EXPECT_EQ (state.outgoing, Id ("a"));
            EXPECT_EQ (state.previousOutgoing, none);
        }
    }
}

TEST (TransportControllerEnd, AStaleMainEndWithMainFreeNeverStopsOutgoing)
{
    CueState state;
    state.outgoing = "a";
    state.previousMain = "b";
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);
    const CueState before = state;

    EXPECT_EQ (controller.onMainFinished(), SinkAnswer::nothingSent);
    EXPECT_TRUE (sink.commands.empty());
    expectCueState (state, before);
}

TEST (TransportControllerEnd, OutgoingEndingSendsNothing)
{
    CueState state;
    state.outgoing = "a";
    state.paused = true;
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);

    controller.onOutgoingFinished();
    EXPECT_TRUE (sink.commands.empty());
    EXPECT_EQ (state.outgoing, none);
    EXPECT_EQ (state.previousOutgoing, Id ("a"));
    EXPECT_FALSE (state.paused);
}

TEST (TransportControllerPause, NothingSoundingSendsNothing)
{
    CueState state;
    state.ready = "a";
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);

    EXPECT_EQ (controller.togglePause(), SinkAnswer::nothingSent);
    EXPECT_TRUE (sink.commands.empty());
    EXPECT_FALSE (state.paused);
}

TEST (TransportControllerPause, FlipsOnlyWhenAccepted)
{
    CueState state;
    state.outgoing = "a";
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);

    EXPECT_EQ (controller.togglePause(), SinkAnswer::accepted);
    EXPECT_TRUE (state.paused);

    sink.answerNext ({ SinkAnswer::refused, SinkAnswer::nothingSent });
    EXPECT_EQ (controller.togglePause(), SinkAnswer::refused);
    EXPECT_TRUE (state.paused);
    EXPECT_EQ (controller.togglePause(), SinkAnswer::refused);
    EXPECT_TRUE (state.paused);

    EXPECT_EQ (controller.togglePause(), SinkAnswer::accepted);
    EXPECT_FALSE (state.paused);

    ASSERT_EQ (sink.commands.size(), 4u);
    for (const auto& command : sink.commands)
        EXPECT_EQ (command, (AudioCommand { AudioCommandKind::togglePause, none, 0.0, 0 }));
}

TEST (TransportControllerSeek, SendsARelativeOffsetFromMainsPosition)
{
    CueState state;
    state.main = "b";
    state.outgoing = "a";
    state.mainGeneration = 2;
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);
    const CueState before = state;

    EXPECT_EQ (controller.seekMain (-2.5), SinkAnswer::accepted);
    EXPECT_EQ (controller.seekMain (10.0), SinkAnswer::accepted);
    sink.answerNext ({ SinkAnswer::refused });
    EXPECT_EQ (controller.seekMain (5.0), SinkAnswer::refused);

    ASSERT_EQ (sink.commands.size(), 3u);
    EXPECT_EQ (sink.commands[0], (AudioCommand { AudioCommandKind::seekMain, Id ("b"), -2.5, 0 })) << "backwards is a negative offset";
    EXPECT_EQ (sink.commands[1], (AudioCommand { AudioCommandKind::seekMain, Id ("b"), 10.0, 0 }));
    EXPECT_EQ (sink.commands[2], (AudioCommand { AudioCommandKind::seekMain, Id ("b"), 5.0, 0 }));
    expectCueState (state, before);
}

TEST (TransportControllerSeek, WithoutMainOrWithANonFiniteOffsetSendsNothing)
{
    CueState state;
    state.outgoing = "a";
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);

    EXPECT_EQ (controller.seekMain (1.0), SinkAnswer::nothingSent) << "OUTGOING is never seeked";

    state.main = "b";
    EXPECT_EQ (controller.seekMain (std::numeric_limits<double>::quiet_NaN()), SinkAnswer::nothingSent);
    EXPECT_EQ (controller.seekMain (std::numeric_limits<double>::infinity()), SinkAnswer::nothingSent);
    EXPECT_EQ (controller.seekMain (-std::numeric_limits<double>::infinity()), SinkAnswer::nothingSent);
    EXPECT_TRUE (sink.commands.empty());
}

TEST (TransportControllerStop, StopsClearTheirSlotOnlyWhenAccepted)
{
    for (SinkAnswer sinkAnswer : sinkAnswers)
    {
        SCOPED_TRACE ("sink answers " + std::to_string (numberOf (sinkAnswer)));
        CueState state;
        state.outgoing = "a";
        state.main = "b";
        state.paused = true;
        RecordingAudioSink sink;
        sink.defaultAnswer = sinkAnswer;
        TransportController controller (&state, &sink);
        const CueState before = state;

        EXPECT_EQ (controller.stopMain(), reportedAnswer (sinkAnswer));
        EXPECT_EQ (controller.stopOutgoing(), reportedAnswer (sinkAnswer));

        ASSERT_EQ (sink.commands.size(), 2u);
        EXPECT_EQ (sink.commands[0], (AudioCommand { AudioCommandKind::stopMain, Id ("b"), 0.0, 0 }));
        EXPECT_EQ (sink.commands[1], (AudioCommand { AudioCommandKind::stopOutgoing, Id ("a"), 0.0, 0 }));

        if (sinkAnswer == SinkAnswer::accepted)
        {
            EXPECT_EQ (state.main, none);
            EXPECT_EQ (state.outgoing, none);
            EXPECT_EQ (state.previousMain, Id ("b"));
            EXPECT_EQ (state.previousOutgoing, Id ("a"));
            EXPECT_FALSE (state.paused) << "nothing is left paused";
        }
        else
        {
            expectCueState (state, before);
        }
    }
}

TEST (TransportControllerStop, FreeSlotsSendNothing)
{
    CueState state;
    state.ready = "a";
    state.previousMain = "b";
    RecordingAudioSink sink;
    TransportController controller (&state, &sink);
    const CueState before = state;

    EXPECT_EQ (controller.stopMain(), SinkAnswer::nothingSent);
    EXPECT_EQ (controller.stopOutgoing(), SinkAnswer::nothingSent);
    EXPECT_TRUE (sink.commands.empty());
    expectCueState (state, before);
}
