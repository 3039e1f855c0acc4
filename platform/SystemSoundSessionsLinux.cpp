#include "platform/SystemSoundSessions.h"

#include <pulse/ext-stream-restore.h>
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

namespace vantrel::platform
{
namespace
{
using Clock = std::chrono::steady_clock;

constexpr const char* eventEntryName = "sink-input-by-media-role:event";
constexpr const char* eventRole = "event";

/** The stored entry as the server gave it, kept whole so that a rewrite changes only the mute. */
struct StoredEntry
{
    bool found = false;
    pa_channel_map channelMap {};
    pa_cvolume volume {};
    bool hasDevice = false;
    std::string device;
    bool muted = false;
};

struct EventStream
{
    uint32_t index = PA_INVALID_INDEX;
    bool muted = false;
};

/** The answer of a request that reports success or failure. */
struct Acknowledgement
{
    bool answered = false;
    bool succeeded = false;
    int error = PA_OK;
};

void acknowledge (pa_context* context, int success, void* user)
{
    auto& answer = *static_cast<Acknowledgement*> (user);
    answer.answered = true;
    answer.succeeded = success != 0;
    answer.error = success != 0 ? PA_OK : pa_context_errno (context);
}
} // namespace

struct SystemSoundSessions::Client
{
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = nullptr;
    std::string sessionKey;   // the connected server's session

    ~Client()
    {
        disconnect();

        if (loop != nullptr)
            pa_mainloop_free (loop);
    }

    void disconnect()
    {
        if (context != nullptr)
        {
            pa_context_disconnect (context);
            pa_context_unref (context);
            context = nullptr;
        }

        sessionKey.clear();
    }

    static Clock::time_point deadline()  { return Clock::now() + std::chrono::milliseconds (requestTimeoutMs); }

    /** Runs the loop until `finished` answers true; false when the deadline passed first or the
        loop failed. */
    template <typename Finished>
    bool runUntil (Finished finished, Clock::time_point until)
    {
        while (! finished())
        {
            const auto now = Clock::now();

            if (now >= until)
                return false;

            const auto wait = std::chrono::duration_cast<std::chrono::microseconds> (until - now).count();

            if (pa_mainloop_prepare (loop, static_cast<int> (wait)) < 0
                || pa_mainloop_poll (loop) < 0
                || pa_mainloop_dispatch (loop) < 0)
                return false;
        }

        return true;
    }

