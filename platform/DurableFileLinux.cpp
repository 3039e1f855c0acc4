#include "platform/DurableFile.h"

#include "platform/FileFaults.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform
{
namespace
{
std::string errorText (int code)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    return std::string (::strerror_r (code, buffer, sizeof (buffer)));
}

std::string parentOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');

    if (slash == std::string::npos)
        return ".";

    return slash == 0 ? std::string ("/") : path.substr (0, slash);
}

FileError syncFolderUncounted (const std::string& path)
{
    const int fd = ::open (path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    if (fd < 0)
        return FileError::fromCode (errno);

    const auto result = ::fsync (fd) == 0 ? 0 : errno;
    ::close (fd);
    return FileError::fromCode (result);
}

/** One read(), asked again when a signal interrupted it; errno is kept for a failure. */
ssize_t readRetrying (int fd, void* buffer, size_t bytes)
{
    for (;;)
    {
        const auto got = ::read (fd, buffer, bytes);

        if (got >= 0 || errno != EINTR)
            return got;
    }
}

/** Opens a regular file for reading, non-blocking so that a FIFO at the path cannot hang the
    reader (it is refused); `fd` is open only on success. */
FileError openRegularFile (const std::string& path, int& fd, struct stat& info)
{
    fd = ::open (path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);

    if (fd < 0)
        return FileError::fromCode (errno);

    if (::fstat (fd, &info) != 0)
    {
        const auto code = errno;
        ::close (fd);
        fd = -1;
        return FileError::fromCode (code);
    }

    if (! S_ISREG (info.st_mode))
    {
        ::close (fd);
        fd = -1;
        return FileError::fromCode (S_ISDIR (info.st_mode) ? EISDIR : EINVAL);
    }

    return {};
}
} // namespace

FileError FileError::fromCode (int code)
{
    if (code == 0)
        return {};

    return { code, errorText (code) };
}

DurableFile::~DurableFile()
{
    if (fd >= 0)
        ::close (fd);
}

FileError DurableFile::create (const std::string& path)
{
    if (fd >= 0)
        return FileError::fromCode (EBUSY);

    if (const auto injected = FileFaults::check (FileOp::createFile, path))
        return FileError::fromCode (injected);

    fd = ::open (path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);

    if (fd < 0)
        return FileError::fromCode (errno);

    filePath = path;
    return {};
}

FileError DurableFile::write (const char* data, size_t size)
{
    if (fd < 0)
        return FileError::fromCode (EBADF);

    if (const auto injected = FileFaults::check (FileOp::writeFile, filePath, static_cast<int64_t> (size)))
        return FileError::fromCode (injected);

    while (size > 0)
    {
        const auto written = ::write (fd, data, size);

        if (written < 0)
        {
            if (errno == EINTR)
                continue;

            return FileError::fromCode (errno);
        }

        if (written == 0)
            return FileError::fromCode (EIO);

        data += written;
        size -= static_cast<size_t> (written);
    }

    return {};
}

FileError DurableFile::sync()
{
    if (fd < 0)
        return FileError::fromCode (EBADF);

    if (const auto injected = FileFaults::check (FileOp::syncFile, filePath))
        return FileError::fromCode (injected);

    return FileError::fromCode (::fsync (fd) == 0 ? 0 : errno);
}

FileError DurableFile::close()
{
    if (fd < 0)
        return FileError::fromCode (EBADF);

    const auto injected = FileFaults::check (FileOp::closeFile, filePath);
    const auto result = ::close (fd) == 0 ? 0 : errno;
    fd = -1;

    // Linux releases the descriptor even when close reports an error: never close it twice.
    return FileError::fromCode (injected != 0 ? injected : result);
}

FileError fileHoldsExactly (const std::string& path, const std::string& expected, bool& same)
{
    same = false;

    if (const auto injected = FileFaults::check (FileOp::readFile, path))
        return FileError::fromCode (injected);

    int fd = -1;
    struct stat info {};

    if (const auto opened = openRegularFile (path, fd, info); opened.failed())
        return opened;

    if (info.st_size != static_cast<off_t> (expected.size()))
    {
        ::close (fd);
        return {};
    }

    constexpr size_t pieceSize = 1 << 20;
    static thread_local std::vector<char> piece (pieceSize);
    size_t compared = 0;

    for (;;)
    {
        // One byte past the expected end, so that a file that has grown is noticed.
        const auto wanted = std::min (pieceSize, expected.size() - compared + 1);
        const auto got = readRetrying (fd, piece.data(), wanted);

        if (got < 0)
        {
            const auto code = errno;
            ::close (fd);
            return FileError::fromCode (code);
        }

        if (got == 0)
            break;

        const auto size = static_cast<size_t> (got);

        if (compared + size > expected.size() || std::memcmp (piece.data(), expected.data() + compared, size) != 0)
        {
            ::close (fd);
            return {};
        }

        compared += size;
    }

    ::close (fd);
    same = compared == expected.size();
    return {};
}

