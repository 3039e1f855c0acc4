#include "ViewTestSupport.h"

#include "session/CatalogValidation.h"
#include "ui/FileChoosing.h"
#include "ui/GainControl.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

/** Answers the view's file question with one file, later on the message thread. */
struct ScriptedChooser : AudioFileChooser
{
    explicit ScriptedChooser (juce::File f) : file (f) {}
    void launch (const juce::String&, bool, Answer reply) override  { juce::MessageManager::callAsync ([=] { reply ({ file }); }); }
    juce::File file;
};

/** The main view over an offline session in its own window on the private display. */
struct PadRig : ViewRig
{
    PadRig()
    {
        makeView().setBounds (0, 0, 1380, 860);
        view->addToDesktop (0);
        view->setVisible (true);
        waitUntilMapped (*view, display);
        focusWindow (display, *view);
    }

    /** Pad n of the current bank, its title the name its face shows. */
    juce::Button& pad (int n) { return byId<juce::Button> (*view, "pad-" + juce::String (n)); }
    GainControl& padGain (int n) { return byId<GainControl> (pad (n), "pad-individual-gain"); }
    juce::DragAndDropTarget& padTarget (int n) { return dynamic_cast<juce::DragAndDropTarget&> (pad (n)); }
    juce::FileDragAndDropTarget& padFileTarget (int n) { return dynamic_cast<juce::FileDragAndDropTarget&> (pad (n)); }
    const PadSlot& slot (int bank, int n) { return session->catalogState().pads[(size_t) *padIndex (bank, n)]; }
    juce::File tone (const juce::String& name) { return writeTone (rig.media(), name + ".wav", 1.0, 0.2f); }

    bool assign (int bank, int n, const juce::String& name)
    {
        session->assignPad (bank, n, tone (name));
        const bool done = finishPadJobs (*session) && slot (bank, n).name == name.toStdString();
        view->refresh();
        return done;
    }
    void editMode (bool on)  { view->flags().padEditMode = on; view->refresh(); }
    juce::TextButton& buttonWithText (const juce::String& text)
    {
        for (auto* c : view->getChildren())
            if (auto* b = dynamic_cast<juce::TextButton*> (c); b != nullptr && b->getButtonText() == text)
                return *b;
        throw std::runtime_error ("no button " + text.toStdString());
    }
    void click (juce::Button& button)  { button.triggerClick(); runPendingMessages(); }

    juce::String menuText()  { return modalMenuText(); }
    bool choose (const juce::String& text)  { return chooseInModalMenu (text); }
    /** Waits until a pad menu is up. */
    bool menuUp() { return runMessagesUntil ([this] { return menuText().startsWith ("PAD"); }); }
    /** Waits until the last menu or dialog has left the screen: a dismissed menu is still the
        modal component for a moment after its answer came. */
    static bool nothingModal() { return runMessagesUntil ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }); }

    bool xdotool (const juce::StringArray& args)  { return xdotoolOn (display, args); }
};

#define START_PAD_RIG(r)                       \
    PadRig r;                                  \
    if (! r.display.running())                 \
        GTEST_SKIP() << r.display.problem;

TEST (Pads, FacesShowTheSlotsNameOrWhatAnEmptyPadOffers)
{
    START_PAD_RIG (r);
    ASSERT_TRUE (r.assign (1, 1, "Bell"));
    struct Case { bool edit; int pad; const char* label; bool gainShown; };
    for (const auto& c : std::vector<Case> { { false, 1, "Bell", false }, { false, 2, "未割当", false },
                                             { true, 1, "Bell", true }, { true, 2, "未割当 · クリックして設定", false } })
    {
        r.editMode (c.edit);
        EXPECT_EQ (r.pad (c.pad).getTitle(), ja (c.label)) << c.edit << " " << c.pad;
        EXPECT_EQ (r.padGain (c.pad).isShowing(), c.gainShown) << c.edit << " " << c.pad;
    }
}

TEST (Pads, ClicksKeysBanksMuteAndStopReachTheSession)
{
    START_PAD_RIG (r);
    ASSERT_TRUE (r.assign (1, 1, "Bell") && r.assign (2, 1, "Gong") && tickUntilPrepared (*r.session, padMediaKey (1, 1)));
    auto& s = *r.session;
    int padKey = 0;
    for (const auto& binding : s.currentPreferences().keys)
        if (binding.action == "PAD 1")
            padKey = binding.key;
    struct Step { const char* what; std::function<void()> act; std::function<bool()> holds; };
    const std::vector<Step> steps {
        { "click", [&] { r.click (r.pad (1)); }, [&] { return s.isPadActive (1, 1); } },
        { "stop", [&] { r.click (byId<juce::Button> (*r.view, "stop-pads")); }, [&] { return ! s.isPadActive (1, 1); } },
        { "key", [&] { r.view->handleShortcut (padKey, false, false, false); r.view->releaseHeldKey (padKey); },
          [&] { return s.isPadActive (1, 1); } },
        { "mute", [&] { r.click (r.buttonWithText ("ALL MUTE")); }, [&] { return s.isPadMuteOn(); } },
        { "bank", [&] { r.click (r.buttonWithText ("2")); }, [&] { return r.pad (1).getTitle() == "Gong"; } },
    };
    for (const auto& step : steps)
    {
        step.act();
        EXPECT_TRUE (runMessagesUntil (step.holds)) << step.what;
    }
}

