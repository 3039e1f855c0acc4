#pragma once

namespace vantrel::platform
{
/** Asks the X server to send JUCE's own connection no key-up for an auto-repeated key (XKB
    detectable auto-repeat), so a held key arrives as presses ended by one real key-up. Without
    it X sends a key-up and key-down pair per repeat, and JUCE drops the key-up only when the
    key-down is already in its queue: under load JUCE reports some repeats as a release and a
    fresh press (measured: 2 of 61 repeats on an idle machine). Message thread; changes only
    JUCE's connection. False when there is no X display or the server refuses. */
bool useDetectableAutoRepeat();

/** Message thread. Xlib reads waiting events into its queue whenever a call waits for a reply
    (JUCE asks the server for the pointer position or the focus), and JUCE serves its connection
    only when the socket has new data, so an event read that way (a key press among them) waits
    until the server next sends something: a repaint's completion, the pointer moving. When events
    wait in the queue, asks the server to send JUCE's connection a message to JUCE's own hidden
    window (which JUCE ignores), so that JUCE serves them at once. True when events were waiting;
    false too without an X display. */
bool wakeForQueuedEvents();
} // namespace vantrel::platform
