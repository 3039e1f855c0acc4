// OrvaneVstHost: hosts one VST3 effect and answers the main program's line protocol on its
// standard input and output. Exit codes: 0 after QUIT or the end of input, 2 for a wrong
// command line, 65 when the input fell out of step (a PROCESS_F32_BUFFER payload whose length
// was unreadable or above the bound: it was refused with ERR and nothing after it was read), 70
// when the worker could not be set up or an exception ended the protocol.
#include "vsthost/WorkerServer.h"

#include "platform/FdInputBuffer.h"
#include "platform/FdOutputBuffer.h"
#include "platform/WorkerIo.h"
#include "platform/X11Window.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <istream>
#include <ostream>

int main (int argc, char** argv)
{
    // The worker must not outlive the program that started it (and talks to it). The request is
    // tied to the thread that started us; the main program keeps that thread while we run.
    vantrel::platform::endWithParent();
    vantrel::platform::ignoreBrokenPipes();

    // Before any plug-in is loaded: thread-safe Xlib, and X errors recorded instead of fatal (an
    // embedded editor provokes harmless ones that would otherwise end the worker).
    vantrel::platform::prepareX11();

    if (argc != 2 || std::strcmp (argv[1], "--worker") != 0)
    {
        std::fputs ("OrvaneVstHost\nusage: OrvaneVstHost --worker\n", stderr);
        return 2;
    }

    const auto protocolFd = vantrel::platform::takeProtocolOutput();

    if (protocolFd < 0)
    {
        std::fputs ("VST worker binary stdio setup failed\n", stderr);
        return 70;
    }

    vantrel::platform::FdInputBuffer inputBuffer (0);
    vantrel::platform::FdOutputBuffer outputBuffer (protocolFd);
    std::istream in (&inputBuffer);
    std::ostream out (&outputBuffer);

    try
    {
        return orvane::vsthost::runWorkerServer (in, out);
    }
    catch (const std::exception& failure)
    {
        std::fprintf (stderr, "%s\n", failure.what());
        return 70;
    }
}
