#pragma once

#include "app/SessionTestSupport.h"
#include "platform/X11Window.h"
#include "support/EnvironmentVariable.h"
#include "support/MessagePump.h"
#include "support/PrivateDisplay.h"
#include "support/ToolRun.h"
#include "ui/Fonts.h"
#include "ui/VantrelView.h"

#include <chrono>
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace vantrel::test
{
/** Delivers the messages that are waiting (modal callbacks, async calls, X events). */
inline void runPendingMessages()
{
    platform::pumpPostedMessages (patienceMs);
}

struct PrivateGuiDisplay;
/** The display this process's GUI runs on, while there is one. */
inline PrivateGuiDisplay* currentGuiDisplay = nullptr;
inline void wakeGuiConnection();

/** Runs messages until the condition holds; false after the patience ran out. While it waits,
    the GUI's X connection is woken now and then: JUCE sleeps on its socket, and events that one
    of its own requests (a pointer query, say) read into Xlib's queue would otherwise wait there
    until some later event arrives — for ever in a test where nothing else happens. */
template <typename Condition>
bool runMessagesUntil (Condition condition)
{
    auto nextWake = std::chrono::steady_clock::now();
    return platform::pumpMessagesUntil ([&] {
        if (condition())
            return true;
        if (const auto now = std::chrono::steady_clock::now(); now >= nextWake)
        {
            wakeGuiConnection();
            nextWake = now + std::chrono::milliseconds (20);
        }
        return false;
    }, patienceMs);
}

/** The first component with the id at any depth under root (root included), or null. */
inline juce::Component* findById (juce::Component& root, const juce::String& id)
{
    if (root.getComponentID() == id)
        return &root;
    for (auto* child : root.getChildren())
        if (auto* found = findById (*child, id))
            return found;
    return nullptr;
}

template <typename Type>
Type& byId (juce::Component& root, const juce::String& id)
{
    auto* found = dynamic_cast<Type*> (findById (root, id));
    if (found == nullptr)
        throw std::runtime_error ("no component " + id.toStdString());
    return *found;
}

/** A private X server that this process's GUI connects to, started before the GUI framework;
    `problem` says why there is none. */
struct PrivateGuiDisplay : PrivateDisplay
{
    PrivateGuiDisplay()
    {
        start (161, 260, 1600, 1000, true);
        currentGuiDisplay = this;
    }
    ~PrivateGuiDisplay()  { currentGuiDisplay = nullptr; }
};

inline void wakeGuiConnection()
{
    if (currentGuiDisplay == nullptr || currentGuiDisplay->look == nullptr)
        return;
    auto& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* peer = desktop.getComponent (i)->getPeer())
        {
            currentGuiDisplay->look->wake ((std::uintptr_t) peer->getNativeHandle());
            return;   // one connection for all of them
        }
}

/** Runs xdotool on the private display while the messages keep running; true when it ran and
    succeeded. */
inline bool xdotoolOn (const PrivateDisplay& display, const juce::StringArray& args)
{
    Tool tool (toolCommand ("xdotool", args), { { { "DISPLAY", display.server.displayName() } } });
    return tool.started() && runMessagesUntil ([&] { return tool.ended(); }) && tool.succeeded();
}

inline bool xdotoolInstalled()
{
    return juce::File ("/usr/bin/xdotool").existsAsFile() || juce::File ("/usr/local/bin/xdotool").existsAsFile();
}

/** Mouse gestures handed to a window's peer exactly as the X11 layer hands it the server's events
    (mouse source, clicks, drag-and-drop all run as they do then), one step at a time with the
    messages between them run: the steps of a gesture cannot overtake each other on a busy
    machine, as the pointer events of another client can. JUCE still reads the real pointer's
    position at some steps (a button's release asks whether the pointer is over it): put the real
    pointer where the gesture ends before it starts. */
struct PeerPointer
{
    explicit PeerPointer (juce::Component& top) : top (top) {}

    void press (juce::Point<int> screen, bool right = false)
    {
        buttons = right ? juce::ModifierKeys::rightButtonModifier : juce::ModifierKeys::leftButtonModifier;
        send (screen);
    }
    void moveTo (juce::Point<int> screen)  { send (screen); }
    void release (juce::Point<int> screen)
    {
        buttons = 0;
        send (screen);
    }
    /** Press, a few moves on the straight line, release. */
    void drag (juce::Point<int> from, juce::Point<int> to, int steps = 4)
    {
        press (from);
        for (int i = 1; i <= steps; ++i)
            moveTo (from + (to - from) * i / steps);
        release (to);
    }
    void click (juce::Point<int> screen, bool right = false)
    {
        press (screen, right);
        release (screen);
    }

private:
    void send (juce::Point<int> screen)
    {
        auto* peer = top.getPeer();
        if (peer == nullptr)
            return;
        juce::ModifierKeys::currentModifiers = juce::ModifierKeys::currentModifiers.withoutMouseButtons().withFlags (buttons);
        time = std::max (time + 20, juce::Time::currentTimeMillis());
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, peer->globalToLocal (screen.toFloat()),
                                juce::ModifierKeys::currentModifiers, juce::MouseInputSource::defaultPressure,
                                juce::MouseInputSource::defaultOrientation, time);
        runPendingMessages();
    }

    juce::Component& top;
    int buttons = 0;
    juce::int64 time = 0;
};

