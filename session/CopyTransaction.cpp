#include "session/CopyTransaction.h"

#include "platform/FileCopy.h"
#include "platform/FileStatus.h"
#include "session/AtomicFileWriter.h"
#include "session/CatalogValidation.h"
#include "session/FileSignature.h"
#include "session/LibraryPaths.h"
#include "session/SessionDocuments.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace vantrel
{
namespace
{
// The transaction's texts are English and shown as they stand.
const char* const invalidRequest = "Invalid copy request";
const char* const unsupportedSource = "Unsupported or missing source";
const char* const invalidRecord = "Copy recovery record is invalid; files retained";
const char* const invalidSource = "Invalid copy source";
const char* const invalidLength = "Invalid copy recovery length";
const char* const cannotCreateFolder = "Cannot create library folder";
const char* const managedMissing = "Managed audio is missing";
const char* const unsafeDestination = "Unsafe recovery destination; files retained";
const char* const savedCopyChanged = "Saved copy changed; record retained";
const char* const sourceMissing = "Copy source is missing; record retained";
const char* const verificationFailed = "Copy verification failed; record retained";
const char* const copyConflict = "Copy conflict; existing files retained";

std::string pathOf (const juce::File& file)  { return file.getFullPathName().toStdString(); }

juce::String freshId()  { return juce::Uuid().toString().toLowerCase(); }

juce::File playlistFolder (const juce::File& root, const std::string& playlistId)
{
    return root.getChildFile ("playlists").getChildFile (juce::String (playlistId));
}

/** A source that a request may name: an absolute path with an accepted audio extension. */
bool isAcceptableSourcePath (const juce::String& source)
{
    return isAbsolutePathText (source) && hasAcceptedAudioExtension (juce::File (source).getFileName());
}

/** The state that a journal carries, holding exactly the transaction's playlist. */
juce::var journalState (CatalogState state, const Playlist& playlist)
{
    state.document.playlists = { playlist };
    state.document.current = playlist.id;
    return catalogToJson (state);
}

/** Everything a transaction works on, whether it was built or read from a journal. */
struct Transaction
{
    juce::File root;
    juce::File journalFile;
    juce::var journal;           // the journal object; its members keep their places when rewritten
    juce::StringArray sources;   // one per row
    CatalogState state;          // the journal's state: defaults for a new request
    Playlist playlist;
    bool resumed = false;        // read from a journal that an earlier run left
};

void takeSignature (Row& row, const juce::File& file)
{
    const auto signature = readFileSignature (file);
    row.bytes = static_cast<uint64_t> (signature.size);
    row.modified = signature.modified.toMilliseconds();
}

/** Copies one source to its absent destination through a verified temporary sibling. */
const char* copyToDestination (const juce::File& source, const juce::File& destination, const CopyOptions& options)
{
    const auto before = readFileSignature (source);
    juce::File temporary;
    platform::FileError copied = platform::FileError::fromCode (EEXIST);

    // The temporary name: the destination's base name, "_temp", random hex digits, its extension.
    for (int attempt = 0; attempt < 8 && copied.code == EEXIST; ++attempt)
    {
        temporary = destination.getSiblingFile (copyTemporaryName (destination.getFileName(), freshId().substring (0, 8)));
        copied = platform::copyFileDurably (pathOf (source), pathOf (temporary));
    }

    if (copied.failed())
        return verificationFailed;   // copyFileDurably removed what it had created

    bool verified = filesMatch (source, temporary);

    if (verified && options.afterCopy)
        options.afterCopy (source, temporary);

    verified = verified && readFileSignature (source) == before;

    // The rename never replaces a file; it forces the audio folder to the disk afterwards.
    if (! verified || platform::moveWithoutReplacing (pathOf (temporary), pathOf (destination)).failed())
    {
        platform::removeQuietly (pathOf (temporary));
        return verificationFailed;
    }

    return nullptr;
}

/** Removes from the audio folder the partial copies that a stopped run left under the temporary
    names of these destinations (regular files only; links, folders and other names stay). The
    rows' ids are unique to this transaction, so no other copy uses those names. */
void removeStoppedCopies (const juce::File& audioFolder, const std::vector<juce::String>& destinationNames)
{
    if (destinationNames.empty())
        return;

    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator entries (fs::path (pathOf (audioFolder)), error);
    std::vector<std::string> stopped;

    for (const fs::directory_iterator end; ! error && entries != end; entries.increment (error))
    {
        std::error_code typeError;

        if (! entries->is_regular_file (typeError) || entries->is_symlink (typeError))
            continue;

        const auto name = juce::String::fromUTF8 (entries->path().filename().c_str());

        for (const auto& destinationName : destinationNames)
            if (isCopyTemporaryNameOf (name, destinationName))
                stopped.push_back (entries->path().string());
    }

    for (const auto& path : stopped)
        platform::removeQuietly (path);
}

/** The steps that a new request and a resume share; fills the result (its message on failure). */
void finish (Transaction& transaction, CopyResult& result, const CopyOptions& options)
{
    const auto audioFolder = playlistFolder (transaction.root, transaction.playlist.id).getChildFile ("audio");
    auto fail = [&result, &transaction] (const juce::String& message)
    {
        result.playlist = transaction.playlist;
        result.message = message;
    };

    const LibraryRoot places (transaction.root);
    const auto rowCount = transaction.playlist.rows.size();
    std::vector<bool> managedInPlace (rowCount, false);

    // Every destination is checked before anything is created or copied, so that a journal
    // naming an unsafe one changes nothing at all.
    for (size_t index = 0; index < rowCount; ++index)
    {
        const auto& row = transaction.playlist.rows[index];
        const auto rowSource = juce::String::fromUTF8 (row.source.c_str());

        if (! isAbsolutePathText (rowSource))
            return fail (unsafeDestination);

        const juce::File destination (rowSource);

        // Managed in place: a library file that the row refers to where it lies.
        if (rowSource == transaction.sources[static_cast<int> (index)]
            && places.classify (destination) != LibraryFileKind::External)
        {
            managedInPlace[index] = true;
            continue;
        }

        // Otherwise an audio file named after the row, directly in this playlist's audio folder,
        // spelled exactly as that path.
        if (destination.getFullPathName() != rowSource
            || destination.getParentDirectory() != audioFolder
            || destination.getFileNameWithoutExtension() != juce::String (row.id)
            || ! hasAcceptedAudioExtension (destination.getFileName()))
            return fail (unsafeDestination);
    }

    if (platform::createFolderChain (pathOf (audioFolder)).failed())
        return fail (cannotCreateFolder);

    // A resume starts by clearing what a stop in the middle of its own copies left behind.
    std::vector<juce::String> destinationNames;

    for (size_t index = 0; index < rowCount && transaction.resumed; ++index)
        if (! managedInPlace[index])
            destinationNames.push_back (juce::File (juce::String::fromUTF8 (transaction.playlist.rows[index].source.c_str())).getFileName());

    removeStoppedCopies (audioFolder, destinationNames);

    const auto completeValue = transaction.journal.getProperty ("complete", {});
    const bool complete = completeValue.isBool() && static_cast<bool> (completeValue);

    for (size_t index = 0; index < rowCount; ++index)
    {
        auto& row = transaction.playlist.rows[index];
        const auto sourceText = transaction.sources[static_cast<int> (index)];
        const juce::File destination (juce::String::fromUTF8 (row.source.c_str()));

        if (managedInPlace[index])
        {
            if (! destination.existsAsFile())
                return fail (managedMissing);

            takeSignature (row, destination);
            continue;
        }

        if (complete)
        {
            const auto signature = readFileSignature (destination);

            if (! destination.existsAsFile() || static_cast<uint64_t> (signature.size) != row.bytes
                || signature.modified.toMilliseconds() != row.modified)
                return fail (savedCopyChanged);

            continue;
        }

        const juce::File source (sourceText);

        if (! source.existsAsFile())
            return fail (sourceMissing);

        const auto status = platform::readFileStatus (pathOf (destination));

        if (! status.exists && ! destination.isSymbolicLink())
        {
            if (const auto* message = copyToDestination (source, destination, options))
                return fail (message);
        }
        else
        {
            // Already there (a stop after its rename): accepted only with the source's bytes,
            // and forced to the disk before the journal can call it complete.
            if (! filesMatch (source, destination))
                return fail (copyConflict);

            if (platform::syncExistingFile (pathOf (destination)).failed())
                return fail (verificationFailed);
        }

        takeSignature (row, destination);
    }

    // Every rename of this and any earlier run is on the disk before the journal says complete.
    if (! complete && platform::syncFolder (pathOf (audioFolder)).failed())
        return fail (verificationFailed);

    auto* journalObject = transaction.journal.getDynamicObject();
    journalObject->setProperty ("complete", true);
    journalObject->setProperty ("state", journalState (transaction.state, transaction.playlist));

    const auto written = writeFileAtomically (transaction.journalFile, juce::JSON::toString (transaction.journal, false, 17),
                                              false, options.journalSizeLimit);

    if (! written.ok)
        return fail (written.message);

    result.playlist = transaction.playlist;
    result.message.clear();
}

CopyResult startNewTransaction (const juce::File& root, const std::string& playlistId, const juce::StringArray& sources,
                                const juce::StringArray& titles, const CopyOptions& options)
{
    CopyResult result;

    if (! isValidId (playlistId) || sources.isEmpty() || sources.size() != titles.size())
    {
        result.message = invalidRequest;
        return result;
    }

    Transaction transaction;
    transaction.root = root;
    transaction.sources = sources;
    transaction.playlist.id = playlistId;
    transaction.playlist.name = "Import";
    transaction.journalFile = playlistFolder (root, playlistId).getChildFile ("pending-copy-" + freshId() + ".json");
    result.journal = transaction.journalFile;
    result.playlist = transaction.playlist;

    const LibraryRoot places (root);
    const auto audioFolder = playlistFolder (root, playlistId).getChildFile ("audio");

    for (int index = 0; index < sources.size(); ++index)
    {
        const auto& sourceText = sources[index];

        if (! isAcceptableSourcePath (sourceText) || ! juce::File (sourceText).existsAsFile())
        {
            result.message = unsupportedSource;
            return result;
        }

        const juce::File source (sourceText);
        Row row;
        row.id = freshId().toStdString();
        row.title = titles[index].toStdString();

        if (places.classify (source) != LibraryFileKind::External)
            row.source = source.getFullPathName().toStdString();
        else
            row.source = audioFolder.getChildFile (juce::String (row.id) + source.getFileExtension().toLowerCase())
                             .getFullPathName().toStdString();

        transaction.playlist.rows.push_back (std::move (row));
    }

    juce::Array<juce::var> sourceList;

    for (const auto& source : sources)
        sourceList.add (source);

    auto* journalObject = new juce::DynamicObject();
    transaction.journal = juce::var (journalObject);
    journalObject->setProperty ("sources", sourceList);
    journalObject->setProperty ("complete", false);
    journalObject->setProperty ("state", journalState (transaction.state, transaction.playlist));
    result.playlist = transaction.playlist;

    const auto written = writeFileAtomically (transaction.journalFile, juce::JSON::toString (transaction.journal, false, 17),
                                              false, options.journalSizeLimit);

    if (! written.ok)
    {
        result.message = written.message;
        return result;
    }

    finish (transaction, result, options);
    return result;
}

CopyResult resumeTransaction (const juce::File& root, const juce::File& journalFile, const CopyOptions& options)
{
    CopyResult result;
    result.journal = journalFile;
    auto fail = [&result] (const char* message)
    {
        result.message = message;
        return result;
    };

    if (! isPathBelow (journalFile.getFullPathName(), root.getFullPathName()))
        return fail (invalidRecord);

    Transaction transaction;
    transaction.root = root;
    transaction.journalFile = journalFile;
    transaction.resumed = true;
    auto& state = transaction.state;

    if (! readJsonFile (journalFile, transaction.journal, options.journalSizeLimit).ok
        || transaction.journal.getDynamicObject() == nullptr || transaction.journal.isArray()
        || ! transaction.journal.getProperty ("sources", {}).isArray()
        || ! readCatalogJson (transaction.journal.getProperty ("state", {}), state).ok
        || state.document.playlists.size() != 1)
        return fail (invalidRecord);

    transaction.playlist = state.document.playlists.front();
    result.playlist = transaction.playlist;

    // The journal must lie in the folder of the playlist it names.
    if (journalFile.getParentDirectory() != playlistFolder (root, transaction.playlist.id))
        return fail (invalidRecord);

    // Its sources are held to a new request's rules.
    for (const auto& source : *transaction.journal.getProperty ("sources", {}).getArray())
    {
        if (! source.isString() || ! isAcceptableSourcePath (source.toString()))
            return fail (invalidSource);

        transaction.sources.add (source.toString());
    }

    if (static_cast<size_t> (transaction.sources.size()) != transaction.playlist.rows.size())
        return fail (invalidLength);

    finish (transaction, result, options);
    return result;
}
} // namespace

CopyResult copyIntoLibrary (const juce::File& root, const std::string& playlistId, const juce::StringArray& sources,
                            const juce::StringArray& titles, const juce::File& journal, const CopyOptions& options)
{
    if (journal == juce::File())
        return startNewTransaction (root, playlistId, sources, titles, options);

    return resumeTransaction (root, journal, options);
}

bool filesMatch (const juce::File& a, const juce::File& b)
{
    const auto statusA = platform::readFileStatus (pathOf (a));
    const auto statusB = platform::readFileStatus (pathOf (b));

    if (statusA.size != statusB.size)
        return false;

    platform::FileReader readerA, readerB;

    if (readerA.open (pathOf (a)).failed() || readerB.open (pathOf (b)).failed())
        return false;

    constexpr size_t blockSize = 65536;
    const std::unique_ptr<char[]> bufferA (new char[blockSize]);
    const std::unique_ptr<char[]> bufferB (new char[blockSize]);

    for (;;)
    {
        const auto gotA = readerA.read (bufferA.get(), blockSize);
        const auto gotB = readerB.read (bufferB.get(), blockSize);

        if (gotA < 0 || gotB < 0 || gotA != gotB)
            return false;

        if (gotA == 0)
            return true;

        if (std::memcmp (bufferA.get(), bufferB.get(), static_cast<size_t> (gotA)) != 0)
            return false;
    }
}
} // namespace vantrel
