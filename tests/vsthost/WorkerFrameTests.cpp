// The worker process as the main program meets it: command line, identity, end of the
// conversation, exit codes, and a plug-in that writes to standard output.
#include "EditorTestSupport.h"
#include "ProbeClasses.h"
#include "WorkerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace vsthost_test;

TEST (WorkerFrame, WrongCommandLineGivesUsageAndExitCode2)
{
    const std::vector<std::vector<std::string>> commandLines { {}, { "--Worker" }, { "--worker", "x" }, { "worker" } };

    for (const auto& arguments : commandLines)
    {
        WorkerSession::Options options;
        options.arguments = arguments;
        WorkerSession worker (options);
        const auto exit = worker.waitForExit();

        ASSERT_TRUE (exit.ended);
        EXPECT_TRUE (exit.exited);
        EXPECT_EQ (exit.exitCode, 2);
        EXPECT_EQ (worker.standardError(), "OrvaneVstHost\nusage: OrvaneVstHost --worker\n");
        EXPECT_EQ (worker.readLine (2000), "<eof>");
    }
}

TEST (WorkerFrame, PingQuitAndExitCodes)
{
    WorkerSession worker;
    worker.send ("PING\tz\nQUIT\tx\n");
    EXPECT_EQ (worker.readLine(), "OK\tORVANE_VST_HOST\t1");
    EXPECT_EQ (worker.readLine(), "OK");
    EXPECT_EQ (worker.readLine(), "<eof>");
    const auto exit = worker.waitForExit();
    ASSERT_TRUE (exit.ended);
    EXPECT_EQ (exit.exitCode, 0);
}

TEST (WorkerFrame, EndOfInputEndsWithCodeZeroAndDestroysThePluginOnTheUiThread)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command ("LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (probe::Kind::fxStereo)).ok());
    const auto exit = worker.finish();
    ASSERT_TRUE (exit.ended);
    EXPECT_EQ (exit.exitCode, 0);

    const auto log = worker.probeLog();
    const auto has = [&log] (const std::string& line) { return std::find (log.begin(), log.end(), line) != log.end(); };
    EXPECT_TRUE (has ("controller.terminate thread=ui"));
    EXPECT_TRUE (has ("component.terminate thread=ui"));
    EXPECT_TRUE (has ("ModuleExit thread=ui"));
}

TEST (WorkerFrame, EditorRequestsWithoutAPluginRecordNoPluginLoaded)
{
    WorkerSession worker;
    EXPECT_EQ (worker.command ("OPEN_EDITOR_ASYNC\tone").final(), "OK");
    std::vector<std::string> status;
    EXPECT_TRUE (waitUntil ([&] {
        status = worker.command ("LIVE_STATUS").fields();
        return status.size() != 7 || status[4] == "0";
    }, requestPatienceMs));
    EXPECT_EQ (status, (std::vector<std::string> { "OK", "0", "0", "0", "0", "no plugin loaded", "0" }));

    // Requests still queued when QUIT arrives run before the worker ends.
    worker.send ("OPEN_EDITOR_ASYNC\ttwo\nCLOSE_EDITOR_ASYNC\nQUIT\n");
    EXPECT_EQ (worker.readLine(), "OK");
    EXPECT_EQ (worker.readLine(), "OK");
    EXPECT_EQ (worker.readLine(), "OK");
    EXPECT_EQ (worker.waitForExit().exitCode, 0);
}

TEST (WorkerFrame, PluginWritingToStandardOutputCannotBreakTheProtocol)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command ("LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (probe::Kind::printsStdout)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());
    const auto input = testSignal (64);
    const auto block = worker.process ("7", 64, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, input);
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
    EXPECT_NE (worker.standardError().find ("noise from process"), std::string::npos);
}

TEST (WorkerFrame, LoaderFailureTextsStayOnOneLine)
{
    WorkerSession worker;
    TempFolder files;
    // A "bundle" whose library is not a shared library: the loader's text must not break the reply.
    const auto bundle = files.path() / "Garbage.vst3";
    std::filesystem::create_directories (bundle / "Contents" / "x86_64-linux");
    std::ofstream (bundle / "Contents" / "x86_64-linux" / "Garbage.so") << "not\na\nlibrary\r\n";

    const auto reply = worker.command ("SCAN_VST3\t" + bundle.string());
    ASSERT_EQ (reply.lines.size(), 1u);
    EXPECT_EQ (reply.error().rfind ("dlopen failed: ", 0), 0u) << reply.final();
    EXPECT_EQ (reply.error().find_first_of ("\t\r\n"), std::string::npos);
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
}