TEST (PadMenu, InEditModeAClickOpensTheMenuWithWhatTheSlotAllows)
{
    START_PAD_RIG (r);
    ASSERT_TRUE (r.assign (1, 1, "Bell") && r.assign (1, 3, "Horn") && tickUntilPrepared (*r.session, padMediaKey (1, 3)));
    r.session->triggerPad (3);
    ASSERT_TRUE (r.session->isPadActive (1, 3) && r.session->setPadLabel (1, 2, "Named only"));
    r.editMode (true);
    struct Case { int pad; const char* menu; };
    const std::vector<Case> cases {
        { 1, "PAD 1 / 1; +音源を割り当て…; +表示名を変更…; +割当を削除…" },
        { 2, "PAD 1 / 2; +音源を割り当て…; 表示名を変更…; 割当を削除…" },
        { 3, "PAD 1 / 3; 音源を割り当て…; 表示名を変更…; 割当を削除…; 再生中の為変更・削除ができません。" },
    };
    for (const auto& c : cases)
    {
        ASSERT_TRUE (r.nothingModal());
        r.click (r.pad (c.pad));
        ASSERT_TRUE (r.menuUp()) << c.pad;
        EXPECT_EQ (r.menuText(), ja (c.menu));
        EXPECT_TRUE (r.view->flags().dialogOpen);
        juce::PopupMenu::dismissAllActiveMenus();
        ASSERT_TRUE (runMessagesUntil ([&] { return ! r.view->flags().dialogOpen; })) << c.pad;
    }
    EXPECT_FALSE (r.session->isPadActive (1, 1));   // the clicks fired nothing
}

TEST (PadMenu, ItsItemsRenameAssignAndClearThroughTheirDialogs)
{
    START_PAD_RIG (r);
    ASSERT_TRUE (r.assign (1, 1, "Bell"));
    r.view->setFileChooser (std::make_unique<ScriptedChooser> (r.tone ("Gong")));
    r.editMode (true);
    std::uint64_t revision = 0;   // an assignment counts as a change of the slot when it starts
    const auto changed = [&] { return runMessagesUntil ([&] { return r.session->padRevisions()[0] != revision; }); };
    struct Case { const char* item; std::function<void()> answer; std::string name; bool assigned; };
    const std::vector<Case> cases {
        { "表示名を変更…", [] {
              juce::AlertWindow* alert = nullptr;
              ASSERT_TRUE (runMessagesUntil ([&] {
                  return (alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent())) != nullptr; }))
                  << "no name dialog";
              alert->getTextEditor ("value")->setText (" Fanfare ");
              alert->exitModalState (1);
          }, " Fanfare ", true },
        { "音源を割り当て…", [&] { ASSERT_TRUE (changed() && finishPadJobs (*r.session)); }, "Gong", true },
        { "割当を削除…", [] {
              // The cleared pad's stored copy is used nowhere now: it is offered for the Trash, and kept.
              juce::AlertWindow* offer = nullptr;
              ASSERT_TRUE (runMessagesUntil ([&] {
                  return (offer = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent())) != nullptr; }))
                  << "no offer";
              EXPECT_EQ (offer->getName(), ja ("保存音源の扱い"));
              offer->exitModalState (0);
          }, "", false },
    };
    for (const auto& c : cases)
    {
        revision = r.session->padRevisions()[0];
        ASSERT_TRUE (r.nothingModal());
        // With no window manager on the display, the input focus does not come back to the view
        // when a dialog window goes, and a menu shown while another window has it is dismissed.
        focusWindow (r.display, *r.view);
        r.click (r.pad (1));
        ASSERT_TRUE (r.menuUp() && r.choose (ja (c.item))) << c.item;
        c.answer();
        ASSERT_TRUE (runMessagesUntil ([&] { return r.slot (1, 1).name == c.name && ! r.view->flags().dialogOpen; }))
            << c.item << ": " << r.slot (1, 1).name;
        EXPECT_EQ (! r.slot (1, 1).asset.empty(), c.assigned) << c.item;
    }
}

