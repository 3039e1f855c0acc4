#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vantrel::platform
{
/** The system-sounds session of the desktop's sound server (PulseAudio, or PipeWire's pulse
    server): the stored stream entry "sink-input-by-media-role:event", which the server applies to
    every notification sound (every stream of the "event" media role). One per server. */
struct SystemSoundSession
{
    std::string key;      // the server's address, "|" and the entry's name: the same after a server restart
    bool muted = false;   // the entry's mute state; false while the server keeps no entry yet
};

/** A client of the sound server that reads and sets the mute of its system-sounds session.
    Connects at the first request and again after the server went away (it never starts a
    server); every step waits at most requestTimeoutMs, after which the connection is dropped.
    One thread only (the muter's worker). The client library refuses to work in a forked child
    of a process that used it before the fork: such a child sees no server. */
class SystemSoundSessions
{
public:
    static constexpr int requestTimeoutMs = 2000;

    SystemSoundSessions();
    ~SystemSoundSessions();

    SystemSoundSessions (const SystemSoundSessions&) = delete;
    SystemSoundSessions& operator= (const SystemSoundSessions&) = delete;

    /** False when the client library could not be set up at all. */
    bool isValid() const;

    /** Lists the server's system-sounds sessions (one). False when no server answers or the
        server keeps no stream entries (its stream-restore module is not loaded). */
    bool enumerate (std::vector<SystemSoundSession>& sessions);

    /** Sets the session's mute: rewrites its entry in replace mode with the entry's volume and
        device kept, applied at once to the playing event streams, and then sets the mute of every
        playing stream of the event role that still differs (a server that does not apply the
        entry to playing streams). An entry that is already right is not rewritten. Returns once
        a read shows what was written (PipeWire's pulse server shows it a moment later), or after
        requestTimeoutMs. False when `key` is not the connected server's session or a step failed. */
    bool setMute (const std::string& key, bool muted);

    /** Reads whether the session is muted as a whole: its entry and every playing stream of the
        event role. False when `key` is not the connected server's session or the read failed. */
    bool getMute (const std::string& key, bool& muted);

private:
    struct Client;
    std::unique_ptr<Client> client;
};
} // namespace vantrel::platform
