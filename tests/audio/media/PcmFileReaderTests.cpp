// The bulk PCM reader gives exactly the framework reader's floats for every layout it takes,
// fails where that reader's read fails, and leaves every other file to the framework. The FLAC
// reader gives the same samples from any starting frame.

#include "MediaTestSupport.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/PcmFileReader.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using orvane::audio::testing::readFileBytes;
using orvane::audio::testing::TempFolder;
using orvane::audio::testing::writeFileBytes;
using namespace vantrel::testing;

constexpr int fileFrames = 300001;   // more than one 1 MiB block of any layout, and odd

/** Frames [start, start + count) through the framework reader, interleaved; empty when the
    read fails. */
std::vector<float> frameworkFrames (juce::AudioFormatReader& reader, std::int64_t start, int count)
{
    const int channels = (int) reader.numChannels;
    std::vector<float> planar ((std::size_t) (count * channels));
    float* planes[2] = { planar.data(), planar.data() + count };
    if (! reader.read (planes, channels, start, count))
        return {};
    std::vector<float> interleaved (planar.size());
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c)
            interleaved[(std::size_t) (i * channels + c)] = planes[c][i];
    return interleaved;
}

/** The same frames through the bulk reader, read interleaved or planar (then interleaved). */
std::vector<float> bulkFrames (PcmFileReader& bulk, int channels, std::int64_t start, int count, bool planar)
{
    std::vector<float> out ((std::size_t) (count * channels), -9.0f);
    if (! planar)
        return bulk.readInterleaved (out.data(), start, count) ? out : std::vector<float>();

    std::vector<float> planes (out.size());
    float* pointers[2] = { planes.data(), planes.data() + count };
    if (! bulk.readPlanar (pointers, start, count))
        return {};
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c)
            out[(std::size_t) (i * channels + c)] = pointers[c][i];
    return out;
}

bool sameBits (const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp (a.data(), b.data(), a.size() * sizeof (float)) == 0;
}

/** A deterministic signal with full-scale and clipped samples, for the framework's writers. */
juce::AudioBuffer<float> testSignal (int channels)
{
    juce::AudioBuffer<float> buffer (channels, fileFrames);
    std::uint32_t state = 12345;
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < fileFrames; ++i)
        {
            state = state * 1664525u + 1013904223u;
            buffer.setSample (c, i, ((float) (state >> 8) / 8388608.0f - 1.0f) * 1.1f);
        }
    buffer.setSample (0, 0, 1.0f);
    buffer.setSample (0, 1, -1.0f);
    return buffer;
}

bool writeWithFramework (juce::AudioFormat& format, const juce::File& file, int channels, int bits)
{
    auto stream = file.createOutputStream();
    if (stream == nullptr)
        return false;
    std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (stream.get(), 44100.0, (unsigned) channels, bits, {}, 0));
    if (writer == nullptr)
        return false;
    stream.release();
    const auto signal = testSignal (channels);
    return writer->writeFromAudioSampleBuffer (signal, 0, fileFrames);
}

enum class Maker { sox, ffmpeg, framework };

struct Layout
{
    const char* name;                 // file name: its extension picks the container
    Maker maker;
    juce::StringArray encoding;       // sox's options, ffmpeg's codec, or the framework's bits
    int channels;
};

const Layout layouts[] = {
    { "u8-mono.wav", Maker::sox, { "-e", "unsigned-integer", "-b", "8" }, 1 },
    { "s16-stereo.wav", Maker::sox, { "-e", "signed-integer", "-b", "16" }, 2 },
    { "s24-stereo-extensible.wav", Maker::sox, { "-e", "signed-integer", "-b", "24" }, 2 },
    { "s32-mono-extensible.wav", Maker::sox, { "-e", "signed-integer", "-b", "32" }, 1 },
    { "f32-stereo.wav", Maker::sox, { "-e", "floating-point", "-b", "32" }, 2 },
    { "f32-mono.wav", Maker::sox, { "-e", "floating-point", "-b", "32", "-t", "wavpcm" }, 1 },
    { "f32-mono-extensible.wav", Maker::ffmpeg, { "pcm_f32le" }, 1 },
    { "s8-stereo.aiff", Maker::sox, { "-e", "signed-integer", "-b", "8" }, 2 },
    { "s16-mono.aiff", Maker::sox, { "-e", "signed-integer", "-b", "16" }, 1 },
    { "s24-stereo.aiff", Maker::sox, { "-e", "signed-integer", "-b", "24" }, 2 },
    { "s32-stereo.aiff", Maker::sox, { "-e", "signed-integer", "-b", "32" }, 2 },
    { "sowt-stereo.aiff", Maker::ffmpeg, { "pcm_s16le" }, 2 },
    { "fl32-stereo.aiff", Maker::ffmpeg, { "pcm_f32be" }, 2 },
    { "juce-u8-stereo.wav", Maker::framework, { "8" }, 2 },
    { "juce-s24-mono.wav", Maker::framework, { "24" }, 1 },
    { "juce-f32-stereo.wav", Maker::framework, { "32" }, 2 },
    { "juce-s16-stereo.aiff", Maker::framework, { "16" }, 2 },
    { "juce-s24-mono.aiff", Maker::framework, { "24" }, 1 },
};

