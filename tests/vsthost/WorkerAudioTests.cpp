// Configuration and audio through the real worker with the probe classes: the negotiation
// table, sample-exact output, block splitting, the process context, bypass, seek reset and the
// payload framing.
#include "ProbeClasses.h"
#include "WorkerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace vsthost_test;
using probe::Kind;

namespace
{
std::string loadLine (Kind kind)
{
    return "LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (kind);
}

std::vector<std::string> linesStartingWith (const std::vector<std::string>& log, const std::string& start)
{
    std::vector<std::string> found;

    for (const auto& line : log)
        if (line.rfind (start, 0) == 0)
            found.push_back (line);

    return found;
}

std::vector<float> scaled (std::vector<float> samples, float factor)
{
    for (auto& sample : samples)
        sample *= factor;

    return samples;
}
} // namespace

TEST (WorkerConfig, RequestedConfigurationsAreCheckedInOrder)
{
    struct ConfigCase
    {
        std::string fields;
        std::string reply;
    };

    const std::vector<ConfigCase> cases {
        { "8000\t2\t1", "OK" },
        { "384000\t2\t1048576\toffline", "OK" },
        { "7999.9\t2\t512", "ERR\tinvalid sample rate" },
        { "384000.1\t2\t512", "ERR\tinvalid sample rate" },
        { "nan\t2\t512", "ERR\tinvalid sample rate" },
        { "inf\t2\t512", "ERR\tinvalid sample rate" },
        { "48000\t1\t512", "ERR\tVST3 Gate2.2 supports stereo only" },
        { "48000\t3\t512", "ERR\tVST3 Gate2.2 supports stereo only" },
        { "48000\t4294967298\t512", "ERR\tstoul argument out of range" },
        { "48000\t2\t0", "ERR\tinvalid block size" },
        { "48000\t2\t1048577", "ERR\tinvalid block size" },
    };

    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());

    for (const auto& c : cases)
        EXPECT_EQ (worker.command ("CONFIG\t" + c.fields).final(), c.reply) << c.fields;
}

TEST (WorkerConfig, BusAndPrefetchNegotiationPerClass)
{
    struct ClassCase
    {
        Kind kind;
        std::string mode;
        std::string reply;
    };

    const std::vector<ClassCase> cases {
        { Kind::sideChain, "realtime", "ERR\tinitial Orvane VST3 scope requires exactly one audio input/output bus" },
        { Kind::monoRefuses, "realtime", "ERR\tplug-in rejected stereo bus arrangement" },
        { Kind::monoLiar, "realtime", "ERR\teffective bus arrangement is not stereo" },
        { Kind::notPrefetchable, "prefetch", "ERR\tplug-in is not currently prefetchable" },
        { Kind::notPrefetchable, "realtime", "OK" },
        { Kind::neverPrefetchable, "", "ERR\tplug-in is never prefetchable" },
        { Kind::neverPrefetchable, "offline", "OK" },
        { Kind::fxStereo, "prefetch", "OK" },
        { Kind::setProcessingNotImpl, "realtime", "OK" },
    };

    for (const auto& c : cases)
    {
        WorkerSession worker;
        ASSERT_TRUE (worker.command (loadLine (c.kind)).ok());
        const auto line = "CONFIG\t48000\t2\t512" + (c.mode.empty() ? std::string() : "\t" + c.mode);
        EXPECT_EQ (worker.command (line).final(), c.reply) << probe::classIdText (c.kind) << " " << c.mode;

        // The prefetch state is asked only in prefetch mode.
        const auto asked = ! linesStartingWith (worker.probeLog(), "getPrefetchableSupport").empty();
        EXPECT_EQ (asked, (c.kind == Kind::notPrefetchable || c.kind == Kind::neverPrefetchable) && c.mode != "realtime" && c.mode != "offline")
            << probe::classIdText (c.kind) << " " << c.mode;

        // A failed configuration leaves nothing to process with.
        const auto block = worker.process ("1", 16, testSignal (16));
        EXPECT_EQ (block.ok, c.reply == "OK") << block.header;

        if (c.reply != "OK")
        {
            EXPECT_EQ (block.header, "ERR\tVST3 backend not configured");
        }
    }
}

TEST (WorkerAudio, OutputIsExactlyTheInputTimesTheGain)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());

    const auto input = testSignal (512);
    auto block = worker.process ("0", 512, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, input);

    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.25").ok());
    block = worker.process ("1", 512, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, scaled (input, 0.5f));

    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t1").ok());
    block = worker.process ("18446744073709551615", 512, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, scaled (input, 2.0f));
}

