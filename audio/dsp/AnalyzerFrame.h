#pragma once

#include <array>
#include <cstdint>

namespace orvane::audio
{
/** 2048 stereo samples of the signal the EQ window analyses, handed from the audio thread to
    the analyser thread. */
struct AnalyzerFrame
{
    static constexpr int numSamples = 2048;

    /** Source tags: the master output, the track bus, else the play token of a track voice. */
    static constexpr std::intptr_t masterOutput = -1;
    static constexpr std::intptr_t trackBus = -2;

    std::array<float, numSamples> left {};
    std::array<float, numSamples> right {};
    std::intptr_t sourceTag = 0;
    int64_t serial = 0;          // numbers every completed frame from 1, dropped ones included
    double sampleRate = 48000.0;
};
} // namespace orvane::audio
