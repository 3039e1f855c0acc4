// Scanning and loading through the real worker: which classes are listed and loadable, the id
// text, module-level failures, the parameter bound, and what a failed load leaves behind.
#include "ProbeClasses.h"
#include "WorkerHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

using namespace vsthost_test;
using probe::Kind;

namespace
{
std::string loadLine (Kind kind)
{
    return "LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (kind);
}
} // namespace

TEST (WorkerScan, ListsExactlyTheAcceptedEffectClasses)
{
    WorkerSession worker;
    const auto reply = worker.command ("SCAN_VST3\t" + probeBundle());
    ASSERT_TRUE (reply.ok()) << reply.final();

    std::vector<std::string> ids;

    for (std::size_t i = 0; i + 1 < reply.lines.size(); ++i)
    {
        const auto fields = tabFields (reply.lines[i]);
        ASSERT_EQ (fields.size(), 6u) << reply.lines[i];
        EXPECT_EQ (fields[0], "CLASS");
        EXPECT_EQ (fields[2].rfind ("Probe ", 0), 0u);
        EXPECT_EQ (fields[3], "Orvane Test Probes");
        EXPECT_EQ (fields[4], "1.2.3");
        ids.push_back (fields[1]);
    }

    // Instruments, OnlyRT classes, controllers and "Fx" outside the effect category are left out;
    // empty sub-category pieces do not matter.
    std::vector<std::string> expected;

    for (auto k = 1u; k <= static_cast<unsigned> (Kind::last); ++k)
    {
        const auto kind = static_cast<Kind> (k);

        if (kind != Kind::instrument && kind != Kind::fxOnlyRt && kind != Kind::fxOtherCategory)
            expected.push_back (probe::classIdText (kind));
    }

    EXPECT_EQ (ids, expected);
    EXPECT_EQ (reply.final(), "OK\t" + std::to_string (expected.size()));
    EXPECT_EQ (reply.lines[0], "CLASS\t" + probe::classIdText (Kind::fxStereo) + "\tProbe FxStereo\tOrvane Test Probes\t1.2.3\tFx|Dynamics");
    EXPECT_NE (std::find (reply.lines.begin(), reply.lines.end(),
                          "CLASS\t" + probe::classIdText (Kind::fxEmptyPieces) + "\tProbe FxEmptyPieces\tOrvane Test Probes\t1.2.3\tFx||Dynamics"),
               reply.lines.end());
}

TEST (WorkerScan, ModuleFailuresGiveOneErrorLineAndTheWorkerGoesOn)
{
    TempFolder files;
    const auto noContents = files.path() / "Empty.vst3";
    std::filesystem::create_directories (noContents);
    const auto plainFile = files.file ("NotABundle.vst3");
    std::ofstream (plainFile) << "garbage";

    struct ScanCase
    {
        std::string path;
        std::string errorStart;
    };

    const std::vector<ScanCase> cases {
        { probeBundle ("OrvaneProbeRefused"), "no supported VST3 insert Audio Effect class found" },
        { probeBundle ("OrvaneProbeEntryFails"), "Calling 'ModuleEntry' failed" },
        { probeBundle ("OrvaneProbeNoFactory"), "The shared library does not export the required 'GetPluginFactory' function" },
        { noContents.string(), "VST3 bundle has no library for this machine: " },
        { plainFile, "dlopen failed: " },
        { files.file ("missing.vst3"), "VST3 module not found: " },
    };

    WorkerSession worker;

    for (const auto& c : cases)
    {
        const auto reply = worker.command ("SCAN_VST3\t" + c.path);
        ASSERT_EQ (reply.lines.size(), 1u) << c.path;
        EXPECT_EQ (reply.error().rfind (c.errorStart, 0), 0u) << reply.final();
        EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
    }
}

