#pragma once

#include "session/transport/AudioCommand.h"
#include "session/transport/CueState.h"
#include "session/transport/PadAudioCommand.h"
#include "session/transport/PadController.h"
#include "support/CodePrinting.h"

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <vector>

namespace orvane::audio
{
// Readable failure messages for the records the tests compare.
inline void PrintTo (const AudioCommand& command, std::ostream* out)
{
    *out << "{kind " << vantrel::test::numberOf (command.kind) << ", key "
         << (command.sourceKey ? *command.sourceKey : "<none>") << ", seconds " << command.seconds << ", token "
         << command.playToken << "}";
}

inline void PrintTo (const PadAudioCommand& command, std::ostream* out)
{
    *out << "{kind " << vantrel::test::numberOf (command.kind) << ", bank " << command.bank << ", pad " << command.pad
         << "}";
}

inline void PrintTo (const PadTrigger& entry, std::ostream* out)
{
    *out << "{bank " << entry.bank << ", slot " << entry.slot << ", retriggers " << entry.retriggers << "}";
}

inline void PrintTo (const PadTriggerResult& result, std::ostream* out)
{
    *out << "{code " << vantrel::test::numberOf (result.code) << ", answer " << vantrel::test::numberOf (result.answer)
         << "}";
}

inline void PrintTo (const GoResult& result, std::ostream* out)
{
    *out << "{kind " << vantrel::test::numberOf (result.kind) << ", outcome " << vantrel::test::numberOf (result.outcome)
         << "}";
}
} // namespace orvane::audio

namespace vantrel::test
{
/** A command sink that records every submitted command and answers from a
    script: queued answers first, then the default answer (accepted). */
template <typename Command, typename Sink>
class RecordingSink : public Sink
{
public:
    std::vector<Command> commands;
    orvane::audio::SinkAnswer defaultAnswer = orvane::audio::SinkAnswer::accepted;

    /** The next submissions get these answers, in order. */
    void answerNext (std::initializer_list<orvane::audio::SinkAnswer> answers)  { scripted.insert (scripted.end(), answers); }

    orvane::audio::SinkAnswer submit (const Command& command) override
    {
        commands.push_back (command);

        if (scripted.empty())
            return defaultAnswer;

        const auto answer = scripted.front();
        scripted.pop_front();
        return answer;
    }

private:
    std::deque<orvane::audio::SinkAnswer> scripted;
};

using RecordingAudioSink = RecordingSink<orvane::audio::AudioCommand, orvane::audio::IAudioCommandSink>;
using RecordingPadSink = RecordingSink<orvane::audio::PadAudioCommand, orvane::audio::IPadAudioCommandSink>;
} // namespace vantrel::test

namespace vantrel::test
{
/** Compares every field of two cue states, each with its own message. */
inline void expectCueState (const orvane::audio::CueState& actual, const orvane::audio::CueState& expected)
{
    EXPECT_EQ (actual.outgoing, expected.outgoing) << "outgoing";
    EXPECT_EQ (actual.main, expected.main) << "main";
    EXPECT_EQ (actual.ready, expected.ready) << "ready";
    EXPECT_EQ (actual.anchor, expected.anchor) << "anchor";
    EXPECT_EQ (actual.manualReady, expected.manualReady) << "manualReady";
    EXPECT_EQ (actual.previousOutgoing, expected.previousOutgoing) << "previousOutgoing";
    EXPECT_EQ (actual.previousMain, expected.previousMain) << "previousMain";
    EXPECT_EQ (actual.mainGeneration, expected.mainGeneration) << "mainGeneration";
    EXPECT_EQ (actual.outgoingGeneration, expected.outgoingGeneration) << "outgoingGeneration";
    EXPECT_EQ (actual.goCounter, expected.goCounter) << "goCounter";
    EXPECT_EQ (actual.paused, expected.paused) << "paused";
    EXPECT_EQ (actual.repeatMode, expected.repeatMode) << "repeatMode";
    EXPECT_EQ (actual.autoReady, expected.autoReady) << "autoReady";
    EXPECT_TRUE (actual == expected) << "operator== disagrees with the field comparison";
}
} // namespace vantrel::test
