#pragma once

#include "session/CatalogRecords.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vantrel
{
/** What a copy into the library gives back to the caller. */
struct CopyResult
{
    Playlist playlist;         // the transaction's playlist: its id and one row per source
    juce::File journal;        // the journal file; empty when a new request was refused before one was named
    juce::String message;      // empty on success, otherwise the failure text (shown as it stands)
    int64_t saveTicket = 0;    // always 0 here; the caller keeps the ticket of the save holding the rows
};

/** The largest copy journal that is read back, and so the largest that is written: 16 MiB. */
constexpr int64_t copyJournalSizeLimit = int64_t { 16 } * 1024 * 1024;

/** Seams for tests; the session uses the defaults. */
struct CopyOptions
{
    int64_t journalSizeLimit = copyJournalSizeLimit;

    /** Called after a copy matched its source, before the source's signature is read again. */
    std::function<void (const juce::File& source, const juce::File& temporaryCopy)> afterCopy;
};

/** Brings audio files into the managed library of one playlist so that a stop at any moment
    loses nothing: a journal ("pending-copy-<uuid>.json" in playlists/<id>/) is written before the
    first byte is copied; each copy goes to a temporary sibling, is forced to the disk, compared
    byte for byte with its source and renamed (never over an existing file) to
    playlists/<id>/audio/<row id>.<ext>, whose folder is then forced to the disk; only then is
    the journal marked complete with the verified signatures.

    With an empty `journal` it starts a new transaction for `playlistId`, `sources` (full paths)
    and `titles` (one per source); otherwise it resumes that journal (finishing the copies, or only
    re-checking them when it is complete) and ignores the other three arguments. A resumed
    journal is held to the rules of a new request: it must lie in the folder of the playlist it
    names, its sources must be absolute paths with audio extensions, and its destinations must be
    audio files named after their rows in that playlist's audio folder.

    A resume first removes the partial copies that a stopped run left in the audio folder under
    the temporary names of the journal's rows (and only those). Never deletes or overwrites a
    journal, a source or an existing destination. Runs on a pool thread, takes no lock, works on
    its own copies. */
CopyResult copyIntoLibrary (const juce::File& root, const std::string& playlistId, const juce::StringArray& sources,
                            const juce::StringArray& titles, const juce::File& journal, const CopyOptions& options = {});

/** True when both files have the same size and the same bytes, compared in 64 KiB blocks through
    two buffers allocated once per call. Any thread. */
bool filesMatch (const juce::File& a, const juce::File& b);
} // namespace vantrel
