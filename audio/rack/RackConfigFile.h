#pragma once

#include "audio/rack/VstRackRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>

namespace vantrel
{
/** What "master-vst.json" holds: the two slot configurations and the user's extra VST3
    folders. */
struct RackConfigContents
{
    std::array<VstRackSlot, 2> slots;
    juce::StringArray searchFolders;

    bool operator== (const RackConfigContents& other) const
    {
        return slots == other.slots && searchFolders == other.searchFolders;
    }
};

/** The largest "master-vst.json" that is read: 64 MiB + 64 KiB (two full states and the rest). */
constexpr std::int64_t maxRackConfigBytes = 67174400;

/** At most this many search folders. */
constexpr int maxRackSearchFolders = 16;

enum class RackConfigRead
{
    missing,   // no file: the defaults stand, and this is no error
    loaded,
    damaged    // anything else; `out` is left untouched
};

/** Reads the rack's settings file. Strict: "schema" 1, "searchFolders" an array of at most 16
    absolute paths that are valid protocol fields (exact duplicates merged), "slots" an array of
    exactly two objects whose "enabled" is a boolean, whose "uid" and "stateHex" are texts (or
    absent) with a uid of 32 hex digits or empty and a valid state text, and an empty slot
    disabled and without state. Any thread. */
RackConfigRead readRackConfig (const juce::File& file, RackConfigContents& out);

/** Removes the temporary siblings that a save of the settings file, killed mid-write, left
    behind. Only while nothing writes the file: the rack calls it when it starts, before its
    control thread runs. */
void removeStaleRackConfigTemporaries (const juce::File& file);

/** The file's text: the framework's multi-line JSON, members in the order "schema",
    "searchFolders", "slots" and, per slot, "uid", "name", "vendor", "version", "enabled",
    "stateHex". */
juce::String rackConfigText (const RackConfigContents& contents);

/** Writes the file atomically, keeping the previous one as "master-vst.json.bak". */
StoreResult writeRackConfig (const juce::File& file, const RackConfigContents& contents);
} // namespace vantrel
