#pragma once

#include <streambuf>
#include <vector>

namespace vantrel::platform
{
/** A read buffer over a file descriptor, for std::istream. Large reads go straight into the
    caller's memory. The descriptor is not closed by the buffer. */
class FdInputBuffer final : public std::streambuf
{
public:
    explicit FdInputBuffer (int fd, std::size_t bufferSize = 65536);

    FdInputBuffer (const FdInputBuffer&) = delete;
    FdInputBuffer& operator= (const FdInputBuffer&) = delete;

protected:
    int_type underflow() override;
    std::streamsize xsgetn (char* destination, std::streamsize count) override;
    std::streamsize showmanyc() override;

private:
    /** One read of at most `count` bytes; 0 at end of input or on an error. */
    std::streamsize readSome (char* destination, std::size_t count);

    int fd;
    std::vector<char> buffer;
};
} // namespace vantrel::platform
