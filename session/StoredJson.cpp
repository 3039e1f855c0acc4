#include "session/StoredJson.h"

#include <cmath>
#include <cstring>

namespace vantrel
{
namespace
{
bool isContinuation (unsigned char byte)  { return (byte & 0xc0) == 0x80; }

/** The length of the valid UTF-8 sequence at `index`, or 0 when it is not valid. */
size_t validSequenceLength (const std::string& bytes, size_t index)
{
    const auto first = static_cast<unsigned char> (bytes[index]);
    const auto remaining = bytes.size() - index;
    auto at = [&] (size_t offset) { return static_cast<unsigned char> (bytes[index + offset]); };

    if (first < 0x80)
        return 1;

    if (first >= 0xc2 && first <= 0xdf)
        return remaining >= 2 && isContinuation (at (1)) ? 2 : 0;

    if (first >= 0xe0 && first <= 0xef)
    {
        if (remaining < 3 || ! isContinuation (at (1)) || ! isContinuation (at (2)))
            return 0;

        if (first == 0xe0 && at (1) < 0xa0)   // overlong
            return 0;

        if (first == 0xed && at (1) >= 0xa0)  // UTF-16 surrogate
            return 0;

        return 3;
    }

    if (first >= 0xf0 && first <= 0xf4)
    {
        if (remaining < 4 || ! isContinuation (at (1)) || ! isContinuation (at (2)) || ! isContinuation (at (3)))
            return 0;

        if (first == 0xf0 && at (1) < 0x90)   // overlong
            return 0;

        if (first == 0xf4 && at (1) >= 0x90)  // above U+10FFFF
            return 0;

        return 4;
    }

    return 0;
}

bool isDigit (char c)  { return c >= '0' && c <= '9'; }

/** True when a run of decimal digits, leading zeros ignored, has more significant digits than
    `limit` or equals that many and is greater. */
bool digitsExceed (const std::string& text, size_t start, size_t end, const std::string& limit)
{
    while (start + 1 < end && text[start] == '0')
        ++start;

    const auto length = end - start;
    return length > limit.size() || (length == limit.size() && text.compare (start, length, limit) > 0);
}

// Far deeper than any session file nests (about ten levels).
constexpr int maxJsonNesting = 64;

/** Text that the framework's parser would misread or could not survive, found outside strings. */
struct ParserHazard
{
    size_t offset = std::string::npos;   // npos: none
    const char* what = "";
};

/** Finds, in one pass outside strings (read the way the framework's parser reads them: double
    or single quotes, backslash escapes):
    - a number that the parser cannot read without an arithmetic overflow: a run of digits before
      any '.' or exponent beyond the signed 64-bit range (the parser accumulates it in an int64 and
      would wrap it into another value), or an exponent beyond the int range;
    - bracket nesting deeper than the limit: the parser is recursive, and a damaged file of
      nothing but brackets would exhaust its stack. */
ParserHazard findParserHazard (const std::string& text)
{
    static const std::string largestInt64 = "9223372036854775807";
    static const std::string largestExponent = "999999999";
    char quote = 0;
    int depth = 0;

    for (size_t i = 0; i < text.size(); ++i)
    {
        const auto c = text[i];

        if (quote != 0)
        {
            if (c == '\\')
                ++i;
            else if (c == quote)
                quote = 0;

            continue;
        }

        if (c == '"' || c == '\'')
        {
            quote = c;
            continue;
        }

        if (c == '{' || c == '[')
        {
            if (++depth > maxJsonNesting)
                return { i, "nesting too deep" };

            continue;
        }

        if (c == '}' || c == ']')
        {
            --depth;
            continue;
        }

        if (! isDigit (c))
            continue;

        const auto start = i;

        while (i < text.size() && isDigit (text[i]))
            ++i;

        if (digitsExceed (text, start, i, largestInt64))
            return { start, "number out of range" };

        if (i < text.size() && text[i] == '.')
            for (++i; i < text.size() && isDigit (text[i]);)
                ++i;

        if (i < text.size() && (text[i] == 'e' || text[i] == 'E'))
        {
            ++i;

            if (i < text.size() && (text[i] == '+' || text[i] == '-'))
                ++i;

            const auto exponent = i;

            while (i < text.size() && isDigit (text[i]))
                ++i;

            if (digitsExceed (text, exponent, i, largestExponent))
                return { start, "number out of range" };
        }

        --i;
    }

    return {};
}

/** The framework's parser turns a "\\uD83C\\uDFB5" escape pair (how its writer stores every
    character beyond U+FFFF) into two UTF-8-encoded surrogates, which are not UTF-8. Joins each
    pair into the 4-byte sequence of its character. False for an unpaired surrogate. */
bool joinSurrogatePairs (juce::String& text)
{
    const auto* raw = text.toRawUTF8();
    const auto size = text.getNumBytesAsUTF8();

    if (std::memchr (raw, 0xed, size) == nullptr)
        return true;

    auto at = [raw] (size_t i) { return static_cast<unsigned char> (raw[i]); };
    std::string joined;
    joined.reserve (size);

    for (size_t i = 0; i < size;)
    {
        if (at (i) != 0xed || i + 2 >= size || at (i + 1) < 0xa0)
        {
            joined.push_back (raw[i++]);
            continue;
        }

        const bool high = at (i + 1) < 0xb0;

        if (! high || i + 5 >= size || at (i + 3) != 0xed || at (i + 4) < 0xb0)
            return false;

        const uint32_t highUnit = 0xd000u | ((at (i + 1) & 0x3fu) << 6) | (at (i + 2) & 0x3fu);
        const uint32_t lowUnit = 0xd000u | ((at (i + 4) & 0x3fu) << 6) | (at (i + 5) & 0x3fu);
        const uint32_t c = 0x10000u + ((highUnit - 0xd800u) << 10) + (lowUnit - 0xdc00u);

        joined.push_back (static_cast<char> (0xf0 | (c >> 18)));
        joined.push_back (static_cast<char> (0x80 | ((c >> 12) & 0x3f)));
        joined.push_back (static_cast<char> (0x80 | ((c >> 6) & 0x3f)));
        joined.push_back (static_cast<char> (0x80 | (c & 0x3f)));
        i += 6;
    }

    text = juce::String::fromUTF8 (joined.data(), static_cast<int> (joined.size()));
    return true;
}

/** Repairs the strings of a parsed value in place (joinSurrogatePairs). */
bool joinSurrogatePairsIn (juce::var& value)
{
    if (value.isString())
    {
        auto text = value.toString();
        const auto before = text.getCharPointer().getAddress();

        if (! joinSurrogatePairs (text))
            return false;

        if (text.getCharPointer().getAddress() != before)
            value = text;

        return true;
    }

    if (auto* array = value.getArray())
    {
        for (auto& element : *array)
            if (! joinSurrogatePairsIn (element))
                return false;

        return true;
    }

    if (auto* object = value.getDynamicObject())
    {
        auto& members = object->getProperties();

        for (int i = 0; i < members.size(); ++i)
            if (auto* member = members.getVarPointerAt (i); member != nullptr && ! joinSurrogatePairsIn (*member))
                return false;
    }

    return true;
}

bool holdsOnlyFiniteNumbers (const juce::var& value)
{
    if (value.isDouble())
        return std::isfinite (static_cast<double> (value));

    if (auto* array = value.getArray())
    {
        for (const auto& element : *array)
            if (! holdsOnlyFiniteNumbers (element))
                return false;

        return true;
    }

    if (auto* object = value.getDynamicObject())
        for (const auto& member : object->getProperties())
            if (! holdsOnlyFiniteNumbers (member.value))
                return false;

    return true;
}

/** Printable ASCII but the quote and the backslash: a string's plain characters. */
bool isPlainStringByte (unsigned char c)  { return c >= 32 && c < 127 && c != '"' && c != '\\'; }

/** The strict scan behind isPlainJsonText. */
class PlainJsonScanner
{
public:
    explicit PlainJsonScanner (const std::string& text) : at (text.data()), end (text.data() + text.size()) {}

