// In English, no window or dialog of the program shows a Japanese text of its own: a walk over
// everything the program puts on the screen (every text drawn, every tooltip, combo item and
// window title), in each state that shows other texts, over a show whose names are Japanese.
#include "app/CdStepGate.h"
#include "ViewTestSupport.h"

#include "audio/output/AdapterRackSupport.h"
#include "platform/AlsaPcmList.h"
#include "session/UiLanguage.h"
#include "support/CdImage.h"
#include "support/JackDummyServer.h"
#include "ui/ProductInfoWindow.h"
#include "ui/RowsList.h"
#include "ui/SettingsPanel.h"

#include <gtest/gtest.h>
#include <limits>
#include <mutex>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

bool isJapanese (juce::juce_wchar c)
{
    return (c >= 0x3000 && c <= 0x30ff) || (c >= 0x3400 && c <= 0x9fff) || (c >= 0xff00 && c <= 0xffef);
}

bool hasJapanese (const juce::String& text)
{
    for (auto c : text)
        if (isJapanese (c))
            return true;
    return false;
}

/** The texts a component draws, as lines of characters: on this platform's typefaces a glyph's
    number is its character. A line ends where the next glyph is not to its right on the same
    baseline, or where a component's own painting begins or ends. */
class TextRecorder : public juce::LowLevelGraphicsSoftwareRenderer
{
public:
    explicit TextRecorder (const juce::Image& image) : LowLevelGraphicsSoftwareRenderer (image) {}

    void drawGlyph (int glyph, const juce::AffineTransform& t) override
    {
        const juce::Point<float> at (t.getTranslationX(), t.getTranslationY());
        if (lines.isEmpty() || at.y != last.y || at.x < last.x)
            lines.add ({});
        lines.getReference (lines.size() - 1) += (juce::juce_wchar) glyph;
        last = at;
        LowLevelGraphicsSoftwareRenderer::drawGlyph (glyph, t);
    }
    void saveState() override     { breakLine(); LowLevelGraphicsSoftwareRenderer::saveState(); }
    void restoreState() override  { breakLine(); LowLevelGraphicsSoftwareRenderer::restoreState(); }

    juce::StringArray lines;

private:
    void breakLine()  { last = { std::numeric_limits<float>::max(), 0.0f }; }
    juce::Point<float> last;
};

/** Every text on the screen: the lines each visible window draws, and what it would show on
    another state of a control (each combo item, the texts of empty boxes), its tooltips and
    its title. Each as "where: text". */
juce::StringArray screenTexts()
{
    juce::StringArray texts;
    const std::function<void (juce::Component&, const juce::String&)> controls = [&] (juce::Component& c, const juce::String& where) {
        if (! c.isVisible())
            return;
        const auto here = where + "/" + (c.getComponentID().isNotEmpty() ? c.getComponentID() : c.getName());
        const auto add = [&] (const juce::String& text) { if (text.isNotEmpty()) texts.add (here + ": " + text); };
        if (auto* tip = dynamic_cast<juce::TooltipClient*> (&c))
            add (tip->getTooltip());
        if (auto* window = dynamic_cast<juce::TopLevelWindow*> (&c))
            add (window->getName());
        if (auto* button = dynamic_cast<juce::Button*> (&c))
            add (button->getButtonText());
        if (auto* label = dynamic_cast<juce::Label*> (&c))
            add (label->getText());
        if (auto* editor = dynamic_cast<juce::TextEditor*> (&c))
            add (editor->getTextToShowWhenEmpty()), add (editor->getText());
        if (auto* box = dynamic_cast<juce::ComboBox*> (&c))
        {
            add (box->getTextWhenNothingSelected());
            for (int i = 0; i < box->getNumItems(); ++i)
                add (box->getItemText (i));
        }
        if (auto* list = dynamic_cast<juce::ListBox*> (&c); list != nullptr && list->getModel() != nullptr)
            for (int row = 0; row < list->getModel()->getNumRows(); ++row)
                add (list->getModel()->getTooltipForRow (row));
        for (auto* child : c.getChildren())
            controls (*child, here);
    };

    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
    {
        auto& top = *desktop.getComponent (i);
        if (! top.isVisible() || top.getWidth() <= 0 || top.getHeight() <= 0)
            continue;
        const juce::Image image (juce::Image::ARGB, top.getWidth(), top.getHeight(), true);
        TextRecorder recorder (image);
        juce::Graphics g (recorder);
        top.paintEntireComponent (g, true);
        for (const auto& line : recorder.lines)
            texts.add (top.getName() + " (drawn): " + line);
        controls (top, {});
    }
    texts.add ("menu: " + modalMenuText());
    return texts;
}

