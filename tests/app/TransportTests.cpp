// The coordinator's transport, mostly against an offline engine that moves only when the test
// renders; what needs an open output (the end of MAIN and AUTO READY) runs on a stand-in device.
#include "SessionTestSupport.h"

#include "audio/media/MediaLoad.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <thread>

namespace
{
using namespace vantrel;
using namespace vantrel::test;
using orvane::audio::GoKind;
using orvane::audio::SinkAnswer;
using vantrel::testing::ja;

/** An offline session with one open playlist of tones (prepared unless told); `configure`
    changes the rig first. */
struct Show
{
    SessionRig rig;
    std::unique_ptr<SessionCoordinator> session;
    Playlist playlist;

    explicit Show (std::vector<double> seconds = { 1.0, 1.0, 1.0 }, bool prepare = true,
                   const std::function<void (SessionRig&)>& configure = {})
    {
        if (configure)
            configure (rig);
        session = rig.make();
        std::vector<juce::File> files;
        for (const auto s : seconds)
            files.push_back (writeTone (rig.media(), juce::String (files.size()) + ".wav", s, 0.25f));
        playlist = playlistOf ("Show", files);
        EXPECT_TRUE (addAndOpen (*session, playlist));
        for (size_t i = 0; prepare && i < files.size(); ++i)
            EXPECT_TRUE (tickUntilPrepared (*session, id (i)));
    }

