// The FLAC reader reports what the framework's own reader hides: a stream that ends before the
// length its header announces. And it still reads streams whose header gives no length.

#include "MediaTestSupport.h"
#include "audio/media/FlacFormat.h"
#include "audio/media/MediaLoad.h"
#include "audio/media/MediaTexts.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;
using namespace vantrel::testing;

/** Sets the 36-bit total sample count of the STREAMINFO block (right after "fLaC"). */
void setTotalSamples (std::vector<std::uint8_t>& bytes, std::uint64_t total)
{
    ASSERT_GT (bytes.size(), 42u);
    ASSERT_EQ (std::string (bytes.begin(), bytes.begin() + 4), "fLaC");
    const std::size_t at = 4 + 4 + 13;   // block header, then 13 bytes before the count's low nibble byte
    bytes[at] = (std::uint8_t) ((bytes[at] & 0xf0) | ((total >> 32) & 0x0f));
    bytes[at + 1] = (std::uint8_t) (total >> 24);
    bytes[at + 2] = (std::uint8_t) (total >> 16);
    bytes[at + 3] = (std::uint8_t) (total >> 8);
    bytes[at + 4] = (std::uint8_t) total;
}

class FlacReading : public ::testing::Test
{
protected:
    juce::File flac (const char* name)
    {
        const auto file = folder / name;
        EXPECT_TRUE (soxSynth (file, 44100, 2, PcmEncoding::int16, toneEffects (2, 1.0)));
        return file;
    }

    TempFolder folder;
};

TEST_F (FlacReading, HeaderLengthIsTheReaderLength)
{
    const auto file = flac ("plain.flac");
    FlacFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (file.createInputStream().release(), true));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->getFormatName(), "FLAC file");
    EXPECT_EQ (reader->lengthInSamples, 44100);
    EXPECT_EQ (reader->numChannels, 2u);
    EXPECT_EQ (reader->sampleRate, 44100.0);

    // Reads anywhere, also backwards (a seek), give the same samples as a read from the start.
    juce::AudioBuffer<float> whole (2, 44100);
    ASSERT_TRUE (reader->read (&whole, 0, 44100, 0, true, true));
    juce::AudioBuffer<float> part (2, 1000);
    ASSERT_TRUE (reader->read (&part, 0, 1000, 30000, true, true));
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ (part.getSample (1, i), whole.getSample (1, 30000 + i)) << i;
    ASSERT_TRUE (reader->read (&part, 0, 1000, 500, true, true));
    EXPECT_EQ (part.getSample (0, 10), whole.getSample (0, 510));
}

TEST_F (FlacReading, StreamShorterThanItsHeaderSaysFails)
{
    const auto file = flac ("short.flac");
    auto bytes = readFileBytes (file);
    setTotalSamples (bytes, 50000);   // 44100 are there
    ASSERT_TRUE (writeFileBytes (file, bytes));
    for (const double rate : { 44100.0, 48000.0 })
    {
        const auto media = loadMedia (requestFor (file, rate), nullptr);
        EXPECT_EQ (media->error, juce::String::fromUTF8 (mediatext::decodeFailed)) << rate;
        EXPECT_EQ (media->pcm, nullptr);
    }
}

TEST_F (FlacReading, StreamWithoutLengthInItsHeaderIsCounted)
{
    const auto file = flac ("unknown.flac");
    auto bytes = readFileBytes (file);
    setTotalSamples (bytes, 0);   // as a stream written to a pipe
    ASSERT_TRUE (writeFileBytes (file, bytes));

    const auto media = loadMedia (requestFor (file, 44100.0), nullptr);
    ASSERT_TRUE (media->error.isEmpty()) << media->error;
    EXPECT_EQ (media->format, "FLAC");
    EXPECT_EQ (media->pcm->left.size(), 44100u);
    EXPECT_NEAR (toneFrequency (media->pcm->right, 44100.0, 4410, 39690), 1500.0, 0.3);
}
} // namespace
} // namespace vantrel
