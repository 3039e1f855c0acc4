#pragma once

// Threads: push() and beginBlock() run on the audio thread and are realtime-safe (no allocation,
// no lock, no system call). pop() runs on the analyser thread. setSourceSelection() runs on the
// message thread. overflowCount() and sourceSelection() may be read from any thread.

#include "audio/dsp/AnalyzerFrame.h"

#include "platform/ThreadContract.h"

#include <atomic>
#include <cmath>
#include <cstdint>

namespace orvane::audio
{
/** Cuts the tapped signal into frames of 2048 stereo samples and hands them to the analyser
    thread through a lock-free ring of 4 slots (at most 3 frames wait). A full ring drops the
    newest frame and counts it. Single producer (audio thread), single consumer. */
class AnalyzerTap
{
public:
    static constexpr uint32_t ringSize = 4;

    AnalyzerTap() = default;
    AnalyzerTap (const AnalyzerTap&) = delete;
    AnalyzerTap& operator= (const AnalyzerTap&) = delete;

    /** What is tapped: 0 nothing, AnalyzerFrame::masterOutput, AnalyzerFrame::trackBus, else the
        play token of a track voice. Message thread. */
    void setSourceSelection (std::intptr_t selection)
    {
        VANTREL_ASSERT_MESSAGE_THREAD;
        selectionValue.store (selection, std::memory_order_relaxed);
    }
    std::intptr_t sourceSelection() const  { return selectionValue.load (std::memory_order_relaxed); }

    /** At the start of every block: reads the selection once, restarts the collecting frame when
        the selection or the rate differs from it, and returns the selection for the block.
        Audio thread. */
    std::intptr_t beginBlock (double sampleRate);

    /** One stereo sample at the tap point. Non-finite samples are stored as 0. A frame of another
        tag or rate is thrown away and collecting restarts. Audio thread. */
    void push (float left, float right, std::intptr_t sourceTag, double sampleRate)
    {
        VANTREL_ASSERT_AUDIO_THREAD;
        if (sourceTag != collecting.sourceTag || sampleRate != collecting.sampleRate)
            restart (sourceTag, sampleRate);

        collecting.left[(size_t) position] = finiteOrZero (left);
        collecting.right[(size_t) position] = finiteOrZero (right);

        if (++position == (uint64_t) AnalyzerFrame::numSamples)
            completeFrame();
    }

    /** Copies the oldest waiting frame out; false when none waits. Analyser thread. */
    bool pop (AnalyzerFrame& out);

    /** Frames dropped because the ring was full. */
    uint64_t overflowCount() const  { return overflow.load (std::memory_order_relaxed); }

private:
    static float finiteOrZero (float sample)  { return std::isfinite (sample) ? sample : 0.0f; }

    void restart (std::intptr_t sourceTag, double sampleRate);
    void completeFrame();

    std::atomic<std::intptr_t> selectionValue { 0 };
    std::atomic<uint64_t> overflow { 0 };
    AnalyzerFrame ring[ringSize];
    AnalyzerFrame collecting;
    alignas (64) std::atomic<uint32_t> readIndex { 0 };
    alignas (64) std::atomic<uint32_t> writeIndex { 0 };
    uint64_t position = 0;
    uint64_t serialCounter = 0;
};
} // namespace orvane::audio