/** The texts of `texts` that hold a Japanese character once every operator's text is taken out
    (compared without white space: a drawn line carries none). */
juce::StringArray japaneseOf (const juce::StringArray& texts, const juce::StringArray& operators)
{
    juce::StringArray found;
    for (const auto& text : texts)
    {
        auto rest = text.removeCharacters (" \t\n");
        for (const auto& own : operators)
            rest = rest.replace (own.removeCharacters (" \t\n"), "");
        if (hasJapanese (rest))
            found.add (text);
    }
    return found;
}

/** The shipped configuration's parts over a show whose names the operator typed in Japanese:
    audio through a private JACK server (and null PCMs declared to ALSA), the rack with the test
    gain plug-in in slot 1, an importer whose drive shows `cues`. Built in English. */
struct EnglishRig : ViewRig
{
    JackDummyServer jack;
    RackProfile plugins;
    testing::TempFolder alsa { "alsa-pcms" };
    std::mutex mutex;
    std::vector<juce::String> cues;
    std::shared_ptr<CdStepGate> gate = std::make_shared<CdStepGate>();
    std::vector<std::pair<std::string, std::string>> saved;   // the environment before the PCMs'
    std::string damagedRow;                                   // a row whose file is cut short

    // What the operator typed or named: they stay as typed.
    const juce::StringArray typed { ja ("本番"), ja ("夜の部"), ja ("開演ベル"), ja ("拍手"), ja ("幕間の合図"), ja ("休憩は十五分") };
    // The language box offers each language under its own name, so either reader finds theirs.
    const juce::StringArray languageNames { ja ("日本語") };

    bool start()
    {
        session.reset();
        setUiLanguage (true);
        if (! testing::writeBytes (alsa / ".asoundrc", "pcm.vantrel_stage { type null; hint { show on } }\n"
                                                      "pcm.vantrel_broken { type hw; card VantrelAbsent; hint { show on } }\n") || ! jack.start())
            return false;
        for (const char* name : { "HOME", "XDG_CONFIG_HOME" })
        {
            saved.emplace_back (name, std::getenv (name) != nullptr ? std::getenv (name) : "");
            if (! platform::setEnvironmentVariable (name, alsa.path().getFullPathName().toStdString()))
                return false;
        }
        platform::reloadAlsaConfiguration();
        const auto uid = gainPluginState (1.0f).uid;
        RackConfigContents rack;
        rack.searchFolders = { plugins.pluginFolder().getFullPathName() };
        rack.slots[0] = { uid, gainPluginName, "Orvane Test", "", "", true };
        if (uid.isEmpty() || ! writeRackConfig (rig.local().getChildFile ("master-vst.json"), rack).ok
            || ! writeOutputDeviceSettings (rig.deviceFile(), { "JACK", "system", "JACK:system", 0.0, 0, 0 }).ok)
            return false;
        rig.options.workerExecutable = realWorker();
        CdImportSetup setup;
        setup.drives.list = [this] { std::lock_guard<std::mutex> lock (mutex); return cues; };
        setup.listIntervalMs = 20;
        setup.afterStep = [g = gate] (const juce::String& step) { g->pass (step); };
        rig.options.cdImportSetup = setup;
        session = rig.make (true);

        // A folder holding a playlist with a memo; a row with a note; a pad.
        if (! session->addTreeFolder (typed[0].toStdString(), {}))
            return false;
        const auto damaged = writeTone (rig.media(), "Damaged.wav", 2.0, 0.2f);
        juce::MemoryBlock bytes;
        if (! damaged.loadFileAsData (bytes) || ! damaged.replaceWithData (bytes.getData(), bytes.getSize() * 6 / 10))
            return false;
        auto show = playlistOf (typed[1].toStdString(), { writeTone (rig.media(), typed[2] + ".wav", 2.0, 0.2f),
                                                         writeTone (rig.media(), "Walk-in.wav", 2.0, 0.2f), damaged });
        damagedRow = show.rows[2].id;
        show.folderId = session->catalogState().document.folders.back().id;
        show.memo = typed[5].toStdString();
        show.rows[1].note = typed[4].toStdString();
        session->assignPad (1, 1, writeTone (rig.media(), typed[3] + ".wav", 1.0, 0.2f));
        if (! addAndOpen (*session, show) || ! finishPadJobs (*session))
            return false;

        makeView().setBounds (0, 0, 1380, 860);
        view->addToDesktop (0);
        view->setVisible (true);
        if (! waitUntilMapped (*view, display))
            return false;
        focusWindow (display, *view);
        return settle ([&] { return session->isOutputOpen(); });
    }
    ~EnglishRig()
    {
        gate->release();
        setUiLanguage (false);
        view.reset();
        session.reset();
        for (const auto& [name, value] : saved)
            platform::setEnvironmentVariable (name, value);
        platform::reloadAlsaConfiguration();
    }

