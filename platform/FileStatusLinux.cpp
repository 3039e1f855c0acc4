#include "platform/FileStatus.h"

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
} // namespace vantrel::platform
