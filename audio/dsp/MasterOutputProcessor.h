#pragma once

// Threads: the setters, getters and meters() run on the message thread (any thread is safe:
// every parameter and meter is a relaxed atomic). prepare() and reset() run while no block is
// processed (device start, rate change, offline renderer). process() runs on the device
// callback thread and is realtime-safe: no allocation, no lock, no system call.

#include "audio/dsp/TruePeakStage.h"

#include <atomic>
#include <cstdint>

namespace orvane::audio
{
/** The four meters of the master output stage, in dB. */
struct MasterOutputMeters
{
    float outputPeakLeftDb = -120.0f;
    float outputPeakRightDb = -120.0f;
    float limiterReductionDb = 0.0f;
    float truePeakReductionDb = 0.0f;
};

/** The last stage before the device buffer: input drive, an instant-attack peak limiter at the
    lower of threshold and ceiling, the master output gain and a true-peak stage that holds the
    4x-interpolated peak under -1 dBFS. The signal is always delayed by 192 samples, also when
    the stage is switched off (then only the delay and the output gain remain, after a 20 ms
    glide). */
class MasterOutputProcessor
{
public:
    static constexpr float truePeakLimitDb = -1.0f;
    static constexpr int latencySamples = TruePeakStage::delaySamples;

    MasterOutputProcessor();

    /** Each setter clamps to its range; a non-finite value gives the range's safe value
        (threshold -30, ceiling -12, release 120, drive 0, output gain -60). */
    void setThresholdDb (float dB);   // -30..0, default -3
    void setCeilingDb (float dB);     // -12..0, default -0.5
    void setReleaseMs (float ms);     // 10..2000, default 120
    void setDriveDb (float dB);       // 0..24, default 0
    void setOutputGainDb (float dB);  // -60..+12, default 0
    void setEnabled (bool shouldBeEnabled);

    float thresholdDb() const  { return threshold.load (std::memory_order_relaxed); }
    float ceilingDb() const  { return ceiling.load (std::memory_order_relaxed); }
    float releaseMs() const  { return release.load (std::memory_order_relaxed); }
    float driveDb() const  { return drive.load (std::memory_order_relaxed); }
    float outputGainDb() const  { return outputGain.load (std::memory_order_relaxed); }
    bool isEnabled() const  { return enabled.load (std::memory_order_relaxed); }
    double sampleRate() const  { return rate; }

    MasterOutputMeters meters() const;

    /** A rate that is not finite or not above 1000 Hz becomes 48000. Resets the state. */
    void prepare (double sampleRate);

    /** Histories, peak window and counter zeroed, smoothed values at their targets, gains 1,
        meters -120, -120, 0, 0. */
    void reset();

    /** One block in place. Channel 0 is left, channel 1 right (left again when there is one
        channel or channel 1 is null); channels 2 and up are zeroed; null pointers are skipped.
        A null array, no channel or no sample returns at once. Audio thread, realtime-safe. */
    void process (float* const* channels, int numChannels, int numSamples);

    /** On (the default), a block of silence that finds every stage at rest (every delayed and
        interpolated value 0, limiter and true-peak gains and every smoothed value where one more
        sample of silence leaves them) is not computed: it gives exactly what computing it gives
        (silence, the same state, the same meters). Off computes every block. */
    void setSkipsRest (bool shouldSkip)  { skipsRest = shouldSkip; }
    /** Blocks given out at rest without computing them, since construction. Audio thread. */
    std::uint64_t blocksSkippedAtRest() const  { return skippedBlocks; }

    /** The true-peak stage, for its taps and state. */
    const TruePeakStage& truePeakStage() const  { return truePeak; }

private:
    /** The per-block values that process() derives from the parameters. */
    struct BlockTargets;

    BlockTargets blockTargets() const;
    void runChunk (float* const* channels, int numChannels, int offset, int count, const BlockTargets& targets);
    void updateMeters (int numSamples);
    bool restsThrough (float* const* channels, int numChannels, int numSamples, const BlockTargets& targets) const;

    // Parameters: written by the message thread, read once per block.
    std::atomic<bool> enabled { true };
    std::atomic<float> threshold { -3.0f };
    std::atomic<float> ceiling { -0.5f };
    std::atomic<float> release { 120.0f };
    std::atomic<float> drive { 0.0f };
    std::atomic<float> outputGain { 0.0f };

    // Meters: written by the audio thread at the end of each block.
    std::atomic<float> meterPeakLeft { -120.0f };
    std::atomic<float> meterPeakRight { -120.0f };
    std::atomic<float> meterLimiterReduction { 0.0f };
    std::atomic<float> meterTruePeakReduction { 0.0f };

    double rate = 48000.0;
    // The limiter's gain is kept as its distance below 1 (1 - gain): a gain stored directly
    // stalls a little below 1 in float arithmetic ((g - 1) x r + 1 rounds back to g once
    // (1 - g)(1 - r) is under half a step of the float grid), which would hold the output and
    // the reduction meter down for good after any limiting.
    float limiterReduction = 0.0f;
    float smoothedOutputGain = 1.0f;
    float smoothedThreshold = 1.0f;
    float smoothedCeiling = 1.0f;
    float smoothedDrive = 1.0f;
    float enableMix = 1.0f;
    float smoothedRelease = 0.0f;

    // Block extremes, gathered by runChunk for the meters.
    float largestLeft = 0.0f;
    float largestRight = 0.0f;
    float smallestLimiterGain = 1.0f;
    float smallestTruePeakGain = 1.0f;

    TruePeakStage truePeak;
    bool skipsRest = true;
    std::uint64_t skippedBlocks = 0;
};
} // namespace orvane::audio
