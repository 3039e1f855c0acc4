#include "session/transport/CueState.h"

#include "RecordingSinks.h"

#include <functional>

using namespace orvane::audio;
using vantrel::test::codeFromNumber;
using vantrel::test::expectCueState;
using vantrel::test::numberOf;

namespace
{
using Id = std::optional<std::string>;
const Id none = std::nullopt;
} // namespace

TEST (CueState, StartsEmptyWithAutoReadyOn)
{
    CueState expected;
    expected.outgoing = expected.main = expected.ready = expected.anchor = none;
    expected.manualReady = expected.previousOutgoing = expected.previousMain = none;
    expected.mainGeneration = expected.outgoingGeneration = expected.goCounter = 0;
    expected.paused = false;
    expected.repeatMode = RepeatMode::off;
    expected.autoReady = true;

    const CueState state;
    expectCueState (state, expected);
    EXPECT_EQ (state.activeCount(), 0);
}

TEST (CueState, EqualityNoticesEveryField)
{
    const std::vector<std::function<void (CueState&)>> changes {
        [] (CueState& s) { s.outgoing = "a"; },         [] (CueState& s) { s.main = "a"; },
        [] (CueState& s) { s.ready = "a"; },            [] (CueState& s) { s.anchor = "a"; },
        [] (CueState& s) { s.manualReady = "a"; },      [] (CueState& s) { s.previousOutgoing = "a"; },
        [] (CueState& s) { s.previousMain = "a"; },     [] (CueState& s) { s.mainGeneration = 1; },
        [] (CueState& s) { s.outgoingGeneration = 1; }, [] (CueState& s) { s.goCounter = 1; },
        [] (CueState& s) { s.paused = true; },          [] (CueState& s) { s.repeatMode = RepeatMode::all; },
        [] (CueState& s) { s.autoReady = false; },
    };

    for (size_t i = 0; i < changes.size(); ++i)
    {
        CueState changed;
        changes[i] (changed);
        EXPECT_FALSE (changed == CueState()) << "field " << i;
        EXPECT_TRUE (changed != CueState()) << "field " << i;
        EXPECT_TRUE (changed == changed) << "field " << i;
    }
}

TEST (CueState, ActiveCountCountsTheSetSlots)
{
    CueState state;
    state.ready = "r";
    state.previousMain = "p";
    EXPECT_EQ (state.activeCount(), 0);
    state.outgoing = "a";
    EXPECT_EQ (state.activeCount(), 1);
    state.main = "b";
    EXPECT_EQ (state.activeCount(), 2);
    state.outgoing.reset();
    EXPECT_EQ (state.activeCount(), 1);
}

TEST (CueState, ClearMainKeepsTheIdAndEndsThePauseOnlyWhenNothingElseSounds)
{
    CueState state;
    state.main = "a";
    state.outgoing = "b";
    state.paused = true;

    state.clearMain();
    EXPECT_EQ (state.main, none);
    EXPECT_EQ (state.previousMain, Id ("a"));
    EXPECT_TRUE (state.paused) << "OUTGOING is still paused";

    state.clearOutgoing();
    EXPECT_EQ (state.outgoing, none);
    EXPECT_EQ (state.previousOutgoing, Id ("b"));
    EXPECT_FALSE (state.paused);
}

TEST (CueState, ClearOutgoingKeepsThePauseWhileMainIsSet)
{
    CueState state;
    state.main = "a";
    state.outgoing = "b";
    state.paused = true;

    state.clearOutgoing();
    EXPECT_TRUE (state.paused);
    state.clearMain();
    EXPECT_FALSE (state.paused);
    EXPECT_EQ (state.previousMain, Id ("a"));
}

TEST (CueState, ClearingAFreeSlotKeepsItsPreviousIdButStillEndsAStrayPause)
{
    CueState state;
    state.previousMain = "old-main";
    state.previousOutgoing = "old-out";
    state.paused = true;

    state.clearMain();
    EXPECT_EQ (state.previousMain, Id ("old-main"));
    EXPECT_FALSE (state.paused);

    state.paused = true;
    state.clearOutgoing();
    EXPECT_EQ (state.previousOutgoing, Id ("old-out"));
    EXPECT_FALSE (state.paused);
}

