#include "platform/X11Window.h"
#include "session/Preferences.h"
#include "support/EnvironmentVariable.h"
#include "support/MessagePump.h"
#include "support/ToolRun.h"
#include "support/X11Inspector.h"
#include "support/XvfbServer.h"
#include "ui/KeyRouting.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>

namespace vantrel
{
namespace
{
using juce::KeyPress;
constexpr int ctrl = juce::ModifierKeys::ctrlModifier, shift = juce::ModifierKeys::shiftModifier;

TEST (KeySource, NamesThePhysicalKeyOfEveryPressJuceReportsOnX11)
{
    struct Case
    {
        const char* name;
        KeyPress key;
        int virtualKey, keypadVirtualKey;
    } cases[] = {
        { "a", KeyPress ('a'), 65, 0 },
        { "Shift+a", KeyPress ('A', shift, 'A'), 65, 0 },
        { "Ctrl+z", KeyPress ('z', ctrl, 26), 90, 0 },
        { "Ctrl+Shift+z", KeyPress ('Z', ctrl | shift, 26), 90, 0 },
        { "0 or KP_0", KeyPress ('0'), 48, 96 },
        { "3 or KP_3", KeyPress ('3'), 51, 99 },
        { "Ctrl+8, which Xlib gives as DEL", KeyPress (127, ctrl, 127), 56, 0 },
        { "Shift+1", KeyPress ('!', shift, '!'), 49, 0 },
        { "Shift+8 or KP_Multiply", KeyPress ('*', shift, '*'), 56, 106 },
        { "Shift+= or KP_Add", KeyPress ('+', shift, '+'), 187, 107 },
        { "=", KeyPress ('='), 187, 0 },
        { "- or KP_Subtract", KeyPress ('-'), 189, 109 },
        { "Shift+-", KeyPress ('_', shift, '_'), 189, 0 },
        { ". or KP_Decimal", KeyPress ('.'), 190, 110 },
        { "/ or KP_Divide", KeyPress ('/'), 191, 111 },
        { ";", KeyPress (';'), 186, 0 },
        { "Shift+]", KeyPress ('}', shift, '}'), 221, 0 },
        { "Return or KP_Enter", KeyPress (KeyPress::returnKey), 13, 13 },
        { "Space", KeyPress (KeyPress::spaceKey), 32, 0 },
        { "Backspace", KeyPress (KeyPress::backspaceKey), 8, 0 },
        { "Delete or KP_Delete", KeyPress (KeyPress::deleteKey), 46, 46 },
        { "Page Down or KP_Next", KeyPress (KeyPress::pageDownKey), 34, 34 },
        { "Down or KP_Down", KeyPress (KeyPress::downKey), 40, 40 },
        { "F12", KeyPress (KeyPress::F12Key), 123, 0 },
        { "a letter no US key has", KeyPress (0xe9), 0, 0 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto source = keySourceFor (c.key);
        EXPECT_EQ (source.virtualKey, c.virtualKey);
        EXPECT_EQ (source.keypadVirtualKey, c.keypadVirtualKey);
        EXPECT_EQ (source.probe != 0, c.virtualKey != 0);
        EXPECT_EQ (source.keypadProbe != 0, c.keypadVirtualKey != 0);
    }
}

TEST (KeySource, ProducesEveryKeyThePreferencesCanBind)
{
    std::vector<int> juceCodes { 127 };
    for (int c = 32; c < 127; ++c)
        juceCodes.push_back (c);
    for (int code : { KeyPress::returnKey, KeyPress::backspaceKey, KeyPress::deleteKey, KeyPress::leftKey,
                      KeyPress::upKey, KeyPress::rightKey, KeyPress::downKey })
        juceCodes.push_back (code);
    for (int f = 0; f < 12; ++f)
        juceCodes.push_back (KeyPress::F1Key + f);

    std::set<int> produced;
    for (const auto code : juceCodes)
    {
        const auto source = keySourceFor (KeyPress (code));
        produced.insert ({ source.virtualKey, source.keypadVirtualKey });
    }
    for (int key = 1; key < 256; ++key)
        for (const bool withCtrl : { false, true })
        {
            if (isSupportedShortcut (key, withCtrl))
            {
                EXPECT_EQ (produced.count (key), 1u) << "virtual key " << key;
            }
        }
}

// ---- a real window on a private X server, driven by xdotool ------------------------------------

struct Recorder : ShortcutHandler
{
    struct Call
    {
        char kind;   // 'k' shortcut, 'r' release, 'c' clear held keys, 'w' wheel, 'u' unbind wheel
        int key = 0;
        bool repeat = false, ctrl = false, shift = false;
        double notches = 0.0;
    };
    std::vector<Call> calls;
    std::function<bool()> consume = [] { return true; };

    bool handleShortcut (int key, bool repeat, bool c, bool s) override
    {
        calls.push_back ({ 'k', key, repeat, c, s });
        return consume();
    }
    void releaseHeldKey (int key) override { calls.push_back ({ 'r', key }); }
    void clearHeldKeys() override { calls.push_back ({ 'c' }); }
    bool handleWheel (double notches) override
    {
        calls.push_back ({ 'w', 0, false, false, false, notches });
        return consume();
    }
    void releaseWheelTarget() override { calls.push_back ({ 'u' }); }

    std::vector<Call> of (char kind, int key = -1) const
    {
        std::vector<Call> found;
        for (const auto& c : calls)
            if (c.kind == kind && (key < 0 || c.key == key))
                found.push_back (c);
        return found;
    }
};

struct Rows : juce::ListBoxModel
{
    explicit Rows (bool offering) : offering (offering) {}
    int getNumRows() override { return 300; }
    void paintListBoxItem (int, juce::Graphics&, int, int, bool) override {}
    void returnKeyPressed (int) override { ++returns; }
    juce::Component* refreshComponentForRow (int, bool, juce::Component* existing) override
    {
        if (! offering || existing != nullptr)
            return existing;
        return new WheelFirst<juce::Component>();
    }
    const bool offering;
    int returns = 0;
};

struct Controls : juce::Component
{
    Controls()
    {
        editor.setMultiLine (true);
        slider.setRange (0.0, 100.0, 1.0);
        slider.setValue (50.0);
        button.onClick = [this] { ++clicks; };
        valueBox.setEditable (true);   // opens its editor on the click's release, like a gain's value box
        for (auto* c : std::initializer_list<juce::Component*> { &editor, &list, &offeringList, &slider, &button, &valueBox })
            addAndMakeVisible (c);
        list.updateContent();
        offeringList.updateContent();
        setSize (1200, 600);
    }
    void resized() override
    {
        auto area = getLocalBounds().reduced (40);
        for (auto* c : std::initializer_list<juce::Component*> { &editor, &list, &offeringList })
            c->setBounds (area.removeFromLeft (250).withTrimmedRight (20));
        slider.setBounds (area.removeFromTop (60));
        button.setBounds (area.removeFromTop (60).withWidth (120));
        valueBox.setBounds (area.removeFromTop (30).withWidth (120));
    }
    Rows rows { false }, offeringRows { true };
    WheelFirst<juce::TextEditor> editor;
    WheelFirst<juce::ListBox> list { "list", &rows };
    juce::ListBox offeringList { "offering list", &offeringRows };
    WheelFirst<juce::Slider> slider;
    juce::TextButton button { "button" };
    juce::Label valueBox { "value", "0" };
    int clicks = 0;
};

struct MainWindow : juce::DocumentWindow
{
    explicit MainWindow (ShortcutHandler& handler) : juce::DocumentWindow ("keys", juce::Colours::darkgrey, 0, true)
    {
        setContentNonOwned (&controls, true);
        setTopLeftPosition (50, 50);
        setVisible (true);
        router = std::make_unique<KeyRouter> (*this, handler);
    }
    ~MainWindow() override
    {
        router.reset();
        clearContentComponent();
    }
    void activeWindowStatusChanged() override
    {
        if (router != nullptr)
            router->windowActivityChanged (isActiveWindow());
    }
    Controls controls;
    std::unique_ptr<KeyRouter> router;
};

bool onPath (const char* program)
{
    for (const auto& folder : juce::StringArray::fromTokens (juce::SystemStats::getEnvironmentVariable ("PATH", {}), ":", {}))
        if (juce::File::isAbsolutePath (folder) && juce::File (folder).getChildFile (program).existsAsFile())
            return true;
    return false;
}

class KeyRoutingOnX11 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (platform::XvfbServer::programPath().empty() || ! onPath ("xdotool"))
            GTEST_SKIP() << "Xvfb or xdotool is not installed: key routing needs a real X server";
        std::string error;
        ASSERT_TRUE (server.start (200, 400, error, 1600, 1000)) << error;
        const char* display = std::getenv ("DISPLAY");
        previousDisplay = display != nullptr ? display : "";
        platform::setEnvironmentVariable ("DISPLAY", server.displayName());
        platform::prepareX11();   // X errors recorded, not fatal: JUCE installs no handler outside an app
        gui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        window = std::make_unique<MainWindow> (handler);
        controls().addMouseListener (&pointer, true);
        // Under Xvfb the first key xdotool sends comes with one more X focus change (FocusOut,
        // FocusIn), after which JUCE gives the keyboard focus to the window itself: a first key
        // settles that before any case.
        ASSERT_TRUE (focus (controls().list) && keys ({ "F11" }, 1));
        handler.calls.clear();
        ASSERT_TRUE (focus (controls().list));
    }

