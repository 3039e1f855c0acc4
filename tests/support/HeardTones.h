#pragma once

#include "support/JackCaptureClient.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <vector>

namespace vantrel::test
{
/** The levels of sines in a signal that grows while a test listens to it (a capture, a recording).
    The frames are taken in once each, as they arrive, and the level of a sine in a window that
    starts on the grid of `hop` frames is worked out once and kept: a test that looks at what it
    heard again at every wait costs what it heard, not that many times the number of looks.

    A level is one bin of a DFT over the window's frames, the same figure as toneAmplitude() over
    [frame, frame + window): with a window of whole 10 ms at 48 kHz, sines at multiples of 100 Hz
    are told apart without leaking into each other. Everything runs on the test's thread. */
class HeardTones
{
public:
    HeardTones (std::size_t windowFrames, std::size_t hopFrames, double sampleRate = 48000.0)
        : window (windowFrames / 480 * 480), hop (hopFrames), rate (sampleRate)
    {
    }

    /** Takes in the frames of `channel` that the capture recorded since the last call. A capture
        started again (it holds fewer frames than were taken) is taken in from its start. */
    void takeFrom (const JackCaptureClient& capture, int channel = 0)
    {
        const auto captured = capture.framesCaptured();
        if (captured < signal.size())
            clear();
        if (captured > signal.size())
            capture.appendFrames (channel, signal.size(), captured, signal);
    }

    /** Takes in frames that follow those taken so far. */
    void append (const float* frames, std::size_t count)  { signal.insert (signal.end(), frames, frames + count); }

    /** Forgets every frame and level: the next frames start the signal again. */
    void clear()
    {
        signal.clear();
        for (auto& entry : tones)
            entry.second.levels.clear();
    }

    /** The frames taken in so far. */
    std::size_t frames() const  { return signal.size(); }
    const std::vector<float>& frameData() const  { return signal; }
    std::size_t windowFrames() const  { return window; }

    /** The first frame of the grid at or after `frame`. */
    std::size_t gridFrom (std::size_t frame) const  { return (frame + hop - 1) / hop * hop; }

    /** The amplitude of the sine at `frequency` in the window that starts at `frame`; a window on
        the grid that lies wholly within frames() is worked out once. */
    double level (double frequency, std::size_t frame)
    {
        auto& tone = toneAt (frequency);
        if (frame % hop != 0 || frame + window > signal.size())
            return amplitude (tone, frame);
        const auto index = frame / hop;
        if (index >= tone.levels.size())
            tone.levels.resize (index + 1, std::numeric_limits<double>::quiet_NaN());
        if (std::isnan (tone.levels[index]))
            tone.levels[index] = amplitude (tone, frame);
        return tone.levels[index];
    }

    /** Windows worked out so far, every frequency counted (what a benchmark compares). */
    std::size_t windowsWorkedOut() const  { return worked; }

private:
    struct Tone
    {
        std::vector<double> cosine, sine;   // the DFT bin's factors over one window
        std::vector<double> levels;         // by window index; NaN until worked out
    };

    Tone& toneAt (double frequency)
    {
        auto [entry, added] = tones.try_emplace (frequency);
        if (added)
        {
            const double step = 2.0 * 3.141592653589793238462643383279502884 * frequency / rate;
            for (std::size_t n = 0; n < window; ++n)
            {
                entry->second.cosine.push_back (std::cos (step * (double) n));
                entry->second.sine.push_back (std::sin (step * (double) n));
            }
        }
        return entry->second;
    }

    /** toneAmplitude()'s figure: the window clipped to the signal, in whole 10 ms. */
    double amplitude (const Tone& tone, std::size_t frame)
    {
        const auto end = std::min (frame + window, signal.size());
        const auto count = end > frame ? (end - frame) / 480 * 480 : 0;
        if (count == 0)
            return 0.0;
        ++worked;
        double re = 0.0, im = 0.0;
        for (std::size_t n = 0; n < count; ++n)
        {
            re += signal[frame + n] * tone.cosine[n];
            im += signal[frame + n] * tone.sine[n];
        }
        return 2.0 * std::sqrt (re * re + im * im) / (double) count;
    }

    const std::size_t window, hop;
    const double rate;
    std::vector<float> signal;
    std::map<double, Tone> tones;
    std::size_t worked = 0;
};
} // namespace vantrel::test
