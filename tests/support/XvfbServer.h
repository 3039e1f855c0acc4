#pragma once

#include "platform/PipedProcess.h"

#include <memory>
#include <string>

namespace vantrel::platform
{
/** A private virtual X server (Xvfb) for tests and benchmarks of programs that show windows:
    started on a free display number of a range, local connections only, 24-bit screen; stopped
    by its process id. */
class XvfbServer
{
public:
    XvfbServer() = default;
    /** Stops the server when it still runs. */
    ~XvfbServer();

    XvfbServer (const XvfbServer&) = delete;
    XvfbServer& operator= (const XvfbServer&) = delete;

    /** The Xvfb program found on PATH, or "" when it is not installed. */
    static std::string programPath();

    /** Starts Xvfb on the first display number of [firstDisplay, lastDisplay] (tried from a
        random point of the range, so that parallel runs rarely collide) that it can take, and
        waits until it accepts clients (at most 10 s per try). False with `error` set otherwise. */
    bool start (int firstDisplay, int lastDisplay, std::string& error, int width = 1280, int height = 1024);

    /** ":N" while running, "" otherwise. */
    const std::string& displayName() const { return name; }
    int processId() const { return server != nullptr ? server->processId() : -1; }

    /** Ends the server with SIGTERM (SIGKILL when it has not ended within 5 s) and reaps it. */
    void stop();

private:
    std::unique_ptr<PipedProcess> server;
    std::string name;
};
} // namespace vantrel::platform
