#include "session/LibraryUses.h"

#include "session/UiText.h"
#include "platform/FileStatus.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vantrel
{
juce::String playlistUseEntry (const std::string& playlistName)
{
    return translate ("プレイリスト: ") + juce::String::fromUTF8 (playlistName.c_str());
}

juce::String padUseEntry (int padIndex)
{
    return "PAD " + juce::String (padIndex / numPadsPerBank + 1) + " / " + juce::String (padIndex % numPadsPerBank + 1);
}

juce::String unusedUsesText (bool pending)
{
    return pending ? translate ("取込の保存確定待ち") : translate ("未使用");
}

bool hasPendingImport (const juce::File& playlistFolder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder (playlistFolder.getFullPathName().toStdString());

    if (fs::is_regular_file (folder / "pending-import.json", error))
        return true;

    fs::directory_iterator entries (folder, error);

    for (const fs::directory_iterator end; ! error && entries != end; entries.increment (error))
    {
        const auto name = entries->path().filename().string();

        if (name.size() >= 18 && name.compare (0, 13, "pending-copy-") == 0
            && name.compare (name.size() - 5, 5, ".json") == 0)
        {
            std::error_code typeError;

            if (entries->is_regular_file (typeError))
                return true;
        }
    }

    return false;
}

bool PendingFolderCache::isPending (const juce::File& playlistFolder)
{
    const auto key = playlistFolder.getFullPathName();
    const auto found = folders.find (key);

    if (found != folders.end())
        return found->second;

    const auto pending = hasPendingImport (playlistFolder);
    folders.emplace (key, pending);
    return pending;
}

LibraryItem describeLibraryFile (const LibraryRoot& root, const juce::File& file, const LibraryNameMap& names,
                                 PendingFolderCache* pendingCache)
{
    LibraryItem item;
    item.path = file.getFullPathName();
    item.displayName = file.getFileName();
    item.kind = root.classify (file);

    const auto status = platform::readFileStatus (item.path.toStdString());
    item.exists = status.exists && ! status.isDirectory;
    item.bytes = item.exists ? status.size : 0;

    if (item.kind != LibraryFileKind::External)
    {
        const auto entry = names.find (root.relativePath (file));

        if (entry != names.end())
            item.displayName = entry->second;
    }

    if (item.kind == LibraryFileKind::PlaylistCopy)
    {
        const auto playlistFolder = file.getParentDirectory().getParentDirectory();
        item.pending = pendingCache != nullptr ? pendingCache->isPending (playlistFolder) : hasPendingImport (playlistFolder);
    }

    item.usesText = unusedUsesText (item.pending);
    return item;
}

LibraryItem findLibraryFileUses (const LibraryRoot& root, const juce::File& file, const std::vector<Playlist>& playlists,
                                 const PadSlots& pads, const LibraryNameMap& names)
{
    auto item = describeLibraryFile (root, file, names);
    const auto key = libraryPathKey (file);
    juce::StringArray entries;
    bool firstRowSeen = false;

    for (const auto& playlist : playlists)
    {
        int uses = 0;

        for (const auto& row : playlist.rows)
        {
            const auto source = juce::String::fromUTF8 (row.source.c_str());

            if (! isAbsolutePathText (source) || libraryPathKey (juce::File (source)) != key)
                continue;

            if (! firstRowSeen && ! row.title.empty())
                item.displayName = juce::String::fromUTF8 (row.title.c_str());

            firstRowSeen = true;
            ++item.rowUses;
            ++uses;
        }

        if (uses > 0)
            entries.add (playlistUseEntry (playlist.name) + (uses >= 2 ? " (" + juce::String (uses) + ")" : juce::String()));
    }

    const auto assets = root.getRoot().getChildFile ("pad").getChildFile ("assets");

    for (int index = 0; index < numPads; ++index)
    {
        const auto& pad = pads[static_cast<size_t> (index)];

        if (pad.asset.empty() || libraryPathKey (assets.getChildFile (juce::String::fromUTF8 (pad.asset.c_str()))) != key)
            continue;

        ++item.padUses;
        entries.add (padUseEntry (index));

        if (item.rowUses == 0 && ! pad.name.empty())
            item.displayName = juce::String::fromUTF8 (pad.name.c_str());
    }

    if (! entries.isEmpty())
        item.usesText = entries.joinIntoString (" / ");

    return item;
}

void sortLibraryItems (LibraryItemList& items)
{
    std::stable_sort (items.begin(), items.end(), [] (const LibraryItem& a, const LibraryItem& b)
    {
        const auto order = a.displayName.compareNatural (b.displayName, false);

        if (order != 0)
            return order < 0;

        return std::strcmp (a.path.toRawUTF8(), b.path.toRawUTF8()) < 0;
    });
}
} // namespace vantrel
