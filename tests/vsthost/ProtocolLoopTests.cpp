// The line protocol in process, against a scripted backend: which word wins, field counts,
// numbers, framing of the binary exchange (refused payloads included), and the asynchronous
// editor requests.
#include "FakeBackend.h"

#include "vsthost/ProtocolWords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "WorkerHarness.h"

using namespace vsthost_test;

namespace
{
const std::string loadLine = "LOAD_VST3\tpath\t0123456789ABCDEF0123456789ABCDEF\n";
const std::string loadedReply = "OK\t0123456789ABCDEF0123456789ABCDEF\n";

std::string floatsAsBytes (const std::vector<float>& samples)
{
    return std::string (reinterpret_cast<const char*> (samples.data()), samples.size() * sizeof (float));
}

/** `size` bytes that read as command lines ("PING" lines, then empty ones): a payload left in
    the input would be answered line by line. */
std::string commandLikeBytes (std::size_t size)
{
    std::string bytes;

    while (bytes.size() + 5 <= size)
        bytes += "PING\n";

    return bytes + std::string (size - bytes.size(), '\n');
}

struct LineCase
{
    std::string input;
    std::string expected;
};
} // namespace

TEST (ProtocolLoop, WithoutPluginEveryUiWordAnswersNoPluginLoaded)
{
    const std::vector<LineCase> cases {
        { "\n", "ERR\tno plugin loaded\n" },
        { "INFO\n", "ERR\tno plugin loaded\n" },
        { "NOSUCHWORD\ta\n", "ERR\tno plugin loaded\n" },
        { "LOAD_VST3\tonly-path\n", "ERR\tno plugin loaded\n" },
        { "SCAN_VST3\n", "ERR\tno plugin loaded\n" },
        { "CONFIG\t48000\n", "ERR\tno plugin loaded\n" },
        { "PING\r\n", "ERR\tno plugin loaded\n" },
        { "OPEN_EDITOR_ASYNC\n", "ERR\tno plugin loaded\n" },
        { "PROCESS_F32_BUFFER\n", "ERR\tno plugin loaded\n" },
        { "PROCESS_F32_BUFFER\tt\tx\ty\tz\n", "ERR\tno plugin loaded\n" },
        { "PROCESS_F32_FILE\ta\tb\t1\t2\n", "ERR\tno plugin loaded\n" },
        { "PING\textra\tfields\n", "OK\tORVANE_VST_HOST\t1\n" },
        { "LIVE_STATUS\n", "OK\t0\t0\t0\t0\t\t0\n" },
    };

    for (const auto& c : cases)
    {
        ProtocolHarness harness;
        EXPECT_EQ (harness.run (c.input), c.expected) << c.input;
    }
}

TEST (ProtocolLoop, WithPluginLinesMatchingNoRowAreUnknownCommands)
{
    const std::vector<LineCase> cases {
        { "\n", "ERR\tunknown command\n" },
        { "PING\r\n", "ERR\tunknown command\n" },
        { "info\n", "ERR\tunknown command\n" },
        { "CONFIG\t48000\t2\n", "ERR\tunknown command\n" },
        { "CONFIG\t48000\t2\t512\trealtime\textra\n", "ERR\tunknown command\n" },
        { "BYPASS\n", "ERR\tunknown command\n" },
        { "SET_PARAM\t1\n", "ERR\tunknown command\n" },
        { "OPEN_EDITOR\n", "ERR\tunknown command\n" },
        { "SHOW_EDITOR\ta\tb\n", "ERR\tunknown command\n" },
        { "LOAD_STATE\n", "ERR\tunknown command\n" },
        { "OPEN_EDITOR_ASYNC\n", "ERR\tunknown command\n" },
        { "OPEN_EDITOR_ASYNC\ta\tb\n", "ERR\tunknown command\n" },
        { "PROCESS_F32_BUFFER\tt\t1\t2\n", "ERR\tunknown command\n" },
        { "PROCESS_F32_FILE\ta\tb\t1\n", "ERR\tunknown command\n" },
    };

    for (const auto& c : cases)
    {
        ProtocolHarness harness;
        EXPECT_EQ (harness.run (loadLine + c.input), loadedReply + c.expected) << c.input;
    }
}

