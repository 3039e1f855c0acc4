// The worker client against the fake worker: identity, reply lines and their bounds, deadlines,
// a worker that dies or hangs mid-exchange, and what the worker process inherits.
#include "RackTestSupport.h"

#include "audio/rack/VstWorkerClient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

struct StartedClient
{
    FakeWorkerFolder folder;
    VstWorkerClient client;

    explicit StartedClient (const juce::String& mode = {})
    {
        juce::String error;
        started = client.start (folder.worker (mode), error);
        startError = error;
    }

    /** Sends a command and returns its error text ("" on success). Unless a test is about the
        deadline, a command gets the longest one there is. */
    juce::String run (const juce::String& line, int timeoutMs = workerBounds::maxCommandTimeoutMs)
    {
        juce::String error;
        lastOk = client.command (line, lines, error, timeoutMs);
        return error;
    }

    bool started = false;
    juce::String startError;
    std::vector<juce::String> lines;
    bool lastOk = false;
};

std::vector<float> ramp (int frames)
{
    std::vector<float> samples (static_cast<std::size_t> (frames) * 2);

    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float> (i % 1000) / 1000.0f - 0.5f;

    return samples;
}

TEST (WorkerClient, IdentityMustBeExactlyTheWorkersOneLine)
{
    struct Case
    {
        const char* mode;
        const char* error;
    };

    const Case cases[] = {
        { "badIdentity", workerText::unexpectedIdentity },          // "...\t2"
        { "classBeforeIdentity", workerText::unexpectedIdentity },  // a CLASS line first
        { "garbageIdentity", workerText::unexpectedResponse },      // a line of no known kind
        { "errIdentity", "not ready" },                             // the worker's own refusal
    };

    for (const auto& c : cases)
    {
        StartedClient worker (c.mode);
        EXPECT_FALSE (worker.started) << c.mode;
        EXPECT_EQ (worker.startError, juce::String (c.error)) << c.mode;
        EXPECT_FALSE (worker.client.isAlive()) << c.mode;
        EXPECT_EQ (worker.client.processId(), 0) << c.mode;
    }

    EXPECT_TRUE (zombieChildren().empty());

    StartedClient good;
    EXPECT_TRUE (good.started) << good.startError;
    EXPECT_TRUE (good.client.isAlive());
}

TEST (WorkerClient, AMissingOrUnstartableProgramIsReported)
{
    TempFolder folder ("worker-missing");
    VstWorkerClient client;
    juce::String error;

    EXPECT_FALSE (client.start (folder / "OrvaneVstHost", error));
    EXPECT_EQ (error, ja ("VSTホスト本体がありません"));

    const auto notAProgram = folder / "not-a-program";
    ASSERT_TRUE (notAProgram.replaceWithText ("plain text"));
    EXPECT_FALSE (client.start (notAProgram, error));
    EXPECT_EQ (error, juce::String (workerText::couldNotStart));
    EXPECT_FALSE (client.isAlive());
}

TEST (WorkerClient, AnErrReplyKeepsTheWorkerAndTheNextCommandWorks)
{
    StartedClient worker;
    ASSERT_TRUE (worker.started);

    EXPECT_EQ (worker.run ("ERR_TEXT\tno plugin loaded"), "no plugin loaded");
    EXPECT_FALSE (worker.lastOk);
    EXPECT_TRUE (worker.lines.empty());   // the ERR line is not a reply line
    EXPECT_TRUE (worker.client.isAlive());

    EXPECT_EQ (worker.run ("PING"), "");
    ASSERT_EQ (worker.lines.size(), 1u);
    EXPECT_EQ (worker.lines[0], "OK\tORVANE_VST_HOST\t1");
}

TEST (WorkerClient, DataLinesAreBoundedAt16384)
{
    StartedClient worker;
    ASSERT_TRUE (worker.started);

    EXPECT_EQ (worker.run ("LINES\t16384\tPARAM"), "");
    ASSERT_EQ (worker.lines.size(), 16385u);
    EXPECT_EQ (worker.lines.front(), "PARAM\t0");
    EXPECT_EQ (worker.lines.back(), "OK");

    EXPECT_EQ (worker.run ("LINES\t16385\tCLASS"), juce::String (workerText::replyExceededBound));
    EXPECT_FALSE (worker.client.isAlive());
    EXPECT_TRUE (zombieChildren().empty());
}

TEST (WorkerClient, LinesOfNoKnownKindStopTheWorker)
{
    for (const auto* line : { "EMPTY_LINE", "GARBAGE" })
    {
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        EXPECT_EQ (worker.run (line), juce::String (workerText::unexpectedResponse)) << line;
        EXPECT_FALSE (worker.client.isAlive()) << line;
    }
}

