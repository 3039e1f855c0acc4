#include "platform/FileStatus.h"

#include <cerrno>
#include <system_error>
#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel::platform
{
FileStatus readFileStatus (const std::string& path)
{
    FileStatus status;
    struct stat info {};

    if (path.empty() || ::stat (path.c_str(), &info) != 0)
        return status;

    status.exists = true;
    status.isDirectory = S_ISDIR (info.st_mode);
    status.size = static_cast<int64_t> (info.st_size);
    status.modifiedMillis = static_cast<int64_t> (info.st_mtim.tv_sec) * 1000
                          + static_cast<int64_t> (info.st_mtim.tv_nsec) / 1000000;
    return status;
}

bool setFileModifiedMillis (const std::string& path, int64_t modifiedMillis)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;   // access time unchanged
    times[1].tv_sec = static_cast<time_t> (modifiedMillis / 1000);
    times[1].tv_nsec = static_cast<long> ((modifiedMillis % 1000) * 1000000);
    return ! path.empty() && ::utimensat (AT_FDCWD, path.c_str(), times, 0) == 0;
}
} // namespace vantrel::platform

namespace vantrel::platform
{
EntryKind readEntryKind (const std::string& path)
{
    struct stat info {};
    if (::lstat (path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? EntryKind::absent : EntryKind::unusable;
    if (S_ISLNK (info.st_mode))
        return EntryKind::unusable;
    return S_ISDIR (info.st_mode) ? EntryKind::directory : EntryKind::otherFile;
}
} // namespace vantrel::platform

namespace vantrel::platform
{
std::string createMissingFolders (const std::string& path)
{
    if (path.empty() || path.front() != '/')
        return "'" + path + "': not an absolute path";
    // Each entry from the top down: one that exists is passed over, a missing one is made.
    for (std::size_t end = 1; end <= path.size(); ++end)
    {
        if (end < path.size() && path[end] != '/')
            continue;
        const auto entry = path.substr (0, end);
        if (entry.back() == '/')
            continue;
        if (::mkdir (entry.c_str(), 0700) == 0)
        {
            ::chmod (entry.c_str(), 0700);   // whatever the process's umask
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (error == EEXIST && ::stat (entry.c_str(), &info) == 0)
        {
            if (S_ISDIR (info.st_mode))
                continue;
            return "'" + entry + "': a file is in the place of the folder";
        }
        return "'" + entry + "': " + std::generic_category().message (error);
    }
    return {};
}
} // namespace vantrel::platform
