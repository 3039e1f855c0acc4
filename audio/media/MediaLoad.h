#pragma once

#include "audio/media/MediaLimits.h"
#include "audio/media/MediaRecords.h"
#include "audio/media/ResampleKernel.h"

#include <functional>
#include <memory>

namespace vantrel
{
/** Choices a caller may fix for one load; the defaults are what every load uses. */
struct MediaLoadOptions
{
    int workers = 0;                          // 1 or 2 resampling/reading workers; 0: by the processor topology
    std::function<void()> beforeFinalCheck;   // runs just before the final signature check (may be empty)
    ResamplePath resamplePath = ResamplePath::widest;   // the resampler's inner loop (tests force the portable one)
};

/** One whole load of one file into what the engine plays: checks that the file exists and
    still has the request's signature, then either reads it straight into the PCM (its rate is
    already the request's) or decodes, validates, finds the auto-cue point (-50 dBFS, 5 ms),
    resamples to the request's rate and takes the peaks (from the waveform cache when it
    matches, else computed and written to it), and finally checks the signature again. Never
    returns empty and never throws: a failure is the record's error text (its pcm empty; the
    fields set before the failure are kept). A set cancel flag fails the load at its next
    cancellation point with "準備を終了しました". Keeps no state between calls, so the
    loader thread and the CD import may load at the same time. */
std::shared_ptr<LoadedMedia> loadMedia (const MediaLoadRequest& request, CancelFlag cancel);

std::shared_ptr<LoadedMedia> loadMedia (const MediaLoadRequest& request, CancelFlag cancel, const MediaLoadOptions& options);
} // namespace vantrel
