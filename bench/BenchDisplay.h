#pragma once
// A private X server for the window benchmarks, started before any thread of theirs.

#include "platform/X11Window.h"
#include "support/EnvironmentVariable.h"
#include "support/X11Inspector.h"
#include "support/XvfbServer.h"

#include <memory>
#include <string>

namespace vantrel::bench
{
/** Starts a private Xvfb of 1600 x 1000 and points JUCE at it (JUCE opens the display named by
    DISPLAY). No JUCEApplication runs, so JUCE keeps Xlib's fatal error handler, and a bare server
    lacks the window manager's atoms: `atoms` creates them and keeps them alive (a server whose last
    client leaves resets itself). */
struct BenchDisplay
{
    platform::XvfbServer server;
    std::unique_ptr<platform::X11Inspector> atoms;

    /** False with the reason in `error`. */
    bool start (std::string& error)
    {
        if (! server.start (300, 399, error, 1600, 1000))
            return (error = "the private X server did not start: " + error), false;
        if (! platform::setEnvironmentVariable ("DISPLAY", server.displayName()))
            return (error = "could not set DISPLAY"), false;
        platform::prepareX11();
        atoms = platform::X11Inspector::open (server.displayName(), error);
        if (atoms == nullptr)
            return false;
        atoms->internWindowManagerAtoms();
        return true;
    }
};
} // namespace vantrel::bench
