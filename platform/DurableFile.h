#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace vantrel::platform
{
/** The outcome of one file operation: 0 and an empty text, or the errno value and the
    system's text for it. */
struct FileError
{
    int code = 0;
    std::string text;

    bool failed() const  { return code != 0; }
    static FileError fromCode (int code);
};

constexpr int64_t unlimitedFileSize = std::numeric_limits<int64_t>::max();

/** A new file that is created exclusively (never an existing one), written, forced to the
    disk and closed. A file still open at destruction is closed without being forced; it is
    not removed. Every step is a counted operation of the FileFaults seam. Any thread; one
    object per thread. */
class DurableFile
{
public:
    DurableFile() = default;
    ~DurableFile();

    DurableFile (const DurableFile&) = delete;
    DurableFile& operator= (const DurableFile&) = delete;

    /** Creates the file; fails when anything exists at the path. */
    FileError create (const std::string& path);

    /** Writes all bytes, continuing after partial writes. */
    FileError write (const char* data, size_t size);

    /** Forces the written bytes and the file's size to the disk (fsync). */
    FileError sync();

    /** Closes the file; reports an error that the system returns only at close. */
    FileError close();

private:
    int fd = -1;
    std::string filePath;
};

/** Reads a whole regular file. A path that is missing or not a regular file fails (ENOENT,
    EISDIR or EINVAL); a file larger than maxBytes fails with EFBIG. Counted as one readFile. */
FileError readWholeFile (const std::string& path, std::string& bytes, int64_t maxBytes = unlimitedFileSize);

/** Reads a regular file and answers whether it holds exactly `expected`, without keeping its
    bytes: it is read in pieces and the reading stops at the first difference. A path that is
    missing or not a regular file fails (ENOENT, EISDIR or EINVAL); a file of another size is
    simply not the same. Counted as one readFile. */
FileError fileHoldsExactly (const std::string& path, const std::string& expected, bool& same);

/** Renames `from` over `to` (replacing a file there) and then forces the folder of `to` to the
    disk, so that the new name survives a power loss. Fails when `to` is a folder. */
FileError renameDurably (const std::string& from, const std::string& to);

/** Gives the regular file at `existing` the second name `newName`, which must not exist: both
    names then hold the same bytes without a copy. Anything else at `existing` (a symbolic link,
    a pipe, a folder) fails with EINVAL, as does a file system without such names (EPERM and the
    like). Nothing is forced to the disk; a rename that follows forces the folder. */
FileError linkFile (const std::string& existing, const std::string& newName);

/** Removes a file and forces its folder to the disk, so that the removal survives a power loss. */
FileError removeDurably (const std::string& path);

/** Removes a file without counting or forcing anything: the clean-up of a file this program
    created and no longer wants. Errors are ignored. */
void removeQuietly (const std::string& path);

/** Creates a folder with every missing ancestor. The parent of every folder created is forced
    to the disk. Fails with ENOTDIR when a component exists and is not a folder. */
FileError createFolderChain (const std::string& path);

/** Forces a folder's entries to the disk. */
FileError syncFolder (const std::string& path);
} // namespace vantrel::platform
