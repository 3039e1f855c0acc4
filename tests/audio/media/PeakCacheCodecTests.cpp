#include "audio/media/WaveformPeaks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

using namespace orvane::audio;

namespace
{
using Bytes = std::vector<std::uint8_t>;

WaveformPeakData recordOf (int channels, std::size_t frames, double rate, std::uint64_t perPeak, unsigned seed)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> level (-1.2f, 1.2f);
    std::vector<float> samples (frames * (std::size_t) channels);
    for (auto& s : samples)
        s = level (random);
    return computeWaveformPeaks (samples.data(), samples.size(), channels, rate, perPeak);
}

void putLittleEndian (Bytes& bytes, std::size_t offset, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[offset + (std::size_t) i] = (std::uint8_t) (value >> (8 * i));
}

std::uint64_t bitsOf (double value)
{
    std::uint64_t bits;
    std::memcpy (&bits, &value, 8);
    return bits;
}

std::uint32_t bitsOf (float value)
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, 4);
    return bits;
}
} // namespace

TEST (PeakCacheCodec, WritesTheDocumentedLittleEndianLayout)
{
    WaveformPeakData peaks;
    peaks.channels = 1;
    peaks.sampleRate = 48000.0;
    peaks.totalFrames = 300;
    peaks.framesPerPeak = 256;
    peaks.peakCount = 2;
    peaks.minima = { -0.5f, 0.25f };
    peaks.maxima = { 1.0f, 0.5f };

    const Bytes bytes = encodePeakCache (peaks);
    ASSERT_EQ (bytes.size(), 48u + 8u * 2u);

    Bytes expected (64, 0);
    const char magic[] = "ORWPK02";
    std::memcpy (expected.data(), magic, 8); // the terminating zero is the magic's eighth byte
    putLittleEndian (expected, 8, 2, 4);
    putLittleEndian (expected, 12, 1, 4);
    putLittleEndian (expected, 16, bitsOf (48000.0), 8);
    putLittleEndian (expected, 24, 300, 8);
    putLittleEndian (expected, 32, 256, 8);
    putLittleEndian (expected, 40, 2, 8);
    putLittleEndian (expected, 48, bitsOf (-0.5f), 4);
    putLittleEndian (expected, 52, bitsOf (0.25f), 4);
    putLittleEndian (expected, 56, bitsOf (1.0f), 4);
    putLittleEndian (expected, 60, bitsOf (0.5f), 4);
    EXPECT_EQ (bytes, expected);
}

TEST (PeakCacheCodec, DecodingAnEncodedRecordGivesTheSameRecord)
{
    const std::vector<WaveformPeakData> records {
        recordOf (1, 1, 48000.0, 256, 1),
        recordOf (2, 257, 44100.0, 256, 2),
        recordOf (2, 48000 * 3 + 17, 48000.0, 256, 3),
        recordOf (3, 1000, 22050.5, 7, 4),
        recordOf (6, 513, 96000.0, 1, 5),
    };
    for (const auto& record : records)
    {
        ASSERT_TRUE (record.isValid());
        const Bytes bytes = encodePeakCache (record);
        ASSERT_EQ (bytes.size(), 48u + 8u * (std::size_t) record.channels * record.peakCount);
        const auto decoded = decodePeakCache (bytes);
        ASSERT_TRUE (decoded.has_value()) << record.channels << " channels";
        EXPECT_EQ (*decoded, record);
        EXPECT_EQ (encodePeakCache (*decoded), bytes);
    }
}

