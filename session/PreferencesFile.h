#pragma once

#include "session/Preferences.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
/** preferences.json larger than this is refused unread. */
constexpr juce::int64 maxPreferencesFileBytes = 1048576;

/** Reads preferences.json into out, all or nothing: on any failure out keeps its
    values and the message says why ("Invalid settings file; original retained",
    "Invalid settings field", "Invalid settings arrays", "Invalid lock setting",
    "Invalid colour", "Invalid key setting" or a validateShortcuts message). A
    missing file succeeds and changes nothing. The file is never written here.
    Message thread. */
StoreResult readPreferences (const juce::File& file, Preferences& out);

/** Refuses an invalid key table with its validateShortcuts message before
    anything is written; otherwise writes the preferences atomically with a ".bak"
    of the previous text. Message thread. */
StoreResult savePreferences (const juce::File& file, const Preferences& preferences);

/** readPreferences; when the file did not exist, writes the preferences as they
    are (the defaults on a first run) and returns that write's result. A file that
    cannot be read is never overwritten. First removes the temporary siblings of the file (and
    of its ".bak") that a save stopped mid-write left. Called once at start-up. */
StoreResult loadPreferences (const juce::File& file, Preferences& preferences);

/** The text that savePreferences writes: one multi-line JSON object with
    "version" 1 and the members in their fixed order; colours as 8 lower-case hex
    digits with the alpha byte ff. */
juce::String preferencesToJson (const Preferences& preferences);
} // namespace vantrel
