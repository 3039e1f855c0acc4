#include "audio/rack/Vst3BundleSearch.h"

#include "audio/rack/VstPaths.h"
#include "audio/rack/VstWorkerClient.h"

#include <filesystem>

namespace vantrel
{
namespace
{
namespace fs = std::filesystem;

bool hasVst3Extension (const fs::path& path)
{
    return juce::String::fromUTF8 (path.extension().string().c_str()).equalsIgnoreCase (".vst3");
}

juce::File toFile (const fs::path& path)
{
    return juce::File (juce::String::fromUTF8 (path.string().c_str()));
}
} // namespace

juce::StringArray defaultVst3Folders()
{
    return defaultVst3Folders (juce::SystemStats::getEnvironmentVariable ("HOME", {}));
}

juce::StringArray defaultVst3Folders (const juce::String& home)
{
    juce::StringArray folders;

    if (isAbsoluteVstPath (home))
        folders.add (juce::File (home).getChildFile (".vst3").getFullPathName());

    folders.add ("/usr/lib/vst3");
    folders.add ("/usr/local/lib/vst3");
    return folders;
}

void Vst3BundleList::add (const juce::File& bundle)
{
    const auto path = normalizeVstPath (bundle);

    if (path.isEmpty() || ! isValidWorkerField (path))
        return;

    if (seen.insert (path.toStdString()).second)
        bundles.push_back (path);
}

void scanVst3Folder (const juce::File& folder, int depth, int& count, Vst3BundleList& bundles,
                     const std::function<bool()>& cancelled)
{
    if (cancelled() || depth > maxBundleSearchDepth || count >= maxEntriesPerSearchFolder)
        return;

    const fs::path path (folder.getFullPathName().toStdString());

    if (hasVst3Extension (path))
    {
        bundles.add (folder);
        return;
    }

    std::error_code error;
    fs::directory_iterator entries (path, fs::directory_options::skip_permission_denied, error);

    for (; ! error && entries != fs::directory_iterator(); entries.increment (error))
    {
        if (cancelled())
            return;

        if (++count >= maxEntriesPerSearchFolder)
            return;

        const auto& entry = *entries;
        std::error_code statusError;

        if (entry.is_symlink (statusError) || statusError)
            continue;

        if (hasVst3Extension (entry.path()))
            bundles.add (toFile (entry.path()));
        else if (entry.is_directory (statusError))
            scanVst3Folder (toFile (entry.path()), depth + 1, count, bundles, cancelled);

        if (count >= maxEntriesPerSearchFolder)
            return;
    }
}

Vst3BundleList findVst3Bundles (const juce::StringArray& folders, const std::function<bool()>& cancelled, int& excluded)
{
    Vst3BundleList bundles;

    for (const auto& folder : folders)
    {
        int count = 0;
        scanVst3Folder (juce::File (folder), 0, count, bundles, cancelled);

        if (count >= maxEntriesPerSearchFolder)
            ++excluded;
    }

    return bundles;
}
} // namespace vantrel