TEST (WorkerLoad, TheScannedIdLoadsAndScanningLeavesTheLoadedPluginAlone)
{
    WorkerSession worker;
    const auto id = probe::classIdText (Kind::fxStereo);
    EXPECT_EQ (worker.command (loadLine (Kind::fxStereo)).final(), "OK\t" + id);
    EXPECT_TRUE (worker.command ("SCAN_VST3\t" + probeBundle()).ok());
    EXPECT_EQ (worker.command ("INFO").final(), "OK\t" + id + "\tProbe FxStereo\tOrvane Test Probes\t1.2.3\t64\t32\t0");

    // Lower-case digits name the same class; the reply carries the canonical text.
    std::string lower = id;
    std::transform (lower.begin(), lower.end(), lower.begin(), [] (char c) { return static_cast<char> (std::tolower (c)); });
    EXPECT_EQ (worker.command ("LOAD_VST3\t" + probeBundle() + "\t" + lower).final(), "OK\t" + id);

    // A second accepted class of the same module.
    EXPECT_EQ (worker.command (loadLine (Kind::fxEmptyPieces)).final(), "OK\t" + probe::classIdText (Kind::fxEmptyPieces));

    const auto log = worker.probeLog();
    EXPECT_NE (std::find (log.begin(), log.end(), "component.initialize host=Orvane VST Host thread=ui"), log.end());
    EXPECT_NE (std::find (log.begin(), log.end(), "controller.notify id=hello answer=42 thread=ui"), log.end());
    EXPECT_NE (std::find (log.begin(), log.end(), "factory.setHostContext set thread=ui"), log.end());
}

TEST (WorkerLoad, RefusedAndMalformedIdsFailAndDropTheOldPlugin)
{
    const std::string notFound = "requested VST3 insert Audio Effect class UID not found or outside initial scope";
    const auto good = probe::classIdText (Kind::fxStereo);
    const std::vector<std::string> ids {
        probe::classIdText (Kind::instrument),
        probe::classIdText (Kind::fxOnlyRt),
        probe::classIdText (Kind::fxOtherCategory),
        "4F525650435452310000000000000001",   // the controller class of FxStereo
        good.substr (0, 31),
        good + "1",
        "+" + good.substr (1),
        good.substr (0, 31) + "G",
        "00000000000000000000000000000000",
    };

    for (const auto& id : ids)
    {
        WorkerSession worker;
        ASSERT_TRUE (worker.command (loadLine (Kind::fxStereo)).ok());
        EXPECT_EQ (worker.command ("LOAD_VST3\t" + probeBundle() + "\t" + id).error(), notFound) << id;
        EXPECT_EQ (worker.command ("INFO").error(), "no plugin loaded") << id;
    }
}

TEST (WorkerLoad, InitialisationFailuresAndTheParameterBound)
{
    struct LoadCase
    {
        Kind kind;
        std::string reply;
    };

    const std::vector<LoadCase> cases {
        { Kind::failsInit, "ERR\tPlugProvider initialize failed" },
        { Kind::params16385, "ERR\tplug-in parameter count exceeds Gate2.2 safety bound" },
        { Kind::params16384, "OK\t" + probe::classIdText (Kind::params16384) },
        { Kind::noController, "OK\t" + probe::classIdText (Kind::noController) },
    };

    WorkerSession worker;

    for (const auto& c : cases)
        EXPECT_EQ (worker.command (loadLine (c.kind)).final(), c.reply) << probe::classIdText (c.kind);

    // The component-only class: no handler, no parameters, the editor unavailable.
    EXPECT_EQ (worker.command ("PARAMS").final(), "OK\t0");
    EXPECT_EQ (worker.command ("SET_PARAM\t0\t0.5").error(), "IEditController unavailable");
    EXPECT_EQ (worker.command ("OPEN_EDITOR\tTitle").error(), "IEditController unavailable");
    EXPECT_TRUE (worker.command ("CONFIG\t48000\t2\t256\trealtime").ok());
    const auto input = testSignal (256);
    const auto block = worker.process ("1", 256, input);
    ASSERT_TRUE (block.ok) << block.header;
    EXPECT_EQ (block.samples, input);   // unity gain by default

    EXPECT_NE (worker.standardError().find ("Failed to initialize component of Probe FailsInit!"), std::string::npos);
}

TEST (WorkerLoad, SixteenThousandParametersAreListed)
{
    WorkerSession worker;
    ASSERT_TRUE (worker.command (loadLine (Kind::params16384)).ok());
    const auto reply = worker.command ("PARAMS");
    ASSERT_EQ (reply.lines.size(), 16385u);
    EXPECT_EQ (reply.lines[16383], "PARAM\t16383\tP16383\tP16\t0\t0.5\t1");
    EXPECT_EQ (reply.final(), "OK\t16384");
}