    void TearDown() override
    {
        if (window != nullptr)
            controls().removeMouseListener (&pointer);
        window.reset();
        gui.reset();
        platform::setEnvironmentVariable ("DISPLAY", previousDisplay);
        server.stop();
    }

    Controls& controls() { return window->controls; }

    /** Gives the window the X input focus, as a window manager would, then the component the
        keyboard focus. A JUCE window that gets the X focus with no earlier focused component
        gives the keyboard focus to itself, so its focus event must be handled first. Once JUCE
        has seen a pointer move made later, it has seen every event before it (a round trip of
        ours, like isFocused, can leave events in Xlib's queue that JUCE reads only when more
        arrive; the move brings more). */
    bool focus (juce::Component& c)
    {
        auto* peer = window->getPeer();
        const auto id = juce::String ((juce::int64) (juce::pointer_sized_int) (peer != nullptr ? peer->getNativeHandle() : nullptr));
        const auto xFocused = peer != nullptr && platform::pumpMessagesUntil ([&]
        {
            return peer->isFocused() || (xdotool ({ "windowfocus", id }) && peer->isFocused());   // refused until mapped
        });
        const juce::Point<int> corner (syncs++ % 2 == 0 ? 1190 : 1180, 590);
        const auto synced = pointAt (controls(), corner) && platform::pumpMessagesUntil ([&]
        {
            return pointer.lastMove == controls().localPointToGlobal (corner) && window->isActiveWindow();
        });
        c.grabKeyboardFocus();
        return xFocused && synced && platform::pumpPostedMessages() && c.hasKeyboardFocus (false);
    }

