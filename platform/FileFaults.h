#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::platform
{
/** The kinds of file operation that the durable file layer performs. */
enum class FileOp
{
    createFolder,   // mkdir of one missing folder
    createFile,     // exclusive create of a new file for writing
    writeFile,      // writing all bytes of a new file
    syncFile,       // fsync of a written file
    closeFile,      // close of a written file
    readFile,       // open and read of a whole file
    renameFile,     // rename over a target
    linkFile,       // a second name for an existing file
    syncFolder,     // fsync of a folder after a rename, removal or creation
    removeFile      // unlink
};

const char* fileOpName (FileOp op);

/** One operation as the durable file layer performed (or was about to perform) it. */
struct FileOperation
{
    FileOp op;
    std::string path;
    int64_t bytes = 0;   // bytes written for writeFile, otherwise 0
};

/** A planned failure: the nth operation (1-based, counted from arming) that matches the kind
    (any kind when empty) and whose path contains `pathContains` and ends with `pathEndsWith`
    fails with `error` (an errno value) instead of running. */
struct FileFault
{
    int nth = 1;
    int error = 0;
    std::optional<FileOp> op;
    std::string pathContains;
    std::string pathEndsWith;
};

/** The seam through which tests fail chosen file operations and watch the operations of the
    durable file layer. Every counted operation of that layer asks `check` first. Nothing is
    armed or recorded unless a test asks; then the cost is one atomic load per operation.
    Any thread. */
class FileFaults
{
public:
    /** Arms one planned failure, replacing any earlier one. */
    static void arm (const FileFault& fault);

    /** Starts recording every operation (and clears an earlier record). */
    static void startRecording();

    /** The operations recorded since startRecording. */
    static std::vector<FileOperation> recorded();

    /** Disarms the failure and stops recording. */
    static void reset();

    /** True once the armed failure has been delivered. */
    static bool fired();

    /** Called by the durable file layer before each operation: records it and answers the
        errno to fail it with, or 0 to go ahead. */
    static int check (FileOp op, const std::string& path, int64_t bytes = 0);
};

/** Resets the seam when a test scope ends. */
struct ScopedFileFaults
{
    ScopedFileFaults() = default;
    ~ScopedFileFaults()  { FileFaults::reset(); }
    ScopedFileFaults (const ScopedFileFaults&) = delete;
    ScopedFileFaults& operator= (const ScopedFileFaults&) = delete;
};
} // namespace vantrel::platform
