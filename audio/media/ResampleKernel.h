#pragma once

#include "audio/media/MediaLimits.h"

#include <cstddef>
#include <cstdint>

namespace vantrel
{
/** The windowed-sinc table: phases x taps coefficients, each phase summing to 1. */
constexpr int resamplePhases = 1024;
constexpr int resampleTaps = 64;
constexpr int resampleTapsBefore = 31;   // tap k reads source frame d - 31 + k

/** Which inner loop computes the frames whose taps all lie inside the source. Every path gives
    the same output as the others of its kind: the FMA paths (AVX2, AVX-512) sum the taps in the
    same order with fused multiply-adds, the portable path with separate multiplies and adds. */
enum class ResamplePath
{
    widest,     // the widest path the processor offers
    portable,   // no vector extensions beyond the baseline
    avx2,       // AVX2 + FMA (the portable path where the processor lacks them)
    avx512      // AVX-512F and DQ (the AVX2 path, else the portable one, where the processor lacks them)
};

/** One resampling: the interleaved source, the table and the planar output. Every field is
    read-only while ranges are computed, so two threads may compute disjoint ranges. */
struct ResampleJob
{
    const float* source = nullptr;
    std::size_t sourceFrames = 0;
    std::size_t sourceFirst = 0;   // the frame at source[0]: a stretch of the source may be all there is,
    std::size_t sourceLimit = 0;   // one past its last frame (0: sourceFrames); the frames computed must read only these
    int channels = 1;           // 1 or 2
    double step = 1.0;          // source frames per output frame
    const double* table = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    CancelFlag cancel = nullptr;
    ResamplePath path = ResamplePath::widest;
};

/** Computes output frames [begin, end): frame i reads the table's phase for the fraction of
    i x step and sums the 64 taps around its integer part in double; taps outside the source
    count as 0. The cancel flag is checked before every frame whose index is a multiple of
    65536 (a set flag raises the cancelled failure). Uses the widest vector instructions the
    processor offers for frames whose taps all lie inside the source. */
void resampleRange (const ResampleJob& job, std::size_t begin, std::size_t end);

/** The path a job asking for path runs on this processor. */
ResamplePath resamplePathInUse (ResamplePath path);

/** "portable", "AVX2/FMA" or "AVX-512". */
const char* resamplePathName (ResamplePath path);
} // namespace vantrel