    static bool xdotool (const juce::StringArray& arguments)
    {
        return test::runTool (test::toolCommand ("xdotool", arguments), 60000);
    }

    static bool pointAt (juce::Component& c, juce::Point<int> local)
    {
        const auto p = c.localPointToGlobal (local);
        return xdotool ({ "mousemove", juce::String (p.x), juce::String (p.y) });
    }

    /** Sends the keys and waits until the handler has had `count` more shortcuts. */
    bool keys (const juce::StringArray& names, size_t count)
    {
        const auto before = handler.of ('k').size();
        juce::StringArray arguments { "key" };
        arguments.addArray (names);
        return xdotool (arguments) && platform::pumpMessagesUntil ([&] { return handler.of ('k').size() >= before + count; });
    }

    Recorder handler;
    platform::XvfbServer server;
    std::string previousDisplay;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> gui;
    std::unique_ptr<MainWindow> window;
    int syncs = 0;

    /** Where JUCE last saw the pointer move: it follows the event stream, unlike
        MouseInputSource::getScreenPosition, which asks the X server. */
    struct PointerWatch : juce::MouseListener
    {
        void mouseMove (const juce::MouseEvent& e) override { lastMove = e.getScreenPosition(); }
        juce::Point<int> lastMove;
    } pointer;
};

TEST_F (KeyRoutingOnX11, ReturnReachesTheHandlerBeforeTheFocusedControl)
{
    struct Case
    {
        const char* name;
        juce::Component* target;
        bool consume;
        std::function<bool()> controlActed;
    } cases[] = {
        { "list, consumed", &controls().list, true, [&] { return controls().rows.returns > 0; } },
        { "list, refused", &controls().list, false, [&] { return controls().rows.returns > 0; } },
        { "button, consumed", &controls().button, true, [&] { return controls().clicks > 0; } },
        { "button, refused", &controls().button, false, [&] { return controls().clicks > 0; } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        handler.calls.clear();
        controls().rows.returns = controls().clicks = 0;
        controls().list.selectRow (0);   // a list acts on Return only with a selected row
        handler.consume = [&] { return c.consume; };
        ASSERT_TRUE (focus (*c.target));
        ASSERT_TRUE (keys ({ "Return" }, 1));
        if (! c.consume)
        {
            ASSERT_TRUE (platform::pumpMessagesUntil (c.controlActed));
        }
        ASSERT_TRUE (platform::pumpPostedMessages());   // a button clicks through a posted message
        const auto shortcuts = handler.of ('k');
        ASSERT_EQ (shortcuts.size(), 1u);   // once, though the router listens on the control and the window
        EXPECT_EQ (shortcuts[0].key, 13);
        EXPECT_FALSE (shortcuts[0].repeat || shortcuts[0].ctrl || shortcuts[0].shift);
        EXPECT_EQ (c.controlActed(), ! c.consume);
    }
}

TEST_F (KeyRoutingOnX11, AKeyThatXlibQueuedDuringARoundTripArrivesWithoutMoreEvents)
{
    // xdotool ends once the server has sent the key to JUCE's connection; a round trip made on the
    // message thread before JUCE read it (JUCE asking for the focus) puts it in Xlib's queue, and
    // then nothing more comes from the server: no repaint, no pointer move.
    const auto before = handler.of ('k').size();
    ASSERT_TRUE (xdotool ({ "key", "F2" }));
    ASSERT_TRUE (window->getPeer()->isFocused());
    EXPECT_TRUE (platform::pumpMessagesUntil ([&] { return handler.of ('k').size() > before; }, 5000))
        << "the key stayed in Xlib's queue";
}

TEST_F (KeyRoutingOnX11, AKeyThatXlibQueuedDuringARoundTripIsServedByTheLoopsNextPass)
{
    // The GO key's way: read into Xlib's queue by a call that waited for a reply (a repaint, JUCE
    // asking for the focus), it is served as soon as that call is over, by the loop's next pass,
    // which waits for nothing: no poll interval of another thread stands in between.
    for (const char* key : { "F2", "Return", "F3" })
    {
        SCOPED_TRACE (key);
        const auto before = handler.of ('k').size();
        ASSERT_TRUE (xdotool ({ "key", key }));
        ASSERT_TRUE (window->getPeer()->isFocused());   // the round trip that reads the key
        platform::dispatchReadyMessages();
        EXPECT_EQ (handler.of ('k').size(), before + 1) << "the key waited in Xlib's queue";
        ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return handler.of ('k').size() > before; }));
    }
}

