#include "SessionTestSupport.h"

#include "session/PreferencesFile.h"
#include "support/SignalMeasures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
using vantrel::CatalogDocument;
using vantrel::EqSettings;
using vantrel::OutputDeviceSettings;
using vantrel::Preferences;
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using vantrel::testing::readBytes;
using namespace vantrel::test;

/** One control that can be dragged: how it moves live and how its value reads back. */
struct Control
{
    const char* name;
    std::function<void (SessionCoordinator&, const std::string& playlist, const std::string& row, double value)> live;
    std::function<double (const CatalogDocument&)> read;
};

EqSettings eqWith (double gainDb)
{
    EqSettings eq;
    eq.enabled = true;
    eq.bands[2].gainDb = gainDb;
    return eq;
}

TEST (MixEdits, ADragIsOneUndoStepAndADragBackToWhereItBeganIsNone)
{
    const std::vector<Control> controls {
        { "row gain", [] (auto& s, auto&, auto& row, double v) { s.setLiveRowGain (row, (float) v); },
          [] (auto& d) { return (double) d.playlists[0].rows[0].gainDb; } },
        { "playlist gain", [] (auto& s, auto& playlist, auto&, double v) { s.setLivePlaylistGain (playlist, (float) v); },
          [] (auto& d) { return (double) d.playlists[0].gainDb; } },
        { "TRACK EQ", [] (auto& s, auto&, auto& row, double v) { s.setLiveEq (row, eqWith (v)); },
          [] (auto& d) { return d.playlists[0].rows[0].eq.bands[2].gainDb; } },
        { "PLAYLIST EQ", [] (auto& s, auto& playlist, auto&, double v) { s.setLiveEq ("@playlist:" + playlist, eqWith (v)); },
          [] (auto& d) { return d.playlists[0].eq.bands[2].gainDb; } },
        { "MASTER EQ", [] (auto& s, auto&, auto&, double v) { s.setLiveEq ("@master", eqWith (v)); },
          [] (auto& d) { return d.masterEq.bands[2].gainDb; } },
    };
    for (const auto& control : controls)
    {
        SCOPED_TRACE (control.name);
        SessionRig rig;
        auto session = rig.make();
        const auto playlist = playlistOf ("Show", { writeTone (rig.media(), "a.wav", 0.1, 0.25f) });
        ASSERT_TRUE (addAndOpen (*session, playlist));
        const auto& row = playlist.rows[0].id;
        const auto steps = session->undoHistory().undoStack().size();

        session->beginEqEdit();
        control.live (*session, playlist.id, row, -4.0);
        control.live (*session, playlist.id, row, 5.0);
        EXPECT_EQ (control.read (session->undoHistory().current()), 5.0);   // the view sees the live value
        ASSERT_TRUE (session->commitEqEdit());
        EXPECT_EQ (session->undoHistory().undoStack().size(), steps + 1);
        EXPECT_EQ (control.read (session->undoHistory().current()), 5.0);

        session->beginEqEdit();
        control.live (*session, playlist.id, row, 2.0);
        control.live (*session, playlist.id, row, 5.0);
        EXPECT_TRUE (session->commitEqEdit());
        EXPECT_EQ (session->undoHistory().undoStack().size(), steps + 1);

        ASSERT_TRUE (session->undoRedo (false));
        EXPECT_EQ (control.read (session->undoHistory().current()), 0.0);
    }
}

/** The peak of the second half of the next `frames` offline frames (the gains have settled), left channel. */
double peakOfNext (SessionCoordinator& session, int frames)
{
    std::vector<float> left ((size_t) frames), right ((size_t) frames);
    session.mutableAudioAdapter().renderOfflineFrames (frames, left.data(), right.data());
    return orvane::audio::testing::peakOver (left, (size_t) frames / 2);
}

