#pragma once

#include "session/CatalogRecords.h"
#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <initializer_list>

namespace vantrel
{
/** The session's JSON documents: the whole-state document (the save journal, the last-good
    snapshot and a copy journal's state) and the slices of it that the split files hold.
    Every loaded document passes readCatalogJson, whichever file it came from.

    All functions are pure and may run on any thread on values the caller owns. */

/** Version written into the whole-state document, the playlist objects and the split files. */
constexpr int sessionDocumentVersion = 6;
/** Version written into the pads object. */
constexpr int padsDocumentVersion = 3;

/** The whole-state document of a state, members in their stored order. Gains are widened to
    double; a row's "bytes" and "modified" are written as decimal text. */
juce::var catalogToJson (const CatalogState& state);

/** Checks a whole-state document (versions 1 to 6, supplying what an older version may leave
    out) and, on success, replaces `state` wholly with what it read. On failure `state` is left
    untouched and the message is that of the first failed check. */
StoreResult readCatalogJson (const juce::var& json, CatalogState& state);

/** What readCatalogJson answers for the document that catalogToJson makes of `state` (the save's
    self-check: a state that could not be read back is never saved), found on the records
    without building the document: the same checks in the same order, the same messages. */
StoreResult checkCatalogState (const CatalogState& state);

/** The EQ object ("enabled", "bands" of 8 band objects). */
juce::var eqSettingsToJson (const EqSettings& eq);

/** True, and `eq` filled, when `json` is an EQ object with the right members and types whose
    values pass EqSettings::isValid; otherwise false and `eq` untouched. */
bool readEqSettings (const juce::var& json, EqSettings& eq);

/** True when `value` is an object whose "version" is a JSON integer from 1 to 6
    (a boolean, a string or a number with a fraction is not an integer). */
bool hasSupportedVersion (const juce::var& value);

/** True when `object` is an object and every named member holds a string. */
bool hasStringMembers (const juce::var& object, std::initializer_list<const char*> names);

/** Reads a JSON string of one or more decimal digits (leading zeros allowed, nothing else) that
    fits in 64 bits unsigned. A JSON number, a sign, a blank or an overflow fail; `out` is written
    only on success. */
bool parseUInt64Text (const juce::var& value, uint64_t& out);

/** Like parseUInt64Text with one optional leading '-', within the signed 64-bit range. */
bool parseInt64Text (const juce::var& value, int64_t& out);

/** The stored text of a session document: the framework's multi-line JSON layout. */
juce::String sessionJsonText (const juce::var& document);
} // namespace vantrel
