#pragma once

#include "session/CopyTransaction.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel
{
/** A finished pad copy, posted by a pool job and applied by the tick. */
struct PadCopyResult
{
    int bank = 0;
    int pad = 0;
    std::uint64_t revision = 0;
    std::string asset;     // the new file name under pad/assets; empty on failure
    std::string label;     // the source file name without its extension
    juce::String error;    // empty on success
    bool deferred = false; // the pad could not be edited when the result first arrived
};

/** What the pool jobs hand back to the message thread: finished pad copies and finished library
    copies, each list in the order of arrival. The one state of the coordinator that two threads
    share; every method takes the lock. Any thread. */
class JobResults
{
public:
    JobResults() = default;
    JobResults (const JobResults&) = delete;
    JobResults& operator= (const JobResults&) = delete;

    void postPadCopy (PadCopyResult result);
    /** Every pad copy posted so far, oldest first; the list is empty afterwards. */
    std::vector<PadCopyResult> takePadCopies();
    /** Pad copies taken but not applied yet go back ahead of those that arrived meanwhile. */
    void putBackPadCopies (std::vector<PadCopyResult> waiting);

    void postLibraryCopy (CopyResult result);
    /** Appends every library copy posted so far to `into`; the list is empty afterwards. */
    void takeLibraryCopies (std::vector<CopyResult>& into);
    std::size_t postedLibraryCopies() const;

private:
    mutable std::mutex mutex;
    std::vector<PadCopyResult> padCopies;
    std::vector<CopyResult> libraryCopies;
};
} // namespace vantrel
