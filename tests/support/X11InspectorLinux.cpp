#include "support/X11Inspector.h"

#include "platform/X11Window.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace vantrel::platform
{
namespace
{
Display* asDisplay (void* display)
{
    return static_cast<Display*> (display);
}

std::string textProperty (Display* display, Window window, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string text;

    if (XGetWindowProperty (display, window, property, 0, 65536, False, AnyPropertyType, &type, &format, &items, &after, &data)
            == Success
        && data != nullptr && format == 8)
        text.assign (reinterpret_cast<const char*> (data), items);

    if (data != nullptr)
        XFree (data);

    return text;
}

int channel (unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;

    int shift = 0;

    while (((mask >> shift) & 1) == 0)
        ++shift;

    const auto maximum = mask >> shift;
    return static_cast<int> (((pixel & mask) >> shift) * 255 / maximum);
}
} // namespace

std::unique_ptr<X11Inspector> X11Inspector::open (const std::string& displayName, std::string& error)
{
    prepareX11();
    auto* display = XOpenDisplay (displayName.c_str());

    if (display == nullptr)
    {
        error = "cannot open X display \"" + displayName + "\"";
        return nullptr;
    }

    return std::unique_ptr<X11Inspector> (new X11Inspector (display));
}

X11Inspector::X11Inspector (void* opened)
    : display (opened)
{
}

X11Inspector::~X11Inspector()
{
    XCloseDisplay (asDisplay (display));
}

std::vector<X11Inspector::TopLevelWindow> X11Inspector::topLevelWindows()
{
    auto* d = asDisplay (display);
    XSync (d, False);

    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<TopLevelWindow> windows;

    if (XQueryTree (d, DefaultRootWindow (d), &root, &parent, &children, &count) == 0)
        return windows;

    const auto netWmName = XInternAtom (d, "_NET_WM_NAME", False);

    for (unsigned int i = 0; i < count; ++i)
    {
        XWindowAttributes attributes {};

        if (XGetWindowAttributes (d, children[i], &attributes) == 0)
            continue;   // gone meanwhile

        TopLevelWindow window;
        window.id = children[i];
        window.title = textProperty (d, children[i], netWmName);

        if (window.title.empty())
            window.title = textProperty (d, children[i], XA_WM_NAME);

        XClassHint hint {};

        if (XGetClassHint (d, children[i], &hint) != 0)
        {
            window.windowClass = hint.res_class != nullptr ? hint.res_class : "";
            XFree (hint.res_name);
            XFree (hint.res_class);
        }

        window.viewable = attributes.map_state == IsViewable;
        window.x = attributes.x;
        window.y = attributes.y;
        window.width = attributes.width;
        window.height = attributes.height;
        windows.push_back (window);
    }

    if (children != nullptr)
        XFree (children);

    return windows;
}

std::vector<std::uint32_t> X11Inspector::capture (int x, int y, int width, int height)
{
    auto* d = asDisplay (display);
    std::vector<std::uint32_t> pixels;

    if (width <= 0 || height <= 0)
        return pixels;

    auto* image = XGetImage (d, DefaultRootWindow (d), x, y, static_cast<unsigned int> (width),
                             static_cast<unsigned int> (height), AllPlanes, ZPixmap);

    if (image == nullptr)
        return pixels;

    pixels.reserve (static_cast<std::size_t> (width) * static_cast<std::size_t> (height));

    for (int row = 0; row < height; ++row)
    {
        for (int column = 0; column < width; ++column)
        {
            const auto pixel = XGetPixel (image, column, row);
            pixels.push_back (static_cast<std::uint32_t> ((channel (pixel, image->red_mask) << 16)
                                                          | (channel (pixel, image->green_mask) << 8)
                                                          | channel (pixel, image->blue_mask)));
        }
    }

    XDestroyImage (image);
    return pixels;
}

bool X11Inspector::requestClose (std::uintptr_t window)
{
    auto* d = asDisplay (display);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom (d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long> (XInternAtom (d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const auto sent = XSendEvent (d, window, False, NoEventMask, &event) != 0;
    XSync (d, False);
    return sent;
}

bool X11Inspector::wake (std::uintptr_t window)
{
    auto* d = asDisplay (display);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom (d, "VANTREL_TEST_WAKE", False);
    event.xclient.format = 32;
    const auto sent = XSendEvent (d, window, False, NoEventMask, &event) != 0;
    XFlush (d);
    return sent;
}

void X11Inspector::internWindowManagerAtoms()
{
    auto* d = asDisplay (display);
    for (const char* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING", "WM_CHANGE_STATE",
                              "WM_STATE", "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
                              "_NET_WM_STATE_FULLSCREEN", "_NET_FRAME_EXTENTS", "_NET_WORKAREA", "_MOTIF_WM_HINTS",
                              "_WIN_HINTS", "KWM_WIN_DECORATION", "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE",
                              "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MOVE", "_NET_WM_ACTION_RESIZE",
                              "_NET_WM_ACTION_FULLSCREEN", "_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_CLOSE",
                              "_NET_WM_WINDOW_TYPE_COMBO", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DIALOG",
                              "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_ABOVE", "_NET_WM_ICON", "_NET_WM_PID" })
        XInternAtom (d, name, False);
    XSync (d, False);
}

bool X11Inspector::destroyWindow (std::uintptr_t window)
{
    auto* d = asDisplay (display);
    XDestroyWindow (d, window);
    XSync (d, False);
    return true;
}

bool X11Inspector::resizeWindow (std::uintptr_t window, int width, int height)
{
    auto* d = asDisplay (display);
    XResizeWindow (d, window, static_cast<unsigned int> (width), static_cast<unsigned int> (height));
    XSync (d, False);
    return true;
}

bool X11Inspector::windowOrigin (std::uintptr_t window, int& x, int& y)
{
    auto* d = asDisplay (display);
    Window child = None;
    return XTranslateCoordinates (d, window, DefaultRootWindow (d), 0, 0, &x, &y, &child) != 0;
}

bool X11Inspector::movePointer (int x, int y)
{
    auto* d = asDisplay (display);
    int event = 0, error = 0, major = 0, minor = 0;
    if (! XTestQueryExtension (d, &event, &error, &major, &minor))
        return false;
    XTestFakeMotionEvent (d, DefaultScreen (d), x, y, CurrentTime);
    XSync (d, False);
    return true;
}

bool X11Inspector::pointerButton (int button, bool down)
{
    auto* d = asDisplay (display);
    int event = 0, error = 0, major = 0, minor = 0;
    if (! XTestQueryExtension (d, &event, &error, &major, &minor))
        return false;
    XTestFakeButtonEvent (d, static_cast<unsigned int> (button), down ? True : False, CurrentTime);
    XSync (d, False);
    return true;
}

bool X11Inspector::typeKey (const std::string& name)
{
    auto* d = asDisplay (display);
    int event = 0, error = 0, major = 0, minor = 0;
    const auto symbol = XStringToKeysym (name.c_str());
    const auto key = symbol != NoSymbol ? XKeysymToKeycode (d, symbol) : 0;
    const auto shift = XKeysymToKeycode (d, XK_Shift_L);
    if (key == 0 || ! XTestQueryExtension (d, &event, &error, &major, &minor))
        return false;
    const bool shifted = XkbKeycodeToKeysym (d, key, 0, 0) != symbol;
    if (shifted && shift == 0)
        return false;
    if (shifted)
        XTestFakeKeyEvent (d, shift, True, CurrentTime);
    XTestFakeKeyEvent (d, key, True, CurrentTime);
    XTestFakeKeyEvent (d, key, False, CurrentTime);
    if (shifted)
        XTestFakeKeyEvent (d, shift, False, CurrentTime);
    XSync (d, False);
    return true;
}

void X11Inspector::holdOtherClients()
{
    auto* d = asDisplay (display);
    XGrabServer (d);
    XSync (d, False);
}

void X11Inspector::releaseOtherClients()
{
    auto* d = asDisplay (display);
    XUngrabServer (d);
    XSync (d, False);
}

bool X11Inspector::pointerState (int& x, int& y, int& buttons)
{
    auto* d = asDisplay (display);
    Window root = None, child = None;
    int windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (XQueryPointer (d, DefaultRootWindow (d), &root, &child, &x, &y, &windowX, &windowY, &mask) == False)
        return false;
    buttons = static_cast<int> ((mask >> 8) & 0x1f);   // Button1Mask .. Button5Mask
    return true;
}

std::uintptr_t X11Inspector::createSolidWindow (int x, int y, int width, int height, std::uint32_t rgb)
{
    auto* d = asDisplay (display);
    XSetWindowAttributes attributes {};
    attributes.background_pixel = rgb;   // a 24-bit TrueColor screen: the pixel is 0xRRGGBB
    attributes.override_redirect = True;
    const auto window = XCreateWindow (d, DefaultRootWindow (d), x, y, static_cast<unsigned int> (width),
                                       static_cast<unsigned int> (height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                       CWBackPixel | CWOverrideRedirect, &attributes);
    XMapRaised (d, window);
    XSync (d, False);
    return window;
}
} // namespace vantrel::platform
