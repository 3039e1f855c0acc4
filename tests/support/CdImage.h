#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

namespace vantrel::test
{
/** Deterministic 16-bit stereo audio of `sectors` CD sectors (2352 bytes each), a pattern of its
    own for each seed. */
std::vector<std::uint8_t> cdAudio (int seed, int sectors);

/** What a generated disc image holds. */
struct CdImageContents
{
    std::vector<std::vector<std::uint8_t>> tracks;   // the audio tracks' bytes, padded to whole sectors
    int dataSectors = 0;                             // > 0: a MODE1/2352 data track of this length after the audio
    juce::String title;                              // the disc's CD-Text TITLE when not empty
};

/** A disc image as written: the CUE sheet and each audio track's exact bytes in the BIN. */
struct CdImage
{
    juce::File cue;
    std::vector<std::vector<std::uint8_t>> tracks;
};

/** Writes `name`.bin and `name`.cue into `folder` (created when missing): the audio tracks back
    to back from sector 0, then the data track. The image is read through libcdio like a drive. */
CdImage writeCdImage (const juce::File& folder, const CdImageContents& contents, const juce::String& name = "disc");
} // namespace vantrel::test
