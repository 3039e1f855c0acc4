#pragma once

#include <streambuf>
#include <vector>

namespace vantrel::platform
{
/** A write buffer over a file descriptor, for std::ostream. Data goes out on flush, when the
    buffer is full, and large writes go out directly. A failed write makes the stream bad.
    The descriptor is not closed by the buffer. */
class FdOutputBuffer final : public std::streambuf
{
public:
    explicit FdOutputBuffer (int fd, std::size_t bufferSize = 65536);
    ~FdOutputBuffer() override;

    FdOutputBuffer (const FdOutputBuffer&) = delete;
    FdOutputBuffer& operator= (const FdOutputBuffer&) = delete;

protected:
    int_type overflow (int_type character) override;
    std::streamsize xsputn (const char* source, std::streamsize count) override;
    int sync() override;

private:
    bool writeAll (const char* source, std::size_t count);
    bool flushBuffer();

    int fd;
    std::vector<char> buffer;
};
} // namespace vantrel::platform
