#include "SessionTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace
{
using namespace vantrel;
using namespace vantrel::test;
using orvane::audio::PadTrigger;
using vantrel::testing::ja;
using vantrel::testing::readBytes;

/** An offline session and a 2 s tone to assign to the pads of bank 1; `afterCopy` runs in
    every copy job. */
struct PadSession
{
    SessionRig rig;
    std::unique_ptr<SessionCoordinator> session;
    juce::File tone;

    explicit PadSession (std::function<void (const juce::File&)> afterCopy = {})
    {
        rig.options.afterPadCopy = std::move (afterCopy);
        session = rig.make();
        tone = writeTone (rig.media(), "tone.wav", 2.0, 0.25f);
    }
    bool assign (int pad, const juce::File& file)  { session->assignPad (1, pad, file); return finishPadJobs (*session); }
    bool assignPlayable()  { return assign (1, tone) && tickUntilPrepared (*session, padMediaKey (1, 1)); }
    const PadSlot& slot (int pad) const  { return session->catalogState().pads[(size_t) pad - 1]; }
    juce::File assets() const  { return rig.music().getChildFile ("pad").getChildFile ("assets"); }
    juce::File asset (int pad) const  { return assets().getChildFile (slot (pad).asset); }
    int assetFiles() const  { return assets().getNumberOfChildFiles (juce::File::findFiles); }
};

TEST (PadAssignment, NamesTheAssetByAFreshIdAndTheLowerCasedExtensionAndSavesIt)
{
    struct Case { const char* source; const char* extension; const char* label; };
    const std::vector<Case> cases { { "Kick.WAV", ".wav", "Kick" }, { "snare.wav", ".wav", "snare" },
                                    { "noext", "", "noext" },
                                    { "odd.W:A\\V", ".w_a_v", "odd" } };   // the store refuses ':' and '\' in asset names
    PadSession pads;
    for (int pad = 1; pad <= (int) cases.size(); ++pad)
    {
        const auto& c = cases[(size_t) pad - 1];
        const auto source = pads.tone.getSiblingFile (c.source);
        ASSERT_TRUE (pads.tone.copyFileTo (source) && pads.assign (pad, source));
        const juce::String asset (pads.slot (pad).asset);
        EXPECT_TRUE (asset.length() == 32 + (int) strlen (c.extension) && asset.endsWith (c.extension)
                     && asset.substring (0, 32).containsOnly ("0123456789abcdef")) << asset;
        EXPECT_EQ (pads.slot (pad).name, c.label);
        EXPECT_EQ (readBytes (pads.asset (pad)), readBytes (source)) << c.source;
        EXPECT_EQ (pads.session->lastStatus(), ja ("PADを割り当てました"));
    }

    const auto assigned = pads.session->catalogState().pads;
    ASSERT_TRUE (pads.session->waitForSaves());
    pads.session.reset();
    const auto reopened = pads.rig.make();
    EXPECT_FALSE (reopened->needsRecovery()) << reopened->alertText();
    EXPECT_EQ (reopened->catalogState().pads, assigned);
}

TEST (PadAssignment, OnlyTheLatestOfTwoQuickAssignmentsIsApplied)
{
    PadSession pads;
    const auto second = writeTone (pads.rig.media(), "second.wav", 1.0, 0.5f);
    pads.session->assignPad (1, 1, pads.tone);
    ASSERT_TRUE (pads.assign (1, second));
    EXPECT_EQ (pads.slot (1).name, "second");
    EXPECT_EQ (readBytes (pads.asset (1)), readBytes (second));
    EXPECT_EQ (pads.assetFiles(), 2);   // the first copy stays, unused
}

TEST (PadAssignment, FailuresAreReportedWithAlertAndLeaveTheSlotEmpty)
{
    const std::vector<std::pair<const char*, std::function<void (const juce::File&)>>> changes {
        { "other bytes of the same size", [] (const juce::File& source) {
              writeTone (source.getParentDirectory(), source.getFileName(), 2.0, 0.5f); } },
        { "the same bytes, a later time", [] (const juce::File& source) {
              source.setLastModificationTime (readFileSignature (source).modified + juce::RelativeTime::seconds (10)); } },
        { "pad folder is a file", {} },
    };
    for (const auto& [what, change] : changes)
    {
        PadSession pads (change);
        ASSERT_TRUE (change || pads.rig.music().getChildFile ("pad").replaceWithText ("a file"));
        ASSERT_TRUE (pads.assign (1, pads.tone));
        EXPECT_EQ (pads.session->lastStatus(), change ? ja ("PADコピーの照合に失敗しました") : ja ("PAD assetsフォルダーを作成できません")) << what;
        EXPECT_EQ (pads.session->alertText(), pads.session->lastStatus()) << what;
        EXPECT_EQ (pads.slot (1), PadSlot {}) << what;
        EXPECT_EQ (pads.assetFiles(), 0) << what;
    }
}

TEST (PadEditing, ASoundingPadRefusesEditsKeepsItsResultAndTakesItOnceStopped)
{
    auto release = std::make_shared<std::atomic<bool>> (true);
    PadSession pads ([release] (const juce::File&) { waitUntil ([&] { return release->load(); }); });
    ASSERT_TRUE (pads.assignPlayable());
    auto& session = *pads.session;
    const auto other = writeTone (pads.rig.media(), "other.wav", 1.0, 0.5f);

    release->store (false);
    session.assignPad (1, 1, other);   // held in the job until the pad sounds
    session.triggerPad (1);
    ASSERT_TRUE (session.isPadActive (1, 1)) << session.lastStatus();
    const auto before = pads.slot (1);
    const auto revision = session.padRevisions()[0];
    const std::vector<std::pair<const char*, std::function<bool()>>> edits {
        { "label", [&] { return session.setPadLabel (1, 1, "renamed"); } },
        { "clear", [&] { return session.clearPad (1, 1).has_value(); } },
        { "move onto", [&] { return session.movePad (1, 2, 1); } },
        { "assign", [&] { session.assignPad (1, 1, other); return session.padRevisions()[0] != revision; } },
    };
    for (const auto& [what, edit] : edits)
    {
        session.setStatus ("marker");
        EXPECT_FALSE (edit()) << what;
        EXPECT_EQ (session.lastStatus(), ja ("再生中の為変更・削除ができません。")) << what;
        EXPECT_EQ (pads.slot (1), before) << what;
    }
    // The gain stays free while the pad sounds: finite values only, of assigned pads, clamped.
    struct Case { int bank, pad; float gain; bool accepted; float stored; };
    for (const auto& c : std::vector<Case> { { 1, 1, std::nanf (""), false, 0.0f }, { 1, 1, HUGE_VALF, false, 0.0f },
                                             { 1, 1, 20.0f, true, 12.0f }, { 1, 1, -100.0f, true, -60.0f },
                                             { 1, 1, -6.5f, true, -6.5f }, { 1, 2, -3.0f, false, 0.0f }, { 6, 1, -3.0f, false, 0.0f } })
    {
        SessionCoordinatorTestAccess::state (session).pads[0].gainDb = 0.0f;
        EXPECT_EQ (session.setPadGain (c.bank, c.pad, c.gain), c.accepted) << c.bank << "/" << c.pad << " " << c.gain;
        EXPECT_EQ (pads.slot (1).gainDb, c.pad == 1 && c.bank == 1 ? c.stored : 0.0f) << c.gain;
    }

    session.setStatus ("marker");
    release->store (true);
    ASSERT_TRUE (finishPadJobs (session));
    EXPECT_EQ (session.lastStatus(), ja ("再生中の為変更・削除ができません。"));
    session.setStatus ("marker");
    session.tick();
    EXPECT_EQ (session.lastStatus(), "marker");   // refused once, not on every tick
    EXPECT_EQ (pads.slot (1).name, "tone");

    session.stopAllPads();
    session.tick();
    EXPECT_EQ (pads.slot (1).name, "other");
    EXPECT_EQ (session.lastStatus(), ja ("PADを割り当てました"));
}

TEST (PadFiring, PressesRetriggersBanksAndStopsReportAsTheEngineAnswers)
{
    PadSession pads;
    ASSERT_TRUE (pads.assignPlayable());
    auto& session = *pads.session;
    const juce::String silent = "marker", refused;   // refused: the adapter's reason, with alert
    struct Step { const char* what; std::function<void()> act; juce::String status; std::vector<PadTrigger> sounding; int bank; };
    const std::vector<Step> steps {
        { "first press", [&] { session.triggerPad (1); }, "PAD 1", { { 1, 1, 0 } }, 1 },
        { "retrigger", [&] { session.triggerPad (1); }, "PAD 1", { { 1, 1, 1 } }, 1 },
        { "empty slot", [&] { session.triggerPad (2); }, silent, { { 1, 1, 1 } }, 1 },
        { "no such bank", [&] { EXPECT_FALSE (session.selectPadBank (6)); }, silent, { { 1, 1, 1 } }, 1 },
        { "bank 2, its empty pad 1", [&] { EXPECT_TRUE (session.selectPadBank (2)); session.triggerPad (1); }, silent, { { 1, 1, 1 } }, 2 },
        { "stop all", [&] { session.stopAllPads(); }, ja ("PADをすべて停止しました"), {}, 2 },
        { "stop with none sounding", [&] { session.stopAllPads(); }, silent, {}, 2 },
        { "asset file gone", [&] { EXPECT_TRUE (session.selectPadBank (1) && pads.asset (1).deleteFile()); session.triggerPad (1); },
          refused, {}, 1 },
    };
    for (const auto& step : steps)
    {
        session.setStatus (silent);
        step.act();
        EXPECT_EQ (session.lastStatus(), step.status.isEmpty() ? session.audioAdapter().lastError() : step.status) << step.what;
        EXPECT_EQ (session.alertText().isNotEmpty(), step.status.isEmpty()) << step.what;
        EXPECT_FALSE (session.lastStatus().isEmpty()) << step.what;
        EXPECT_EQ (session.padTriggerState().triggers, step.sounding) << step.what;
        EXPECT_EQ (session.padTriggerState().bank, step.bank) << step.what;
    }
}

TEST (PadFiring, AStopThatTheEngineRefusesIsReported)
{
    PadSession pads;
    ASSERT_TRUE (pads.assignPlayable());
    auto& session = *pads.session;
    for (int presses = 0; session.alertText().isEmpty() && presses < 1000; ++presses)
        session.triggerPad (1);   // nothing renders: the engine's command ring fills up
    ASSERT_EQ (session.alertText(), session.audioAdapter().lastError());
    session.stopAllPads();
    EXPECT_EQ (session.alertText(), ja ("停止を確定できませんでした"));
    EXPECT_TRUE (session.isPadActive (1, 1));
    session.mutableAudioAdapter().renderOfflineFrames (512);
    session.stopAllPads();
    EXPECT_EQ (session.lastStatus(), ja ("PADをすべて停止しました"));
    EXPECT_FALSE (session.isPadActive (1, 1));
}

TEST (PadEditing, ClearAndMoveChangeTheSlotsAndAreSaved)
{
    PadSession pads;
    ASSERT_TRUE (pads.assign (1, pads.tone));
    auto& session = *pads.session;
    const auto asset = pads.asset (1);
    const auto revisions = session.padRevisions();

    EXPECT_EQ (session.clearPad (1, 2), std::optional<std::string> (""));
    ASSERT_TRUE (session.movePad (1, 1, 3));
    EXPECT_EQ (pads.asset (3), asset);
    EXPECT_EQ (pads.slot (1), PadSlot {});
    EXPECT_FALSE (session.movePad (1, 3, 10));
    EXPECT_EQ (session.clearPad (1, 3), std::optional<std::string> (asset.getFileName().toStdString()));
    for (const auto& [pad, changes] : std::vector<std::pair<int, int>> { { 1, 1 }, { 2, 1 }, { 3, 2 } })
        EXPECT_EQ (session.padRevisions()[(size_t) pad - 1], revisions[(size_t) pad - 1] + (std::uint64_t) changes) << pad;
    EXPECT_TRUE (asset.existsAsFile());

    ASSERT_TRUE (session.waitForSaves());
    pads.session.reset();
    const auto reopened = pads.rig.make();
    EXPECT_EQ (reopened->catalogState().pads, PadSlots {});
    EXPECT_EQ (reopened->mediaLibrary().findFileUses (asset, {}, reopened->catalogState().pads).displayName, "tone");
}
} // namespace
