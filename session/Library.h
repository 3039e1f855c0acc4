#pragma once

#include "session/CatalogRecords.h"
#include "session/LibraryItem.h"
#include "session/LibraryNames.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel
{
/** Seams for tests; the session uses the defaults. */
struct LibraryOptions
{
    /** The largest "library-names.json" read or written. */
    int64_t namesSizeLimit = libraryNamesSizeLimit;

    /** Called on the scan thread each time the scan tests whether it must stop, with the flag. */
    std::function<void (const std::atomic<bool>& stopping)> onScanStep;

    /** Called on the scan thread after a scan published its list, with the new generation. */
    std::function<void (int64_t generation)> onPublish;
};

/** The overview of every audio file that the session stores or refers to: managed copies (in
    each playlist's audio folder and the pad assets) and outside files that rows refer to. A
    background scan over a copy of the catalog and the pads publishes an immutable sorted list,
    which the library panel polls through `items`. Display names of managed files are kept in
    "library-names.json" in the data root.

    The constructor, refresh, items, rename, findFileUses and the destructor run on the message
    thread; classify, libraryPathKey and canonicalPath on any thread. Not copyable. */
class Library
{
public:
    /** Reads "library-names.json"; starts no thread. An unreadable record is left as it is and
        makes every later snapshot's status say so; names are then never written in this run. */
    explicit Library (const juce::File& root, LibraryOptions options = {});

    /** Stops a running scan at its next step (nothing is published) and joins it. */
    ~Library();

    Library (const Library&) = delete;
    Library& operator= (const Library&) = delete;

    /** Starts a scan of this catalog and these pads unless one runs (then the request is dropped). */
    void refresh (CatalogDocument document, PadSlots pads);

    /** The published list with the scan's state. Cheap: copies one shared pointer under a lock. */
    LibrarySnapshot items() const;

    /** Records a display name for a managed file. True without storing anything for an outside
        file or an empty name, and when the name is already stored; false when the names record
        was unreadable or could not be written (the names stay as they were; lastRenameError
        says why). */
    bool rename (const juce::File& file, const juce::String& displayName);

    /** Why the last rename failed; empty after a successful one. */
    juce::String lastRenameError() const  { return renameError; }

    /** One file with its uses among these playlists and pads, with this library's names. */
    LibraryItem findFileUses (const juce::File& file, const std::vector<Playlist>& playlists, const PadSlots& pads) const;

    /** The kind of a file below this library's data root. Any thread. */
    LibraryFileKind classify (const juce::File& file) const;

    /** The comparison key of a file (its canonical path as it is). Any thread. */
    static juce::String libraryPathKey (const juce::File& file);

    /** The weakly canonical path, empty when not absolute or not resolvable. Any thread. */
    static juce::String canonicalPath (const juce::File& file);

    const juce::File& getRoot() const  { return root; }

private:
    void runScan (CatalogDocument document, PadSlots pads, LibraryNameMap namesCopy, juce::String namesErrorCopy);

    const juce::File root;
    const LibraryOptions options;
    LibraryNameMap names;
    juce::String namesError;
    juce::String renameError;
    mutable std::mutex mutex;
    LibrarySnapshot snapshot;
    std::atomic<bool> stopping { false };
    std::atomic<bool> scanning { false };
    std::thread scanThread;
};
} // namespace vantrel
