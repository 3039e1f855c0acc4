// The JUCE test plug-in's editor in the real worker under a private X server: the window as a
// user sees it (title, pixels, stacking), closing it every way, the plug-in resizing it, all
// while audio keeps flowing.
#include "EditorTestSupport.h"
#include "JuceGainEditorLook.h"

#include <gtest/gtest.h>

using namespace vsthost_test;
using vantrel::platform::X11Inspector;

namespace
{
const std::string japaneseTitle = "ゲイン編集 — Orvane テスト";

/** A worker with the gain plug-in loaded and configured, on the display. */
std::unique_ptr<WorkerSession> gainWorker (const std::string& displayName)
{
    auto worker = std::make_unique<WorkerSession> (workerOnDisplay (displayName));
    EXPECT_EQ (worker->command (loadGainLine()).final(), "OK\t" + gainClassId);
    EXPECT_EQ (worker->command ("CONFIG\t48000\t2\t512\trealtime").final(), "OK");
    return worker;
}

/** The editor as drawn: the strip across the top and the body below, at the window's place. */
bool showsGainEditor (PrivateDisplay& display, const X11Inspector::TopLevelWindow& window, int width, int height)
{
    return display.showsColour (window.x, window.y, width, gain_editor::stripHeight, gain_editor::stripColour)
        && display.showsColour (window.x, window.y + gain_editor::stripHeight, width, height - gain_editor::stripHeight,
                                gain_editor::bodyColour);
}

bool waitForOneEditorWindow (PrivateDisplay& display, X11Inspector::TopLevelWindow& found)
{
    return waitUntil (
        [&]
        {
            const auto windows = display.editorWindows();

            if (windows.size() != 1 || ! windows[0].viewable)
                return false;

            found = windows[0];
            return true;
        });
}
} // namespace

TEST (EditorWindow, OpensTheEditorWithItsTitleAndPixelsAndASecondOpenBringsItToTheFront)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    auto worker = gainWorker (display.name());

    EXPECT_EQ (liveStatus (*worker)[1], "0");
    EXPECT_EQ (worker->command ("OPEN_EDITOR_ASYNC\t" + japaneseTitle).final(), "OK");
    auto status = settledLiveStatus (*worker);
    ASSERT_EQ (status.size(), 7u);
    EXPECT_EQ (status[1], "1");
    EXPECT_EQ (status[5], "");
    EXPECT_EQ (worker->command ("INFO").fields().back(), "1");   // editorVerified

    X11Inspector::TopLevelWindow window;
    ASSERT_TRUE (waitForOneEditorWindow (display, window));
    EXPECT_EQ (window.title, japaneseTitle);
    EXPECT_EQ (window.width, gain_editor::smallWidth);
    EXPECT_EQ (window.height, gain_editor::smallHeight);
    EXPECT_TRUE (waitUntil ([&] { return showsGainEditor (display, window, gain_editor::smallWidth, gain_editor::smallHeight); }))
        << "the editor's colours never appeared on the screen";
    EXPECT_TRUE (audioFlowsUnchanged (*worker, "open"));

    // Another window covers it; opening again only brings it back to the front.
    display.inspector().createSolidWindow (window.x, window.y, gain_editor::smallWidth, gain_editor::smallHeight, 0xC03030);
    ASSERT_TRUE (waitUntil ([&] { return display.showsColour (window.x, window.y + 100, 50, 50, 0xC03030); }));
    EXPECT_EQ (worker->command ("OPEN_EDITOR_ASYNC\tanother title").final(), "OK");
    status = settledLiveStatus (*worker);
    EXPECT_EQ (status[1], "1");
    EXPECT_EQ (status[5], "");
    EXPECT_TRUE (waitUntil (
        [&]
        {
            const auto all = display.inspector().topLevelWindows();
            return ! all.empty() && all.back().id == window.id;
        }))
        << "the editor window is not on top of the stack";
    EXPECT_TRUE (waitUntil ([&] { return showsGainEditor (display, window, gain_editor::smallWidth, gain_editor::smallHeight); }));

    const auto windows = display.editorWindows();
    ASSERT_EQ (windows.size(), 1u);
    EXPECT_EQ (windows[0].id, window.id);
    EXPECT_EQ (windows[0].title, japaneseTitle);   // the second title is not applied

    EXPECT_EQ (worker->command ("CLOSE_EDITOR_ASYNC").final(), "OK");
    status = settledLiveStatus (*worker);
    EXPECT_EQ (status[1], "0");
    EXPECT_EQ (status[5], "");
    EXPECT_TRUE (display.editorWindows().empty());
    EXPECT_TRUE (audioFlowsUnchanged (*worker, "closed"));
    EXPECT_EQ (worker->finish().exitCode, 0);
}

