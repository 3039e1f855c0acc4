#include "session/SaveQueue.h"

#include "session/CatalogStore.h"

#include "platform/ThreadContract.h"
#include "platform/ThreadName.h"

#include <exception>

namespace vantrel
{
SaveQueue::SaveQueue (CatalogStore* storeToUse)
    : store (storeToUse)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    worker = std::thread ([this] { platform::nameCurrentThread ("save worker"); run(); });
}

SaveQueue::~SaveQueue()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    {
        const std::lock_guard<std::mutex> lock (mutex);
        stopRequested = true;
    }

    condition.notify_all();

    if (worker.joinable())
        worker.join();
}

int64_t SaveQueue::submit (CatalogState state)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    std::optional<CatalogState> replaced;
    int64_t ticket = 0;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        replaced.swap (pending);
        pending.emplace (std::move (state));
        ticket = ++submittedCount;

        if (preferNewest && saving)
            store->setStopForNewerState (true);
    }

    condition.notify_all();
    return ticket;   // a replaced state is released here, outside the lock
}

bool SaveQueue::isBusy() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);
    return pending.has_value() || saving;
}

bool SaveQueue::waitIdle()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    std::unique_lock<std::mutex> lock (mutex);
    condition.wait (lock, [this] { return ! pending.has_value() && ! saving; });
    return lastOk;
}

StoreResult SaveQueue::lastResult() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);
    return { lastOk, lastMessage };
}

int64_t SaveQueue::getLastSavedTicket() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);
    return lastSavedTicket;
}

void SaveQueue::setPreferNewest (bool on)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const std::lock_guard<std::mutex> lock (mutex);
    preferNewest = on;
    store->setStopForNewerState (on && saving && pending.has_value());
}

StoreResult SaveQueue::saveCatchingExceptions (const CatalogState& state)
{
    try
    {
        return store->save (state);
    }
    catch (const std::exception& error)
    {
        return StoreResult::failure (juce::String::fromUTF8 (error.what()));
    }
    catch (...)
    {
        return StoreResult::failure (juce::String::fromUTF8 ("保存処理に失敗しました"));
    }
}

void SaveQueue::run()
{
    const ThreadRoleScope backgroundRole (ThreadRole::background);
    for (;;)
    {
        std::optional<CatalogState> taken;
        int64_t ticket = 0;

        {
            std::unique_lock<std::mutex> lock (mutex);
            condition.wait (lock, [this] { return pending.has_value() || stopRequested; });

            // A waiting state is saved even when stopping.
            if (! pending.has_value())
                return;

            taken.swap (pending);
            saving = true;
            ticket = submittedCount;
            store->setStopForNewerState (false);
            store->takeStoppedForNewerState();
        }

        const auto result = saveCatchingExceptions (*taken);

        {
            const std::lock_guard<std::mutex> lock (mutex);

            // A save that made way for a newer state reports nothing: the newer one follows.
            if (! (store->takeStoppedForNewerState() && pending.has_value()))
            {
                if (result.ok)
                    lastSavedTicket = ticket;

                lastOk = result.ok;
                lastMessage = result.message;
            }

            saving = false;
        }

        condition.notify_all();
    }
}
} // namespace vantrel
