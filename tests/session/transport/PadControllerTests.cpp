#include "session/transport/PadController.h"

#include "RecordingSinks.h"

using namespace orvane::audio;
using vantrel::test::codeFromNumber;
using vantrel::test::numberOf;
using vantrel::test::RecordingPadSink;

namespace
{
using Code = PadTriggerCode;
using Kind = PadAudioCommandKind;

const SinkAnswer sinkAnswers[] { SinkAnswer::accepted, SinkAnswer::refused, SinkAnswer::nothingSent,
                                 codeFromNumber<SinkAnswer> (-1), codeFromNumber<SinkAnswer> (3) };

struct PadRig
{
    PadTriggerState state;
    RecordingPadSink sink;
    PadController pads { &state, &sink };
};
} // namespace

TEST (PadTriggerState, CodesForEveryKindOfPress)
{
    struct Case
    {
        int bank;
        int slot;
        bool hasAudio;
        Code expected;
    };

    const Case cases[] {
        { 1, 1, true, Code::started },   { 5, 9, true, Code::started },   { 3, 4, false, Code::noAudio },
        { 1, 0, true, Code::invalid },   { 1, 10, true, Code::invalid },  { 1, -1, true, Code::invalid },
        { 0, 1, true, Code::invalid },   { 6, 1, true, Code::invalid },
        { 1, 10, false, Code::invalid }, { 0, 5, false, Code::invalid },   // out of range wins over a missing file
    };

    for (const auto& c : cases)
    {
        PadTriggerState state;
        state.bank = c.bank;   // set directly, so an out-of-range bank can be tried
        const PadTriggerState before = state;
        EXPECT_EQ (state.trigger (c.slot, c.hasAudio), c.expected)
            << "bank " << c.bank << " slot " << c.slot << " audio " << c.hasAudio;

        if (c.expected == Code::started)
            EXPECT_EQ (state.triggers, (std::vector<PadTrigger> { { c.bank, c.slot, 0 } }));
        else
            EXPECT_EQ (state, before);
    }
}

TEST (PadTriggerState, RetriggersCountOnTheExistingEntry)
{
    PadTriggerState state;
    EXPECT_EQ (state.trigger (3, true), Code::started);
    EXPECT_EQ (state.trigger (5, true), Code::started);
    EXPECT_EQ (state.trigger (3, true), Code::retriggered);
    EXPECT_EQ (state.trigger (3, true), Code::retriggered);
    EXPECT_EQ (state.trigger (3, false), Code::noAudio) << "a pad whose file was removed is not retriggered";
    EXPECT_EQ (state.triggers, (std::vector<PadTrigger> { { 1, 3, 2 }, { 1, 5, 0 } }));
}

TEST (PadTriggerState, RemoveVoiceRemovesEveryMatchingEntryAndKeepsTheOrder)
{
    PadTriggerState state;
    state.triggers = { { 1, 3, 0 }, { 2, 3, 1 }, { 1, 3, 4 }, { 1, 4, 0 }, { 1, 3, 0 } };

    state.removeVoice (1, 3);
    EXPECT_EQ (state.triggers, (std::vector<PadTrigger> { { 2, 3, 1 }, { 1, 4, 0 } }));

    state.removeVoice (5, 9);   // no such entry
    EXPECT_EQ (state.triggers.size(), 2u);

    state.clear();
    EXPECT_TRUE (state.triggers.empty());
    EXPECT_EQ (state.bank, 1);
}

TEST (PadTriggerState, SetBankAcceptsOneToFiveOnly)
{
    PadTriggerState state;
    for (int bank : { 0, 6, -1 })
    {
        EXPECT_FALSE (state.setBank (bank)) << bank;
        EXPECT_EQ (state.bank, 1);
    }
    for (int bank : { 5, 1, 3 })
    {
        EXPECT_TRUE (state.setBank (bank)) << bank;
        EXPECT_EQ (state.bank, bank);
    }
}

TEST (PadController, FirstPressStartsAndSecondRestarts)
{
    PadRig rig;
    EXPECT_EQ (rig.pads.triggerPad (3, true), (PadTriggerResult { Code::started, SinkAnswer::accepted }));
    EXPECT_EQ (rig.state.triggers, (std::vector<PadTrigger> { { 1, 3, 0 } }));

    EXPECT_EQ (rig.pads.triggerPad (3, true), (PadTriggerResult { Code::retriggered, SinkAnswer::accepted }));
    EXPECT_EQ (rig.state.triggers, (std::vector<PadTrigger> { { 1, 3, 1 } }));

    EXPECT_EQ (rig.sink.commands, (std::vector<PadAudioCommand> { { Kind::start, 1, 3 }, { Kind::restart, 1, 3 } }));
}

