#include "session/AtomicFileWriter.h"

#include "platform/DurableFile.h"
#include "platform/FileStatus.h"
#include "platform/RandomName.h"
#include "session/StoredJson.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace vantrel
{
namespace
{
std::atomic<int64_t> sizeLimit { defaultJsonFileSizeLimit };

juce::String utf8 (const char* text)  { return juce::String::fromUTF8 (text); }

std::string pathOf (const juce::File& file)  { return file.getFullPathName().toStdString(); }

bool isFileNotFolder (const platform::FileStatus& status)  { return status.exists && ! status.isDirectory; }

bool holdsExactly (const std::string& path, const platform::FileStatus& status, const std::string& bytes)
{
    bool same = false;
    return isFileNotFolder (status) && status.size == static_cast<int64_t> (bytes.size())
        && ! platform::fileHoldsExactly (path, bytes, same).failed() && same;
}

/** Makes "name.bak" hold the bytes that `target` (a file) holds now: a second name of the same
    file, committed by a rename (the writers never change a file in place, they replace it), or a
    copy where the target is no regular file (a symbolic link's file may be another program's) or
    the file system has no second names. */
StoreResult renewBackupOf (const juce::File& target)
{
    const auto path = pathOf (target);
    const auto backup = target.getSiblingFile (target.getFileName() + ".bak");
    const auto linkPath = pathOf (backup) + ".tmp-" + platform::randomHex32();

    if (! platform::linkFile (path, linkPath).failed())
    {
        const auto committed = platform::renameDurably (linkPath, pathOf (backup));
        // A backup that already was this very file is not replaced, and the new name remains.
        platform::removeQuietly (linkPath);

        if (committed.failed())
            return StoreResult::failure (utf8 ("保存の確定に失敗しました: ") + backup.getFileName());

        return StoreResult::success();
    }

    std::string previous;

    if (platform::readWholeFile (path, previous).failed())
        return StoreResult::failure (utf8 ("保存データを読めません: ") + target.getFileName());

    return writeBytesAtomically (backup, previous, false, noFileSizeLimit);
}

/** The writer on bytes: the backup holds the target's previous bytes exactly, whatever they are.
    A write that may be given up goes in pieces, asking before each and before every later step. */
StoreResult writeBytes (const juce::File& target, const std::string& bytes, bool makeBackup, int64_t maxBytes,
                        const std::function<bool()>& givenUp)
{
    const auto name = target.getFileName();
    const auto path = pathOf (target);

    if (static_cast<uint64_t> (bytes.size()) > static_cast<uint64_t> (maxBytes))
        return StoreResult::failure (utf8 ("保存データが大きすぎるため保存できません: ") + name);

    // Unchanged: nothing to write, no backup.
    if (holdsExactly (path, platform::readFileStatus (path), bytes))
        return StoreResult::success();

    // The folder chain.
    if (const auto error = platform::createFolderChain (pathOf (target.getParentDirectory())); error.failed())
        return StoreResult::failure (juce::String::fromUTF8 (error.text.c_str()));

    // The temporary sibling, written and forced to the disk.
    const auto tempPath = path + ".tmp-" + platform::randomHex32();
    auto fail = [&tempPath] (const juce::String& message)
    {
        platform::removeQuietly (tempPath);
        return StoreResult::failure (message);
    };

    const auto isGivenUp = [&givenUp] { return givenUp != nullptr && givenUp(); };
    const auto givenUpMessage = utf8 ("保存を中止しました");

    {
        platform::DurableFile temp;

        if (const auto error = temp.create (tempPath); error.failed())
            return fail (utf8 ("一時保存に失敗しました"));

        const auto piece = givenUp != nullptr ? givenUpCheckBytes : std::max<size_t> (bytes.size(), 1);
        size_t offset = 0;

        do
        {
            if (isGivenUp())
                return fail (givenUpMessage);

            const auto size = std::min (piece, bytes.size() - offset);

            if (const auto error = temp.write (bytes.data() + offset, size); error.failed())
                return fail (utf8 ("一時保存に失敗しました"));

            offset += size;
        }
        while (offset < bytes.size());

        if (isGivenUp())
            return fail (givenUpMessage);

        if (const auto error = temp.sync(); error.failed())
            return fail (utf8 ("一時保存のflush/readbackに失敗しました"));

        if (const auto error = temp.close(); error.failed())
            return fail (juce::String::fromUTF8 (error.text.c_str()));
    }

    if (isGivenUp())
        return fail (givenUpMessage);

    // Read back: the bytes on the disk must be the bytes given.
    if (bool same = false; platform::fileHoldsExactly (tempPath, bytes, same).failed() || ! same)
        return fail (utf8 ("一時保存のflush/readbackに失敗しました"));

    // JSON self-check, by name: every target that does not end in ".bak" receives JSON that
    //    readJsonFile accepts. The file holds exactly these bytes (read back above). Plain JSON text
    //    (what the program writes) passes a quick scan; anything else goes through the full parse.
    if (! target.getFileExtension().equalsIgnoreCase (".bak") && ! isPlainJsonText (bytes))
    {
        juce::var parsed;

        if (parseStoredJson (bytes, parsed).failed())
            return fail (utf8 ("保存JSON自己検証に失敗しました"));
    }

    if (isGivenUp())
        return fail (givenUpMessage);

    // Backup of the previous bytes, renewed before the commit.
    if (makeBackup && isFileNotFolder (platform::readFileStatus (path)))
        if (const auto backup = renewBackupOf (target); ! backup.ok)
            return fail (backup.message);

    // Commit: rename over the target, then force the folder to the disk.
    if (platform::renameDurably (tempPath, path).failed())
        return fail (utf8 ("保存の確定に失敗しました: ") + name);

    // Re-read the committed file.
    if (bool same = false; platform::fileHoldsExactly (path, bytes, same).failed() || ! same)
        return StoreResult::failure (utf8 ("確定後の再読込に失敗しました"));

    return StoreResult::success();
}

} // namespace

StoreResult writeBytesAtomically (const juce::File& target, const std::string& bytes, bool makeBackup, int64_t maxBytes)
{
    return writeBytes (target, bytes, makeBackup, maxBytes, nullptr);
}

StoreResult writeBytesAtomicallyUnlessGivenUp (const juce::File& target, const std::string& bytes, bool makeBackup,
                                               const std::function<bool()>& givenUp)
{
    return writeBytes (target, bytes, makeBackup, jsonFileSizeLimit(), givenUp);
}

StoreResult writeBytesAtomicallyUnlessGivenUp (const juce::File& target, const std::string& bytes, bool makeBackup,
                                               int64_t maxBytes, const std::function<bool()>& givenUp)
{
    return writeBytes (target, bytes, makeBackup, maxBytes, givenUp);
}

StoreResult moveWrittenFileAtomically (const juce::File& written, const juce::File& target, const std::string& bytes)
{
    const auto path = pathOf (target);
    const auto before = platform::readFileStatus (path);

    if (holdsExactly (path, before, bytes))
        return StoreResult::success();

    if (isFileNotFolder (before))
        if (const auto backup = renewBackupOf (target); ! backup.ok)
            return backup;

    if (platform::renameDurably (pathOf (written), path).failed())
        return StoreResult::failure (utf8 ("保存の確定に失敗しました: ") + target.getFileName());

    if (bool same = false; platform::fileHoldsExactly (path, bytes, same).failed() || ! same)
        return StoreResult::failure (utf8 ("確定後の再読込に失敗しました"));

    return StoreResult::success();
}

StoreResult writeBytesAtomically (const juce::File& target, const std::string& bytes, bool makeBackup)
{
    return writeBytesAtomically (target, bytes, makeBackup, jsonFileSizeLimit());
}

int64_t jsonFileSizeLimit()
{
    return sizeLimit.load();
}

ScopedJsonFileSizeLimit::ScopedJsonFileSizeLimit (int64_t limit)
    : previous (sizeLimit.exchange (limit))
{
}

ScopedJsonFileSizeLimit::~ScopedJsonFileSizeLimit()
{
    sizeLimit.store (previous);
}

StoreResult writeFileAtomically (const juce::File& target, const juce::String& text, bool makeBackup)
{
    return writeFileAtomically (target, text, makeBackup, jsonFileSizeLimit());
}

StoreResult writeFileAtomically (const juce::File& target, const juce::String& text, bool makeBackup, int64_t maxBytes)
{
    const std::string bytes (text.toRawUTF8(), text.getNumBytesAsUTF8());
    return writeBytesAtomically (target, bytes, makeBackup, maxBytes);
}

juce::String targetOfTemporaryName (const juce::String& fileName)
{
    constexpr int hexDigits = 32;
    const juce::String marker (".tmp-");
    const auto markerAt = fileName.length() - hexDigits - marker.length();

    if (markerAt <= 0 || fileName.substring (markerAt, markerAt + marker.length()) != marker
        || ! fileName.substring (markerAt + marker.length()).containsOnly ("0123456789abcdef"))
        return {};

    return fileName.substring (0, markerAt);
}

int removeStaleTemporaryFiles (const juce::File& folder, const std::function<bool (const juce::String& targetName)>& isOwnTarget)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator entries (fs::path (pathOf (folder)), error);
    std::vector<std::string> stale;

    for (const fs::directory_iterator end; ! error && entries != end; entries.increment (error))
    {
        std::error_code typeError;

        // Links and folders are never ours, whatever their names.
        if (! entries->is_regular_file (typeError) || entries->is_symlink (typeError))
            continue;

        const auto name = juce::String::fromUTF8 (entries->path().filename().c_str());
        const auto target = targetOfTemporaryName (name);

        if (target.isNotEmpty() && isOwnTarget (target))
            stale.push_back (entries->path().string());
    }

    for (const auto& path : stale)
        platform::removeQuietly (path);

    return static_cast<int> (stale.size());
}

StoreResult readJsonFile (const juce::File& file, juce::var& out)
{
    return readJsonFile (file, out, jsonFileSizeLimit());
}

StoreResult readJsonFile (const juce::File& file, juce::var& out, int64_t maxBytes)
{
    const auto name = file.getFileName();
    const auto unreadable = StoreResult::failure (utf8 ("保存データを読めません: ") + name);
    const auto path = pathOf (file);
    const auto status = platform::readFileStatus (path);

    if (! isFileNotFolder (status) || status.size > maxBytes)
        return unreadable;

    std::string bytes;

    if (platform::readWholeFile (path, bytes, maxBytes).failed())
        return unreadable;

    juce::var parsed;
    const auto parse = parseStoredJson (bytes, parsed);

    if (parse.failed())
        return StoreResult::failure (utf8 ("JSON破損: ") + name + " / " + parse.getErrorMessage());

    out = std::move (parsed);
    return StoreResult::success();
}
} // namespace vantrel
