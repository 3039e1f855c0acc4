// The editor's staged self-test: which "EDITOR_STAGE" marks reach standard error, in which
// order, for an editor that works and for each way one fails. Run in a process of its own (the
// orvane_editor_stage_probe fixture) so that its standard error can be read.
#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace vsthost_test;
using probe::Kind;

namespace
{
struct ProbeRun
{
    std::vector<std::string> stages;   // the marks, in order
    std::string result;                // "OK" or "ERR <message>"
    std::string verified;
    std::string open;
    std::string title;
};

ProbeRun runStageProbe (const std::string& displayName, const std::string& bundle, const std::string& classId,
                        const std::string& operation = {})
{
    TempFolder temp;
    vantrel::platform::PipedProcess process;
    vantrel::platform::PipedProcess::Options options;
    options.program = ORVANE_TEST_STAGE_PROBE;
    options.arguments = { bundle, classId };

    if (! operation.empty())
        options.arguments.push_back (operation);
    options.standardErrorPath = temp.file ("stderr.txt");

    if (displayName.empty())
        options.unsetEnvironment.push_back ("DISPLAY");
    else
        options.environment.push_back ({ "DISPLAY", displayName });

    std::string error;
    ProbeRun run;

    if (! process.start (options, error))
    {
        run.result = "not started: " + error;
        return run;
    }

    std::string output;
    char chunk[4096];

    for (long got; (got = process.readSome (chunk, sizeof (chunk), 20000)) > 0;)
        output.append (chunk, static_cast<std::size_t> (got));

    process.wait (20000);
    std::stringstream lines (output);

    for (std::string line; std::getline (lines, line);)
    {
        if (line.rfind ("RESULT ", 0) == 0)
            run.result = line.substr (7);
        else if (line.rfind ("VERIFIED ", 0) == 0)
            run.verified = line.substr (9);
        else if (line.rfind ("OPEN ", 0) == 0)
            run.open = line.substr (5);
        else if (line.rfind ("TITLE ", 0) == 0)
            run.title = line.substr (6);
    }

    std::ifstream standardError (temp.file ("stderr.txt"));

    for (std::string line; std::getline (standardError, line);)
        if (line.rfind ("EDITOR_STAGE ", 0) == 0)
            run.stages.push_back (line.substr (13));

    return run;
}

const std::vector<std::string> upToCreateView { "com.preinitialized.beforeModuleLoad", "createView.begin" };
const std::vector<std::string> upToWindow { "com.preinitialized.beforeModuleLoad", "createView.begin", "createView.pass",
                                            "getSize.begin", "getSize.pass", "platform.begin", "platform.pass",
                                            "window.begin" };

std::vector<std::string> joined (std::vector<std::string> first, const std::vector<std::string>& second)
{
    first.insert (first.end(), second.begin(), second.end());
    return first;
}

const std::vector<std::string> releaseView { "teardown.setFrameNull.begin", "teardown.setFrameNull.pass",
                                             "teardown.viewRelease.begin", "teardown.viewRelease.pass" };
const std::vector<std::string> destroyWindow { "teardown.destroyWindow.begin", "teardown.destroyWindow.pass" };
} // namespace

TEST (EditorProbe, AWorkingEditorPassesEveryStageInOrder)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);

    for (const auto& [bundle, classId] : { std::pair { gainBundle(), gainClassId },
                                           std::pair { probeBundle(), probe::classIdText (Kind::editorView) } })
    {
        SCOPED_TRACE (classId);
        const auto run = runStageProbe (display.name(), bundle, classId);
        const std::vector<std::string> expected = joined (
            joined (upToWindow, { "window.pass", "setFrame.begin", "setFrame.pass", "attached.begin", "attached.pass",
                                  "messagePump.begin", "messagePump.pass", "canResize.begin", "canResize.pass",
                                  "teardown.setFrameNull.begin", "teardown.setFrameNull.pass", "teardown.removed.begin",
                                  "teardown.removed.pass", "teardown.viewRelease.begin", "teardown.viewRelease.pass" }),
            destroyWindow);
        EXPECT_EQ (run.stages, expected);
        EXPECT_EQ (run.result, "OK");
        EXPECT_EQ (run.verified, "1");
        EXPECT_EQ (run.open, "0");   // the probe never leaves an editor open
        EXPECT_TRUE (display.editorWindows().empty());
    }
}

TEST (EditorProbe, EachFailureStopsAtItsStageAndTearsDownWhatExists)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);

    struct Case
    {
        Kind kind;
        bool withDisplay;
        std::vector<std::string> stages;
        std::string result;
    };

    const Case cases[] = {
        { Kind::noController, true, {}, "ERR IEditController unavailable" },
        { Kind::fxStereo, true, upToCreateView, "ERR createView(kEditor) returned null" },
        { Kind::editorZeroSize, true,
          joined ({ "com.preinitialized.beforeModuleLoad", "createView.begin", "createView.pass", "getSize.begin" }, releaseView),
          "ERR native editor size unavailable" },
        { Kind::editorNoX11, true,
          joined ({ "com.preinitialized.beforeModuleLoad", "createView.begin", "createView.pass", "getSize.begin",
                    "getSize.pass", "platform.begin" },
                  releaseView),
          "ERR VST3 editor does not support HWND" },
        { Kind::editorView, false, joined (upToWindow, releaseView), "ERR hidden HWND creation failed" },
        { Kind::editorSetFrameFails, true,
          joined (joined (upToWindow, { "window.pass", "setFrame.begin" }), joined (releaseView, destroyWindow)),
          "ERR IPlugView::setFrame failed" },
        { Kind::editorAttachFails, true,
          joined (joined (upToWindow, { "window.pass", "setFrame.begin", "setFrame.pass", "attached.begin" }),
                  joined (releaseView, destroyWindow)),
          "ERR IPlugView::attached(HWND) failed" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.result);
        const auto run = runStageProbe (c.withDisplay ? display.name() : "", probeBundle(), probe::classIdText (c.kind));
        EXPECT_EQ (run.stages, c.stages);
        EXPECT_EQ (run.result, c.result);
        EXPECT_EQ (run.verified, "0");
    }
}

TEST (EditorProbe, AnOpenAfterTheCloseBoxShowsAFreshEditorInsteadOfOneAboutToGo)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);

    // The close message reaches the worker before the second open, but nothing has serviced the
    // window yet when the open runs.
    for (const auto& [bundle, classId] : { std::pair { gainBundle(), gainClassId },
                                           std::pair { probeBundle(), probe::classIdText (Kind::editorView) } })
    {
        SCOPED_TRACE (classId);
        const auto run = runStageProbe (display.name(), bundle, classId, "reopen-after-close");
        EXPECT_EQ (run.result, "OK");
        EXPECT_EQ (run.open, "1");
        EXPECT_EQ (run.title, "second");   // a fresh window: the old one would keep "first"
        EXPECT_TRUE (run.stages.empty());
    }
}