TEST_F (KeyRoutingOnX11, MapsModifiersKeypadDigitsAndIgnoresAlt)
{
    struct Case
    {
        const char* keys;
        int virtualKey;   // 0: nothing reaches the handler
        bool ctrl, shift;
    } cases[] = {
        { "ctrl+z", 90, true, false },       { "ctrl+shift+z", 90, true, true },
        { "alt+Return", 0, false, false },   { "KP_3", 99, false, false },
        { "3", 51, false, false },           { "KP_0", 96, false, false },
        { "KP_Next", 34, false, false },     { "KP_Enter", 13, false, false },
        { "shift+1", 49, false, true },      { "ctrl+8", 56, true, false },
        { "F12", 123, false, false },        { "Delete", 46, false, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.keys);
        handler.calls.clear();
        // xdotool has pressed and released the key before the loop runs again: the keypad is
        // told from the key states at the time of the press, not from the keyboard now.
        ASSERT_TRUE (keys ({ c.keys, "F5" }, c.virtualKey != 0 ? 2 : 1));
        const auto shortcuts = handler.of ('k');
        ASSERT_EQ (shortcuts.size(), c.virtualKey != 0 ? 2u : 1u);
        EXPECT_EQ (shortcuts.back().key, 116);   // F5, the marker that ends the case
        if (c.virtualKey == 0)
            continue;
        EXPECT_EQ (shortcuts[0].key, c.virtualKey);
        EXPECT_FALSE (shortcuts[0].repeat);
        EXPECT_EQ (shortcuts[0].ctrl, c.ctrl);
        EXPECT_EQ (shortcuts[0].shift, c.shift);
    }
}

