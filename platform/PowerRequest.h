#pragma once

#include <memory>
#include <string>

namespace vantrel::platform
{
/** Keeps the machine awake during a show, as the preferences ask.

    The display part is an inhibit of the session's screen saver: org.freedesktop.ScreenSaver
    Inhibit on the session bus, whose cookie is handed back with UnInhibit. The desktop ties the
    inhibit to our bus connection as well, so the connection stays open while it is held. The
    sleep part is a logind lock: org.freedesktop.login1.Manager Inhibit("sleep:idle", ..., "block")
    on the system bus, held for as long as the descriptor it returns stays open.

    The buses are found as libdbus finds them: DBUS_SESSION_BUS_ADDRESS (else the user bus in
    XDG_RUNTIME_DIR) and DBUS_SYSTEM_BUS_ADDRESS (else the standard system socket). Every call to a
    bus waits at most `callTimeoutMs` per part; a bus that goes away never ends the program.

    Message thread only. */
class PowerRequest
{
public:
    static constexpr int callTimeoutMs = 2000;

    PowerRequest();
    /** Releases whatever is still held. */
    ~PowerRequest();

    PowerRequest (const PowerRequest&) = delete;
    PowerRequest& operator= (const PowerRequest&) = delete;

    /** Holds exactly the asked parts: takes what is asked and not held, drops what is held and no
        longer asked, keeps what is held and still asked (a part found lost since is taken again).
        True when every asked part is held; nothing asked releases everything and gives true.
        False otherwise, with `error` saying which part failed and why ("Power request failed:
        ..."); the parts that did succeed stay held, and the next call tries the others again. */
    bool set (bool preventSleep, bool preventDisplayOff, std::string& error);

    /** Drops both parts. */
    void release();

    bool holdsSleep() const;
    bool holdsDisplay() const;

private:
    struct State;
    std::unique_ptr<State> state;
};
} // namespace vantrel::platform
