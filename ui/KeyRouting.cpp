#include "ui/KeyRouting.h"

#include "platform/X11Keyboard.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace vantrel
{
namespace
{
using juce::KeyPress;

// JUCE on X11 codes a key whose keysym is 0xffNN as NN plus its extended-key flag, and
// isKeyCurrentlyDown turns such a code back into that keysym. KP_Enter (0xff8d) has no JUCE name.
int keypadEnterProbe()
{
    return (KeyPress::numberPad0 & ~0xff) | 0x8d;
}

// The keys JUCE names. With NumLock off JUCE reports the keypad's keys as navigation keys (KP_3
// as Page Down); they are the keypad digits' physical keys, so the digits' codes are their probes.
struct NamedKey
{
    int juceKey;
    int virtualKey;
    int keypadProbe;
};

const std::vector<NamedKey>& namedKeys()
{
    static const std::vector<NamedKey> keys {
        { KeyPress::insertKey, 45, KeyPress::numberPad0 },   { KeyPress::endKey, 35, KeyPress::numberPad1 },
        { KeyPress::downKey, 40, KeyPress::numberPad2 },     { KeyPress::pageDownKey, 34, KeyPress::numberPad3 },
        { KeyPress::leftKey, 37, KeyPress::numberPad4 },     { KeyPress::rightKey, 39, KeyPress::numberPad6 },
        { KeyPress::homeKey, 36, KeyPress::numberPad7 },     { KeyPress::upKey, 38, KeyPress::numberPad8 },
        { KeyPress::pageUpKey, 33, KeyPress::numberPad9 },   { KeyPress::deleteKey, 46, KeyPress::numberPadDelete },
        { KeyPress::returnKey, 13, 0 },                      { KeyPress::escapeKey, 27, 0 },
        { KeyPress::backspaceKey, 8, 0 },                    { KeyPress::tabKey, 9, 0 },
        { KeyPress::spaceKey, 32, 0 },
    };
    return keys;
}

// US punctuation, plain and shifted, as the Windows OEM codes; four of the keypad's keys arrive
// as the same characters as a main key.
struct CharacterKey
{
    char plain, shifted;
    int virtualKey;
    char keypadCharacter;
    int keypadVirtualKey, keypadProbe;
};

const std::vector<CharacterKey>& characterKeys()
{
    static const std::vector<CharacterKey> keys {
        { ';', ':', 186, 0, 0, 0 },      { '=', '+', 187, '+', 107, KeyPress::numberPadAdd },
        { ',', '<', 188, 0, 0, 0 },      { '-', '_', 189, '-', 109, KeyPress::numberPadSubtract },
        { '.', '>', 190, '.', 110, KeyPress::numberPadDecimalPoint },
        { '/', '?', 191, '/', 111, KeyPress::numberPadDivide },
        { '`', '~', 192, 0, 0, 0 },      { '[', '{', 219, 0, 0, 0 },
        { '\\', '|', 220, 0, 0, 0 },     { ']', '}', 221, 0, 0, 0 },
        { '\'', '"', 222, 0, 0, 0 },
    };
    return keys;
}

std::vector<KeyRouter*>& routers()
{
    static std::vector<KeyRouter*> all;
    return all;
}

constexpr int heldModifierFlags = juce::ModifierKeys::shiftModifier | juce::ModifierKeys::ctrlModifier
                                | juce::ModifierKeys::altModifier;
} // namespace

KeySource keySourceFor (const KeyPress& key)
{
    const auto code = key.getKeyCode();

    for (const auto& k : namedKeys())
    {
        if (code == k.juceKey)
        {
            const auto keypadProbe = code == KeyPress::returnKey ? keypadEnterProbe() : k.keypadProbe;
            return { k.virtualKey, code, keypadProbe != 0 ? k.virtualKey : 0, keypadProbe };
        }
    }

    if (code >= KeyPress::F1Key && code <= KeyPress::F1Key + 23)
        return { 112 + code - KeyPress::F1Key, code, 0, 0 };

    if (code >= 'a' && code <= 'z')
        return { code - 'a' + 'A', code, 0, 0 };

    if (code >= 'A' && code <= 'Z')
        return { code, code - 'A' + 'a', 0, 0 };

    if (code >= '0' && code <= '9')
        return { code, code, 96 + code - '0', KeyPress::numberPad0 + code - '0' };

    if (code == 127)   // Xlib's control code for Ctrl+8
        return { '8', '8', 0, 0 };

    static const char shiftedDigits[] = ")!@#$%^&*(";

    for (int digit = 0; digit < 10; ++digit)
        if (code == shiftedDigits[digit])
            return { '0' + digit, code, digit == 8 ? 106 : 0, digit == 8 ? KeyPress::numberPadMultiply : 0 };

    for (const auto& k : characterKeys())
        if (code == k.plain || code == k.shifted)
            return code == k.keypadCharacter ? KeySource { k.virtualKey, code, k.keypadVirtualKey, k.keypadProbe }
                                             : KeySource { k.virtualKey, code, 0, 0 };

    return {};
}

bool textInputActive()
{
    return dynamic_cast<juce::TextEditor*> (juce::Component::getCurrentlyFocusedComponent()) != nullptr;
}

double wheelNotches (const juce::MouseWheelDetails& wheel)
{
    return wheel.deltaY * 256.0 / 50.0;
}

KeyRouter::KeyRouter (juce::Component& topLevelWindow, ShortcutHandler& h)
    : window (&topLevelWindow), handler (h)
{
    JUCE_ASSERT_MESSAGE_THREAD
    platform::useDetectableAutoRepeat();   // without it, some repeats look like a release and a new press
    static std::weak_ptr<platform::QueuedEventWaker> sharedWaker;   // message thread only
    queuedEventWaker = sharedWaker.lock();
    if (queuedEventWaker == nullptr)
    {
        queuedEventWaker = std::make_shared<platform::QueuedEventWaker>();
        sharedWaker = queuedEventWaker;
    }
    topLevelWindow.addKeyListener (this);
    topLevelWindow.addMouseListener (this, true);
    juce::Desktop::getInstance().addFocusChangeListener (this);
    routers().push_back (this);
    globalFocusChanged (juce::Component::getCurrentlyFocusedComponent());
}

KeyRouter::~KeyRouter()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto& all = routers();
    all.erase (std::remove (all.begin(), all.end(), this), all.end());
    juce::Desktop::getInstance().removeFocusChangeListener (this);

    for (auto& component : focusedComponents)
        if (component != nullptr)
            component->removeKeyListener (this);

    if (window != nullptr)
    {
        window->removeMouseListener (this);
        window->removeKeyListener (this);
    }
}

