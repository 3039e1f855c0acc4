#pragma once

#include <juce_core/juce_core.h>

namespace vantrel::jack_messages
{
/** How many of the last error texts of open JACK outputs are kept. */
constexpr int keptErrors = 8;

/** Gives libjack's texts to the program: info texts are dropped; error texts are dropped too
    unless a JACK output is open, and then kept for the audio diagnostics. So looking for a JACK
    server that is not there prints nothing. Called before the first use of libjack and again
    after the framework made a JACK device, which installs a handler of its own. Message thread. */
void takeOver();

/** A JACK output was opened, or closed: while one is open, libjack's error texts are kept.
    Message thread. */
void outputOpened();
void outputClosed();

/** The error texts kept, oldest first, at most keptErrors. Message thread. */
juce::StringArray recentErrors();
} // namespace vantrel::jack_messages
