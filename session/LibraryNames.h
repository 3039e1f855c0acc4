#pragma once

#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstring>
#include <map>

namespace vantrel
{
/** Orders texts by the byte order of their UTF-8 form. */
struct Utf8Less
{
    bool operator() (const juce::String& a, const juce::String& b) const
    {
        return std::strcmp (a.toRawUTF8(), b.toRawUTF8()) < 0;
    }
};

/** Display names of managed files, keyed by the path relative to the data root ('/' separators). */
using LibraryNameMap = std::map<juce::String, juce::String, Utf8Less>;

/** The display-name record in the data root. */
extern const char* const libraryNamesFileName;

/** The largest "library-names.json" that is read, and so the largest that is written: 16 MiB. */
constexpr int64_t libraryNamesSizeLimit = int64_t { 16 } * 1024 * 1024;

/** Reads the display-name record. A missing file gives no names and true. A file over
    `maxBytes`, damaged, not JSON, without "schema" as the integer 1 or without "names" as an
    object gives false with `names` untouched. Members whose key starts with "/" or contains
    ".." or ":" are skipped. Any thread. */
bool readLibraryNames (const juce::File& file, LibraryNameMap& names, int64_t maxBytes = libraryNamesSizeLimit);

/** The record's text: {"schema": 1, "names": {...}} in the map's order, multi-line. */
juce::String libraryNamesText (const LibraryNameMap& names);

/** Writes the record atomically with a ".bak" copy. A text larger than `maxBytes` (which the
    reader would refuse) is not written; the result then says so. */
StoreResult writeLibraryNames (const juce::File& file, const LibraryNameMap& names, int64_t maxBytes = libraryNamesSizeLimit);
} // namespace vantrel
