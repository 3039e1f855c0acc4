#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::vsthost
{
/** The processing configuration the protocol loop holds and CONFIG writes. processMode uses the
    VST3 values: 0 realtime, 1 prefetch, 2 offline (anything else counts as 1). */
struct ProcessConfig
{
    double sampleRate = 48000.0;
    std::uint32_t channels = 2;
    std::uint32_t maxBlockFrames = 1024;
    std::int32_t processMode = 1;
    double tempo = 0.0;   // beats per minute; 0 = none
};

/** The outcome of every backend operation; `message` is empty when ok. */
struct ProcessResult
{
    bool ok = true;
    std::string message;

    static ProcessResult success() { return {}; }
    static ProcessResult failure (std::string text) { return { false, std::move (text) }; }
};

/** Interleaved samples (left, right, left, right ...) of one block, replaced in place. */
struct ProcessBlock
{
    std::vector<float> samples;
    std::uint32_t frames = 0;
    std::uint32_t channels = 0;
};

struct BackendInfo
{
    std::string classId;   // 32 upper-case hex digits
    std::string name;
    std::string vendor;
    std::string version;
    std::uint32_t latencySamples = 0;
    std::uint32_t tailSamples = 0;
    bool editorVerified = false;
};

struct ParameterRecord
{
    std::uint32_t id = 0;
    std::string title;
    std::string shortTitle;
    std::int32_t stepCount = 0;
    double defaultNormalized = 0.0;
    std::int32_t flags = 0;   // the plug-in's parameter flags; bit value 2 is read-only

    static constexpr std::int32_t readOnlyFlag = 2;
};

/** One accepted class of a scanned module. */
struct ClassRecord
{
    std::string classId;   // 32 upper-case hex digits
    std::string name;
    std::string vendor;
    std::string version;
    std::string subCategories;   // joined with "|"
};
} // namespace orvane::vsthost
