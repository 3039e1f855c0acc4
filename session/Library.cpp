#include "session/Library.h"

#include "session/LibraryPaths.h"
#include "session/LibraryScan.h"
#include "session/LibraryUses.h"
#include "session/UiText.h"

#include "platform/ThreadContract.h"
#include "platform/ThreadName.h"

namespace vantrel
{
Library::Library (const juce::File& rootFolder, LibraryOptions libraryOptions)
    : root (rootFolder), options (std::move (libraryOptions))
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! readLibraryNames (root.getChildFile (libraryNamesFileName), names, options.namesSizeLimit))
    {
        names.clear();
        namesError = translate ("ライブラリ名の記録を読めません。元の記録と音源は保持しています");
    }
}

Library::~Library()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    stopping.store (true);

    if (scanThread.joinable())
        scanThread.join();
}

void Library::refresh (CatalogDocument document, PadSlots pads)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (scanning.exchange (true))
        return;

    if (scanThread.joinable())
        scanThread.join();   // the previous scan has ended; only its thread remains

    try
    {
        scanThread = std::thread ([this, document = std::move (document), pads = std::move (pads),
                                   namesCopy = names, namesErrorCopy = namesError]() mutable
        {
            platform::nameCurrentThread ("library scan");
            runScan (std::move (document), std::move (pads), std::move (namesCopy), std::move (namesErrorCopy));
        });
    }
    catch (...)
    {
        scanning.store (false);   // no thread could be started: the next refresh tries again
    }
}

void Library::runScan (CatalogDocument document, PadSlots pads, LibraryNameMap namesCopy, juce::String namesErrorCopy)
{
    const ThreadRoleScope backgroundRole (ThreadRole::background);
    try
    {
        const std::function<bool()> shouldStop = [this]
        {
            if (options.onScanStep)
                options.onScanStep (stopping);

            return stopping.load();
        };

        auto list = scanLibrary (root, document, pads, namesCopy, shouldStop);

        if (list.has_value() && ! stopping.load())
        {
            auto published = std::make_shared<const LibraryItemList> (std::move (*list));
            int64_t generation = 0;

            {
                const std::lock_guard<std::mutex> lock (mutex);
                snapshot.items = std::move (published);
                snapshot.status = namesErrorCopy;
                generation = ++snapshot.generation;
            }

            if (options.onPublish)
                options.onPublish (generation);
        }
    }
    catch (...)
    {
        // A scan that cannot finish publishes nothing; the next refresh tries again.
    }

    scanning.store (false);
}

LibrarySnapshot Library::items() const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    LibrarySnapshot copy;

    {
        const std::lock_guard<std::mutex> lock (mutex);
        copy = snapshot;
    }

    copy.scanning = scanning.load();
    return copy;
}

bool Library::rename (const juce::File& file, const juce::String& displayName)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const LibraryRoot places (root);
    renameError.clear();

    if (displayName.isEmpty() || places.classify (file) == LibraryFileKind::External)
        return true;

    if (namesError.isNotEmpty())
    {
        renameError = namesError;
        return false;
    }

    const auto key = places.relativePath (file);
    const auto existing = names.find (key);

    if (existing != names.end() && existing->second == displayName)
        return true;

    auto updated = names;
    updated[key] = displayName;
    const auto written = writeLibraryNames (root.getChildFile (libraryNamesFileName), updated, options.namesSizeLimit);

    if (! written.ok)
    {
        renameError = written.message;
        return false;
    }

    names = std::move (updated);
    return true;
}

LibraryItem Library::findFileUses (const juce::File& file, const std::vector<Playlist>& playlists, const PadSlots& pads) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return findLibraryFileUses (LibraryRoot (root), file, playlists, pads, names);
}

LibraryFileKind Library::classify (const juce::File& file) const
{
    return LibraryRoot (root).classify (file);
}

juce::String Library::libraryPathKey (const juce::File& file)
{
    return vantrel::libraryPathKey (file);
}

juce::String Library::canonicalPath (const juce::File& file)
{
    return vantrel::canonicalPath (file);
}
} // namespace vantrel
