// Editor requests that cannot be served, or not yet: the bound on pending requests, plug-ins
// whose editor cannot be shown, and no X display. In every case the worker keeps serving audio.
#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include "pluginterfaces/base/funknown.h"

#include <filesystem>
#include <fstream>

using namespace vsthost_test;
using probe::Kind;

namespace
{
std::size_t countLines (const std::vector<std::string>& lines, const std::string& text)
{
    std::size_t count = 0;

    for (const auto& line : lines)
        if (line.find (text) != std::string::npos)
            ++count;

    return count;
}

/** Position of the first log line containing `text`, or the number of lines. */
std::size_t firstLine (const std::vector<std::string>& lines, const std::string& text)
{
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find (text) != std::string::npos)
            return i;

    return lines.size();
}
} // namespace

TEST (EditorRequests, EightPendingRequestsMakeTheNextOnesBusyWhileAudioFlows)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    WorkerSession worker (workerOnDisplay (display.name()));
    ASSERT_TRUE (worker.command (loadProbeLine (Kind::editorSlowAttach)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512").ok());

    // The first open holds the UI thread inside the view's attached until the gate opens.
    ASSERT_EQ (worker.command ("OPEN_EDITOR_ASYNC\tslow").final(), "OK");
    ASSERT_TRUE (worker.waitForProbeLog ("view.attached"));

    for (int i = 1; i < 8; ++i)
        EXPECT_EQ (worker.command (i % 2 == 1 ? "CLOSE_EDITOR_ASYNC" : "OPEN_EDITOR_ASYNC\tagain").final(), "OK") << i;

    EXPECT_EQ (worker.command ("OPEN_EDITOR_ASYNC\tninth").final(), "ERR\teditor requests busy");
    EXPECT_EQ (worker.command ("CLOSE_EDITOR_ASYNC").final(), "ERR\teditor requests busy");
    EXPECT_EQ (liveStatus (worker)[4], "8");
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
    EXPECT_TRUE (audioFlowsUnchanged (worker, "busy"));

    std::ofstream (worker.probeGatePath()) << "open";
    const auto status = settledLiveStatus (worker, 20000);
    ASSERT_EQ (status.size(), 7u);
    EXPECT_EQ (status[4], "0");
    EXPECT_EQ (status[1], "0");   // the last of the eight was a close
    EXPECT_EQ (status[5], "");
    EXPECT_TRUE (display.editorWindows().empty());

    // Four opens and four closes: every open attached a view and every close released it.
    const auto log = worker.probeLog();
    EXPECT_EQ (countLines (log, "view.attached"), 4u);
    EXPECT_EQ (countLines (log, "view.removed"), 4u);
    EXPECT_EQ (countLines (log, "view.destroyed"), 4u);
    EXPECT_EQ (worker.command ("OPEN_EDITOR_ASYNC\tafter").final(), "OK");
    EXPECT_EQ (settledLiveStatus (worker)[1], "1");
    EXPECT_EQ (worker.finish().exitCode, 0);
}

TEST (EditorRequests, EditorsThatCannotBeShownGiveTheirTextsAndLeaveNothingBehind)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);

    struct Case
    {
        Kind kind;
        const char* error;
        bool createsView;
        bool attaches;
    };

    const Case cases[] = {
        { Kind::fxStereo, "createView(kEditor) returned null", false, false },
        { Kind::noController, "IEditController unavailable", false, false },
        { Kind::editorNoX11, "VST3 editor does not support HWND", true, false },
        { Kind::editorZeroSize, "native editor size unavailable", true, false },
        { Kind::editorSetFrameFails, "IPlugView::setFrame failed", true, false },
        { Kind::editorAttachFails, "IPlugView::attached(HWND) failed", true, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.error);
        WorkerSession worker (workerOnDisplay (display.name()));
        ASSERT_TRUE (worker.command (loadProbeLine (c.kind)).ok());
        ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512").ok());

        EXPECT_EQ (worker.command ("OPEN_EDITOR_ASYNC\tfails").final(), "OK");
        auto status = settledLiveStatus (worker);
        ASSERT_EQ (status.size(), 7u);
        EXPECT_EQ (status[1], "0");
        EXPECT_EQ (status[5], c.error);
        EXPECT_EQ (worker.command ("OPEN_EDITOR\tfails").error(), c.error);
        EXPECT_EQ (worker.command ("EDITOR_STATUS").final(), "OK\t0\t0");
        EXPECT_EQ (worker.command ("INFO").fields().back(), "0");   // never verified
        EXPECT_TRUE (display.editorWindows().empty());
        EXPECT_TRUE (audioFlowsUnchanged (worker, "still"));

        // A successful request clears the recorded error.
        EXPECT_EQ (worker.command ("CLOSE_EDITOR_ASYNC").final(), "OK");
        EXPECT_EQ (settledLiveStatus (worker)[5], "");

        const auto log = worker.probeLog();
        EXPECT_EQ (countLines (log, "view.destroyed"), c.createsView ? 2u : 0u);
        EXPECT_EQ (countLines (log, "view.attached"), c.attaches ? 2u : 0u);
        EXPECT_EQ (countLines (log, "view.removed"), 0u);   // a view that never attached is not removed
        EXPECT_EQ (worker.finish().exitCode, 0);
    }
}

