#include "audio/media/Mp3GaplessInfo.h"

#include <cstring>

namespace vantrel
{
namespace
{
/** How far past the ID3v2 tag the first frame header is looked for. */
constexpr std::size_t frameSearchWindow = 4096;

std::size_t id3v2Length (const std::uint8_t* bytes, std::size_t size)
{
    if (size < 10 || std::memcmp (bytes, "ID3", 3) != 0 || bytes[3] == 0xff || bytes[4] == 0xff)
        return 0;
    if (((bytes[6] | bytes[7] | bytes[8] | bytes[9]) & 0x80) != 0)
        return 0;

    const std::size_t body = ((std::size_t) bytes[6] << 21) | ((std::size_t) bytes[7] << 14)
                           | ((std::size_t) bytes[8] << 7) | (std::size_t) bytes[9];
    const bool hasFooter = (bytes[5] & 0x10) != 0;
    return 10 + body + (hasFooter ? 10 : 0);
}

/** An MPEG-1 layer III frame header with a valid bitrate and sample rate. */
bool isMpeg1Layer3Header (const std::uint8_t* h)
{
    const bool sync = h[0] == 0xff && (h[1] & 0xe0) == 0xe0;
    const int version = (h[1] >> 3) & 3;    // 3: MPEG-1
    const int layer = (h[1] >> 1) & 3;      // 1: layer III
    const int bitrate = (h[2] >> 4) & 15;
    const int rate = (h[2] >> 2) & 3;
    return sync && version == 3 && layer == 1 && bitrate != 0 && bitrate != 15 && rate != 3;
}

std::uint32_t bigEndian32 (const std::uint8_t* p)
{
    return ((std::uint32_t) p[0] << 24) | ((std::uint32_t) p[1] << 16) | ((std::uint32_t) p[2] << 8) | p[3];
}

bool hasLameIdentifier (const std::uint8_t* p)
{
    return std::memcmp (p, "LAME", 4) == 0 || std::memcmp (p, "Lavf", 4) == 0 || std::memcmp (p, "Lavc", 4) == 0;
}
} // namespace

std::optional<Mp3GaplessInfo> findMp3GaplessInfo (const std::uint8_t* bytes, std::size_t size)
{
    const std::size_t tagEnd = id3v2Length (bytes, size);
    if (tagEnd >= size)
        return std::nullopt;

    std::size_t header = tagEnd;
    const std::size_t searchEnd = tagEnd + frameSearchWindow;
    while (header + 4 <= size && header < searchEnd && ! isMpeg1Layer3Header (bytes + header))
        ++header;
    if (header + 4 > size || header >= searchEnd)
        return std::nullopt;

    const bool mono = ((bytes[header + 3] >> 6) & 3) == 3;
    std::size_t at = header + 4 + (mono ? 17 : 32);
    if (at + 8 > size || (std::memcmp (bytes + at, "Xing", 4) != 0 && std::memcmp (bytes + at, "Info", 4) != 0))
        return std::nullopt;

    const std::uint32_t flags = bigEndian32 (bytes + at + 4);
    at += 8;
    at += (flags & 1) ? 4 : 0;     // frame count
    at += (flags & 2) ? 4 : 0;     // byte count
    at += (flags & 4) ? 100 : 0;   // seek table
    at += (flags & 8) ? 4 : 0;     // quality

    // LAME extension: 9-byte encoder name, ..., delay and padding as two 12-bit numbers at +21.
    if (at + 24 > size || ! hasLameIdentifier (bytes + at))
        return std::nullopt;

    const std::uint8_t* d = bytes + at + 21;
    Mp3GaplessInfo info;
    info.encoderDelay = (d[0] << 4) | (d[1] >> 4);
    info.padding = ((d[1] & 0x0f) << 8) | d[2];
    return info;
}
} // namespace vantrel
