#include "vsthost/ProcessConfigValidation.h"

#include <cmath>

namespace orvane::vsthost
{
ProcessResult validateProcessConfig (const ProcessConfig& config)
{
    if (! std::isfinite (config.sampleRate) || config.sampleRate < 8000.0 || config.sampleRate > 384000.0)
        return ProcessResult::failure ("invalid sample rate");

    if (config.channels != 2)
        return ProcessResult::failure ("VST3 Gate2.2 supports stereo only");

    if (config.maxBlockFrames - 1u > 0xFFFFFu)
        return ProcessResult::failure ("invalid block size");

    if (! std::isfinite (config.tempo) || config.tempo < 0.0)
        return ProcessResult::failure ("invalid tempo context");

    return ProcessResult::success();
}
} // namespace orvane::vsthost
