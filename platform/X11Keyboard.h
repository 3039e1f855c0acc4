#pragma once

#include <cstdint>
#include <memory>

namespace vantrel::platform
{
/** Asks the X server to send JUCE's own connection no key-up for an auto-repeated key (XKB
    detectable auto-repeat), so a held key arrives as presses ended by one real key-up. Without
    it X sends a key-up and key-down pair per repeat, and JUCE drops the key-up only when the
    key-down is already in its queue: under load JUCE reports some repeats as a release and a
    fresh press (measured: 2 of 61 repeats on an idle machine). Message thread; changes only
    JUCE's connection. False when there is no X display or the server refuses. */
bool useDetectableAutoRepeat();

/** Serves every event the X server has sent JUCE's connection until now: one round trip, then
    JUCE's own reading loop over what came. JUCE drops the waiting events of a window it destroys;
    called before, the key presses already sent to that window reach the program. Message thread,
    outside JUCE's handling of an X event; does nothing without an X display. */
void serveSentWindowEvents();

/** Xlib reads waiting events into its queue whenever a call waits for a reply (JUCE asks the
    server for the pointer position or the focus, a repaint waits for the server), and JUCE serves
    its connection only when the socket has new data, so an event read that way (a key press
    among them) would wait until the server next sends something: a repaint's completion, the
    pointer moving; on an idle screen, for ever. While one of these lives, every event Xlib puts
    into the queue of JUCE's connection also makes a descriptor of its own readable, which the
    message loop watches beside the connection: once the call that read the event returns, the
    loop serves the queue as if the socket had become readable. No thread, no polling: a key read
    during a repaint is served when the repaint ends. Its creation also has Xlib load what
    JUCE's first key look-up would load while that key waits (the keyboard map, the locale's text
    conversion). Created and destroyed on the message thread,
    before JUCE's display closes; one at a time (a second one does nothing); does nothing without
    an X display. */
class QueuedEventWaker
{
public:
    QueuedEventWaker();
    ~QueuedEventWaker();

    QueuedEventWaker (const QueuedEventWaker&) = delete;
    QueuedEventWaker& operator= (const QueuedEventWaker&) = delete;

    /** How many times events were found waiting in the queue (and served). */
    std::uint64_t wakes() const;

private:
    struct State;
    std::unique_ptr<State> state;
};
} // namespace vantrel::platform