class PcmFileReading : public ::testing::Test
{
protected:
    ::testing::AssertionResult make (const Layout& layout, const juce::File& file)
    {
        if (layout.maker == Maker::framework)
        {
            juce::WavAudioFormat wav;
            juce::AiffAudioFormat aiff;
            juce::AudioFormat& format = file.hasFileExtension ("wav") ? (juce::AudioFormat&) wav : aiff;
            return writeWithFramework (format, file, layout.channels, layout.encoding[0].getIntValue())
                       ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "framework writer failed";
        }

        juce::StringArray effects { "synth", juce::String (fileFrames) + "s", "whitenoise" };
        if (layout.channels == 2)
            effects.addArray ({ "sine", "1000" });
        effects.addArray ({ "gain", "3" });   // clipped peaks
        if (layout.maker == Maker::sox)
        {
            juce::StringArray command { "sox", "-R", "-q", "-r", "44100", "-c", juce::String (layout.channels), "-n" };
            command.addArray (layout.encoding);
            command.add (file.getFullPathName());
            command.addArray (effects);
            return runTool (command);
        }
        const auto source = folder / "source.wav";
        juce::StringArray command { "sox", "-R", "-q", "-r", "44100", "-c", juce::String (layout.channels), "-n", "-e",
                                    "floating-point", "-b", "32", source.getFullPathName() };
        command.addArray (effects);
        const auto made = runTool (command);
        if (! made)
            return made;
        return runTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source.getFullPathName(), "-c:a", layout.encoding[0],
                          file.getFullPathName() });
    }

    /** Every range read both ways equals the framework reader's floats bit for bit; ranges
        that reach beyond the length (zeros) unless the reader's length is not the header's. */
    void expectSameFloats (const juce::File& file, int channels, const char* name, bool beyondLength = true)
    {
        auto reader = openMediaReader (file);
        ASSERT_NE (reader, nullptr) << name;
        ASSERT_EQ ((int) reader->numChannels, channels) << name;
        auto bulk = PcmFileReader::open (*reader, file);
        ASSERT_NE (bulk, nullptr) << name;

        const auto length = reader->lengthInSamples;
        const std::pair<std::int64_t, int> ranges[] = {
            { 0, (int) length }, { 1, 1000 }, { 262143, 3 }, { 77777, 131073 }, { length - 3, 3 }, { length - 2, 7 }, { -5, 9 }
        };
        for (const auto& [start, count] : ranges)
            for (const bool planar : { false, true })
            {
                if (! beyondLength && start + count > length)
                    continue;
                const auto expected = frameworkFrames (*reader, start, count);
                ASSERT_FALSE (expected.empty()) << name << " " << start;
                EXPECT_TRUE (sameBits (bulkFrames (*bulk, channels, start, count, planar), expected))
                    << name << " frames " << start << "+" << count << (planar ? " planar" : " interleaved");
            }
    }

    TempFolder folder;
};

TEST_F (PcmFileReading, EveryLayoutGivesTheFrameworkReadersFloats)
{
    for (const auto& layout : layouts)
    {
        const auto file = folder / layout.name;
        ASSERT_TRUE (make (layout, file)) << layout.name;
        if (juce::String (layout.name).contains ("extensible"))
        {
            const auto bytes = readFileBytes (file);
            EXPECT_EQ (bytes[20] | (bytes[21] << 8), 0xfffe) << layout.name;   // WAVE_FORMAT_EXTENSIBLE
        }
        expectSameFloats (file, layout.channels, layout.name);
    }
}

TEST_F (PcmFileReading, WavDataOfUnannouncedSizeReadsToTheEndOfTheFile)
{
    const auto file = folder / "piped.wav";
    ASSERT_TRUE (make (layouts[1], file));
    auto bytes = readFileBytes (file);
    ASSERT_EQ (std::string (bytes.begin() + 36, bytes.begin() + 40), "data");
    std::fill (bytes.begin() + 40, bytes.begin() + 44, 0xff);
    std::fill (bytes.begin() + 4, bytes.begin() + 8, 0xff);
    bytes.resize (bytes.size() - 2);   // a partial last frame
    ASSERT_TRUE (writeFileBytes (file, bytes));

    expectSameFloats (file, 2, "piped.wav", false);
    EXPECT_EQ (openMediaReader (file)->lengthInSamples, fileFrames - 1);
}

