// A click on a box that refuses editing under LIVE LOCK says why; what is then typed there (a
// character, or a key that moves the caret or selects) does nothing and reaches no shortcut, while
// the show's keys before any typing work as always.
#include "ViewTestSupport.h"

#include "session/UiText.h"
#include "ui/GainControl.h"
#include "ui/KeyRouting.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;

struct LockedRig : ViewRig
{
    Playlist show = addShow ("Locked", 3);
    VantrelView& view = makeView();

    LockedRig()
    {
        auto prefs = session->currentPreferences();
        prefs.locks[3] = true;   // the master gain too
        EXPECT_TRUE (session->applyPreferences (prefs).ok);
        session->toggleMemoPanel();
        view.flags().dynamicsOpen = true;
        view.setBounds (0, 0, 1380, 860);
        view.addToDesktop (0);
        view.setVisible (true);
        session->toggleLiveLock();
        view.refresh();
    }

    /** The screen centre of a slider's value box. */
    static juce::Point<int> valueBox (juce::Slider& slider)
    {
        for (auto* child : slider.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
                return label->localPointToGlobal (label->getLocalBounds().getCentre());
        return {};
    }

    void click (juce::Point<int> screen)  { PeerPointer (view).click (screen); }

    /** A key as the window's router hands it on: "kept" (typed at the locked box), "used" by a
        shortcut, or "passed". */
    std::string key (const juce::KeyPress& press)
    {
        if (view.holdTypedKey (press))
            return "kept";
        const auto source = keySourceFor (press);
        return view.handleShortcut (source.virtualKey, false, press.getModifiers().isCtrlDown(), press.getModifiers().isShiftDown())
                 ? "used" : "passed";
    }
};

const juce::KeyPress returnKey (juce::KeyPress::returnKey), escape (juce::KeyPress::escapeKey),
    tab (juce::KeyPress::tabKey), backspace (juce::KeyPress::backspaceKey), down (juce::KeyPress::downKey);

juce::KeyPress typed (char c)  { return juce::KeyPress (c, {}, (juce::juce_wchar) c); }

// The keys that edit a text or move within it, as JUCE reports them on X11.
const juce::KeyPress textKeys[] = {
    juce::KeyPress (juce::KeyPress::endKey), juce::KeyPress (juce::KeyPress::homeKey),
    juce::KeyPress (juce::KeyPress::leftKey), juce::KeyPress (juce::KeyPress::rightKey),
    juce::KeyPress (juce::KeyPress::upKey), down, juce::KeyPress (juce::KeyPress::pageUpKey),
    juce::KeyPress (juce::KeyPress::deleteKey), backspace,
    juce::KeyPress (juce::KeyPress::endKey, juce::ModifierKeys::shiftModifier, 0),
    juce::KeyPress (juce::KeyPress::leftKey, juce::ModifierKeys::ctrlModifier | juce::ModifierKeys::shiftModifier, 0),
    juce::KeyPress ('a', juce::ModifierKeys::ctrlModifier, 0), juce::KeyPress ('v', juce::ModifierKeys::ctrlModifier, 0),
    juce::KeyPress (juce::KeyPress::insertKey, juce::ModifierKeys::shiftModifier, 0),
};

TEST (RefusedTyping, EveryLockedBoxSaysWhyAndKeepsWhatIsTyped)
{
    LockedRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    struct Box
    {
        const char* what;
        std::function<juce::Point<int>()> where;
        const char* why;
    };
    const Box boxes[] = {
        { "a row's gain box", [&] { return LockedRig::valueBox (byId<GainControl> (r.view, "track-gain").slider); },
          "LIVE LOCK中はトラックゲインを変更できません" },
        { "the master gain box", [&] { return LockedRig::valueBox (byId<GainControl> (r.view, "master-gain").slider); },
          "LIVE LOCK中はマスターゲインを変更できません" },
        { "a limiter box", [&] { return LockedRig::valueBox (byId<juce::Slider> (r.view, "limiter-slider-1")); },
          "LIVE LOCK中はリミッターを変更できません" },
        { "the memo", [&] { auto& m = byId<juce::TextEditor> (r.view, "playlist-memo"); return m.localPointToGlobal (m.getLocalBounds().getCentre()); },
          "LIVE LOCK中、または再生中のため編集できません" },
    };
    // What the boxes show, as the session holds it.
    const auto shown = [&r] {
        const auto& playlist = *currentPlaylist (r.session->undoHistory().current());
        std::vector<float> values { r.session->masterGain() };
        for (const auto v : r.session->limiterValues())
            values.push_back (v);
        for (const auto& row : playlist.rows)
            values.push_back (row.gainDb);
        return std::make_pair (values, playlist.memo);
    };
    const auto before = shown();
    for (const auto& box : boxes)
    {
        SCOPED_TRACE (box.what);
        r.session->setStatus ("");
        r.click (box.where());
        EXPECT_EQ (r.session->lastStatus(), translate (box.why));
        EXPECT_FALSE (textInputActive()) << "the locked box took the keyboard";
        std::vector<std::string> answers;
        for (const auto& k : { typed ('-'), typed ('3'), backspace, typed (' '), returnKey, returnKey })
        {
            answers.push_back (r.key (k));
            EXPECT_TRUE (answers.size() != 5 || r.session->lastStatus() == translate (box.why)) << "the typing did not say why";
        }
        // The second Return is the show's again.
        EXPECT_EQ (answers, (std::vector<std::string> { "kept", "kept", "kept", "kept", "kept", "used" }));
        // Every key that edits the text or moves within it is typing too: the Space and the
        // Return after it are the box's.
        for (const auto& k : textKeys)
        {
            SCOPED_TRACE (k.getTextDescription());
            r.click (box.where());
            r.session->setStatus ("");
            answers.clear();
            for (const auto& then : { k, typed (' '), returnKey })
                answers.push_back (r.key (then));
            EXPECT_EQ (answers, (std::vector<std::string> { "kept", "kept", "kept" }));
            EXPECT_EQ (r.session->lastStatus(), translate (box.why)) << "the typing did not say why";
        }
        r.click (box.where());
    }
    EXPECT_EQ (shown(), before) << "the typing changed a value";
}

TEST (RefusedTyping, TheShowsKeysWorkBeforeTypingAndAfterItEnds)
{
    LockedRig r;
    if (! r.display.running())
        GTEST_SKIP() << r.display.problem;
    auto& gain = byId<GainControl> (r.view, "track-gain");
    auto& pads = byId<juce::Component> (r.view, "stop-pads");
    struct Case
    {
        const char* what;
        std::vector<juce::KeyPress> keys;
        std::vector<std::string> answers;
        bool clickElsewhereFirst = false;
    };
    const Case cases[] = {
        { "Return alone is GO", { returnKey, typed ('3') }, { "used", "passed" } },
        { "an arrow is typing", { down, returnKey, down }, { "kept", "kept", "used" } },
        { "Ctrl+Z before any typing is the show's and ends it",
          { juce::KeyPress ('z', juce::ModifierKeys::ctrlModifier, 0), typed ('-') }, { "used", "passed" } },
        { "Escape before typing gives the keys back", { escape, typed ('-') }, { "passed", "passed" } },
        { "Escape ends the typing, kept itself", { typed ('-'), escape, returnKey }, { "kept", "kept", "used" } },
        { "Tab ends the typing, kept itself", { typed ('4'), tab, returnKey }, { "kept", "kept", "used" } },
        { "while typing, a show's key is the box's", { typed ('1'), down, returnKey, down }, { "kept", "kept", "kept", "used" } },
        { "a click elsewhere ends it", { typed ('3') }, { "passed" }, true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        r.click (LockedRig::valueBox (gain.slider));
        if (c.clickElsewhereFirst)
            r.click (pads.localPointToGlobal (pads.getLocalBounds().getCentre()));
        std::vector<std::string> answers;
        for (const auto& k : c.keys)
            answers.push_back (r.key (k));
        EXPECT_EQ (answers, c.answers);
        r.click (pads.localPointToGlobal (pads.getLocalBounds().getCentre()));
    }
}
} // namespace
} // namespace vantrel
