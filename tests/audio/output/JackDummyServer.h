#pragma once

#include "platform/ChildProcess.h"
#include "support/EnvironmentVariable.h"
#include "platform/ProcessControl.h"

#include <juce_core/juce_core.h>

#include <string>

namespace vantrel::test
{
/** A private JACK server with the dummy backend (48 kHz unless told otherwise, 512 frames), paced like hardware. The
    process's JACK_DEFAULT_SERVER points at it, so the framework's JACK type talks to it only. */
class JackDummyServer
{
public:
    static bool installed()  { return juce::File ("/usr/bin/jackd").existsAsFile(); }

    static std::string serverName()
    {
        static const std::string name = "vantrel-test-" + std::to_string (platform::currentProcessId());
        return name;
    }

    /** Starts the server and waits (at most 10 s per try) until it accepts clients. Servers of
        parallel test processes start one at a time (JACK's shared registry races otherwise), and
        a failed start is tried again. */
    bool start()
    {
        platform::setEnvironmentVariable ("JACK_DEFAULT_SERVER", serverName());
        platform::setEnvironmentVariable ("JACK_NO_AUDIO_RESERVATION", "1");
        juce::InterProcessLock lock ("vantrel-jack-test-server-start");
        if (! lock.enter (180000))   // under a sanitizer, a dozen parallel starts take a while
            return false;
        for (int attempt = 0; attempt < 5; ++attempt)
        {
            if (startOnce())
                return true;
            stop();
            juce::Thread::sleep (200);
        }
        return false;
    }

    void stop()
    {
        if (server.isRunning())
        {
            // SIGTERM: a killed server stays in JACK's registry, which holds only eight.
            server.terminate();
            server.waitUntilEnded();
        }
    }

    ~JackDummyServer()  { stop(); }

    /** The rate of the next start. */
    int sampleRate = 48000;

private:
    bool startOnce()
    {
        if (! server.start ("/usr/bin/jackd", { "-n", serverName(), "--no-realtime", "-t", "5000", "-d", "dummy",
                                                 "-r", std::to_string (sampleRate), "-p", "512", "-P", "2", "-C", "0" }))
            return false;
        platform::ChildProcess wait;
        if (! wait.start ("/usr/bin/jack_wait", { "-w", "-t", "10" }, { "JACK_DEFAULT_SERVER=" + serverName() }))
            return false;
        std::string output;
        while (wait.readOutput (output, 11000)) {}
        wait.waitUntilEnded();
        return output.find ("available") != std::string::npos;
    }

    platform::ChildProcess server;
};
} // namespace vantrel::test
