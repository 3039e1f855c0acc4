// The output dialog over real outputs: a private JACK dummy server and null PCMs declared to ALSA
// (any channel count, eight; one taking only mu-law, which the framework cannot open).
#include "ViewTestSupport.h"

#include "audio/output/OutputDeviceSettingsFile.h"
#include "platform/AlsaPcmList.h"
#include "support/JackDummyServer.h"
#include "session/UiLanguage.h"
#include "ui/AudioSettingsPanel.h"

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

std::string multiPcm (const std::string& id, int channels)
{
    auto text = "pcm." + id + " { type multi; slaves.a { pcm \"null\"; channels " + std::to_string (channels) + " }";
    for (int c = 0; c < channels; ++c)
        text += " bindings." + std::to_string (c) + " { slave a; channel " + std::to_string (c) + " }";
    return text + " hint { show on } }\n";
}

/** While it lives, HOME and XDG_CONFIG_HOME name a folder holding the test's PCMs as ".asoundrc". */
struct DeclaredPcms
{
    DeclaredPcms()
    {
        ready = testing::writeBytes (folder / ".asoundrc", "pcm.!default { type null; hint { show off } }\n"
                                     "pcm.vantrel_stage { type null; hint { show on } }\n" + multiPcm ("vantrel_eight", 8)
                                     + "pcm.vantrel_mulaw { type mulaw; slave { pcm \"null\"; format S16_LE } hint { show on } }\n");
        for (const char* name : { "HOME", "XDG_CONFIG_HOME" })
        {
            if (const char* was = std::getenv (name))
                saved.emplace_back (name, was);
            ready = ready && platform::setEnvironmentVariable (name, folder.path().getFullPathName().toStdString());
        }
        platform::reloadAlsaConfiguration();
    }
    ~DeclaredPcms()
    {
        for (const auto& [name, value] : saved)
            platform::setEnvironmentVariable (name, value);
        platform::reloadAlsaConfiguration();
    }
    testing::TempFolder folder { "alsa-pcms" };
    std::vector<std::pair<std::string, std::string>> saved;
    bool ready = false;
};

/** The view over a coordinator with audio on, started from a saved output choice, and its dialog. */
struct OutputRig : ViewRig
{
    JackDummyServer jack;
    DeclaredPcms pcms;
    ManualClock deviceClock;   // frozen: a starved device thread is not taken for a lost device
    std::shared_ptr<int> result = std::make_shared<int> (-1);   // the dialog's, once dismissed

    /** `saved` empty: a first start, with no settings file. */
    AudioSettingsPanel& openDialog (const OutputDeviceSettings& saved)
    {
        EXPECT_TRUE (pcms.ready && (saved.type.isEmpty() || writeOutputDeviceSettings (rig.deviceFile(), saved).ok));
        session = rig.make (true);
        session->mutableAudioAdapter().millisecondCounter = deviceClock.function();
        makeView().setBounds (0, 0, 1380, 860);
        view->addToDesktop (0);
        view->setVisible (true);
        // A JACK server starved right after it answered can refuse the first client: the output
        // then opens again by itself at a later tick.
        EXPECT_TRUE (waitUntilMapped (*view, display) && runMessagesUntil ([&] {
            deviceClock.advance (1000);
            session->tick();
            return session->canChangeOutput() && (saved.type != "JACK" || session->isOutputOpen());
        })) << session->statusText();
        view->refresh();
        byId<juce::Button> (*view, "output-device").triggerClick();
        EXPECT_TRUE (runMessagesUntil ([&] { return view->window ("output-dialog") != nullptr; }));
        juce::ModalComponentManager::getInstance()->attachCallback (view->window ("output-dialog"),
                                                                    juce::ModalCallbackFunction::create ([r = result] (int v) { *r = v; }));
        return byId<AudioSettingsPanel> (*view->window ("output-dialog"), "audio-settings-panel");
    }
    bool dismissed()  { return runMessagesUntil ([&] { return *result >= 0; }); }
};

/** A box's items joined by "; ", the selected one marked "*". */
juce::String itemsOf (juce::Component& panel, const char* id)
{
    auto& box = byId<juce::ComboBox> (panel, id);
    juce::StringArray items;
    for (int i = 0; i < box.getNumItems(); ++i)
        items.add ((box.getItemId (i) == box.getSelectedId() ? "*" : "") + box.getItemText (i));
    return items.joinIntoString ("; ");
}

/** Picks the item with this text, as a choice from the box's menu does. */
void choose (juce::Component& panel, const char* id, const juce::String& text)
{
    auto& box = byId<juce::ComboBox> (panel, id);
    for (int i = 0; i < box.getNumItems(); ++i)
        if (box.getItemText (i) == text)
            return box.setSelectedId (box.getItemId (i), juce::sendNotificationSync);
    ADD_FAILURE() << "no item " << text << " in " << id << ": " << itemsOf (panel, id);
}

/** Clicks apply on a choice that is not applied; the result label once it changed. */
juce::String refusal (AudioSettingsPanel& panel)
{
    auto& result = byId<juce::Label> (panel, "audio-apply-result");
    const auto before = result.getText();
    byId<juce::Button> (panel, "audio-apply").triggerClick();
    runMessagesUntil ([&] { return result.getText() != before; });
    return result.getText();
}