TEST_F (KeyRoutingOnX11, AHeldKeyRepeatsUntilItsKeyUpAndAModifierReleaseIsAKeyUp)
{
    ASSERT_TRUE (xdotool ({ "keydown", "Down" }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return handler.of ('k', 40).size() >= 10; }));   // nine repeats
    ASSERT_TRUE (xdotool ({ "keyup", "Down" }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return ! handler.of ('r', 40).empty(); }));
    const auto presses = handler.of ('k', 40);
    EXPECT_FALSE (presses[0].repeat);
    for (size_t i = 1; i < presses.size(); ++i)
        EXPECT_TRUE (presses[i].repeat) << i;
    EXPECT_EQ (handler.of ('r', 40).size(), 1u);
    EXPECT_TRUE (controls().list.getSelectedRows().isEmpty());   // the list never saw Down

    ASSERT_TRUE (xdotool ({ "keydown", "shift", "key", "a" }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return ! handler.of ('k', 65).empty(); }));
    EXPECT_TRUE (handler.of ('r', 16).empty());
    ASSERT_TRUE (xdotool ({ "keyup", "shift" }));
    EXPECT_TRUE (platform::pumpMessagesUntil ([&] { return ! handler.of ('r', 16).empty(); }));
}

TEST_F (KeyRoutingOnX11, DeactivationForgetsHeldKeysThatGetNoKeyUp)
{
    ASSERT_TRUE (xdotool ({ "keydown", "Down" }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return ! handler.of ('k', 40).empty(); }));

    // Another program's window takes the X focus; this one gets no key-up of the held key.
    std::string error;
    auto outside = platform::X11Inspector::open (server.displayName(), error);
    ASSERT_NE (outside, nullptr) << error;
    const auto otherWindow = outside->createSolidWindow (1300, 700, 200, 200, 0x336699);
    ASSERT_TRUE (xdotool ({ "windowfocus", juce::String ((juce::int64) otherWindow) }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return ! handler.of ('c').empty() && ! handler.of ('u').empty(); }));
    ASSERT_TRUE (xdotool ({ "keyup", "Down" }));

    handler.calls.clear();
    ASSERT_TRUE (focus (controls().list));
    ASSERT_TRUE (keys ({ "Down" }, 1));
    EXPECT_FALSE (handler.of ('k', 40)[0].repeat);
}

TEST_F (KeyRoutingOnX11, TypingInAFocusedTextEditorNeverReachesTheHandler)
{
    handler.consume = [] { return true; };
    ASSERT_TRUE (focus (controls().editor));
    ASSERT_TRUE (xdotool ({ "key", "a", "space", "1", "KP_Add", "b" }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return controls().editor.getText() == "a 1+b"; })) << controls().editor.getText();
    EXPECT_TRUE (handler.of ('k').empty()) << "a key typed into the editor reached the shortcuts";

    // The editor without the focus: the next key is a shortcut again.
    controls().editor.giveAwayKeyboardFocus();
    ASSERT_TRUE (keys ({ "a" }, 1));
    EXPECT_EQ (handler.of ('k').back().key, 65);
}

