#pragma once

#include "session/CatalogRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace vantrel
{
/** The split files that hold a session between saves, under the data root:
    playlists/(id)/"playlist.json" per playlist, "catalog.json", "pad/pads.json" and
    "app-state.json". Each is a slice of the whole-state document, and reading glues them back
    into one document for readCatalogJson, so every load passes the same checks.

    Both functions run on the caller's thread (the save worker, or the message thread at
    start-up and recovery) and keep no state. */

/** Writes the playlist files in catalog order, then "catalog.json", "pad/pads.json" and
    "app-state.json", each through writeFileAtomically with a backup, stopping at the first
    failure and returning its result unchanged. An unchanged file is not rewritten. Files of
    playlists no longer in the catalog are neither written nor removed. A playlist id that is not
    a valid id (and so could name a path outside the root) is refused before anything is written. */
StoreResult writeSplitFiles (const juce::File& root, const CatalogState& state);

/** The same with the texts of the playlist files made already (playlistJsonText of each
    playlist, in catalog order). */
StoreResult writeSplitFiles (const juce::File& root, const CatalogState& state, const std::vector<std::string>& playlistTexts);

/** Reads "catalog.json", the playlist files it lists, "pad/pads.json" and "app-state.json",
    assembles the whole-state document and reads it with readCatalogJson. On failure `out` is
    untouched and the message is the first failure's. The caller checks that "catalog.json"
    exists. */
StoreResult readSplitFiles (const juce::File& root, CatalogState& out);

/** What stands where writeSplitFiles of `state` must write, as root-relative paths: a folder
    (not a link) at a split file or at its ".bak", and anything that is not a folder at
    "playlists", at a playlist's folder or at "pad". Such a thing makes every write of that file
    fail, so a recovery moves it aside first. A playlist id that is not a valid id is skipped
    (writeSplitFiles refuses it). */
std::vector<juce::String> findSplitFileObstructions (const juce::File& root, const CatalogState& state);

/** The split file of one playlist under the root. */
juce::File playlistFile (const juce::File& root, const juce::String& playlistId);
} // namespace vantrel
