#include "session/SaveQueue.h"

#include "session/CatalogStore.h"
#include "StateGenerator.h"
#include "StoreFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace vantrel;
using namespace vantrel::testing;

namespace
{
/** A state named by a number, for stores that only record what they were given. */
CatalogState numbered (int n)
{
    CatalogState state;
    state.document.current = std::to_string (n);
    return state;
}

int numberOf (const CatalogState& state)  { return std::stoi (state.document.current); }

/** A store that records the states it is asked to save, can be held inside a save by a latch,
    and answers or throws as scripted. Never touches a file. */
class ScriptedStore : public CatalogStore
{
public:
    enum class Answer { succeed, fail, throwStandard, throwOther };

    ScriptedStore() : CatalogStore (juce::File ("/nonexistent-vantrel-root")) {}

    StoreResult save (const CatalogState& state) override
    {
        std::unique_lock<std::mutex> lock (mutex);
        saved.push_back (numberOf (state));
        ++entered;
        changed.notify_all();
        changed.wait (lock, [this] { return ! held; });

        const auto answer = answers.empty() ? Answer::succeed : answers.front();
        if (! answers.empty())
            answers.erase (answers.begin());

        switch (answer)
        {
            case Answer::fail:          return StoreResult::failure ("disk unhappy");
            case Answer::throwStandard: throw std::runtime_error ("\xe4\xbe\x8b\xe5\xa4\x96: disk exploded");
            case Answer::throwOther:    throw 42;
            case Answer::succeed:       break;
        }

        return StoreResult::success (ja ("自動保存済み"));
    }

    void hold()     { const std::lock_guard<std::mutex> lock (mutex); held = true; }
    void release()  { { const std::lock_guard<std::mutex> lock (mutex); held = false; } changed.notify_all(); }

    void waitUntilEntered (int count)
    {
        std::unique_lock<std::mutex> lock (mutex);
        changed.wait (lock, [&] { return entered >= count; });
    }

    void script (std::vector<Answer> next)  { const std::lock_guard<std::mutex> lock (mutex); answers = std::move (next); }

    std::vector<int> savedNumbers()  { const std::lock_guard<std::mutex> lock (mutex); return saved; }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    int entered = 0;
    std::vector<int> saved;
    std::vector<Answer> answers;
};
} // namespace

TEST (SaveQueue, SubmitsDuringASlowSaveCoalesceIntoOneFurtherSaveOfTheNewestState)
{
    ScriptedStore store;
    SaveQueue queue (&store);
    store.hold();

    EXPECT_EQ (queue.submit (numbered (1)), 1);
    store.waitUntilEntered (1);

    EXPECT_EQ (queue.submit (numbered (2)), 2);
    EXPECT_EQ (queue.submit (numbered (3)), 3);
    EXPECT_EQ (queue.submit (numbered (4)), 4);
    EXPECT_TRUE (queue.isBusy());
    EXPECT_EQ (queue.getLastSavedTicket(), 0);

    store.release();
    EXPECT_TRUE (queue.waitIdle());
    EXPECT_FALSE (queue.isBusy());
    EXPECT_EQ (store.savedNumbers(), (std::vector<int> { 1, 4 }));
    EXPECT_EQ (queue.getLastSavedTicket(), 4);
    EXPECT_EQ (queue.lastResult(), StoreResult::success (ja ("自動保存済み")));
}

TEST (SaveQueue, WaitIdleWithNothingSubmittedAnswersTheInitialSuccess)
{
    ScriptedStore store;
    SaveQueue queue (&store);

    EXPECT_TRUE (queue.waitIdle());
    EXPECT_FALSE (queue.isBusy());
    EXPECT_EQ (queue.lastResult(), StoreResult::success());
    EXPECT_EQ (queue.getLastSavedTicket(), 0);
    EXPECT_TRUE (store.savedNumbers().empty());
}

TEST (SaveQueue, WaitIdleReturnsOnlyAfterTheSubmittedSaveFinished)
{
    ScriptedStore store;
    SaveQueue queue (&store);
    store.hold();
    store.script ({ ScriptedStore::Answer::fail });
    queue.submit (numbered (1));

    std::atomic<bool> returned { false };
    std::atomic<bool> answer { true };
    std::thread waiter ([&] { answer = queue.waitIdle(); returned = true; });

    store.waitUntilEntered (1);
    EXPECT_FALSE (returned.load());   // the save is held: waitIdle cannot have returned
    store.release();
    waiter.join();

    EXPECT_TRUE (returned.load());
    EXPECT_FALSE (answer.load());
    EXPECT_EQ (queue.lastResult(), StoreResult::failure ("disk unhappy"));
}