// JUCE tells focus changes later, through a posted message; keys typed right after the click
// that opened a field can be read before it. A Return held there must not reach the shortcuts
// when the field has closed and the key's auto-repeats come to the window.
TEST_F (KeyRoutingOnX11, KeysTypedRightAfterTheClickThatOpensAFieldStayTheFields)
{
    handler.consume = [] { return true; };
    auto& box = controls().valueBox;
    const auto at = box.localPointToGlobal (box.getLocalBounds().getCentre());
    // One run of xdotool: the click and the keys are all queued before JUCE reads the first,
    // as on a busy message thread.
    ASSERT_TRUE (xdotool ({ "mousemove", juce::String (at.x), juce::String (at.y), "click", "1",
                            "key", "minus", "6", "keydown", "Return" }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return box.getText() == "-6" && ! box.isBeingEdited(); })) << box.getText();
    // Still held: its repeats come to a window whose field has closed. F11 marks the end.
    ASSERT_TRUE (xdotool ({ "sleep", "1", "keyup", "Return", "key", "F11" }));
    ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return ! handler.of ('k', 122).empty(); }));
    EXPECT_TRUE (handler.of ('k', 13).empty()) << "the Return held in the field reached the shortcuts";
    EXPECT_TRUE (handler.of ('k', 54).empty() && handler.of ('k', 189).empty()) << "the typed text reached the shortcuts";
}

TEST_F (KeyRoutingOnX11, WheelTurnsReachTheHandlerFirstInNotches)
{
    auto& c = controls();
    c.editor.setText (juce::String::repeatedString ("line\n", 200));
    c.list.getViewport()->setViewPosition (0, 1000);
    c.offeringList.getViewport()->setViewPosition (0, 1000);
    struct Case
    {
        const char* name;
        juce::Component* over;
        const char* button;   // 4 up, 5 down
        bool consume;
        double notches;       // 0: not offered
        std::function<int()> position;
    } cases[] = {
        { "slider, consumed", &c.slider, "4", true, 1.0, [&] { return (int) c.slider.getValue(); } },
        { "slider, refused", &c.slider, "5", false, -1.0, [&] { return (int) c.slider.getValue(); } },
        { "editor, consumed", &c.editor, "5", true, -1.0, [&] { return c.editor.getCaretRectangleForCharIndex (0).getY(); } },
        { "editor, refused", &c.editor, "5", false, -1.0, [&] { return c.editor.getCaretRectangleForCharIndex (0).getY(); } },
        { "offering rows, consumed", &c.offeringList, "4", true, 1.0, [&] { return c.offeringList.getViewport()->getViewPositionY(); } },
        { "offering rows, refused", &c.offeringList, "4", false, 1.0, [&] { return c.offeringList.getViewport()->getViewPositionY(); } },
        // The list's private viewport scrolls before WheelFirst<ListBox> is asked.
        { "list rows, the viewport first", &c.list, "4", true, 0.0, [&] { return c.list.getViewport()->getViewPositionY(); } },
    };
    for (const auto& k : cases)
    {
        SCOPED_TRACE (k.name);
        handler.calls.clear();
        handler.consume = [&] { return k.consume; };
        const auto before = k.position();
        ASSERT_TRUE (pointAt (*k.over, k.over->getLocalBounds().getCentre()));
        ASSERT_TRUE (xdotool ({ "click", k.button }));
        ASSERT_TRUE (platform::pumpMessagesUntil ([&] { return ! handler.of ('w').empty() || k.position() != before; }));
        ASSERT_TRUE (platform::pumpPostedMessages());
        const auto offered = handler.of ('w');
        ASSERT_EQ (offered.size(), k.notches != 0.0 ? 1u : 0u);   // once, though the turn travels on
        if (k.notches != 0.0)
        {
            EXPECT_EQ (offered[0].notches, k.notches);
        }
        EXPECT_EQ (k.position() != before, ! k.consume || k.notches == 0.0);
    }
}
} // namespace
} // namespace vantrel
