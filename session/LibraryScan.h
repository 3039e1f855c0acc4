#pragma once

#include "session/CatalogRecords.h"
#include "session/LibraryItem.h"
#include "session/LibraryNames.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <optional>

namespace vantrel
{
/** Builds the library overview: every absolute row source and pad asset of the given catalog and
    pads, every managed copy found in pad/assets and in the audio folder of every validly named
    playlist folder (hidden files included; a folder whose links lead away from its managed place
    is not walked; the partial files of stopped copies are left out), each file once per key,
    with its uses, and sorted by display name.

    `shouldStop` is asked before every step of every loop; once it answers true the scan ends
    and gives nothing. File-system errors only leave files out. Runs on the scan thread, on
    values it owns. */
std::optional<LibraryItemList> scanLibrary (const juce::File& root, const CatalogDocument& document, const PadSlots& pads,
                                            const LibraryNameMap& names, const std::function<bool()>& shouldStop);
} // namespace vantrel
