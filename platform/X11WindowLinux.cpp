#include "platform/X11Window.h"

#include "platform/X11ErrorLog.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

namespace vantrel::platform
{
namespace
{
constexpr int largestSide = 32767;   // X sizes are 16-bit on the wire; larger ones would wrap

unsigned int clampSide (int side)
{
    return static_cast<unsigned int> (std::clamp (side, 1, largestSide));
}

bool isAscii (const std::string& text)
{
    return std::all_of (text.begin(), text.end(), [] (char c) { return static_cast<unsigned char> (c) < 0x80; });
}

void setTextProperty (Display* display, Window window, Atom property, Atom type, const std::string& text)
{
    XChangeProperty (display, window, property, type, 8, PropModeReplace,
                     reinterpret_cast<const unsigned char*> (text.data()), static_cast<int> (text.size()));
}

bool hasWindowManager (Display* display)
{
    const auto check = XInternAtom (display, "_NET_SUPPORTING_WM_CHECK", True);

    if (check == None)
        return false;

    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const auto status = XGetWindowProperty (display, DefaultRootWindow (display), check, 0, 1, False, XA_WINDOW, &type,
                                            &format, &items, &after, &data);

    if (data != nullptr)
        XFree (data);

    return status == Success && type == XA_WINDOW && items == 1;
}
} // namespace

struct X11Window::State
{
    Display* display = nullptr;
    Window window = 0;
    Atom wmProtocols = None;
    Atom wmDeleteWindow = None;
    Atom netActiveWindow = None;
    bool destroyed = false;   // DestroyNotify seen: another client destroyed it
    bool broken = false;      // the connection failed

    static void connectionLost (Display*, void* state) { static_cast<State*> (state)->broken = true; }
};

std::unique_ptr<X11Window> X11Window::create (const Options& options, std::string& error)
{
    prepareX11();

    const char* name = options.displayName.empty() ? nullptr : options.displayName.c_str();
    auto* display = XOpenDisplay (name);

    if (display == nullptr)
    {
        const char* fromEnvironment = std::getenv ("DISPLAY");
        const std::string shown = name != nullptr ? name : (fromEnvironment != nullptr ? fromEnvironment : "");
        error = shown.empty() ? "no X display: DISPLAY is not set" : "cannot open X display \"" + shown + "\"";
        return nullptr;
    }

    auto state = std::make_unique<State>();
    state->display = display;
    XSetIOErrorExitHandler (display, &State::connectionLost, state.get());

    const auto root = DefaultRootWindow (display);
    const auto screen = DefaultScreen (display);
    XSetWindowAttributes attributes {};
    attributes.background_pixel = WhitePixel (display, screen);
    attributes.event_mask = StructureNotifyMask;

    const auto firstRequest = NextRequest (display);
    const auto window = XCreateWindow (display, root, 0, 0, clampSide (options.width), clampSide (options.height), 0,
                                       CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);
    state->window = window;
    state->wmProtocols = XInternAtom (display, "WM_PROTOCOLS", False);
    state->wmDeleteWindow = XInternAtom (display, "WM_DELETE_WINDOW", False);
    state->netActiveWindow = XInternAtom (display, "_NET_ACTIVE_WINDOW", False);
    XSetWMProtocols (display, window, &state->wmDeleteWindow, 1);

    const auto utf8 = XInternAtom (display, "UTF8_STRING", False);
    setTextProperty (display, window, XInternAtom (display, "_NET_WM_NAME", False), utf8, options.title);
    setTextProperty (display, window, XA_WM_NAME, isAscii (options.title) ? XA_STRING : utf8, options.title);

    std::string instanceName = "OrvaneVstHost";
    std::string className = options.className;
    XClassHint classHint { instanceName.data(), className.data() };
    XSetClassHint (display, window, &classHint);

    const long processId = static_cast<long> (::getpid());
    XChangeProperty (display, window, XInternAtom (display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                     reinterpret_cast<const unsigned char*> (&processId), 1);
    XSync (display, False);

    if (window == 0 || state->broken || x11ErrorsSince (display, firstRequest))
    {
        error = "the X server refused the window";

        if (! state->broken && window != 0)
            XDestroyWindow (display, window);

        XCloseDisplay (display);
        forgetX11Errors (display);
        return nullptr;
    }

    return std::unique_ptr<X11Window> (new X11Window (std::move (state)));
}

X11Window::X11Window (std::unique_ptr<State> created)
    : state (std::move (created))
{
}

X11Window::~X11Window()
{
    auto* display = state->display;

    if (! state->broken)
    {
        if (! state->destroyed)
            XDestroyWindow (display, state->window);

        XSync (display, False);
    }

    XCloseDisplay (display);
    forgetX11Errors (display);
}

std::uintptr_t X11Window::windowId() const
{
    return static_cast<std::uintptr_t> (state->window);
}

int X11Window::connectionDescriptor() const
{
    return ConnectionNumber (state->display);
}

bool X11Window::exists() const
{
    return ! state->destroyed && ! state->broken;
}

bool X11Window::show (int timeoutMs)
{
    if (! exists())
        return false;

    XMapRaised (state->display, state->window);
    XSync (state->display, False);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

    for (;;)
    {
        XWindowAttributes attributes {};

        if (exists() && XGetWindowAttributes (state->display, state->window, &attributes) != 0
            && attributes.map_state == IsViewable)
            return true;

        dispatchEvents();

        if (! exists() || std::chrono::steady_clock::now() >= deadline)
            return false;

        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }
}

void X11Window::bringToFront()
{
    if (! exists())
        return;

    auto* display = state->display;
    XMapRaised (display, state->window);

    XEvent activate {};
    activate.xclient.type = ClientMessage;
    activate.xclient.window = state->window;
    activate.xclient.message_type = state->netActiveWindow;
    activate.xclient.format = 32;
    activate.xclient.data.l[0] = 1;   // the request comes from an application
    activate.xclient.data.l[1] = CurrentTime;
    XSendEvent (display, DefaultRootWindow (display), False, SubstructureRedirectMask | SubstructureNotifyMask, &activate);

    // Without a window manager nobody acts on that request: take the focus directly.
    XWindowAttributes attributes {};

    if (! hasWindowManager (display) && XGetWindowAttributes (display, state->window, &attributes) != 0
        && attributes.map_state == IsViewable)
        XSetInputFocus (display, state->window, RevertToParent, CurrentTime);

    XFlush (display);
}

void X11Window::resize (int width, int height)
{
    if (! exists())
        return;

    XResizeWindow (state->display, state->window, clampSide (width), clampSide (height));
    XFlush (state->display);
}

void X11Window::dispatchEvents()
{
    auto* display = state->display;

    while (exists() && XPending (display) > 0)
    {
        XEvent event {};
        XNextEvent (display, &event);

        if (event.type == ClientMessage && event.xclient.message_type == state->wmProtocols
            && static_cast<Atom> (event.xclient.data.l[0]) == state->wmDeleteWindow)
            closeWasRequested = true;
        else if (event.type == DestroyNotify && event.xdestroywindow.window == state->window)
            state->destroyed = true;
    }
}

bool X11Window::size (int& width, int& height)
{
    XWindowAttributes attributes {};

    if (! exists() || XGetWindowAttributes (state->display, state->window, &attributes) == 0)
        return false;

    width = attributes.width;
    height = attributes.height;
    return true;
}
} // namespace vantrel::platform
