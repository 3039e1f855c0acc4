#pragma once

// Threads: every member runs on the EQ window's analyser thread, which owns the analyser (reset
// and update check it in debug and sanitizer builds: the first thread to call is the owner).
// update() does not allocate (all buffers are sized once, by the constructor).

#include "audio/dsp/AnalyzerFrame.h"

#include "platform/ThreadContract.h"

#include <cstdint>
#include <vector>

namespace orvane::audio
{
/** The two analyser sizes the EQ window uses. */
enum class SpectrumSize
{
    points4096 = 4096,
    points16384 = 16384
};

/** A peak-holding dB spectrum of the tapped stereo signal: Hann-windowed radix-2 FFT over the
    last N samples (hop 2048, so the windows overlap), the louder channel per bin, held peaks
    falling 36 dB per second of audio. Restarts on a new source tag, a new rate or a lost frame. */
class SpectrumAnalyzer
{
public:
    explicit SpectrumAnalyzer (SpectrumSize size);

    /** Spectrum all -120 dB; tag, serial, fill and has-data zero; histories zero. */
    void reset();

    /** Takes the next frame of the stream; the spectrum is renewed once N samples are in. */
    void update (const AnalyzerFrame& frame);

    int size() const  { return points; }
    /** N/2 + 1 values in dB; bin k is the frequency k x sampleRate() / N. */
    const std::vector<float>& spectrum() const  { return spectrumDb; }
    double sampleRate() const  { return rate; }
    bool hasData() const  { return hasSpectrum; }
    int64_t sourceTag() const  { return tag; }
    int64_t lastSerial() const  { return serial; }

private:
    struct Complex
    {
        float re = 0.0f;
        float im = 0.0f;
    };

    void restart();
    void transform (const std::vector<float>& history);
    void appendToHistory (std::vector<float>& history, const float* samples);

    int points;
    int bits;
    std::vector<float> historyLeft;
    std::vector<float> historyRight;
    std::vector<float> window;
    std::vector<Complex> buffer;
    std::vector<Complex> twiddles;
    std::vector<float> spectrumDb;
    std::vector<float> leftPower;
    std::vector<uint32_t> bitReversed;
    float scale = 1.0f;
    double rate = 48000.0;
    int64_t tag = 0;
    int64_t serial = 0;
    uint64_t filled = 0;
    bool hasSpectrum = false;
    vantrel::ThreadOwnerCheck owner;
};
} // namespace orvane::audio
