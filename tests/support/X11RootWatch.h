#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::platform
{
/** Listens on an X display's root window the way a window manager hears its requests, without
    being one: it records the client messages that programs send to the root window (a
    program's "activate my window" is a _NET_ACTIVE_WINDOW message there, its "iconify me" a
    WM_CHANGE_STATE). Also reads which window has the keyboard focus. For tests of programs on a
    private X server that runs no window manager. One thread. */
class X11RootWatch
{
public:
    struct Message
    {
        std::string type;          // the message type's atom name
        std::uintptr_t window = 0; // the window the message is about
    };

    /** Null with `error` set when the display cannot be opened. Creates the atoms of the
        requests it names (as a window manager would have), then listens. */
    static std::unique_ptr<X11RootWatch> open (const std::string& displayName, std::string& error);
    ~X11RootWatch();

    X11RootWatch (const X11RootWatch&) = delete;
    X11RootWatch& operator= (const X11RootWatch&) = delete;

    /** The messages that arrived since the last call, oldest first (nothing is waited for). */
    std::vector<Message> takeMessages();

    /** The window that has the keyboard focus (0 for none, 1 for PointerRoot). */
    std::uintptr_t focusWindow();

    /** Gives the keyboard focus to a window, as a window manager does on a click. */
    void setFocus (std::uintptr_t window);

    /** The top-level window (a child of the root) that holds `window`, or 0. */
    std::uintptr_t topLevelOf (std::uintptr_t window);

private:
    explicit X11RootWatch (void* display);
    void* display;
};
} // namespace vantrel::platform
