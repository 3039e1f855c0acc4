#pragma once

#include "PulseTestServer.h"

#include <juce_core/juce_core.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::test
{
/** A private PipeWire, as Debian 12's desktops run it: pipewire with a null sink
    ("vantrel-test-sink"), the wireplumber session manager, the pipewire-pulse server (whose
    stream-restore keeps its entries in wireplumber's state folder) and a session bus of their
    own (wireplumber needs one), all in one folder: runtime, configuration, state and home.
    Every process dies with this one. Stopped by its pids. */
class PipeWireTestServer final : public PulseProtocolServer
{
public:
    static constexpr const char* sinkName = "vantrel-test-sink";

    static bool installed()
    {
        for (const char* tool : { "/usr/bin/pipewire", "/usr/bin/pipewire-pulse", "/usr/bin/wireplumber",
                                  "/usr/bin/dbus-daemon", "/usr/bin/pw-cli", "/usr/bin/pactl", "/usr/bin/pacat" })
            if (! juce::File (tool).existsAsFile())
                return false;
        return jackLibraryFolder().getChildFile ("libjack.so.0").existsAsFile();
    }

    /** PipeWire's JACK library: a JACK client loaded with this folder first on its library path
        talks to PipeWire (what Debian's pw-jack does). */
    static juce::File jackLibraryFolder()  { return juce::File ("/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack"); }

    explicit PipeWireTestServer (const juce::File& folderToUse) : folder (folderToUse) {}
    ~PipeWireTestServer() override  { stop(); }

    bool start() override
    {
        stop();
        for (const char* sub : { "home", "config/pipewire/pipewire.conf.d", "state", "run" })
            folder.getChildFile (sub).createDirectory();
        std::filesystem::permissions (path ("run"), std::filesystem::perms::owner_all);
        const auto sinkConfiguration = juce::String ("context.objects = [\n"
                                                     "  { factory = adapter\n"
                                                     "    args = { factory.name = support.null-audio-sink\n"
                                                     "             node.name = \"") + sinkName + "\"\n"
                                       "             node.description = \"Vantrel Test Sink\"\n"
                                       "             media.class = Audio/Sink\n"
                                       "             audio.position = [ FL FR ] } }\n"
                                       "]\n";
        if (! folder.getChildFile ("config/pipewire/pipewire.conf.d/vantrel-test-sink.conf").replaceWithText (sinkConfiguration))
            return false;

        const auto bus = "unix:path=" + path ("run/bus");
        if (! launch ("/usr/bin/dbus-daemon", { "--session", "--address=" + bus, "--nofork", "--nopidfile" })
            || ! waitUntil ([this] { return folder.getChildFile ("run/bus").exists(); }))
            return false;
        if (! launch ("/usr/bin/pipewire", {})
            || ! waitUntil ([this] { return folder.getChildFile ("run/pipewire-0").exists(); }))
            return false;
        if (! launch ("/usr/bin/wireplumber", {}) || ! launch ("/usr/bin/pipewire-pulse", {}))
            return false;

        platform::setEnvironmentVariable ("PULSE_SERVER", server());
        platform::setEnvironmentVariable ("PULSE_COOKIE", folder.getChildFile ("client-cookie").getFullPathName().toStdString());
        // Ready once the pulse server answers, the sink is there and the session manager has
        // published the metadata that stream-restore keeps its entries in.
        return waitUntil ([this] {
            return pactl ({ "list", "short", "sinks" }).find (sinkName) != std::string::npos
                && runTool ("/usr/bin/pw-cli", { "ls", "Metadata" }, clientEnvironment()).find ("route-settings") != std::string::npos;
        });
    }

    /** Ends the servers, the newest first. wireplumber writes its stream-restore entries to its
        state folder a moment after a change, and a stop before that loses the change (a desktop's
        session runs on for long): so the event entry it holds is waited for on disk first. */
    void stop() override
    {
        if (! processes.empty() && processes.front()->isRunning())
        {
            const auto held = heldEventMute();
            if (held.isNotEmpty())
                waitUntil ([&] {
                    return folder.getChildFile ("state/wireplumber/restore-stream").loadFileAsString()
                        .contains ("Output/Audio:media.role:Notification:mute=" + held);
                });
        }
        for (auto it = processes.rbegin(); it != processes.rend(); ++it)
        {
            if ((*it)->isRunning())
            {
                (*it)->terminate();
                (*it)->waitUntilEnded();
            }
        }
        processes.clear();
    }

    std::string socketPath() const override  { return path ("run/pulse/native"); }

    /** Where its clients find its socket ("pipewire-0"): their PIPEWIRE_RUNTIME_DIR. */
    std::string runtimeFolder() const  { return path ("run"); }

    /** The environment entries a PipeWire client (pw-cli, pw-record, a JACK client through
        PipeWire's JACK library) needs to find this server. */
    std::vector<std::string> clientEnvironment() const
    {
        return { "PIPEWIRE_RUNTIME_DIR=" + path ("run"), "LC_ALL=C" };
    }

private:
    /** "true" or "false": the mute of the event-sound entry in the session manager's metadata
        (pipewire-pulse keeps the entry of the "event" role as the "Notification" role's);
        empty when it holds none. */
    juce::String heldEventMute() const
    {
        const auto listing = juce::StringArray::fromLines (juce::String (
            runTool ("/usr/bin/pw-metadata", { "-n", "route-settings" }, clientEnvironment())));
        for (const auto& line : listing)
            if (line.contains ("'restore.stream.Output/Audio.media.role:Notification'"))
                return line.fromFirstOccurrenceOf ("\"mute\":", false, false).trimStart().upToFirstOccurrenceOf (",", false, false)
                           .upToFirstOccurrenceOf (" ", false, false).upToFirstOccurrenceOf ("}", false, false);
        return {};
    }

    std::string path (const char* sub) const  { return folder.getChildFile (sub).getFullPathName().toStdString(); }

    bool launch (const std::string& program, std::vector<std::string> arguments)
    {
        std::string runner = program;
        if (juce::File ("/usr/bin/setpriv").existsAsFile())
        {
            arguments.insert (arguments.begin(), { "--pdeathsig", "KILL", "--", program });
            runner = "/usr/bin/setpriv";
        }
        auto process = std::make_unique<platform::ChildProcess>();
        const bool started = process->start (runner, arguments,
                                             { "HOME=" + path ("home"), "XDG_RUNTIME_DIR=" + path ("run"),
                                               "PIPEWIRE_RUNTIME_DIR=" + path ("run"),
                                               "XDG_CONFIG_HOME=" + path ("config"), "XDG_STATE_HOME=" + path ("state"),
                                               "XDG_DATA_HOME=" + path ("home/.local/share"),
                                               "DBUS_SESSION_BUS_ADDRESS=unix:path=" + path ("run/bus"),
                                               "DISPLAY=", "PULSE_SERVER=", "JACK_DEFAULT_SERVER=" });
        processes.push_back (std::move (process));
        return started;
    }

    juce::File folder;
    std::vector<std::unique_ptr<platform::ChildProcess>> processes;
};
} // namespace vantrel::test