TEST (ProtocolLoop, LoadReplacesThePluginAlsoOnFailureAndScanLeavesItAlone)
{
    ProtocolHarness harness;
    const auto output = harness.run (loadLine + "SCAN_VST3\tany\nINFO\nLOAD_VST3\tpath\tFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\nINFO\n"
                                     "SCAN_VST3\tempty\nSCAN_VST3\tbroken\n");
    EXPECT_EQ (output, loadedReply
                           + "CLASS\t0123456789ABCDEF0123456789ABCDEF\tName with tab\tVendor\t1.0\tFx|Dynamics\nOK\t1\n"
                             "OK\t0123456789ABCDEF0123456789ABCDEF\tFake Name\tFake Vendor\t1.0\t64\t32\t0\n"
                             "ERR\tno such class\n"
                             "ERR\tno plugin loaded\n"
                             "ERR\tno VST3 audio effects\n"
                             "ERR\tdlopen failed: line one line two\n");
    EXPECT_EQ (harness.slot, nullptr);
}

TEST (ProtocolLoop, ConfigStoresEachValueAsItIsReadAndPicksTheMode)
{
    struct ConfigCase
    {
        std::string line;
        std::string reply;
        double rate;
        std::uint32_t channels;
        std::uint32_t frames;
        std::int32_t mode;
    };

    const std::vector<ConfigCase> cases {
        { "CONFIG\t44100\t2\t512\trealtime", "OK", 44100.0, 2, 512, 0 },
        { "CONFIG\t44100\t2\t512\toffline", "OK", 44100.0, 2, 512, 2 },
        { "CONFIG\t44100\t2\t512\tREALTIME", "OK", 44100.0, 2, 512, 1 },
        { "CONFIG\t44100\t2\t512", "OK", 44100.0, 2, 512, 1 },
        { "CONFIG\t44100\tx\t512", "ERR\tinvalid stoul argument", 44100.0, 2, 1024, 1 },
        { "CONFIG\t96000\t2\t4294967298", "ERR\tstoul argument out of range", 96000.0, 2, 1024, 1 },
        { "CONFIG\t 88200.5abc\t4294967295\t+64\tprefetch", "OK", 88200.5, 4294967295u, 64, 1 },
        { "CONFIG\tfast\t2\t512", "ERR\tinvalid stod argument", 48000.0, 2, 1024, 1 },
        { "CONFIG\t1e999\t2\t512", "ERR\tstod argument out of range", 48000.0, 2, 1024, 1 },
    };

    for (const auto& c : cases)
    {
        ProtocolHarness harness;
        harness.run (loadLine);
        auto* backend = harness.backend;
        const auto output = harness.run (c.line + "\nPROCESS_F32_BUFFER\tq\t0\t0\t0\n");
        EXPECT_EQ (output.substr (0, output.find ('\n')), c.reply) << c.line;

        // The stored values reach the audio path even when configure was not reached or failed.
        if (c.reply == "OK")
        {
            EXPECT_EQ (backend->lastConfig.sampleRate, c.rate) << c.line;
            EXPECT_EQ (backend->lastConfig.channels, c.channels) << c.line;
            EXPECT_EQ (backend->lastConfig.maxBlockFrames, c.frames) << c.line;
            EXPECT_EQ (backend->lastConfig.processMode, c.mode) << c.line;
        }
        else
        {
            EXPECT_EQ (std::count (backend->calls.begin(), backend->calls.end(), "configure"), 0) << c.line;
        }
    }
}

