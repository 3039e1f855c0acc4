#include "SessionTestSupport.h"

#include <gtest/gtest.h>

namespace
{
using vantrel::EqSettings;
using vantrel::Playlist;
using vantrel::Preferences;
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using namespace vantrel::test;

using Locks = std::array<bool, Preferences::numLocks>;

/** An offline show with one open, prepared playlist of two rows, under the given lock scope. */
struct Show
{
    SessionRig rig;
    std::unique_ptr<SessionCoordinator> session = rig.make();
    Playlist playlist;

    explicit Show (const Locks& locks)
    {
        auto prefs = session->currentPreferences();
        prefs.locks = locks;
        EXPECT_TRUE (session->applyPreferences (prefs).ok);
        const auto tone = writeTone (rig.media(), "a.wav", 1.0, 0.25f);
        playlist = playlistOf ("Show", { tone, tone });
        EXPECT_TRUE (addAndOpen (*session, playlist));
        EXPECT_TRUE (tickUntilPrepared (*session, playlist.rows[0].id));
    }

    const std::string& row() const  { return playlist.rows[0].id; }
    const vantrel::Row& rowNow() const  { return *vantrel::findRowById (session->undoHistory().current(), row()); }

    void startMain()
    {
        ASSERT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
        session->mutableAudioAdapter().renderOfflineFrames (512);
    }
};

EqSettings boosted()
{
    EqSettings eq;
    eq.enabled = true;
    eq.bands[3].gainDb = 4.5;
    return eq;
}

enum class Said { status, outputMessage };

struct Probe
{
    const char* name;
    int scope;                              // the flag that protects it; -1: never locked
    std::function<void (Show&)> prepare;
    std::function<bool (Show&)> run;        // true: the operation took effect
    const char* refusal = nullptr;          // the text a refusal shows, where it has one
    Said where = Said::status;
};

const char* const editRefusal = "LIVE LOCK中、または再生中のため編集できません";
const char* const outputRefusal = "すべての再生を停止し、LIVE LOCKを解除して、VSTの準備が終わってから適用してください。";
const char* const movedText = "MAINの再生位置を移動しました";

const std::vector<Probe>& probes()
{
    const auto nothing = [] (Show&) {};
    const auto playing = [] (Show& s) { s.startMain(); };
    static const std::vector<Probe> list {
        { "rename playlist", 0, nothing, [] (Show& s) {
              return s.session->renamePlaylist (s.playlist.id, "Renamed") && s.session->undoHistory().current().playlists[0].name == "Renamed";
          }, editRefusal },
        { "track gain", 1, nothing, [] (Show& s) { s.session->commitRowGain (s.row(), -6.0f); return s.rowNow().gainDb == -6.0f; } },
        { "waveform seek", 2, playing, [] (Show& s) {
              s.session->seekMain (0.1, true);
              return s.session->lastStatus() == ja (movedText);
          }, "LIVE LOCK中は波形を直接移動できません" },
        { "master gain", 3, nothing, [] (Show& s) { s.session->setMasterGain (-6.0f); return s.session->masterGain() == -6.0f; } },
        { "master EQ", 4, nothing, [] (Show& s) {
              s.session->commitEq ("@master", boosted());
              return s.session->undoHistory().current().masterEq == boosted();
          } },
        { "limiter setting", 5, nothing, [] (Show& s) { s.session->setLimiterParameter (0, -10.0f); return s.session->limiterValues()[0] == -10.0f; } },
        { "limiter switch", 5, nothing, [] (Show& s) { s.session->setLimiterEnabled (false); return ! s.session->isLimiterOn(); } },
        { "VST choice", 6, nothing, [] (Show& s) { return s.session->chooseVstPlugin (0, ""); } },
        { "output device", 7, nothing, [] (Show& s) {
              s.session->applyOutputDevice (StandInSessionRig::deskSettings());
              return s.session->outputMessage() != ja (outputRefusal);
          }, outputRefusal, Said::outputMessage },
        { "VST search folder", 7, nothing, [] (Show& s) { return s.session->addVstSearchFolder (s.rig.media()); } },
        { "playlist bus gain", -1, nothing, [] (Show& s) {
              s.session->commitPlaylistGain (s.playlist.id, -3.0f);
              return s.session->undoHistory().current().playlists[0].gainDb == -3.0f;
          } },
        { "GO", -1, nothing, [] (Show& s) { return s.session->go().outcome == orvane::audio::SinkAnswer::accepted; } },
        { "PAUSE", -1, playing, [] (Show& s) { s.session->togglePause(); return s.session->cueState().paused; } },
        { "STOP", -1, playing, [] (Show& s) { s.session->stop (true); return ! s.session->cueState().main.has_value(); } },
        { "pad", -1, [] (Show& s) {
              s.session->assignPad (1, 1, s.rig.media().getChildFile ("a.wav"));
              ASSERT_TRUE (tickUntil (*s.session, [&] { return ! s.session->catalogState().pads[0].asset.empty(); }));
              ASSERT_TRUE (tickUntilPrepared (*s.session, vantrel::padMediaKey (1, 1)));
          }, [] (Show& s) { s.session->triggerPad (1); return s.session->isPadActive (1, 1); } },
    };
    return list;
}

TEST (LiveLock, EachScopeFlagRefusesItsOperationsAndLeavesTheOthersFree)
{
    // Flags 0..7 alone under LIVE LOCK, then LIVE LOCK off with every flag set.
    for (int flag = 0; flag <= Preferences::numLocks; ++flag)
    {
        const bool lockOn = flag < Preferences::numLocks;
        Locks locks {};
        for (int i = 0; i < Preferences::numLocks; ++i)
            locks[(size_t) i] = lockOn ? i == flag : true;

        for (const auto& probe : probes())
        {
            SCOPED_TRACE (std::string (probe.name) + (lockOn ? ", only flag " + std::to_string (flag) : ", LIVE LOCK off"));
            Show show (locks);
            probe.prepare (show);
            if (lockOn)
                show.session->toggleLiveLock();
            ASSERT_EQ (show.session->isLiveLockOn(), lockOn);

            const bool refused = lockOn && probe.scope == flag;
            EXPECT_EQ (probe.run (show), ! refused);
            if (refused && probe.refusal != nullptr)
            {
                const auto& said = probe.where == Said::status ? show.session->lastStatus() : show.session->outputMessage();
                EXPECT_EQ (said, ja (probe.refusal));
            }
        }
    }
}

TEST (LiveLock, SwitchingItOnDuringAnEqDragCommitsTheDragAsOneStepFirst)
{
    Show show ({ true, true, true, false, false, true, true, true });
    auto& session = *show.session;
    const auto steps = session.undoHistory().undoStack().size();
    auto eq = boosted();

    session.beginEqEdit();
    session.setLiveEq (show.row(), eq);
    eq.bands[3].gainDb = 6.0;
    session.setLiveEq (show.row(), eq);
    session.toggleLiveLock();

    EXPECT_FALSE (session.isEqEditPending());
    EXPECT_EQ (session.undoHistory().undoStack().size(), steps + 1);
    EXPECT_EQ (show.rowNow().eq, eq);
    // Under the lock the TRACK EQ no longer moves, live or committed.
    session.setLiveEq (show.row(), boosted());
    EXPECT_FALSE (session.commitEq (show.row(), boosted()));
    EXPECT_EQ (show.rowNow().eq, eq);
}
} // namespace
