#pragma once

namespace vantrel::platform
{
/** A receiver of libjack's texts: called on whichever thread libjack reports from (its client
    and notification threads, and the caller of a failing libjack call). */
using JackMessageHandler = void (*) (const char* text);

/** Gives libjack's error and info texts, which it otherwise prints to the terminal, to these
    handlers. libjack is loaded by the name the framework's JACK type loads it by ("libjack.so.0",
    then "libjack.so"), so both reach the one library; it stays loaded. False when libjack is not
    there (nothing to silence then). Process-wide; any thread. */
bool setJackMessageHandlers (JackMessageHandler error, JackMessageHandler info);
} // namespace vantrel::platform
