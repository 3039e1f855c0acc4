#pragma once

#include <functional>

namespace vantrel::platform
{
/** A steady beat on the message thread: the message loop itself wakes at the given rate and calls
    back, with no timer thread between (each of JUCE's timers costs a wake-up of its own thread
    and a message besides). A beat that comes late is not made up: a stalled loop gets one call.
    Message thread only. */
class FrameClock
{
public:
    explicit FrameClock (std::function<void()> onFrame);
    ~FrameClock();

    FrameClock (const FrameClock&) = delete;
    FrameClock& operator= (const FrameClock&) = delete;

    /** False when the clock could not be made; it then never calls back. */
    bool isValid() const { return descriptor >= 0; }

    /** Beats at this rate from now on, the first one a period from now. */
    void run (double hz);
    void stop();
    double rateHz() const { return runningHz; }

private:
    int descriptor = -1;
    double runningHz = 0.0;
};

/** Paints what each of the program's windows has waiting to be repainted, as the window's own
    frame does: the window server's reports of the paints it finished are taken in first, so that
    a paint still counted as in flight does not hold the new one back a frame. Message thread. */
void paintWindowsNow();
} // namespace vantrel::platform