TEST (PadDrags, InEditModeADragOntoAnotherPadSwapsThemAndNothingElse)
{
    START_PAD_RIG (r);
    ASSERT_TRUE (r.assign (1, 1, "Bell") && r.assign (1, 3, "Horn"));
    if (! xdotoolInstalled())
        GTEST_SKIP() << "xdotool is not installed";
    auto& s = *r.session;
    // JUCE asks the X server where the pointer is when a button comes up, so the real pointer
    // waits at the release point.
    PeerPointer pointer (*r.view);
    struct Case { bool edit; int to; bool swapped, fired; };
    for (const auto& c : std::vector<Case> { { true, 3, true, false }, { true, 1, false, false },
                                             { false, 3, false, false }, { false, 1, false, true } })
    {
        ASSERT_TRUE (tickUntilPrepared (s, padMediaKey (1, 1)));
        r.editMode (c.edit);
        // On the number, left of the gain control that edit mode shows.
        const auto onNumber = [&] (int n) { return r.pad (n).getScreenPosition().translated (14, r.pad (n).getHeight() / 2); };
        const auto from = onNumber (1), to = c.to == 1 ? from.translated (12, 0) : onNumber (c.to);
        ASSERT_TRUE (realPointerAt (r.display, to));
        pointer.drag (from, to);
        ASSERT_TRUE (runMessagesUntil ([&] { return ! r.view->isDragAndDropActive(); }));
        const auto what = juce::String (c.edit ? "edit" : "normal") + " to " + juce::String (c.to);
        EXPECT_EQ (r.slot (1, 1).name, c.swapped ? "Horn" : "Bell") << what;
        EXPECT_EQ (s.isPadActive (1, 1), c.fired) << what << ": " << s.lastStatus();
        EXPECT_FALSE (r.view->flags().dialogOpen) << what << ": a menu opened";
        s.stopAllPads();
        ASSERT_TRUE (! c.swapped || s.movePad (1, 1, 3));
    }
}

TEST (PadDrops, OneFileIsAssignedAndOnlyPadsAreTakenFromDrags)
{
    START_PAD_RIG (r);
    auto& pad = r.padFileTarget (2);
    auto& target = r.padTarget (2);
    const auto one = r.tone ("Drop").getFullPathName(), two = r.tone ("Other").getFullPathName();
    EXPECT_FALSE (pad.isInterestedInFileDrag ({ one, two }));
    EXPECT_TRUE (pad.isInterestedInFileDrag ({ one }));
    pad.filesDropped ({ one }, 5, 5);
    ASSERT_TRUE (finishPadJobs (*r.session));
    EXPECT_EQ (r.slot (1, 2).name, "Drop");
    EXPECT_TRUE (r.rig.music().getChildFile ("pad/assets").getChildFile (r.slot (1, 2).asset).existsAsFile());

    EXPECT_TRUE (target.isInterestedInDragSource ({ "pad:5", &r.pad (5), {} }));
    EXPECT_FALSE (target.isInterestedInDragSource ({ "row:5", r.view.get(), {} }));
    r.session->assignPad (1, 2, juce::File (two));
    target.itemDropped ({ "pad:2", &r.pad (2), {} });   // onto itself: the copy in flight still lands
    ASSERT_TRUE (finishPadJobs (*r.session));
    EXPECT_EQ (r.slot (1, 2).name, "Other");
}

TEST (PadWheel, ABankChangeEndsTheBindingOfAPadsGain)
{
    START_PAD_RIG (r);
    ASSERT_TRUE (r.assign (1, 4, "Bell") && r.assign (2, 4, "Gong"));
    r.editMode (true);
    auto& gain = r.padGain (4);
    r.view->bindWheelTarget (&gain.slider);
    ASSERT_EQ (r.view->wheelTarget(), &gain);
    EXPECT_EQ (gain.getProperties()["wheel-binding"].toString(), "1:4");
    r.click (r.buttonWithText ("2"));
    EXPECT_EQ (gain.getProperties()["wheel-binding"].toString(), "2:4");
    EXPECT_TRUE (gain.isShowing());
    EXPECT_EQ (r.view->wheelTarget(), nullptr);
}

TEST (AudioFileChoosing, ExtensionsMatchWhateverTheirCase)
{
    for (const auto& [name, audio] : std::vector<std::pair<const char*, bool>> {
             { "intro.wav", true }, { "Intro.WAV", true }, { "Gong.Flac", true }, { "x.AIFF", true },
             { "notes.txt", false }, { "wav", false }, { "clip.wav.txt", false } })
        EXPECT_EQ (isChoosableAudioFile (juce::File ("/tmp").getChildFile (name)), audio) << name;
}
} // namespace
} // namespace vantrel