    const std::string& id (size_t row) const  { return playlist.rows[row].id; }
    SessionCoordinator* operator->() const  { return session.get(); }
};

TEST (Transport, GoReportsItsKindAndCountsNewMainsAndReadyFollowsTheRepeatMode)
{
    struct Case
    {
        const char* what;
        std::function<void (Show&)> before;
        GoKind kind;
        SinkAnswer outcome;
        const char* status;
        std::uint64_t goCounter;
        std::optional<size_t> ready;   // after the GO
    };
    const Case cases[] = {
        { "nothing sounds", [] (Show&) {}, GoKind::fromSilence, SinkAnswer::accepted, "GO", 1, 1 },
        { "MAIN sounds", [] (Show& s) { s->go(); }, GoKind::handOver, SinkAnswer::accepted, "GO", 2, 2 },
        { "the last row under REPEAT OFF played", [] (Show& s) { s->selectReady (s.id (2)); s->go(); },
          GoKind::noReady, SinkAnswer::nothingSent, "READYなし", 1, {} },
        { "two tracks sound", [] (Show& s) { s->go(); s->go(); },
          GoKind::twoSounding, SinkAnswer::nothingSent, "2トラック再生中です。3本目は開始できません", 2, 2 },
        { "paused", [] (Show& s) { s->go(); s->mutableAudioAdapter().renderOfflineFrames (512); s->togglePause(); },
          GoKind::fromPause, SinkAnswer::accepted, "GO", 2, 2 },
        { "READY is MAIN under REPEAT ONE", [] (Show& s) { s->cycleRepeat(); s->go(); },
          GoKind::restartMain, SinkAnswer::accepted, "GO", 1, 0 },
        { "the last row under REPEAT ALL", [] (Show& s) { s->cycleRepeat(); s->cycleRepeat(); s->selectReady (s.id (2)); },
          GoKind::fromSilence, SinkAnswer::accepted, "GO", 1, 0 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        Show show;
        c.before (show);
        const auto result = show->go();
        EXPECT_EQ (result.kind, c.kind);
        EXPECT_EQ (result.outcome, c.outcome);
        EXPECT_EQ (show->lastStatus(), ja (c.status));
        EXPECT_TRUE (show->alertText().isEmpty());
        EXPECT_EQ (show->goCount(), c.goCounter);
        EXPECT_EQ (show->cueState().ready, c.ready ? std::optional<std::string> (show.id (*c.ready)) : std::nullopt);
    }
}

TEST (Transport, ARefusedGoKeepsReadyNamesTheReasonAndTellsWhenReadyIsPrepared)
{
    auto gate = std::make_shared<std::atomic<bool>> (false);   // every load waits for it
    Show show ({ 1.0 }, false, [gate] (SessionRig& rig) {
        rig.options.loadMedia = [gate] (const MediaLoadRequest& request, CancelFlag cancel) {
            while (! gate->load() && ! isCancelled (cancel))
                std::this_thread::yield();
            return vantrel::loadMedia (request, cancel);
        };
    });
    EXPECT_EQ (show->go().outcome, SinkAnswer::refused);
    EXPECT_EQ (show->lastStatus(), ja ("音源を準備中です"));
    EXPECT_EQ (show->alertText(), show->lastStatus());
    EXPECT_EQ (show->cueState().ready, show.id (0));
    EXPECT_FALSE (show->cueState().main.has_value());
    EXPECT_EQ (show->goCount(), 0u);

    gate->store (true);
    ASSERT_TRUE (tickUntil (*show.session, [&] { return show->lastStatus() == ja ("READYの準備ができました"); }));
    EXPECT_EQ (show->go().outcome, SinkAnswer::accepted);
}

TEST (Transport, MovingReadyClampsToTheOpenPlaylistAndAnUnknownRowIsRefusedSilently)
{
    struct Case
    {
        std::optional<size_t> anchor;
        int offset;
        size_t ready;
    };
    for (const auto& c : { Case { {}, 1, 0 }, Case { {}, -1, 2 }, Case { 2, 1, 2 }, Case { 0, -1, 0 },
                           Case { 1, INT_MAX, 2 }, Case { 1, INT_MIN, 0 } })
    {
        SCOPED_TRACE ("anchor " + std::to_string ((int) c.anchor.value_or (99)) + ", offset " + std::to_string (c.offset));
        Show show ({ 1.0, 1.0, 1.0 }, false);
        if (c.anchor)
            SessionCoordinatorTestAccess::cue (*show.session).setAnchor (show.id (*c.anchor));
        ASSERT_TRUE (show->moveReady (c.offset));
        EXPECT_EQ (show->cueState().ready, show.id (c.ready));
        EXPECT_EQ (show->cueState().anchor, show.id (c.ready));
        EXPECT_EQ (show->cueState().manualReady, show.id (c.ready));
        EXPECT_EQ (show->lastStatus(), ja ("READYを選択しました"));

        show->setStatus ("before");
        EXPECT_FALSE (show->selectReady ("no-such-row"));
        EXPECT_EQ (show->cueState().ready, show.id (c.ready));
        EXPECT_EQ (show->lastStatus(), "before");
    }
    SessionRig empty;
    EXPECT_FALSE (empty.make()->moveReady (1));
}

TEST (Transport, AtTheEndOfMainReadyWaitsForGoUnlessAutoReadyIsOffThenItStartsOnTheSameTick)
{
    for (const bool autoReady : { true, false })
    {
        SCOPED_TRACE (autoReady ? "AUTO READY on" : "AUTO READY off");
        StandInSessionRig rig;
        auto session = rig.make (true);
        ASSERT_TRUE (session->isOutputOpen()) << session->statusText();
        const auto playlist = playlistOf ("Show", { writeTone (rig.media(), "a.wav", 0.2, 0.25f),
                                                    writeTone (rig.media(), "b.wav", 30.0, 0.25f) });
        ASSERT_TRUE (addAndOpen (*session, playlist));
        for (const auto& row : playlist.rows)
            ASSERT_TRUE (tickUntilPrepared (*session, row.id));
        if (! autoReady)
            session->toggleAutoReady();
        ASSERT_EQ (session->go().outcome, SinkAnswer::accepted);

        // The first tick that sees MAIN's end: MAIN is empty, or B runs already.
        const auto& a = playlist.rows[0].id;
        const auto& b = playlist.rows[1].id;
        ASSERT_TRUE (tickUntil (*session, [&] { return session->cueState().main != a; }));
        EXPECT_EQ (session->cueState().main, autoReady ? std::nullopt : std::optional<std::string> (b));
        EXPECT_EQ (session->cueState().previousMain, autoReady ? std::optional<std::string> (a) : std::nullopt);
        EXPECT_EQ (session->cueState().ready, autoReady ? std::optional<std::string> (b) : std::nullopt);
        EXPECT_EQ (session->goCount(), autoReady ? 1u : 2u);
    }
}

TEST (Transport, WithoutAnOpenOutputNothingStartsByItselfEvenWithAutoReadyOff)
{
    Show show ({ 0.05, 1.0 });
    show->toggleAutoReady();
    ASSERT_EQ (show->go().outcome, SinkAnswer::accepted);
    ASSERT_TRUE (tickUntil (*show.session, [&] { return show->cueState().main != show.id (0); }, 512));
    EXPECT_EQ (show->cueState().previousMain, show.id (0));
    EXPECT_EQ (show->cueState().activeCount(), 0);
    EXPECT_EQ (show->cueState().ready, show.id (1));
}

TEST (Transport, AnEndReportedUnderAnOlderTokenLeavesTheNewMainAlone)
{
    Show show ({ 0.05, 1.0 });
    ASSERT_EQ (show->go().outcome, SinkAnswer::accepted);
    show->mutableAudioAdapter().renderOfflineFrames (4800);   // A played to its end; nothing has read that yet
    ASSERT_EQ (show->startGo().kind, GoKind::handOver);
    show->tick();   // the engine still reports A's end on MAIN's voice: B has not started there yet
    EXPECT_EQ (show->cueState().main, show.id (1));
    ASSERT_TRUE (tickUntil (*show.session, [&] { return ! show->cueState().outgoing.has_value(); }, 512));
    EXPECT_EQ (show->cueState().main, show.id (1));
}

TEST (Transport, MeasuredDurationsOfTheOpenPlaylistAreSavedWithoutAnUndoStep)
{
    Show show ({ 1.0, 0.5 }, false);
    const auto closed = playlistOf ("Closed", { writeTone (show.rig.media(), "c.wav", 2.0, 0.25f) });
    auto candidate = show->undoHistory().current();
    candidate.playlists.push_back (closed);
    ASSERT_TRUE (show->commitEdit (candidate));
    const auto steps = show->undoHistory().undoStack().size();
    const auto duration = [] (const CatalogDocument& d, const std::string& id) { return findRowById (d, id)->duration; };
    ASSERT_TRUE (tickUntil (*show.session, [&] { return duration (show->undoHistory().current(), show.id (1)) > 0; }));
    EXPECT_EQ (show->undoHistory().undoStack().size(), steps);
    EXPECT_EQ (show->audioAdapter().loadedMedia (closed.rows[0].id), nullptr);   // only the open playlist is decoded
    ASSERT_TRUE (show->waitForSaves());

    CatalogState saved;
    ASSERT_TRUE (CatalogStore (show.rig.music()).load (saved).ok);
    for (const auto& [id, seconds] : { std::pair { show.id (0), 1.0 }, { show.id (1), 0.5 }, { closed.rows[0].id, 0.0 } })
        EXPECT_DOUBLE_EQ (duration (saved.document, id), seconds) << id;
}

// The tick stops looking for durations once every row has one, until the document changes: a row
// added later, or one whose duration an edit cleared, is measured again.
TEST (Transport, DurationsAreMeasuredAgainForRowsThatArriveAfterEveryRowHadOne)
{
    Show show ({ 1.0, 0.5 });
    const auto duration = [&] (const std::string& id) { return findRowById (show->undoHistory().current(), id)->duration; };
    ASSERT_TRUE (tickUntil (*show.session, [&] { return duration (show.id (0)) > 0 && duration (show.id (1)) > 0; }));
    show->tick();

    auto candidate = show->undoHistory().current();
    auto added = playlistOf ("Show", { writeTone (show.rig.media(), "late.wav", 0.75, 0.25f) }).rows.front();
    candidate.playlists.front().rows.push_back (added);
    findRowById (candidate, show.id (0))->duration = 0.0;
    ASSERT_TRUE (show->commitEdit (candidate));
    ASSERT_TRUE (tickUntil (*show.session, [&] { return duration (added.id) > 0 && duration (show.id (0)) > 0; }));
    EXPECT_NEAR (duration (added.id), 0.75, 0.01);
    EXPECT_NEAR (duration (show.id (0)), 1.0, 0.01);
}

TEST (Transport, LanesShowPositionsAcrossAHandOverAndTheAutoCuePointOfReady)
{
    SessionRig rig;
    auto session = rig.make();
    const auto leadIn = writeToneSteps (rig.media(), "lead-in.wav", { { 0.5, 0.0f }, { 1.0, 0.25f } });
    auto playlist = playlistOf ("Show", { leadIn, writeTone (rig.media(), "b.wav", 2.0, 0.25f) });
    playlist.rows[1].title.clear();
    ASSERT_TRUE (addAndOpen (*session, playlist));
    const auto &a = playlist.rows[0], &b = playlist.rows[1];
    ASSERT_TRUE (tickUntilPrepared (*session, a.id) && tickUntilPrepared (*session, b.id));
    const auto cueA = session->audioAdapter().loadedMedia (a.id)->pcm->cueFrame;
    const auto cueB = session->audioAdapter().loadedMedia (b.id)->pcm->cueFrame;
    ASSERT_GT (cueA, 12000);   // the lead-in is skipped

    // Per lane (OUTGOING, MAIN, READY): the row shown and its position in frames.
    using Lanes = std::array<std::pair<std::string, std::int64_t>, 3>;
    const auto check = [&] (const char* when, const Lanes& lanes) {
        for (int lane = 0; lane < 3; ++lane)
        {
            const auto info = session->laneInfo (lane);
            EXPECT_EQ (info.rowId, lanes[(size_t) lane].first) << when << ", lane " << lane;
            EXPECT_NEAR (info.position, lanes[(size_t) lane].second / 48000.0, 1e-9) << when << ", lane " << lane;
        }
    };
    check ("READY on its cue point", { { { "", 0 }, { "", 0 }, { a.id, cueA } } });
    session->toggleAutoCue();
    check ("AUTO CUE off", { { { "", 0 }, { "", 0 }, { a.id, 0 } } });
    session->toggleAutoCue();

    ASSERT_EQ (session->go().outcome, SinkAnswer::accepted);
    check ("started, not yet rendered", { { { "", 0 }, { a.id, cueA }, { b.id, cueB } } });
    session->mutableAudioAdapter().renderOfflineFrames (4800);
    session->tick();
    check ("rendered", { { { "", 0 }, { a.id, cueA + 4800 }, { b.id, cueB } } });
    ASSERT_EQ (session->go().kind, GoKind::handOver);
    check ("handed over, not yet rendered", { { { a.id, cueA + 4800 }, { b.id, cueB }, { "", 0 } } });
    session->mutableAudioAdapter().renderOfflineFrames (480);
    session->tick();
    check ("handed over", { { { a.id, cueA + 5280 }, { b.id, cueB + 480 }, { "", 0 } } });

    const auto main = session->laneInfo (1);
    EXPECT_EQ (main.title, b.source);
    EXPECT_EQ (main.rowNumber, 2);
    EXPECT_DOUBLE_EQ (session->laneInfo (0).length, 1.5);
    EXPECT_NE (session->eqTargetPlayToken ("@playlist:" + playlist.id), 0);
}

TEST (Transport, AReadyThatCannotBeDecodedIsNotDecodedOnEveryTick)
{
    SessionRig rig;
    const auto bad = rig.media().getChildFile ("bad.wav");
    auto loadsOfBad = std::make_shared<std::atomic<int>> (0);
    rig.options.loadMedia = [loadsOfBad, bad] (const MediaLoadRequest& request, CancelFlag cancel) {
        *loadsOfBad += request.path == bad ? 1 : 0;
        return vantrel::loadMedia (request, cancel);
    };
    auto session = rig.make();
    ASSERT_TRUE (vantrel::testing::writeBytes (bad, "RIFF and nothing a decoder takes"));
    const auto playlist = playlistOf ("Show", { bad });
    const auto later = playlistOf ("Later", { writeTone (rig.media(), "later.wav", 0.1, 0.25f) });
    auto candidate = session->undoHistory().current();
    candidate.playlists.push_back (later);   // never opened: nothing loads its row unasked
    ASSERT_TRUE (session->commitEdit (candidate) && addAndOpen (*session, playlist));
    ASSERT_TRUE (tickUntilPrepared (*session, playlist.rows[0].id));

    // A load queued behind whatever the ticks asked for: once it is done, those are done too.
    session->mutableAudioAdapter().requestPrepare (later.rows[0].id, false);
    ASSERT_TRUE (tickUntil (*session, [&] { return session->audioAdapter().loadedMedia (later.rows[0].id) != nullptr; }));
    EXPECT_EQ (loadsOfBad->load(), 1);
    EXPECT_EQ (session->go().outcome, SinkAnswer::refused);
    EXPECT_EQ (session->alertText(), session->audioAdapter().loadedMedia (playlist.rows[0].id)->error);
}
} // namespace