    bool connect()
    {
        if (context != nullptr && pa_context_get_state (context) == PA_CONTEXT_READY)
            return true;

        disconnect();

        if (loop == nullptr)
            return false;

        context = pa_context_new (pa_mainloop_get_api (loop), "Vantrel");

        if (context == nullptr)
            return false;

        if (pa_context_connect (context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        {
            disconnect();
            return false;
        }

        const bool settled = runUntil ([this]
                                       {
                                           const auto state = pa_context_get_state (context);
                                           return state == PA_CONTEXT_READY || ! PA_CONTEXT_IS_GOOD (state);
                                       },
                                       deadline());

        if (! settled || pa_context_get_state (context) != PA_CONTEXT_READY)
        {
            disconnect();
            return false;
        }

        // The address as the library names it; "unix:/path" and "/path" are one server.
        std::string address = pa_context_get_server (context) != nullptr ? pa_context_get_server (context) : "";

        if (address.rfind ("unix:", 0) == 0)
            address.erase (0, 5);

        sessionKey = address + "|" + eventEntryName;
        return true;
    }

    bool connectTo (const std::string& key)
    {
        return connect() && key == sessionKey;
    }

    /** Waits for a request to finish; a request that does not finish in time drops the connection. */
    bool await (pa_operation* operation)
    {
        if (operation == nullptr)
            return false;

        const bool finished = runUntil ([operation] { return pa_operation_get_state (operation) != PA_OPERATION_RUNNING; },
                                        deadline());
        if (! finished)
            pa_operation_cancel (operation);

        pa_operation_unref (operation);

        if (! finished)
            disconnect();

        return finished;
    }

    bool readEntry (StoredEntry& entry)
    {
        struct Reading
        {
            StoredEntry entry;
            bool ended = false;
            bool failed = false;
        } reading;

        auto* operation = pa_ext_stream_restore_read (
            context,
            [] (pa_context*, const pa_ext_stream_restore_info* info, int eol, void* user)
            {
                auto& state = *static_cast<Reading*> (user);

                if (eol != 0)
                {
                    state.ended = true;
                    state.failed = eol < 0;
                    return;
                }

                if (info == nullptr || info->name == nullptr || std::strcmp (info->name, eventEntryName) != 0)
                    return;

                state.entry.found = true;
                state.entry.channelMap = info->channel_map;
                state.entry.volume = info->volume;
                state.entry.hasDevice = info->device != nullptr;
                state.entry.device = info->device != nullptr ? info->device : "";
                state.entry.muted = info->mute != 0;
            },
            &reading);

        if (! await (operation) || ! reading.ended || reading.failed)
            return false;

        entry = reading.entry;
        return true;
    }

    bool writeEntry (const StoredEntry& entry, bool muted)
    {
        pa_ext_stream_restore_info info {};
        info.name = eventEntryName;

        if (entry.found)
        {
            info.channel_map = entry.channelMap;
            info.volume = entry.volume;
            info.device = entry.hasDevice ? entry.device.c_str() : nullptr;
        }
        else
        {
            pa_channel_map_init (&info.channel_map);
            pa_cvolume_init (&info.volume);
        }

        info.mute = muted ? 1 : 0;

        // Replace mode: merge mode leaves an existing entry as it is. Applied at once, so that
        // the playing event streams follow the entry.
        Acknowledgement answer;
        const bool finished = await (pa_ext_stream_restore_write (context, PA_UPDATE_REPLACE, &info, 1, 1, acknowledge, &answer));
        return finished && answer.succeeded;
    }

    bool listEventStreams (std::vector<EventStream>& streams)
    {
        struct Listing
        {
            std::vector<EventStream> streams;
            bool ended = false;
            bool failed = false;
        } listing;

        auto* operation = pa_context_get_sink_input_info_list (
            context,
            [] (pa_context*, const pa_sink_input_info* info, int eol, void* user)
            {
                auto& state = *static_cast<Listing*> (user);

                if (eol != 0)
                {
                    state.ended = true;
                    state.failed = eol < 0;
                    return;
                }

                const char* role = info != nullptr ? pa_proplist_gets (info->proplist, PA_PROP_MEDIA_ROLE) : nullptr;

                if (role != nullptr && std::strcmp (role, eventRole) == 0)
                    state.streams.push_back ({ info->index, info->mute != 0 });
            },
            &listing);

        if (! await (operation) || ! listing.ended || listing.failed)
            return false;

        streams = std::move (listing.streams);
        return true;
    }

    bool setStreamMute (uint32_t index, bool muted)
    {
        Acknowledgement answer;

        if (! await (pa_context_set_sink_input_mute (context, index, muted ? 1 : 0, acknowledge, &answer)))
            return false;

        // A notification sound that ended in the meantime needs nothing.
        return answer.succeeded || (answer.answered && answer.error == PA_ERR_NOENTITY);
    }
};

SystemSoundSessions::SystemSoundSessions()
    : client (std::make_unique<Client>())
{
}

SystemSoundSessions::~SystemSoundSessions() = default;

bool SystemSoundSessions::isValid() const
{
    return client->loop != nullptr;
}

bool SystemSoundSessions::enumerate (std::vector<SystemSoundSession>& sessions)
{
    sessions.clear();
    StoredEntry entry;

    if (! client->connect() || ! client->readEntry (entry))
        return false;

    sessions.push_back ({ client->sessionKey, entry.found && entry.muted });
    return true;
}

bool SystemSoundSessions::setMute (const std::string& key, bool muted)
{
    StoredEntry entry;

    if (! client->connectTo (key) || ! client->readEntry (entry))
        return false;

    if ((! entry.found || entry.muted != muted) && ! client->writeEntry (entry, muted))
        return false;

    std::vector<EventStream> streams;

    if (! client->listEventStreams (streams))
        return false;

    for (const auto& stream : streams)
        if (stream.muted != muted && ! client->setStreamMute (stream.index, muted))
            return false;

    // PipeWire's pulse server keeps the entries in its session manager's metadata and the streams'
    // mute in their nodes: a read right after a write may still show the old state for a moment.
    // The writes are read back (a bounded wait) so that the caller's own read sees them; one that
    // never shows is left for that read to report.
    const auto giveUp = Clock::now() + std::chrono::milliseconds (requestTimeoutMs);
    while (Clock::now() < giveUp)
    {
        if (! client->readEntry (entry) || ! client->listEventStreams (streams))
            return false;
        bool shown = entry.found ? entry.muted == muted : ! muted;
        for (const auto& stream : streams)
            shown = shown && stream.muted == muted;
        if (shown)
            break;
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    return true;
}

bool SystemSoundSessions::getMute (const std::string& key, bool& muted)
{
    StoredEntry entry;
    std::vector<EventStream> streams;

    if (! client->connectTo (key) || ! client->readEntry (entry) || ! client->listEventStreams (streams))
        return false;

    muted = entry.found && entry.muted;

    for (const auto& stream : streams)
        muted = muted && stream.muted;

    return true;
}
} // namespace vantrel::platform
