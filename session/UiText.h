#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The text to show for a Japanese user-interface text (NUL-terminated UTF-8, as
    a rule a literal at the call site). With Japanese selected the text comes back
    unchanged; with English selected, its English text from the table when the
    exact bytes are a key, else the text unchanged. A null pointer gives an empty
    text. Any thread. */
juce::String translate (const char* japaneseUtf8);
} // namespace vantrel