TEST (MixEdits, ARefusedDragCommitPutsTheEngineBackToThePreDragValues)
{
    SessionRig rig;
    auto session = rig.make();
    const auto playlist = playlistOf ("Show", { writeTone (rig.media(), "a.wav", 2.0, 0.25f) });
    ASSERT_TRUE (addAndOpen (*session, playlist));
    const auto& row = playlist.rows[0].id;
    ASSERT_TRUE (tickUntilPrepared (*session, row));
    ASSERT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
    const auto steps = session->undoHistory().undoStack().size();
    EXPECT_NEAR (peakOfNext (*session, 24000), 0.25, 0.01);

    session->beginEqEdit();
    session->setLiveRowGain (row, -40.0f);
    EXPECT_NEAR (peakOfNext (*session, 24000), 0.0025, 0.001);

    SessionCoordinatorTestAccess::setRecoveryRequired (*session, true);   // the history refuses every change from here on
    EXPECT_FALSE (session->commitEqEdit());
    SessionCoordinatorTestAccess::setRecoveryRequired (*session, false);
    EXPECT_FALSE (session->isEqEditPending());
    EXPECT_EQ (session->undoHistory().undoStack().size(), steps);
    EXPECT_EQ (session->undoHistory().current().playlists[0].rows[0].gainDb, 0.0f);
    EXPECT_NEAR (peakOfNext (*session, 24000), 0.25, 0.01);
}

TEST (MixEdits, LimiterSettingsKeepWhatTheStageKept)
{
    SessionRig rig;
    auto session = rig.make();
    auto& s = *session;
    const struct { int which; float value; float threshold, ceiling, release, drive; } cases[] {
        { 0, -40.0f, -30.0f, -0.5f, 120.0f, 0.0f },
        { 1, 3.0f, -30.0f, 0.0f, 120.0f, 0.0f },
        { 2, 5.0f, -30.0f, 0.0f, 10.0f, 0.0f },
        { 3, 30.0f, -30.0f, 0.0f, 10.0f, 24.0f },
        { 4, 1.0f, -30.0f, 0.0f, 10.0f, 24.0f },
        { -1, 1.0f, -30.0f, 0.0f, 10.0f, 24.0f },
        { 0, std::nanf (""), -30.0f, 0.0f, 10.0f, 24.0f },
    };
    for (const auto& c : cases)
    {
        s.setLimiterParameter (c.which, c.value);
        const auto mirrors = s.limiterValues();
        const float stage[] { s.audioAdapter().limiterThresholdDb(), s.audioAdapter().limiterCeilingDb(), s.audioAdapter().limiterReleaseMs(), s.audioAdapter().limiterDriveDb() };
        const float expected[] { c.threshold, c.ceiling, c.release, c.drive };
        for (int i = 0; i < 4; ++i)
        {
            EXPECT_EQ (mirrors[i], expected[i]) << c.which << " " << c.value << " setting " << i;
            EXPECT_EQ (stage[i], expected[i]) << c.which << " " << c.value << " setting " << i;
        }
    }
}

// ---- output device -----------------------------------------------------------------------------------

enum class Fault { deviceFails, fileUnwritable };

struct RollbackCase
{
    const char* name;
    const char* startFile;   // device.json at start, unreadable; null: the desk's, which opens
    Fault fault;
};

TEST (OutputDevice, AFailedChangePutsThePreviousChoiceBackAndNeverReopensTheRejectedDevice)
{
    const RollbackCase cases[] {
        { "device fails", nullptr, Fault::deviceFails },
        { "file unwritable", nullptr, Fault::fileUnwritable },
        { "device fails, no previous id", "{ damaged", Fault::deviceFails },
        { "file unwritable, no previous id", "{ damaged", Fault::fileUnwritable },
        // Read with its id but refused (no name): the desk it names could open, yet start-up kept
        // the output off, and a failed change must not open it either.
        { "device fails, previous choice unreadable", R"({ "version": 2, "type": "Stand-in", "name": "", "id": "Stand-in:Desk",
                                                          "sampleRate": 0, "bufferSize": 0, "outputPair": 0 })", Fault::deviceFails },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        StandInSessionRig rig;
        StandInSpec stage;
        if (c.fault == Fault::deviceFails)
            stage.errorText = "  driver refused  ";
        rig.outputs.add ("Stage", stage);
        const bool damagedStart = c.startFile != nullptr;
        if (damagedStart)
        {
            ASSERT_TRUE (rig.deviceFile().replaceWithText (c.startFile));
        }
        auto session = rig.make (true);
        ASSERT_EQ (session->isOutputOpen(), ! damagedStart) << session->statusText();
        const auto previous = session->audioAdapter().storedOutputSettings();
        if (c.fault == Fault::fileUnwritable)
        {
            ASSERT_TRUE (rig.deviceFile().deleteFile() && rig.deviceFile().getChildFile ("keep").create().wasOk());
        }
        const auto fileBefore = readBytes (rig.deviceFile());
        const auto reopenClock = std::make_shared<std::atomic<std::uint32_t>> (5000);
        session->mutableAudioAdapter().millisecondCounter = [reopenClock] { return reopenClock->load(); };

        EXPECT_FALSE (session->applyOutputDevice ({ "Stand-in", "Stage", "Stand-in:Stage", 0.0, 0, 0 }));
        const auto& message = session->outputMessage();
        if (c.fault == Fault::deviceFails)
            EXPECT_TRUE (message.startsWith (ja ("適用できません: driver refused\n選択内容を確認して再度適用してください。"))) << message;
        else
            EXPECT_TRUE (message.startsWith (ja ("出力設定を保存できません: "))) << message;
        EXPECT_EQ (message.endsWith (ja ("\n元の出力先に戻せませんでした。現在、出力先はありません。")), damagedStart) << message;
        EXPECT_EQ (session->alertText(), message);
        EXPECT_EQ (session->audioAdapter().storedOutputSettings(), previous);
        EXPECT_EQ (session->audioAdapter().reopensAutomatically(), ! damagedStart);
        EXPECT_EQ (readBytes (rig.deviceFile()), fileBefore);
        EXPECT_EQ (session->isOutputOpen(), ! damagedStart);

        // The rejected device becomes usable; the adapter's reopen timer runs out: nothing opens it.
        rig.outputs.spec ("Stage").errorText = {};
        reopenClock->fetch_add (5000);
        session->tick();
        EXPECT_EQ (session->audioAdapter().hasDevice(), ! damagedStart);
        if (session->audioAdapter().hasDevice())
        {
            EXPECT_EQ (session->audioAdapter().storedOutputSettings().id, "Stand-in:Desk");
        }
    }
}

