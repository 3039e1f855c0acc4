#pragma once

#include <string>

namespace vantrel::platform
{
/** A raw client of a local stream socket, for tests that send what a real caller never would
    (garbage, floods, nothing at all). Writes never raise SIGPIPE. One owner thread. */
class UnixSocketClient
{
public:
    UnixSocketClient() = default;
    ~UnixSocketClient();

    UnixSocketClient (const UnixSocketClient&) = delete;
    UnixSocketClient& operator= (const UnixSocketClient&) = delete;

    /** Connects (blocking) to the socket at `path`; 0 or the errno value of the failure. */
    int connectTo (const std::string& path);

    /** Writes all bytes (blocking); false once the peer closed or the write failed. */
    bool send (const std::string& bytes);

    /** Ends the writing half: the peer reads the end of the stream. */
    void shutdownWriting();

    /** What came back until the peer closed the connection, waiting at most timeoutMs. */
    struct Reply
    {
        bool closed = false;   // the peer closed (or reset) the connection
        std::string bytes;
    };

    Reply readUntilClosed (int timeoutMs);

    void close();

private:
    int fd = -1;
};
} // namespace vantrel::platform
