#pragma once

#include "vsthost/ProcessTypes.h"

namespace orvane::vsthost
{
/** The first failing test gives the result: a finite sample rate of 8000..384000 Hz
    ("invalid sample rate"), 2 channels ("VST3 Gate2.2 supports stereo only"), a block size of
    1..1048576 frames ("invalid block size"), a finite tempo of at least 0
    ("invalid tempo context"). The process mode is not tested. */
ProcessResult validateProcessConfig (const ProcessConfig& config);
} // namespace orvane::vsthost