FileError readWholeFile (const std::string& path, std::string& bytes, int64_t maxBytes)
{
    if (const auto injected = FileFaults::check (FileOp::readFile, path))
        return FileError::fromCode (injected);

    int fd = -1;
    struct stat info {};

    if (const auto opened = openRegularFile (path, fd, info); opened.failed())
        return opened;

    if (info.st_size > maxBytes)
    {
        ::close (fd);
        return FileError::fromCode (EFBIG);
    }

    std::string content;
    content.resize (static_cast<size_t> (info.st_size));
    size_t used = 0;

    for (;;)
    {
        if (used == content.size())
        {
            // The file may have grown since fstat: keep reading, within the limit.
            if (static_cast<int64_t> (content.size()) >= maxBytes && maxBytes != unlimitedFileSize)
            {
                char probe;
                const auto extra = ::read (fd, &probe, 1);

                if (extra < 0 && errno == EINTR)
                    continue;

                if (extra != 0)
                {
                    const auto code = extra < 0 ? errno : EFBIG;
                    ::close (fd);
                    return FileError::fromCode (code);
                }

                break;
            }

            const auto grown = std::min<int64_t> (maxBytes, static_cast<int64_t> (content.size()) + 65536);
            content.resize (static_cast<size_t> (grown));
        }

        const auto got = readRetrying (fd, content.data() + used, content.size() - used);

        if (got < 0)
        {
            const auto code = errno;
            ::close (fd);
            return FileError::fromCode (code);
        }

        if (got == 0)
            break;

        used += static_cast<size_t> (got);
    }

    ::close (fd);
    content.resize (used);
    bytes = std::move (content);
    return {};
}

FileError renameDurably (const std::string& from, const std::string& to)
{
    if (const auto injected = FileFaults::check (FileOp::renameFile, to))
        return FileError::fromCode (injected);

    // A folder at the target is never replaced: renaming a file over a folder fails with EISDIR.
    if (::rename (from.c_str(), to.c_str()) != 0)
        return FileError::fromCode (errno);

    return syncFolder (parentOf (to));
}

FileError linkFile (const std::string& existing, const std::string& newName)
{
    if (const auto injected = FileFaults::check (FileOp::linkFile, newName))
        return FileError::fromCode (injected);

    struct stat info {};

    if (::lstat (existing.c_str(), &info) != 0)
        return FileError::fromCode (errno);

    if (! S_ISREG (info.st_mode))
        return FileError::fromCode (EINVAL);

    if (::linkat (AT_FDCWD, existing.c_str(), AT_FDCWD, newName.c_str(), 0) != 0)
        return FileError::fromCode (errno);

    return {};
}

FileError removeDurably (const std::string& path)
{
    if (const auto injected = FileFaults::check (FileOp::removeFile, path))
        return FileError::fromCode (injected);

    if (::unlink (path.c_str()) != 0)
        return FileError::fromCode (errno);

    return syncFolder (parentOf (path));
}

void removeQuietly (const std::string& path)
{
    ::unlink (path.c_str());
}

FileError createFolderChain (const std::string& path)
{
    if (path.empty())
        return FileError::fromCode (ENOENT);

    struct stat info {};

    if (::stat (path.c_str(), &info) == 0)
        return FileError::fromCode (S_ISDIR (info.st_mode) ? 0 : ENOTDIR);

    if (errno != ENOENT)
        return FileError::fromCode (errno);

    const auto parent = parentOf (path);

    if (parent != path)
        if (auto error = createFolderChain (parent); error.failed())
            return error;

    if (const auto injected = FileFaults::check (FileOp::createFolder, path))
        return FileError::fromCode (injected);

    if (::mkdir (path.c_str(), 0777) != 0)
    {
        const auto code = errno;

        if (code != EEXIST)
            return FileError::fromCode (code);

        // Another writer made it meanwhile; it must be a folder.
        if (::stat (path.c_str(), &info) != 0 || ! S_ISDIR (info.st_mode))
            return FileError::fromCode (ENOTDIR);

        return {};
    }

    return syncFolder (parent);
}

FileError syncFolder (const std::string& path)
{
    if (const auto injected = FileFaults::check (FileOp::syncFolder, path))
        return FileError::fromCode (injected);

    return syncFolderUncounted (path);
}
} // namespace vantrel::platform