/** Waits until the X server shows the window of a component on the desktop: JUCE calls it
    showing at once, but pointer and key events sent before the server mapped it go elsewhere. */
inline bool waitUntilMapped (juce::Component& top, PrivateDisplay& display)
{
    return runMessagesUntil ([&] {
        if (! top.isShowing() || top.getPeer() == nullptr)
            return false;
        const auto id = (std::uintptr_t) top.getWindowHandle();
        for (const auto& window : display.look->topLevelWindows())
            if (window.id == id)
                return window.viewable;
        return false;
    });
}

/** Moves the real pointer to p (by way of a point beside it, so that the arrival is a motion) and
    waits until JUCE has seen it there: a motion that reached JUCE only after a gesture handed to
    the peer had begun would carry the real, released button state and end that gesture. */
inline bool realPointerAt (const PrivateDisplay& display, juce::Point<int> p)
{
    struct Moves : juce::MouseListener
    {
        void mouseMove (const juce::MouseEvent& e) override  { last = e.getScreenPosition(); }
        juce::Point<int> last { -1, -1 };
    } moves;
    auto& desktop = juce::Desktop::getInstance();
    desktop.addGlobalMouseListener (&moves);
    const auto aside = p.translated (p.x > 20 ? -9 : 9, 0);
    const bool seen = xdotoolOn (display, { "mousemove", juce::String (aside.x), juce::String (aside.y) })
                   && xdotoolOn (display, { "mousemove", juce::String (p.x), juce::String (p.y) })
                   && runMessagesUntil ([&] { return moves.last == p; });
    desktop.removeGlobalMouseListener (&moves);
    return seen;
}

/** Gives a window on the private display the keyboard and makes this the active application:
    without a window manager a window takes the keys under the pointer, and JUCE closes the
    menus of an application that is not the active one as soon as they open. */
inline void focusWindow (PrivateDisplay& display, juce::Component& window)
{
    const auto id = juce::String ((juce::int64) (juce::pointer_sized_int) window.getWindowHandle());
    const auto c = window.getScreenBounds().getCentre();
    if (xdotoolInstalled())
        runMessagesUntil ([&] {
            // Not windowfocus --sync: it can wait for ever on a window whose focus JUCE hands to a child.
            auto* peer = window.getPeer();
            return xdotoolOn (display, { "mousemove", juce::String (c.x), juce::String (c.y) })
                && xdotoolOn (display, { "windowfocus", id }) && peer != nullptr && peer->isFocused()
                && juce::Process::isForegroundProcess();
        });
}

/** The modal menu (the innermost open sub-menu) as an accessibility client reads it: the items'
    titles joined by "; ", "+" before each that can be chosen. */
inline juce::String modalMenuText()
{
    juce::StringArray items;
    if (auto* menu = juce::Component::getCurrentlyModalComponent())
        for (auto* item : menu->getChildren())
            if (auto* h = item->getAccessibilityHandler())
                items.add ((h->getActions().contains (juce::AccessibilityActionType::press) ? "+" : "") + h->getTitle());
    return items.joinIntoString ("; ");
}

/** Presses the modal menu's item with that title as an accessibility client does (a sub-menu's
    item opens the sub-menu); false when there is none that can be pressed. */
inline bool chooseInModalMenu (const juce::String& title)
{
    if (auto* menu = juce::Component::getCurrentlyModalComponent())
        for (auto* item : menu->getChildren())
            if (auto* h = item->getAccessibilityHandler(); h != nullptr && h->getTitle() == title)
                return h->getActions().invoke (juce::AccessibilityActionType::press);
    return false;
}

/** The GUI framework on a private display with the program's fonts, an offline coordinator over
    a profile of the test's own and the main view over it (not on the desktop). */
struct ViewRig
{
    PrivateGuiDisplay display;
    juce::ScopedJuceInitialiser_GUI gui;
    SessionRig rig;
    std::unique_ptr<SessionCoordinator> session;
    std::unique_ptr<VantrelView> view;

    ViewRig()
    {
        installUiFonts();
        rig.media().createDirectory();
        session = rig.make();
    }
    ~ViewRig()
    {
        view.reset();
        session.reset();
        // A drag image still fading out is a window of its own: it goes while the display is open.
        juce::Desktop::getInstance().getAnimator().cancelAllAnimations (false);
    }

    VantrelView& makeView()
    {
        view = std::make_unique<VantrelView> (*session);
        view->stopTicking();   // the test runs the timer's steps itself
        return *view;
    }

    /** A playlist of short generated tones, added and opened. */
    Playlist addShow (const std::string& name, int rows)
    {
        std::vector<juce::File> files;
        for (int i = 0; i < rows; ++i)
            files.push_back (writeTone (rig.media(), juce::String (name) + "-" + juce::String (i + 1) + ".wav", 2.0, 0.25f, 440.0 + 110.0 * i));
        auto playlist = playlistOf (name, files);
        EXPECT_TRUE (addAndOpen (*session, playlist));
        return playlist;
    }
};
} // namespace vantrel::test