TEST (WorkerAudio, LongBuffersAreSplitAndTheTimelineAdvances)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t44100\t2\t512\toffline").ok());

    const auto input = testSignal (1500, 3);
    const auto block = worker.process ("long", 1500, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.header, "BINARY\tlong\t12000");
    EXPECT_EQ (block.samples, input);

    // Continuous time, transport and tempo asked for: time valid and playing, never a tempo.
    const auto processes = linesStartingWith (worker.probeLog(), "process frames=");
    const std::vector<std::string> expected {
        "process frames=512 mode=2 pos=0 cont=0 state=131074 tempo=0 rate=44100 changes= thread=other",
        "process frames=512 mode=2 pos=512 cont=512 state=131074 tempo=0 rate=44100 changes= thread=other",
        "process frames=476 mode=2 pos=1024 cont=1024 state=131074 tempo=0 rate=44100 changes= thread=other",
    };
    EXPECT_EQ (processes, expected);
    EXPECT_EQ (linesStartingWith (worker.probeLog(), "setupProcessing"),
               (std::vector<std::string> { "setupProcessing mode=2 max=512 rate=44100 thread=ui" }));

    // The seek reset returns the timeline to 0.
    ASSERT_TRUE (worker.command ("RESET_SEEK").ok());
    ASSERT_TRUE (worker.process ("again", 100, testSignal (100)).ok);
    EXPECT_EQ (linesStartingWith (worker.probeLog(), "process frames=").back(),
               "process frames=100 mode=2 pos=0 cont=0 state=131074 tempo=0 rate=44100 changes= thread=other");
}

TEST (WorkerAudio, BypassPassesTheInputAndHoldsTheTimeline)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t256\trealtime").ok());
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.25").ok());
    ASSERT_TRUE (worker.process ("a", 256, testSignal (256)).ok);

    ASSERT_TRUE (worker.command ("BYPASS\t1").ok());
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.125").ok());
    const auto input = testSignal (256, 9);
    const auto bypassed = worker.process ("b", 256, input);
    ASSERT_TRUE (bypassed.ok);
    EXPECT_EQ (bypassed.samples, input);

    ASSERT_TRUE (worker.command ("BYPASS\t0").ok());
    const auto processed = worker.process ("c", 256, input);
    ASSERT_TRUE (processed.ok);
    EXPECT_EQ (processed.samples, scaled (input, 0.25f));

    // The bypassed block delivered the edit without audio and without advancing the timeline.
    const auto processes = linesStartingWith (worker.probeLog(), "process frames=");
    ASSERT_EQ (processes.size(), 3u);
    EXPECT_EQ (processes[1], "process frames=0 mode=0 changes=0:0.125@0, thread=other");
    EXPECT_NE (processes[2].find ("pos=256 "), std::string::npos);
}

TEST (WorkerAudio, FailuresAnswerAndTheConversationStaysInStep)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    EXPECT_EQ (worker.process ("x", 8, testSignal (8)).header, "ERR\tVST3 backend not configured");
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());

    // Three channels while two are configured: the payload is read, then refused.
    const auto three = worker.process ("3ch", 4, std::vector<float> (12, 0.5f), 3);
    EXPECT_EQ (three.header, "ERR\tinvalid process buffer shape");
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");

    // Sizes that overflow 32 bits, and an empty file claiming 2^31 frames.
    EXPECT_EQ (worker.command ("PROCESS_F32_BUFFER\tt\t2147483648\t2\t0").final(), "ERR\tinvalid process buffer size");
    EXPECT_EQ (worker.command ("PROCESS_F32_BUFFER\tt\t0\t2\t0").final(), "ERR\tinvalid process buffer shape");
    const auto empty = worker.folder().file ("empty.f32");
    std::ofstream (empty, std::ios::binary).flush();
    EXPECT_EQ (worker.command ("PROCESS_F32_FILE\t" + empty + "\t" + worker.folder().file ("out.f32") + "\t2147483648\t2").final(),
               "ERR\tinvalid process buffer shape");

    // The largest payload is read.
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t4096\trealtime").ok());
    const auto largest = testSignal (1048576);
    const auto big = worker.process ("big", 1048576, largest);
    ASSERT_TRUE (big.ok) << big.header;
    EXPECT_EQ (big.samples, largest);

    // A refused payload is read and dropped: its bytes are never taken for command lines.
    std::string lines;

    for (int i = 0; i < 8; ++i)
        lines += "PING\n";

    worker.send ("PROCESS_F32_BUFFER\tp\t4\t2\t40\n" + lines);
    EXPECT_EQ (worker.readLine(), "ERR\tinvalid process buffer size");
    EXPECT_EQ (worker.command ("LIVE_STATUS").fields().front(), "OK");

    // A payload cut short by the end of input.
    worker.send ("PROCESS_F32_BUFFER\tcut\t4\t2\t32\n" + std::string (10, '\0'));
    EXPECT_EQ (worker.finish().exitCode, 0);
    EXPECT_EQ (worker.readLine(), "ERR\tprocess buffer truncated");
}

