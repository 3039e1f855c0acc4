#pragma once

#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <vector>

namespace vantrel
{
/** Keeps every session ".json" file below the data root, text for text, in one file
    "recovery/damaged-" + 32 hex digits + ".json" before a recovery overwrites anything: one JSON
    object whose member names are the files' paths relative to the root ('/'-separated, sorted)
    and whose values are their whole texts. Files under "recovery" are left out; links to
    folders are not followed. A file whose bytes are not clean UTF-8 text is kept as
    {"encoding": "base64", "data": ...}, one larger than the JSON size limit as
    {"omitted": "too large", "bytes": N}, an unreadable one as {"omitted": "unreadable"}, so that
    one odd file never blocks a recovery. Nothing reads a bundle back, so its own size has no
    limit.

    `obstructions` are root-relative paths of things that stand where the recovery must write (a
    folder where a split file belongs, a file where a folder belongs). After the bundle is
    written each is moved, whole and unchanged, into the folder named like the bundle without
    ".json" ("recovery/damaged-<hex>/" + its relative path), and its member says where:
    {"movedTo": path relative to the root}, with "kept" holding what the member held before, if
    anything. Nothing is moved when the bundle cannot be written.

    `bundle` empty: a new bundle is written and `bundle` names it. `bundle` naming a bundle of an
    earlier try of the same recovery: that bundle is extended in place instead (its members stay,
    files it does not hold yet are added), so that retrying never piles up bundles and never
    replaces a text kept before the first try by one that the recovery itself wrote. Message
    thread (during a recovery). */
StoreResult keepDamagedFiles (const juce::File& root, const std::vector<juce::String>& obstructions, juce::File& bundle);
} // namespace vantrel
