// A save that a newer state replaced in the slot, while the worker prefers the newest (a quit).

#include "session/SaveQueue.h"

#include "session/CatalogStore.h"
#include "StateGenerator.h"
#include "StoreFixtures.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
/** A real store that holds the save of `heldSeed`'s state after its journal until released, and
    records the steps of every save with the seed of its state. */
class HeldStore : public CatalogStore
{
public:
    HeldStore (const juce::File& root, uint64_t heldSeedToUse) : CatalogStore (root), heldSeed (heldSeedToUse) {}

    void waitUntilHeld()
    {
        std::unique_lock<std::mutex> lock (mutex);
        condition.wait (lock, [this] { return held; });
    }

    void release()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        released = true;
        condition.notify_all();
    }

    std::vector<std::pair<uint64_t, SaveStep>> steps()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return recorded;
    }

protected:
    void saveStepDone (SaveStep step, const CatalogState& state) override
    {
        const auto seed = seedOf (state);
        std::unique_lock<std::mutex> lock (mutex);
        recorded.emplace_back (seed, step);

        if (seed == heldSeed && step == SaveStep::journalWritten)
        {
            held = true;
            condition.notify_all();
            condition.wait (lock, [this] { return released; });
        }
    }

private:
    const uint64_t heldSeed;
    std::mutex mutex;
    std::condition_variable condition;
    bool held = false, released = false;
    std::vector<std::pair<uint64_t, SaveStep>> recorded;

    /** The generated states carry their seed in every playlist's name. */
    static uint64_t seedOf (const CatalogState& state)
    {
        const auto& name = state.document.playlists.front().name;
        return std::stoull (name.substr (name.rfind (' ') + 1));
    }
};

using Step = CatalogStore::SaveStep;
} // namespace

TEST (SaveQueuePreferNewest, ARunningSaveMakesWayForTheNewerStateOnlyWhenAsked)
{
    const std::vector<Step> allSteps { Step::journalWritten, Step::splitFilesWritten, Step::snapshotWritten, Step::journalRemoved };

    for (const bool prefer : { false, true })
    {
        SCOPED_TRACE (prefer ? "prefer the newest" : "every save completes");
        TempFolder folder;
        HeldStore store (folder.path(), 1);
        SaveQueue queue (&store);
        queue.setPreferNewest (prefer);

        const auto older = generateState (1, 3, 40);
        const auto newer = generateState (2, 3, 40);
        queue.submit (older);
        store.waitUntilHeld();
        const auto newerTicket = queue.submit (newer);
        store.release();

        ASSERT_TRUE (queue.waitIdle());
        EXPECT_EQ (queue.lastResult(), StoreResult::success (juce::String::fromUTF8 ("自動保存済み")));
        EXPECT_EQ (queue.getLastSavedTicket(), newerTicket);

        std::vector<Step> olderSteps, newerSteps;
        for (const auto& [seed, step] : store.steps())
            (seed == 1 ? olderSteps : newerSteps).push_back (step);

        EXPECT_EQ (olderSteps, prefer ? std::vector<Step> { Step::journalWritten } : allSteps);
        EXPECT_EQ (newerSteps, allSteps);

        // What is on disk is the newer state, whole, as the next start-up finds it.
        CatalogStore fresh (folder.path());
        CatalogState loaded;
        ASSERT_TRUE (fresh.load (loaded).ok);
        EXPECT_EQ (loaded, newer);
        EXPECT_FALSE ((folder / "recovery/pending.json").exists());
    }
}