TEST_F (PcmFileReading, CutFileFailsPastTheCutAndReadsTheSameBeforeIt)
{
    for (const auto* name : { "s24-stereo-extensible.wav", "s16-mono.aiff" })
    {
        const auto& layout = *std::find_if (std::begin (layouts), std::end (layouts),
                                            [name] (const Layout& l) { return juce::String (l.name) == name; });
        const auto file = folder / name;
        ASSERT_TRUE (make (layout, file));
        auto bytes = readFileBytes (file);
        bytes.resize (bytes.size() - 100001);   // inside the sample data, mid-frame
        ASSERT_TRUE (writeFileBytes (file, bytes));

        auto reader = openMediaReader (file);
        ASSERT_NE (reader, nullptr);
        ASSERT_TRUE (isKnownTruncated (*reader)) << name;
        auto bulk = PcmFileReader::open (*reader, file);
        ASSERT_NE (bulk, nullptr) << name;

        // The frames the framework reader still reads: the last successful read ends there.
        int held = 0;
        for (int step = 1 << 18; step > 0; step /= 2)
            if (held + step <= fileFrames && ! frameworkFrames (*reader, 0, held + step).empty())
                held += step;
        ASSERT_GT (held, fileFrames / 2) << name;
        ASSERT_LT (held, fileFrames) << name;

        const auto before = frameworkFrames (*reader, 0, held);
        for (const bool planar : { false, true })
        {
            EXPECT_TRUE (sameBits (bulkFrames (*bulk, layout.channels, 0, held, planar), before)) << name;
            EXPECT_TRUE (bulkFrames (*bulk, layout.channels, held - 10, 11, planar).empty()) << name;
            EXPECT_TRUE (bulkFrames (*bulk, layout.channels, 0, fileFrames, planar).empty()) << name;
        }
    }
}

TEST_F (PcmFileReading, OtherLayoutsAreLeftToTheFrameworkReader)
{
    const struct
    {
        const char* name;
        juce::StringArray encoding;
        int channels;
        int formatTag;   // written over the WAV format tag when not 0
    } others[] = {
        { "three.wav", { "-e", "signed-integer", "-b", "16" }, 3, 0 },
        { "float16.wav", { "-e", "signed-integer", "-b", "16" }, 2, 3 },   // "float" data of 16 bits
        { "lossless.flac", { "-b", "16" }, 2, 0 },
    };
    for (const auto& other : others)
    {
        const auto file = folder / other.name;
        juce::StringArray command { "sox", "-R", "-q", "-r", "44100", "-c", juce::String (other.channels), "-n" };
        command.addArray (other.encoding);
        command.addArray ({ file.getFullPathName(), "synth", "0.1", "sine", "440" });
        ASSERT_TRUE (runTool (command)) << other.name;
        if (other.formatTag != 0)
        {
            auto bytes = readFileBytes (file);
            bytes[20] = (std::uint8_t) other.formatTag;
            ASSERT_TRUE (writeFileBytes (file, bytes));
        }
        auto reader = openMediaReader (file);
        ASSERT_NE (reader, nullptr) << other.name;
        EXPECT_EQ (PcmFileReader::open (*reader, file), nullptr) << other.name;
    }
}

TEST (FlacSeeking, ReadsFromTheMiddleEqualTheSameFramesReadFromTheStart)
{
    TempFolder folder;
    const struct
    {
        const char* name;
        juce::StringArray command;   // the input file goes to {in}, the output to {out}
    } files[] = {
        { "sox.flac", { "sox", "-R", "-q", "{in}", "{out}" } },   // 4096-frame blocks
        { "ffmpeg.flac", { "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", "{in}", "-sample_fmt", "s16", "{out}" } },   // 4608
        { "mono24.flac", { "sox", "-R", "-q", "{in}", "-b", "24", "{out}", "remix", "1" } },
    };
    const auto source = folder / "source.wav";
    ASSERT_TRUE (soxSynth (source, 44100, 2, PcmEncoding::int24, { "synth", "200001s", "whitenoise", "sine", "700" }));

    for (const auto& entry : files)
    {
        const auto file = folder / entry.name;
        auto command = entry.command;
        command.set (command.indexOf ("{in}"), source.getFullPathName());
        command.set (command.indexOf ("{out}"), file.getFullPathName());
        ASSERT_TRUE (runTool (command)) << entry.name;

        auto whole = openMediaReader (file);
        ASSERT_NE (whole, nullptr) << entry.name;
        const auto length = whole->lengthInSamples;
        const auto expected = frameworkFrames (*whole, 0, (int) length);
        ASSERT_FALSE (expected.empty()) << entry.name;

        // A second reader from an odd frame in the middle, in blocks that end mid-frame.
        auto half = openMediaReader (file);
        const int channels = (int) half->numChannels;
        const std::int64_t middle = length / 2 + 1;
        for (std::int64_t start = middle; start < length; start += 7777)
        {
            const int count = (int) std::min<std::int64_t> (7777, length - start);
            const auto got = frameworkFrames (*half, start, count);
            ASSERT_TRUE (std::equal (got.begin(), got.end(), expected.begin() + start * channels,
                                     [] (float a, float b) { return std::memcmp (&a, &b, sizeof (a)) == 0; })
                         && ! got.empty())
                << entry.name << " from " << start;
        }
    }
}
} // namespace
} // namespace vantrel
