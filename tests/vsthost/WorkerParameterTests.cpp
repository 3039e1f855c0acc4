// Parameters and the control service through the real worker: the parameter table, host and
// plug-in edits, the change counter the client polls, restart requests, and LIVE_STATUS while
// the UI thread is held by the plug-in.
#include "EditorTestSupport.h"
#include "ProbeClasses.h"
#include "WorkerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

using namespace vsthost_test;
using probe::Kind;

namespace
{
std::string loadLine (Kind kind)
{
    return "LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (kind);
}

std::string action (int code)
{
    return "SET_PARAM\t" + std::to_string (probe::actionParameter) + "\t" + std::to_string (probe::actionValue (code));
}

/** LIVE_STATUS field 2, the change count. */
std::string changeCount (WorkerSession& worker)
{
    const auto fields = worker.command ("LIVE_STATUS").fields();
    return fields.size() == 7 ? fields[2] : "<bad LIVE_STATUS>";
}

std::vector<std::string> processLines (const WorkerSession& worker)
{
    std::vector<std::string> found;

    for (const auto& line : worker.probeLog())
        if (line.rfind ("process frames=", 0) == 0)
            found.push_back (line);

    return found;
}

bool logHas (const WorkerSession& worker, const std::string& line)
{
    const auto log = worker.probeLog();
    return std::find (log.begin(), log.end(), line) != log.end();
}
} // namespace

TEST (WorkerParameters, TableLinesAndHostEdits)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    const auto table = worker.command ("PARAMS");
    const std::vector<std::string> expected {
        "PARAM\t0\tGain\tGai\t0\t0.5\t1",
        "PARAM\t1\tPadding Bytes\tPad\t0\t0\t1",
        "PARAM\t2\tMeter\tMet\t0\t0\t2",
        "PARAM\t3\tAction\tAct\t4096\t1e-05\t0",
        "OK\t4",
    };
    EXPECT_EQ (table.lines, expected);

    struct EditCase
    {
        std::string fields;
        std::string reply;
        std::string countAfter;
    };

    const std::vector<EditCase> cases {
        { "0\t1.0", "OK", "1" },
        { "0\t0", "OK", "2" },
        { "0\t1.0000001", "ERR\tnormalized parameter value outside [0,1]", "2" },
        { "0\tnan", "ERR\tnormalized parameter value outside [0,1]", "2" },
        { "0\t-inf", "ERR\tnormalized parameter value outside [0,1]", "2" },
        { "99\t0.5", "ERR\tunknown parameter id", "2" },
        { "2\t0.5", "ERR\tparameter is read-only", "2" },
        { "4294967296\t0.5", "ERR\tstoul argument out of range", "2" },
        { "1\t0.5", "OK", "3" },
    };

    for (const auto& c : cases)
    {
        EXPECT_EQ (worker.command ("SET_PARAM\t" + c.fields).final(), c.reply) << c.fields;
        EXPECT_EQ (changeCount (worker), c.countAfter) << c.fields;
    }
}

TEST (WorkerParameters, ManyEditsBeforeOneBlockReachTheProcessorAsTheLastValue)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t128\trealtime").ok());

    for (const auto* value : { "0.1", "0.2", "0.3", "0.4", "0.375" })
        ASSERT_TRUE (worker.command (std::string ("SET_PARAM\t0\t") + value).ok());

    const auto input = testSignal (128);
    const auto block = worker.process ("p", 128, input);
    ASSERT_TRUE (block.ok);

    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ (block.samples[i], input[i] * 0.75f) << i;

    const auto processes = processLines (worker);
    ASSERT_EQ (processes.size(), 1u);
    EXPECT_NE (processes[0].find ("changes=0:0.375@0, "), std::string::npos) << processes[0];
    EXPECT_EQ (changeCount (worker), "5");
}

TEST (WorkerParameters, PluginEditsAndDirtyNotificationsRaiseTheCounter)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t64\trealtime").ok());

    // Each action is itself a host edit (+1); the plug-in's own reports add to that.
    ASSERT_TRUE (worker.command (action (probe::actionPerformEdit)).ok());
    EXPECT_EQ (changeCount (worker), "2");
    ASSERT_TRUE (worker.command (action (probe::actionPerformEditOutOfRange)).ok());
    EXPECT_EQ (changeCount (worker), "3");
    EXPECT_TRUE (logHas (worker, "performEdit result=2 thread=ui"));   // kInvalidArgument
    ASSERT_TRUE (worker.command (action (probe::actionSetDirty)).ok());
    ASSERT_TRUE (worker.command (action (probe::actionSetDirty)).ok());
    EXPECT_EQ (changeCount (worker), "7");
    ASSERT_TRUE (worker.command (action (probe::actionClearDirty)).ok());
    EXPECT_EQ (changeCount (worker), "8");

    // The editor-side edit reaches the processor with the next block.
    const auto input = testSignal (64);
    const auto block = worker.process ("e", 64, input);
    ASSERT_TRUE (block.ok);
    EXPECT_EQ (block.samples[10], input[10] * 1.5f);
    EXPECT_NE (processLines (worker).back().find ("0:0.75@0,"), std::string::npos) << processLines (worker).back();
}

