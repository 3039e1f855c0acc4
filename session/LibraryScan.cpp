#include "session/LibraryScan.h"

#include "session/CatalogValidation.h"
#include "session/LibraryPaths.h"
#include "session/LibraryUses.h"

#include <filesystem>
#include <map>
#include <system_error>

namespace vantrel
{
namespace
{
/** What the catalog says about one key. */
struct Tally
{
    juce::String displayName;
    int rowUses = 0;
    int padUses = 0;
    juce::StringArray entries;
};

class ScanCollector
{
public:
    ScanCollector (const juce::File& rootFolder, const std::function<bool()>& stop)
        : root (rootFolder), shouldStop (stop)
    {
    }

    bool stopped() const  { return shouldStop(); }

    /** Adds a file under its key (the first file seen keeps the key); answers the key. */
    juce::String add (const juce::File& file)
    {
        auto key = libraryPathKey (file);
        candidates.emplace (key, file);
        return key;
    }

    void addRow (const Row& row, const Playlist& playlist)
    {
        const auto source = juce::String::fromUTF8 (row.source.c_str());

        if (! isAbsolutePathText (source))
            return;

        auto& tally = tallies[add (juce::File (source))];

        if (tally.displayName.isEmpty())
            tally.displayName = juce::String::fromUTF8 (row.title.c_str());

        ++tally.rowUses;
        tally.entries.addIfNotAlreadyThere (playlistUseEntry (playlist.name));
    }

    void addPad (const PadSlot& pad, int index)
    {
        auto& tally = tallies[add (assetsFolder().getChildFile (juce::String::fromUTF8 (pad.asset.c_str())))];

        if (tally.displayName.isEmpty())
            tally.displayName = juce::String::fromUTF8 (pad.name.c_str());

        ++tally.padUses;
        tally.entries.add (padUseEntry (index));
    }

    /** Adds every file directly in `folder` (links followed, hidden files included) that
        classifies as `kind`, leaving out the partial files of stopped copies. */
    void addManagedFiles (const juce::File& folder, LibraryFileKind kind)
    {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::directory_iterator entries (fs::path (folder.getFullPathName().toStdString()), error);

        for (const fs::directory_iterator end; ! error && entries != end && ! stopped(); entries.increment (error))
        {
            std::error_code typeError;

            if (! entries->is_regular_file (typeError))
                continue;

            const juce::File file (juce::String::fromUTF8 (entries->path().c_str()));

            if (kind == LibraryFileKind::PlaylistCopy && isCopyTemporaryName (file.getFileName()))
                continue;

            if (places.classify (file) == kind)
                add (file);
        }
    }

    juce::File assetsFolder() const  { return root.getChildFile ("pad").getChildFile ("assets"); }

    const juce::File root;
    const LibraryRoot places { root };
    const std::function<bool()>& shouldStop;
    std::map<juce::String, juce::File> candidates;
    std::map<juce::String, Tally> tallies;
};

/** A bare file name of the pad asset folder. The stored pads are checked on load; the scan
    still never lets an asset name lead elsewhere. */
bool isBareAssetName (const std::string& asset)
{
    return ! asset.empty() && asset != "." && asset != ".." && asset.find ('/') == std::string::npos;
}
} // namespace

std::optional<LibraryItemList> scanLibrary (const juce::File& root, const CatalogDocument& document, const PadSlots& pads,
                                            const LibraryNameMap& names, const std::function<bool()>& shouldStop)
{
    ScanCollector scan (root, shouldStop);

    // Candidates: row sources, pad assets, then the managed folders.
    for (const auto& playlist : document.playlists)
        for (const auto& row : playlist.rows)
        {
            if (scan.stopped())
                return std::nullopt;

            scan.addRow (row, playlist);
        }

    for (int index = 0; index < numPads; ++index)
    {
        if (scan.stopped())
            return std::nullopt;

        const auto& pad = pads[static_cast<size_t> (index)];

        if (isBareAssetName (pad.asset))
            scan.addPad (pad, index);
    }

    if (scan.places.classify (scan.assetsFolder().getChildFile ("ownership-check.wav")) == LibraryFileKind::PadCopy)
        scan.addManagedFiles (scan.assetsFolder(), LibraryFileKind::PadCopy);

    {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::directory_iterator folders (fs::path (root.getChildFile ("playlists").getFullPathName().toStdString()), error);

        for (const fs::directory_iterator end; ! error && folders != end && ! scan.stopped(); folders.increment (error))
        {
            std::error_code typeError;
            const auto name = folders->path().filename().string();

            if (! isValidId (name) || ! folders->is_directory (typeError))
                continue;

            const auto audio = root.getChildFile ("playlists").getChildFile (name).getChildFile ("audio");

            if (scan.places.classify (audio.getChildFile ("ownership-check.wav")) == LibraryFileKind::PlaylistCopy)
                scan.addManagedFiles (audio, LibraryFileKind::PlaylistCopy);
        }
    }

    if (scan.stopped())
        return std::nullopt;

    // One item per key, with the catalog's uses.
    LibraryItemList items;
    items.reserve (scan.candidates.size());
    PendingFolderCache pendingFolders;
    const LibraryNameMap& copiedNames = names;

    for (const auto& [key, file] : scan.candidates)
    {
        if (scan.stopped())
            return std::nullopt;

        auto item = describeLibraryFile (scan.places, file, copiedNames, &pendingFolders);
        const auto tally = scan.tallies.find (key);

        if (tally != scan.tallies.end())
        {
            item.rowUses = tally->second.rowUses;
            item.padUses = tally->second.padUses;

            if (tally->second.displayName.isNotEmpty())
                item.displayName = tally->second.displayName;

            item.usesText = tally->second.entries.joinIntoString (" / ");
        }

        items.push_back (std::move (item));
    }

    // Natural order of the display names.
    sortLibraryItems (items);

    if (scan.stopped())
        return std::nullopt;

    return items;
}
} // namespace vantrel
