#pragma once

#include "session/StoreResult.h"

#include <juce_core/juce_core.h>

#include <ostream>

#include <map>
#include <string>
#include <vector>

namespace vantrel
{
/** Readable failure output for results. */
inline void PrintTo (const StoreResult& result, std::ostream* out)
{
    *out << (result.ok ? "ok" : "failed") << " \"" << result.message.toStdString() << "\"";
}
} // namespace vantrel

namespace vantrel::testing
{
/** A UTF-8 literal (a Japanese message) as a JUCE string. */
inline juce::String ja (const char* text)  { return juce::String::fromUTF8 (text); }

/** A private folder under the system's temporary folder, removed with everything in it. */
class TempFolder
{
public:
    TempFolder()
        : folder (juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getChildFile ("vantrel-store-test-" + juce::Uuid().toString()))
    {
        folder.createDirectory();
    }

    ~TempFolder()  { folder.deleteRecursively(); }

    TempFolder (const TempFolder&) = delete;
    TempFolder& operator= (const TempFolder&) = delete;

    const juce::File& path() const                    { return folder; }
    juce::File operator/ (const char* relative) const  { return folder.getChildFile (relative); }

private:
    juce::File folder;
};

/** True when `name` is `prefix`, 32 lower-case hexadecimal digits and `suffix`. */
inline bool isUuidName (const juce::String& name, const juce::String& prefix, const juce::String& suffix)
{
    if (! name.startsWith (prefix) || ! name.endsWith (suffix) || name.length() != prefix.length() + 32 + suffix.length())
        return false;

    return name.substring (prefix.length(), prefix.length() + 32).containsOnly ("0123456789abcdef");
}

/** The exact bytes of a file; empty when it cannot be read. */
inline std::string readBytes (const juce::File& file)
{
    juce::MemoryBlock block;

    if (! file.loadFileAsData (block))
        return {};

    return std::string (static_cast<const char*> (block.getData()), block.getSize());
}

/** Replaces a file with exactly these bytes, creating its folders. */
inline bool writeBytes (const juce::File& file, const std::string& bytes)
{
    file.getParentDirectory().createDirectory();

    if (bytes.empty())   // the framework's replaceWithData deletes the file for no bytes
        return file.deleteFile() && file.create().wasOk();

    return file.replaceWithData (bytes.data(), bytes.size());
}

/** The temporary files of the atomic writer anywhere below a folder. */
inline std::vector<juce::String> temporaryFiles (const juce::File& folder)
{
    std::vector<juce::String> names;

    for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*.tmp-*", juce::File::findFiles))
        names.push_back (entry.getFile().getRelativePathFrom (folder));

    return names;
}

/** Every file below a folder with its bytes, for before/after comparisons. */
inline std::map<juce::String, std::string> snapshotFiles (const juce::File& folder)
{
    std::map<juce::String, std::string> files;

    for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFiles))
        files[entry.getFile().getRelativePathFrom (folder)] = readBytes (entry.getFile());

    return files;
}
} // namespace vantrel::testing