TEST (WorkerParameters, RestartRequestsAreServedWithoutACommandFromTheClient)
{
    // Each request is raised by the plug-in's controller (inside SET_PARAM of its action
    // parameter) and must be served by the worker's own periodic service: what is polled below
    // flushes nothing and asks for no control service.
    const auto setups = [] (const WorkerSession& worker)
    {
        std::size_t count = 0;

        for (const auto& line : worker.probeLog())
            count += line.rfind ("setupProcessing mode=0 max=64", 0) == 0 ? 1 : 0;

        return count;
    };

    struct RestartCase
    {
        const char* name;
        int actionCode;
        std::function<bool (WorkerSession&)> served;
        bool keepsPosition;   // the processing was set up again and the stream position went on
    };

    const std::vector<RestartCase> cases {
        { "component reload (with parameter values)", 1 | 4,
          [] (WorkerSession& worker)
          {
              const auto fields = worker.command ("LIVE_STATUS").fields();
              return fields.size() == 7 && fields[6] == "1";
          },
          false },
        { "I/O change", 2, [&] (WorkerSession& worker) { return setups (worker) == 2; }, true },
        { "prefetch support change", 256, [&] (WorkerSession& worker) { return setups (worker) == 2; }, true },
        { "parameter values", probe::actionGrowParametersValues,
          [] (WorkerSession& worker) { return worker.command ("PARAMS").final() == "OK\t68"; }, false },
        { "parameter titles", probe::actionGrowParameters,
          [] (WorkerSession& worker) { return worker.command ("PARAMS").final() == "OK\t68"; }, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        // Each case on its own: a failed step ends only its case.
        [&]
        {
            WorkerSession worker;
            ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
            ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t64\trealtime").ok());
            ASSERT_TRUE (worker.process ("before", 64, testSignal (64)).ok);
            ASSERT_NE (worker.command ("LIVE_STATUS").fields().back(), "1");
            ASSERT_TRUE (worker.command (action (c.actionCode)).ok());
            ASSERT_TRUE (waitUntil ([&] { return c.served (worker); }, 30000));

            const auto input = testSignal (64, 3);
            const auto block = worker.process ("after", 64, input);
            ASSERT_TRUE (block.ok) << block.header;
            EXPECT_EQ (block.samples, input);

            if (c.keepsPosition)
            {
                EXPECT_NE (processLines (worker).back().find (" pos=64 "), std::string::npos) << processLines (worker).back();
            }
        }();
    }
}

TEST (WorkerParameters, AReloadRequestStaysReportedAndTheStateCanStillBeSaved)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t64\trealtime").ok());
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.25").ok());

    // The save right after the request (whether the periodic service took it first or the
    // save's own flush meets it) holds the plug-in's state, and the request stays reported.
    worker.send (action (1 | 4) + "\nSAVE_STATE\n");
    EXPECT_EQ (worker.readLine(), "OK");
    const auto saved = worker.readLine();
    ASSERT_EQ (saved.rfind ("OK\t", 0), 0u) << saved;
    EXPECT_EQ (worker.command ("LIVE_STATUS").fields().back(), "1");

    // A second save while the request stands; both hold the change made before them.
    const auto again = worker.command ("SAVE_STATE");
    ASSERT_TRUE (again.ok()) << again.final();
    EXPECT_EQ (again.final(), saved);
    EXPECT_EQ (worker.command ("LIVE_STATUS").fields().back(), "1");

    WorkerSession fresh;
    ASSERT_TRUE (fresh.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (fresh.command ("CONFIG\t48000\t2\t64\trealtime").ok());
    ASSERT_TRUE (fresh.command ("LOAD_STATE\t" + saved.substr (3)).ok());
    EXPECT_EQ (fresh.command ("LIVE_STATUS").fields().back(), "0");
    const auto input = testSignal (64);
    const auto block = fresh.process ("r", 64, input);
    ASSERT_TRUE (block.ok);

    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ (block.samples[i], input[i] * 0.5f) << i;
}

TEST (WorkerParameters, IoChangesReconfigureAndKeepThePosition)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());

    // Not configured yet: the flush refuses, the control service answers the prefetch check.
    ASSERT_TRUE (worker.command (action (2)).ok());
    EXPECT_EQ (worker.command ("FLUSH_PARAMS").error(), "VST3 backend not configured");
    ASSERT_TRUE (worker.command (action (2)).ok());
    EXPECT_TRUE (worker.command ("SERVICE_CONTROL").ok());

    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512\trealtime").ok());
    ASSERT_TRUE (worker.process ("1", 512, testSignal (512)).ok);
    ASSERT_TRUE (worker.command (action (2)).ok());
    ASSERT_TRUE (worker.command ("FLUSH_PARAMS").ok());
    ASSERT_TRUE (worker.process ("2", 512, testSignal (512)).ok);

    std::size_t setups = 0;

    for (const auto& line : worker.probeLog())
        setups += line.rfind ("setupProcessing mode=0 max=512", 0) == 0 ? 1 : 0;

    EXPECT_EQ (setups, 2u);

    // The flush carried the action parameter's own change in one silent frame, which the
    // position counts; the reconfiguration kept it.
    const auto lines = processLines (worker);
    ASSERT_GE (lines.size(), 2u);
    EXPECT_EQ (lines[lines.size() - 2].rfind ("process frames=1 mode=0 pos=512 ", 0), 0u) << lines[lines.size() - 2];
    EXPECT_NE (lines.back().find (" pos=513 "), std::string::npos) << lines.back();
}