TEST (WorkerClient, CrLfLineEndsAreReadLikeLf)
{
    StartedClient worker ("crlf");
    ASSERT_TRUE (worker.started) << worker.startError;

    EXPECT_EQ (worker.run ("LINES\t2\tPARAM"), "");
    EXPECT_EQ (worker.lines, (std::vector<juce::String> { "PARAM\t0", "PARAM\t1", "OK" }));

    juce::String error;
    ASSERT_TRUE (worker.client.command ("LOAD_VST3\t/x.vst3\t" + fakeClassId (fakeGain), worker.lines, error,
                                        workerBounds::maxCommandTimeoutMs)) << error;
    auto samples = ramp (64);
    const auto input = samples;
    ASSERT_TRUE (worker.client.processF32 (samples.data(), 64, 5, error, workerBounds::maxBlockTimeoutMs)) << error;
    EXPECT_EQ (samples[10], input[10] * 0.5f);
}

TEST (WorkerClient, RefusedCommandsLeaveTheWorkerAlone)
{
    StartedClient worker;
    ASSERT_TRUE (worker.started);

    for (const auto& line : { juce::String ("PING\nPING"), juce::String ("PING\r"), juce::String ("PING") + juce::String::repeatedString ("x", 0x2200000) })
    {
        EXPECT_EQ (worker.run (line), juce::String (workerText::invalidCommand));
        EXPECT_TRUE (worker.client.isAlive());
    }

    // Exactly the bound travels (the fake worker refuses the unknown word with ERR).
    EXPECT_EQ (worker.run (juce::String ("X") + juce::String::repeatedString ("y", 0x2200000 - 1), workerBounds::maxCommandTimeoutMs),
               "unknown command");
    EXPECT_TRUE (worker.client.isAlive());

    juce::String error;
    std::vector<float> block (8194);
    EXPECT_FALSE (worker.client.processF32 (block.data(), 0, 1, error, 100));
    EXPECT_EQ (error, juce::String (workerText::invalidProcessRequest));
    EXPECT_FALSE (worker.client.processF32 (block.data(), 4097, 1, error, 100));
    EXPECT_EQ (error, juce::String (workerText::invalidProcessRequest));
    EXPECT_TRUE (worker.client.isAlive());

    worker.client.shutdown();
    EXPECT_EQ (worker.run ("PING"), juce::String (workerText::invalidCommand));
}

TEST (WorkerClient, TimeoutsAreClamped)
{
    const std::pair<int, int> commands[] = { { -5, 1 }, { 0, 1 }, { 1, 1 }, { 7000, 7000 }, { 15000, 15000 }, { 60000, 15000 } };
    const std::pair<int, int> blocks[] = { { -5, 1 }, { 0, 1 }, { 80, 80 }, { 1000, 1000 }, { 60000, 1000 } };

    for (const auto& [given, used] : commands)
        EXPECT_EQ (clampCommandTimeout (given), used) << given;

    for (const auto& [given, used] : blocks)
        EXPECT_EQ (clampBlockTimeout (given), used) << given;

    // A time-out of 0 still gives the worker its one millisecond, no more.
    StartedClient worker;
    ASSERT_TRUE (worker.started);
    EXPECT_EQ (worker.run ("SLEEP\t300", 0), juce::String (workerText::timeout));
    EXPECT_FALSE (worker.client.isAlive());
}

TEST (WorkerClient, AWorkerThatStopsAnsweringIsEndedAtTheDeadline)
{
    // Asleep in a command, and stopped by SIGSTOP: both end at the deadline. The bound only
    // proves that the wait ends long before the worker would answer; it is no speed target, and
    // a thread that is not scheduled for a while stays well within it.
    constexpr double endsWellBeforeTheAnswer = 60000.0;
    {
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        const auto ms = millisecondsOf ([&] { EXPECT_EQ (worker.run ("SLEEP\t600000", 150), juce::String (workerText::timeout)); });
        EXPECT_LT (ms, endsWellBeforeTheAnswer);
        EXPECT_FALSE (worker.client.isAlive());
    }
    {
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        const auto pid = worker.client.processId();
        ASSERT_TRUE (platform::stopProcess (pid));
        const auto ms = millisecondsOf ([&] { EXPECT_EQ (worker.run ("PING", 150), juce::String (workerText::timeout)); });
        EXPECT_LT (ms, endsWellBeforeTheAnswer);
        EXPECT_FALSE (worker.client.isAlive());
        EXPECT_EQ (platform::processState (pid), 0);   // killed although stopped, and reaped
    }

    EXPECT_TRUE (zombieChildren().empty());
}

