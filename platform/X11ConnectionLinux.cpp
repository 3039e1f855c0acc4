#include "platform/X11Connection.h"

#include <cstddef>
#include <cstring>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace vantrel::platform
{
bool isX11ServerConnection (int fd)
{
    sockaddr_storage address {};
    socklen_t length = sizeof (address);

    if (fd < 0 || ::getpeername (fd, reinterpret_cast<sockaddr*> (&address), &length) != 0)
        return false;

    if (address.ss_family == AF_UNIX)
    {
        const auto* local = reinterpret_cast<const sockaddr_un*> (&address);
        const auto pathBytes = length > offsetof (sockaddr_un, sun_path) ? length - offsetof (sockaddr_un, sun_path) : 0;
        // An abstract address starts with a NUL byte; Xlib uses "@/tmp/.X11-unix/XN" and the file.
        const std::string path (local->sun_path, pathBytes);
        return path.find ("/.X11-unix/X") != std::string::npos;
    }

    auto isXPort = [] (unsigned short port) { return port >= 6000 && port <= 6063; };

    if (address.ss_family == AF_INET)
        return isXPort (ntohs (reinterpret_cast<const sockaddr_in*> (&address)->sin_port));

    if (address.ss_family == AF_INET6)
        return isXPort (ntohs (reinterpret_cast<const sockaddr_in6*> (&address)->sin6_port));

    return false;
}
} // namespace vantrel::platform
