#include "ui/TrackEqAnalyser.h"

#include "app/SessionCoordinator.h"
#include "audio/dsp/SpectrumAnalyzer.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vantrel
{
static_assert (sizeof (AnalyserSnapshot) == 40992, "the snapshot is copied whole; keep it a plain record");

double spectrumBandLevel (const float* bins, int points, double sampleRate, double f0, double f1)
{
    const int half = points / 2;
    if (bins == nullptr || half < 2 || ! (sampleRate > 0.0) || ! std::isfinite (f0) || ! std::isfinite (f1))
        return -120.0;
    const double perHz = points / sampleRate;
    if ((f1 - f0) * perHz < 1.0)
    {
        const double r = std::sqrt (std::max (f0 * f1, 0.0)) * perHz;
        const int k = (int) juce::jlimit (1.0, (double) (half - 1), std::floor (r));
        const double t = juce::jlimit (0.0, 1.0, r - k);
        return bins[k] + (bins[k + 1] - bins[k]) * t;
    }
    const int first = (int) juce::jlimit (1.0, (double) half, std::floor (f0 * perHz));
    const int last = (int) juce::jlimit ((double) first, (double) half, std::ceil (f1 * perHz));
    double level = -120.0;
    for (int k = first; k <= last; ++k)
        level = std::max (level, (double) bins[k]);
    return level;
}

AnalyserWorker::AnalyserWorker (SessionCoordinator& c) : juce::Thread ("EQ analyser"), coordinator (c)
{
    startThread();
}

AnalyserWorker::~AnalyserWorker()
{
    stopThread (-1);   // wakes the cycle's wait and joins
}

bool AnalyserWorker::tryCopy (std::int64_t wanted, AnalyserSnapshot& out)
{
    std::unique_lock<std::mutex> lock (mutex, std::try_to_lock);
    if (! lock.owns_lock() || wanted == 0 || published.token != wanted || publications == copiedPublication)
        return false;
    out = published;
    copiedPublication = publications;
    return true;
}

void AnalyserWorker::run()
{
    using namespace orvane::audio;
    using Clock = std::chrono::steady_clock;
    SpectrumAnalyzer coarse (SpectrumSize::points4096), fine (SpectrumSize::points16384);
    AnalyzerFrame frame;
    std::int64_t previous = 0;
    double rate = 48000.0;

    while (! threadShouldExit())
    {
        const auto cycleStart = Clock::now();
        const auto wanted = token.load (std::memory_order_relaxed);
        if (wanted != previous)
        {
            coarse.reset();
            fine.reset();
            previous = wanted;
        }
        if (wanted != 0)
        {
            bool used = false;
            for (int i = 0; i < 4 && ! threadShouldExit() && coordinator.popAnalyzerFrame (frame); ++i)
            {
                if ((std::int64_t) frame.sourceTag != wanted)
                    continue;   // another signal's frame, tapped before the selection changed
                coarse.update (frame);
                fine.update (frame);
                rate = frame.sampleRate;
                used = true;
            }
            if (used)
            {
                const std::lock_guard<std::mutex> lock (mutex);
                std::copy_n (coarse.spectrum().begin(), published.coarse.size(), published.coarse.begin());
                std::copy_n (fine.spectrum().begin(), published.fine.size(), published.fine.begin());
                published.sampleRate = rate;
                published.token = wanted;
                published.coarseReady = coarse.hasData();
                published.fineReady = fine.hasData();
                ++publications;
            }
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - cycleStart).count();
        if (elapsed < 8)
            wait ((int) (8 - elapsed));
    }
}
} // namespace vantrel
