#pragma once

#include "support/TestFiles.h"
#include "support/WaitUntil.h"
#include "session/CatalogRecords.h"

#include <juce_core/juce_core.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace vantrel::librarytest
{
using vantrel::testing::ja;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;
using ScratchFolder = vantrel::testing::TempFolder;

/** Bytes that differ from file to file: a seeded pseudo-random pattern. */
inline std::string patternBytes (size_t size, uint32_t seed)
{
    std::string bytes (size, '\0');
    uint32_t state = seed * 2654435761u + 1u;

    for (auto& byte : bytes)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char> (state & 0xff);
    }

    return bytes;
}

/** 64-bit FNV-1a of a file's bytes; 0 for a missing file. */
inline uint64_t hashOf (const std::string& bytes)
{
    uint64_t hash = 1469598103934665603ull;

    for (const auto byte : bytes)
    {
        hash ^= static_cast<unsigned char> (byte);
        hash *= 1099511628211ull;
    }

    return hash;
}

inline uint64_t fileHash (const juce::File& file)  { return file.existsAsFile() ? hashOf (readBytes (file)) : 0; }

/** A symbolic link at `link` leading to `target`. */
inline bool makeLink (const juce::File& target, const juce::File& link)
{
    std::error_code error;
    link.getParentDirectory().createDirectory();
    std::filesystem::create_symlink (target.getFullPathName().toStdString(), link.getFullPathName().toStdString(), error);
    return ! error;
}

/** Every file below a folder (links not followed into folders) with its bytes. */
inline std::map<juce::String, std::string> snapshotFiles (const juce::File& folder)
{
    std::map<juce::String, std::string> files;
    std::error_code error;
    namespace fs = std::filesystem;

    for (fs::recursive_directory_iterator it (folder.getFullPathName().toStdString(), error), end; ! error && it != end; it.increment (error))
        if (it->is_regular_file())
        {
            const juce::File file (juce::String::fromUTF8 (it->path().c_str()));
            files[file.getRelativePathFrom (folder)] = readBytes (file);
        }

    return files;
}

/** Waits (polling) until the condition holds; answers the condition. The bound of five minutes
    only turns a hang into a failure: no thread on a busy machine is starved that long. */
inline bool eventually (const std::function<bool()>& condition)
{
    return vantrel::testing::waitUntil (condition, std::chrono::minutes (5));
}

inline Row makeRow (const std::string& id, const std::string& title, const juce::String& source)
{
    Row row;
    row.id = id;
    row.title = title;
    row.source = source.toStdString();
    return row;
}

inline Playlist makePlaylist (const std::string& id, const std::string& name, std::vector<Row> rows)
{
    Playlist playlist;
    playlist.id = id;
    playlist.name = name;
    playlist.rows = std::move (rows);
    return playlist;
}
} // namespace vantrel::librarytest
