// Parameter changes reach the processor and the saved state through the real worker, also with
// a plug-in that, like some plug-in frameworks, returns from a call without audio frames before
// reading the parameter changes it was given.
#include "ProbeClasses.h"
#include "WorkerHarness.h"

#include <gtest/gtest.h>

using namespace vsthost_test;
using probe::Kind;

namespace
{
std::string loadLine (Kind kind)
{
    return "LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (kind);
}

/** The probe's output for `input` is input x `factor`, sample for sample. */
::testing::AssertionResult playsAt (WorkerSession& worker, float factor, const std::string& tag)
{
    const auto input = testSignal (64, static_cast<std::uint32_t> (tag.size()));
    const auto block = worker.process (tag, 64, input);

    if (! block.ok)
        return ::testing::AssertionFailure() << "block failed: " << block.header;

    for (std::size_t i = 0; i < input.size(); ++i)
        if (block.samples[i] != input[i] * factor)
            return ::testing::AssertionFailure() << "sample " << i << " is " << block.samples[i] << ", not "
                                                 << input[i] * factor;

    return ::testing::AssertionSuccess();
}
} // namespace

TEST (WorkerParameterCarry, EveryChangeBeforeAFlushOrSaveIsInTheSavedStateAndIsHeard)
{
    // Gain 0.25 plays at 0.5; the probe starts at unity.
    struct Route
    {
        const char* name;
        std::vector<std::string> commands;   // after SET_PARAM, before SAVE_STATE
    };

    const std::vector<Route> routes {
        { "flush, then save", { "FLUSH_PARAMS" } },
        { "save alone", {} },
        { "bypassed block, then save", { "BYPASS\t1", "<block>", "BYPASS\t0" } },
        { "seek reset, then save", { "RESET_SEEK" } },
    };

    for (const auto kind : { Kind::skipsEmptyProcess, Kind::fxStereo })
        for (const auto& route : routes)
        {
            SCOPED_TRACE (probe::classIdText (kind) + ": " + route.name);
            WorkerSession worker;
            ASSERT_TRUE (worker.command (loadLine (kind)).ok());
            ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t64\trealtime").ok());
            ASSERT_TRUE (playsAt (worker, 1.0f, "unity"));
            ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.25").ok());

            for (const auto& command : route.commands)
            {
                const auto done = command == "<block>" ? worker.process ("bypassed", 64, testSignal (64)).ok
                                                       : worker.command (command).ok();
                ASSERT_TRUE (done) << command;
            }

            const auto saved = worker.command ("SAVE_STATE");
            ASSERT_TRUE (saved.ok()) << saved.final();
            EXPECT_TRUE (playsAt (worker, 0.5f, "same worker"));

            // A fresh worker loading the saved state plays with the change.
            WorkerSession fresh;
            ASSERT_TRUE (fresh.command (loadLine (kind)).ok());
            ASSERT_TRUE (fresh.command ("CONFIG\t48000\t2\t64\trealtime").ok());
            ASSERT_TRUE (fresh.command ("LOAD_STATE\t" + saved.final().substr (3)).ok());
            EXPECT_TRUE (playsAt (fresh, 0.5f, "fresh worker"));
        }
}

TEST (WorkerParameterCarry, ChangesWaitingForAudioAreNotLostOrRepeatedLate)
{
    // Changes given to the plug-in only in calls without frames go again with the next audio
    // block; once a block has carried them they are not sent again, so a later edit wins.
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::skipsEmptyProcess)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t64\trealtime").ok());
    ASSERT_TRUE (worker.command ("BYPASS\t1").ok());
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.25").ok());
    ASSERT_TRUE (worker.process ("bypassed 1", 64, testSignal (64)).ok);
    ASSERT_TRUE (worker.command ("SET_PARAM\t1\t0").ok());
    ASSERT_TRUE (worker.process ("bypassed 2", 64, testSignal (64)).ok);
    ASSERT_TRUE (worker.command ("BYPASS\t0").ok());
    EXPECT_TRUE (playsAt (worker, 0.5f, "carried"));

    std::string carrying;

    for (const auto& line : worker.probeLog())
        if (line.rfind ("process frames=64", 0) == 0)
            carrying = line;

    EXPECT_NE (carrying.find ("changes=0:0.25@0,1:0@0,"), std::string::npos) << carrying;
    EXPECT_TRUE (playsAt (worker, 0.5f, "after"));
    EXPECT_NE (worker.probeLog().back().find ("changes= "), std::string::npos) << worker.probeLog().back();
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.375").ok());
    EXPECT_TRUE (playsAt (worker, 0.75f, "later edit"));
}
