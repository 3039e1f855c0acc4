#pragma once

#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

namespace vantrel
{
/** Keeps every session ".json" file below the data root, text for text, in one new file
    "recovery/damaged-" + 32 hex digits + ".json" before a recovery overwrites anything: one JSON
    object whose member names are the files' paths relative to the root ('/'-separated, sorted)
    and whose values are their whole texts. Files under "recovery" are left out; links to
    folders are not followed. A file whose bytes are not clean UTF-8 text is kept as
    {"encoding": "base64", "data": ...}, one larger than the JSON size limit as
    {"omitted": "too large", "bytes": N}, an unreadable one as {"omitted": "unreadable"}, so that
    one odd file never blocks a recovery. Nothing reads a bundle back, so its own size has no
    limit. On success `written` names the bundle. Message thread (during a recovery). */
StoreResult writeDamagedBundle (const juce::File& root, juce::File& written);
} // namespace vantrel
