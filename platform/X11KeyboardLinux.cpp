// JUCE's X display is reachable only with its X headers, as JUCE's own modules reach it.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "platform/X11Keyboard.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace juce
{
extern ::Window juce_messageWindowHandle;   // JUCE's hidden window; its own event handler ignores what it receives
}

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

struct QueuedEventWaker::State
{
    ::Display* display = nullptr;
    ::Window target = 0;
    std::mutex mutex;
    std::condition_variable wake;
    bool quit = false;
    std::atomic<std::uint64_t> wakes { 0 };
    std::thread thread;

    void run()
    {
        std::unique_lock<std::mutex> lock (mutex);
        while (! wake.wait_for (lock, std::chrono::milliseconds (2), [this] { return quit; }))
        {
            lock.unlock();
            XLockDisplay (display);   // Xlib's own lock, as JUCE's (its threads are initialised)
            if (XEventsQueued (display, QueuedAlready) > 0)
            {
                XEvent event {};
                event.xclient.type = ClientMessage;
                event.xclient.window = target;
                event.xclient.message_type = None;
                event.xclient.format = 32;
                XSendEvent (display, target, False, NoEventMask, &event);
                XFlush (display);
                wakes.fetch_add (1);
            }
            XUnlockDisplay (display);
            lock.lock();
        }
    }
};

QueuedEventWaker::QueuedEventWaker() : state (std::make_unique<State>())
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* system = juce::XWindowSystem::getInstanceWithoutCreating();
    state->display = system != nullptr ? system->getDisplay() : nullptr;
    state->target = juce::juce_messageWindowHandle;
    if (state->display != nullptr && state->target != 0)
        state->thread = std::thread ([s = state.get()] { s->run(); });
}

QueuedEventWaker::~QueuedEventWaker()
{
    {
        const std::lock_guard<std::mutex> lock (state->mutex);
        state->quit = true;
    }
    state->wake.notify_all();
    if (state->thread.joinable())
        state->thread.join();
}

std::uint64_t QueuedEventWaker::wakes() const
{
    return state->wakes.load();
}
} // namespace vantrel::platform
