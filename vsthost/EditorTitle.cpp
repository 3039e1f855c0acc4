#include "vsthost/EditorTitle.h"

namespace orvane::vsthost
{
namespace
{
/** Length of the valid UTF-8 sequence at `i`, or 0 when the bytes there are not one. */
std::size_t validSequenceLength (const std::string& text, std::size_t i)
{
    const auto lead = static_cast<unsigned char> (text[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;

    if (length == 0 || i + length > text.size())
        return 0;

    static const unsigned char leadMask[] = { 0, 0x7F, 0x1F, 0x0F, 0x07 };
    char32_t c = lead & leadMask[length];

    for (std::size_t k = 1; k < length; ++k)
    {
        const auto next = static_cast<unsigned char> (text[i + k]);

        if ((next & 0xC0) != 0x80)
            return 0;

        c = (c << 6) | (next & 0x3F);
    }

    static const char32_t smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };

    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;

    return length;
}
} // namespace

std::string editorWindowTitle (const std::string& titleUtf8)
{
    const auto text = titleUtf8.substr (0, titleUtf8.find ('\0'));
    std::string title;

    for (std::size_t i = 0; i < text.size();)
    {
        const auto length = validSequenceLength (text, i);

        if (length == 0)
        {
            title += "\xEF\xBF\xBD";
            ++i;
            continue;
        }

        title.append (text, i, length);
        i += length;
    }

    return title.empty() ? "Orvane VST3" : title;
}
} // namespace orvane::vsthost
