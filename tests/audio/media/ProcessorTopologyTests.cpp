// Counting cores and logical processors, the worker-count rule, and below-normal priority of
// the media threads.

#include "support/AudioTestSupport.h"
#include "audio/media/HelperThread.h"
#include "audio/media/ProcessorTopology.h"
#include "platform/BelowNormalPriority.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <thread>

namespace vantrel
{
namespace
{
using platform::CoreIdentity;
using Identities = std::map<int, CoreIdentity>;

ProcessorTopology countWith (const std::vector<int>& allowed, const Identities& identities)
{
    return countProcessorTopology (allowed, [&identities] (int cpu) -> std::optional<CoreIdentity>
    {
        const auto found = identities.find (cpu);
        if (found == identities.end())
            return std::nullopt;
        return found->second;
    });
}

TEST (ProcessorTopology, CountsDistinctCoresAmongAllowedProcessors)
{
    // Four cores with two hardware threads each: cpu n and n + 4 share core n.
    Identities smt;
    for (int cpu = 0; cpu < 8; ++cpu)
        smt[cpu] = { 0, cpu % 4 };

    EXPECT_EQ (countWith ({ 0, 1, 2, 3, 4, 5, 6, 7 }, smt), (ProcessorTopology { 4, 8 }));
    EXPECT_EQ (countWith ({ 0, 4 }, smt), (ProcessorTopology { 1, 2 }));        // affinity: one core
    EXPECT_EQ (countWith ({ 1, 2, 5 }, smt), (ProcessorTopology { 2, 3 }));

    // Two packages whose core numbers repeat.
    Identities twoPackages { { 0, { 0, 0 } }, { 1, { 0, 1 } }, { 2, { 1, 0 } }, { 3, { 1, 1 } } };
    EXPECT_EQ (countWith ({ 0, 1, 2, 3 }, twoPackages), (ProcessorTopology { 4, 4 }));
}

TEST (ProcessorTopology, UnknownOrOutsideTheFirstGroupGivesOneAndOne)
{
    Identities identities;
    for (int cpu = 0; cpu < 130; ++cpu)
        identities[cpu] = { 0, cpu };

    EXPECT_EQ (countWith ({}, identities), (ProcessorTopology { 1, 1 }));
    EXPECT_EQ (countWith ({ 64, 65, 100 }, identities), (ProcessorTopology { 1, 1 }));
    EXPECT_EQ (countWith ({ 3, 64, 65 }, identities), (ProcessorTopology { 1, 1 }));
    EXPECT_EQ (countWith ({ 2, 3, 64, 65 }, identities), (ProcessorTopology { 2, 2 }));
    EXPECT_EQ (countWith ({ 0, 1, 200 }, identities), (ProcessorTopology { 2, 2 }));

    Identities gap = identities;
    gap.erase (2);   // one processor's topology cannot be read
    EXPECT_EQ (countWith ({ 0, 1, 2, 3 }, gap), (ProcessorTopology { 1, 1 }));
}

TEST (ProcessorTopology, ReadsCoreIdentitiesFromATopologyFolder)
{
    orvane::audio::testing::TempFolder root;
    const auto write = [&root] (int cpu, const char* file, const char* text)
    {
        auto target = root.path().getChildFile ("cpu" + juce::String (cpu)).getChildFile ("topology").getChildFile (file);
        ASSERT_TRUE (target.getParentDirectory().createDirectory());
        ASSERT_TRUE (target.replaceWithText (text));
    };
    write (0, "physical_package_id", "0\n");
    write (0, "core_id", "3\n");
    write (1, "physical_package_id", "1\n");
    write (1, "core_id", "garbage\n");
    write (2, "core_id", "0\n");   // no package file

    const auto folder = root.path().getFullPathName().toStdString();
    EXPECT_EQ (platform::readCoreIdentity (folder, 0), (CoreIdentity { 0, 3 }));
    EXPECT_FALSE (platform::readCoreIdentity (folder, 1).has_value());
    EXPECT_FALSE (platform::readCoreIdentity (folder, 2).has_value());
    EXPECT_FALSE (platform::readCoreIdentity (folder, 7).has_value());
}

TEST (ProcessorTopology, ThisMachineIsCountedOnceAndConsistently)
{
    const auto allowed = platform::allowedProcessors();
    ASSERT_FALSE (allowed.empty());
    EXPECT_TRUE (std::is_sorted (allowed.begin(), allowed.end()));

    const auto topology = queryProcessorTopology();
    EXPECT_GE (topology.cores, 1);
    EXPECT_GE (topology.logicalProcessors, topology.cores);
    EXPECT_LE (topology.logicalProcessors, (int) std::max<std::size_t> (1, allowed.size()));
    EXPECT_EQ (processorTopology(), topology);
    EXPECT_EQ (processorTopology(), processorTopology());
}

TEST (ProcessorTopology, TwoWorkersOnlyForLongAudioOnEnoughProcessors)
{
    const ProcessorTopology big { 4, 8 };
    EXPECT_EQ (resampleWorkerCount (big, 6 * 48000, 48000.0), 2);
    EXPECT_EQ (resampleWorkerCount (big, 5 * 48000, 48000.0), 2);
    EXPECT_EQ (resampleWorkerCount (big, 5 * 48000 - 1, 48000.0), 1);
    EXPECT_EQ (resampleWorkerCount (big, 4 * 44100, 44100.0), 1);
    EXPECT_EQ (resampleWorkerCount (big, 6 * 48000, 0.0), 1);
    EXPECT_EQ (resampleWorkerCount (big, 6 * 48000, std::nan ("")), 1);
    EXPECT_EQ (resampleWorkerCount ({ 1, 1 }, 600 * 48000, 48000.0), 1);
    EXPECT_EQ (resampleWorkerCount ({ 4, 3 }, 600 * 48000, 48000.0), 1);
    EXPECT_EQ (resampleWorkerCount ({ 3, 6 }, 600 * 48000, 48000.0), 1);
    EXPECT_EQ (resampleWorkerCount ({ 4, 4 }, 600 * 48000, 48000.0), 2);
}

TEST (BelowNormalPriority, WorkerThreadsRunFourNiceStepsBelowTheProcess)
{
    const int own = platform::currentThreadNice();
    const int expected = std::min (19, own + platform::belowNormalNiceOffset);

    int lowered = -100;
    int again = -100;
    int helperOfLowered = -100;
    std::thread worker ([&]
    {
        EXPECT_TRUE (platform::setBelowNormalPriority());
        lowered = platform::currentThreadNice();
        EXPECT_TRUE (platform::setBelowNormalPriority());
        again = platform::currentThreadNice();
        // A helper started by a lowered thread is not lowered twice.
        runWithHelperThread ([&] { helperOfLowered = platform::currentThreadNice(); }, [] {});
    });
    worker.join();

    EXPECT_EQ (lowered, expected);
    EXPECT_EQ (again, expected);
    EXPECT_EQ (helperOfLowered, expected);
    EXPECT_EQ (platform::currentThreadNice(), own);   // the caller keeps its priority
}

TEST (HelperThread, FailuresComeBackToTheCallerAfterTheJoin)
{
    bool helperRan = false;
    EXPECT_THROW (runWithHelperThread ([&] { helperRan = true; throw std::logic_error ("helper"); }, [] {}), std::logic_error);
    EXPECT_TRUE (helperRan);

    // The caller's own failure wins, and the helper has finished when it arrives.
    std::atomic<bool> helperDone { false };
    std::promise<void> callerFailing;
    auto callerFailed = callerFailing.get_future();
    try
    {
        runWithHelperThread ([&]
                             {
                                 callerFailed.wait();   // the caller is already unwinding
                                 for (int i = 0; i < 1000; ++i)
                                     std::this_thread::yield();
                                 helperDone = true;
                             },
                             [&]
                             {
                                 callerFailing.set_value();
                                 throw std::runtime_error ("own");
                             });
        ADD_FAILURE() << "no exception";
    }
    catch (const std::runtime_error& failure)
    {
        EXPECT_STREQ (failure.what(), "own");
        EXPECT_TRUE (helperDone.load());
    }
}
} // namespace
} // namespace vantrel
