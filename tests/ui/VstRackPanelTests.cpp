#include "ViewTestSupport.h"

#include "audio/output/AdapterRackSupport.h"
#include "ui/ViewWindows.h"
#include "ui/VstRackPanel.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

/** The rack's clock, the steady one, which a test can hold: the rack's control thread reads it in
    every pass and, while it is held, waits there as a hung worker would keep it, so that no
    processed block comes back. */
class HoldableClock
{
public:
    RackClock clock()
    {
        return [this] {
            std::unique_lock<std::mutex> lock (mutex);
            released.wait (lock, [this] { return ! held; });
            return (std::int64_t) std::chrono::duration_cast<std::chrono::nanoseconds> (
                std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    }
    void hold()  { const std::lock_guard<std::mutex> lock (mutex); held = true; }
    void release()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        held = false;
        released.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable released;
    bool held = false;
};

/** The main view over a session with a stand-in output and a rack that runs the real worker on
    the private display, where the plug-ins' editors then open. The view goes before the session. */
struct RackPanelRig
{
    PrivateGuiDisplay display;
    juce::ScopedJuceInitialiser_GUI gui;
    StandInSessionRig rig;
    RackProfile profile;
    HoldableClock rackClock;
    std::unique_ptr<SessionCoordinator> session;
    std::unique_ptr<VantrelView> view;

    ~RackPanelRig()
    {
        rackClock.release();   // the rack's end waits for its control thread
        view.reset();
        session.reset();
    }

    void start (const RackConfigContents* config = nullptr)
    {
        installUiFonts();
        rig.options.workerExecutable = realWorker();
        rig.options.rackClock = rackClock.clock();
        const auto settings = rig.local().getChildFile ("master-vst.json");
        ASSERT_TRUE (config == nullptr || writeRackConfig (settings, *config).ok);
        session = rig.make (true);
        ASSERT_TRUE (session->isOutputOpen()) << session->statusText();
        view = std::make_unique<VantrelView> (*session);
        view->stopTicking();   // settle ticks the session itself
        view->setBounds (0, 0, 1380, 860);
        view->addToDesktop (0);
        view->setVisible (true);
        ASSERT_TRUE (waitUntilMapped (*view, display));
    }

    ViewWindow* window() { return dynamic_cast<ViewWindow*> (view->window ("vst-window")); }
    /** The VST button, as the operator opens the window. */
    VstRackPanel& open()
    {
        byId<juce::Button> (*view, "vst-rack").triggerClick();
        runPendingMessages();
        return dynamic_cast<VstRackPanel&> (*window()->panel());
    }
    template <typename Type> Type& control (const juce::String& id) { return byId<Type> (*window(), id); }
    juce::Button& button (const juce::String& id) { return control<juce::Button> (id); }
    juce::String text (const juce::String& id) { return control<juce::Label> (id).getText(); }
    void click (const juce::String& id)  { button (id).triggerClick(); }
    bool settle (std::function<bool()> holds)  { return runMessagesUntil ([&] { session->tick(); return holds(); }); }
    bool editorShown()
    {
        const auto windows = display.look->topLevelWindows();
        return std::any_of (windows.begin(), windows.end(),
                            [] (const auto& w) { return w.title == "Vantrel! - VST 1" && w.viewable; });
    }
};

#define MAKE_RACK_RIG(r)                   \
    RackPanelRig r;                         \
    if (! r.display.running())              \
        GTEST_SKIP() << r.display.problem;  \
    ASSERT_TRUE (r.profile.ready());

/** Answers the add button's folder question with `folder`, later on the message thread. */
void answerWith (VstRackPanel& panel, const juce::File& folder)
{
    panel.launchFolderChooser = [folder] (juce::FileChooser&, std::function<void (const juce::File&)> answer) {
        juce::MessageManager::callAsync ([=] { answer (folder); });
    };
}

TEST (VstRackPanel, TheOperatorScansChoosesSwitchesAndEditsASlotAndClosingTheWindowClosesTheEditor)
{
    MAKE_RACK_RIG (r);
    ASSERT_NO_FATAL_FAILURE (r.start());
    answerWith (r.open(), r.profile.pluginFolder());
    // Folders change only once the rack is idle (its first scan done); until then the button is off.
    ASSERT_TRUE (r.settle ([&] { return r.button ("vst-folder-add").isEnabled(); })) << r.text ("vst-rack-status");
    r.click ("vst-folder-add");
    auto& select = r.control<juce::ComboBox> ("vst-select-1");
    ASSERT_TRUE (r.settle ([&] { return select.getNumItems() == 2 && select.isEnabled(); }))
        << r.text ("vst-rack-status");
    EXPECT_EQ (select.getItemText (1), juce::String::fromUTF8 ("OrvaneTestGain — Orvane Test"));

    struct Step { const char* what; std::function<void()> act; const char* slot1; const char* button; bool loaded; };
    const std::vector<Step> steps {
        // The box reports a choice through a message; the panel's periodic refresh may come first.
        { "choose", [&] { select.setSelectedId (2); dynamic_cast<VstRackPanel&> (*r.window()->panel()).refreshStatus(); },
          "有効 / 遅延 128 samples", "ON", true },
        { "switch off", [&] { r.click ("vst-enable-1"); }, "OFF · 遅延を保持 / 遅延 128 samples", "OFF", true },
        { "switch on", [&] { r.click ("vst-enable-1"); }, "有効 / 遅延 128 samples", "ON", true },
        { "none", [&] { select.setSelectedId (1); }, "プラグイン未選択", "OFF", false },
    };
    const auto run = [&] (const Step& step) {
        step.act();
        const auto shown = [&] { return r.text ("vst-status-1") == ja (step.slot1) && r.button ("vst-edit-1").isEnabled() == step.loaded; };
        EXPECT_TRUE (r.settle (shown)) << step.what << ": " << r.text ("vst-status-1");
        EXPECT_EQ (r.button ("vst-enable-1").getButtonText(), step.button) << step.what;
        EXPECT_EQ (r.button ("vst-enable-1").isEnabled(), step.loaded) << step.what;
        EXPECT_EQ (r.text ("vst-status-2"), ja ("プラグイン未選択")) << step.what;
        EXPECT_FALSE (r.button ("vst-enable-2").isEnabled() || r.button ("vst-edit-2").isEnabled());
    };
    std::for_each (steps.begin(), steps.end() - 1, run);

    r.click ("vst-edit-1");
    ASSERT_TRUE (r.settle ([&] { return r.editorShown(); })) << r.text ("vst-rack-status");
    r.window()->closeButtonPressed();
    r.open();   // at once: the editor still goes
    EXPECT_TRUE (r.settle ([&] { return ! r.editorShown(); }));
    EXPECT_TRUE (r.window()->isShowing());
    run (steps.back());
}

TEST (VstRackPanel, AClassIdOfTwoBundlesIsNotOfferedAndTheSlotUsingItShowsMarkedAndBypassed)
{
    MAKE_RACK_RIG (r);
    const auto uid = gainPluginState (1.0f).uid;
    ASSERT_TRUE (uid.isNotEmpty());
    const auto copy = r.rig.local().getChildFile ("copy");
    ASSERT_TRUE (gainBundle().copyDirectoryTo (copy.getChildFile (gainBundle().getFileName())));
    // A slot saved with the class id, which the rack loads at start once it has scanned both folders.
    RackConfigContents config;
    config.searchFolders = { r.profile.pluginFolder().getFullPathName(), copy.getFullPathName() };
    config.slots[0] = { uid, "OrvaneTestGain", "Orvane Test", "", "", true };
    ASSERT_NO_FATAL_FAILURE (r.start (&config));
    r.open();

    const auto marked = ja ("OrvaneTestGain（不在 / ID重複）");
    auto& status = r.control<juce::Label> ("vst-status-1");
    const auto bypassed = ja ("バイパス: プラグインが不在、または同じIDが複数あります。保存設定は保持します");
    EXPECT_TRUE (r.settle ([&] { return status.getText() == bypassed; })) << status.getText();
    EXPECT_EQ (status.findColour (juce::Label::textColourId), juce::Colour (0xFFECB75F));
    EXPECT_EQ (r.control<juce::ComboBox> ("vst-select-1").getText(), marked);
    auto& other = r.control<juce::ComboBox> ("vst-select-2");   // "none" and the marked choice only
    EXPECT_EQ (other.getNumItems() == 2 ? other.getItemText (1) : juce::String(), marked);
}

// A slot whose plug-in's bundle crashed while the scan loaded it says so, in the panel's language.
TEST (VstRackPanel, ASlotWhoseBundleCrashedInTheScanNamesTheFailure)
{
    MAKE_RACK_RIG (r);
    const auto crashing = juce::File (ORVANE_TEST_CRASH_LIBRARY).getParentDirectory().getParentDirectory().getParentDirectory();
    ASSERT_TRUE (crashing.copyDirectoryTo (r.profile.pluginFolder().getChildFile (crashing.getFileName())));
    RackConfigContents config;
    config.searchFolders = { r.profile.pluginFolder().getFullPathName() };
    config.slots[0] = { "0123456789ABCDEF0123456789ABCDEF", "Orvane Probe Crash", "Orvane Test", "", "", true };
    setUiLanguage (true);
    struct Japanese { ~Japanese() { setUiLanguage (false); } } restore;
    ASSERT_NO_FATAL_FAILURE (r.start (&config));
    r.open();

    auto& status = r.control<juce::Label> ("vst-status-1");
    const auto bypassed = "Bypass: This plug-in failed to load in the VST3 scan. Saved settings retained: OrvaneProbeCrash.vst3: VST worker exited";
    EXPECT_TRUE (r.settle ([&] { return status.getText().startsWith (bypassed); })) << status.getText();
    EXPECT_EQ (r.control<juce::ComboBox> ("vst-select-1").getText(), "Orvane Probe Crash (failed to load in the scan)");
}

// While the rack plays dry (a fault latched during playback: its control thread held, as a hung
// worker holds it) nothing passes through any slot: no chosen slot reads active, each says that
// the whole rack plays dry and why, after a bypass reason of its own where it has one. The first
// rack is the show's: one plug-in bypassed for a reason of its own, the other loaded and on.
TEST (VstRackPanel, WhileTheRackPlaysDryNoSlotReadsActiveAndEachSaysWhy)
{
    const auto uid = gainPluginState (1.0f).uid;
    ASSERT_TRUE (uid.isNotEmpty());
    const auto gain = [&] (bool on) { return VstRackSlot { uid, "OrvaneTestGain", "Orvane Test", "", "", on }; };
    const VstRackSlot gone { "0123456789ABCDEF0123456789ABCDEF", "MVerb", "Orvane Test", "", "", true };
    const std::string bypassed = "バイパス: プラグインが不在、または同じIDが複数あります。保存設定は保持します";
    const std::string dry = "ラック全体をドライ再生中: VST processing missed three block deadlines";
    const std::string none = "プラグイン未選択";
    const struct
    {
        std::array<VstRackSlot, 2> slots;
        std::array<std::string, 2> before, latched;
    } cases[] = {
        { { gone, gain (true) }, { bypassed, "有効 / 遅延 128 samples" }, { bypassed + " · " + dry, dry } },
        { { gain (false), {} }, { "OFF · 遅延を保持 / 遅延 128 samples", none }, { dry, none } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.before[0] + " | " + c.before[1]);
        MAKE_RACK_RIG (r);
        RackConfigContents config;
        config.searchFolders = { r.profile.pluginFolder().getFullPathName() };
        config.slots = c.slots;
        ASSERT_NO_FATAL_FAILURE (r.start (&config));
        r.open();
        const auto shows = [&] (const std::array<std::string, 2>& lines) {
            return r.text ("vst-status-1") == ja (lines[0].c_str()) && r.text ("vst-status-2") == ja (lines[1].c_str());
        };
        ASSERT_TRUE (r.settle ([&] { return shows (c.before) && ! r.session->audioAdapter().rack().isBusy(); }))
            << r.text ("vst-status-1") << " | " << r.text ("vst-status-2");

        const auto playlist = playlistOf ("Show", { writeTone (r.rig.media(), "a.wav", 60.0, 0.25f) });
        ASSERT_TRUE (addAndOpen (*r.session, playlist) && tickUntilPrepared (*r.session, playlist.rows[0].id));
        ASSERT_EQ (r.session->go().outcome, orvane::audio::SinkAnswer::accepted);
        r.rackClock.hold();
        ASSERT_TRUE (r.settle ([&] { return r.session->audioAdapter().rack().status().audioFault; }));
        r.rackClock.release();

        EXPECT_TRUE (r.settle ([&] { return shows (c.latched); })) << r.text ("vst-status-1") << " | " << r.text ("vst-status-2");
        for (int slot = 0; slot < 2; ++slot)   // amber where a plug-in is chosen
            EXPECT_EQ (r.control<juce::Label> ("vst-status-" + juce::String (slot + 1)).findColour (juce::Label::textColourId).getARGB(),
                       c.slots[(size_t) slot].uid.isEmpty() ? 0xFFB2C3CBu : 0xFFECB75Fu) << slot;
        EXPECT_EQ (r.text ("vst-rack-status"), ja ("処理が間に合わず、全VSTをバイパスしました。OFF→ONで再読込できます。"));
    }
}

TEST (VstRackPanel, SixteenFoldersOrPlaybackDisableAddAndTheSelectionFollowsTheFolders)
{
    MAKE_RACK_RIG (r);
    ASSERT_NO_FATAL_FAILURE (r.start());
    auto& panel = r.open();
    auto& add = r.button ("vst-folder-add");
    auto& list = r.control<juce::ListBox> ("vst-search-folders");
    const auto idle = [&] { return r.button ("vst-rescan").isEnabled(); };
    for (int i = 0; i < 16; ++i)
    {
        const auto folder = r.rig.local().getChildFile ("vst-" + juce::String (i));
        ASSERT_TRUE (folder.createDirectory());
        answerWith (panel, folder);
        ASSERT_TRUE (r.settle ([&] { return idle() && add.isEnabled(); })) << i;
        add.triggerClick();
        ASSERT_TRUE (r.settle ([&] { return idle() && panel.getNumRows() == i + 1; })) << i;
        EXPECT_EQ (list.getSelectedRow(), i);
    }
    EXPECT_FALSE (add.isEnabled());

    const auto rows = r.session->mutableAudioAdapter().rack().status().searchFolders;
    list.selectRow (5);
    ASSERT_TRUE (r.session->removeVstSearchFolder (rows[2]));   // the selection keeps its folder
    ASSERT_TRUE (r.settle ([&] { return idle() && panel.getNumRows() == 15; }));
    EXPECT_EQ (list.getSelectedRow(), 4);
    EXPECT_TRUE (add.isEnabled());
    r.click ("vst-folder-delete");   // the selected folder goes, and with it the selection
    ASSERT_TRUE (r.settle ([&] { return idle() && panel.getNumRows() == 14; }));
    EXPECT_FALSE (r.session->mutableAudioAdapter().rack().status().searchFolders.contains (rows[5]));
    EXPECT_EQ (list.getSelectedRow(), -1);

    const auto playlist = playlistOf ("Show", { writeTone (r.rig.media(), "a.wav", 10.0, 0.25f) });
    ASSERT_TRUE (addAndOpen (*r.session, playlist) && tickUntilPrepared (*r.session, playlist.rows[0].id));
    ASSERT_EQ (r.session->go().outcome, orvane::audio::SinkAnswer::accepted);
    EXPECT_TRUE (r.settle ([&] { return ! add.isEnabled() && ! idle(); }));
}
} // namespace
} // namespace vantrel
