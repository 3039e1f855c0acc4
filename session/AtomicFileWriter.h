#pragma once

#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>
#include <limits>

namespace vantrel
{
/** The size above which readJsonFile refuses a file: 64 MiB (a file of exactly 64 MiB is read). */
constexpr int64_t defaultJsonFileSizeLimit = int64_t { 64 } * 1024 * 1024;

/** No size limit, for texts that no reader with a limit reads back. */
constexpr int64_t noFileSizeLimit = std::numeric_limits<int64_t>::max();

/** The limit that readJsonFile and the three-argument writeFileAtomically apply: the default
    unless a test has lowered it with ScopedJsonFileSizeLimit. Any thread. */
int64_t jsonFileSizeLimit();

/** Test seam: sets the JSON file size limit for the life of the object (so that a test need
    not write 64 MiB), restoring the previous limit afterwards. Process-wide. */
class ScopedJsonFileSizeLimit
{
public:
    explicit ScopedJsonFileSizeLimit (int64_t limit);
    ~ScopedJsonFileSizeLimit();

    ScopedJsonFileSizeLimit (const ScopedJsonFileSizeLimit&) = delete;
    ScopedJsonFileSizeLimit& operator= (const ScopedJsonFileSizeLimit&) = delete;

private:
    int64_t previous;
};

/** Replaces `target` with `text` (its UTF-8 bytes, nothing added) so that a crash or power loss
    at any moment leaves the complete old or the complete new file: a temporary sibling
    ("name.tmp-" + 32 hex digits) is written, forced to the disk and read back byte for byte;
    unless the name ends in ".bak" (any case) the bytes must parse as readJsonFile would accept
    them; with `makeBackup` the target's previous bytes go to "name.bak" first (as a second
    name of the same file where the file system allows it and the target is no symbolic link,
    otherwise as a copy); the temporary file is renamed over the target, the folder is forced to
    the disk and the target is read back. A target that already holds exactly these bytes is left alone (no write, no backup).
    A text larger than jsonFileSizeLimit() is refused, since no reader would accept it.

    Returns ok with an empty message, or the failure's message. No temporary file is left
    behind on any failure. Never throws for a file problem; keeps no state; any thread (one
    writer per target at a time). */
StoreResult writeFileAtomically (const juce::File& target, const juce::String& text, bool makeBackup);

/** The same with an explicit size limit, for files whose reader accepts less (or, with
    noFileSizeLimit, for files that nothing reads back). */
StoreResult writeFileAtomically (const juce::File& target, const juce::String& text, bool makeBackup, int64_t maxBytes);

/** writeFileAtomically on the text's UTF-8 bytes, for a caller that holds them already (a large
    document need not pass through a String). */
StoreResult writeBytesAtomically (const juce::File& target, const std::string& bytes, bool makeBackup);
StoreResult writeBytesAtomically (const juce::File& target, const std::string& bytes, bool makeBackup, int64_t maxBytes);

/** The size of the pieces in which writeBytesAtomicallyUnlessGivenUp writes. */
constexpr size_t givenUpCheckBytes = size_t { 2 } * 1024 * 1024;

/** writeBytesAtomically for a large text that a newer one may make needless: `givenUp` is asked
    before each piece of givenUpCheckBytes is written and before each later step (forcing to the
    disk, reading back, the backup, the commit). Once it answers true the temporary file is
    removed and the write fails with "保存を中止しました", the target and its backup as they were.
    `givenUp` runs on the writing thread. */
StoreResult writeBytesAtomicallyUnlessGivenUp (const juce::File& target, const std::string& bytes, bool makeBackup,
                                               const std::function<bool()>& givenUp);

/** The same with an explicit size limit. */
StoreResult writeBytesAtomicallyUnlessGivenUp (const juce::File& target, const std::string& bytes, bool makeBackup,
                                               int64_t maxBytes, const std::function<bool()>& givenUp);

/** Puts `written`, a file that already holds exactly `bytes` forced to the disk (as
    writeBytesAtomically leaves its target), in `target`'s place, leaving what
    writeBytesAtomically (target, bytes, true) would leave without writing the bytes again: the
    target's previous bytes go to "name.bak" first, `written` is renamed over the target, the folder
    is forced to the disk and the target is read back. A target that already holds exactly these
    bytes is left alone with its backup, and `written` stays. Failures give writeBytesAtomically's
    messages; on any failure the target holds its previous bytes or exactly `bytes`, `written` is
    left as it was unless it has become the target, and no temporary file is left behind. Any
    thread (one writer per target at a time). */
StoreResult moveWrittenFileAtomically (const juce::File& written, const juce::File& target, const std::string& bytes);

/** Reads and parses a JSON file of at most jsonFileSizeLimit() bytes. A missing file, a folder,
    an unreadable or a larger file gives "保存データを読めません: " + file name; bytes that are not
    clean UTF-8 text or do not parse give "JSON破損: " + file name + " / " + what is wrong (see
    parseStoredJson). `out` is written only on success. Any thread. */
StoreResult readJsonFile (const juce::File& file, juce::var& out);

/** The same with an explicit size limit. */
StoreResult readJsonFile (const juce::File& file, juce::var& out, int64_t maxBytes);

/** The target's file name when `fileName` is exactly the name that writeFileAtomically gives a
    temporary sibling (target name, ".tmp-", 32 lower-case hex digits), otherwise empty. Any thread. */
juce::String targetOfTemporaryName (const juce::String& fileName);

/** Removes the temporary siblings that a writeFileAtomically stopped mid-write (a killed process,
    a power loss) left directly in `folder`, for the targets whose file names `isOwnTarget` accepts
    (the ".bak" of a target is a target of its own). Only regular files named exactly as the writer
    names them go; links, folders and every other name stay. Call while nothing writes to those
    targets, at start-up before the files are read. Answers the number removed. */
int removeStaleTemporaryFiles (const juce::File& folder, const std::function<bool (const juce::String& targetName)>& isOwnTarget);
} // namespace vantrel
