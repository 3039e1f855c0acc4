#pragma once

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The text to show for a Japanese user-interface text (NUL-terminated UTF-8, as
    a rule a literal at the call site). With Japanese selected the text comes back
    unchanged; with English selected, its English text when the exact bytes are a
    key of the fixed table or, failing that, of the program's message table, else
    the text unchanged. A null pointer gives an empty text. Any thread. */
juce::String translate (const char* japaneseUtf8);

/** The text to show for a message composed in a lower layer: fixed texts of the two
    tables joined with details (file names, paths, numbers, the system's own error
    texts). With Japanese selected the message comes back unchanged. With English
    selected: the whole message's English when it is a key; else, left to right, each
    fixed text found is replaced by its English (the longest one that starts at a
    place first) and everything between is kept as it stands. A fixed text is taken
    only where it stands apart: at the start of the message or right after another
    fixed text, blank, punctuation or digit, and up to the end, a blank or punctuation
    (a text that starts or ends with a blank or punctuation brings its own); a word of
    three characters or fewer without either (a label such as "設定") only as the unit
    right after a number (the 件 of 12件). So a word inside a path or a name is left alone.
    Any thread. */
juce::String translateMessage (const juce::String& message);
} // namespace vantrel