TEST (WorkerClient, AWorkerThatEndsOrClosesItsOutputIsReported)
{
    {
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        EXPECT_EQ (worker.run ("EXIT"), juce::String (workerText::exited));
        EXPECT_FALSE (worker.client.isAlive());
    }
    {
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        EXPECT_EQ (worker.run ("CLOSE_OUTPUT"), juce::String (workerText::exitedOrPipeFailed));
        EXPECT_FALSE (worker.client.isAlive());
    }
    {
        // Killed from outside while idle: the next exchange reports the end without writing, and
        // after that the client is stopped.
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        const auto pid = worker.client.processId();
        ASSERT_TRUE (platform::killProcess (pid));
        ASSERT_TRUE (eventually ([&] { return ! worker.client.isAlive(); }));
        EXPECT_EQ (worker.run ("PING"), juce::String (workerText::exited));
        EXPECT_EQ (platform::processState (pid), 0);
        EXPECT_EQ (worker.run ("PING"), juce::String (workerText::invalidCommand));
    }
    {
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        ASSERT_TRUE (platform::killProcess (worker.client.processId()));
        ASSERT_TRUE (eventually ([&] { return ! worker.client.isAlive(); }));
        std::vector<float> block (1024);
        juce::String error;
        EXPECT_FALSE (worker.client.processF32 (block.data(), 512, 0, error, 100));
        EXPECT_EQ (error, juce::String (workerText::processPrefix) + workerText::exited);
    }

    EXPECT_TRUE (zombieChildren().empty());
}

TEST (WorkerClient, WritingToAWorkerThatClosedItsInputFailsWithoutSigpipe)
{
    StartedClient worker;
    ASSERT_TRUE (worker.started);
    EXPECT_EQ (worker.run ("CLOSE_INPUT"), "");

    // The worker no longer reads; the write meets a closed pipe. This process must survive it.
    auto samples = ramp (4096);
    juce::String error;
    EXPECT_FALSE (worker.client.processF32 (samples.data(), 4096, 1, error, 500));
    EXPECT_TRUE (error == juce::String (workerText::processPrefix) + workerText::exitedOrPipeFailed
                 || error == juce::String (workerText::processPrefix) + workerText::exited) << error;
    EXPECT_FALSE (worker.client.isAlive());
}

TEST (WorkerClient, BytesAfterALineStayBufferedAcrossCommands)
{
    StartedClient worker;
    ASSERT_TRUE (worker.started);

    EXPECT_EQ (worker.run ("TWO_REPLIES"), "");
    EXPECT_EQ (worker.lines, std::vector<juce::String> { "OK\tfirst" });

    // The second line arrived with the first and answers the next command.
    EXPECT_EQ (worker.run ("SPLIT_OK"), "");
    EXPECT_EQ (worker.lines, std::vector<juce::String> { "OK\tsecond" });

    // A line that arrives in two pieces is read whole.
    EXPECT_EQ (worker.run ("PING"), "");
    EXPECT_EQ (worker.lines, std::vector<juce::String> { "OK\tsplit" });
}

TEST (WorkerClient, AnOversizedFinalLineIsDiscardedAndTheWorkerStaysInStep)
{
    StartedClient worker;
    ASSERT_TRUE (worker.started);

    // Replies this large take a while on a busy machine: each gets the longest deadline there is.
    constexpr auto longest = workerBounds::maxCommandTimeoutMs;

    // Exactly the bound is accepted.
    EXPECT_EQ (worker.run ("BIG_OK\t" + juce::String (0x2200000 - 3), longest), "");
    ASSERT_EQ (worker.lines.size(), 1u);
    EXPECT_EQ (worker.lines[0].length(), 0x2200000);

    // One byte more, and 40 MiB more: refused, but the worker keeps running and answers next.
    for (const auto extra : { 0x2200000 - 2, 40 << 20 })
    {
        EXPECT_EQ (worker.run ("BIG_OK\t" + juce::String (extra), longest), juce::String (workerText::replyExceededBound));
        EXPECT_TRUE (worker.lines.empty());
        EXPECT_TRUE (worker.client.isAlive());
        EXPECT_EQ (worker.run ("PING"), "");
        EXPECT_EQ (worker.lines, std::vector<juce::String> { "OK\tORVANE_VST_HOST\t1" });
    }

    // An oversized data line leaves the rest of the reply unknown: the worker is stopped.
    EXPECT_EQ (worker.run ("BIG_LINE\t" + juce::String (0x2200001), longest), juce::String (workerText::replyExceededBound));
    EXPECT_FALSE (worker.client.isAlive());
}