TEST (PadController, InvalidAndUnassignedPressesSendNothing)
{
    PadRig rig;
    rig.state.triggers = { { 1, 2, 0 } };
    const PadTriggerState before = rig.state;

    EXPECT_EQ (rig.pads.triggerPad (10, true), (PadTriggerResult { Code::invalid, SinkAnswer::nothingSent }));
    EXPECT_EQ (rig.pads.triggerPad (0, false), (PadTriggerResult { Code::invalid, SinkAnswer::nothingSent }));
    EXPECT_EQ (rig.pads.triggerPad (4, false), (PadTriggerResult { Code::noAudio, SinkAnswer::nothingSent }));
    EXPECT_EQ (rig.pads.triggerPad (2, false), (PadTriggerResult { Code::noAudio, SinkAnswer::nothingSent }));

    rig.state.bank = 7;   // a bank out of range makes every press invalid
    const PadTriggerState outOfRange = rig.state;
    EXPECT_EQ (rig.pads.triggerPad (1, true), (PadTriggerResult { Code::invalid, SinkAnswer::nothingSent }));
    EXPECT_EQ (rig.state, outOfRange);

    rig.state.bank = 1;
    EXPECT_EQ (rig.state, before);
    EXPECT_TRUE (rig.sink.commands.empty());
}

TEST (PadController, RefusedPressesChangeNothing)
{
    for (SinkAnswer sinkAnswer : sinkAnswers)
    {
        if (sinkAnswer == SinkAnswer::accepted)
            continue;

        SCOPED_TRACE ("sink answers " + std::to_string (numberOf (sinkAnswer)));
        PadRig rig;
        rig.sink.defaultAnswer = sinkAnswer;

        EXPECT_EQ (rig.pads.triggerPad (3, true), (PadTriggerResult { Code::started, SinkAnswer::refused }));
        EXPECT_TRUE (rig.state.triggers.empty()) << "a refused first press leaves no entry";

        rig.state.triggers = { { 1, 3, 4 } };
        EXPECT_EQ (rig.pads.triggerPad (3, true), (PadTriggerResult { Code::retriggered, SinkAnswer::refused }));
        EXPECT_EQ (rig.state.triggers, (std::vector<PadTrigger> { { 1, 3, 4 } })) << "a refused retrigger keeps the count";

        EXPECT_EQ (rig.sink.commands, (std::vector<PadAudioCommand> { { Kind::start, 1, 3 }, { Kind::restart, 1, 3 } }));
    }
}

TEST (PadController, StopAllSendsOnlyWhenSomethingSoundsAndClearsOnAcceptance)
{
    PadRig rig;
    EXPECT_EQ (rig.pads.stopAllPads(), SinkAnswer::nothingSent);
    EXPECT_TRUE (rig.sink.commands.empty());

    rig.pads.triggerPad (2, true);
    rig.pads.selectBank (4);
    rig.pads.triggerPad (9, true);
    const PadTriggerState sounding = rig.state;

    rig.sink.answerNext ({ SinkAnswer::refused });
    EXPECT_EQ (rig.pads.stopAllPads(), SinkAnswer::refused);
    EXPECT_EQ (rig.state, sounding);

    EXPECT_EQ (rig.pads.stopAllPads(), SinkAnswer::accepted);
    EXPECT_TRUE (rig.state.triggers.empty()) << "pads of every bank are stopped";
    EXPECT_EQ (rig.state.bank, 4);

    const std::vector<PadAudioCommand> expected { { Kind::start, 1, 2 }, { Kind::start, 4, 9 },
                                                  { Kind::stopAll, 4, 0 }, { Kind::stopAll, 4, 0 } };
    EXPECT_EQ (rig.sink.commands, expected);
    EXPECT_EQ (rig.pads.stopAllPads(), SinkAnswer::nothingSent);
}

TEST (PadController, BankSwitchKeepsOtherBanksSoundingAndTheirEndsStillArrive)
{
    PadRig rig;
    EXPECT_FALSE (rig.pads.selectBank (6));
    EXPECT_EQ (rig.state.bank, 1);

    EXPECT_TRUE (rig.pads.selectBank (2));
    rig.pads.triggerPad (5, true);
    EXPECT_TRUE (rig.pads.selectBank (3));
    rig.pads.triggerPad (5, true);   // the same pad number in another bank is another pad
    EXPECT_EQ (rig.state.triggers, (std::vector<PadTrigger> { { 2, 5, 0 }, { 3, 5, 0 } }));

    rig.pads.onPadFinished (2, 5);   // its end report names the bank it was started in
    EXPECT_EQ (rig.state.triggers, (std::vector<PadTrigger> { { 3, 5, 0 } }));

    rig.pads.onPadFinished (2, 5);   // a repeated report changes nothing
    rig.pads.onPadFinished (3, 5);
    EXPECT_TRUE (rig.state.triggers.empty());

    EXPECT_EQ (rig.sink.commands, (std::vector<PadAudioCommand> { { Kind::start, 2, 5 }, { Kind::start, 3, 5 } }))
        << "bank switches and end reports send nothing";
}

TEST (PadController, APadStartsAfreshAfterItsEnd)
{
    PadRig rig;
    rig.pads.triggerPad (1, true);
    rig.pads.triggerPad (1, true);
    rig.pads.onPadFinished (1, 1);
    EXPECT_EQ (rig.pads.triggerPad (1, true), (PadTriggerResult { Code::started, SinkAnswer::accepted }));
    EXPECT_EQ (rig.state.triggers, (std::vector<PadTrigger> { { 1, 1, 0 } }));
}