    bool scanDocument()
    {
        skipBlanks();

        if (at == end || (*at != '{' && *at != '['))
            return false;

        if (! scanValue())
            return false;

        skipBlanks();
        return at == end;
    }

private:
    const char* at;
    const char* const end;
    int depth = 0;

    char peek() const  { return at < end ? *at : '\0'; }

    void skipBlanks()
    {
        // On a local copy: the loop then keeps the position in a register.
        auto* p = at;

        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
            ++p;

        at = p;
    }

    bool scanValue()
    {
        skipBlanks();

        switch (peek())
        {
            case '{': return scanContainer ('}', true);
            case '[': return scanContainer (']', false);
            case '"': return scanString (false);
            case 't': return scanWord ("true");
            case 'f': return scanWord ("false");
            case 'n': return scanWord ("null");
            default:  return scanNumber();
        }
    }

    bool scanWord (const char* word)
    {
        const auto length = std::strlen (word);

        if (static_cast<size_t> (end - at) < length || std::memcmp (at, word, length) != 0)
            return false;

        at += length;
        return true;
    }

    bool scanContainer (char close, bool isObject)
    {
        if (++depth > maxJsonNesting)
            return false;

        ++at;
        skipBlanks();

        if (peek() == close)
        {
            ++at;
            --depth;
            return true;
        }

        for (;;)
        {
            if (isObject)
            {
                skipBlanks();

                if (peek() != '"' || ! scanString (true))
                    return false;

                skipBlanks();

                if (peek() != ':')
                    return false;

                ++at;
            }

            if (! scanValue())
                return false;

            skipBlanks();
            const auto next = peek();
            ++at;

            if (next == close)
                break;

            if (next != ',')
                return false;
        }

        --depth;
        return true;
    }

