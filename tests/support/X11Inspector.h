#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::platform
{
/** A client of an X display that looks at it from outside, as a user or a window manager would:
    lists the top-level windows, reads the screen's pixels, and sends the close message of a
    window manager. For tests and benchmarks of programs that show X windows. One thread. */
class X11Inspector
{
public:
    struct TopLevelWindow
    {
        std::uintptr_t id = 0;
        std::string title;        // _NET_WM_NAME, else WM_NAME
        std::string windowClass;  // the class part of WM_CLASS
        bool viewable = false;
        int x = 0, y = 0, width = 0, height = 0;
    };

    /** Null with `error` set when the display cannot be opened. */
    static std::unique_ptr<X11Inspector> open (const std::string& displayName, std::string& error);
    ~X11Inspector();

    X11Inspector (const X11Inspector&) = delete;
    X11Inspector& operator= (const X11Inspector&) = delete;

    /** The root window's children, bottom of the stacking order first. */
    std::vector<TopLevelWindow> topLevelWindows();

    /** The screen's pixels in the rectangle as 0xRRGGBB, row by row; empty when unreadable. */
    std::vector<std::uint32_t> capture (int x, int y, int width, int height);

    /** Sends WM_DELETE_WINDOW in WM_PROTOCOLS, as a window manager's close box does. */
    bool requestClose (std::uintptr_t window);

    /** Sends a message that means nothing to the window's client. It makes the client's connection
        readable, so a client that sleeps on its socket wakes up and reads the events that its own
        requests had already pulled into its queue (which would otherwise wait for the next event). */
    bool wake (std::uintptr_t window);

    /** Destroys another client's window (what killing a window from outside does). */
    bool destroyWindow (std::uintptr_t window);

    /** Resizes another client's window, as a user dragging its border would. */
    bool resizeWindow (std::uintptr_t window, int width, int height);

    /** Creates the atoms that a window manager would have created on a desktop (a bare X server
        has none of them, and JUCE sets some of its window properties with whatever atom it
        finds, none included). */
    void internWindowManagerAtoms();

    /** Where a window's top-left pixel is on the screen; false when the window is gone. */
    bool windowOrigin (std::uintptr_t window, int& x, int& y);

    /** The pointer moved to a point of the screen, and a button of it pressed or released, as a
        mouse does: through the X server's input queue, each behind the events sent before it. (A
        pointer warp, which is what xdotool's mousemove sends, moves the pointer at once, ahead of
        button events still in the queue.) False when the server has no XTEST. */
    bool movePointer (int x, int y);
    bool pointerButton (int button, bool down);

    /** Where the server has the pointer and which of its buttons it has down (bit n - 1 for
        button n), once it has taken in the input before: an event it holds back (a window
        manager's click-to-focus grab holds what follows a press until it has passed the press
        on) shows only when it has been let through. */
    bool pointerState (int& x, int& y, int& buttons);

    /** A key of the keyboard pressed and released through the server's input queue, Shift held
        around it where the key's symbol needs it ("I"); `name` is a keysym name ("n", "1",
        "space", "Return", "BackSpace"). False when no key gives it or the server has no XTEST. */
    bool typeKey (const std::string& name);

    /** Holds every other client's requests (a grab of the server) until releaseOtherClients: a
        client then waits at its next round trip, and the input sent meanwhile (through this
        inspector) waits in its connection, as it does for a program whose message thread comes to
        it late. Also released when the inspector closes. */
    void holdOtherClients();
    void releaseOtherClients();

    /** Maps a solid-coloured top-level window of this client on top of the others. */
    std::uintptr_t createSolidWindow (int x, int y, int width, int height, std::uint32_t rgb);

private:
    explicit X11Inspector (void* display);
    void* display;
};
} // namespace vantrel::platform
