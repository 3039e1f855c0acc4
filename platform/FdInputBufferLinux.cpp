#include "platform/FdInputBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace vantrel::platform
{
FdInputBuffer::FdInputBuffer (int fdToRead, std::size_t bufferSize)
    : fd (fdToRead), buffer (std::max<std::size_t> (bufferSize, 16))
{
    setg (buffer.data(), buffer.data(), buffer.data());
}

std::streamsize FdInputBuffer::readSome (char* destination, std::size_t count)
{
    for (;;)
    {
        const auto got = ::read (fd, destination, count);

        if (got < 0 && errno == EINTR)
            continue;

        return got > 0 ? static_cast<std::streamsize> (got) : 0;
    }
}

FdInputBuffer::int_type FdInputBuffer::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type (*gptr());

    const auto got = readSome (buffer.data(), buffer.size());

    if (got <= 0)
        return traits_type::eof();

    setg (buffer.data(), buffer.data(), buffer.data() + got);
    return traits_type::to_int_type (*gptr());
}

std::streamsize FdInputBuffer::xsgetn (char* destination, std::streamsize count)
{
    std::streamsize done = 0;
    const auto buffered = std::min<std::streamsize> (count, egptr() - gptr());

    if (buffered > 0)
    {
        std::memcpy (destination, gptr(), static_cast<std::size_t> (buffered));
        gbump (static_cast<int> (buffered));
        done = buffered;
    }

    while (done < count)
    {
        const auto remaining = count - done;

        if (remaining < static_cast<std::streamsize> (buffer.size()))
        {
            if (underflow() == traits_type::eof())
                break;

            const auto part = std::min<std::streamsize> (remaining, egptr() - gptr());
            std::memcpy (destination + done, gptr(), static_cast<std::size_t> (part));
            gbump (static_cast<int> (part));
            done += part;
            continue;
        }

        const auto got = readSome (destination + done, static_cast<std::size_t> (remaining));

        if (got <= 0)
            break;

        done += got;
    }

    return done;
}

std::streamsize FdInputBuffer::showmanyc()
{
    return egptr() - gptr();
}
} // namespace vantrel::platform
