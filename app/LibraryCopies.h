#pragma once

#include "session/CatalogRecords.h"
#include "session/CopyTransaction.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vantrel
{
class JobPool;
class JobResults;
class SessionSaves;

/** Audio files copied into the library: the pool jobs that copy them (new requests and the
    journals an earlier run left), and the finished copies on their way into the catalog. A
    copy's journal is the only record of it until a save holding its rows is on disk; only then
    does the journal go. Merging a copy's rows is the coordinator's edit, handed in to finish.
    Message thread only, except the pool jobs, which touch only their own files and post their
    results to the JobResults. */
class LibraryCopies
{
public:
    using AfterCopy = std::function<void (const juce::File& source, const juce::File& temporaryCopy)>;

    /** dataRoot: the store's root; afterCopy: a test's seam, run by the jobs (see
        SessionCoordinatorOptions). The pool, results and saves must outlive this part. */
    LibraryCopies (const juce::File& dataRoot, AfterCopy afterCopy, JobPool& pool, JobResults& results,
                   const SessionSaves& saves);

    LibraryCopies (const LibraryCopies&) = delete;
    LibraryCopies& operator= (const LibraryCopies&) = delete;

    /** A pool job copies `files` under their display `names` into the playlist's library. */
    void start (const std::string& playlistId, const juce::StringArray& files, const juce::StringArray& names);
    /** A pool job per journal an earlier run left: copies unfinished, or finished but not saved. */
    void resumeJournals();

    /** Takes in the copies the jobs posted, then each copy taken in, oldest first: a failed one
        is reported through `alert` and forgotten (its journal and files stay as the copy left
        them); one not merged yet goes to `merge`, which answers whether the catalog took its
        rows (the last save handed over then holds them); the journal of one whose save is on
        disk is removed. True when a copy finished. */
    bool finish (const std::function<bool (const CopyResult&)>& merge,
                 const std::function<void (const juce::String&)>& alert);

    /** A copy waiting for its merge has a row of the file with this library path key. */
    bool isFileNamedByWaitingCopy (const juce::String& key) const;
    /** Copies taken in and waiting for their merge or save. */
    std::size_t awaitingSave() const noexcept  { return pending.size(); }

    /** The row plays the file with this library path key. */
    static bool isRowOfFile (const Row& row, const juce::String& key);

private:
    // Pool thread: the data root, the arguments and the results.
    void run (const std::string& playlistId, const juce::StringArray& files, const juce::StringArray& names,
              const juce::File& journal);

    const juce::File root;
    const AfterCopy afterCopy;
    JobPool& pool;
    JobResults& results;
    const SessionSaves& saves;
    std::vector<CopyResult> pending;   // taken in, waiting for their merge or save
};
} // namespace vantrel
