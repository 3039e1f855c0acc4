#pragma once

#include <juce_core/juce_core.h>

#include <filesystem>
#include <string>

namespace vantrel::testing
{
/** A UTF-8 literal (a Japanese text) as a JUCE string. */
inline juce::String ja (const char* text)  { return juce::String::fromUTF8 (text); }

/** A private folder under the system's temporary folder, removed with everything in it
    (links inside it are removed, never followed). */
class TempFolder
{
public:
    explicit TempFolder (const char* tag = "test")
        : folder (juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getChildFile (juce::String ("vantrel-") + tag + "-" + juce::Uuid().toString()))
    {
        folder.createDirectory();
    }

    ~TempFolder()
    {
        std::error_code error;
        std::filesystem::remove_all (folder.getFullPathName().toStdString(), error);
    }

    TempFolder (const TempFolder&) = delete;
    TempFolder& operator= (const TempFolder&) = delete;

    const juce::File& path() const                            { return folder; }
    juce::File operator/ (const juce::String& relative) const  { return folder.getChildFile (relative); }

private:
    juce::File folder;
};

/** The exact bytes of a file; empty when it cannot be read. */
inline std::string readBytes (const juce::File& file)
{
    juce::MemoryBlock block;

    if (! file.loadFileAsData (block))
        return {};

    return std::string (static_cast<const char*> (block.getData()), block.getSize());
}

/** Makes a folder and the folders above it. Unlike juce::File::createDirectory, a folder that
    another thread or process makes at the same moment (a session saving into the same tree) does
    not stop the ones below it from being made. */
inline bool createFolders (const juce::File& folder)
{
    std::error_code error;
    std::filesystem::create_directories (folder.getFullPathName().toStdString(), error);
    return folder.isDirectory();
}

/** Replaces a file with exactly these bytes, creating its folders. */
inline bool writeBytes (const juce::File& file, const std::string& bytes)
{
    createFolders (file.getParentDirectory());

    if (bytes.empty())   // the framework's replaceWithData deletes the file for no bytes
        return file.deleteFile() && file.create().wasOk();

    return file.replaceWithData (bytes.data(), bytes.size());
}
} // namespace vantrel::testing
