#include "vsthost/ClassIdText.h"

#include <cstring>

namespace orvane::vsthost
{
namespace
{
int hexValue (char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';

    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;

    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;

    return -1;
}
} // namespace

std::string classIdText (const Steinberg::TUID id)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text (32, '0');

    for (int i = 0; i < 16; ++i)
    {
        const auto byte = static_cast<unsigned char> (id[i]);
        text[static_cast<std::size_t> (2 * i)] = digits[byte >> 4];
        text[static_cast<std::size_t> (2 * i + 1)] = digits[byte & 15];
    }

    return text;
}

bool parseClassIdText (const std::string& text, Steinberg::TUID id)
{
    if (text.size() != 32)
        return false;

    Steinberg::TUID parsed {};

    for (std::size_t i = 0; i < 16; ++i)
    {
        const auto high = hexValue (text[2 * i]);
        const auto low = hexValue (text[2 * i + 1]);

        if (high < 0 || low < 0)
            return false;

        parsed[i] = static_cast<char> ((high << 4) | low);
    }

    std::memcpy (id, parsed, sizeof (Steinberg::TUID));
    return true;
}
} // namespace orvane::vsthost
