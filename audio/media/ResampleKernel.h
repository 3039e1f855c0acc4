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

/** One resampling: the interleaved source, the table and the planar output. Every field is
    read-only while ranges are computed, so two threads may compute disjoint ranges. */
struct ResampleJob
{
    const float* source = nullptr;
    std::size_t sourceFrames = 0;
    int channels = 1;           // 1 or 2
    double step = 1.0;          // source frames per output frame
    const double* table = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    CancelFlag cancel = nullptr;
};

/** Computes output frames [begin, end): frame i reads the table's phase for the fraction of
    i x step and sums the 64 taps around its integer part in double; taps outside the source
    count as 0. The cancel flag is checked before every frame whose index is a multiple of
    65536 (a set flag raises the cancelled failure). Uses the widest vector instructions the
    processor offers for frames whose taps all lie inside the source. */
void resampleRange (const ResampleJob& job, std::size_t begin, std::size_t end);

/** Whether resampleRange uses the AVX2/FMA path on this processor. */
bool resampleUsesWideVectors();
} // namespace vantrel
