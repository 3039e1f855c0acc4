#pragma once

#include <functional>
#include <string>

namespace vantrel::platform
{
/** Catches SIGINT, SIGTERM and SIGHUP (a Ctrl+C, a service stop, a closed terminal) so that the
    program can run its own quit instead of ending at once. The handlers count each signal; the
    program takes the counts on its message thread. A write to a pipe that nobody reads any more
    fails instead of ending the program (SIGPIPE), and a write to the terminal from the
    background goes on instead of stopping it (SIGTTOU). Call once, after the GUI framework started
    (it installs handlers of its own that these replace) and before anything a quit must undo or
    save is set up, so that no signal can end the program half-started. */
void installQuitSignals();

/** The signals that arrived since the last call to takeQuitSignals, by kind. */
struct QuitSignalCounts
{
    int interrupt = 0;   // SIGINT: a Ctrl+C in the terminal
    int hangUp = 0;      // SIGHUP: the terminal closed
    int terminate = 0;   // SIGTERM: a service stop, a kill

    bool any() const noexcept  { return interrupt + hangUp + terminate > 0; }
};

/** Takes the signals that arrived since the last call (none is lost or counted twice). Message
    thread. */
QuitSignalCounts takeQuitSignals();

/** From now on a SIGTERM ends the program at once, in the handler itself (also while the message
    thread waits for a disk): `reason` goes to the standard error, nothing is written, removed or
    saved, and the exit status is forcedEndExitStatus. For a quit that could not save. Message
    thread. */
void armForcedEnd (const std::string& reason);
/** A SIGTERM is counted again (the quit can save again). Message thread. */
void disarmForcedEnd();
bool isForcedEndArmed();

constexpr int forcedEndExitStatus = 1;

/** Keeps the program's own standard output and error (and its children's) from blocking it: where
    they are a terminal, a pipe or a socket, the program writes into a pipe of its own that never
    blocks (what does not fit is dropped), and a thread of its own passes it on. A terminal that
    hung up, a pipe nobody reads or a full one then stops or slows nothing but that thread.
    Regular files and /dev/null are left as they are. Call once, early, on the message thread. */
void relayStandardOutput();
/** Gives the relay up to `timeoutMs` to pass on what was written (at the end of the program). */
void flushStandardOutput (int timeoutMs);

/** While it exists, calls `onSignal` on the message thread, through the framework's event loop,
    after one of the signals arrived (also one that arrived before it was made), so the program
    need not poll. Not valid before installQuitSignals or when its descriptor could not be made:
    then takeQuitSignals is to be polled. Message thread. */
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