TEST (SaveQueue, FailuresAndExceptionsAreReportedAndTheWorkerCarriesOn)
{
    struct Case
    {
        ScriptedStore::Answer answer;
        juce::String message;
    };

    const std::vector<Case> cases {
        { ScriptedStore::Answer::fail, "disk unhappy" },
        { ScriptedStore::Answer::throwStandard, juce::String::fromUTF8 ("\xe4\xbe\x8b\xe5\xa4\x96: disk exploded") },
        { ScriptedStore::Answer::throwOther, ja ("保存処理に失敗しました") },
    };

    ScriptedStore store;
    SaveQueue queue (&store);
    int ticket = 0;

    for (const auto& c : cases)
    {
        store.script ({ c.answer });
        ticket = static_cast<int> (queue.submit (numbered (ticket + 1)));
        EXPECT_FALSE (queue.waitIdle());
        EXPECT_EQ (queue.lastResult(), StoreResult::failure (c.message));
        EXPECT_EQ (queue.getLastSavedTicket(), ticket - 1) << "a failed save leaves the ticket where it was";

        ticket = static_cast<int> (queue.submit (numbered (ticket + 1)));
        EXPECT_TRUE (queue.waitIdle());
        EXPECT_EQ (queue.lastResult(), StoreResult::success (ja ("自動保存済み")));
        EXPECT_EQ (queue.getLastSavedTicket(), ticket);
    }

    EXPECT_EQ (store.savedNumbers(), (std::vector<int> { 1, 2, 3, 4, 5, 6 }));
}

TEST (SaveQueue, DestructionSavesTheWaitingStateAndFinishesTheRunningOne)
{
    ScriptedStore store;
    auto queue = std::make_unique<SaveQueue> (&store);
    store.hold();
    queue->submit (numbered (1));
    store.waitUntilEntered (1);
    queue->submit (numbered (2));

    std::thread destroyer ([&] { queue.reset(); });
    store.release();
    destroyer.join();

    EXPECT_EQ (store.savedNumbers(), (std::vector<int> { 1, 2 }));
}

TEST (SaveQueue, SavesThroughARealStoreAndLoadsTheNewestState)
{
    TempFolder folder;
    CatalogStore store (folder.path());
    CatalogState loaded;
    ASSERT_TRUE (store.load (loaded).ok);

    {
        SaveQueue queue (&store);
        for (uint64_t seed = 1; seed <= 5; ++seed)
            queue.submit (generateState (seed));

        EXPECT_TRUE (queue.waitIdle());
        EXPECT_EQ (queue.getLastSavedTicket(), 5);
        EXPECT_EQ (queue.lastResult(), StoreResult::success (ja ("自動保存済み")));
        queue.submit (generateState (6));
    }   // the destructor saves the sixth state

    CatalogStore next (folder.path());
    ASSERT_TRUE (next.load (loaded).ok);
    EXPECT_EQ (loaded, generateState (6));
}

// Random submits, waits and reads from several threads; run it under ThreadSanitizer.
TEST (SaveQueue, StressOfSubmitsWaitsAndReads)
{
    ScriptedStore store;
    SaveQueue queue (&store);
    constexpr int submits = 3000;
    std::atomic<bool> done { false };

    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back ([&]
        {
            int64_t lastSeen = 0;
            while (! done.load())
            {
                const auto ticket = queue.getLastSavedTicket();
                EXPECT_GE (ticket, lastSeen);   // never goes back
                lastSeen = ticket;
                queue.isBusy();
                queue.lastResult();
            }
        });

    std::mt19937 random (1234);
    for (int n = 1; n <= submits; ++n)
    {
        EXPECT_EQ (queue.submit (numbered (n)), n);

        if (random() % 97 == 0)
        {
            EXPECT_TRUE (queue.waitIdle());
        }
    }

    EXPECT_TRUE (queue.waitIdle());
    done = true;
    for (auto& reader : readers)
        reader.join();

    const auto saved = store.savedNumbers();
    ASSERT_FALSE (saved.empty());
    EXPECT_EQ (saved.back(), submits);
    EXPECT_LE (saved.size(), static_cast<size_t> (submits));
    EXPECT_TRUE (std::is_sorted (saved.begin(), saved.end()));
    EXPECT_EQ (std::adjacent_find (saved.begin(), saved.end()), saved.end());
    EXPECT_EQ (queue.getLastSavedTicket(), submits);
}
