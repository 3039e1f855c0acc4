#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace vantrel
{
/** One audio track of a disc. */
struct CdTrack
{
    int number = 0;        // 1..99, from the table of contents
    int startSector = 0;   // counted from the start of the program area (the 150-frame lead-in subtracted)
    int sectorCount = 0;   // each sector 1/75 s: 2352 bytes, 588 stereo frames
    juce::String name;     // "Track " + the number with at least two digits
};

/** One disc in one drive; a plain value, copied freely. */
struct CdDisc
{
    juce::String drive;     // the drive's device path ("/dev/sr0"), or an image's path
    juce::String title;     // the disc's title, trimmed; "Audio CD" when it has none
    juce::String discKey;   // drive + ":" + the hash of the table of contents in hexadecimal
    std::vector<CdTrack> tracks;   // the audio tracks in table order; data tracks are not listed
};
} // namespace vantrel
