// JUCE's X display is reachable only with its X headers, as JUCE's own modules reach it.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "platform/X11Keyboard.h"

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

bool wakeForQueuedEvents()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* system = juce::XWindowSystem::getInstanceWithoutCreating();
    auto* display = system != nullptr ? system->getDisplay() : nullptr;

    if (display == nullptr || juce::juce_messageWindowHandle == 0)
        return false;

    juce::XWindowSystemUtilities::ScopedXLock lock;
    if (XEventsQueued (display, QueuedAlready) == 0)
        return false;

    XEvent wake {};
    wake.xclient.type = ClientMessage;
    wake.xclient.window = juce::juce_messageWindowHandle;
    wake.xclient.message_type = None;
    wake.xclient.format = 32;
    XSendEvent (display, juce::juce_messageWindowHandle, False, NoEventMask, &wake);
    XFlush (display);
    return true;
}
} // namespace vantrel::platform
