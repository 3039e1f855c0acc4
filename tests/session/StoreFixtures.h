#pragma once

#include "support/TestFiles.h"

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
/** True when `name` is `prefix`, 32 lower-case hexadecimal digits and `suffix`. */
inline bool isUuidName (const juce::String& name, const juce::String& prefix, const juce::String& suffix)
{
    if (! name.startsWith (prefix) || ! name.endsWith (suffix) || name.length() != prefix.length() + 32 + suffix.length())
        return false;

    return name.substring (prefix.length(), prefix.length() + 32).containsOnly ("0123456789abcdef");
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
