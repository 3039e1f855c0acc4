#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace vantrel
{
/** A file's size and last-write time, by which a changed audio file is noticed. */
struct FileSignature
{
    int64_t size = 0;          // bytes; 0 for a missing or empty file or a failed query
    juce::Time modified;       // last-write time, ms since 1970-01-01 UTC; 0 when unknown

    bool operator== (const FileSignature& other) const  { return size == other.size && modified == other.modified; }
    bool operator!= (const FileSignature& other) const  { return ! operator== (other); }
};

/** Reads a file's signature with millisecond file times. Any thread. */
FileSignature readFileSignature (const juce::File& file);
} // namespace vantrel
