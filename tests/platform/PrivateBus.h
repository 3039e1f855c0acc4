#pragma once

#include "platform/PipedProcess.h"
#include "support/TestFiles.h"

#include <chrono>
#include <string>

namespace vantrel::test
{
/** A private message bus: a dbus-daemon of this test, listening on a socket in a temporary
    folder, with no service files (nothing is started on demand) and no restrictions. */
class PrivateBus
{
public:
    static constexpr const char* program = "/usr/bin/dbus-daemon";

    static bool installed()  { return juce::File (program).existsAsFile(); }

    ~PrivateBus()  { stop(); }

    /** Starts the daemon and waits (at most 60 s) for the address it prints. */
    bool start (std::string& error)
    {
        const auto config = folder / "bus.conf";
        const std::string text =
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:dir=" + folder.path().getFullPathName().toStdString() + "</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n";

        if (! testing::writeBytes (config, text))
            return fail ("cannot write " + config.getFullPathName().toStdString(), error);

        platform::PipedProcess::Options options;
        options.program = program;
        options.arguments = { "--config-file=" + config.getFullPathName().toStdString(), "--print-address", "--nofork" };
        options.standardErrorPath = (folder / "daemon.log").getFullPathName().toStdString();
        options.inheritNothingElse = true;

        if (! daemon.start (options, error))
            return false;

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (60);
        std::string printed;

        while (printed.find ('\n') == std::string::npos)
        {
            char buffer[256];
            const auto result = daemon.readUntil (buffer, sizeof (buffer), deadline);

            if (result.outcome != platform::PipedProcess::IoOutcome::done || result.bytes == 0)
                return fail ("dbus-daemon printed no address: " + testing::readBytes (folder / "daemon.log"), error);

            printed.append (buffer, result.bytes);
        }

        busAddress = printed.substr (0, printed.find ('\n'));
        return true;
    }

    /** Ends the daemon by its pid (SIGKILL: its socket stays behind, with nobody listening). */
    void stop()
    {
        if (daemon.isRunning())
        {
            daemon.kill();
            daemon.wait (60000);
        }
    }

    const std::string& address() const  { return busAddress; }

private:
    bool fail (const std::string& why, std::string& error)
    {
        error = why;
        return false;
    }

    testing::TempFolder folder { "bus" };
    platform::PipedProcess daemon;
    std::string busAddress;
};
} // namespace vantrel::test
