#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
class SessionCoordinator;

/** The facts of a start that the coordinator does not know itself. */
struct StartupFacts
{
    bool windowCreated = false;
    bool keyboardEdgeFilter = false;   // keys and wheel reach the view before any control
    bool powerRequest = false;
    bool systemSoundsGuardRunning = false;
    bool systemSoundsReady = false;
    int systemSoundsMutedSessions = 0;
    juce::String systemSoundsError;
};

/** The start-up report: one JSON object with its twenty keys in their fixed order. */
juce::var startupReport (const SessionCoordinator& session, const StartupFacts& facts);

/** True when VANTREL_STARTUP_REPORT names an absolute path. */
bool startupReportAsked();

/** Writes the report to the path that VANTREL_STARTUP_REPORT names when it is absolute; no
    variable or a relative path: nothing. While the output's open waits for JACK to connect its
    channels, the report is written once that is settled, so that it tells how the open ended.
    A failed write is ignored (the report is for tests and support, never a reason to stop). */
void writeStartupReportIfAsked (SessionCoordinator& session, const StartupFacts& facts);
} // namespace vantrel
