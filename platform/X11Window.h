#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel::platform
{
/** Process-wide Xlib set-up for a program that embeds other code's X windows (plug-in editors):
    thread support, and error handlers that record an X error or a broken connection instead of
    ending the process. Call it first thing in main, before any plug-in is loaded; later calls
    change nothing. */
void prepareX11();

/** X errors recorded by the handlers of prepareX11 since the process started (any connection). */
std::uint64_t x11ErrorCount();

/** A top-level X11 window on a connection of its own, for hosting an embedded child window.
    Everything but resize runs on the one thread that created it. The window class (WM_CLASS)
    is "OrvaneVstHost" / the given class name; the close box sends WM_DELETE_WINDOW, which is
    only recorded (see closeRequested) and never destroys the window by itself. A user's resize
    of the frame changes nothing inside. Sizes are clamped to 1..32767, the X protocol's range. */
class X11Window
{
public:
    struct Options
    {
        std::string displayName;     // empty: the DISPLAY environment variable
        std::string title;           // UTF-8, as _NET_WM_NAME and WM_NAME
        std::string className;       // the instance class in WM_CLASS
        int width = 1;
        int height = 1;
    };

    /** Opens the display and creates the window, not yet mapped. Null with `error` set when the
        display cannot be opened or the server refuses the window. */
    static std::unique_ptr<X11Window> create (const Options& options, std::string& error);

    /** Destroys the window (unless it is already gone) and closes the connection. */
    ~X11Window();

    X11Window (const X11Window&) = delete;
    X11Window& operator= (const X11Window&) = delete;

    /** The X window id, as handed to an embedded plug-in view. */
    std::uintptr_t windowId() const;

    /** The connection's descriptor, to wait on for events. */
    int connectionDescriptor() const;

    /** Maps and raises the window, then waits (at most `timeoutMs`, serving events) until the
        server reports it viewable; a window manager may take a moment. */
    bool show (int timeoutMs);

    /** Maps and raises the window again and asks for it to become the active window. */
    void bringToFront();

    /** Any thread (a plug-in may ask from its own): resizes the window and flushes. */
    void resize (int width, int height);

    /** Reads every event waiting on the connection: records close requests and the window's
        destruction by another client. */
    void dispatchEvents();

    bool closeRequested() const { return closeWasRequested; }

    /** False once the window was destroyed behind our back or the connection broke. */
    bool exists() const;

    /** The size the server reports; false when it cannot be read. */
    bool size (int& width, int& height);

private:
    struct State;
    explicit X11Window (std::unique_ptr<State> state);

    std::unique_ptr<State> state;
    bool closeWasRequested = false;
};
} // namespace vantrel::platform