TEST (ProtocolLoop, ProcessingSplitsIntoBlocksOfTheConfiguredSize)
{
    ProtocolHarness harness;
    std::vector<float> input (3000);

    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float> (i) * 0.25f;

    const auto output = harness.run (loadLine + "CONFIG\t48000\t2\t512\trealtime\nPROCESS_F32_BUFFER\tblock-7\t1500\t2\t12000\n"
                                     + floatsAsBytes (input) + "PING\n");
    const std::string header = loadedReply + "OK\nBINARY\tblock-7\t12000\n";
    ASSERT_EQ (output.substr (0, header.size()), header);

    std::vector<float> processed (3000);
    std::memcpy (processed.data(), output.data() + header.size(), 12000);

    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ (processed[i], input[i] * 2.0f) << i;

    EXPECT_EQ (output.substr (header.size() + 12000), "OK\tblock-7\t3000\nOK\tORVANE_VST_HOST\t1\n");
    EXPECT_EQ (harness.backend->chunkFrames, (std::vector<std::uint32_t> { 512, 512, 476 }));
}

TEST (ProtocolLoop, BufferShapesAndSizesAreCheckedIn64Bits)
{
    struct BufferCase
    {
        std::string header;
        std::size_t payloadBytes;
        std::string reply;
        bool inStep;   // the payload was dropped and the next line is answered
    };

    const std::vector<BufferCase> cases {
        // frames x channels x 4 wraps to 0 in 32 bits: refused, nothing copied.
        { "PROCESS_F32_BUFFER\tt\t2147483648\t2\t0", 0, "ERR\tinvalid process buffer size", true },
        { "PROCESS_F32_BUFFER\tt\t1073741824\t4\t0", 0, "ERR\tinvalid process buffer size", true },
        { "PROCESS_F32_BUFFER\tt\t0\t2\t0", 0, "ERR\tinvalid process buffer shape", true },
        { "PROCESS_F32_BUFFER\tt\t4\t3\t48", 48, "ERR\tinvalid process buffer shape", true },
        { "PROCESS_F32_BUFFER\tt\t4\t2\t31", 31, "ERR\tinvalid process buffer size", true },
        { "PROCESS_F32_BUFFER\tt\tfour\t2\t32", 32, "ERR\tinvalid stoul argument", true },
        { "PROCESS_F32_BUFFER\tt\t4\t-2\t32", 32, "ERR\tstoul argument out of range", true },
        // Lengths that cannot be skipped end the conversation; the reply still names the first
        // field that failed.
        { "PROCESS_F32_BUFFER\tt\t4\t2\t8388609", 0, "ERR\tprocess buffer too large", false },
        { "PROCESS_F32_BUFFER\tt\tfour\t2\t8388609", 0, "ERR\tinvalid stoul argument", false },
        { "PROCESS_F32_BUFFER\tt\t4\t2\t18446744073709551616", 0, "ERR\tstoull argument out of range", false },
        { "PROCESS_F32_BUFFER\tt\t4\t2\tlength", 0, "ERR\tinvalid stoull argument", false },
    };

    for (const auto& c : cases)
    {
        ProtocolHarness harness;
        harness.run (loadLine);
        const auto output = harness.run ("CONFIG\t48000\t2\t512\n" + c.header + "\n" + commandLikeBytes (c.payloadBytes) + "PING\n");
        EXPECT_EQ (output, "OK\n" + c.reply + "\n" + (c.inStep ? "OK\tORVANE_VST_HOST\t1\n" : "")) << c.header;
        EXPECT_EQ (harness.result, c.inStep ? 0 : orvane::vsthost::exitOutOfStep) << c.header;
        EXPECT_TRUE (harness.backend->chunkFrames.empty()) << c.header;
    }
}

