#pragma once

#include "platform/ChildProcess.h"
#include "support/EnvironmentVariable.h"

#include <juce_core/juce_core.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace vantrel::test
{
/** A private JACK server with the dummy backend (48 kHz and 512 frames unless told otherwise), paced like hardware. The
    process's JACK_DEFAULT_SERVER points at it, so the framework's JACK type talks to it only.

    JACK's registry of servers is shared by the whole machine and holds only eight, and a server
    that dies without stopping keeps its entry (and its shared memory) until a server of the
    same name starts again. So the servers of one build folder take one of `slotCount` slots,
    each a lock file in the build folder held from the first start until the object is
    destroyed: at most `slotCount` run at once across the parallel test processes, and each
    slot's server always has the same name, which clears what a crashed predecessor left. */
class JackDummyServer
{
public:
    static constexpr int slotCount = 4;

    static bool installed()  { return juce::File ("/usr/bin/jackd").existsAsFile(); }

    /** The folder of this build's lock files: given by the build, else next to the executable. */
    static juce::File lockFolder()
    {
#ifdef VANTREL_TEST_LOCK_FOLDER
        return juce::File (VANTREL_TEST_LOCK_FOLDER);
#else
        return juce::File (platform::ChildProcess::currentExecutable()).getSiblingFile ("test-locks");
#endif
    }

    /** The server's name while it holds a slot ("vantrel-<build folder>-<slot>"), else empty. */
    std::string serverName() const  { return name; }

    /** Takes a slot (waiting while all are in use), starts the server and waits until it
        accepts clients. Servers of one build folder start one at a time (JACK's shared
        registry races otherwise), and a failed start is tried again. False, with lastError()
        saying why, when no slot came free or the server never answered. */
    bool start()
    {
        if (slot == nullptr && ! takeSlot())
            return false;
        platform::setEnvironmentVariable ("JACK_DEFAULT_SERVER", name);
        platform::setEnvironmentVariable ("JACK_NO_AUDIO_RESERVATION", "1");
        juce::InterProcessLock startLock (lockPath ("jack-start"));
        if (! startLock.enter (waitMs))
            return fail ("the start lock " + lockPath ("jack-start").toStdString() + " stayed taken");
        for (int attempt = 0; attempt < 5; ++attempt)
        {
            if (startOnce())
                return true;
            stop();
            juce::Thread::sleep (200);
        }
        return fail ("jackd -n " + name + " did not answer after five starts");
    }

    void stop()
    {
        if (server.isRunning())
        {
            // SIGTERM: a server that ends cleanly leaves nothing in JACK's registry.
            server.terminate();
            server.waitUntilEnded();
        }
    }

    /** Ends the server with SIGKILL, as a crash does: its clients lose it mid-cycle. Its registry
        entry stays until the slot's next start clears it. */
    void kill()
    {
        if (server.isRunning())
        {
            server.kill();
            server.waitUntilEnded();
        }
    }

    ~JackDummyServer()  { stop(); }

    const std::string& lastError() const  { return error; }

    /** The rate and the period (frames per cycle) of the next start. */
    int sampleRate = 48000;
    int periodFrames = 512;

    /** The server finishes every client's cycle before it begins the next (jackd --sync): a
        late client delays the cycle instead of losing it. The next start takes it. */
    bool synchronous = false;

    /** The server and its clients' process threads run with real-time scheduling (jackd -R, as
        on a studio machine) instead of --no-realtime. The next start takes it. */
    bool realtime = false;

private:
    static constexpr int waitMs = 600000;   // other test processes may hold every slot for a while

    /** Lock files are fcntl locks, which do not exclude each other inside one process: a process
        has one JackDummyServer at a time. */
    static juce::String lockPath (const juce::String& lockName)
    {
        // An absolute name: juce::InterProcessLock then locks that very file.
        const auto folder = lockFolder();
        folder.createDirectory();
        return folder.getChildFile (lockName + ".lock").getFullPathName();
    }

    bool takeSlot()
    {
        const auto build = juce::String::toHexString (lockFolder().getFullPathName().hashCode64()).substring (0, 8);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (waitMs);
        for (;;)
        {
            for (int index = 0; index < slotCount; ++index)
            {
                auto lock = std::make_unique<juce::InterProcessLock> (lockPath ("jack-slot-" + juce::String (index)));
                if (lock->enter (0))
                {
                    slot = std::move (lock);
                    name = "vantrel-" + build.toStdString() + "-" + std::to_string (index);
                    return true;
                }
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return fail ("all " + std::to_string (slotCount) + " JACK server slots in "
                             + lockFolder().getFullPathName().toStdString() + " stayed taken");
            std::this_thread::sleep_for (std::chrono::milliseconds (50));
        }
    }

    bool startOnce()
    {
        // The server gets SIGKILL when this process dies without stopping it (setpriv), so no
        // server outlives its test; the next server of the slot clears its registry entry.
        std::vector<std::string> arguments { "-n", name, realtime ? "--realtime" : "--no-realtime", "-t", "5000" };
        if (synchronous)
            arguments.push_back ("--sync");
        for (const char* argument : { "-d", "dummy", "-r" })
            arguments.emplace_back (argument);
        arguments.push_back (std::to_string (sampleRate));
        arguments.emplace_back ("-p");
        arguments.push_back (std::to_string (periodFrames));
        for (const char* argument : { "-P", "2", "-C", "0" })
            arguments.emplace_back (argument);
        std::string program = "/usr/bin/jackd";
        if (juce::File ("/usr/bin/setpriv").existsAsFile())
        {
            arguments.insert (arguments.begin(), { "--pdeathsig", "KILL", "--", program });
            program = "/usr/bin/setpriv";
        }
        if (! server.start (program, arguments))
            return false;
        platform::ChildProcess wait;
        if (! wait.start ("/usr/bin/jack_wait", { "-w", "-t", "60" }, { "JACK_DEFAULT_SERVER=" + name }))
            return false;
        std::string output;
        while (wait.readOutput (output, 61000)) {}
        wait.waitUntilEnded();
        return output.find ("available") != std::string::npos;
    }

    bool fail (std::string text)
    {
        error = std::move (text);
        return false;
    }

    std::unique_ptr<juce::InterProcessLock> slot;   // held from the first start on
    std::string name;
    std::string error;
    platform::ChildProcess server;
};
} // namespace vantrel::test
