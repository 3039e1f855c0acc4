#pragma once

#include <string>

namespace probe
{
/** Appends one line to the file named by ORVANE_PROBE_LOG, tagged with the calling thread:
    "ui" for the thread that entered the module, "other" for any other. Any thread. */
void logLine (const std::string& text);

/** Marks the calling thread as the module's UI thread (ModuleEntry runs there). */
void rememberUiThread();

/** Waits until the file named by ORVANE_PROBE_GATE exists (at most 20 s; 2 s without one). */
void waitForGate();
} // namespace probe
