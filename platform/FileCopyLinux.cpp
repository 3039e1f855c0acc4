#include "platform/FileCopy.h"

#include "platform/FileFaults.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform
{
namespace
{
std::string parentOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');

    if (slash == std::string::npos)
        return ".";

    return slash == 0 ? std::string ("/") : path.substr (0, slash);
}

/** A descriptor closed at scope end. */
struct Descriptor
{
    int fd = -1;
    ~Descriptor()  { if (fd >= 0) ::close (fd); }
};

/** Writes all bytes, continuing after partial writes. 0 or the errno. */
int writeAll (int fd, const char* data, size_t size)
{
    while (size > 0)
    {
        const auto written = ::write (fd, data, size);

        if (written < 0)
        {
            if (errno == EINTR)
                continue;

            return errno;
        }

        if (written == 0)
            return EIO;

        data += written;
        size -= static_cast<size_t> (written);
    }

    return 0;
}

/** Copies by the kernel where it can, else through a buffer. 0 or the errno. */
int copyBytes (int in, int out, int64_t size)
{
    int64_t copied = 0;

    while (copied < size)
    {
        const auto chunk = static_cast<size_t> (std::min<int64_t> (size - copied, int64_t { 1 } << 30));
        const auto moved = ::copy_file_range (in, nullptr, out, nullptr, chunk, 0);

        if (moved < 0)
        {
            if (errno == EINTR)
                continue;

            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
                break;   // not offered here: copy the rest through a buffer

            return errno;
        }

        if (moved == 0)
            return 0;   // the source ended early; the comparison afterwards sees it

        copied += moved;
    }

    if (copied >= size)
    {
        // The source may have grown meanwhile; the comparison afterwards sees that too.
        return 0;
    }

    constexpr size_t bufferSize = 1 << 20;
    const std::unique_ptr<char[]> buffer (new char[bufferSize]);

    for (;;)
    {
        const auto got = ::read (in, buffer.get(), bufferSize);

        if (got < 0)
        {
            if (errno == EINTR)
                continue;

            return errno;
        }

        if (got == 0)
            return 0;

        if (const auto error = writeAll (out, buffer.get(), static_cast<size_t> (got)))
            return error;
    }
}
} // namespace

FileError copyFileDurably (const std::string& from, const std::string& to)
{
    Descriptor in;
    in.fd = ::open (from.c_str(), O_RDONLY | O_CLOEXEC);

    if (in.fd < 0)
        return FileError::fromCode (errno);

    struct stat info {};

    if (::fstat (in.fd, &info) != 0)
        return FileError::fromCode (errno);

    if (! S_ISREG (info.st_mode))
        return FileError::fromCode (S_ISDIR (info.st_mode) ? EISDIR : EINVAL);

    if (const auto injected = FileFaults::check (FileOp::createFile, to))
        return FileError::fromCode (injected);

    Descriptor out;
    out.fd = ::open (to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);

    if (out.fd < 0)
        return FileError::fromCode (errno);

    auto fail = [&to, &out] (int code)
    {
        ::close (out.fd);
        out.fd = -1;
        ::unlink (to.c_str());
        return FileError::fromCode (code);
    };

    if (const auto injected = FileFaults::check (FileOp::writeFile, to, static_cast<int64_t> (info.st_size)))
        return fail (injected);

    if (const auto error = copyBytes (in.fd, out.fd, static_cast<int64_t> (info.st_size)))
        return fail (error);

    if (const auto injected = FileFaults::check (FileOp::syncFile, to))
        return fail (injected);

    if (::fsync (out.fd) != 0)
        return fail (errno);

    const auto closeResult = ::close (out.fd);
    out.fd = -1;

    if (closeResult != 0)
    {
        const auto code = errno;
        ::unlink (to.c_str());
        return FileError::fromCode (code);
    }

    return {};
}

FileError moveWithoutReplacing (const std::string& from, const std::string& to)
{
    if (const auto injected = FileFaults::check (FileOp::renameFile, to))
        return FileError::fromCode (injected);

    if (::renameat2 (AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
    {
        if (errno != EINVAL && errno != ENOSYS)
            return FileError::fromCode (errno);

        // A file system without RENAME_NOREPLACE: a hard link fails just the same on an existing
        // name; the temporary name is removed afterwards.
        if (::link (from.c_str(), to.c_str()) != 0)
            return FileError::fromCode (errno);

        ::unlink (from.c_str());
    }

    return syncFolder (parentOf (to));
}

FileError syncExistingFile (const std::string& path)
{
    if (const auto injected = FileFaults::check (FileOp::syncFile, path))
        return FileError::fromCode (injected);

    Descriptor file;
    file.fd = ::open (path.c_str(), O_RDONLY | O_CLOEXEC);

    if (file.fd < 0)
        return FileError::fromCode (errno);

    return FileError::fromCode (::fsync (file.fd) == 0 ? 0 : errno);
}

FileReader::~FileReader()
{
    if (fd >= 0)
        ::close (fd);
}

FileError FileReader::open (const std::string& path)
{
    if (fd >= 0)
        return FileError::fromCode (EBUSY);

    fd = ::open (path.c_str(), O_RDONLY | O_CLOEXEC);
    return FileError::fromCode (fd >= 0 ? 0 : errno);
}

int64_t FileReader::read (char* buffer, size_t size)
{
    if (fd < 0)
        return -1;

    size_t used = 0;

    while (used < size)
    {
        const auto got = ::read (fd, buffer + used, size - used);

        if (got < 0)
        {
            if (errno == EINTR)
                continue;

            return -1;
        }

        if (got == 0)
            break;

        used += static_cast<size_t> (got);
    }

    return static_cast<int64_t> (used);
}

int64_t FileReader::size() const
{
    struct stat info {};
    return fd >= 0 && ::fstat (fd, &info) == 0 ? static_cast<int64_t> (info.st_size) : -1;
}
} // namespace vantrel::platform