TEST (OutputDialog, AnUnlistedSavedDeviceStaysUnchosenAndEscapeOrTheLockKeepsEverythingAsItWas)
{
    OutputRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& panel = r.openDialog ({ "ALSA", "Gone", "vantrel_gone", 44100.0, 256, 1 });
    EXPECT_EQ (byId<juce::ComboBox> (panel, "audio-output-endpoint").getText(), "");
    EXPECT_EQ (itemsOf (panel, "audio-sample-rate"), ja ("自動（対応レート）; *44.1 kHz（保存値・未確認）"));
    EXPECT_EQ (itemsOf (panel, "audio-buffer-size"), ja ("ドライバー既定; *256 samples（保存値・未確認）"));
    EXPECT_EQ (itemsOf (panel, "audio-output-pair"), ja ("*1 / 2（機器接続時に確認）"));
    EXPECT_EQ (refusal (panel), ja ("出力デバイスを選択してください。設定はまだ変更していません。"));

    EXPECT_TRUE (r.view->flags().dialogOpen);
    r.view->window ("output-dialog")->getPeer()->handleKeyPress (juce::KeyPress (juce::KeyPress::escapeKey));
    ASSERT_TRUE (r.dismissed());
    EXPECT_EQ (*r.result, 0);
    EXPECT_FALSE (r.view->flags().dialogOpen || r.view->window ("output-dialog") != nullptr);

    // No refresh since the lock: the button is still enabled and the dialog itself refuses.
    r.session->toggleLiveLock();
    auto& button = byId<juce::Button> (*r.view, "output-device");
    ASSERT_TRUE (button.isEnabled());
    bool handled = false;
    button.triggerClick();
    juce::MessageManager::callAsync ([&handled] { handled = true; });   // runs after the click
    ASSERT_TRUE (runMessagesUntil ([&] { return handled; }));
    EXPECT_FALSE (r.view->flags().dialogOpen || r.view->window ("output-dialog") != nullptr);
}

// A first start with no JACK server and an ALSA default that does not open: the dialog lists
// that default but shows nothing chosen, and says what was tried and why it failed, in the
// language of the interface.
TEST (OutputDialog, WithNothingOpenNothingShowsAsChosenAndTheDialogSaysWhatFailed)
{
    OutputRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    // No server answers this name (a test with a server of its own names it when it starts it).
    ASSERT_TRUE (platform::setEnvironmentVariable ("JACK_DEFAULT_SERVER", "vantrel-absent-" + juce::Uuid().toString().toStdString()));
    ASSERT_TRUE (testing::writeBytes (r.pcms.folder / ".asoundrc",
                                      "pcm.!default { type hw; card VantrelAbsent; hint { show on; description \"Vantrel Broken Default\" } }\n"
                                      "pcm.vantrel_stage { type null; hint { show on } }\n"));
    platform::reloadAlsaConfiguration();

    auto& panel = r.openDialog ({});
    EXPECT_FALSE (r.session->isOutputOpen());
    const auto endpoints = itemsOf (panel, "audio-output-endpoint");
    EXPECT_TRUE (endpoints.startsWith ("Vantrel Broken Default; ") && ! endpoints.contains ("*")) << endpoints;
    const auto failure = ja ("OUT: 出力先なし — JACKサーバーが応答しません。ALSAの既定の出力先を開けません: Vantrel Broken Default: No such device");
    EXPECT_EQ (byId<juce::Label> (panel, "audio-apply-result").getText(), failure);
    EXPECT_EQ (r.session->statusText(), failure);

    setUiLanguage (true);
    auto inEnglish = std::make_unique<AudioSettingsPanel> (*r.session);
    setUiLanguage (false);
    const auto english = byId<juce::Label> (*inEnglish, "audio-apply-result").getText();
    EXPECT_EQ (english, "OUT: No output — No JACK server answered. ALSA's default device could not be opened: Vantrel Broken Default: No such device");
}

TEST (OutputDialog, AChangeIsAppliedOrThePreviousJackOutputComesBackAndThePanelSaysSo)
{
    OutputRig r;
    if (! r.display.running() || ! JackDummyServer::installed())
        GTEST_SKIP() << "no private display or no jackd: " << r.display.problem;
    ASSERT_TRUE (r.jack.start()) << r.jack.lastError();
    const OutputDeviceSettings jackSystem { "JACK", "system", "JACK:system", 0.0, 0, 0 };
    auto& panel = r.openDialog (jackSystem);
    choose (panel, "audio-output-mode", ja ("ALSA（機器・システム出力）"));
    choose (panel, "audio-output-endpoint", "vantrel_eight");   // eight channels give four pairs
    EXPECT_EQ (itemsOf (panel, "audio-output-pair"), "*channel 1 / channel 2; channel 3 / channel 4; channel 5 / channel 6; channel 7 / channel 8");

    choose (panel, "audio-output-endpoint", "vantrel_mulaw");
    const auto refused = refusal (panel);
    EXPECT_TRUE (refused.startsWith (ja ("適用できません: "))
                 && refused.endsWith (ja ("\n選択内容を確認して再度適用してください。保存済み設定は変更していません。"))) << refused;
    EXPECT_TRUE (r.session->mutableAudioAdapter().storedOutputSettings() == jackSystem && r.session->isOutputOpen());

    choose (panel, "audio-output-endpoint", "vantrel_stage");
    choose (panel, "audio-output-pair", "channel 7 / channel 8");
    choose (panel, "audio-sample-rate", "44.1 kHz");
    byId<juce::Button> (panel, "audio-apply").triggerClick();
    ASSERT_TRUE (r.dismissed());
    EXPECT_EQ (*r.result, 1);
    OutputDeviceSettings written;
    EXPECT_TRUE (readOutputDeviceSettings (r.rig.deviceFile(), written).ok && written == r.session->mutableAudioAdapter().storedOutputSettings());
    EXPECT_EQ (written, OutputDeviceSettings ({ "ALSA", "vantrel_stage", "vantrel_stage", 44100.0, 0, 3 }));
    EXPECT_TRUE (r.session->isOutputOpen());
}
} // namespace
} // namespace vantrel
