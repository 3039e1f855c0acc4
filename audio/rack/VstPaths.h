#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The weakly canonical form of the file's full path: the existing part resolved (links
    included), the rest kept lexically normal. Empty when that fails. Any thread. */
juce::String normalizeVstPath (const juce::File& file);

/** True for exactly 32 hexadecimal digits (either case). */
bool isVstUid (const juce::String& text);

/** True for a state text the rack accepts: at most 0x2000000 characters, an even count, only
    hexadecimal digits (either case). Empty is a valid "no state". */
bool isVstStateHex (const juce::String& text);

/** True for an absolute path on this system (it starts with '/'). */
bool isAbsoluteVstPath (const juce::String& text);
} // namespace vantrel