    bool settle (std::function<bool()> holds)
    {
        return runMessagesUntil ([&] { session->tick(); view->refresh(); return holds(); });
    }
    static bool menuUp()  { return runMessagesUntil ([] { return modalMenuText().contains ("; "); }); }
    static bool modalUp()  { return runMessagesUntil ([] { return dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent()) != nullptr; }); }
    bool rightClick (juce::Component& c)  { PeerPointer (*view).click (c.getScreenBounds().getCentre(), true); return menuUp(); }
    void click (const char* id)  { byId<juce::Button> (*view, id).triggerClick(); runPendingMessages(); }
    RowComponent& row (int i)  { return dynamic_cast<RowComponent&> (*byId<juce::ListBox> (*view, "setlist").getComponentForRowNumber (i)); }
    juce::Component& windowPart (const char* window, const char* id)  { return byId<juce::Component> (*view->window (window), id); }

    /** Closes menus and dialogs (each answered as Escape would) and hides the view's windows. */
    void putAway()
    {
        runMessagesUntil ([] {
            juce::PopupMenu::dismissAllActiveMenus();
            if (auto* modal = juce::Component::getCurrentlyModalComponent())
                modal->exitModalState (0);
            return juce::Component::getCurrentlyModalComponent() == nullptr;
        });
        for (const char* id : { "eq-window", "vst-window", "settings-window", "cd-window" })
            if (auto* window = dynamic_cast<juce::DocumentWindow*> (view->window (id)))
                window->setVisible (false);
        if (auto* settings = view->window ("settings-window"))
            if (auto* about = byId<SettingsPanel> (*settings, "settings-panel").productInfo())
                about->setVisible (false);
        view->flags().libraryShown = view->flags().dynamicsOpen = view->flags().padEditMode = false;
        session->stop (true);
        session->stop (false);
        if (session->isLiveLockOn())
            session->toggleLiveLock();
        settle ([] { return true; });
        focusWindow (display, *view);   // a menu of an application without the focus closes at once
    }
};