TEST (ProtocolLoop, WithoutPluginABufferIsRefusedAndItsPayloadDropped)
{
    struct RefusalCase
    {
        std::string input;
        std::string expected;
        int result;
    };

    const std::vector<RefusalCase> cases {
        // The payload reads like command lines; none of them may be answered.
        { "PROCESS_F32_BUFFER\tt\t4\t2\t32\n" + commandLikeBytes (32) + "PING\n", "ERR\tno plugin loaded\nOK\tORVANE_VST_HOST\t1\n", 0 },
        { "PROCESS_F32_BUFFER\tt\tx\ty\t7\nPING\nPIQUIT\nPING\n", "ERR\tno plugin loaded\nOK\n", 0 },
        { "PROCESS_F32_BUFFER\tt\t4\t2\t0\nPING\n", "ERR\tno plugin loaded\nOK\tORVANE_VST_HOST\t1\n", 0 },
        { "PROCESS_F32_BUFFER\tt\t4\t2\t32\nPING\n", "ERR\tno plugin loaded\n", 0 },   // cut short by the end
        { "PROCESS_F32_BUFFER\tt\t4\t2\t8388608\n" + std::string (8388608, '\n') + "PING\n",
          "ERR\tno plugin loaded\nOK\tORVANE_VST_HOST\t1\n", 0 },
        { "PROCESS_F32_BUFFER\tt\t4\t2\t8388609\nPING\n", "ERR\tno plugin loaded\n", orvane::vsthost::exitOutOfStep },
        { "PROCESS_F32_BUFFER\tt\t4\t2\tz\nPING\n", "ERR\tno plugin loaded\n", orvane::vsthost::exitOutOfStep },
        // Without the length field there is no payload: the next line is a command.
        { "PROCESS_F32_BUFFER\tt\t4\t2\nPING\n", "ERR\tno plugin loaded\nOK\tORVANE_VST_HOST\t1\n", 0 },
    };

    for (const auto& c : cases)
    {
        ProtocolHarness harness;
        EXPECT_EQ (harness.run (c.input), c.expected) << c.input.substr (0, 40);
        EXPECT_EQ (harness.result, c.result) << c.input.substr (0, 40);
    }

    // After a failed load, as in normal use.
    ProtocolHarness harness;
    const auto output = harness.run ("LOAD_VST3\tpath\tFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\nPROCESS_F32_BUFFER\t9\t2\t2\t16\n"
                                     + commandLikeBytes (16) + "QUIT\nPING\n");
    EXPECT_EQ (output, "ERR\tno such class\nERR\tno plugin loaded\nOK\n");
    EXPECT_EQ (harness.result, 0);
}

TEST (ProtocolLoop, PayloadBoundIsInclusiveAndTruncationIsReported)
{
    ProtocolHarness harness;
    harness.run (loadLine);
    harness.backend->gain = 1.0f;
    const std::string payload (8388608, '\0');
    const auto output = harness.run ("CONFIG\t48000\t2\t4096\nPROCESS_F32_BUFFER\tbig\t1048576\t2\t8388608\n" + payload);
    EXPECT_EQ (output.substr (0, 30), "OK\nBINARY\tbig\t8388608\n" + payload.substr (0, 8));
    EXPECT_EQ (output.substr (output.size() - 15), "OK\tbig\t2097152\n");
    EXPECT_EQ (harness.run ("PROCESS_F32_BUFFER\tcut\t4\t2\t32\n" + std::string (20, '\0')), "ERR\tprocess buffer truncated\n");
}

TEST (ProtocolLoop, FailedChunkAnswersTheBackendsMessageWithoutBinaryLine)
{
    ProtocolHarness harness;
    harness.prepareLoaded = [] (FakeBackend& backend) { backend.results["process"] = { false, "VST3 process failed" }; };
    const auto output = harness.run (loadLine + "PROCESS_F32_BUFFER\tt\t2\t2\t16\n" + std::string (16, '\0') + "PING\n");
    EXPECT_EQ (output, loadedReply + "ERR\tVST3 process failed\nOK\tORVANE_VST_HOST\t1\n");
}

TEST (ProtocolLoop, SetParamReadsTheValueBeforeTheId)
{
    ProtocolHarness harness;
    harness.run (loadLine);
    EXPECT_EQ (harness.run ("SET_PARAM\tid\tvalue\n"), "ERR\tinvalid stod argument\n");
    EXPECT_EQ (harness.run ("SET_PARAM\tid\t0.5\n"), "ERR\tinvalid stoul argument\n");
    EXPECT_EQ (harness.run ("SET_PARAM\t7\t0.25\n"), "OK\n");
    EXPECT_EQ (harness.backend->calls.back(), "setParameter 7 0.25");
}

