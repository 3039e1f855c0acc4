#include "audio/media/PcmFileReader.h"

#include "audio/media/TruncationCheckedReader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace vantrel
{
namespace
{
/** How samples are stored; the integer ones become floats as the framework converts them:
    left-justified in an int32, then (float) value x (1 / 0x7fffffff). */
enum class Encoding { uint8, int8, int16le, int16be, int24le, int24be, int32le, int32be, float32le, float32be };

/** Where a file's sample data lie and how they are stored. */
struct Layout
{
    Encoding encoding = Encoding::int16le;
    int channels = 0;
    int bitsPerSample = 0;
    bool isFloat = false;
    double sampleRate = 0.0;
    std::int64_t dataStart = 0;
    std::int64_t headerFrames = 0;   // the length the header gives, as the framework reads it
    bool openEnded = false;          // a WAV data chunk announcing 0xFFFFFFFF bytes

    int bytesPerFrame() const noexcept  { return channels * bitsPerSample / 8; }
};

int tag (const char* name)
{
    return (int) juce::ByteOrder::littleEndianInt (name);
}

Encoding integerEncoding (int bits, bool littleEndian, bool unsigned8)
{
    switch (bits)
    {
        case 8:  return unsigned8 ? Encoding::uint8 : Encoding::int8;
        case 16: return littleEndian ? Encoding::int16le : Encoding::int16be;
        case 24: return littleEndian ? Encoding::int24le : Encoding::int24be;
        default: return littleEndian ? Encoding::int32le : Encoding::int32be;
    }
}

/** The layout of a RIFF WAVE file, its chunks walked as the framework's reader walks them (the
    last fmt and data chunks count; an unknown empty chunk ends the walk). Nothing for RF64, a
    format other than integer PCM or 32-bit float, or two data chunks. */
std::optional<Layout> parseWav (juce::FileInputStream& in)
{
    if (in.readInt() != tag ("RIFF"))
        return std::nullopt;
    const auto end = (std::int64_t) (std::uint32_t) in.readInt() + in.getPosition();
    if (in.readInt() != tag ("WAVE"))
        return std::nullopt;

    Layout layout;
    int format = -1, dataChunks = 0;
    std::int64_t dataBytes = 0;
    while (in.getPosition() < end && ! in.isExhausted())
    {
        const int type = in.readInt();
        const auto length = (std::uint32_t) in.readInt();
        const auto chunkEnd = in.getPosition() + (std::int64_t) length + (std::int64_t) (length & 1);

        if (type == tag ("fmt "))
        {
            format = (unsigned short) in.readShort();
            layout.channels = (unsigned short) in.readShort();
            layout.sampleRate = in.readInt();
            in.skipNextBytes (6);   // bytes per second, block align (the framework derives both)
            layout.bitsPerSample = (unsigned short) in.readShort();
            layout.isFloat = format == 3;
            if (format == 0xfffe)
            {
                static const unsigned char pcmGuid[16]   = { 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 };
                static const unsigned char floatGuid[16] = { 3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 };
                unsigned char guid[16] = {};
                in.skipNextBytes (8);   // extension size, valid bits, channel mask
                if (length < 40 || in.read (guid, 16) != 16)
                    return std::nullopt;
                layout.isFloat = std::memcmp (guid, floatGuid, 16) == 0;
                if (! layout.isFloat && std::memcmp (guid, pcmGuid, 16) != 0)
                    return std::nullopt;
            }
            else if (format != 1 && format != 3)
                return std::nullopt;
        }
        else if (type == tag ("data"))
        {
            ++dataChunks;
            dataBytes = length;
            layout.openEnded = length == 0xffffffffu;
            layout.dataStart = in.getPosition();
        }
        else if (length == 0)
        {
            const char* known[] = { "bext", "smpl", "inst", "INST", "cue ", "axml", "iXML", "LIST", "acid", "Trkn" };
            if (std::none_of (std::begin (known), std::end (known), [type] (const char* name) { return tag (name) == type; }))
                break;
        }
        in.setPosition (chunkEnd);
    }

    if (format < 0 || dataChunks != 1 || layout.bytesPerFrame() <= 0)
        return std::nullopt;
    layout.headerFrames = dataBytes / layout.bytesPerFrame();
    layout.encoding = layout.isFloat ? Encoding::float32le : integerEncoding (layout.bitsPerSample, true, true);
    return layout;
}

/** The rate of an AIFF COMM chunk's 80-bit number, computed the framework's way (whole Hz). */
std::optional<double> aiffRate (const unsigned char* bytes)
{
    const int byte0 = bytes[0];
    if ((byte0 & 0x80) != 0 || byte0 <= 0x3f || byte0 > 0x40 || (byte0 == 0x40 && bytes[1] > 0x1c))
        return std::nullopt;
    auto rate = juce::ByteOrder::bigEndianInt (bytes + 2);
    rate >>= (16414 - juce::ByteOrder::bigEndianShort (bytes));
    return (double) (int) rate;
}

/** The layout of an AIFF or AIFF-C file, its chunks walked as the framework's reader walks
    them. Nothing for a compression other than none, 'sowt' and 32-bit 'fl32'. */
std::optional<Layout> parseAiff (juce::FileInputStream& in)
{
    if (in.readInt() != tag ("FORM"))
        return std::nullopt;
    const auto end = (std::int64_t) in.readIntBigEndian() + in.getPosition();
    const int kind = in.readInt();
    if (kind != tag ("AIFF") && kind != tag ("AIFC"))
        return std::nullopt;

    Layout layout;
    bool littleEndian = false, hasVersion = false, hasData = false, hasCommon = false;
    std::int64_t frames = 0;
    while (in.getPosition() < end)
    {
        const int type = in.readInt();
        const auto length = (std::uint32_t) in.readIntBigEndian();
        const auto chunkEnd = in.getPosition() + (std::int64_t) length;

        if (type == tag ("FVER"))
        {
            hasVersion = true;
            const int version = in.readIntBigEndian();
            if (version != 0 && version != (int) 0xa2805140)
                break;
        }
        else if (type == tag ("COMM"))
        {
            hasCommon = true;
            layout.channels = (unsigned short) in.readShortBigEndian();
            frames = in.readIntBigEndian();
            layout.bitsPerSample = (unsigned short) in.readShortBigEndian();
            unsigned char rateBytes[10] = {};
            in.read (rateBytes, 10);
            const auto rate = aiffRate (rateBytes);
            if (! rate)
                return std::nullopt;
            layout.sampleRate = *rate;
            littleEndian = false;
            layout.isFloat = false;
            if (length > 18)
            {
                const int compression = in.readInt();
                if (compression == tag ("sowt"))
                    littleEndian = true;
                else if (compression == tag ("fl32") || compression == tag ("FL32"))
                    layout.isFloat = true;
                else if (compression != tag ("NONE") && compression != tag ("twos"))
                    return std::nullopt;
            }
        }
        else if (type == tag ("SSND"))
        {
            hasData = true;
            const int offset = in.readIntBigEndian();
            layout.dataStart = in.getPosition() + 4 + offset;
            frames = layout.bytesPerFrame() > 0 ? std::min<std::int64_t> (frames, (std::int64_t) length / layout.bytesPerFrame()) : 0;
        }
        else if (type != tag ("MARK") && type != tag ("COMT") && type != tag ("INST") && type != tag ("basc")
                 && type != tag ("cate") && ((hasVersion && hasData && hasCommon) || in.isExhausted()))
        {
            break;
        }
        in.setPosition (chunkEnd + (chunkEnd & 1));
    }

    if (! hasCommon || ! hasData || layout.bytesPerFrame() <= 0 || (layout.isFloat && layout.bitsPerSample != 32))
        return std::nullopt;
    layout.headerFrames = frames;
    layout.encoding = layout.isFloat ? (littleEndian ? Encoding::float32le : Encoding::float32be)
                                     : integerEncoding (layout.bitsPerSample, littleEndian, false);
    return layout;
}

/** Sample i of the data as the framework's reader gives it: left-justified int32 for integer
    data, the bit pattern for float data. */
template <Encoding encoding>
inline std::uint32_t rawSample (const unsigned char* p) noexcept
{
    if constexpr (encoding == Encoding::uint8)
        return (std::uint32_t) (p[0] ^ 0x80u) << 24;
    else if constexpr (encoding == Encoding::int8)
        return (std::uint32_t) p[0] << 24;
    else if constexpr (encoding == Encoding::int16le)
        return ((std::uint32_t) p[0] << 16) | ((std::uint32_t) p[1] << 24);
    else if constexpr (encoding == Encoding::int16be)
        return ((std::uint32_t) p[1] << 16) | ((std::uint32_t) p[0] << 24);
    else if constexpr (encoding == Encoding::int24le)
        return ((std::uint32_t) p[0] << 8) | ((std::uint32_t) p[1] << 16) | ((std::uint32_t) p[2] << 24);
    else if constexpr (encoding == Encoding::int24be)
        return ((std::uint32_t) p[2] << 8) | ((std::uint32_t) p[1] << 16) | ((std::uint32_t) p[0] << 24);
    else if constexpr (encoding == Encoding::int32le || encoding == Encoding::float32le)
        return (std::uint32_t) p[0] | ((std::uint32_t) p[1] << 8) | ((std::uint32_t) p[2] << 16) | ((std::uint32_t) p[3] << 24);
    else
        return (std::uint32_t) p[3] | ((std::uint32_t) p[2] << 8) | ((std::uint32_t) p[1] << 16) | ((std::uint32_t) p[0] << 24);
}

template <Encoding encoding>
inline float sampleAt (const unsigned char* p) noexcept
{
    const auto raw = rawSample<encoding> (p);
    if constexpr (encoding == Encoding::float32le || encoding == Encoding::float32be)
    {
        float value;
        std::memcpy (&value, &raw, sizeof (value));
        return value;
    }
    else
    {
        constexpr float scale = 1.0f / (float) 0x7fffffff;
        return (float) (std::int32_t) raw * scale;
    }
}

constexpr int bytesOf (Encoding encoding)
{
    switch (encoding)
    {
        case Encoding::uint8: case Encoding::int8: return 1;
        case Encoding::int16le: case Encoding::int16be: return 2;
        case Encoding::int24le: case Encoding::int24be: return 3;
        default: return 4;
    }
}

/** Converts frames of interleaved data: into one interleaved buffer (planes[0], planeCount 1
    for any channel count) or into two planes from stereo data. */
template <Encoding encoding>
__attribute__ ((always_inline)) inline void convertBody (const unsigned char* source, float* const* planes, int planeCount, std::size_t samples) noexcept
{
    constexpr std::size_t width = (std::size_t) bytesOf (encoding);
    if (planeCount == 1)
    {
        float* out = planes[0];
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = sampleAt<encoding> (source + i * width);
        return;
    }
    float* left = planes[0];
    float* right = planes[1];
    for (std::size_t i = 0; i < samples / 2; ++i)
    {
        left[i] = sampleAt<encoding> (source + 2 * i * width);
        right[i] = sampleAt<encoding> (source + (2 * i + 1) * width);
    }
}

template <Encoding encoding>
void convertPortable (const unsigned char* source, float* const* planes, int planeCount, std::size_t samples) noexcept
{
    convertBody<encoding> (source, planes, planeCount, samples);
}

template <Encoding encoding>
__attribute__ ((target ("avx2"))) void convertWide (const unsigned char* source, float* const* planes, int planeCount,
                                                    std::size_t samples) noexcept
{
    convertBody<encoding> (source, planes, planeCount, samples);
}

using Converter = void (*) (const unsigned char*, float* const*, int, std::size_t) noexcept;

template <Encoding encoding>
Converter converterOf (bool wide)
{
    return wide ? &convertWide<encoding> : &convertPortable<encoding>;
}

Converter converterFor (Encoding encoding)
{
    static const bool wide = __builtin_cpu_supports ("avx2") != 0;
    switch (encoding)
    {
        case Encoding::uint8:     return converterOf<Encoding::uint8> (wide);
        case Encoding::int8:      return converterOf<Encoding::int8> (wide);
        case Encoding::int16le:   return converterOf<Encoding::int16le> (wide);
        case Encoding::int16be:   return converterOf<Encoding::int16be> (wide);
        case Encoding::int24le:   return converterOf<Encoding::int24le> (wide);
        case Encoding::int24be:   return converterOf<Encoding::int24be> (wide);
        case Encoding::int32le:   return converterOf<Encoding::int32le> (wide);
        case Encoding::int32be:   return converterOf<Encoding::int32be> (wide);
        case Encoding::float32le: return converterOf<Encoding::float32le> (wide);
        case Encoding::float32be: return converterOf<Encoding::float32be> (wide);
    }
    return nullptr;
}

/** Reads one file's sample data through its own stream, a block of about 1 MiB at a time. */
class BlockReader final : public PcmFileReader
{
public:
    BlockReader (std::unique_ptr<juce::FileInputStream> stream, const Layout& fileLayout, std::int64_t length,
                 std::int64_t framesInFile)
        : in (std::move (stream)), layout (fileLayout), convert (converterFor (fileLayout.encoding)),
          frameBytes (fileLayout.bytesPerFrame()), lengthInFrames (length), framesPresent (std::min (length, framesInFile)),
          scratch ((std::size_t) std::max (1, blockBytes / frameBytes) * (std::size_t) frameBytes)
    {
    }

    bool readInterleaved (float* destination, std::int64_t start, int count) override
    {
        float* planes[1] = { destination };
        return read (planes, 1, start, count);
    }

    bool readPlanar (float* const* planes, std::int64_t start, int count) override
    {
        return read (planes, layout.channels, start, count);
    }

private:
    static constexpr int blockBytes = 1 << 20;

    /** planeCount 1: interleaved into planes[0]; otherwise one plane per channel. Frames
        before 0 and beyond the length read as zeros, as the framework's reads give them;
        frames the file does not hold fail the read. */
    bool read (float* const* planes, int planeCount, std::int64_t start, int count)
    {
        if (count <= 0)
            return true;
        const int stride = planeCount == 1 ? layout.channels : 1;
        const auto end = start + count;
        if (framesPresent < lengthInFrames && end > framesPresent)
            return false;

        const auto first = std::clamp<std::int64_t> (start, 0, lengthInFrames);
        const auto last = std::clamp<std::int64_t> (end, first, lengthInFrames);
        clear (planes, planeCount, stride, 0, first - start);
        clear (planes, planeCount, stride, last - start, end - last);

        const auto framesPerBlock = (std::int64_t) (scratch.size() / (std::size_t) frameBytes);
        for (auto position = first; position < last; position += framesPerBlock)
        {
            const int frames = (int) std::min (framesPerBlock, last - position);
            const auto offset = (std::size_t) (position - start);
            float* at[2] = { planes[0] + offset * (std::size_t) stride, planeCount > 1 ? planes[1] + offset : nullptr };
            if (! readBytes (position, frames))
                return false;
            convert (scratch.data(), at, planeCount == 1 ? 1 : 2, (std::size_t) frames * (std::size_t) layout.channels);
        }
        return true;
    }

    /** The bytes of frames [position, position + frames) into the scratch buffer; false when
        the file no longer holds them all. */
    bool readBytes (std::int64_t position, int frames)
    {
        const int wanted = frames * frameBytes;
        if (! in->setPosition (layout.dataStart + position * frameBytes))
            return false;
        for (int got = 0; got < wanted;)
        {
            const int now = in->read (scratch.data() + got, wanted - got);
            if (now <= 0)
                return false;
            got += now;
        }
        return true;
    }

    void clear (float* const* planes, int planeCount, int stride, std::int64_t from, std::int64_t frames) const
    {
        if (frames <= 0)
            return;
        for (int p = 0; p < planeCount; ++p)
            std::fill_n (planes[p] + from * stride, frames * stride, 0.0f);
    }

    std::unique_ptr<juce::FileInputStream> in;
    Layout layout;
    Converter convert;
    int frameBytes;
    std::int64_t lengthInFrames;
    std::int64_t framesPresent;
    std::vector<unsigned char> scratch;
};
} // namespace

std::unique_ptr<PcmFileReader> PcmFileReader::open (const juce::AudioFormatReader& reader, const juce::File& file)
{
    const auto name = reader.getFormatName();
    const bool isWav = name == "WAV file", isAiff = name == "AIFF file";
    if (! isWav && ! isAiff)
        return nullptr;

    auto in = std::make_unique<juce::FileInputStream> (file);
    if (! in->openedOk())
        return nullptr;
    const auto layout = isWav ? parseWav (*in) : parseAiff (*in);
    if (! layout || layout->channels < 1 || layout->channels > 2)
        return nullptr;

    const int bits = layout->bitsPerSample;
    const bool knownDepth = layout->isFloat ? bits == 32 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const auto fileSize = in->getTotalLength();
    const auto framesInFile = std::clamp<std::int64_t> ((fileSize - layout->dataStart) / layout->bytesPerFrame(), 0,
                                                        layout->headerFrames);

    // The framework's reader must see the same layout: anything else is read through it.
    const auto* checked = dynamic_cast<const TruncationCheckedReader*> (&reader);
    const bool sameLength = reader.lengthInSamples == layout->headerFrames
                         || (isWav && layout->openEnded && checked != nullptr && reader.lengthInSamples == framesInFile);
    if (! knownDepth || (int) reader.numChannels != layout->channels || (int) reader.bitsPerSample != bits
        || reader.usesFloatingPointData != layout->isFloat || reader.sampleRate != layout->sampleRate || ! sameLength
        || reader.lengthInSamples < 0 || layout->dataStart < 0)
        return nullptr;
    if (checked != nullptr && checked->isTruncated() != (framesInFile < reader.lengthInSamples))
        return nullptr;

    return std::make_unique<BlockReader> (std::move (in), *layout, reader.lengthInSamples, framesInFile);
}
} // namespace vantrel
