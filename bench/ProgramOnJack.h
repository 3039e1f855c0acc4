#pragma once
// The shipped program over a saved show on private X and JACK servers, heard by a JACK client of
// the benchmark's own, with a connection of the benchmark's own to the X server to type on.

#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"
#include "tests/app/ProgramRig.h"

#include <X11/Xlib.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vantrel::bench
{
struct ProgramOnJack
{
    ProgramOnJack (const char* tag, const std::string& programPath, std::size_t captureFrames)
        : rig (tag), capture (2, captureFrames)
    {
        rig.programPath = programPath;
    }

    ~ProgramOnJack()
    {
        capture.close();
        if (keyboard != nullptr)
            XCloseDisplay (keyboard);
        if (program != nullptr)
            program->process.killGroup(), program->waitForExit();
    }

    ProgramOnJack (const ProgramOnJack&) = delete;
    ProgramOnJack& operator= (const ProgramOnJack&) = delete;

    /** Starts the JACK server as `jack` is set up and the X server, has `writeShow` save the show
        (empty when it did, else why not), starts the program over it, hears it as `captureName`
        and puts the pointer over its window: with no window manager the keyboard follows the
        pointer. The pointer is not flushed: the caller's next request to the server takes it
        along. Empty when all of it runs, else why not. */
    std::string startProgram (const std::function<std::string()>& writeShow, const char* captureName)
    {
        if (! jack.start())
            return "no JACK server: " + jack.lastError();
        rig.jackServer = jack.serverName();
        std::string error;
        if (! rig.startDisplay (error))
            return error;
        if (auto why = writeShow(); ! why.empty())
            return why;
        program = rig.start ("", error);
        if (program == nullptr)
            return error;
        if (rig.waitForWindow (program_test::mainWindowTitle) == 0)
            return "no main window; " + program->errorText().toStdString();
        if (! capture.open (captureName))
            return capture.lastError();
        if (! program_test::waitFor ([&] { return capture.connectFrom (test::JackCaptureClient::programClientName); }))
            return "the program's output never appeared: " + capture.lastError();
        keyboard = XOpenDisplay (rig.server.displayName().c_str());
        if (keyboard == nullptr)
            return "cannot open a connection to the X server";
        const auto window = rig.waitForWindow (program_test::mainWindowTitle);
        XWarpPointer (keyboard, None, (Window) window, 0, 0, 0, 0, 700, 120);
        return {};
    }

    test::JackDummyServer jack;
    program_test::ProgramRig rig;
    std::unique_ptr<program_test::RunningProgram> program;
    test::JackCaptureClient capture;
    Display* keyboard = nullptr;
};
} // namespace vantrel::bench
