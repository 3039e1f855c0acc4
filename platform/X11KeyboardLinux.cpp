// JUCE's X display is reachable only with its X headers, as JUCE's own modules reach it.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "platform/X11Keyboard.h"

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
} // namespace vantrel::platform