TEST (EditorRequests, WithoutAnXDisplayTheEditorFailsClearlyAndAudioGoesOn)
{
    // A dead display: a number outside the range the private servers take, with no server socket
    // or lock file. (Stopping a private server and reusing its number races with the tests that
    // start servers in parallel: they may take the number again.)
    std::string deadDisplay;
    for (int number = 65000; deadDisplay.empty() && number < 65100; ++number)
    {
        const auto suffix = std::to_string (number);
        std::error_code error;
        if (! std::filesystem::exists ("/tmp/.X11-unix/X" + suffix, error) && ! std::filesystem::exists ("/tmp/.X" + suffix + "-lock", error))
            deadDisplay = ":" + suffix;
    }
    ASSERT_FALSE (deadDisplay.empty());

    struct Case
    {
        std::string display;
        std::string loadLine;
        std::string stderrText;
    };

    const Case cases[] = {
        { "", loadGainLine(), "DISPLAY is not set" },
        { deadDisplay, loadGainLine(), "cannot open X display \"" + deadDisplay + "\"" },
        { "", loadProbeLine (Kind::editorView), "DISPLAY is not set" },
        { deadDisplay, loadProbeLine (Kind::editorView), "cannot open X display" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.loadLine + " on \"" + c.display + "\"");
        WorkerSession worker (workerOnDisplay (c.display));
        ASSERT_TRUE (worker.command (c.loadLine).ok());
        ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512").ok());

        EXPECT_EQ (worker.command ("OPEN_EDITOR\tnowhere").error(), "VST3 editor host window creation failed");
        EXPECT_EQ (worker.command ("OPEN_EDITOR_ASYNC\tnowhere").final(), "OK");
        const auto status = settledLiveStatus (worker);
        ASSERT_EQ (status.size(), 7u);
        EXPECT_EQ (status[1], "0");
        EXPECT_EQ (status[5], "VST3 editor host window creation failed");
        EXPECT_EQ (worker.command ("SHOW_EDITOR\tnowhere").error(), "VST3 editor host window creation failed");
        EXPECT_TRUE (audioFlowsUnchanged (worker, "headless"));
        EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
        EXPECT_EQ (worker.finish().exitCode, 0);
        EXPECT_NE (worker.standardError().find (c.stderrText), std::string::npos) << worker.standardError();
    }
}

TEST (EditorRequests, TheViewGetsTheRunLoopAndOnlyItsOwnResizeRequests)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    WorkerSession worker (workerOnDisplay (display.name()));
    ASSERT_TRUE (worker.command (loadProbeLine (Kind::editorView)).ok());
    ASSERT_EQ (worker.command ("OPEN_EDITOR\t").final(), "OK");   // an empty title

    auto log = worker.probeLog();
    EXPECT_EQ (countLines (log, "view.runLoop timer=0 thread=ui"), 1u);
    EXPECT_EQ (countLines (log, "view.resizeView foreign=" + std::to_string (Steinberg::kInvalidArgument)), 1u);
    EXPECT_EQ (countLines (log, "view.resizeView own=0"), 1u);
    EXPECT_EQ (countLines (log, "view.onSize"), 1u);
    EXPECT_EQ (countLines (log, "view.onSize " + std::to_string (probe::editorResizedWidth) + "x"
                                    + std::to_string (probe::editorResizedHeight)),
               1u);
    EXPECT_TRUE (worker.waitForProbeLog ("view.timer thread=ui")) << "the run loop never served the view's timer";

    auto windows = display.editorWindows();
    ASSERT_EQ (windows.size(), 1u);
    EXPECT_EQ (windows[0].title, "Orvane VST3");
    EXPECT_EQ (windows[0].width, probe::editorResizedWidth);
    EXPECT_EQ (windows[0].height, probe::editorResizedHeight);

    // A user dragging the border resizes the window but never the view.
    ASSERT_TRUE (display.inspector().resizeWindow (windows[0].id, 500, 450));
    EXPECT_TRUE (waitUntil ([&] { return display.editorWindows().at (0).width == 500; }));

    for (int i = 0; i < 5; ++i)
        EXPECT_EQ (worker.command ("EDITOR_STATUS").final(), "OK\t1\t0");

    EXPECT_EQ (countLines (worker.probeLog(), "view.onSize"), 1u);

    // The teardown detaches the frame, removes the view, then releases it.
    EXPECT_EQ (worker.command ("CLOSE_EDITOR").final(), "OK");
    log = worker.probeLog();
    const auto frameNull = firstLine (log, "view.setFrame null");
    const auto removed = firstLine (log, "view.removed");
    const auto destroyed = firstLine (log, "view.destroyed");
    EXPECT_LT (frameNull, removed);
    EXPECT_LT (removed, destroyed);
    EXPECT_LT (destroyed, log.size());
    EXPECT_TRUE (display.editorWindows().empty());
    EXPECT_EQ (worker.finish().exitCode, 0);
}

TEST (EditorRequests, TheXServerGoingAwayEndsTheEditorButNotTheWorker)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    WorkerSession worker (workerOnDisplay (display.name()));
    ASSERT_TRUE (worker.command (loadProbeLine (Kind::editorView)).ok());
    ASSERT_TRUE (worker.command ("CONFIG\t48000\t2\t512").ok());
    ASSERT_EQ (worker.command ("OPEN_EDITOR\tdoomed").final(), "OK");

    display.stop();

    EXPECT_TRUE (waitUntil ([&] { return liveStatus (worker)[1] == "0"; })) << "the editor outlived its X server";
    EXPECT_TRUE (worker.waitForProbeLog ("view.destroyed"));
    EXPECT_TRUE (audioFlowsUnchanged (worker, "after"));
    EXPECT_EQ (worker.command ("OPEN_EDITOR\tagain").error(), "VST3 editor host window creation failed");
    EXPECT_EQ (worker.command ("PING").final(), "OK\tORVANE_VST_HOST\t1");
    EXPECT_EQ (worker.finish().exitCode, 0);
    EXPECT_NE (worker.standardError().find ("X connection broken"), std::string::npos);
}
