#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

namespace vantrel
{
/** A whole file decoded at its own rate: interleaved float samples of one or two channels.
    The framework-reader path fills the first three fields; the stream decoder reports its
    failure in error (the samples are then empty) and its format name in format. */
struct DecodedAudio
{
    std::vector<float> samples;   // frame by frame, channels samples per frame
    std::int32_t channels = 0;    // 1 or 2 once accepted
    double sampleRate = 0.0;      // Hz
    juce::String error;           // empty on success
    juce::String format;          // the stream decoder's format name
    std::uint64_t decodedSamples = 0;   // the stream decoder's count (also of samples it did not keep)

    std::uint64_t frames() const noexcept
    {
        return channels > 0 ? samples.size() / (std::uint64_t) channels : 0;
    }
};
} // namespace vantrel
