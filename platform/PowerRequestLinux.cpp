#include "platform/PowerRequest.h"

#include "platform/ThreadContract.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace vantrel::platform
{
namespace
{
constexpr const char* applicationName = "Vantrel!";
constexpr const char* reason = "Live show";

constexpr const char* screenSaverName = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* loginName = "org.freedesktop.login1";
constexpr const char* loginPath = "/org/freedesktop/login1";
constexpr const char* loginManager = "org.freedesktop.login1.Manager";
constexpr const char* systemBusDefault = "unix:path=/var/run/dbus/system_bus_socket";

struct ConnectionCloser
{
    void operator() (DBusConnection* connection) const
    {
        dbus_connection_close (connection);
        dbus_connection_unref (connection);
    }
};

struct MessageUnref
{
    void operator() (DBusMessage* message) const { dbus_message_unref (message); }
};

using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;
using Message = std::unique_ptr<DBusMessage, MessageUnref>;
using Deadline = std::chrono::steady_clock::time_point;

/** A libdbus error, freed on every path. */
struct BusError
{
    DBusError error;

    BusError()  { dbus_error_init (&error); }
    ~BusError() { dbus_error_free (&error); }

    BusError (const BusError&) = delete;
    BusError& operator= (const BusError&) = delete;

    bool isSet() const { return dbus_error_is_set (&error); }

    std::string text() const
    {
        return std::string (error.name != nullptr ? error.name : "unknown error")
               + (error.message != nullptr ? std::string (": ") + error.message : std::string());
    }
};

std::string environment (const char* name)
{
    const char* value = std::getenv (name);
    return value != nullptr ? value : "";
}

/** The session bus's address, or empty when there is none to be found. */
std::string sessionBusAddress()
{
    if (auto address = environment ("DBUS_SESSION_BUS_ADDRESS"); ! address.empty())
        return address;

    if (auto runtime = environment ("XDG_RUNTIME_DIR"); ! runtime.empty())
    {
        const auto socket = runtime + "/bus";
        struct stat info {};

        if (::stat (socket.c_str(), &info) == 0 && S_ISSOCK (info.st_mode))
            return "unix:path=" + socket;
    }

    return {};
}

std::string systemBusAddress()
{
    auto address = environment ("DBUS_SYSTEM_BUS_ADDRESS");
    return address.empty() ? systemBusDefault : address;
}

int remainingMs (Deadline deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now());
    return (int) std::max<long long> (1, left.count());
}

/** Sends a method call and waits for its answer until the deadline. Null with `error` set when
    no answer came or the answer is an error. */
Message call (DBusConnection* connection, DBusMessage* request, Deadline deadline, std::string& error)
{
    BusError failure;
    Message reply (dbus_connection_send_with_reply_and_block (connection, request, remainingMs (deadline), &failure.error));

    if (reply != nullptr)
        return reply;

    if (failure.isSet() && (dbus_error_has_name (&failure.error, DBUS_ERROR_NO_REPLY)
                            || dbus_error_has_name (&failure.error, DBUS_ERROR_TIMEOUT)))
        error = std::string (dbus_message_get_destination (request)) + " did not answer "
                + dbus_message_get_member (request) + " within " + std::to_string (PowerRequest::callTimeoutMs) + " ms";
    else
        error = failure.isSet() ? failure.text() : std::string ("no answer");

    return {};
}

Message methodCall (const char* destination, const char* path, const char* interface, const char* member)
{
    return Message (dbus_message_new_method_call (destination, path, interface, member));
}

/** A private connection to a bus, registered with it. Private so that its life is ours: a shared
    one would be kept by libdbus and would end the process when the bus goes away. */
Connection connect (const std::string& address, const char* busName, Deadline deadline, std::string& error)
{
    dbus_threads_init_default();

    BusError failure;
    Connection connection (dbus_connection_open_private (address.c_str(), &failure.error));

    if (connection == nullptr)
    {
        error = std::string ("cannot connect to the ") + busName + " (" + address + "): " + failure.text();
        return {};
    }

    dbus_connection_set_exit_on_disconnect (connection.get(), FALSE);

    // The bus's Hello, as dbus_bus_register sends it, but within our deadline.
    auto hello = methodCall (DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello");
    std::string callError;
    auto reply = hello != nullptr ? call (connection.get(), hello.get(), deadline, callError) : Message();
    const char* uniqueName = nullptr;

    if (reply == nullptr
        || ! dbus_message_get_args (reply.get(), nullptr, DBUS_TYPE_STRING, &uniqueName, DBUS_TYPE_INVALID)
        || ! dbus_bus_set_unique_name (connection.get(), uniqueName))
    {
        error = std::string ("the ") + busName + " (" + address + ") did not register us"
                + (callError.empty() ? std::string() : ": " + callError);
        return {};
    }

    return connection;
}

/** True when the peer of a held descriptor has closed its end (the lock is gone). */
bool peerClosed (int fd)
{
    pollfd entry { fd, 0, 0 };
    return ::poll (&entry, 1, 0) > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}
} // namespace

struct PowerRequest::State
{
    Connection session;    // open while the display part is held
    std::uint32_t cookie = 0;
    int sleepLock = -1;

    bool takeSleep (std::string& error)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (callTimeoutMs);
        auto connection = connect (systemBusAddress(), "system bus", deadline, error);

        if (connection == nullptr)
            return false;

        if (! dbus_connection_can_send_type (connection.get(), DBUS_TYPE_UNIX_FD))
        {
            error = "the system bus does not pass file descriptors";
            return false;
        }

        auto request = methodCall (loginName, loginPath, loginManager, "Inhibit");
        const char* what = "sleep:idle";
        const char* mode = "block";

        if (request == nullptr
            || ! dbus_message_append_args (request.get(), DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &applicationName,
                                           DBUS_TYPE_STRING, &reason, DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID))
        {
            error = "out of memory";
            return false;
        }

        auto reply = call (connection.get(), request.get(), deadline, error);
        int fd = -1;

        if (reply == nullptr)
            return false;

        if (! dbus_message_get_args (reply.get(), nullptr, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID) || fd < 0)
        {
            error = std::string (loginName) + " answered Inhibit without a lock descriptor";
            return false;
        }

        ::fcntl (fd, F_SETFD, FD_CLOEXEC);   // a worker we start must not keep the lock alive
        sleepLock = fd;
        return true;
    }

    void releaseSleep()
    {
        if (sleepLock >= 0)
            ::close (sleepLock);

        sleepLock = -1;
    }

    bool takeDisplay (std::string& error)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (callTimeoutMs);
        const auto address = sessionBusAddress();

        if (address.empty())
        {
            error = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
            return false;
        }

        auto connection = connect (address, "session bus", deadline, error);

        if (connection == nullptr)
            return false;

        auto request = methodCall (screenSaverName, screenSaverPath, screenSaverName, "Inhibit");

        if (request == nullptr
            || ! dbus_message_append_args (request.get(), DBUS_TYPE_STRING, &applicationName,
                                           DBUS_TYPE_STRING, &reason, DBUS_TYPE_INVALID))
        {
            error = "out of memory";
            return false;
        }

        auto reply = call (connection.get(), request.get(), deadline, error);
        dbus_uint32_t answer = 0;

        if (reply == nullptr)
            return false;

        if (! dbus_message_get_args (reply.get(), nullptr, DBUS_TYPE_UINT32, &answer, DBUS_TYPE_INVALID))
        {
            error = std::string (screenSaverName) + " answered Inhibit without a cookie";
            return false;
        }

        session = std::move (connection);
        cookie = answer;
        return true;
    }

    void releaseDisplay()
    {
        if (session == nullptr)
            return;

        // Closing the connection drops the inhibit too; UnInhibit says so in words first. Its
        // answer changes nothing, so an error is not reported.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (callTimeoutMs);
        auto request = methodCall (screenSaverName, screenSaverPath, screenSaverName, "UnInhibit");
        std::string ignored;

        if (request != nullptr && dbus_message_append_args (request.get(), DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID))
            call (session.get(), request.get(), deadline, ignored);

        session.reset();
        cookie = 0;
    }

    /** Forgets the parts whose other side has gone, so that they are taken again. */
    void forgetLostParts()
    {
        if (sleepLock >= 0 && peerClosed (sleepLock))
            releaseSleep();

        if (session != nullptr)
        {
            dbus_connection_read_write (session.get(), 0);

            while (auto* message = dbus_connection_pop_message (session.get()))   // NameAcquired and the like
                dbus_message_unref (message);

            if (! dbus_connection_get_is_connected (session.get()))
            {
                session.reset();
                cookie = 0;
            }
        }
    }
};

PowerRequest::PowerRequest() : state (std::make_unique<State>()) {}

PowerRequest::~PowerRequest()
{
    release();
}

bool PowerRequest::set (bool preventSleep, bool preventDisplayOff, std::string& error)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    state->forgetLostParts();

    std::vector<std::string> failures;
    std::string what;

    if (! preventSleep)
        state->releaseSleep();
    else if (state->sleepLock < 0 && ! state->takeSleep (what))
        failures.push_back ("keeping the system awake: " + what);

    if (! preventDisplayOff)
        state->releaseDisplay();
    else if (state->session == nullptr && ! state->takeDisplay (what))
        failures.push_back ("keeping the display on: " + what);

    error.clear();

    if (failures.empty())
        return true;

    error = "Power request failed: ";

    for (size_t i = 0; i < failures.size(); ++i)
        error += (i > 0 ? "; " : "") + failures[i];

    return false;
}

void PowerRequest::release()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    state->releaseSleep();
    state->releaseDisplay();
}

bool PowerRequest::holdsSleep() const
{
    return state->sleepLock >= 0;
}

bool PowerRequest::holdsDisplay() const
{
    return state->session != nullptr;
}
} // namespace vantrel::platform
