#pragma once

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
} // namespace vantrel::platform
