#pragma once

#include "vsthost/ProcessTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::vsthost
{
class PluginBackend;

/** Protocol thread. Runs `frames` interleaved frames through the backend in chunks of at most
    config.maxBlockFrames frames and writes the processed samples back in place. The shape is
    checked in 64 bits before anything is copied: frames not 0, channels equal to the configured
    count, frames x channels equal to the sample count, a block size above 0; otherwise
    "invalid process buffer shape". A failing chunk ends the call with the backend's result. */
ProcessResult processInterleaved (PluginBackend& backend, const ProcessConfig& config, std::vector<float>& samples,
                                  std::uint32_t frames, std::uint32_t channels);

/** Reads a whole file of little-endian float32 values (at most 8 MiB); false when it cannot be
    read, is larger, or is not a whole number of floats. */
bool readFloatFile (const std::string& path, std::vector<float>& samples);

/** Creates or truncates the file and writes the samples; false on any failure. */
bool writeFloatFile (const std::string& path, const std::vector<float>& samples);
} // namespace orvane::vsthost
