#include "support/X11RootWatch.h"

#include "platform/X11Window.h"

#include <X11/Xlib.h>

namespace vantrel::platform
{
namespace
{
Display* asDisplay (void* display)
{
    return static_cast<Display*> (display);
}
} // namespace

std::unique_ptr<X11RootWatch> X11RootWatch::open (const std::string& displayName, std::string& error)
{
    prepareX11();
    auto* display = XOpenDisplay (displayName.c_str());
    if (display == nullptr)
    {
        error = "cannot open X display \"" + displayName + "\"";
        return nullptr;
    }
    for (const char* name : { "_NET_ACTIVE_WINDOW", "WM_CHANGE_STATE" })
        XInternAtom (display, name, False);
    // Substructure notification only: a window manager's redirection stays free, and the server
    // still hands us every event sent to the root with either mask.
    XSelectInput (display, DefaultRootWindow (display), SubstructureNotifyMask);
    XSync (display, False);
    return std::unique_ptr<X11RootWatch> (new X11RootWatch (display));
}

X11RootWatch::X11RootWatch (void* opened) : display (opened) {}

X11RootWatch::~X11RootWatch()
{
    XCloseDisplay (asDisplay (display));
}

std::vector<X11RootWatch::Message> X11RootWatch::takeMessages()
{
    auto* d = asDisplay (display);
    XSync (d, False);
    std::vector<Message> messages;
    while (XPending (d) > 0)
    {
        XEvent event {};
        XNextEvent (d, &event);
        if (event.type != ClientMessage)
            continue;
        Message message;
        message.window = event.xclient.window;
        if (event.xclient.message_type != None)
        {
            if (char* name = XGetAtomName (d, event.xclient.message_type))
            {
                message.type = name;
                XFree (name);
            }
        }
        messages.push_back (message);
    }
    return messages;
}

std::uintptr_t X11RootWatch::focusWindow()
{
    auto* d = asDisplay (display);
    Window focus = None;
    int revert = 0;
    XGetInputFocus (d, &focus, &revert);
    return focus;
}

void X11RootWatch::setFocus (std::uintptr_t window)
{
    auto* d = asDisplay (display);
    XSetInputFocus (d, window, RevertToParent, CurrentTime);
    XSync (d, False);
}

std::uintptr_t X11RootWatch::topLevelOf (std::uintptr_t window)
{
    auto* d = asDisplay (display);
    const auto rootWindow = DefaultRootWindow (d);
    for (Window current = window; current != None && current != PointerRoot;)
    {
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree (d, current, &root, &parent, &children, &count) == 0)
            return 0;
        if (children != nullptr)
            XFree (children);
        if (parent == rootWindow)
            return current;
        current = parent;
    }
    return 0;
}
} // namespace vantrel::platform
