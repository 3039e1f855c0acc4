#pragma once
// The EQ window's analyser: a worker thread that turns the engine's analyser tap into the two dB
// spectra drawn behind the EQ curve. The message thread writes the wanted token and only tries
// the published snapshot's lock; the worker owns both analysers.

#include "audio/dsp/AnalyzerFrame.h"

#include <juce_core/juce_core.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace vantrel
{
class SessionCoordinator;

/** The spectra of one analysed signal, copied whole from the worker to the panel. A cleared
    snapshot (the default value) is all zero at 48 kHz, token 0, nothing ready. */
struct AnalyserSnapshot
{
    static constexpr int coarsePoints = 4096;
    static constexpr int finePoints = 16384;

    std::array<float, coarsePoints / 2 + 1> coarse {};   // dB, bins 0..N/2
    std::array<float, finePoints / 2 + 1> fine {};
    double sampleRate = 48000.0;
    std::int64_t token = 0;   // the analysis token the spectra belong to
    bool coarseReady = false;
    bool fineReady = false;
};

/** The level of a spectrum of `points` points at `sampleRate` over f0..f1 Hz, as the curve draws
    one column: a range narrower than one bin reads the two bins around its geometric centre
    (interpolated), a wider one the loudest bin it touches (-120 dB at the least). Bin 0 (DC) is
    never read. Any thread. */
double spectrumBandLevel (const float* bins, int points, double sampleRate, double f0, double f1);

/** Analyses the signal of one token on a thread of its own, about every 8 ms: at most four of
    the tap's frames per cycle, only those tagged with the token, into a 4096-point and a
    16384-point analyser, published under a mutex. A new token resets both analysers. The thread
    starts with the worker and is stopped and joined by its destructor. */
class AnalyserWorker : private juce::Thread
{
public:
    explicit AnalyserWorker (SessionCoordinator& coordinator);
    ~AnalyserWorker() override;

    /** The signal wanted from the next cycle on (0: none). Message thread. */
    void setToken (std::int64_t wanted)  { token.store (wanted, std::memory_order_relaxed); }

    /** Copies the published snapshot into `out` when it belongs to `wanted` and was published
        after the one copied last; false, without waiting, when the worker holds the lock or
        there is nothing new. Message thread. */
    bool tryCopy (std::int64_t wanted, AnalyserSnapshot& out);

    /** The worker thread's id, for the benchmark's CPU figures. */
    juce::Thread::ThreadID threadId() const noexcept  { return getThreadId(); }

private:
    void run() override;

    SessionCoordinator& coordinator;
    std::atomic<std::int64_t> token { 0 };
    std::mutex mutex;
    AnalyserSnapshot published;        // under mutex
    std::uint64_t publications = 0;    // under mutex
    std::uint64_t copiedPublication = 0;   // message thread
};
} // namespace vantrel
