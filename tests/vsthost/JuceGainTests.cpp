// The JUCE test plug-in through the real worker: what a real-world VST3 built with JUCE's
// wrapper looks like to the worker (separate controller class, hashed parameter ids, its own
// state format, a reported latency).
#include "WorkerHarness.h"

#include <gtest/gtest.h>

using namespace vsthost_test;

namespace
{
// JUCE declares its class id from two fixed words and the manufacturer and plug-in codes:
// "Orvt" and "Ogn1" as bytes.
const std::string gainClassId = "ABCDEF019182FAEB" "4F727674" "4F676E31";

std::vector<float> scaled (std::vector<float> samples, float factor)
{
    for (auto& sample : samples)
        sample *= factor;

    return samples;
}

std::string gainParameterId (WorkerSession& worker)
{
    for (const auto& line : worker.command ("PARAMS").lines)
    {
        const auto fields = tabFields (line);

        if (fields.size() == 7 && fields[0] == "PARAM" && fields[2] == "Gain")
            return fields[1];
    }

    return "<none>";
}
} // namespace

TEST (JuceGainPlugin, ScanListsOnlyTheProcessorClassWithItsDeclaredId)
{
    WorkerSession worker;
    const auto reply = worker.command ("SCAN_VST3\t" + gainBundle());
    ASSERT_EQ (reply.lines.size(), 2u) << reply.final();
    const auto fields = tabFields (reply.lines[0]);
    ASSERT_EQ (fields.size(), 6u);
    EXPECT_EQ (fields[1], gainClassId);
    EXPECT_EQ (fields[2], "OrvaneTestGain");
    EXPECT_EQ (fields[3], "Orvane Test");
    EXPECT_EQ (fields[5], "Fx|Dynamics");
    EXPECT_EQ (reply.final(), "OK\t1");
}

TEST (JuceGainPlugin, LoadsConfiguresInEveryModeAndProcessesExactly)
{
    WorkerSession worker;
    EXPECT_EQ (worker.command ("LOAD_VST3\t" + gainBundle() + "\t" + gainClassId).final(), "OK\t" + gainClassId);

    const auto info = worker.command ("INFO").fields();
    ASSERT_EQ (info.size(), 8u);
    EXPECT_EQ (info[1], gainClassId);
    EXPECT_EQ (info[5], "128");
    EXPECT_EQ (info[7], "0");
    EXPECT_EQ (worker.command ("LIVE_STATUS").fields()[3], "128");

    for (const auto* mode : { "\toffline", "", "\tprefetch", "\trealtime" })
        EXPECT_TRUE (worker.command (std::string ("CONFIG\t48000\t2\t512") + mode).ok()) << mode;

    const auto input = testSignal (512);
    auto block = worker.process ("0", 512, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, input);

    const auto gainId = gainParameterId (worker);
    ASSERT_TRUE (worker.command ("SET_PARAM\t" + gainId + "\t0.25").ok());
    block = worker.process ("1", 512, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, scaled (input, 0.5f));

    // A buffer longer than the block size, split in chunks, still exact.
    const auto longInput = testSignal (1500, 2);
    block = worker.process ("2", 1500, longInput);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, scaled (longInput, 0.5f));

    EXPECT_TRUE (worker.command ("RESET_SEEK").ok());
    EXPECT_TRUE (worker.command ("BYPASS\t1").ok());
    EXPECT_EQ (worker.process ("3", 512, input).samples, input);
    EXPECT_EQ (worker.finish().exitCode, 0);
}

TEST (JuceGainPlugin, SavedStateRestoresTheGainInAFreshWorker)
{
    std::string state;
    const auto input = testSignal (256, 4);

    {
        WorkerSession worker;
        ASSERT_TRUE (worker.command ("LOAD_VST3\t" + gainBundle() + "\t" + gainClassId).ok());
        ASSERT_TRUE (worker.command ("CONFIG\t44100\t2\t256\trealtime").ok());
        ASSERT_TRUE (worker.command ("SET_PARAM\t" + gainParameterId (worker) + "\t0.75").ok());
        const auto reply = worker.command ("SAVE_STATE");
        ASSERT_TRUE (reply.ok()) << reply.final();
        state = reply.final().substr (3);
        EXPECT_EQ (worker.process ("a", 256, input).samples, scaled (input, 1.5f));
    }

    WorkerSession fresh;
    ASSERT_TRUE (fresh.command ("LOAD_VST3\t" + gainBundle() + "\t" + gainClassId).ok());
    ASSERT_TRUE (fresh.command ("CONFIG\t44100\t2\t256\trealtime").ok());
    EXPECT_EQ (fresh.process ("b", 256, input).samples, input);
    ASSERT_TRUE (fresh.command ("LOAD_STATE\t" + state).ok());
    const auto block = fresh.process ("c", 256, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, scaled (input, 1.5f));
    EXPECT_EQ (fresh.finish().exitCode, 0);
}