TEST (PeakCacheCodec, RefusesEveryDamagedForm)
{
    // 2 channels, 5 frames, 2 frames per peak: 3 peaks, 48 + 48 bytes.
    const auto record = recordOf (2, 5, 44100.0, 2, 9);
    const Bytes good = encodePeakCache (record);
    ASSERT_EQ (good.size(), 96u);
    ASSERT_TRUE (decodePeakCache (good).has_value());

    const std::uint64_t maxPerSide = (std::numeric_limits<std::uint64_t>::max() - 48) / 8;
    const std::vector<std::pair<const char*, std::function<void (Bytes&)>>> damages {
        { "empty", [] (Bytes& b) { b.clear(); } },
        { "47 bytes", [] (Bytes& b) { b.resize (47); } },
        { "header only", [] (Bytes& b) { b.resize (48); } },
        { "truncated by one", [] (Bytes& b) { b.pop_back(); } },
        { "one extra byte", [] (Bytes& b) { b.push_back (0); } },
        { "magic text", [] (Bytes& b) { b[0] = 'X'; } },
        { "magic digit", [] (Bytes& b) { b[6] = '3'; } },
        { "magic without its zero byte", [] (Bytes& b) { b[7] = ' '; } },
        { "version 1", [] (Bytes& b) { putLittleEndian (b, 8, 1, 4); } },
        { "version 3", [] (Bytes& b) { putLittleEndian (b, 8, 3, 4); } },
        { "version in the high byte", [] (Bytes& b) { putLittleEndian (b, 8, 0x02000000, 4); } },
        { "no channels", [] (Bytes& b) { putLittleEndian (b, 12, 0, 4); } },
        { "channel count with its top bit", [] (Bytes& b) { putLittleEndian (b, 12, 0x80000002u, 4); } },
        { "channel count that disagrees with the size", [] (Bytes& b) { putLittleEndian (b, 12, 3, 4); } },
        { "NaN rate", [] (Bytes& b) { putLittleEndian (b, 16, bitsOf (std::nan ("")), 8); } },
        { "infinite rate", [] (Bytes& b) { putLittleEndian (b, 16, bitsOf (std::numeric_limits<double>::infinity()), 8); } },
        { "zero rate", [] (Bytes& b) { putLittleEndian (b, 16, 0, 8); } },
        { "negative rate", [] (Bytes& b) { putLittleEndian (b, 16, bitsOf (-44100.0), 8); } },
        { "no frames", [] (Bytes& b) { putLittleEndian (b, 24, 0, 8); } },
        { "no frames per peak", [] (Bytes& b) { putLittleEndian (b, 32, 0, 8); } },
        { "no peaks", [] (Bytes& b) { putLittleEndian (b, 40, 0, 8); } },
        { "C x P overflows 64 bits", [] (Bytes& b) { putLittleEndian (b, 12, 0xffff, 4);
                                                     putLittleEndian (b, 40, 1ull << 60, 8); } },
        // 2 x (2^63 + 3) wraps to 6, the real value count of this file: a decoder that
        // multiplies without the overflow guard would accept the size and read on.
        { "C x P wraps to the real size", [] (Bytes& b) { putLittleEndian (b, 40, (1ull << 63) + 3, 8); } },
        { "8 C P + 48 overflows", [maxPerSide] (Bytes& b) { putLittleEndian (b, 12, 1, 4);
                                                             putLittleEndian (b, 40, maxPerSide + 1, 8); } },
        { "largest encodable size, but not this file", [maxPerSide] (Bytes& b) { putLittleEndian (b, 12, 1, 4);
                                                                                 putLittleEndian (b, 40, maxPerSide, 8); } },
        { "peak count disagrees with the frames", [] (Bytes& b) { putLittleEndian (b, 24, 7, 8); } },
        { "NaN minimum", [] (Bytes& b) { putLittleEndian (b, 48 + 4 * 3, bitsOf (std::nanf ("")), 4); } },
        { "infinite maximum", [] (Bytes& b) { putLittleEndian (b, 72 + 4 * 5, bitsOf (std::numeric_limits<float>::infinity()), 4); } },
        { "minimum out of range", [] (Bytes& b) { putLittleEndian (b, 48, bitsOf (-1.5f), 4); } },
        { "maximum out of range", [] (Bytes& b) { putLittleEndian (b, 72, bitsOf (1.0002f), 4); } },
        { "minimum above maximum", [] (Bytes& b) { putLittleEndian (b, 48, bitsOf (1.0f), 4);
                                                   putLittleEndian (b, 72, bitsOf (-1.0f), 4); } },
    };

    for (const auto& [name, damage] : damages)
    {
        Bytes bytes = good;
        damage (bytes);
        EXPECT_FALSE (decodePeakCache (bytes).has_value()) << name;
    }
    EXPECT_FALSE (decodePeakCache (nullptr, 96).has_value());
}

// Random damage to valid files: the decoder must never crash or read outside its
// input (the sanitizer build checks that), and whatever it accepts must be a valid
// record that encodes back to exactly the bytes it came from.
TEST (PeakCacheCodec, SurvivesAHundredThousandRandomMutations)
{
    const std::vector<Bytes> seeds {
        encodePeakCache (recordOf (1, 1, 48000.0, 256, 11)),
        encodePeakCache (recordOf (2, 700, 44100.0, 256, 12)),
        encodePeakCache (recordOf (3, 40, 8000.0, 5, 13)),
    };
    const std::uint64_t interesting[] = { 0, 1, 2, 3, 0x7fffffff, 0x80000000, 0xffffffff, 1ull << 32, 1ull << 61,
                                          1ull << 63, (1ull << 63) + 1, ~0ull, ~0ull / 8, (~0ull - 48) / 8,
                                          (~0ull - 48) / 8 + 1, bitsOf (std::nan ("")), bitsOf (-1.0) };
    const std::size_t fieldOffsets[] = { 8, 12, 16, 24, 32, 40, 48, 52 };

    std::mt19937_64 random (0x5eedf00d);
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < 100000; ++round)
    {
        Bytes bytes = seeds[(std::size_t) (random() % seeds.size())];
        const int mutations = 1 + (int) (random() % 4);
        for (int m = 0; m < mutations; ++m)
        {
            const auto position = [&] { return bytes.empty() ? std::size_t { 0 } : (std::size_t) (random() % bytes.size()); };
            switch (random() % 8)
            {
                case 0: if (! bytes.empty()) bytes[position()] ^= (std::uint8_t) (1u << (random() % 8)); break;
                case 1: if (! bytes.empty()) bytes[position()] = (std::uint8_t) random(); break;
                case 2: bytes.resize (position()); break;
                case 3: bytes.insert (bytes.begin() + (std::ptrdiff_t) position(), (std::uint8_t) random()); break;
                case 4: if (! bytes.empty()) bytes.erase (bytes.begin() + (std::ptrdiff_t) position()); break;
                case 5: bytes.resize (bytes.size() + 1 + random() % 16, (std::uint8_t) random()); break;
                default:
                {
                    const std::size_t offset = fieldOffsets[random() % std::size (fieldOffsets)];
                    const int width = offset == 8 || offset == 12 || offset >= 48 ? 4 : 8;
                    if (offset + (std::size_t) width <= bytes.size())
                        putLittleEndian (bytes, offset, interesting[random() % std::size (interesting)], width);
                    break;
                }
            }
        }

        const auto decoded = decodePeakCache (bytes);
        if (! decoded)
        {
            ++refused;
            continue;
        }
        ++accepted;
        ASSERT_TRUE (decoded->isValid()) << "round " << round;
        ASSERT_EQ (encodePeakCache (*decoded), bytes) << "round " << round;
    }
    EXPECT_GT (refused, 50000);
    EXPECT_GT (accepted, 0) << "some mutations (value bits inside the range) must still decode";
}
