#pragma once
// Any thread: pure functions.

#include <juce_core/juce_core.h>

#include <string>

namespace vantrel
{
/** At most `maxCharacters` characters of UTF-8 `text` for the screen, converted without touching
    the rest: a saved text may be tens of megabytes, which the framework would lay out as one
    line on the message thread. `cut` tells whether anything was left out. */
juce::String headOfText (const std::string& text, int maxCharacters, bool& cut);

/** The characters of a title, note or name that a one-line label shows; a longer text shows
    cut, with "…", and is not edited in place (its tail would be lost). */
constexpr int labelTextLimit = 1000;

/** The one-line form of a title, note or name: its head, with "…" when it was cut. */
juce::String labelTextOf (const std::string& text, bool& cut);
juce::String labelTextOf (const std::string& text);

/** The characters of a memo that the memo editor shows; a longer memo shows cut, read-only,
    after a note that says so. */
constexpr int memoTextLimit = 20000;
} // namespace vantrel
