#include "SessionTestSupport.h"

#include "audio/output/AdapterRackSupport.h"
#include "audio/output/DeviceCatalogue.h"
#include "support/JackDummyServer.h"
#include "support/PrivateDisplay.h"

#include <gtest/gtest.h>

namespace
{
using vantrel::OutputDeviceSettings;
using vantrel::Preferences;
using vantrel::SessionCoordinator;
using vantrel::testing::ja;
using vantrel::testing::readBytes;
using namespace vantrel::test;

const OutputDeviceSettings jackSystem { "JACK", "system", "JACK:system", 0.0, 0, 0 };
const OutputDeviceSettings stage { "Stand-in", "Stage", "Stand-in:Stage", 0.0, 0, 0 };
const char* const outputRefusal = "すべての再生を停止し、LIVE LOCKを解除して、VSTの準備が終わってから適用してください。";
const char* const noOutputLeft = "\n元の出力先に戻せませんでした。現在、出力先はありません。";

// ---- a change away from a JACK output --------------------------------------------------------------

struct JackChangeCase
{
    const char* name;
    const char* stageError;      // the stand-in's open error; null: it opens
    bool deviceFileIsFolder;     // "device.json" cannot be written
    const char* messageStart;    // null: applied
};

TEST (OutputOnJack, AChangeIsAppliedOrTheJackOutputComesBackWithDeviceJsonUntouched)
{
    if (! JackDummyServer::installed())
        GTEST_SKIP() << "jackd is not installed (/usr/bin/jackd)";
    JackDummyServer server;
    ASSERT_TRUE (server.start()) << server.lastError();

    const JackChangeCase cases[] {
        { "stand-in opens", nullptr, false, nullptr },
        { "stand-in fails to open", " no such card ", false, "適用できません: no such card\n選択内容を確認して再度適用してください。" },
        { "device.json is a folder", nullptr, true, "出力設定を保存できません: " },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        StandInSessionRig rig;
        StandInSpec spec;
        if (c.stageError != nullptr)
            spec.errorText = c.stageError;
        rig.outputs.add ("Stage", spec);
        rig.options.createDeviceType = [&rig] (const juce::String& kind) {
            return kind == "JACK" ? vantrel::createOutputType (kind) : rig.outputs.create (kind);
        };
        ASSERT_TRUE (vantrel::writeOutputDeviceSettings (rig.deviceFile(), jackSystem).ok);
        auto session = rig.make (true);
        ManualClock deviceClock;   // a server starved for a moment is not taken for a stalled device
        session->mutableAudioAdapter().millisecondCounter = deviceClock.function();
        ASSERT_TRUE (session->isOutputOpen()) << session->statusText();
        const auto previous = session->audioAdapter().storedOutputSettings();
        if (c.deviceFileIsFolder)
        {
            ASSERT_TRUE (rig.deviceFile().deleteFile() && rig.deviceFile().getChildFile ("keep").create().wasOk());
        }
        const auto bytesBefore = readBytes (rig.deviceFile());

        const bool applied = session->applyOutputDevice (stage);

        EXPECT_EQ (applied, c.messageStart == nullptr) << session->outputMessage();
        if (applied)
        {
            EXPECT_EQ (session->lastStatus(), ja ("出力先を変更しました"));
            EXPECT_TRUE (session->alertText().isEmpty()) << session->alertText();
            EXPECT_EQ (session->audioAdapter().storedOutputSettings().id, stage.id);
            OutputDeviceSettings saved;
            ASSERT_TRUE (vantrel::readOutputDeviceSettings (rig.deviceFile(), saved).ok);
            EXPECT_EQ (saved.id, stage.id);
            continue;
        }
        const auto& message = session->outputMessage();
        EXPECT_TRUE (message.startsWith (ja (c.messageStart))) << message;
        EXPECT_FALSE (message.endsWith (ja (noOutputLeft))) << message;
        EXPECT_EQ (session->alertText(), message);
        EXPECT_EQ (session->audioAdapter().storedOutputSettings(), previous);
        EXPECT_TRUE (session->isOutputOpen()) << describeDevice (session->mutableAudioAdapter());
        EXPECT_EQ (readBytes (rig.deviceFile()), bytesBefore);
        EXPECT_EQ (rig.deviceFile().isDirectory(), c.deviceFileIsFolder);
    }
}

// ---- refusals while something sounds ---------------------------------------------------------------

struct SoundingCase
{
    const char* name;
    std::function<void (SessionCoordinator&, const SessionRig&)> start;
};

TEST (OutputDevice, NoChangeWhileATrackIsPlayingOrPausedOrAPadSounds)
{
    const auto go = [] (SessionCoordinator& s) {
        ASSERT_EQ (s.go().outcome, orvane::audio::SinkAnswer::accepted);
        s.mutableAudioAdapter().renderOfflineFrames (512);
    };
    const SoundingCase cases[] {
        { "MAIN playing", [go] (SessionCoordinator& s, const SessionRig&) { go (s); } },
        { "MAIN paused", [go] (SessionCoordinator& s, const SessionRig&) { go (s); s.togglePause(); ASSERT_TRUE (s.cueState().paused); } },
        { "pad sounding", [] (SessionCoordinator& s, const SessionRig& rig) {
              s.assignPad (1, 1, rig.media().getChildFile ("a.wav"));
              ASSERT_TRUE (tickUntil (s, [&] { return ! s.catalogState().pads[0].asset.empty(); }));
              ASSERT_TRUE (tickUntilPrepared (s, vantrel::padMediaKey (1, 1)));
              s.triggerPad (1);
              ASSERT_TRUE (s.isPadActive (1, 1));
          } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SessionRig rig;
        auto session = rig.make();
        const auto playlist = playlistOf ("Show", { writeTone (rig.media(), "a.wav", 1.0, 0.25f) });
        ASSERT_TRUE (addAndOpen (*session, playlist));
        ASSERT_TRUE (tickUntilPrepared (*session, playlist.rows[0].id));
        ASSERT_NO_FATAL_FAILURE (c.start (*session, rig));
        session->setStatus ("before");

        EXPECT_FALSE (session->canChangeOutput());
        EXPECT_FALSE (session->applyOutputDevice (StandInSessionRig::deskSettings()));
        EXPECT_EQ (session->outputMessage(), ja (outputRefusal));
        EXPECT_EQ (session->lastStatus(), "before");
    }
}

// ---- the master rack through the coordinator -------------------------------------------------------

Preferences withOnlyLock (Preferences prefs, vantrel::LockScope scope)
{
    prefs.locks.fill (false);
    prefs.locks[(size_t) scope] = true;
    return prefs;
}

/** The real worker started on `display`, where its editor windows then open. */
juce::File workerOnDisplay (const juce::File& folder, const std::string& display)
{
    const auto script = folder.getChildFile ("worker-on-display.sh");
    script.replaceWithText ("#!/bin/sh\nDISPLAY=" + juce::String (display) + " exec '" + realWorker().getFullPathName()
                            + "' \"$@\"\n", false, false, "\n");
    script.setExecutePermission (true);
    return script;
}

TEST (VstRackOperations, ScopesAndABusyRackRefuseSilentlyAndAnEditorOpensWhileATrackPlays)
{
    RackProfile profile;
    ASSERT_TRUE (profile.ready());
    PrivateDisplay display;
    const bool shown = display.start (161, 260, 1024, 768, false);
    StandInSessionRig rig;
    rig.options.workerExecutable = shown ? workerOnDisplay (rig.local(), display.server.displayName()) : realWorker();
    auto session = rig.make (true);
    ASSERT_TRUE (session->isOutputOpen()) << session->statusText();
    auto& rack = session->audioAdapter().rack();
    const auto settle = [&] (auto condition) { return tickUntil (*session, [&] { return ! rack.isBusy() && condition (rack.status()); }); };

    ASSERT_TRUE (session->addVstSearchFolder (profile.pluginFolder()));
    ASSERT_TRUE (settle ([] (const vantrel::VstRackStatus& s) { return gainPluginIn (s).uid.isNotEmpty() && ! s.scanning; }))
        << rack.status().message;
    const auto uid = gainPluginIn (rack.status()).uid;
    const auto folder = rack.status().searchFolders[0];
    const auto loaded = [] (int slot) { return [slot] (const vantrel::VstRackStatus& s) { return s.slots[(size_t) slot].loaded; }; };

    // LIVE LOCK with only `scope` set; the status line as the refusals must leave it.
    const auto lockOnly = [&] (vantrel::LockScope scope) {
        ASSERT_TRUE (session->applyPreferences (withOnlyLock (session->currentPreferences(), scope)).ok);
        session->toggleLiveLock();
        ASSERT_TRUE (session->isLiveLockOn());
        session->setStatus ("before");
    };

    // Only the output scope: folders wait, the plug-in choice and the slot switches do not.
    ASSERT_NO_FATAL_FAILURE (lockOnly (vantrel::LockScope::audioOutput));
    EXPECT_FALSE (session->canChangeOutput());
    EXPECT_FALSE (session->addVstSearchFolder (rig.local()));
    EXPECT_FALSE (session->removeVstSearchFolder (folder));
    EXPECT_TRUE (session->chooseVstPlugin (0, uid));
    ASSERT_TRUE (settle (loaded (0))) << rack.status().message;
    EXPECT_TRUE (session->setVstSlotEnabled (0, true));
    ASSERT_TRUE (settle ([] (const vantrel::VstRackStatus& s) { return s.slots[0].enabled; })) << rack.status().message;
    EXPECT_EQ (rack.status().searchFolders, juce::StringArray (folder));
    EXPECT_EQ (session->lastStatus(), "before");
    session->toggleLiveLock();

    // Only the VST scope: choice, slot switches and editors wait, the output does not.
    ASSERT_NO_FATAL_FAILURE (lockOnly (vantrel::LockScope::vst));
    EXPECT_TRUE (session->canChangeOutput());
    EXPECT_FALSE (session->chooseVstPlugin (1, uid));
    EXPECT_FALSE (session->setVstSlotEnabled (0, false));
    EXPECT_FALSE (session->openVstEditor (0));
    EXPECT_FALSE (rack.isBusy());
    EXPECT_TRUE (rack.status().slots[0].enabled);
    EXPECT_FALSE (rack.status().slots[1].loaded);
    EXPECT_EQ (session->lastStatus(), "before");
    session->toggleLiveLock();

    // A slot request under way: neither the output nor another choice may change.
    ASSERT_TRUE (session->chooseVstPlugin (1, uid));
    ASSERT_TRUE (rack.isBusy());
    EXPECT_FALSE (session->canChangeOutput());
    EXPECT_FALSE (session->chooseVstPlugin (0, ""));
    EXPECT_FALSE (session->applyOutputDevice (StandInSessionRig::deskSettings()));
    EXPECT_EQ (session->outputMessage(), ja (outputRefusal));
    ASSERT_TRUE (settle (loaded (1))) << rack.status().message;
    EXPECT_TRUE (rack.status().slots[0].loaded);
    EXPECT_TRUE (session->canChangeOutput());

    // An editor opens while a track plays: only the VST scope holds it.
    if (! shown)
        GTEST_SKIP() << "no private display for the editor: " << display.problem;
    const auto playlist = playlistOf ("Show", { writeTone (rig.media(), "a.wav", 10.0, 0.25f) });
    ASSERT_TRUE (addAndOpen (*session, playlist));
    ASSERT_TRUE (tickUntilPrepared (*session, playlist.rows[0].id));
    ASSERT_EQ (session->go().outcome, orvane::audio::SinkAnswer::accepted);
    EXPECT_FALSE (session->canChangeOutput());
    EXPECT_TRUE (session->openVstEditor (0));
    EXPECT_TRUE (tickUntil (*session, [&] {
        for (const auto& window : display.look->topLevelWindows())
            if (window.title == "Vantrel! - VST 1" && window.viewable)
                return true;
        return false;
    })) << rack.status().message;
}
} // namespace
