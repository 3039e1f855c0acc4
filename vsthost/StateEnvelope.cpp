#include "vsthost/StateEnvelope.h"

#include "vsthost/ProtocolWords.h"

#include <array>
#include <cstring>

namespace orvane::vsthost
{
namespace
{
const std::uint8_t magic[8] = { 'O', 'V', 'S', 'T', '3', 'S', '2', 0 };
const char* const invalidEnvelope = "invalid or oversized VST3 state envelope";

std::array<std::int8_t, 256> makeHexTable()
{
    std::array<std::int8_t, 256> table {};
    table.fill (-1);

    for (int i = 0; i < 10; ++i)
        table[static_cast<std::size_t> ('0' + i)] = static_cast<std::int8_t> (i);

    for (int i = 0; i < 6; ++i)
    {
        table[static_cast<std::size_t> ('a' + i)] = static_cast<std::int8_t> (10 + i);
        table[static_cast<std::size_t> ('A' + i)] = static_cast<std::int8_t> (10 + i);
    }

    return table;
}

const std::array<std::int8_t, 256> hexTable = makeHexTable();

void appendHex (std::string& text, const std::uint8_t* bytes, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    const auto start = text.size();
    text.resize (start + 2 * length);
    auto* out = &text[start];

    for (std::size_t i = 0; i < length; ++i)
    {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
}

void decodeHex (const char* text, std::size_t byteCount, std::uint8_t* out)
{
    for (std::size_t i = 0; i < byteCount; ++i)
    {
        const auto high = hexTable[static_cast<unsigned char> (text[2 * i])];
        const auto low = hexTable[static_cast<unsigned char> (text[2 * i + 1])];
        out[i] = static_cast<std::uint8_t> ((high << 4) | low);
    }
}

std::uint32_t readUint32Le (const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t> (bytes[0]) | (static_cast<std::uint32_t> (bytes[1]) << 8)
         | (static_cast<std::uint32_t> (bytes[2]) << 16) | (static_cast<std::uint32_t> (bytes[3]) << 24);
}

void writeUint32Le (std::uint8_t* bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t> (value >> (8 * i));
}
} // namespace

std::string toHexString (const std::uint8_t* bytes, std::size_t length)
{
    std::string text;
    appendHex (text, bytes, length);
    return text;
}

std::string stateEnvelopeText (const std::vector<std::uint8_t>& component, const std::vector<std::uint8_t>& controller)
{
    const auto total = static_cast<std::uint64_t> (component.size()) + controller.size();

    if (total > maxStatePayloadBytes)
        return {};

    std::uint8_t header[stateEnvelopeHeaderBytes];
    std::memcpy (header, magic, sizeof (magic));
    writeUint32Le (header + 8, static_cast<std::uint32_t> (component.size()));
    writeUint32Le (header + 12, static_cast<std::uint32_t> (controller.size()));

    std::string text;
    text.reserve (static_cast<std::size_t> (2 * (stateEnvelopeHeaderBytes + total)));
    appendHex (text, header, sizeof (header));
    appendHex (text, component.data(), component.size());
    appendHex (text, controller.data(), controller.size());
    return text;
}

bool decodeStateEnvelope (const std::string& text, StateEnvelopeParts& parts, std::string& message)
{
    const auto fail = [&message] (const char* reason)
    {
        message = reason;
        return false;
    };

    if (text.size() % 2 != 0 || text.size() > protocol::maxStateTextLength)
        return fail (invalidEnvelope);

    for (const auto c : text)
        if (hexTable[static_cast<unsigned char> (c)] < 0)
            return fail (invalidEnvelope);

    const auto byteCount = text.size() / 2;

    if (byteCount < stateEnvelopeHeaderBytes)
        return fail (invalidEnvelope);

    std::uint8_t header[stateEnvelopeHeaderBytes];
    decodeHex (text.data(), stateEnvelopeHeaderBytes, header);

    if (std::memcmp (header, magic, sizeof (magic)) != 0)
        return fail ("unsupported VST3 state envelope version");

    const std::uint64_t componentSize = readUint32Le (header + 8);
    const std::uint64_t controllerSize = readUint32Le (header + 12);

    if (componentSize + controllerSize > maxStatePayloadBytes
        || byteCount != stateEnvelopeHeaderBytes + componentSize + controllerSize)
        return fail ("invalid VST3 state sizes");

    const auto* componentText = text.data() + 2 * stateEnvelopeHeaderBytes;
    parts.component.resize (static_cast<std::size_t> (componentSize));
    decodeHex (componentText, parts.component.size(), parts.component.data());
    parts.controller.resize (static_cast<std::size_t> (controllerSize));
    decodeHex (componentText + 2 * componentSize, parts.controller.size(), parts.controller.data());
    return true;
}
} // namespace orvane::vsthost
