#pragma once

#include "platform/X11Window.h"
#include "support/EnvironmentVariable.h"
#include "support/X11Inspector.h"
#include "support/XvfbServer.h"

#include <memory>
#include <string>

namespace vantrel::test
{
/** A private X server ready for JUCE windows: on a display number of its own, with the window
    manager's atoms interned by a connection that stays open (a bare server with no client left
    resets itself and forgets them, and JUCE's window properties then fail). */
struct PrivateDisplay
{
    platform::XvfbServer server;
    std::unique_ptr<platform::X11Inspector> look;
    std::string problem;   // why there is none

    /** Starts the server on a free display number in [first, last]. forThisProcess: this
        process's GUI connects to it (DISPLAY; JUCE would otherwise try ":0") and records X errors
        instead of ending the process on the first one. */
    bool start (int first, int last, int width, int height, bool forThisProcess)
    {
        if (platform::XvfbServer::programPath().empty())
            return (problem = "Xvfb is not installed"), false;
        if (! server.start (first, last, problem, width, height))
            return false;
        if (forThisProcess)
            platform::prepareX11();
        look = platform::X11Inspector::open (server.displayName(), problem);
        if (look == nullptr)
            return false;
        look->internWindowManagerAtoms();
        if (forThisProcess)
            platform::setEnvironmentVariable ("DISPLAY", server.displayName());
        return true;
    }

    bool running() const  { return look != nullptr; }

    ~PrivateDisplay()
    {
        look.reset();   // before the server goes
        server.stop();
    }
};
} // namespace vantrel::test
