#pragma once

#include <cstdint>
#include <string>

namespace vantrel::platform
{
/** What the file system says about one path, read without following JUCE's
    whole-second file times. Any thread. */
struct FileStatus
{
    bool exists = false;
    bool isDirectory = false;
    int64_t size = 0;              // bytes; 0 for a missing file
    int64_t modifiedMillis = 0;    // last-write time, ms since 1970-01-01 UTC; 0 when unknown
};

/** Reads the status of a path (links followed). A failed query gives a status
    with exists == false. */
FileStatus readFileStatus (const std::string& path);

/** What a directory entry is, the entry itself (a symbolic link is not followed). */
enum class EntryKind
{
    absent,       // nothing there (or a parent is not a folder)
    directory,
    otherFile,
    unusable      // a symbolic link, or the entry cannot be inspected
};

EntryKind readEntryKind (const std::string& path);

/** Creates a folder that does not exist yet, and each of its missing parents, owner-only (mode
    0700). Entries that exist are left as they are. Empty when `path` is a folder afterwards, else
    why not: the first entry that could not be made and the system's reason. `path` is absolute.
    Any thread. */
std::string createMissingFolders (const std::string& path);

/** Sets a file's last-write time with millisecond precision. False on failure. */
bool setFileModifiedMillis (const std::string& path, int64_t modifiedMillis);
} // namespace vantrel::platform
