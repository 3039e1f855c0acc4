#pragma once

#include "ProbeClasses.h"
#include "WorkerHarness.h"

#include "support/X11Inspector.h"
#include "support/XvfbServer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vsthost_test
{
/** A private X server for one test (Xvfb on a free display from :93, local clients only) and an
    inspector on it; the server is stopped by its process id when the object goes. */
class PrivateDisplay
{
public:
    /** Starts the server. False with `problem` set; `installed` is false when Xvfb is missing. */
    bool start (std::string& problem, bool& installed);

    const std::string& name() const { return server.displayName(); }
    vantrel::platform::X11Inspector& inspector() { return *look; }

    /** The top-level windows of the worker's editor window class, bottom of the stack first. */
    std::vector<vantrel::platform::X11Inspector::TopLevelWindow> editorWindows();

    /** True when the rectangle shows exactly the colour (0xRRGGBB) in every pixel. */
    bool showsColour (int x, int y, int width, int height, std::uint32_t colour);

    /** Stops the server (the display becomes a dead one). */
    void stop();

private:
    vantrel::platform::XvfbServer server;
    std::unique_ptr<vantrel::platform::X11Inspector> look;
};

/** Starts `display` in a test: skips the test when Xvfb is not installed, fails it otherwise. */
#define START_PRIVATE_DISPLAY(display)                                                    \
    do                                                                                    \
    {                                                                                     \
        std::string problem_;                                                             \
        bool installed_ = true;                                                           \
        if (! (display).start (problem_, installed_))                                     \
        {                                                                                 \
            if (! installed_)                                                             \
                GTEST_SKIP() << "Xvfb is not installed: the editor needs a real X server"; \
            FAIL() << problem_;                                                           \
        }                                                                                 \
    } while (false)

inline constexpr const char* editorWindowClass = "OrvaneVstEditorHostWindow";

/** A worker whose X display is `displayName` ("" leaves DISPLAY unset). */
WorkerSession::Options workerOnDisplay (const std::string& displayName);

/** How long a test waits for a request queued to the worker's UI thread, which runs within
    milliseconds on an idle machine: long enough for a starved one. */
inline constexpr int requestPatienceMs = 60000;

/** Polls until `condition` holds, at most `timeoutMs`; true when it held. */
bool waitUntil (const std::function<bool()>& condition, int timeoutMs = 10000);

/** LIVE_STATUS fields: OK, editorOpen, changeCount, latencySamples, pending, lastEditorError, reload requested. */
std::vector<std::string> liveStatus (WorkerSession& worker);

/** Polls LIVE_STATUS until no editor request is pending; returns its last fields. */
std::vector<std::string> settledLiveStatus (WorkerSession& worker, int timeoutMs = 10000);

/** The id of the plug-in's parameter with this title, "" when there is none. */
std::string parameterId (WorkerSession& worker, const std::string& title);

/** One 512-frame block through the worker; true when it came back as the plug-in should make
    it (unchanged: every editor test plug-in runs at unity gain). */
bool audioFlowsUnchanged (WorkerSession& worker, const std::string& tag);

/** The JUCE gain plug-in's class id, and the LOAD_VST3 line for it. */
extern const std::string gainClassId;
std::string loadGainLine();
std::string loadProbeLine (probe::Kind kind);
} // namespace vsthost_test