TEST (ProtocolLoop, RepliesOfTheUiWords)
{
    ProtocolHarness harness;
    harness.prepareLoaded = [] (FakeBackend& backend)
    {
        backend.parameterRecords = { { 1, "Gain", "G", 0, 0.5, 1 }, { 4294967295u, "Tab\there", "Line\nbreak", -1, 1e-05, -2 } };
        backend.results["resetSeek"] = { false, "seek reset activate failed" };
        backend.changes = 18446744073709551615ull;
        backend.editorOpen = true;
    };

    const auto output = harness.run (loadLine + "PARAMS\tignored\nRESET_SEEK\nBYPASS\t1\nBYPASS\tyes\nEDITOR_STATUS\n"
                                     "OPEN_EDITOR\ttitle\nSHOW_EDITOR\ttitle\nCLOSE_EDITOR\nFLUSH_PARAMS\nSERVICE_CONTROL\n");
    EXPECT_EQ (output, loadedReply
                           + "PARAM\t1\tGain\tG\t0\t0.5\t1\n"
                             "PARAM\t4294967295\tTab here\tLine break\t-1\t1e-05\t4294967294\n"
                             "OK\t2\n"
                             "ERR\tseek reset activate failed\n"
                             "OK\nOK\n"
                             "OK\t1\t18446744073709551615\n"
                             "OK\nOK\nOK\nOK\nOK\n");
    const std::vector<std::string> expectedCalls { "resetSeek", "setBypass 1", "setBypass 0", "serviceEditor",
                                                   "openNativeEditor title", "showNativeEditor title", "closeNativeEditor",
                                                   "flushParameters", "serviceControl" };
    EXPECT_EQ (harness.backend->calls, expectedCalls);
}

TEST (ProtocolLoop, SaveStateFlushesFirstAndRefusesWhatTheClientCannotTake)
{
    ProtocolHarness harness;
    harness.run (loadLine);
    auto& backend = *harness.backend;

    EXPECT_EQ (harness.run ("SAVE_STATE\n"), "OK\t" + backend.stateText + "\n");
    backend.stateText.clear();
    EXPECT_EQ (harness.run ("SAVE_STATE\n"), "ERR\tstate save failed\n");
    backend.stateText = std::string (orvane::vsthost::protocol::maxSavedStateTextLength, 'a');
    EXPECT_EQ (harness.run ("SAVE_STATE\n").size(), 3 + orvane::vsthost::protocol::maxSavedStateTextLength + 1);
    backend.stateText += "aa";
    EXPECT_EQ (harness.run ("SAVE_STATE\n"), "ERR\tVST3 state exceeds the 16 MiB transfer bound\n");
    backend.results["flushParameters"] = { false, "VST3 backend not configured" };
    EXPECT_EQ (harness.run ("SAVE_STATE\n"), "ERR\tVST3 backend not configured\n");
    EXPECT_EQ (backend.calls.back(), "flushParameters");
}

TEST (ProtocolLoop, ExceptionsBecomeOneLineErrorsAndTheLoopGoesOn)
{
    ProtocolHarness harness;
    harness.prepareLoaded = [] (FakeBackend& backend) { backend.throwOnInfo = true; };
    EXPECT_EQ (harness.run (loadLine + "PING\n"), "ERR\tinfo exploded on two lines\nOK\tORVANE_VST_HOST\t1\n");
}

TEST (ProtocolLoop, OverlongLinesAreDroppedAndAnswered)
{
    ProtocolHarness harness;
    const std::string longLine (orvane::vsthost::protocol::maxCommandLineLength + 1, 'x');
    EXPECT_EQ (harness.run (longLine + "\nPING\n" + longLine), "ERR\tcommand line too long\nOK\tORVANE_VST_HOST\t1\nERR\tcommand line too long\n");
}

TEST (ProtocolLoop, QuitEndsTheLoopAfterItsReply)
{
    ProtocolHarness harness;
    EXPECT_EQ (harness.run ("QUIT\tnow\nPING\n"), "OK\n");
    EXPECT_EQ (harness.run ("PING"), "OK\tORVANE_VST_HOST\t1\n");
}

