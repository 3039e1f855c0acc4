// JUCE's X display is reachable only with its X headers, as JUCE's own modules reach it.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_events/native/juce_linux_EventLoopInternal.h>   // serves one registered descriptor, as JUCE's VST3 client does

#include "platform/EventWaker.h"
#include "platform/X11Keyboard.h"

#include <X11/Xproto.h>

#include <array>
#include <atomic>
#include <clocale>
#include <string>

// Xlib's hooks for extensions: the converter of an event type read off the wire, and the call
// when a display closes (declared in Xlibint.h, which clashes with JUCE's headers).
extern "C" Bool (*XESetWireToEvent (Display*, int, Bool (*) (Display*, XEvent*, xEvent*))) (Display*, XEvent*, xEvent*);
extern "C" int (*XESetCloseDisplay (Display*, int, int (*) (Display*, XExtCodes*))) (Display*, XExtCodes*);

namespace vantrel::platform
{
bool useDetectableAutoRepeat()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();

    if (display == nullptr)
        return false;

    juce::XWindowSystemUtilities::ScopedXLock lock;
    Bool supported = False;
    return XkbSetDetectableAutoRepeat (display, True, &supported) && supported;
}

void serveSentWindowEvents()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* system = juce::XWindowSystem::getInstanceWithoutCreating();
    auto* display = system != nullptr ? system->getDisplay() : nullptr;

    if (display == nullptr)
        return;

    int waiting = 0;
    {
        juce::XWindowSystemUtilities::ScopedXLock lock;
        XSync (display, False);
        waiting = XEventsQueued (display, QueuedAlready);
    }
    if (waiting > 0)
        juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd (ConnectionNumber (display));
}

namespace
{
using WireToEvent = Bool (*) (Display*, XEvent*, xEvent*);

// Xlib calls a converter without any argument of ours: the one waker's state is reached here.
// The converters are swapped on the message thread while Xlib's display lock is held; Xlib calls
// them with that lock held, on whichever thread reads the connection.
constexpr int firstEventType = 2;   // 0 and 1 are errors and replies
constexpr int eventTypes = 128;     // the wire's event type has 7 bits
std::array<WireToEvent, eventTypes> originalConverters {};
std::atomic<EventWaker*> activeWaker { nullptr };
std::atomic<bool> wakePending { false };
::Display* hookedDisplay = nullptr;   // message thread only

/** Xlib, as the hooked display closes: a display opened later (maybe at the same address) has
    Xlib's own converters again. */
int forgetClosedDisplay (Display* display, XExtCodes*)
{
    if (display == hookedDisplay)
        hookedDisplay = nullptr;
    return 0;
}

/** Xlib's converter for every event type while a waker lives: converts as before, then makes
    the waker's descriptor readable once until the message thread has looked at the queue. */
Bool convertAndWake (Display* display, XEvent* event, xEvent* wire)
{
    const auto original = originalConverters[(std::size_t) (wire->u.u.type & 0x7f)];
    const Bool queued = original != nullptr ? original (display, event, wire) : False;

    if (queued)
        if (auto* waker = activeWaker.load (std::memory_order_acquire); waker != nullptr && ! wakePending.exchange (true))
            waker->wake();

    return queued;
}

/** Looks a key up as JUCE looks up every key press (XLookupString under the user's locale), so
    that Xlib loads the keyboard map and the locale's text conversion now: JUCE's first look-up
    would otherwise load them (locale files, a round trip for the map) while that key waits,
    0.8 ms measured. */
void lookUpOneKey (::Display* display)
{
    const auto* current = std::setlocale (LC_ALL, nullptr);
    const std::string previous = current != nullptr ? current : "";
    std::setlocale (LC_ALL, "");
    {
        juce::XWindowSystemUtilities::ScopedXLock lock;
        XKeyEvent key {};
        key.type = 2;   // X.h's KeyPress, a name JUCE's headers take back
        key.display = display;
        key.keycode = XKeysymToKeycode (display, XK_Return);
        char text[16] {};
        KeySym symbol = 0;
        XLookupString (&key, text, (int) sizeof (text), &symbol, nullptr);
    }
    if (! previous.empty())
        std::setlocale (LC_ALL, previous.c_str());
}
} // namespace

struct QueuedEventWaker::State
{
    ::Display* display = nullptr;
    EventWaker waker;
    bool active = false;   // this one is the waker the converters wake
    std::uint64_t wakes = 0;

    /** The message thread, when the descriptor became readable: JUCE serves the events that
        wait in Xlib's queue as if the connection's socket had become readable. */
    void serveQueuedEvents()
    {
        waker.consume();
        wakePending.store (false);
        int waiting = 0;
        {
            juce::XWindowSystemUtilities::ScopedXLock lock;
            waiting = XEventsQueued (display, QueuedAlready);
        }
        if (waiting <= 0)
            return;   // JUCE's own reading loop served them already
        ++wakes;
        juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd (ConnectionNumber (display));
    }
};

QueuedEventWaker::QueuedEventWaker() : state (std::make_unique<State>())
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* system = juce::XWindowSystem::getInstanceWithoutCreating();
    state->display = system != nullptr ? system->getDisplay() : nullptr;

    if (state->display == nullptr || ! state->waker.isValid() || activeWaker.load() != nullptr)
        return;

    lookUpOneKey (state->display);

    // Once per display, for the rest of its life: a converter an extension sets later may call
    // ours, so ours is never taken out again (without a waker it only converts).
    if (hookedDisplay != state->display)
    {
        juce::XWindowSystemUtilities::ScopedXLock lock;
        auto* codes = XAddExtension (state->display);
        if (codes == nullptr)
            return;
        XESetCloseDisplay (state->display, codes->extension, forgetClosedDisplay);
        for (int type = firstEventType; type < eventTypes; ++type)
            originalConverters[(std::size_t) type] = XESetWireToEvent (state->display, type, convertAndWake);
        hookedDisplay = state->display;
    }
    wakePending.store (false);
    activeWaker.store (&state->waker, std::memory_order_release);
    state->active = true;
    juce::LinuxEventLoop::registerFdCallback (state->waker.descriptor(), [s = state.get()] (int) { s->serveQueuedEvents(); });
}

QueuedEventWaker::~QueuedEventWaker()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! state->active)
        return;

    juce::LinuxEventLoop::unregisterFdCallback (state->waker.descriptor());
    activeWaker.store (nullptr, std::memory_order_release);
}

std::uint64_t QueuedEventWaker::wakes() const
{
    return state->wakes;
}
} // namespace vantrel::platform
