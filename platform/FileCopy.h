#pragma once

#include "platform/DurableFile.h"

#include <cstdint>
#include <string>

namespace vantrel::platform
{
/** Copies the bytes of `from` into the new file `to`, which is created exclusively (an existing
    file is never touched), forces it to the disk and closes it. On a failure after the creation
    the partial file is removed. The creation, the copying and the fsync are counted operations
    of the FileFaults seam (createFile, writeFile, syncFile). Any thread. */
FileError copyFileDurably (const std::string& from, const std::string& to);

/** Renames `from` to `to` only when nothing exists at `to` (EEXIST otherwise; an existing file
    is never replaced), then forces the folder of `to` to the disk. Counted as renameFile and
    syncFolder. */
FileError moveWithoutReplacing (const std::string& from, const std::string& to);

/** Forces the data of an existing file to the disk (the file is opened for reading). Counted as
    syncFile. */
FileError syncExistingFile (const std::string& path);

/** A file opened for reading block by block. Not copyable; any thread, one object per thread. */
class FileReader
{
public:
    FileReader() = default;
    ~FileReader();

    FileReader (const FileReader&) = delete;
    FileReader& operator= (const FileReader&) = delete;

    FileError open (const std::string& path);

    /** Reads `size` bytes, fewer only at the end of the file; -1 on a read error. */
    int64_t read (char* buffer, size_t size);

    /** The size of the open file, or -1. */
    int64_t size() const;

private:
    int fd = -1;
};
} // namespace vantrel::platform