TEST (EditorWindow, TheCloseBoxAndAWindowDestroyedFromOutsideBothEndTheEditor)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    auto worker = gainWorker (display.name());

    enum class Ending
    {
        closeMessage,
        destroyed
    };

    for (const auto ending : { Ending::closeMessage, Ending::destroyed, Ending::closeMessage })
    {
        ASSERT_EQ (worker->command ("OPEN_EDITOR\tclosing").final(), "OK");
        X11Inspector::TopLevelWindow window;
        ASSERT_TRUE (waitForOneEditorWindow (display, window));
        EXPECT_EQ (worker->command ("EDITOR_STATUS").final().substr (0, 5), "OK\t1\t");

        if (ending == Ending::closeMessage)
            ASSERT_TRUE (display.inspector().requestClose (window.id));
        else
            ASSERT_TRUE (display.inspector().destroyWindow (window.id));

        EXPECT_TRUE (waitUntil ([&] { return liveStatus (*worker)[1] == "0"; }))
            << "the editor stayed open after " << (ending == Ending::closeMessage ? "the close message" : "its window went");
        EXPECT_EQ (worker->command ("EDITOR_STATUS").final().substr (0, 5), "OK\t0\t");
        EXPECT_TRUE (display.editorWindows().empty());
        EXPECT_TRUE (audioFlowsUnchanged (*worker, "after"));
    }

    // QUIT with the editor open: an orderly end, no X failure.
    ASSERT_EQ (worker->command ("OPEN_EDITOR\tstill open").final(), "OK");
    EXPECT_EQ (worker->command ("QUIT").final(), "OK");
    const auto exit = worker->waitForExit();
    EXPECT_TRUE (exit.exited);
    EXPECT_EQ (exit.exitCode, 0);
    EXPECT_EQ (worker->standardError().find ("X connection broken"), std::string::npos);
}

TEST (EditorWindow, ThePluginResizesItsWindowWhileAudioFlows)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    auto worker = gainWorker (display.name());
    const auto sizeId = parameterId (*worker, gain_editor::sizeParameterTitle);
    ASSERT_FALSE (sizeId.empty());
    ASSERT_EQ (worker->command ("OPEN_EDITOR\tresizing").final(), "OK");

    struct Step
    {
        const char* value;
        int width;
        int height;
    };

    int block = 0;

    for (const auto& step : { Step { "1", gain_editor::largeWidth, gain_editor::largeHeight },
                              Step { "0", gain_editor::smallWidth, gain_editor::smallHeight },
                              Step { "1", gain_editor::largeWidth, gain_editor::largeHeight } })
    {
        ASSERT_EQ (worker->command ("SET_PARAM\t" + sizeId + "\t" + step.value).final(), "OK");
        X11Inspector::TopLevelWindow window;
        bool audioOk = true;

        // Blocks carry the parameter to the plug-in; its editor then asks for the new size.
        EXPECT_TRUE (waitUntil (
            [&]
            {
                audioOk = audioOk && audioFlowsUnchanged (*worker, "b" + std::to_string (block++));
                return waitForOneEditorWindow (display, window) && window.width == step.width && window.height == step.height
                    && showsGainEditor (display, window, step.width, step.height);
            }))
            << "the window never became " << step.width << " x " << step.height << "; it is " << window.width << " x "
            << window.height << ", showing " << std::hex
            << display.inspector().capture (window.x + 10, window.y + 10, 1, 1).at (0) << " and "
            << display.inspector().capture (window.x + 10, window.y + step.height - 10, 1, 1).at (0);
        EXPECT_TRUE (audioOk);
    }

    EXPECT_EQ (liveStatus (*worker)[1], "1");
    EXPECT_EQ (worker->finish().exitCode, 0);
}

TEST (EditorWindow, ShowEditorAnswersOnlyOnceItsWindowHasClosed)
{
    PrivateDisplay display;
    START_PRIVATE_DISPLAY (display);
    auto worker = gainWorker (display.name());

    worker->send ("SHOW_EDITOR\tmodal\n");
    X11Inspector::TopLevelWindow window;
    ASSERT_TRUE (waitForOneEditorWindow (display, window));
    EXPECT_EQ (window.title, "modal");
    EXPECT_TRUE (waitUntil ([&] { return showsGainEditor (display, window, gain_editor::smallWidth, gain_editor::smallHeight); }));
    EXPECT_EQ (worker->readLine (300), "<timeout>");   // still showing: no answer yet

    ASSERT_TRUE (display.inspector().requestClose (window.id));
    EXPECT_EQ (worker->readLine(), "OK");
    EXPECT_EQ (liveStatus (*worker)[1], "0");
    EXPECT_TRUE (display.editorWindows().empty());
    EXPECT_TRUE (audioFlowsUnchanged (*worker, "after"));
    EXPECT_EQ (worker->finish().exitCode, 0);
}
