#include "EditorTestSupport.h"

#include "support/WaitUntil.h"

#include <chrono>
#include <thread>

namespace vsthost_test
{
const std::string gainClassId = "ABCDEF019182FAEB" "4F727674" "4F676E31";

bool PrivateDisplay::start (std::string& problem, bool& installed)
{
    installed = ! vantrel::platform::XvfbServer::programPath().empty();

    if (! installed)
    {
        problem = "Xvfb is not installed";
        return false;
    }

    if (! server.start (93, 160, problem))
        return false;

    look = vantrel::platform::X11Inspector::open (server.displayName(), problem);
    return look != nullptr;
}

void PrivateDisplay::stop()
{
    look.reset();
    server.stop();
}

std::vector<vantrel::platform::X11Inspector::TopLevelWindow> PrivateDisplay::editorWindows()
{
    std::vector<vantrel::platform::X11Inspector::TopLevelWindow> found;

    for (const auto& window : look->topLevelWindows())
        if (window.windowClass == editorWindowClass)
            found.push_back (window);

    return found;
}

bool PrivateDisplay::showsColour (int x, int y, int width, int height, std::uint32_t colour)
{
    const auto pixels = look->capture (x, y, width, height);

    if (pixels.size() != static_cast<std::size_t> (width) * static_cast<std::size_t> (height))
        return false;

    for (const auto pixel : pixels)
        if (pixel != colour)
            return false;

    return true;
}

WorkerSession::Options workerOnDisplay (const std::string& displayName)
{
    WorkerSession::Options options;

    if (displayName.empty())
        options.unsetEnvironment.push_back ("DISPLAY");
    else
        options.environment.push_back ({ "DISPLAY", displayName });

    return options;
}

bool waitUntil (const std::function<bool()>& condition, int timeoutMs)
{
    return vantrel::testing::waitUntil (condition, std::chrono::milliseconds (timeoutMs), std::chrono::milliseconds (5));
}

std::vector<std::string> liveStatus (WorkerSession& worker)
{
    return worker.command ("LIVE_STATUS").fields();
}

std::vector<std::string> settledLiveStatus (WorkerSession& worker, int timeoutMs)
{
    std::vector<std::string> fields;
    waitUntil (
        [&]
        {
            fields = liveStatus (worker);
            return fields.size() == 7 && fields[4] == "0";
        },
        timeoutMs);
    return fields;
}

std::string parameterId (WorkerSession& worker, const std::string& title)
{
    for (const auto& line : worker.command ("PARAMS").lines)
    {
        const auto fields = tabFields (line);

        if (fields.size() == 7 && fields[0] == "PARAM" && fields[2] == title)
            return fields[1];
    }

    return {};
}

bool audioFlowsUnchanged (WorkerSession& worker, const std::string& tag)
{
    const auto input = testSignal (512, static_cast<std::uint32_t> (tag.size()));
    const auto block = worker.process (tag, 512, input);
    return block.ok && block.samples == input;
}

std::string loadGainLine()
{
    return "LOAD_VST3\t" + gainBundle() + "\t" + gainClassId;
}

std::string loadProbeLine (probe::Kind kind)
{
    return "LOAD_VST3\t" + probeBundle() + "\t" + probe::classIdText (kind);
}
} // namespace vsthost_test
