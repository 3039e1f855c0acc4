#pragma once

#include <juce_core/juce_core.h>

#include <string>

namespace vantrel
{
/** Checks that stored bytes are text: valid UTF-8 (RFC 3629: no overlong forms, no surrogates,
    nothing above U+10FFFF) without a NUL byte. Answers an empty text when they are, otherwise
    what is wrong and where ("invalid UTF-8 at byte 12", "NUL at byte 3"). */
juce::String findTextDamage (const std::string& bytes);

/** Parses the bytes of a stored JSON file the way every reader of the session's files does:
    a leading UTF-8 byte-order mark is skipped; damaged text (findTextDamage) is refused instead
    of being decoded as another code page; the framework's JSON parser reads the text (an object
    or an array at the top level; an empty text gives a void value; text after the closing
    bracket is ignored, as the framework does); a number whose digits before any fraction lie
    beyond the signed 64-bit range, whose exponent has more than 9 digits, or whose value lies
    beyond the range of a double is refused ("number out of range at byte N"), where the
    framework would overflow and wrap it into another value; a "\\uD83C\\uDFB5" escape pair
    becomes its one character (the framework would leave two surrogates, which are not UTF-8,
    so that every character beyond U+FFFF would change on its way through a file) and an
    unpaired surrogate escape is refused. On failure `out` is untouched and
    the result's message says why. Any thread. */
juce::Result parseStoredJson (const std::string& bytes, juce::var& out);

/** A quick check that needs no parse: true only for plain JSON text that parseStoredJson is
    sure to accept. The text is printable ASCII (with spaces, tabs and line ends between the
    tokens), an object or an array at the top level with nothing but blanks after it, nested
    no deeper than parseStoredJson allows, every string escape one the framework reads (a
    surrogate escape only as a high and low pair, no "\\u0000"), every member name non-empty and
    every number strict JSON of moderate size (at most 18 digits before any fraction, at most 40
    digits in all, an exponent within +-250). False says nothing: such text may still parse.
    Any thread. */
bool isPlainJsonText (const std::string& bytes);
} // namespace vantrel
