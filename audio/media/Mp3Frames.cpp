#include "audio/media/Mp3Frames.h"

#include <cstring>

namespace vantrel
{
namespace
{
/** How far past the ID3v2 tag the first frame header is looked for. */
constexpr std::size_t frameSearchWindow = 4096;

/** kbit/s by bitrate index 1..14: MPEG-1 layers I, II, III; MPEG-2 and 2.5 layer I; layers II and III. */
constexpr int bitrates[5][14] = {
    { 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448 },
    { 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384 },
    { 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 },
    { 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256 },
    { 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 },
};

/** Hz by sample-rate index 0..2: MPEG-1, MPEG-2, MPEG-2.5. */
constexpr int sampleRates[3][3] = { { 44100, 48000, 32000 }, { 22050, 24000, 16000 }, { 11025, 12000, 8000 } };

std::uint32_t bigEndian32 (const std::uint8_t* p)
{
    return ((std::uint32_t) p[0] << 24) | ((std::uint32_t) p[1] << 16) | ((std::uint32_t) p[2] << 8) | p[3];
}

bool hasLameIdentifier (const std::uint8_t* p)
{
    return std::memcmp (p, "LAME", 4) == 0 || std::memcmp (p, "Lavf", 4) == 0 || std::memcmp (p, "Lavc", 4) == 0;
}

/** Where "Xing" or "Info" stands in a layer III frame: after the header and the side information. */
std::size_t xingOffset (const Mp3FrameHeader& header)
{
    if (header.mpeg1)
        return 4 + (header.mono ? 17 : 32);
    return 4 + (header.mono ? 9 : 17);
}
} // namespace

std::optional<Mp3FrameHeader> readMp3FrameHeader (const std::uint8_t* bytes, std::size_t size)
{
    if (bytes == nullptr || size < 4 || bytes[0] != 0xff || (bytes[1] & 0xe0) != 0xe0)
        return std::nullopt;

    const int version = (bytes[1] >> 3) & 3;      // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5, 1: reserved
    const int layerBits = (bytes[1] >> 1) & 3;    // 3: layer I, 2: layer II, 1: layer III
    const int bitrateIndex = (bytes[2] >> 4) & 15;
    const int rateIndex = (bytes[2] >> 2) & 3;
    if (version == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;

    Mp3FrameHeader header;
    header.layer = 4 - layerBits;
    header.mpeg1 = version == 3;
    header.mono = ((bytes[3] >> 6) & 3) == 3;
    header.sampleRate = sampleRates[version == 3 ? 0 : (version == 2 ? 1 : 2)][rateIndex];
    if (header.layer == 1)
        header.samplesPerFrame = 384;
    else
        header.samplesPerFrame = header.layer == 3 && ! header.mpeg1 ? 576 : 1152;

    if (bitrateIndex == 0)
        return header;   // free format: the frame's length is not in its header

    const int table = header.mpeg1 ? header.layer - 1 : (header.layer == 1 ? 3 : 4);
    const int bitsPerSecond = bitrates[table][bitrateIndex - 1] * 1000;
    const int padding = (bytes[2] >> 1) & 1;
    if (header.layer == 1)
        header.frameBytes = (12 * bitsPerSecond / header.sampleRate + padding) * 4;
    else
        header.frameBytes = (header.samplesPerFrame / 8) * bitsPerSecond / header.sampleRate + padding;
    return header;
}

std::size_t id3v2TagLength (const std::uint8_t* bytes, std::size_t size)
{
    if (bytes == nullptr || size < 10 || std::memcmp (bytes, "ID3", 3) != 0 || bytes[3] == 0xff || bytes[4] == 0xff)
        return 0;
    if (((bytes[6] | bytes[7] | bytes[8] | bytes[9]) & 0x80) != 0)
        return 0;

    const std::size_t body = ((std::size_t) bytes[6] << 21) | ((std::size_t) bytes[7] << 14)
                           | ((std::size_t) bytes[8] << 7) | (std::size_t) bytes[9];
    const bool hasFooter = (bytes[5] & 0x10) != 0;
    return 10 + body + (hasFooter ? 10 : 0);
}

bool isMp3InfoFrame (const std::uint8_t* bytes, std::size_t size)
{
    const auto header = readMp3FrameHeader (bytes, size);
    if (! header || header->layer != 3)
        return false;

    const std::size_t at = xingOffset (*header);
    if (at + 4 <= size && (std::memcmp (bytes + at, "Xing", 4) == 0 || std::memcmp (bytes + at, "Info", 4) == 0))
        return true;
    return 36 + 4 <= size && std::memcmp (bytes + 36, "VBRI", 4) == 0;
}

std::optional<Mp3InfoFrame> findMp3InfoFrame (const std::uint8_t* bytes, std::size_t size)
{
    const std::size_t tagEnd = id3v2TagLength (bytes, size);
    if (tagEnd >= size)
        return std::nullopt;

    std::size_t start = tagEnd;
    const std::size_t searchEnd = tagEnd + frameSearchWindow;
    std::optional<Mp3FrameHeader> header;
    for (; start + 4 <= size && start < searchEnd; ++start)
    {
        header = readMp3FrameHeader (bytes + start, size - start);
        if (header && header->layer == 3 && header->frameBytes > 0)
            break;
        header.reset();
    }
    if (! header)
        return std::nullopt;

    std::size_t at = start + xingOffset (*header);
    if (at + 8 > size || (std::memcmp (bytes + at, "Xing", 4) != 0 && std::memcmp (bytes + at, "Info", 4) != 0))
        return std::nullopt;

    Mp3InfoFrame info;
    info.samplesPerFrame = header->samplesPerFrame;
    const std::uint32_t flags = bigEndian32 (bytes + at + 4);
    at += 8;
    if ((flags & 1) != 0)   // frame count
    {
        if (at + 4 > size)
            return std::nullopt;
        info.frames = bigEndian32 (bytes + at);
        at += 4;
    }
    at += (flags & 2) ? 4 : 0;     // byte count
    at += (flags & 4) ? 100 : 0;   // seek table
    at += (flags & 8) ? 4 : 0;     // quality

    // LAME extension: 9-byte encoder name, ..., delay and padding as two 12-bit numbers at +21.
    if (at + 24 <= size && hasLameIdentifier (bytes + at))
    {
        const std::uint8_t* d = bytes + at + 21;
        info.hasGapless = true;
        info.encoderDelay = (d[0] << 4) | (d[1] >> 4);
        info.padding = ((d[1] & 0x0f) << 8) | d[2];
    }
    return info;
}
} // namespace vantrel
