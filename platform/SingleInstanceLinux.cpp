#include "platform/SingleInstance.h"

#include "platform/EventWaker.h"
#include "platform/ThreadName.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel::platform
{
namespace
{
using Clock = std::chrono::steady_clock;

std::string systemText (int code)
{
    return std::error_code (code, std::generic_category()).message();
}

std::string withoutTrailingSlashes (std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();

    return folder;
}

/** One owned descriptor. */
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd (int descriptor) : fd (descriptor) {}
    ~UniqueFd()  { reset(); }

    UniqueFd (UniqueFd&& other) noexcept : fd (other.fd)  { other.fd = -1; }
    UniqueFd& operator= (UniqueFd&& other) noexcept
    {
        if (this != &other)
        {
            reset (other.fd);
            other.fd = -1;
        }

        return *this;
    }

    int get() const        { return fd; }
    bool valid() const     { return fd >= 0; }

    void reset (int descriptor = -1)
    {
        if (fd >= 0)
            ::close (fd);

        fd = descriptor;
    }

private:
    int fd = -1;
};

enum class WhenMissing { create, fail };

/** Opens the instance folder after checking that it is private; creates it (0700) first when
    allowed. The checks run on the opened folder itself, so a swap after the check is seen. */
bool openPrivateFolder (const std::string& folder, WhenMissing whenMissing, UniqueFd& result, std::string& error)
{
    if (folder.empty() || folder.front() != '/')
    {
        error = "the instance folder \"" + folder + "\" is not an absolute path";
        return false;
    }

    struct stat before {};
    bool created = false;

    if (::lstat (folder.c_str(), &before) != 0)
    {
        if (errno != ENOENT || whenMissing == WhenMissing::fail)
        {
            error = "cannot use the instance folder " + folder + ": " + systemText (errno);
            return false;
        }

        std::error_code parentError;
        std::filesystem::create_directories (std::filesystem::path (folder).parent_path(), parentError);

        if (::mkdir (folder.c_str(), 0700) == 0)
            created = true;
        else if (errno != EEXIST)
        {
            error = "cannot create the instance folder " + folder + ": " + systemText (errno);
            return false;
        }

        if (::lstat (folder.c_str(), &before) != 0)
        {
            error = "cannot use the instance folder " + folder + ": " + systemText (errno);
            return false;
        }
    }

    if (S_ISLNK (before.st_mode))
    {
        error = "the instance folder " + folder + " is a symbolic link";
        return false;
    }

    if (! S_ISDIR (before.st_mode))
    {
        error = "the instance folder " + folder + " is not a folder";
        return false;
    }

    UniqueFd opened (::open (folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};

    if (! opened.valid() || ::fstat (opened.get(), &status) != 0)
    {
        error = "cannot open the instance folder " + folder + ": " + systemText (errno);
        return false;
    }

    if (status.st_dev != before.st_dev || status.st_ino != before.st_ino)
    {
        error = "the instance folder " + folder + " changed while it was checked";
        return false;
    }

    if (status.st_uid != ::geteuid())
    {
        error = "the instance folder " + folder + " belongs to user " + std::to_string (status.st_uid)
              + ", not to this user (" + std::to_string (::geteuid()) + ")";
        return false;
    }

    if (created && ::fchmod (opened.get(), 0700) == 0)
        status.st_mode = S_IFDIR | 0700;

    if ((status.st_mode & 077) != 0)
    {
        char mode[8];
        std::snprintf (mode, sizeof (mode), "%04o", static_cast<unsigned> (status.st_mode & 07777));
        error = "the instance folder " + folder + " is open to its group or others (mode " + mode + "); it must be 0700";
        return false;
    }

    result = std::move (opened);
    return true;
}

/** The socket's address: its path when that fits, else the same file reached through the opened
    folder, which keeps a long profile path usable. */
bool makeAddress (const std::string& folder, int folderFd, sockaddr_un& address, std::string& error)
{
    std::memset (&address, 0, sizeof (address));
    address.sun_family = AF_UNIX;

    auto path = folder + "/" + SingleInstance::socketFileName;

    if (path.size() >= sizeof (address.sun_path))
        path = "/proc/self/fd/" + std::to_string (folderFd) + "/" + SingleInstance::socketFileName;

    if (path.size() >= sizeof (address.sun_path))
    {
        error = "the socket path is too long";
        return false;
    }

    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

/** Opens the lock file without creating it when it exists, so that a busy start changes
    nothing; creates it (0600) only when it is missing. */
UniqueFd openLockFile (int folderFd, std::string& error)
{
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        UniqueFd existing (::openat (folderFd, SingleInstance::lockFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));

        if (! existing.valid() && errno == ENOENT)
            existing.reset (::openat (folderFd, SingleInstance::lockFileName,
                                      O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));

        if (! existing.valid())
        {
            if (errno == EEXIST)
                continue;   // another first start created it just now

            error = std::string ("cannot open the lock file: ") + systemText (errno);
            return {};
        }

        struct stat status {};

        if (::fstat (existing.get(), &status) != 0 || ! S_ISREG (status.st_mode))
        {
            error = "the lock file is not a regular file";
            return {};
        }

        return existing;
    }

    error = "cannot open the lock file";
    return {};
}

void writeLog (const SingleInstance::LogFunction& log, const std::string& text)
{
    const auto line = "Single instance: " + text;

    if (log)
        log (line);
    else
        juce::Logger::writeToLog (juce::String::fromUTF8 (line.c_str()));
}

int millisecondsUntil (Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return static_cast<int> (std::clamp<long long> (left, 0, 60'000));
}

/** One accepted connection whose message is still being read. */
struct PendingConnection
{
    UniqueFd fd;
    Clock::time_point deadline;
    std::string bytes;
};
} // namespace

struct SingleInstance::Held
{
    UniqueFd folderFd;
    UniqueFd lockFd;
    UniqueFd listenFd;
    EventWaker waker;
    std::atomic<bool> stopping { false };
    std::thread listener;

    Clock::time_point acceptPausedUntil {};   // after a failed accept (no descriptors left)
    bool acceptFailing = false;               // logged once until an accept works again

    void run (const RaiseCallback& callback, const LogFunction& log);
    void accept (std::vector<PendingConnection>& pending, const LogFunction& log);

    /** Reads what is there; true when the connection is finished with. */
    static bool read (PendingConnection& connection, const RaiseCallback& callback, const LogFunction& log);
};

void SingleInstance::Held::run (const RaiseCallback& callback, const LogFunction& log)
{
    std::vector<PendingConnection> pending;
    std::vector<pollfd> polled;

    while (! stopping.load())
    {
        const auto acceptPaused = Clock::now() < acceptPausedUntil;
        polled.assign ({ { waker.descriptor(), POLLIN, 0 },
                         { listenFd.get(), static_cast<short> (acceptPaused ? 0 : POLLIN), 0 } });
        auto timeoutMs = acceptPaused ? millisecondsUntil (acceptPausedUntil) + 1 : -1;

        for (const auto& connection : pending)
        {
            polled.push_back ({ connection.fd.get(), POLLIN, 0 });
            const auto left = millisecondsUntil (connection.deadline);
            timeoutMs = timeoutMs < 0 ? left : std::min (timeoutMs, left);
        }

        if (::poll (polled.data(), polled.size(), timeoutMs) < 0 && errno != EINTR)
        {
            writeLog (log, "the listener stopped: " + systemText (errno));
            return;
        }

        if (polled[0].revents != 0)
            waker.consume();

        // Reads before accepts, so that the indices of `polled` still match `pending`.
        for (size_t i = pending.size(); i-- > 0;)
        {
            auto& connection = pending[i];
            auto finished = polled[i + 2].revents != 0 && read (connection, callback, log);

            if (! finished && Clock::now() >= connection.deadline)
            {
                writeLog (log, "a connection sent no complete message within "
                                   + std::to_string (readDeadlineMs) + " ms; closed");
                finished = true;
            }

            if (finished)
                pending.erase (pending.begin() + static_cast<std::ptrdiff_t> (i));
        }

        if (polled[1].revents != 0)
            accept (pending, log);
    }
}

void SingleInstance::Held::accept (std::vector<PendingConnection>& pending, const LogFunction& log)
{
    // A bounded number per round, so that a flood cannot keep the loop from reading.
    for (int round = 0; round < maxPendingConnections; ++round)
    {
        UniqueFd fd (::accept4 (listenFd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));

        if (! fd.valid())
        {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
            {
                if (! acceptFailing)
                    writeLog (log, "cannot accept a connection: " + systemText (errno));

                acceptFailing = true;
                acceptPausedUntil = Clock::now() + std::chrono::milliseconds (100);   // no busy loop
            }

            return;
        }

        acceptFailing = false;
        ucred peer {};
        socklen_t length = sizeof (peer);

        if (::getsockopt (fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        {
            writeLog (log, "refused a connection whose user cannot be read: " + systemText (errno));
            continue;
        }

        if (peer.uid != ::geteuid())
        {
            writeLog (log, "refused a connection from user " + std::to_string (peer.uid)
                               + " (process " + std::to_string (peer.pid) + ")");
            continue;
        }

        if (pending.size() >= static_cast<size_t> (maxPendingConnections))
        {
            writeLog (log, "too many connections at once; the oldest was closed");
            pending.erase (pending.begin());
        }

        pending.push_back ({ std::move (fd), Clock::now() + std::chrono::milliseconds (readDeadlineMs), {} });
    }
}

bool SingleInstance::Held::read (PendingConnection& connection, const RaiseCallback& callback, const LogFunction& log)
{
    char buffer[maxMessageBytes];
    const auto room = static_cast<size_t> (maxMessageBytes) - connection.bytes.size();
    const auto got = ::recv (connection.fd.get(), buffer, room, MSG_DONTWAIT);

    if (got < 0)
    {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return false;

        writeLog (log, "a connection failed before its message: " + systemText (errno));
        return true;
    }

    if (got == 0)
    {
        writeLog (log, connection.bytes.empty() ? "a connection closed without a message"
                                                : "a connection closed in the middle of its message; ignored");
        return true;
    }

    connection.bytes.append (buffer, static_cast<size_t> (got));

    if (connection.bytes.find ('\n') == std::string::npos)
    {
        if (connection.bytes.size() < static_cast<size_t> (maxMessageBytes))
            return false;

        writeLog (log, "a message longer than " + std::to_string (maxMessageBytes) + " bytes was ignored");
        return true;
    }

    if (connection.bytes != raiseMessage)
    {
        writeLog (log, "a message that is not the raise request was ignored ("
                           + std::to_string (connection.bytes.size()) + " bytes)");
        return true;
    }

    try
    {
        if (callback)
            callback();
    }
    catch (...)
    {
        writeLog (log, "the raise callback threw an exception");
    }

    const auto answer = std::strlen (acknowledgement);
    [[maybe_unused]] const auto sent = ::send (connection.fd.get(), acknowledgement, answer, MSG_NOSIGNAL | MSG_DONTWAIT);
    return true;
}

SingleInstance::SingleInstance (RaiseCallback onAnotherInstance, LogFunction log)
    : callback (std::move (onAnotherInstance)), logLine (std::move (log))
{
}

SingleInstance::~SingleInstance()
{
    release();
}

AcquireResult SingleInstance::acquire (const std::string& givenFolder)
{
    const auto folder = withoutTrailingSlashes (givenFolder);

    if (held != nullptr)
        return { InstanceLock::failed, "this object already holds an instance" };

    auto next = std::make_unique<Held>();
    std::string error;

    if (! openPrivateFolder (folder, WhenMissing::create, next->folderFd, error))
        return { InstanceLock::failed, error };

    next->lockFd = openLockFile (next->folderFd.get(), error);

    if (! next->lockFd.valid())
        return { InstanceLock::failed, error + " (in " + folder + ")" };

    while (::flock (next->lockFd.get(), LOCK_EX | LOCK_NB) != 0)
    {
        if (errno == EWOULDBLOCK)
            return { InstanceLock::busy, {} };

        if (errno != EINTR)
            return { InstanceLock::failed, "cannot lock " + folder + "/" + lockFileName + ": " + systemText (errno) };
    }

    // Holding the lock: a socket file left here belongs to a copy that has ended.
    if (::unlinkat (next->folderFd.get(), socketFileName, 0) != 0 && errno != ENOENT)
        return { InstanceLock::failed, "cannot remove the old " + folder + "/" + socketFileName + ": " + systemText (errno) };

    sockaddr_un address {};

    if (! makeAddress (folder, next->folderFd.get(), address, error))
        return { InstanceLock::failed, error };

    next->listenFd.reset (::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));

    if (! next->listenFd.valid()
        || ::bind (next->listenFd.get(), reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0
        || ::fchmodat (next->folderFd.get(), socketFileName, 0600, 0) != 0
        || ::listen (next->listenFd.get(), 16) != 0)
    {
        error = "cannot listen on " + folder + "/" + socketFileName + ": " + systemText (errno);
        ::unlinkat (next->folderFd.get(), socketFileName, 0);
        return { InstanceLock::failed, error };
    }

    if (! next->waker.isValid())
    {
        ::unlinkat (next->folderFd.get(), socketFileName, 0);
        return { InstanceLock::failed, "cannot create the listener's wake-up descriptor" };
    }

    auto* state = next.get();
    state->listener = std::thread ([this, state] { nameCurrentThread ("instance"); state->run (callback, logLine); });
    held = std::move (next);
    return { InstanceLock::acquired, {} };
}

void SingleInstance::release()
{
    if (held == nullptr)
        return;

    held->stopping.store (true);
    held->waker.wake();

    if (held->listener.joinable())
        held->listener.join();

    held->listenFd.reset();
    ::unlinkat (held->folderFd.get(), socketFileName, 0);
    held.reset();   // closes the lock file last, which releases the lock
}

NotifyResult SingleInstance::notifyRunning (const std::string& givenFolder, int timeoutMs)
{
    const auto folder = withoutTrailingSlashes (givenFolder);
    const auto deadline = Clock::now() + std::chrono::milliseconds (std::max (timeoutMs, 0));
    UniqueFd folderFd;
    std::string error;

    if (! openPrivateFolder (folder, WhenMissing::fail, folderFd, error))
        return { RaiseDelivery::failed, error };

    sockaddr_un address {};

    if (! makeAddress (folder, folderFd.get(), address, error))
        return { RaiseDelivery::failed, error };

    UniqueFd socket;

    for (;;)
    {
        socket.reset (::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));

        if (! socket.valid())
            return { RaiseDelivery::failed, "cannot create a socket: " + systemText (errno) };

        if (::connect (socket.get(), reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0)
            break;

        // Missing or refusing: the holder may still be starting. Full backlog: it is busy.
        const auto code = errno;

        if (code != ENOENT && code != ECONNREFUSED && code != EAGAIN && code != EINTR)
            return { RaiseDelivery::failed, "cannot connect to " + folder + "/" + socketFileName + ": " + systemText (code) };

        if (Clock::now() >= deadline)
            return { RaiseDelivery::noListener, "no running copy listens in " + folder + ": " + systemText (code) };

        std::this_thread::sleep_for (std::chrono::milliseconds (std::min (20, millisecondsUntil (deadline) + 1)));
    }

    ucred peer {};
    socklen_t length = sizeof (peer);

    if (::getsockopt (socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::geteuid())
        return { RaiseDelivery::failed, "the listener in " + folder + " is not of this user" };

    const std::string message (raiseMessage);
    size_t sent = 0;
    std::string answer;

    while (sent < message.size() || answer.find ('\n') == std::string::npos)
    {
        pollfd polled { socket.get(), static_cast<short> (sent < message.size() ? POLLOUT : POLLIN), 0 };
        const auto ready = ::poll (&polled, 1, millisecondsUntil (deadline));

        if (ready < 0 && errno != EINTR)
            return { RaiseDelivery::failed, "waiting for the running copy failed: " + systemText (errno) };

        if (ready <= 0)
        {
            if (Clock::now() >= deadline)
                return { RaiseDelivery::timedOut, "the running copy did not answer within " + std::to_string (timeoutMs) + " ms" };

            continue;
        }

        if (sent < message.size())
        {
            const auto wrote = ::send (socket.get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);

            if (wrote < 0 && (errno == EAGAIN || errno == EINTR))
                continue;

            if (wrote < 0)
                return { RaiseDelivery::refused, "the running copy closed the connection: " + systemText (errno) };

            sent += static_cast<size_t> (wrote);
            continue;
        }

        char buffer[16];
        const auto got = ::recv (socket.get(), buffer, sizeof (buffer), 0);

        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;

        if (got <= 0)
            return { RaiseDelivery::refused, "the running copy closed the connection without answering" };

        answer.append (buffer, static_cast<size_t> (got));

        if (answer.size() > 16)
            break;
    }

    if (answer != acknowledgement)
        return { RaiseDelivery::failed, "the running copy gave an unexpected answer" };

    return { RaiseDelivery::delivered, {} };
}
} // namespace vantrel::platform
