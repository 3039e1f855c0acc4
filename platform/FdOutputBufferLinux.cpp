#include "platform/FdOutputBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace vantrel::platform
{
FdOutputBuffer::FdOutputBuffer (int fdToWrite, std::size_t bufferSize)
    : fd (fdToWrite), buffer (std::max<std::size_t> (bufferSize, 16))
{
    setp (buffer.data(), buffer.data() + buffer.size());
}

FdOutputBuffer::~FdOutputBuffer()
{
    flushBuffer();
}

bool FdOutputBuffer::writeAll (const char* source, std::size_t count)
{
    while (count > 0)
    {
        const auto written = ::write (fd, source, count);

        if (written < 0 && errno == EINTR)
            continue;

        if (written <= 0)
            return false;

        source += written;
        count -= static_cast<std::size_t> (written);
    }

    return true;
}

bool FdOutputBuffer::flushBuffer()
{
    const auto pending = static_cast<std::size_t> (pptr() - pbase());
    setp (buffer.data(), buffer.data() + buffer.size());
    return writeAll (buffer.data(), pending);
}

FdOutputBuffer::int_type FdOutputBuffer::overflow (int_type character)
{
    if (! flushBuffer())
        return traits_type::eof();

    if (traits_type::eq_int_type (character, traits_type::eof()))
        return traits_type::not_eof (character);

    *pptr() = traits_type::to_char_type (character);
    pbump (1);
    return character;
}

std::streamsize FdOutputBuffer::xsputn (const char* source, std::streamsize count)
{
    const auto room = epptr() - pptr();

    if (count <= room)
    {
        std::memcpy (pptr(), source, static_cast<std::size_t> (count));
        pbump (static_cast<int> (count));
        return count;
    }

    if (! flushBuffer())
        return 0;

    if (count < static_cast<std::streamsize> (buffer.size()))
    {
        std::memcpy (pptr(), source, static_cast<std::size_t> (count));
        pbump (static_cast<int> (count));
        return count;
    }

    return writeAll (source, static_cast<std::size_t> (count)) ? count : 0;
}

int FdOutputBuffer::sync()
{
    return flushBuffer() ? 0 : -1;
}
} // namespace vantrel::platform
