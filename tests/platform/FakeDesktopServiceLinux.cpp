#include "FakeDesktopService.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace vantrel::test
{
struct FakeDesktopService::Connection
{
    DBusConnection* bus = nullptr;

    ~Connection()
    {
        if (bus != nullptr)
        {
            dbus_connection_close (bus);
            dbus_connection_unref (bus);
        }
    }
};

size_t FakeDesktopService::Records::displayHolds() const
{
    return (size_t) std::count_if (inhibits.begin(), inhibits.end(), [this] (const ScreenSaverInhibit& inhibit)
    {
        return std::find (unInhibits.begin(), unInhibits.end(), inhibit.cookie) == unInhibits.end();
    });
}

size_t FakeDesktopService::Records::sleepHolds() const
{
    return (size_t) std::count_if (sleepLocks.begin(), sleepLocks.end(), [] (const SleepInhibit& l) { return l.open; });
}

FakeDesktopService::FakeDesktopService() = default;

FakeDesktopService::~FakeDesktopService()
{
    stop();
}

bool FakeDesktopService::start (const std::string& busAddress, const std::string& name, Answer firstAnswer, std::string& error)
{
    dbus_threads_init_default();
    setAnswer (firstAnswer);

    DBusError failure;
    dbus_error_init (&failure);
    auto fresh = std::make_unique<Connection>();
    fresh->bus = dbus_connection_open_private (busAddress.c_str(), &failure);

    if (fresh->bus != nullptr)
    {
        dbus_connection_set_exit_on_disconnect (fresh->bus, FALSE);

        if (dbus_bus_register (fresh->bus, &failure)
            && dbus_bus_request_name (fresh->bus, name.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &failure)
                   == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
        {
            connection = std::move (fresh);
            stopping = false;
            thread = std::thread ([this] { serve(); });
            return true;
        }
    }

    error = "the fake " + name + " could not start: " + (dbus_error_is_set (&failure) ? failure.message : "name taken");
    dbus_error_free (&failure);
    return false;
}

void FakeDesktopService::stop()
{
    stopping = true;

    if (thread.joinable())
        thread.join();

    connection.reset();

    std::lock_guard<std::mutex> guard (lock);

    for (auto& fd : lockEnds)
        if (fd >= 0)
            ::close (std::exchange (fd, -1));
}

void FakeDesktopService::setAnswer (Answer next)
{
    std::lock_guard<std::mutex> guard (lock);
    answer = next;
}

void FakeDesktopService::dropSleepLock (size_t index)
{
    std::lock_guard<std::mutex> guard (lock);

    if (index < lockEnds.size() && lockEnds[index] >= 0)
    {
        ::close (std::exchange (lockEnds[index], -1));
        seen.sleepLocks[index].open = false;
    }
}

FakeDesktopService::Records FakeDesktopService::records() const
{
    std::lock_guard<std::mutex> guard (lock);
    return seen;
}

bool FakeDesktopService::waitUntil (const std::function<bool (const Records&)>& condition) const
{
    std::unique_lock<std::mutex> guard (lock);
    return anyChange.wait_for (guard, std::chrono::seconds (60), [&] { return condition (seen); });
}

void FakeDesktopService::changed()
{
    anyChange.notify_all();
}

void FakeDesktopService::serve()
{
    while (! stopping && dbus_connection_read_write (connection->bus, 10))
    {
        while (auto* message = dbus_connection_pop_message (connection->bus))
        {
            handle (message);
            dbus_message_unref (message);
        }

        noticeClosedLocks();
    }
}

void FakeDesktopService::noticeClosedLocks()
{
    std::lock_guard<std::mutex> guard (lock);

    for (size_t i = 0; i < lockEnds.size(); ++i)
    {
        pollfd entry { lockEnds[i], POLLIN, 0 };

        if (lockEnds[i] >= 0 && ::poll (&entry, 1, 0) > 0 && (entry.revents & POLLHUP) != 0)
        {
            ::close (std::exchange (lockEnds[i], -1));
            seen.sleepLocks[i].open = false;
            changed();
        }
    }
}

void FakeDesktopService::handle (void* untyped)
{
    auto* message = static_cast<DBusMessage*> (untyped);
    DBusMessage* reply = nullptr;
    std::unique_lock<std::mutex> guard (lock);
    const bool refuse = answer == Answer::withError;

    if (dbus_message_get_type (message) != DBUS_MESSAGE_TYPE_METHOD_CALL)
        return;

    if (answer == Answer::never && dbus_message_has_member (message, "Inhibit"))
    {
        ++seen.unanswered;
        changed();
        return;
    }

    if (dbus_message_is_method_call (message, "org.freedesktop.ScreenSaver", "Inhibit")
        && dbus_message_has_path (message, "/org/freedesktop/ScreenSaver"))
    {
        const char* application = nullptr;
        const char* reason = nullptr;

        if (refuse || ! dbus_message_get_args (message, nullptr, DBUS_TYPE_STRING, &application, DBUS_TYPE_STRING, &reason, DBUS_TYPE_INVALID))
        {
            reply = dbus_message_new_error (message, DBUS_ERROR_ACCESS_DENIED, refusal);
        }
        else
        {
            const dbus_uint32_t cookie = nextCookie++;
            seen.inhibits.push_back ({ application, reason, cookie });
            reply = dbus_message_new_method_return (message);
            dbus_message_append_args (reply, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID);
        }
    }
    else if (dbus_message_is_method_call (message, "org.freedesktop.ScreenSaver", "UnInhibit")
             && dbus_message_has_path (message, "/org/freedesktop/ScreenSaver"))
    {
        dbus_uint32_t cookie = 0;

        if (dbus_message_get_args (message, nullptr, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID))
            seen.unInhibits.push_back (cookie);

        reply = dbus_message_new_method_return (message);
    }
    else if (dbus_message_is_method_call (message, "org.freedesktop.login1.Manager", "Inhibit")
             && dbus_message_has_path (message, "/org/freedesktop/login1"))
    {
        const char* text[4] = {};
        int ends[2] = { -1, -1 };

        if (refuse
            || ! dbus_message_get_args (message, nullptr, DBUS_TYPE_STRING, &text[0], DBUS_TYPE_STRING, &text[1],
                                        DBUS_TYPE_STRING, &text[2], DBUS_TYPE_STRING, &text[3], DBUS_TYPE_INVALID)
            || ::pipe2 (ends, O_CLOEXEC) != 0)
        {
            reply = dbus_message_new_error (message, DBUS_ERROR_ACCESS_DENIED, refusal);
        }
        else
        {
            seen.sleepLocks.push_back ({ text[0], text[1], text[2], text[3], true });
            lockEnds.push_back (ends[0]);
            reply = dbus_message_new_method_return (message);
            dbus_message_append_args (reply, DBUS_TYPE_UNIX_FD, &ends[1], DBUS_TYPE_INVALID);   // the message keeps a copy
            ::close (ends[1]);
        }
    }
    else
    {
        reply = dbus_message_new_error (message, DBUS_ERROR_UNKNOWN_METHOD, "the fake service has no such method");
    }

    changed();
    guard.unlock();

    dbus_connection_send (connection->bus, reply, nullptr);
    dbus_connection_flush (connection->bus);
    dbus_message_unref (reply);
}
} // namespace vantrel::test
