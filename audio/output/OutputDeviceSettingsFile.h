#pragma once

#include "audio/output/OutputDeviceSettings.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
/** The largest "device.json" the reader accepts, in bytes. */
constexpr int64_t outputSettingsFileLimit = 65536;

/** Reads "device.json" (version 1 or 2). A missing file gives empty settings and ok. On a size,
    parse, identifier-type or number-type failure `settings` is left as it was; a range failure or
    an empty identifier fails after the record was filled from the file. Message thread. */
StoreResult readOutputDeviceSettings (const juce::File& file, OutputDeviceSettings& settings);

/** Writes `settings` as a version 2 "device.json" through the atomic writer (with its backup copy).
    A version 1 file is first copied once to "device-before-independent-output.json" beside it.
    Refuses a record that names no device or is out of range, writing nothing. Message thread. */
StoreResult writeOutputDeviceSettings (const juce::File& file, const OutputDeviceSettings& settings);
} // namespace vantrel
