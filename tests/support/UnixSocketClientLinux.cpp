#include "support/UnixSocketClient.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel::platform
{
UnixSocketClient::~UnixSocketClient()
{
    close();
}

void UnixSocketClient::close()
{
    if (fd >= 0)
        ::close (fd);

    fd = -1;
}

int UnixSocketClient::connectTo (const std::string& path)
{
    close();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;

    if (path.size() >= sizeof (address.sun_path))
        return ENAMETOOLONG;

    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);
    fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);

    if (fd < 0)
        return errno;

    // A peer that stops reading cannot hold a test for ever.
    const timeval limit { 60, 0 };
    ::setsockopt (fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof (limit));

    if (::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0)
    {
        const auto code = errno;
        close();
        return code;
    }

    return 0;
}

bool UnixSocketClient::send (const std::string& bytes)
{
    size_t sent = 0;

    while (sent < bytes.size())
    {
        const auto wrote = ::send (fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);

        if (wrote < 0 && errno == EINTR)
            continue;

        if (wrote <= 0)
            return false;

        sent += static_cast<size_t> (wrote);
    }

    return true;
}

void UnixSocketClient::shutdownWriting()
{
    ::shutdown (fd, SHUT_WR);
}

UnixSocketClient::Reply UnixSocketClient::readUntilClosed (int timeoutMs)
{
    Reply reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

    while (fd >= 0)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();

        if (left <= 0)
            return reply;

        pollfd polled { fd, POLLIN, 0 };

        if (::poll (&polled, 1, static_cast<int> (left)) <= 0)
            continue;

        char buffer[256];
        const auto got = ::recv (fd, buffer, sizeof (buffer), 0);

        if (got < 0 && errno == EINTR)
            continue;

        if (got <= 0)
        {
            reply.closed = true;
            return reply;
        }

        reply.bytes.append (buffer, static_cast<size_t> (got));
    }

    return reply;
}
} // namespace vantrel::platform