KeyRouter* KeyRouter::forComponent (const juce::Component& component)
{
    const auto* top = component.getTopLevelComponent();

    for (auto* router : routers())
        if (router->window.getComponent() == top)
            return router;

    return nullptr;
}

void KeyRouter::windowActivityChanged (bool active)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (active)
        return;

    heldKeys.clear();
    typedKeys.clear();
    heldModifiers = 0;
    stopTimer();
    handler.clearHeldKeys();
    handler.releaseWheelTarget();
    handler.windowLostKeyboard();
}

bool KeyRouter::offerWheel (const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (wheel.deltaY == 0.0f)
        return false;

    // A turn that a control refused travels on to its parents; each may offer it again. JUCE
    // counts the turns it delivers, and a turn keeps its time and first component on the way up.
    const WheelTurn turn { juce::Desktop::getInstance().getMouseWheelMoveCounter(), event.eventTime,
                           event.originalComponent, false };

    if (turn.counter == lastWheelTurn.counter && turn.time == lastWheelTurn.time && turn.origin == lastWheelTurn.origin)
        return lastWheelTurn.consumed;

    lastWheelTurn = turn;
    lastWheelTurn.consumed = handler.handleWheel (wheelNotches (wheel));
    return lastWheelTurn.consumed;
}

bool offerWheelToRouter (juce::Component& component, const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel)
{
    auto* router = KeyRouter::forComponent (component);
    return router != nullptr && router->offerWheel (event, wheel);
}

bool KeyRouter::keyPressed (const KeyPress& key, juce::Component* origin)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! startsKeyWalk (origin))
        return false;   // a later step of a walk whose first step came here already

    followFocus();   // the focus callback is asynchronous: the key came first

    releaseKeysNoLongerDown();
    heldModifiers |= juce::ModifierKeys::currentModifiers.getRawFlags() & heldModifierFlags;
    const auto source = key.getModifiers().isAltDown() ? KeySource {} : keySourceFor (key);
    bool isRepeat = false;
    const auto virtualKey = source.virtualKey != 0 ? pressedVirtualKey (source, isRepeat) : 0;

    if ((! heldKeys.empty() || heldModifiers != 0) && ! isTimerRunning())
        startTimer (25);   // also catches the key-ups that a control's keyStateChanged kept from us

    const auto typed = std::find (typedKeys.begin(), typedKeys.end(), virtualKey);

    if (handler.holdTypedKey (key))
    {
        // Typed ahead into a field: its auto-repeat after the field has closed acts on nothing.
        if (virtualKey != 0 && typed == typedKeys.end())
            typedKeys.push_back (virtualKey);
        handler.clearHeldKeys();
        return true;
    }

    if (virtualKey == 0)
        return false;      // Alt held, or no key of the table

    if (textInputActive())
    {
        // The field's own key: Return, Space, digits, arrows and DELETE edit the text. A key
        // pressed here stays the field's until it is released, also when the focus moves on.
        if (typed == typedKeys.end())
            typedKeys.push_back (virtualKey);
        handler.clearHeldKeys();
        return false;
    }

    if (typed != typedKeys.end())
    {
        if (isRepeat)
            return true;   // the auto-repeat of a key typed into a field that has closed
        typedKeys.erase (typed);
    }

    juce::Component::SafePointer<juce::Component> self (window);
    const bool used = handler.handleShortcut (virtualKey, isRepeat, key.getModifiers().isCtrlDown(), key.getModifiers().isShiftDown());
    if (self != nullptr)
        followFocus();   // a shortcut that opened a field: the next key may come before the focus callback
    return used;
}

