#pragma once

// Message thread only.
//
// The main window's keys and wheel turns reach the main view before whichever control has the
// keyboard focus or sits under the mouse. JUCE 7 on X11 has no message hook, so the window's
// router listens on the window itself and on every component of it that takes the focus (JUCE
// offers a key to the focused component's key listeners before the component, then walks up).

#include "platform/X11Keyboard.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

namespace vantrel
{
/** Where the main window sends keys and wheel turns before any control sees them. Message thread. */
class ShortcutHandler
{
public:
    virtual ~ShortcutHandler() = default;
    /** A key-down; virtualKey is a Windows virtual-key code (below). Returns true when consumed. */
    virtual bool handleShortcut (int virtualKey, bool isRepeat, bool ctrl, bool shift) = 0;
    /** A key-up of a key that was pressed. */
    virtual void releaseHeldKey (int virtualKey) = 0;
    /** Forget every held key (focus lost, window deactivated). */
    virtual void clearHeldKeys() = 0;
    /** A wheel turn in notches (one detent = 1.0, up positive). Returns true when consumed. */
    virtual bool handleWheel (double notches) = 0;
    /** The window was deactivated: drop the wheel binding. */
    virtual void releaseWheelTarget() = 0;
    /** The window was deactivated: typing that was on its way anywhere is over. */
    virtual void windowLostKeyboard() {}
    /** Any key press, before the shortcuts and the focused control: true when it is kept for a
        dialog's field that is on its way (typed ahead); such a key runs no shortcut. */
    virtual bool holdTypedKey (const juce::KeyPress&)  { return false; }
};

/** The physical key behind a JUCE key press on X11, as Windows virtual-key codes (US layout).
    JUCE merges the keypad's keys with the main ones (KP_3 arrives as '3', KP_Next as Page Down),
    so a key the keypad also has carries both candidates. A probe is a JUCE key code for which
    juce::KeyPress::isKeyCurrentlyDown tells whether that physical key is down. */
struct KeySource
{
    int virtualKey = 0;        // 0: no virtual key; the press is passed on untouched
    int probe = 0;
    int keypadVirtualKey = 0;  // 0: the keypad has no such key
    int keypadProbe = 0;
};

/** The key source of a press as JUCE 7 reports it on X11: letters in either case (lower case
    under Ctrl), shifted US characters ('!' is the 1 key), 127 for Ctrl+8 (Xlib's control code). */
KeySource keySourceFor (const juce::KeyPress& key);

/** True while a text field (a juce::TextEditor: value boxes, inline edits, the memo, dialog and
    search fields) has the keyboard focus: its keys are its own, and no shortcut or wheel binding
    acts. */
bool textInputActive();

/** Notches of a wheel turn: JUCE on X11 reports one detent as deltaY = 50/256 (up positive). */
double wheelNotches (const juce::MouseWheelDetails& wheel);

/** Sends the keys and wheel turns of one top-level window to a ShortcutHandler first.
    Construct it after the window's other key listeners are added: JUCE calls the listeners of
    a component from the last added, and the router must come first. */
class KeyRouter : public juce::KeyListener,
                  private juce::FocusChangeListener,
                  private juce::MouseListener,
                  private juce::Timer
{
public:
    KeyRouter (juce::Component& topLevelWindow, ShortcutHandler& handler);
    /** Leaves every component it listens on that still exists. */
    ~KeyRouter() override;

    /** The window's activeWindowStatusChanged: when it goes inactive, every held key and the
        wheel binding are dropped (X sends no key-up to a window that lost the focus). */
    void windowActivityChanged (bool active);

    /** Offers a wheel turn to the handler once: the same turn passed on by a second component
        gets the first answer. True when consumed. */
    bool offerWheel (const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel);

    /** The router of the top-level window that holds `component`, or null. */
    static KeyRouter* forComponent (const juce::Component& component);

    bool keyPressed (const juce::KeyPress& key, juce::Component* origin) override;
    bool keyStateChanged (bool isKeyDown, juce::Component* origin) override;

private:
    /** Shared by every router: keys that Xlib queued while JUCE waited for a reply are served
        within 2 ms, not at the server's next message (on an idle screen, never). */
    std::shared_ptr<platform::QueuedEventWaker> queuedEventWaker;

    struct HeldKey
    {
        int probe;
        int virtualKey;
    };

    void globalFocusChanged (juce::Component* focused) override;
    /** A click that gave a field the focus (a value box opens its editor on the release) is
        followed at once: JUCE reports focus changes asynchronously, and keys typed right after
        the click could reach the field before the router listens on it. */
    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;
    /** Listens on the focused component now if it is in the window and not listened on yet. */
    void followFocus();
    void timerCallback() override;
    void listenOn (juce::Component& component);
    bool listensOn (const juce::Component* component) const;
    /** True when this call is the first one of JUCE's walk for the current key press. */
    bool startsKeyWalk (const juce::Component* origin) const;
    /** Decides which candidate key of a press went down; updates the held keys. */
    int pressedVirtualKey (const KeySource& source, bool& isRepeat);
    /** Key-ups: every held key and modifier that is no longer down is released. */
    void releaseKeysNoLongerDown();

    juce::Component::SafePointer<juce::Component> window;
    ShortcutHandler& handler;
    std::vector<juce::Component::SafePointer<juce::Component>> focusedComponents;
    std::vector<HeldKey> heldKeys;      // in press order
    std::vector<int> typedKeys;         // virtual keys pressed into a text field, still down
    int heldModifiers = 0;              // juce::ModifierKeys flags seen down, not yet released

    struct WheelTurn
    {
        int counter = -1;
        juce::Time time;
        const juce::Component* origin = nullptr;
        bool consumed = false;
    } lastWheelTurn;

    JUCE_DECLARE_NON_COPYABLE (KeyRouter)
};

/** Offers a wheel turn that reached `component` to the router of its top-level window. The main
    view's own mouseWheelMove calls it for the turns that bubble up to it. */
bool offerWheelToRouter (juce::Component& component, const juce::MouseEvent& event,
                         const juce::MouseWheelDetails& wheel);

/** A control that offers wheel turns to its window's router before it uses them itself.
    Wrap the component that consumes the turn: Slider, TextEditor (its inner viewport does not
    intercept the mouse, so the editor gets the turn) and a Viewport of one's own. A ListBox is
    different: the turn reaches the row under the mouse, then the list's private inner Viewport,
    which scrolls and consumes it before ListBox::mouseWheelMove is called (checked in the tests).
    WheelFirst<juce::ListBox> therefore only sees the turns the viewport leaves (nothing to scroll,
    Ctrl held); for the rest, the model's row components must offer the turn
    (refreshComponentForRow returning a WheelFirst<juce::Component>). */
template <class Base>
class WheelFirst : public Base
{
public:
    using Base::Base;

    void mouseWheelMove (const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel) override
    {
        if (! offerWheelToRouter (*this, event, wheel))
            Base::mouseWheelMove (event, wheel);
    }
};
} // namespace vantrel
