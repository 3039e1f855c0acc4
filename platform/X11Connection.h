#pragma once

namespace vantrel::platform
{
/** True when the descriptor is a socket connected to an X server (a local X socket, or TCP port
    6000 to 6063). Its events may already sit in Xlib's queue while the socket stays quiet, so a
    loop that serves such a descriptor for someone else must also offer it without readiness. */
bool isX11ServerConnection (int fd);
} // namespace vantrel::platform
