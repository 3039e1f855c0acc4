#include "platform/Trash.h"

#include "platform/DurableFile.h"
#include "platform/FileCopy.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform
{
namespace
{
std::string parentOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');
    return slash == std::string::npos || slash == 0 ? std::string ("/") : path.substr (0, slash);
}

std::string nameOf (const std::string& path)
{
    const auto slash = path.find_last_of ('/');
    return slash == std::string::npos ? path : path.substr (slash + 1);
}

bool exists (const std::string& path)
{
    struct stat info {};
    return ::lstat (path.c_str(), &info) == 0;
}

/** A folder of the Trash, made private (0700) when this call creates it. */
FileError ensurePrivateFolder (const std::string& path)
{
    if (::mkdir (path.c_str(), 0700) == 0)
        return syncFolder (parentOf (path));

    if (errno != EEXIST)
        return FileError::fromCode (errno);

    struct stat info {};
    if (::stat (path.c_str(), &info) != 0)
        return FileError::fromCode (errno);

    return FileError::fromCode (S_ISDIR (info.st_mode) ? 0 : ENOTDIR);
}

std::string deletionDate()
{
    const auto now = std::time (nullptr);
    std::tm local {};
    ::localtime_r (&now, &local);
    char text[32] {};
    std::strftime (text, sizeof (text), "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool fail (std::string& error, const std::string& what, const FileError& cause)
{
    error = what + ": " + cause.text;
    return false;
}
} // namespace

std::string trashInfoPath (const std::string& path)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string encoded;

    for (const auto c : path)
    {
        const auto byte = static_cast<unsigned char> (c);
        const bool keep = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
                       || byte == '-' || byte == '_' || byte == '.' || byte == '~' || byte == '/';

        if (keep)
        {
            encoded += c;
        }
        else
        {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0f];
        }
    }

    return encoded;
}

std::string homeTrashFolder()
{
    const char* dataHome = std::getenv ("XDG_DATA_HOME");

    if (dataHome != nullptr && dataHome[0] == '/')
        return std::string (dataHome) + "/Trash";

    const char* home = std::getenv ("HOME");

    if (home != nullptr && home[0] == '/')
        return std::string (home) + "/.local/share/Trash";

    return {};
}

bool moveToTrash (const std::string& path, std::string& error)
{
    const auto trash = homeTrashFolder();

    if (trash.empty())
    {
        error = "no home folder for the Trash";
        return false;
    }

    return moveToTrashAt (path, trash, error);
}

bool moveToTrashAt (const std::string& path, const std::string& trashFolder, std::string& error)
{
    struct stat source {};

    if (path.empty() || path[0] != '/' || ::lstat (path.c_str(), &source) != 0 || ! S_ISREG (source.st_mode))
    {
        error = "not an existing file: " + path;
        return false;
    }

    if (const auto made = createFolderChain (parentOf (trashFolder)); made.failed())
        return fail (error, "Trash folder cannot be created", made);

    const auto filesFolder = trashFolder + "/files";
    const auto infoFolder = trashFolder + "/info";

    for (const auto& folder : { trashFolder, filesFolder, infoFolder })
        if (const auto made = ensurePrivateFolder (folder); made.failed())
            return fail (error, "Trash folder cannot be created: " + folder, made);

    // Only a rename moves the file. A file on another file system than the home Trash is
    // reported as a failure and stays where it is: a copy and delete across devices could
    // leave two half-truths behind if it stopped midway, and the file is the operator's.
    struct stat files {};
    if (::stat (filesFolder.c_str(), &files) != 0)
        return fail (error, "Trash folder cannot be read", FileError::fromCode (errno));

    if (files.st_dev != source.st_dev)
        return fail (error, "the file lies on another file system than the Trash", FileError::fromCode (EXDEV));

    const auto record = "[Trash Info]\nPath=" + trashInfoPath (path) + "\nDeletionDate=" + deletionDate() + "\n";
    const auto baseName = nameOf (path);

    for (int attempt = 1; attempt < 10000; ++attempt)
    {
        const auto name = attempt == 1 ? baseName : baseName + "." + std::to_string (attempt);
        const auto target = filesFolder + "/" + name;
        const auto infoPath = infoFolder + "/" + name + ".trashinfo";

        if (exists (target))
            continue;

        // The exclusive creation of the record reserves the name against other programs.
        DurableFile info;
        auto written = info.create (infoPath);

        if (written.code == EEXIST)
            continue;

        if (written.failed())
            return fail (error, "Trash record cannot be created", written);

        written = info.write (record.data(), record.size());
        if (! written.failed())
            written = info.sync();
        if (! written.failed())
            written = info.close();
        if (! written.failed())
            written = syncFolder (infoFolder);

        if (written.failed())
        {
            info.close();
            ::unlink (infoPath.c_str());
            return fail (error, "Trash record cannot be written", written);
        }

        const auto moved = moveWithoutReplacing (path, target);

        if (! moved.failed())
            return true;

        ::unlink (infoPath.c_str());

        if (moved.code != EEXIST)
            return fail (error, "the file cannot be moved into the Trash", moved);
    }

    error = "no free name in the Trash for " + baseName;
    return false;
}
} // namespace vantrel::platform
