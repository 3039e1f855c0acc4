#pragma once

// Shared helpers of the media-loading tests: fixtures made with sox and ffmpeg at test time
// (sox always with -R, so that its dither and noise are the same on every run), requests for
// them, what ffmpeg itself decodes, mutations of a file's bytes, and measurements of a decoded
// tone (frequency, level) and of the offset between two signals.

#include "support/AudioTestSupport.h"
#include "support/SignalMeasures.h"
#include "support/ToolRun.h"
#include "audio/media/MediaRecords.h"
#include "audio/media/MediaTexts.h"

#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <vector>

namespace vantrel::testing
{
/** Runs a command line tool to its end (however long a busy machine makes that); the
    combined output on failure. */
inline ::testing::AssertionResult runTool (const juce::StringArray& command)
{
    vantrel::test::Tool process (vantrel::test::toolCommand (command[0].toStdString(), { command.begin() + 1, command.size() - 1 }),
                                 { {}, true });
    if (! process.started())
        return ::testing::AssertionFailure() << "cannot start " << command[0] << ": " << process.errors();
    if (! process.waitForEnd (std::numeric_limits<int>::max()) || ! process.succeeded())
        return ::testing::AssertionFailure() << command.joinIntoString (" ") << " failed: " << process.output() << process.errors();
    return ::testing::AssertionSuccess();
}

/** sox's options for a sample encoding of an uncompressed file. */
enum class PcmEncoding { int16, int24, int32, float32 };

inline juce::StringArray soxEncoding (PcmEncoding encoding)
{
    switch (encoding)
    {
        case PcmEncoding::int16:   return { "-e", "signed-integer", "-b", "16" };
        case PcmEncoding::int24:   return { "-e", "signed-integer", "-b", "24" };
        case PcmEncoding::int32:   return { "-e", "signed-integer", "-b", "32" };
        case PcmEncoding::float32: return { "-e", "floating-point", "-b", "32" };
    }
    return {};
}

/** sox's synth effect arguments for a test tone: a sine per channel (1000 Hz left, 1500 Hz
    right) at amplitude 0.5, seconds long, after leadSeconds of silence. */
inline juce::StringArray toneEffects (int channels, double seconds, double leadSeconds = 0.0)
{
    juce::StringArray effects { "synth", juce::String (seconds, 6), "sine", "1000" };
    if (channels == 2)
        effects.addArray ({ "sine", "1500" });
    effects.addArray ({ "vol", "0.5" });
    if (leadSeconds > 0.0)
        effects.addArray ({ "pad", juce::String (leadSeconds, 6) });
    return effects;
}

/** Writes a file with sox from the "null" input and the given effects. */
inline ::testing::AssertionResult soxSynth (const juce::File& out, int rate, int channels, PcmEncoding encoding,
                                            const juce::StringArray& effects)
{
    juce::StringArray command { "sox", "-R", "-q", "-n", "-r", juce::String (rate), "-c", juce::String (channels) };
    command.addArray (soxEncoding (encoding));
    command.add (out.getFullPathName());
    command.addArray (effects);
    return runTool (command);
}

/** Transcodes with ffmpeg (mp3 through LAME, m4a through ffmpeg's AAC encoder). */
inline ::testing::AssertionResult ffmpegEncode (const juce::File& in, const juce::File& out)
{
    const bool mp3 = out.hasFileExtension ("mp3");
    return runTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", in.getFullPathName(),
                      "-c:a", mp3 ? "libmp3lame" : "aac", "-b:a", "192k", out.getFullPathName() });
}

/** How many frames ffmpeg decodes from a file (its own gapless handling). */
inline std::int64_t ffmpegDecodedFrames (const juce::File& in, int channels, const juce::File& scratch)
{
    if (! runTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", in.getFullPathName(), "-f", "s16le",
                     "-acodec", "pcm_s16le", scratch.getFullPathName() }))
        return -1;
    return scratch.getSize() / (2 * channels);
}

/** What ffmpeg itself decodes from a file, interleaved 32-bit floats; empty when it cannot. */
inline std::vector<float> ffmpegDecodedSamples (const juce::File& in, const juce::File& scratch)
{
    if (! runTool ({ "ffmpeg", "-nostdin", "-v", "error", "-y", "-i", in.getFullPathName(), "-f", "f32le",
                     "-acodec", "pcm_f32le", scratch.getFullPathName() }))
        return {};
    const auto bytes = orvane::audio::testing::readFileBytes (scratch);
    std::vector<float> samples (bytes.size() / sizeof (float));
    if (! samples.empty())
        std::memcpy (samples.data(), bytes.data(), samples.size() * sizeof (float));
    return samples;
}

inline MediaLoadRequest requestFor (const juce::File& file, double rate, const juce::File& cache = {})
{
    MediaLoadRequest request;
    request.key = file.getFileNameWithoutExtension().toStdString();
    request.path = file;
    request.waveformCachePath = cache;
    request.signature = readFileSignature (file);
    request.rate = rate;
    request.serial = 1;
    return request;
}

