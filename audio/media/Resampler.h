#pragma once

#include "audio/media/MediaLimits.h"
#include "audio/media/MediaRecords.h"
#include "audio/media/ProcessorTopology.h"
#include "audio/media/ResampleKernel.h"

#include <memory>
#include <vector>

namespace vantrel
{
/** Resamples interleaved samples of one or two channels into a new planar stereo PCM at the
    target rate (a mono source gives the same signal on both sides): m = n x target / source
    frames, rounded to nearest (halves away from zero), which must be 1..0x4000000 (else the
    memory-limit failure). Rates closer than 0.001 Hz are copied frame by frame. Otherwise a
    64-tap x 1024-phase Blackman-windowed sinc, cut off at 0.94 x min(1, target / source) of
    the source's Nyquist frequency, accumulated in double. With two workers (long audio on a
    machine with enough processors, see resampleWorkerCount) a helper thread computes the
    second half. Raises the cancelled failure when the flag is set. Loading thread. */
std::shared_ptr<PreparedPcm> resamplePcm (const std::vector<float>& samples, int channels, double sourceRate,
                                          double targetRate, CancelFlag cancel);

/** The same with the number of workers (1 or 2) and the inner loop chosen by the caller. */
std::shared_ptr<PreparedPcm> resamplePcm (const std::vector<float>& samples, int channels, double sourceRate,
                                          double targetRate, CancelFlag cancel, int workers,
                                          ResamplePath path = ResamplePath::widest);

/** The coefficient table for a cutoff (relative to the source Nyquist frequency): 1024 phases
    x 64 taps, phase-major, each phase normalised to sum to 1. */
std::vector<double> buildResampleTable (double cutoff);
} // namespace vantrel