TEST (ProtocolLoop, EditorRequestsAreBoundedAndReportThroughLiveStatus)
{
    ProtocolHarness harness;
    std::string input;

    for (int i = 0; i < 9; ++i)
        input += "OPEN_EDITOR_ASYNC\ttitle " + std::to_string (i) + "\n";

    input += "CLOSE_EDITOR_ASYNC\nLIVE_STATUS\n";
    std::string expected;

    for (int i = 0; i < 8; ++i)
        expected += "OK\n";

    expected += "ERR\teditor requests busy\nERR\teditor requests busy\nOK\t0\t0\t0\t8\t\t0\n";
    EXPECT_EQ (harness.run (input), expected);
    EXPECT_EQ (harness.posted.size(), 8u);

    harness.runPosted();
    EXPECT_EQ (harness.run ("LIVE_STATUS\n"), "OK\t0\t0\t0\t0\tno plugin loaded\t0\n");

    harness.run (loadLine);
    harness.backend->results["openNativeEditor"] = { false, "createView(kEditor) returned null\ttab\r\n" };
    harness.backend->changes = 5;
    harness.run ("OPEN_EDITOR_ASYNC\tVantrel! - VST 1\n");
    harness.runPosted();
    EXPECT_EQ (harness.backend->calls.back(), "openNativeEditor Vantrel! - VST 1");
    EXPECT_EQ (harness.run ("LIVE_STATUS\n"), "OK\t0\t5\t64\t0\tcreateView(kEditor) returned null tab  \t0\n");
}

TEST (ProtocolLoop, AnEditorRequestThatCannotBeQueuedIsNotCountedAsPending)
{
    ProtocolHarness harness;
    harness.postFails = true;
    EXPECT_EQ (harness.run ("OPEN_EDITOR_ASYNC\tx\nCLOSE_EDITOR_ASYNC\nLIVE_STATUS\n"),
               "ERR\tVST UI dispatcher unavailable\nERR\tVST UI dispatcher unavailable\nOK\t0\t0\t0\t0\t\t0\n");
}

TEST (ProtocolLoop, FloatFileExchange)
{
    TempFolder folder;
    const auto input = folder.file ("in.f32");
    const auto output = folder.file ("out.f32");
    const std::vector<float> samples { 0.5f, -0.25f, 1.0f, 2.0f };
    std::ofstream (input, std::ios::binary).write (reinterpret_cast<const char*> (samples.data()), 16);
    std::ofstream (folder.file ("odd.f32"), std::ios::binary) << "12345";
    std::ofstream (folder.file ("empty.f32"), std::ios::binary);
    std::ofstream (folder.file ("huge.f32"), std::ios::binary) << std::string (8388612, '\0');

    ProtocolHarness harness;
    harness.run (loadLine);
    const auto replies = harness.run ("PROCESS_F32_FILE\t" + input + "\t" + output + "\t2\t2\n"
                                      "PROCESS_F32_FILE\t" + folder.file ("missing") + "\t" + output + "\t2\t2\n"
                                      "PROCESS_F32_FILE\t" + folder.file ("odd.f32") + "\t" + output + "\t2\t2\n"
                                      "PROCESS_F32_FILE\t" + folder.file ("empty.f32") + "\t" + output + "\t2147483648\t2\n"
                                      "PROCESS_F32_FILE\t" + input + "\t" + folder.path().string() + "\t2\t2\n"
                                      "PROCESS_F32_FILE\t" + folder.file ("huge.f32") + "\t" + output + "\t1048577\t2\n");
    EXPECT_EQ (replies, "OK\t4\nERR\tinput read failed\nERR\tinput read failed\nERR\tinvalid process buffer shape\n"
                        "ERR\toutput write failed\nERR\tinput read failed\n");

    std::vector<float> written (4);
    std::ifstream (output, std::ios::binary).read (reinterpret_cast<char*> (written.data()), 16);
    EXPECT_EQ (written, (std::vector<float> { 1.0f, -0.5f, 2.0f, 4.0f }));
}