TEST (WorkerClient, BlocksComeBackProcessedWhateverTheirSize)
{
    StartedClient worker;
    ASSERT_TRUE (worker.started);
    ASSERT_EQ (worker.run ("LOAD_VST3\t/x.vst3\t" + fakeClassId (fakeGain)), "");

    std::uint64_t sequence = 0;

    for (const auto frames : { 1, 2, 511, 512, 4096 })
    {
        auto samples = ramp (frames);
        const auto input = samples;
        juce::String error;
        ASSERT_TRUE (worker.client.processF32 (samples.data(), frames, sequence++, error, workerBounds::maxBlockTimeoutMs))
            << frames << " " << error;

        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ (samples[i], input[i] * 0.5f) << frames << " at " << i;
    }

    // The sequence travels as given, also above 32 bits.
    auto samples = ramp (16);
    juce::String error;
    EXPECT_TRUE (worker.client.processF32 (samples.data(), 16, std::uint64_t { 1 } << 40, error, workerBounds::maxBlockTimeoutMs))
        << error;
}

TEST (WorkerClient, AFailedBlockStopsTheWorkerWithItsReason)
{
    struct Case
    {
        FakeBehaviour behaviour;
        const char* error;
    };

    const Case cases[] = {
        { fakeExitAfterHeader, workerText::exited },
        { fakeExitMidPayload, workerText::exited },
        { fakeExitBeforeReply, workerText::exited },
        { fakeHang, workerText::timeout },
        { fakeStopSelf, workerText::timeout },
        { fakeWrongTag, workerText::headerMismatch },
        { fakeGarbage, workerText::headerMismatch },
        { fakeNanPayload, workerText::nonFinite },
    };

    for (const auto& c : cases)
    {
        StartedClient worker;
        ASSERT_TRUE (worker.started);
        ASSERT_EQ (worker.run ("LOAD_VST3\t/x.vst3\t" + fakeClassId (c.behaviour)), "");
        juce::String error;
        bool ok = true;

        // The fake worker's faults start with its 17th block. (The blocks before it must not miss
        // their deadline on a busy machine: the longest one.)
        for (std::uint64_t block = 0; block < 17 && ok; ++block)
        {
            auto samples = ramp (512);
            ok = worker.client.processF32 (samples.data(), 512, block, error, workerBounds::maxBlockTimeoutMs);
            ASSERT_TRUE (ok || block == 16) << c.behaviour << " block " << block << " " << error;
        }

        EXPECT_FALSE (ok) << c.behaviour;
        EXPECT_EQ (error, juce::String (workerText::processPrefix) + c.error) << c.behaviour;
        EXPECT_FALSE (worker.client.isAlive()) << c.behaviour;
    }

    EXPECT_TRUE (zombieChildren().empty());
}

TEST (WorkerClient, TheWorkerInheritsOnlyItsThreeStandardDescriptorsAndLeadsItsOwnGroup)
{
    TempFolder folder ("worker-fds");
    const auto marker = folder / "held-open-without-cloexec";
    auto* held = std::fopen (marker.getFullPathName().toRawUTF8(), "w");   // no "e": inheritable
    ASSERT_NE (held, nullptr);

    StartedClient worker;
    ASSERT_TRUE (worker.started);
    EXPECT_EQ (worker.run ("FDS"), "");
    ASSERT_EQ (worker.lines.size(), 1u);
    const auto list = worker.lines[0];
    std::fclose (held);

    EXPECT_FALSE (list.contains (marker.getFileName()));
    EXPECT_TRUE (list.contains ("\t0=pipe:"));
    EXPECT_TRUE (list.contains ("\t1=pipe:"));
    EXPECT_TRUE (list.contains ("\t2=/dev/null"));

    const auto pid = worker.client.processId();
    EXPECT_EQ (platform::processGroupOf (pid), pid);
    EXPECT_NE (platform::processGroupOf (pid), platform::processGroupOf (platform::currentProcessId()));
}

TEST (WorkerClient, FieldsForTheProtocolHaveNoLineBreaksOrTabs)
{
    EXPECT_TRUE (isValidWorkerField ("/usr/lib/vst3/A B.vst3"));
    EXPECT_TRUE (isValidWorkerField (juce::String::repeatedString ("a", 32767)));
    EXPECT_FALSE (isValidWorkerField (juce::String::repeatedString ("a", 32768)));
    EXPECT_FALSE (isValidWorkerField (""));

    for (const auto* bad : { "a\tb", "a\rb", "a\nb" })
        EXPECT_FALSE (isValidWorkerField (bad)) << bad;
}
} // namespace
