#pragma once

namespace vantrel::platform
{
/** A descriptor that becomes readable when any thread calls wake(), for waking a poll loop.
    Wakes before the loop reads it add up to one readiness; consume() clears it. */
class EventWaker
{
public:
    EventWaker();
    ~EventWaker();

    EventWaker (const EventWaker&) = delete;
    EventWaker& operator= (const EventWaker&) = delete;

    /** False when the descriptor could not be created. */
    bool isValid() const { return fd >= 0; }

    int descriptor() const { return fd; }

    /** Any thread. */
    void wake();

    /** The loop's thread, after poll reported the descriptor readable. */
    void consume();

private:
    int fd = -1;
};
} // namespace vantrel::platform
