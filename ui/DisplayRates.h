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

/** The rate of JUCE's own frame timer in each window where the main view's frame clock paints
    the windows: it then only stands in for a window the clock does not reach. */
constexpr double standInFrameRateHz = 5.0;

/** Gives every display in JUCE's list the stand-in rate, so that each window's own frame timer
    (a wake-up of JUCE's timer thread and of the message thread at every frame) runs that slowly.
    Like the common rate above, a window takes it when its bounds are next updated. */
void slowWindowFrameTimers();
} // namespace vantrel