bool KeyRouter::keyStateChanged (bool isKeyDown, juce::Component*)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! isKeyDown)
        releaseKeysNoLongerDown();

    return false;
}

int KeyRouter::pressedVirtualKey (const KeySource& source, bool& isRepeat)
{
    // JUCE's key states follow the X event stream (a press sets its keycode's bit before the key
    // is delivered, a release that is not part of an auto-repeat clears it), so they tell the
    // state at the time of this press even when the message thread is late. XQueryKeymap would
    // tell the state now: a quick tap is already released by then.
    const auto heldAt = [this] (int probe)
    {
        return std::find_if (heldKeys.begin(), heldKeys.end(), [probe] (const HeldKey& k) { return k.probe == probe; });
    };

    HeldKey chosen { source.probe, source.virtualKey };

    if (source.keypadProbe != 0 && KeyPress::isKeyCurrentlyDown (source.keypadProbe))
    {
        const bool mainDown = KeyPress::isKeyCurrentlyDown (source.probe);
        const auto keypadHeld = heldAt (source.keypadProbe), mainHeld = heldAt (source.probe);

        // Both keys down: the one not held yet is the new press; else X repeats the last pressed.
        const bool keypad = ! mainDown || (mainHeld != heldKeys.end() && (keypadHeld == heldKeys.end() || keypadHeld > mainHeld));

        if (keypad)
            chosen = { source.keypadProbe, source.keypadVirtualKey };
    }

    const auto held = heldAt (chosen.probe);
    isRepeat = held != heldKeys.end();

    if (isRepeat)
        heldKeys.erase (held);

    heldKeys.push_back (chosen);   // the last pressed key is the one X repeats
    return chosen.virtualKey;
}

void KeyRouter::releaseKeysNoLongerDown()
{
    std::vector<int> released;

    for (auto it = heldKeys.begin(); it != heldKeys.end();)
    {
        if (KeyPress::isKeyCurrentlyDown (it->probe))
        {
            ++it;
            continue;
        }

        released.push_back (it->virtualKey);
        it = heldKeys.erase (it);
    }

    // Modifiers reach no key callback; JUCE's modifier flags follow their presses and releases.
    const auto down = juce::ModifierKeys::currentModifiers.getRawFlags();

    for (const auto& [flag, virtualKey] : { std::pair { juce::ModifierKeys::shiftModifier, 16 },
                                            std::pair { juce::ModifierKeys::ctrlModifier, 17 },
                                            std::pair { juce::ModifierKeys::altModifier, 18 } })
    {
        if ((heldModifiers & flag) != 0 && (down & flag) == 0)
        {
            heldModifiers &= ~flag;
            released.push_back (virtualKey);
        }
    }

    if (heldKeys.empty() && heldModifiers == 0)
        stopTimer();

    for (const auto virtualKey : released)
    {
        typedKeys.erase (std::remove (typedKeys.begin(), typedKeys.end(), virtualKey), typedKeys.end());
        handler.releaseHeldKey (virtualKey);
    }
}

void KeyRouter::timerCallback()
{
    releaseKeysNoLongerDown();
}

bool KeyRouter::startsKeyWalk (const juce::Component* origin) const
{
    // JUCE's walk starts at the focused component (the window when none is), or at the modal
    // component that blocks it, and offers the key to each listener on the way up.
    juce::Component* start = juce::Component::getCurrentlyFocusedComponent();

    if (start == nullptr)
        start = window.getComponent();

    if (start != nullptr && start->isCurrentlyBlockedByAnotherModalComponent())
        if (auto* modal = juce::Component::getCurrentlyModalComponent())
            start = modal;

    return origin == start || ! listensOn (start);
}

void KeyRouter::globalFocusChanged (juce::Component* focused)
{
    focusedComponents.erase (std::remove (focusedComponents.begin(), focusedComponents.end(), nullptr),
                             focusedComponents.end());

    if (focused != nullptr && window != nullptr && focused != window.getComponent()
        && window->isParentOf (focused))
        listenOn (*focused);
}

void KeyRouter::mouseDown (const juce::MouseEvent&)         { followFocus(); }
void KeyRouter::mouseUp (const juce::MouseEvent&)           { followFocus(); }
void KeyRouter::mouseDoubleClick (const juce::MouseEvent&)  { followFocus(); }

void KeyRouter::followFocus()
{
    if (auto* focused = juce::Component::getCurrentlyFocusedComponent(); focused != nullptr && ! listensOn (focused))
        globalFocusChanged (focused);
}

void KeyRouter::listenOn (juce::Component& component)
{
    // Listeners are called from the last added: adding again puts the router in front of any
    // listener the component gained since.
    component.removeKeyListener (this);
    component.addKeyListener (this);

    if (! listensOn (&component))
        focusedComponents.emplace_back (&component);
}

bool KeyRouter::listensOn (const juce::Component* component) const
{
    if (component == nullptr)
        return false;

    return component == window.getComponent()
        || std::any_of (focusedComponents.begin(), focusedComponents.end(),
                        [component] (const auto& c) { return c.getComponent() == component; });
}
} // namespace vantrel