TEST (CueState, OfferReadyIsRefusedWhileTheOperatorsChoiceStands)
{
    CueState state;
    EXPECT_TRUE (state.offerReady (Id ("a")));
    EXPECT_EQ (state.ready, Id ("a"));
    EXPECT_EQ (state.anchor, none) << "an offer does not move the anchor";

    EXPECT_TRUE (state.offerReady (none));
    EXPECT_EQ (state.ready, none);

    state.selectReady ("c");
    EXPECT_EQ (state.ready, Id ("c"));
    EXPECT_EQ (state.anchor, Id ("c"));
    EXPECT_EQ (state.manualReady, Id ("c"));

    const CueState chosen = state;
    EXPECT_FALSE (state.offerReady (Id ("d")));
    EXPECT_FALSE (state.offerReady (none));
    expectCueState (state, chosen);

    state.setAnchor (Id ("z"));
    EXPECT_EQ (state.anchor, Id ("z"));
    state.setAnchor (none);
    EXPECT_EQ (state.anchor, none);
}

TEST (CueState, GoStartingTheChosenRowClearsTheChoiceSoOffersWorkAgain)
{
    CueState state;
    state.selectReady ("c");
    EXPECT_EQ (state.go(), GoKind::fromSilence);
    EXPECT_EQ (state.manualReady, none);
    EXPECT_TRUE (state.offerReady (Id ("d")));
    EXPECT_EQ (state.ready, Id ("d"));
}

TEST (CueState, GoStartingAnotherRowKeepsTheChoice)
{
    CueState state;
    state.selectReady ("c");
    state.ready = "b";   // READY moved without clearing the choice
    EXPECT_EQ (state.go(), GoKind::fromSilence);
    EXPECT_EQ (state.manualReady, Id ("c"));
    EXPECT_FALSE (state.offerReady (Id ("d")));
}

TEST (ChooseNextReady, FollowsTheRepeatMode)
{
    const std::vector<std::string> rows { "a", "b", "c" };

    struct Case
    {
        Id lastStarted;
        RepeatMode repeatMode;
        Id expected;
    };

    const Case cases[] {
        { Id ("a"), RepeatMode::off, Id ("b") },
        { Id ("b"), RepeatMode::off, Id ("c") },
        { Id ("c"), RepeatMode::off, none },
        { Id ("a"), RepeatMode::all, Id ("b") },
        { Id ("c"), RepeatMode::all, Id ("a") },
        { Id ("a"), RepeatMode::one, Id ("a") },
        { Id ("c"), RepeatMode::one, Id ("c") },
        { Id ("x"), RepeatMode::off, none },
        { Id ("x"), RepeatMode::one, none },
        { Id ("x"), RepeatMode::all, none },
        { none, RepeatMode::all, none },
        { none, RepeatMode::one, none },
        { Id ("c"), codeFromNumber<RepeatMode> (7), none },   // an unknown mode acts as OFF
        { Id ("a"), codeFromNumber<RepeatMode> (-1), Id ("b") },
    };

    for (const auto& c : cases)
        EXPECT_EQ (chooseNextReady (rows, c.lastStarted, c.repeatMode), c.expected)
            << "last " << c.lastStarted.value_or ("<none>") << " mode " << numberOf (c.repeatMode);
}

TEST (ChooseNextReady, EmptyAndSingleRowPlaylists)
{
    for (RepeatMode mode : { RepeatMode::off, RepeatMode::one, RepeatMode::all })
        EXPECT_EQ (chooseNextReady ({}, Id ("a"), mode), none) << "mode " << numberOf (mode);

    EXPECT_EQ (chooseNextReady ({ "a" }, Id ("a"), RepeatMode::off), none);
    EXPECT_EQ (chooseNextReady ({ "a" }, Id ("a"), RepeatMode::one), Id ("a"));
    EXPECT_EQ (chooseNextReady ({ "a" }, Id ("a"), RepeatMode::all), Id ("a"));
}

TEST (ChooseNextReady, ARepeatedIdCountsFromItsFirstOccurrence)
{
    EXPECT_EQ (chooseNextReady ({ "a", "b", "a", "c" }, Id ("a"), RepeatMode::off), Id ("b"));
}
