#include "vsthost/ProtocolNumbers.h"

#include <charconv>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace orvane::vsthost
{
namespace
{
bool isSpace (char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit (char c)
{
    return c >= '0' && c <= '9';
}

/** Skips white space and one sign; returns the position of the number and whether it is negative. */
std::size_t skipToNumber (const std::string& field, bool& negative)
{
    std::size_t position = 0;

    while (position < field.size() && isSpace (field[position]))
        ++position;

    negative = false;

    if (position < field.size() && (field[position] == '+' || field[position] == '-'))
        negative = field[position++] == '-';

    return position;
}

std::uint64_t parseUnsigned (const std::string& field, std::uint64_t maximum, const char* name)
{
    bool negative = false;
    auto position = skipToNumber (field, negative);

    if (position >= field.size() || ! isDigit (field[position]))
        throw std::invalid_argument (std::string ("invalid ") + name + " argument");

    std::uint64_t value = 0;
    bool overflow = false;

    for (; position < field.size() && isDigit (field[position]); ++position)
    {
        const auto digit = static_cast<std::uint64_t> (field[position] - '0');

        if (value > (maximum - digit) / 10)
            overflow = true;
        else
            value = value * 10 + digit;
    }

    if (overflow || (negative && value != 0))
        throw std::out_of_range (std::string (name) + " argument out of range");

    return value;
}
} // namespace

std::uint32_t parseUint32Field (const std::string& field)
{
    return static_cast<std::uint32_t> (parseUnsigned (field, std::numeric_limits<std::uint32_t>::max(), "stoul"));
}

std::uint64_t parseUint64Field (const std::string& field)
{
    return parseUnsigned (field, std::numeric_limits<std::uint64_t>::max(), "stoull");
}

double parseDoubleField (const std::string& field)
{
    bool negative = false;
    const auto position = skipToNumber (field, negative);
    const auto* begin = field.data() + position;
    const auto* end = field.data() + field.size();
    double value = 0.0;
    std::from_chars_result result { begin, std::errc::invalid_argument };

    const bool hexPrefix = end - begin >= 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X');

    if (hexPrefix)
    {
        result = std::from_chars (begin + 2, end, value, std::chars_format::hex);

        if (result.ec == std::errc::invalid_argument)   // "0x" without hex digits reads as the 0
        {
            value = 0.0;
            result.ec = std::errc();
        }
    }
    else if (begin < end && *begin != '+' && *begin != '-')
    {
        result = std::from_chars (begin, end, value, std::chars_format::general);
    }

    if (result.ec == std::errc::invalid_argument)
        throw std::invalid_argument ("invalid stod argument");

    if (result.ec == std::errc::result_out_of_range)
        throw std::out_of_range ("stod argument out of range");

    return negative ? -value : value;
}

std::string formatDefaultDouble (double value)
{
    char text[64];
    const auto result = std::to_chars (text, text + sizeof (text), value, std::chars_format::general, 6);
    return std::string (text, result.ptr);
}
} // namespace orvane::vsthost
