#include "app/LibraryCopies.h"

#include "app/JobPool.h"
#include "app/JobResults.h"
#include "app/SessionSaves.h"
#include "platform/DurableFile.h"
#include "session/LibraryPaths.h"
#include "session/UiText.h"

#include <cerrno>

namespace vantrel
{
LibraryCopies::LibraryCopies (const juce::File& dataRoot, AfterCopy after, JobPool& jobPool,
                              JobResults& jobResults, const SessionSaves& sessionSaves)
    : root (dataRoot),
      afterCopy (std::move (after)),
      pool (jobPool),
      results (jobResults),
      saves (sessionSaves)
{
}

void LibraryCopies::start (const std::string& playlistId, const juce::StringArray& files, const juce::StringArray& names)
{
    pool.addJob ([this, playlistId, files, names] { run (playlistId, files, names, {}); });
}

void LibraryCopies::resumeJournals()
{
    for (const auto& journal : root.getChildFile ("playlists").findChildFiles (juce::File::findFiles, true,
                                                                               "pending-copy-*.json"))
        pool.addJob ([this, journal] { run ({}, {}, {}, journal); });
}

void LibraryCopies::run (const std::string& playlistId, const juce::StringArray& files, const juce::StringArray& names,
                         const juce::File& journal)
{
    CopyOptions copyOptions;
    copyOptions.afterCopy = afterCopy;
    results.postLibraryCopy (copyIntoLibrary (root, playlistId, files, names, journal, copyOptions));
}

bool LibraryCopies::finish (const std::function<bool (const CopyResult&)>& merge,
                            const std::function<void (const juce::String&)>& alert)
{
    results.takeLibraryCopies (pending);

    bool finished = false;
    for (auto entry = pending.begin(); entry != pending.end();)
    {
        if (entry->message.isNotEmpty())
        {
            alert (entry->message);
            entry = pending.erase (entry);
            continue;
        }

        if (entry->saveTicket == 0)
        {
            if (! merge (*entry))
            {
                ++entry;
                continue;
            }
            entry->saveTicket = saves.lastTicket();
        }

        // The journal is the only record of the copy until a save holding its rows is on disk.
        if (saves.lastSavedTicket() < entry->saveTicket)
        {
            ++entry;
            continue;
        }

        const auto removed = platform::removeDurably (entry->journal.getFullPathName().toStdString());
        if (removed.failed() && removed.code != ENOENT)
        {
            alert (translate ("コピーの確定記録を保持しています"));
            ++entry;
            continue;
        }

        entry = pending.erase (entry);
        finished = true;
    }
    return finished;
}

bool LibraryCopies::isRowOfFile (const Row& row, const juce::String& key)
{
    const auto text = juce::String::fromUTF8 (row.source.c_str());
    const auto file = isAbsolutePathText (text) ? juce::File (text) : juce::File();
    return file != juce::File() && libraryPathKey (file) == key;
}

bool LibraryCopies::isFileNamedByWaitingCopy (const juce::String& key) const
{
    for (const auto& copy : pending)
        if (copy.saveTicket == 0 && copy.message.isEmpty())
            for (const auto& row : copy.playlist.rows)
                if (isRowOfFile (row, key))
                    return true;
    return false;
}
} // namespace vantrel
