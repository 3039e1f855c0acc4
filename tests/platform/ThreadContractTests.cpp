// An object that belongs to one thread: the first thread that checks owns it, any other thread's
// check fails until the object is handed over; a copy starts without an owner. Checked builds
// stop at a failed check with the broken contract and the caller's role.
#include "platform/ThreadContract.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
using namespace vantrel;

#if VANTREL_THREAD_CHECKS
bool checkedOnAnotherThread (const ThreadOwnerCheck& check)
{
    bool owner = true;
    std::thread other ([&] { owner = check.isOwnerThread(); });
    other.join();
    return owner;
}

TEST (ThreadContracts, TheFirstThreadToCheckOwnsTheObjectUntilItIsHandedOver)
{
    ThreadOwnerCheck check;
    EXPECT_TRUE (check.isOwnerThread());
    EXPECT_TRUE (check.isOwnerThread());
    EXPECT_FALSE (checkedOnAnotherThread (check));

    const ThreadOwnerCheck copy (check);
    EXPECT_TRUE (checkedOnAnotherThread (copy)) << "a copy has no owner yet";
    EXPECT_FALSE (copy.isOwnerThread());

    check.release();
    EXPECT_TRUE (checkedOnAnotherThread (check));
    EXPECT_FALSE (check.isOwnerThread());
}

void ownedEntry (const ThreadOwnerCheck& check)
{
    VANTREL_ASSERT_OWNER_THREAD (check, "analyser thread");
}

void messageEntry()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
}

TEST (ThreadContracts, ABrokenContractStopsWithTheEntryTheExpectedThreadAndTheCallersRole)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_DEATH (
        {
            ThreadOwnerCheck check;
            ownedEntry (check);
            std::thread other ([&] {
                const ThreadRoleScope role (ThreadRole::background);
                ownedEntry (check);
            });
            other.join();
        },
        "ownedEntry must run on the analyser thread, called on the background thread");
    EXPECT_DEATH (
        {
            const ThreadRoleScope role (ThreadRole::background);
            messageEntry();
        },
        "messageEntry must run on the message thread, called on the background thread");
}
#endif
} // namespace
