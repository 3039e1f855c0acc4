#include "support/XvfbServer.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include <signal.h>

namespace vantrel::platform
{
XvfbServer::~XvfbServer()
{
    stop();
}

std::string XvfbServer::programPath()
{
    const char* path = std::getenv ("PATH");
    std::stringstream folders (path != nullptr ? path : "/usr/bin:/bin");

    for (std::string folder; std::getline (folders, folder, ':');)
    {
        std::error_code failure;
        const auto candidate = std::filesystem::path (folder.empty() ? "." : folder) / "Xvfb";

        if (std::filesystem::is_regular_file (candidate, failure))
            return candidate.string();
    }

    return {};
}

bool XvfbServer::start (int firstDisplay, int lastDisplay, std::string& error, int width, int height)
{
    stop();
    const auto program = programPath();

    if (program.empty())
    {
        error = "Xvfb is not installed";
        return false;
    }

    const auto count = lastDisplay - firstDisplay + 1;
    std::random_device random;
    const auto offset = static_cast<int> (random() % static_cast<unsigned int> (count > 0 ? count : 1));

    for (int i = 0; i < count; ++i)
    {
        const auto number = firstDisplay + (offset + i) % count;
        PipedProcess::Options options;
        options.program = program;
        // -displayfd 1: the server writes its display number to its standard output (our pipe)
        // once it accepts clients; a number another server holds makes it exit instead.
        options.arguments = { ":" + std::to_string (number), "-screen", "0",
                              std::to_string (width) + "x" + std::to_string (height) + "x24",
                              "-nolisten", "tcp", "-displayfd", "1" };

        server = std::make_unique<PipedProcess>();

        if (! server->start (options, error))
        {
            server.reset();
            return false;
        }

        std::string answer;
        char chunk[32];

        while (answer.find ('\n') == std::string::npos)
        {
            const auto got = server->readSome (chunk, sizeof (chunk), 10000);

            if (got <= 0)
                break;

            answer.append (chunk, static_cast<std::size_t> (got));
        }

        if (answer == std::to_string (number) + "\n")
        {
            name = ":" + std::to_string (number);
            return true;
        }

        server->kill();
        server->wait (5000);
        server.reset();
    }

    error = "Xvfb could not take any display from :" + std::to_string (firstDisplay) + " to :" + std::to_string (lastDisplay);
    return false;
}

void XvfbServer::stop()
{
    if (server == nullptr)
        return;

    if (server->isRunning())
    {
        ::kill (server->processId(), SIGTERM);

        if (! server->wait (5000).ended)
        {
            server->kill();
            server->wait (5000);
        }
    }

    server.reset();
    name.clear();
}
} // namespace vantrel::platform
