#pragma once

// A plain, slow formulation of a whole media load, kept independent of the loader's fast paths:
// the file's reader read from the start in 8192-frame blocks (or the stream decoder), the
// resampler written frame by frame in scalar code with the summation order of each kind of inner
// loop, the interleaved cue search and the interleaved peaks. The loader's output must equal it
// bit for bit.

#include "audio/media/CuePoint.h"
#include "audio/media/FfmpegDecoder.h"
#include "audio/media/MediaDecoding.h"
#include "audio/media/MediaReaders.h"
#include "audio/media/ResampleKernel.h"
#include "audio/media/Resampler.h"
#include "audio/media/WaveformPeaks.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vantrel::testing
{
struct ReferenceLoad
{
    std::vector<float> left, right;
    std::int64_t cueFrame = 0;
    orvane::audio::WaveformPeakData peaks;
    juce::String error;
};

/** Interleaved floats of the whole file as the readers give them. */
inline DecodedAudio referenceDecode (const juce::File& file)
{
    DecodedAudio decoded;
    if (auto reader = openMediaReader (file))
    {
        const int channels = (int) reader->numChannels;
        const auto frames = (std::size_t) reader->lengthInSamples;
        decoded.channels = channels;
        decoded.sampleRate = reader->sampleRate;
        decoded.samples.resize (frames * (std::size_t) channels);
        std::vector<float> block (2 * 8192);
        float* planes[2] = { block.data(), block.data() + 8192 };
        bool complete = true;
        for (std::size_t start = 0; start < frames && complete; start += 8192)
        {
            const int count = (int) std::min<std::size_t> (8192, frames - start);
            complete = reader->read (planes, channels, (juce::int64) start, count);
            for (int i = 0; i < count; ++i)
                for (int c = 0; c < channels; ++c)
                    decoded.samples[(start + (std::size_t) i) * (std::size_t) channels + (std::size_t) c] = planes[c][i];
        }
        if (complete)
            return decoded;
    }
    return decodeWithMediaFoundation (file, decodedSampleLimit, nullptr);
}

/** One output frame the way the FMA inner loops sum it: chains of fused multiply-adds over
    every 8th tap (stereo: per channel) or every 16th tap (mono), then a fixed tree. */
inline double fusedSum (const double* c, const float* s, int stride)
{
    const int chains = stride == 2 ? 8 : 16;
    double chain[16] = {};
    for (int t = 0; t < chains; ++t)
        for (int k = t; k < resampleTaps; k += chains)
            chain[t] = std::fma (c[k], (double) s[k * stride], chain[t]);
    if (chains == 8)
        return ((chain[0] + chain[2]) + (chain[4] + chain[6])) + ((chain[1] + chain[3]) + (chain[5] + chain[7]));
    double lane[4];
    for (int j = 0; j < 4; ++j)
        lane[j] = (chain[j] + chain[4 + j]) + (chain[8 + j] + chain[12 + j]);
    return (lane[0] + lane[2]) + (lane[1] + lane[3]);
}

/** The same frame the way the portable inner loop sums it: products and sums rounded apart,
    in 4 (mono) or 2 (stereo, per channel) interleaved partial sums. */
inline double separateSum (const double* c, const float* s, int stride)
{
    const int parts = stride == 2 ? 2 : 4;
    double part[4] = {};
    for (int k = 0; k < resampleTaps; ++k)
    {
        const double product = c[k] * (double) s[k * stride];
        part[k % parts] = part[k % parts] + product;
    }
    return parts == 2 ? part[0] + part[1] : (part[0] + part[1]) + (part[2] + part[3]);
}

inline void referenceResample (const DecodedAudio& decoded, double rate, bool fused, ReferenceLoad& out)
{
    const int channels = decoded.channels;
    const auto n = (std::int64_t) decoded.frames();
    const auto m = (std::size_t) std::round ((double) n * rate / decoded.sampleRate);
    out.left.assign (m, 0.0f);
    out.right.assign (m, 0.0f);
    const int rightChannel = std::min (channels - 1, 1);
    if (std::abs (decoded.sampleRate - rate) < sameRateTolerance)
    {
        for (std::size_t i = 0; i < std::min<std::size_t> (m, (std::size_t) n); ++i)
        {
            out.left[i] = decoded.samples[i * (std::size_t) channels];
            out.right[i] = decoded.samples[i * (std::size_t) channels + (std::size_t) rightChannel];
        }
        return;
    }

    const auto table = buildResampleTable (std::min (rate / decoded.sampleRate, 1.0) * 0.94);
    const double step = decoded.sampleRate / rate;
    for (std::size_t i = 0; i < m; ++i)
    {
        const double t = (double) i * step;
        const auto d = (std::int64_t) t;
        const int p = std::clamp ((int) ((t - (double) d) * resamplePhases), 0, resamplePhases - 1);
        const double* c = table.data() + (std::size_t) p * resampleTaps;
        const std::int64_t first = d - resampleTapsBefore;
        double sums[2] = {};
        if (d >= resampleTapsBefore && d + (resampleTaps - resampleTapsBefore) < n)
        {
            const float* s = decoded.samples.data() + first * channels;
            for (int ch = 0; ch < channels; ++ch)
                sums[ch] = fused ? fusedSum (c, s + ch, channels) : separateSum (c, s + ch, channels);
            if (channels == 1)
                sums[1] = sums[0];
        }
        else
        {
            for (int k = 0; k < resampleTaps; ++k)
                if (first + k >= 0 && first + k < n)
                {
                    const float* s = decoded.samples.data() + (first + k) * channels;
                    sums[0] = sums[0] + c[k] * (double) s[0];
                    sums[1] = sums[1] + c[k] * (double) s[rightChannel];
                }
        }
        out.left[i] = (float) sums[0];
        out.right[i] = (float) sums[1];
    }
}

/** The whole load of a file at a device rate; fused picks the FMA kind of inner loop. */
inline ReferenceLoad referenceLoad (const juce::File& file, double rate, bool fused)
{
    ReferenceLoad out;
    const auto decoded = referenceDecode (file);
    if (decoded.error.isNotEmpty() || decoded.samples.empty())
    {
        out.error = decoded.error.isNotEmpty() ? decoded.error : juce::String ("nothing decoded");
        return out;
    }
    referenceResample (decoded, rate, fused, out);
    const auto cue = orvane::audio::findCuePoint (decoded.samples.data(), decoded.samples.size(), decoded.channels,
                                                  decoded.sampleRate, orvane::audio::CueSearchSettings {});
    if (cue.found)
        out.cueFrame = std::min ((std::int64_t) (cue.seconds * rate), (std::int64_t) out.left.size() - 1);
    out.peaks = orvane::audio::computeWaveformPeaks (decoded.samples.data(), decoded.samples.size(), decoded.channels,
                                                     decoded.sampleRate, orvane::audio::defaultFramesPerPeak);
    return out;
}
} // namespace vantrel::testing
