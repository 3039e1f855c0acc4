#pragma once

#include "platform/ChildProcess.h"
#include "support/EnvironmentVariable.h"
#include "support/WaitUntil.h"

#include <juce_core/juce_core.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test
{
/** Checks `condition` every 20 ms until it holds; false when it still does not after timeoutMs. */
inline bool waitUntil (const std::function<bool()>& condition, int timeoutMs = 60000)
{
    return vantrel::testing::waitUntil (condition, std::chrono::milliseconds (timeoutMs), std::chrono::milliseconds (20));
}

/** Runs a tool to its end and answers what it wrote on its standard output. */
inline std::string runTool (const std::string& program, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment = {})
{
    platform::ChildProcess child;

    if (! child.start (program, arguments, environment))
        return {};

    std::string output;
    while (child.readOutput (output, 60000)) {}
    child.waitUntilEnded();
    return output;
}

/** One playing stream of the event role, as pactl shows it. */
struct EventStreamView
{
    std::string index;
    bool muted = false;
    std::string volume;   // pactl's "Volume:" line
};

/** A private server that speaks PulseAudio's protocol (PulseAudio's own daemon, or PipeWire's
    pipewire-pulse) with a null sink and stream-restore, and what a test asks of it through
    pactl and pacat. */
class PulseProtocolServer
{
public:
    virtual ~PulseProtocolServer() = default;

    /** Starts the server (again, over the same folders: its stored entries survive), points this
        process's client library at it (PULSE_SERVER, PULSE_COOKIE; set before any client thread
        starts) and waits until it answers. */
    virtual bool start() = 0;

    /** Ends the server so that it saves its stored entries, and reaps it. */
    virtual void stop() = 0;

    virtual std::string socketPath() const = 0;
    std::string server() const      { return "unix:" + socketPath(); }

    /** The key the muter gives this server's system-sounds session. */
    juce::String sessionKey() const  { return juce::String (socketPath()) + "|sink-input-by-media-role:event"; }

    std::string pactl (const std::vector<std::string>& arguments) const
    {
        return runTool ("/usr/bin/pactl", arguments, { "LC_ALL=C", "PULSE_SERVER=" + server() });
    }

    /** Starts a stream of the event role (silence from /dev/zero, until it is killed) and waits
        until the daemon shows it. */
    bool startEventStream (platform::ChildProcess& player) const
    {
        const auto before = eventStreams().size();

        return player.start ("/usr/bin/pacat", { "--playback", "--property=media.role=event", "--format=s16le",
                                                 "--rate=8000", "--channels=1", "/dev/zero" },
                             { "PULSE_SERVER=" + server() })
            && waitUntil ([&] { return eventStreams().size() > before; });
    }

    std::vector<EventStreamView> eventStreams() const
    {
        std::vector<EventStreamView> streams;
        const auto text = juce::String (pactl ({ "list", "sink-inputs" }));
        auto blocks = juce::StringArray::fromTokens (text, "\n", "");
        EventStreamView current;
        bool isEvent = false;
        const auto finish = [&]
        {
            if (isEvent)
                streams.push_back (current);
            current = {};
            isEvent = false;
        };

        for (const auto& line : blocks)
        {
            const auto trimmed = line.trim();

            if (trimmed.startsWith ("Sink Input #"))
            {
                finish();
                current.index = trimmed.fromFirstOccurrenceOf ("#", false, false).toStdString();
            }
            else if (trimmed.startsWith ("Mute:"))
                current.muted = trimmed == "Mute: yes";
            else if (trimmed.startsWith ("Volume:"))
                current.volume = trimmed.toStdString();
            else if (trimmed == "media.role = \"event\"")
                isEvent = true;
        }

        finish();
        return streams;
    }

};

/** A private PulseAudio daemon: a null sink, a socket in its own folder, stream-restore (unless
    told otherwise), its own HOME, configuration, state and runtime folders. start() points this
    process's client library at it (PULSE_SERVER, PULSE_COOKIE); set before any client thread
    starts. Stopped by its pid. */
class PulseTestServer final : public PulseProtocolServer
{
public:
    static bool installed()
    {
        for (const char* tool : { "/usr/bin/pulseaudio", "/usr/bin/pactl", "/usr/bin/pacat" })
            if (! juce::File (tool).existsAsFile())
                return false;

        return true;
    }

    explicit PulseTestServer (const juce::File& folderToUse, bool withStreamRestore = true)
        : folder (folderToUse), streamRestore (withStreamRestore)
    {
    }

    ~PulseTestServer() override  { stop(); }

    /** Starts the daemon (again, over the same folders: its stored entries survive) and waits
        until it answers. */
    bool start() override
    {
        for (const char* sub : { "home", "config", "state", "run" })
            folder.getChildFile (sub).createDirectory();

        std::vector<std::string> arguments { "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                                             "--realtime=no", "--high-priority=no", "--log-target=stderr",
                                             "--load=module-null-sink",
                                             "--load=module-native-protocol-unix socket=" + socketPath() };
        if (streamRestore)
            arguments.push_back ("--load=module-stream-restore");

        std::string program = "/usr/bin/pulseaudio";

        if (juce::File ("/usr/bin/setpriv").existsAsFile())
        {
            // The daemon dies with this process, so no daemon outlives its test.
            arguments.insert (arguments.begin(), { "--pdeathsig", "KILL", "--", program });
            program = "/usr/bin/setpriv";
        }

        const auto path = [this] (const char* sub) { return folder.getChildFile (sub).getFullPathName().toStdString(); };

        daemon = std::make_unique<platform::ChildProcess>();   // a fresh one for every start

        if (! daemon->start (program, arguments,
                            { "HOME=" + path ("home"), "XDG_CONFIG_HOME=" + path ("config"), "PULSE_STATE_PATH=" + path ("state"),
                              "XDG_RUNTIME_DIR=" + path ("run"), "PULSE_RUNTIME_PATH=" + path ("run") }))
            return false;

        platform::setEnvironmentVariable ("PULSE_SERVER", server());
        platform::setEnvironmentVariable ("PULSE_COOKIE", folder.getChildFile ("client-cookie").getFullPathName().toStdString());
        return waitUntil ([this] { return pactl ({ "info" }).find ("Server Name:") != std::string::npos; });
    }

    /** Ends the daemon with SIGTERM (it saves its stored entries) and reaps it. */
    void stop() override
    {
        if (daemon != nullptr && daemon->isRunning())
        {
            daemon->terminate();
            daemon->waitUntilEnded();
        }
    }

    std::string socketPath() const override  { return folder.getChildFile ("native").getFullPathName().toStdString(); }

private:
    juce::File folder;
    bool streamRestore;
    std::unique_ptr<platform::ChildProcess> daemon;
};
} // namespace vantrel::test
