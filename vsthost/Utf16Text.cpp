#include "vsthost/Utf16Text.h"

namespace orvane::vsthost
{
namespace
{
void appendUtf8 (std::string& out, char32_t c)
{
    if (c < 0x80)
    {
        out += static_cast<char> (c);
    }
    else if (c < 0x800)
    {
        out += static_cast<char> (0xC0 | (c >> 6));
        out += static_cast<char> (0x80 | (c & 0x3F));
    }
    else if (c < 0x10000)
    {
        out += static_cast<char> (0xE0 | (c >> 12));
        out += static_cast<char> (0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char> (0x80 | (c & 0x3F));
    }
    else
    {
        out += static_cast<char> (0xF0 | (c >> 18));
        out += static_cast<char> (0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char> (0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char> (0x80 | (c & 0x3F));
    }
}
} // namespace

std::string utf16ToUtf8 (const Steinberg::char16* text, std::size_t maxUnits)
{
    std::string out;

    if (text == nullptr)
        return out;

    for (std::size_t i = 0; i < maxUnits && text[i] != 0; ++i)
    {
        const char32_t unit = static_cast<char16_t> (text[i]);

        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < maxUnits)
        {
            const char32_t next = static_cast<char16_t> (text[i + 1]);

            if (next >= 0xDC00 && next <= 0xDFFF)
            {
                appendUtf8 (out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }

        appendUtf8 (out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
    }

    return out;
}

bool utf8ToUtf16 (const std::string& text, std::u16string& result)
{
    result.clear();

    for (std::size_t i = 0; i < text.size();)
    {
        const auto lead = static_cast<unsigned char> (text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;

        if (length == 0)
            return false;

        static const unsigned char leadMask[] = { 0, 0x7F, 0x1F, 0x0F, 0x07 };
        char32_t c = lead & leadMask[length];

        if (i + length > text.size())
            return false;

        for (std::size_t k = 1; k < length; ++k)
        {
            const auto next = static_cast<unsigned char> (text[i + k]);

            if ((next & 0xC0) != 0x80)
                return false;

            c = (c << 6) | (next & 0x3F);
        }

        static const char32_t smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };

        if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;

        if (c >= 0x10000)
        {
            result += static_cast<char16_t> (0xD800 + ((c - 0x10000) >> 10));
            result += static_cast<char16_t> (0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        else
        {
            result += static_cast<char16_t> (c);
        }

        i += length;
    }

    return true;
}
} // namespace orvane::vsthost