    /** Four hex digits after "\\u"; -1 when they are not. */
    int readUnit()
    {
        if (end - at < 4)
            return -1;

        int unit = 0;

        for (int i = 0; i < 4; ++i)
        {
            const auto digit = juce::CharacterFunctions::getHexDigitValue (static_cast<juce::juce_wchar> (at[i]));

            if (digit < 0)
                return -1;

            unit = unit * 16 + digit;
        }

        at += 4;
        return unit;
    }

    bool scanString (bool isName)
    {
        const auto* start = ++at;

        for (;;)
        {
            // Plain characters in one run.
            auto* p = at;

            while (p < end && isPlainStringByte (static_cast<unsigned char> (*p)))
                ++p;

            at = p;

            if (at == end)
                return false;

            const auto c = static_cast<unsigned char> (*at);

            if (c == '"')
                break;

            if (c < 32 || c >= 127)
                return false;

            ++at;

            if (c != '\\')
                continue;

            const auto escape = peek();
            ++at;

            if (std::strchr ("\"'\\/abfnrt", escape) != nullptr && escape != '\0')
                continue;

            if (escape != 'u')
                return false;

            const auto unit = readUnit();

            if (unit <= 0 || (unit >= 0xdc00 && unit <= 0xdfff))
                return false;

            if (unit >= 0xd800 && unit <= 0xdbff)
            {
                if (end - at < 2 || at[0] != '\\' || at[1] != 'u')
                    return false;

                at += 2;
                const auto low = readUnit();

                if (low < 0xdc00 || low > 0xdfff)
                    return false;
            }
        }

        const bool empty = at == start;
        ++at;
        return ! (isName && empty);
    }

    bool scanDigits (int& count)
    {
        const auto* start = at;
        auto* p = at;

        while (p < end && isDigit (*p))
            ++p;

        at = p;
        count += static_cast<int> (at - start);
        return at != start;
    }

    bool scanNumber()
    {
        if (peek() == '-')
            ++at;

        int digits = 0;
        const auto* start = at;

        if (! scanDigits (digits) || (*start == '0' && digits > 1) || digits > 18)
            return false;

        if (peek() == '.')
        {
            ++at;

            if (! scanDigits (digits))
                return false;
        }

        if (peek() == 'e' || peek() == 'E')
        {
            ++at;

            if (peek() == '+' || peek() == '-')
                ++at;

            int exponentDigits = 0;
            const auto* exponent = at;

            if (! scanDigits (exponentDigits) || exponentDigits > 3 || std::atoi (std::string (exponent, at).c_str()) > 250)
                return false;
        }

        if (digits > 40)
            return false;

        // What may follow a number in the framework's reading of it.
        const auto next = peek();
        return next == ' ' || next == '\t' || next == '\r' || next == '\n' || next == ',' || next == '}' || next == ']';
    }
};
} // namespace

bool isPlainJsonText (const std::string& bytes)
{
    return PlainJsonScanner (bytes).scanDocument();
}

juce::String findTextDamage (const std::string& bytes)
{
    for (size_t i = 0; i < bytes.size();)
    {
        if (bytes[i] == '\0')
            return "NUL at byte " + juce::String (static_cast<juce::int64> (i));

        const auto length = validSequenceLength (bytes, i);

        if (length == 0)
            return "invalid UTF-8 at byte " + juce::String (static_cast<juce::int64> (i));

        i += length;
    }

    return {};
}

juce::Result parseStoredJson (const std::string& bytes, juce::var& out)
{
    static const std::string byteOrderMark = "\xef\xbb\xbf";
    const auto skip = bytes.compare (0, byteOrderMark.size(), byteOrderMark) == 0 ? byteOrderMark.size() : 0;
    const auto text = bytes.substr (skip);

    if (const auto damage = findTextDamage (text); damage.isNotEmpty())
        return juce::Result::fail (damage);

    // Checked before the framework's parser sees the text, since it would overflow on these.
    if (const auto hazard = findParserHazard (text); hazard.offset != std::string::npos)
        return juce::Result::fail (juce::String (hazard.what) + " at byte " + juce::String (static_cast<juce::int64> (hazard.offset + skip)));

    juce::var parsed;
    const auto parse = juce::JSON::parse (juce::String::fromUTF8 (text.data(), static_cast<int> (text.size())), parsed);

    if (parse.failed())
        return parse;

    if (! holdsOnlyFiniteNumbers (parsed))
        return juce::Result::fail ("number out of range");

    if (! joinSurrogatePairsIn (parsed))
        return juce::Result::fail ("unpaired surrogate escape");

    out = std::move (parsed);
    return juce::Result::ok();
}
} // namespace vantrel