TEST (EnglishScreens, NoWindowOrDialogShowsAJapaneseTextOfItsOwnAndTheOperatorsTextsStayAsTyped)
{
    EnglishRig r;
    if (! r.display.running() || ! JackDummyServer::installed())
        GTEST_SKIP() << "no private display or no jackd: " << r.display.problem;
    ASSERT_TRUE (r.plugins.ready());
    ASSERT_TRUE (r.start()) << r.jack.lastError() << " " << (r.session != nullptr ? r.session->statusText() : juce::String());
    auto& v = *r.view;
    auto& s = *r.session;

    // Each scene puts the program in a state that shows texts of its own; it answers whether the
    // state was reached.
    struct Scene
    {
        const char* name;
        std::function<bool()> show;
    };
    const std::vector<Scene> scenes {
        { "main screen", [&] { return true; } },
        { "main screen folded out, pads in edit mode, LIVE LOCK on", [&] {
              v.flags().dynamicsOpen = v.flags().padEditMode = true;
              s.toggleLiveLock();
              return r.settle ([&] { return s.isLiveLockOn(); });
          } },
        { "a track playing, paused, with the next READY", [&] {
              return r.settle ([&] { s.go(); return s.cueState().main.has_value(); }) && (s.togglePause(), r.settle ([] { return true; }));
          } },
        { "library, nothing chosen", [&] { r.click ("library-button"); return r.settle ([&] { return v.flags().libraryShown; }); } },
        { "library, one file chosen", [&] {
              r.click ("library-button");
              auto& items = byId<juce::ListBox> (v, "library-items");
              return r.settle ([&] { return items.getModel()->getNumRows() >= 3; }) && (items.selectRow (0), true);
          } },
        { "library, two files chosen", [&] {
              r.click ("library-button");
              auto& items = byId<juce::ListBox> (v, "library-items");
              return r.settle ([&] { return items.getModel()->getNumRows() >= 3; }) && (items.selectRangeOfRows (0, 1), true);
          } },
        { "library's add dialog", [&] {
              r.click ("library-button");
              auto& items = byId<juce::ListBox> (v, "library-items");
              r.settle ([&] { return items.getModel()->getNumRows() >= 3; });
              items.selectRow (1);
              r.settle ([] { return true; });
              byId<juce::Button> (v, "library-add").triggerClick();
              return r.modalUp();
          } },
        { "library's row menu", [&] {
              r.click ("library-button");
              auto& items = byId<juce::ListBox> (v, "library-items");
              r.settle ([&] { return items.getModel()->getNumRows() >= 3; });
              PeerPointer (v).click (items.localPointToGlobal (items.getRowPosition (0, true).getCentre()), true);
              return r.menuUp();
          } },
        { "tree's add menu", [&] { r.click ("add-playlist-folder"); return r.menuUp(); } },
        { "name dialog of a new playlist", [&] {
              r.click ("add-playlist-folder");
              return r.menuUp() && chooseInModalMenu (ja ("Add playlist…")) && r.modalUp();
          } },
        { "tree's menu and its move-to menu", [&] {
              auto& tree = byId<juce::ListBox> (v, "playlists");
              PeerPointer (v).click (tree.localPointToGlobal (tree.getRowPosition (1, true).getCentre()), true);
              return r.menuUp() && chooseInModalMenu ("Move to") && runMessagesUntil ([] { return modalMenuText().contains ("Top level"); });
          } },
        { "tree's delete confirmation", [&] {
              auto& tree = byId<juce::ListBox> (v, "playlists");
              PeerPointer (v).click (tree.localPointToGlobal (tree.getRowPosition (1, true).getCentre()), true);
              return r.menuUp() && chooseInModalMenu (ja ("Delete playlist…")) && r.modalUp();
          } },
        { "row menu", [&] { return r.rightClick (r.row (0).numberLabel); } },
        { "row removal confirmation", [&] {
              return r.rightClick (r.row (0).numberLabel) && chooseInModalMenu (ja ("Remove from playlist…")) && r.modalUp();
          } },
        { "menu of an empty pad in edit mode", [&] { v.flags().padEditMode = true; r.click ("pad-2"); return r.menuUp(); } },
        { "menu of an assigned pad and its name dialog", [&] {
              v.flags().padEditMode = true;
              r.click ("pad-1");
              return r.menuUp() && chooseInModalMenu (ja ("Rename display label…")) && r.modalUp();
          } },
        { "LIVE LOCK release confirmation", [&] { s.toggleLiveLock(); r.click ("lock"); return r.modalUp(); } },
        { "quit confirmation", [&] { s.toggleLiveLock(); v.requestQuit ([] {}); return r.modalUp(); } },
        { "master EQ", [&] { v.openEq ("@master"); return v.window ("eq-window") != nullptr; } },
        { "playlist EQ", [&] { r.click ("playlist-eq"); return v.window ("eq-window") != nullptr; } },
        { "track EQ under LIVE LOCK", [&] {
              r.row (0).eqButton.triggerClick();
              s.toggleLiveLock();
              return r.settle ([&] { return v.window ("eq-window") != nullptr && s.isLiveLockOn(); });
          } },
        { "VST window with a loaded and an empty slot", [&] {
              r.click ("vst-rack");
              return r.settle ([&] {
                  const auto status = s.audioAdapter().rack().status();
                  return status.slots[0].loaded && ! status.scanning && ! s.audioAdapter().rack().isBusy();
              });
          } },
        { "settings window", [&] { r.click ("settings"); return v.window ("settings-window") != nullptr; } },
        { "product information", [&] {
              r.click ("settings");
              byId<juce::Button> (*v.window ("settings-window"), "settings-about").triggerClick();
              return runMessagesUntil ([] { return true; });
          } },
        { "CD window without a disc", [&] { r.click ("cd-import"); return v.window ("cd-window") != nullptr; } },
        { "CD window with a disc", [&] {
              const auto cue = writeCdImage (r.rig.profile / "disc", { { cdAudio (1, 150), cdAudio (2, 188) }, 0, {} }).cue;
              { std::lock_guard<std::mutex> lock (r.mutex); r.cues = { cue.getFullPathName() }; }
              r.click ("cd-import");
              auto& start = r.windowPart ("cd-window", "cd-start");
              return runMessagesUntil ([&] { return start.isEnabled(); });
          } },
        { "CD window under LIVE LOCK", [&] {
              s.toggleLiveLock();
              r.click ("cd-import");
              auto& start = r.windowPart ("cd-window", "cd-start");
              return runMessagesUntil ([&] { return ! start.isEnabled(); });
          } },
        { "CD window importing", [&] {
              r.click ("cd-import");
              r.gate->hold ("ripped 1");
              auto& start = byId<juce::Button> (*v.window ("cd-window"), "cd-start");
              runMessagesUntil ([&] { return start.isEnabled(); });
              start.triggerClick();
              auto& cancel = r.windowPart ("cd-window", "cd-cancel");
              return runMessagesUntil ([&] { return r.gate->isReached() && cancel.isEnabled(); });
          } },
        { "output dialog on JACK", [&] {
              r.gate->release();
              r.settle ([&] { return s.canChangeOutput(); });
              r.click ("output-device");
              return v.window ("output-dialog") != nullptr;
          } },
        { "output dialog with ALSA chosen", [&] {
              r.click ("output-device");
              auto& type = byId<juce::ComboBox> (*v.window ("output-dialog"), "audio-output-mode");
              for (int i = 0; i < type.getNumItems(); ++i)
                  if (type.getItemText (i).startsWith ("ALSA"))
                      type.setSelectedId (type.getItemId (i), juce::sendNotificationSync);
              byId<juce::Button> (*v.window ("output-dialog"), "audio-apply").triggerClick();
              return type.getText().startsWith ("ALSA");
          } },
        { "main screen with the playlist and pads folded in and the memo out", [&] {
              r.click ("dynamics-fold");
              for (auto* c : v.getChildren())
                  if (auto* b = dynamic_cast<juce::TextButton*> (c); b != nullptr && (b->getButtonText().startsWith ("Memo") || b->getButtonText() == juce::String::fromUTF8 ("‹")))
                      b->triggerClick();
              return r.settle ([] { return true; });
          } },
        { "a damaged file at READY", [&] {
              return s.selectReady (r.damagedRow) && r.settle ([&] {
                  const auto media = s.audioAdapter().loadedMedia (r.damagedRow);
                  return media != nullptr && media->failed();
              });
          } },
        { "output dialog after an ALSA device failed to open", [&] {
              r.click ("output-device");
              auto& dialog = *v.window ("output-dialog");
              auto& type = byId<juce::ComboBox> (dialog, "audio-output-mode");
              for (int i = 0; i < type.getNumItems(); ++i)
                  if (type.getItemText (i).startsWith ("ALSA"))
                      type.setSelectedId (type.getItemId (i), juce::sendNotificationSync);
              auto& device = byId<juce::ComboBox> (dialog, "audio-output-endpoint");
              for (int i = 0; i < device.getNumItems(); ++i)
                  if (device.getItemText (i).contains ("vantrel_broken"))
                      device.setSelectedId (device.getItemId (i), juce::sendNotificationSync);
              byId<juce::Button> (dialog, "audio-apply").triggerClick();
              auto& result = byId<juce::Label> (dialog, "audio-apply-result");
              return runMessagesUntil ([&] { return result.getText().contains ("ALSA"); });
          } },
    };

    juce::StringArray everything;
    for (const auto& scene : scenes)
    {
        SCOPED_TRACE (scene.name);
        r.putAway();
        ASSERT_TRUE (scene.show()) << modalMenuText() << " " << s.statusText();
        runPendingMessages();
        const auto texts = screenTexts();
        everything.addArray (texts);
        juce::StringArray exempt (r.typed);
        exempt.addArray (r.languageNames);
        EXPECT_EQ (japaneseOf (texts, exempt).joinIntoString ("\n"), "");
    }
    r.putAway();

    // The warnings of the last two scenes were there, in English (a drawn line has no blanks).
    for (const juce::String warning : { "Audio decoding failed", "The ALSA device could not be opened:" })
        EXPECT_TRUE (everything.joinIntoString ("\n").removeCharacters (" ").contains (warning.removeCharacters (" "))) << warning;

    // The operator's texts were on the screen as typed.
    for (const auto& own : r.typed)
        EXPECT_TRUE (everything.joinIntoString ("\n").removeCharacters (" ").contains (own)) << own;

    // A label and a heading of the program's own left in Japanese are caught.
    juce::Label planted ("planted", ja ("未翻訳の見出し"));
    struct Heading : juce::Component
    {
        void paint (juce::Graphics& g) override  { g.drawText (juce::String::fromUTF8 ("描画だけの文字"), getLocalBounds(), juce::Justification::centred); }
    } heading;
    planted.setBounds (400, 400, 200, 24);
    heading.setBounds (400, 430, 200, 24);
    v.addAndMakeVisible (planted);
    v.addAndMakeVisible (heading);
    const auto caught = japaneseOf (screenTexts(), r.typed).joinIntoString ("\n");
    EXPECT_TRUE (caught.contains (ja ("未翻訳の見出し")) && caught.contains (ja ("描画だけの文字"))) << caught;
}
} // namespace
} // namespace vantrel
