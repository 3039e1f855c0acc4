#pragma once

#include "session/CatalogRecords.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vantrel
{
class JobPool;
class JobResults;
struct PadCopyResult;

/** The pads' audio files: the asset folder ("pad/assets" under the data root), the change
    counter of each of the 45 slots, and the pool jobs that copy a chosen file into the folder
    and verify it byte for byte. A slot's change outdates every copy started for it before; the
    slot edits themselves are the coordinator's. Message thread only, except the pool jobs, which
    touch only their own files and post their results to the JobResults. */
class PadAssets
{
public:
    using AfterCopy = std::function<void (const juce::File& source)>;

    /** afterCopy: a test's seam, run by the jobs between copy and verification (see
        SessionCoordinatorOptions). The pool and the results must outlive this part. */
    PadAssets (const juce::File& dataRoot, AfterCopy afterCopy, JobPool& pool, JobResults& results);

    PadAssets (const PadAssets&) = delete;
    PadAssets& operator= (const PadAssets&) = delete;

    const juce::File& folder() const noexcept  { return assetFolder; }
    /** The change counters of the 45 slots (index (bank - 1) * 9 + pad - 1). */
    const std::array<std::uint64_t, numPads>& revisions() const noexcept  { return revision; }
    /** The slot at `index` changed; returns its new revision. */
    std::uint64_t touch (std::size_t index) noexcept  { return ++revision[index]; }

    /** A pool job copies `source` into the folder for the pad's change `slotRevision`. */
    void startCopy (int bank, int pad, std::uint64_t slotRevision, const juce::File& source);
    /** Every copy the jobs posted, oldest first, without those a newer change of their slot
        outdated (their files stay unused in the folder). */
    std::vector<PadCopyResult> takeFinished();
    /** Results taken but not applied yet go back ahead of those that arrived meanwhile. */
    void putBack (std::vector<PadCopyResult> waiting);

private:
    // Pool thread: touches only its own files, and posts its result.
    void copy (int bank, int pad, std::uint64_t slotRevision, const juce::File& source) const;

    const juce::File assetFolder;
    const AfterCopy afterCopy;
    JobPool& pool;
    JobResults& results;
    std::array<std::uint64_t, numPads> revision {};
};
} // namespace vantrel