/** Every text a failed load may carry. */
inline const std::set<juce::String>& loadFailureTexts()
{
    static const std::set<juce::String> texts = []
    {
        std::set<juce::String> all;
        for (const char* text : { mediatext::fileMissing, mediatext::changedSinceRegistration, mediatext::changedWhileLoading,
                                  mediatext::cancelled, mediatext::loadFailed, mediatext::targetRateUnusable,
                                  mediatext::channelsOrLengthUnusable, mediatext::memoryLimit, mediatext::decodeFailed,
                                  mediatext::unsupportedOrDamaged, mediatext::noPlayablePcm, mediatext::nonFiniteSamples,
                                  mediatext::decoderStartFailed, mediatext::pcmConversionFailed, mediatext::wholeDecodeFailed,
                                  mediatext::pcmReadFailed, mediatext::sizeOrBoundaryInvalid, mediatext::decoderStalled })
            all.insert (juce::String::fromUTF8 (text));
        return all;
    }();
    return texts;
}

/** One random mutation of a file's bytes: flips, 32-bit fields set to extreme values, a cut,
    a removed span, or a run of garbage. */
inline std::vector<std::uint8_t> mutateBytes (std::vector<std::uint8_t> bytes, std::mt19937& random)
{
    if (bytes.empty())
        return bytes;
    const auto at = [&] { return (std::size_t) (random() % bytes.size()); };
    switch (random() % 6)
    {
        case 0:   // a few random bytes, mostly in the header
            for (int i = 0, n = 1 + (int) (random() % 4); i < n; ++i)
                bytes[random() % 3 == 0 ? at() : at() % std::min<std::size_t> (bytes.size(), 256)] = (std::uint8_t) random();
            break;
        case 1:   // a 32-bit field set to an extreme value
        {
            const std::uint32_t extremes[] = { 0, 1, 0x7fffffff, 0x80000000, 0xffffffff, 0x00010000, 0x0000ffff };
            const auto position = at() % std::min<std::size_t> (bytes.size(), 512);
            const auto value = extremes[random() % 7];
            for (std::size_t i = 0; i < 4 && position + i < bytes.size(); ++i)
                bytes[position + i] = (std::uint8_t) (random() % 2 ? value >> (8 * i) : value >> (24 - 8 * i));
            break;
        }
        case 2:   // cut anywhere
            bytes.resize (at());
            break;
        case 3:   // a span removed
        {
            const auto start = at();
            const auto length = std::min (bytes.size() - start, (std::size_t) (1 + random() % 64));
            bytes.erase (bytes.begin() + (std::ptrdiff_t) start, bytes.begin() + (std::ptrdiff_t) (start + length));
            break;
        }
        case 4:   // bits flipped throughout
            for (int i = 0, n = 1 + (int) (random() % 16); i < n; ++i)
                bytes[at()] ^= (std::uint8_t) (1u << (random() % 8));
            break;
        default:  // a run of garbage
        {
            const auto start = at();
            for (std::size_t i = start; i < std::min (bytes.size(), start + 1 + random() % 32); ++i)
                bytes[i] = (std::uint8_t) random();
            break;
        }
    }
    return bytes;
}

/** The frequency of a steady tone over [begin, end), from the first and last upward zero
    crossings (linearly interpolated) and the number of whole periods between them. */
inline double toneFrequency (const std::vector<float>& signal, double rate, std::size_t begin, std::size_t end)
{
    end = std::min (end, signal.size());
    double first = -1.0;
    double last = -1.0;
    int periods = -1;
    for (std::size_t i = std::max<std::size_t> (begin, 1); i < end; ++i)
        if (signal[i - 1] < 0.0f && signal[i] >= 0.0f)
        {
            const double at = (double) (i - 1) + signal[i - 1] / (double) (signal[i - 1] - signal[i]);
            if (first < 0.0)
                first = at;
            last = at;
            ++periods;
        }
    return periods > 0 ? periods * rate / (last - first) : 0.0;
}

/** The amplitude of a steady sine over [begin, end): its RMS times sqrt(2). */
inline double toneAmplitude (const std::vector<float>& signal, std::size_t begin, std::size_t end)
{
    return orvane::audio::testing::rmsOver (signal, begin, end) * std::sqrt (2.0);
}

/** The lag (in samples, -maxLag..maxLag) at which b best matches a: b[i + lag] ~ a[i]. */
inline int bestLag (const std::vector<float>& a, const std::vector<float>& b, int maxLag)
{
    int best = 0;
    double bestScore = -1.0e300;
    const auto n = (std::int64_t) std::min (a.size(), b.size());
    for (int lag = -maxLag; lag <= maxLag; ++lag)
    {
        double score = 0.0;
        for (std::int64_t i = maxLag; i < n - maxLag; ++i)
            score += (double) a[(std::size_t) i] * (double) b[(std::size_t) (i + lag)];
        if (score > bestScore)
        {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}
} // namespace vantrel::testing