TEST (OutputDevice, OfflineNoDeviceIsOpened)
{
    SessionRig rig;
    auto session = rig.make (false);
    EXPECT_TRUE (session->canChangeOutput());
    EXPECT_FALSE (session->applyOutputDevice (StandInSessionRig::deskSettings()));
    EXPECT_TRUE (session->outputMessage().isNotEmpty());
    EXPECT_FALSE (session->audioAdapter().hasDevice());
}

// ---- preferences -------------------------------------------------------------------------------------

struct PreferencesCase
{
    const char* name;
    bool damagedFile, liveLock, changeScope, osFails;
    const char* messageStart;   // null: applied and saved
};

TEST (PreferenceChanges, ChangesAreSavedUnlessTheFileIsDamagedOrTheLockHoldsTheScope)
{
    const PreferencesCase cases[] {
        { "damaged file", true, false, false, false, "設定ファイルが破損しています。元のファイルを保持しています。" },
        { "scope under LIVE LOCK", false, true, true, false, "LIVE LOCKを解除してから固定範囲を変更してください" },
        { "colour under LIVE LOCK", false, true, false, false, nullptr },
        { "scope without LIVE LOCK", false, false, true, false, nullptr },
        { "system refuses", false, false, false, true, "設定は保存済みですが、OSへ適用できません: " },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SessionRig rig;
        const auto file = rig.local().getChildFile ("preferences.json");
        ASSERT_TRUE (c.damagedFile ? file.replaceWithText ("{ \"version\": 1, broken") : vantrel::savePreferences (file, Preferences()).ok);
        const auto bytesBefore = readBytes (file);
        auto session = rig.make();
        if (c.osFails)
            session->setOsApply ([] (const Preferences&) { return vantrel::StoreResult::failure ("no power request"); });
        if (c.liveLock)
            session->toggleLiveLock();

        const auto before = session->currentPreferences();
        auto wanted = before;
        wanted.colours[1] = 0xff102030u;
        if (c.changeScope)
            wanted.locks[3] = ! wanted.locks[3];
        const auto result = session->applyPreferences (wanted);

        const bool applied = c.messageStart == nullptr || c.osFails;
        EXPECT_EQ (result.ok, c.messageStart == nullptr);
        if (c.messageStart != nullptr)
        {
            EXPECT_TRUE (result.message.startsWith (ja (c.messageStart))) << result.message;
        }
        EXPECT_EQ (session->currentPreferences(), applied ? wanted : before);
        if (! applied)
        {
            EXPECT_EQ (readBytes (file), bytesBefore);
            continue;
        }
        Preferences saved;
        ASSERT_TRUE (vantrel::readPreferences (file, saved).ok);
        EXPECT_EQ (saved, wanted);
    }
}
} // namespace
