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
} // namespace vantrel::platform