TEST (WorkerAudio, PluginFailuresInProcessAreReported)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::processFails)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());
    EXPECT_EQ (worker.process ("f", 64, testSignal (64)).header, "ERR\tVST3 process failed");
    EXPECT_TRUE (worker.command ("FLUSH_PARAMS").ok());   // nothing pending: the plug-in is not called
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.3").ok());
    EXPECT_EQ (worker.command ("FLUSH_PARAMS").error(), "VST3 parameter flush failed");
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
}

TEST (WorkerAudio, SetProcessingNotImplementedStillProcesses)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::setProcessingNotImpl)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());
    const auto input = testSignal (32);
    const auto block = worker.process ("n", 32, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, input);
    EXPECT_TRUE (worker.command ("RESET_SEEK").ok());
}

TEST (WorkerAudio, ACrashingPluginEndsTheWorkerBySignal)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::crashInProcess)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());
    EXPECT_EQ (worker.process ("boom", 64, testSignal (64)).header, "<eof>");
    const auto exit = worker.waitForExit();
    ASSERT_TRUE (exit.ended);
    EXPECT_FALSE (exit.exited);
}

TEST (WorkerAudio, AfterAFailedLoadABlockIsRefusedAndItsPayloadDropped)
{
    WorkerSession worker;
    EXPECT_EQ (worker.command ("LOAD_VST3\t" + probeBundle() + "\t00000000000000000000000000000000").final().rfind ("ERR\t", 0), 0u);

    // Blocks of samples, and a payload that reads like command lines ending just before a QUIT.
    EXPECT_EQ (worker.process ("1", 512, testSignal (512)).header, "ERR\tno plugin loaded");
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
    worker.send ("PROCESS_F32_BUFFER\t2\t1\t2\t7\nPING\nPIQUIT\n");
    EXPECT_EQ (worker.readLine(), "ERR\tno plugin loaded");
    EXPECT_EQ (worker.readLine(), "OK");
    EXPECT_EQ (worker.readLine(), "<eof>");
    const auto exit = worker.waitForExit();
    ASSERT_TRUE (exit.ended);
    EXPECT_EQ (exit.exitCode, 0);
}

TEST (WorkerAudio, APayloadThatCannotBeSkippedEndsTheWorkerWithItsOwnExitCode)
{
    struct Case
    {
        bool loaded;
        std::string header;
        std::string reply;
    };

    const std::vector<Case> cases {
        { true, "PROCESS_F32_BUFFER\tt\t1048576\t2\t8388609", "ERR\tprocess buffer too large" },
        { true, "PROCESS_F32_BUFFER\tt\t4\t2\t18446744073709551616", "ERR\tstoull argument out of range" },
        { false, "PROCESS_F32_BUFFER\tt\t1048576\t2\t8388609", "ERR\tno plugin loaded" },
        { false, "PROCESS_F32_BUFFER\tt\t4\t2\tsome", "ERR\tno plugin loaded" },
    };

    for (const auto& c : cases)
    {
        WorkerSession worker;

        if (c.loaded)
        {
            ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
            ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());
        }

        // What follows could be payload or commands: none of it is answered.
        worker.send (c.header + "\nPING\nQUIT\n");
        EXPECT_EQ (worker.readLine(), c.reply) << c.header;
        EXPECT_EQ (worker.readLine(), "<eof>") << c.header;
        const auto exit = worker.waitForExit();
        ASSERT_TRUE (exit.ended) << c.header;
        EXPECT_TRUE (exit.exited) << c.header;
        EXPECT_EQ (exit.exitCode, 65) << c.header;

        // A loaded plug-in is still shut down in order.
        if (c.loaded)
        {
            const auto log = worker.probeLog();
            EXPECT_NE (std::find (log.begin(), log.end(), "component.terminate thread=ui"), log.end()) << c.header;
        }
    }
}
