#pragma once
// Message thread only.

namespace vantrel
{
/** The refresh rate the program takes for a display that reports none (a virtual X server, some
    remote desktops): the common monitor's. */
constexpr double assumedRefreshRateHz = 60.0;

/** JUCE runs each window's frame timer at its display's refresh rate, and at 100 Hz for a display
    that reports none: a program at rest would wake more often there than on any real monitor.
    This gives every display in JUCE's list that reports no rate the common 60 Hz. A window takes
    its display's rate whenever its bounds are updated (made, moved, sized); JUCE rebuilds the list
    when the display settings change, so the main window calls this again then. */
void assumeCommonRefreshRates();
} // namespace vantrel