TEST (WorkerParameters, GrownParameterTablesAreReadAgainAndTheirEditsArrive)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t64\trealtime").ok());
    ASSERT_TRUE (worker.command (action (probe::actionGrowParameters)).ok());
    ASSERT_TRUE (waitUntil ([&] { return worker.command ("PARAMS").final() == "OK\t68"; }, 30000));

    // Edits of every new parameter before one block: none is lost.
    for (int id = 100; id < 164; ++id)
        ASSERT_TRUE (worker.command ("SET_PARAM\t" + std::to_string (id) + "\t0.5").ok()) << id;

    ASSERT_TRUE (worker.process ("g", 64, testSignal (64)).ok);
    const auto line = processLines (worker).back();

    for (int id = 100; id < 164; ++id)
        EXPECT_NE (line.find (std::to_string (id) + ":0.5@0,"), std::string::npos) << id;
}

TEST (WorkerParameters, LiveStatusIsAnsweredWhileThePluginHoldsTheUiThread)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t64\trealtime").ok());
    EXPECT_EQ (worker.command ("LIVE_STATUS").final(), "OK\t0\t0\t64\t0\t\t0");

    // The next meter value the processor reports blocks the controller on the UI thread (inside
    // the idle service) until the gate file appears.
    ASSERT_TRUE (worker.command (action (probe::actionBlockNextMeter)).ok());
    ASSERT_TRUE (worker.process ("m", 64, testSignal (64)).ok);
    ASSERT_TRUE (worker.waitForProbeLog ("busy.begin"));

    EXPECT_EQ (worker.command ("LIVE_STATUS").final(), "OK\t0\t1\t64\t0\t\t0");
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
    const auto input = testSignal (64, 5);
    const auto block = worker.process ("during", 64, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, input);
    EXPECT_EQ (worker.command ("OPEN_EDITOR_ASYNC\tT").final(), "OK");
    EXPECT_EQ (worker.command ("LIVE_STATUS").fields()[4], "1");
    EXPECT_FALSE (logHas (worker, "busy.end thread=ui"));

    std::ofstream (worker.probeGatePath()) << "go";
    EXPECT_TRUE (worker.command ("INFO").ok());
    EXPECT_TRUE (logHas (worker, "busy.end thread=ui"));

    // The queued editor request runs once the UI thread takes it (synchronous commands such as
    // INFO overtake it) and reports the editor is not available.
    std::vector<std::string> status;
    EXPECT_TRUE (waitUntil ([&] {
        status = worker.command ("LIVE_STATUS").fields();
        return status.size() != 7 || status[4] == "0";
    }, requestPatienceMs));
    ASSERT_EQ (status.size(), 7u);
    EXPECT_EQ (status[4], "0");
    EXPECT_EQ (status[5], "createView(kEditor) returned null");
}

TEST (WorkerParameters, LiveStatusKeepsTheLastValuesAfterAFailedLoad)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
    ASSERT_TRUE (worker.command ("SET_PARAM\t0\t0.5").ok());
    EXPECT_EQ (worker.command ("LIVE_STATUS").final(), "OK\t0\t1\t64\t0\t\t0");
    EXPECT_FALSE (worker.command (loadLine (Kind::failsInit)).ok());
    EXPECT_EQ (worker.command ("INFO").error(), "no plugin loaded");
    EXPECT_EQ (worker.command ("LIVE_STATUS").final(), "OK\t0\t1\t64\t0\t\t0");
}
