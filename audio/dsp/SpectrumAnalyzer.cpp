#include "audio/dsp/SpectrumAnalyzer.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <cmath>

namespace orvane::audio
{
namespace
{
    constexpr double pi = 3.141592653589793238462643383279502884;
    constexpr float floorDb = -120.0f;
    constexpr float holdFallDbPerSecond = 36.0f;
    constexpr int hop = AnalyzerFrame::numSamples;

    int log2Of (int n)
    {
        int bits = 0;
        while ((1 << bits) < n)
            ++bits;
        return bits;
    }

    uint32_t reverseBits (uint32_t value, int bits)
    {
        uint32_t result = 0;
        for (int b = 0; b < bits; ++b)
        {
            result = (result << 1) | (value & 1u);
            value >>= 1;
        }
        return result;
    }
} // namespace

SpectrumAnalyzer::SpectrumAnalyzer (SpectrumSize size)
    : points (static_cast<int> (size)),
      bits (log2Of (points)),
      historyLeft ((size_t) points, 0.0f),
      historyRight ((size_t) points, 0.0f),
      window ((size_t) points),
      buffer ((size_t) points),
      twiddles ((size_t) points / 2),
      spectrumDb ((size_t) points / 2 + 1, floorDb),
      leftPower ((size_t) points / 2 + 1, 0.0f),
      bitReversed ((size_t) points)
{
    float windowSum = 0.0f;
    for (int i = 0; i < points; ++i)
    {
        // Periodic Hann window, in float.
        window[(size_t) i] = 0.5f - 0.5f * std::cos (2.0f * static_cast<float> (pi) * (float) i / (float) points);
        windowSum += window[(size_t) i];
        bitReversed[(size_t) i] = reverseBits ((uint32_t) i, bits);
    }
    scale = 2.0f / windowSum;

    for (int j = 0; j < points / 2; ++j)
    {
        const double angle = -2.0 * pi * j / points;
        twiddles[(size_t) j] = { static_cast<float> (std::cos (angle)), static_cast<float> (std::sin (angle)) };
    }
}

void SpectrumAnalyzer::reset()
{
    VANTREL_ASSERT_OWNER_THREAD (owner, "analyser thread");
    restart();
}

void SpectrumAnalyzer::restart()
{
    std::fill (spectrumDb.begin(), spectrumDb.end(), floorDb);
    tag = 0;
    serial = 0;
    filled = 0;
    hasSpectrum = false;
    std::fill (historyLeft.begin(), historyLeft.end(), 0.0f);
    std::fill (historyRight.begin(), historyRight.end(), 0.0f);
}

void SpectrumAnalyzer::appendToHistory (std::vector<float>& history, const float* samples)
{
    std::move (history.begin() + hop, history.end(), history.begin());
    std::copy (samples, samples + hop, history.end() - hop);
}

void SpectrumAnalyzer::update (const AnalyzerFrame& frame)
{
    VANTREL_ASSERT_OWNER_THREAD (owner, "analyser thread");
    if ((int64_t) frame.sourceTag != tag || frame.sampleRate != rate || (serial != 0 && frame.serial != serial + 1))
        restart();

    tag = (int64_t) frame.sourceTag;
    rate = frame.sampleRate;
    serial = frame.serial;

    appendToHistory (historyLeft, frame.left.data());
    appendToHistory (historyRight, frame.right.data());

    const uint64_t wanted = filled + (uint64_t) hop;
    filled = std::min (wanted, (uint64_t) points);
    if (wanted < (uint64_t) points)
        return;

    const size_t bins = (size_t) points / 2 + 1;
    transform (historyLeft);
    for (size_t k = 0; k < bins; ++k)
        leftPower[k] = buffer[k].re * buffer[k].re + buffer[k].im * buffer[k].im;

    transform (historyRight);
    const float fall = holdFallDbPerSecond * static_cast<float> ((double) hop / rate);

    for (size_t k = 0; k < bins; ++k)
    {
        const float rightPower = buffer[k].re * buffer[k].re + buffer[k].im * buffer[k].im;
        const float magnitude = std::sqrt (std::max (rightPower, leftPower[k])) * scale;
        const float level = 20.0f * std::log10 (std::max (magnitude, 1.0e-6f));
        spectrumDb[k] = std::max (spectrumDb[k] - fall, level);
    }

    hasSpectrum = true;
}

void SpectrumAnalyzer::transform (const std::vector<float>& history)
{
    for (size_t i = 0; i < (size_t) points; ++i)
        buffer[bitReversed[i]] = { window[i] * history[i], 0.0f };

    for (int length = 2; length <= points; length <<= 1)
    {
        const int half = length / 2;
        const int stride = points / length;

        for (int start = 0; start < points; start += length)
        {
            for (int k = 0; k < half; ++k)
            {
                const auto& w = twiddles[(size_t) (k * stride)];
                auto& u = buffer[(size_t) (start + k)];
                auto& v = buffer[(size_t) (start + k + half)];
                const Complex wv { w.re * v.re - w.im * v.im, w.re * v.im + w.im * v.re };
                const Complex sum { u.re + wv.re, u.im + wv.im };
                v = { u.re - wv.re, u.im - wv.im };
                u = sum;
            }
        }
    }
}
} // namespace orvane::audio
