#pragma once

#include <functional>

namespace vantrel::platform
{
/** Catches SIGINT, SIGTERM and SIGHUP (a Ctrl+C, a service stop, a closed terminal) so that the
    program can run its own safe quit instead of ending at once. The handlers only set a flag;
    the program polls it on its message thread. Call once, after the GUI framework started
    (it installs handlers of its own that these replace) and before anything a quit must
    undo or save is set up, so that no signal can end the program half-started. */
void installQuitSignals();

/** True once one of the signals arrived (async-signal-safe read of the flag). */
bool quitSignalReceived();

/** While it exists, calls `onSignal` on the message thread, through the framework's event loop,
    after one of the signals arrived (also one that arrived before it was made), so the program
    need not poll the flag. Not valid before installQuitSignals or when its descriptor could not
    be made: then the flag is to be polled. Message thread. */
class QuitSignalWatch
{
public:
    explicit QuitSignalWatch (std::function<void()> onSignal);
    ~QuitSignalWatch();

    QuitSignalWatch (const QuitSignalWatch&) = delete;
    QuitSignalWatch& operator= (const QuitSignalWatch&) = delete;

    bool isValid() const  { return descriptor >= 0; }

private:
    int descriptor = -1;
};
} // namespace vantrel::platform
