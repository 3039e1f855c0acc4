#include "LibraryFixtures.h"

#include "support/ForkedProcess.h"
#include "session/CopyTransaction.h"
#include "session/FileSignature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <random>
#include <set>
#include <thread>

using namespace vantrel;
using namespace vantrel::librarytest;

namespace
{
using Clock = std::chrono::steady_clock;

/** The copy journals of one playlist folder. */
juce::Array<juce::File> journalsIn (const juce::File& playlistFolder)
{
    return playlistFolder.findChildFiles (juce::File::findFiles, false, "pending-copy-*.json");
}

/** Runs `body` in a child that is killed after `delay` unless it ended first; true when killed. */
bool runAndKill (const std::function<int()>& body, std::chrono::microseconds delay)
{
    platform::ForkedProcess child;

    if (! child.start (body))
        return false;

    std::this_thread::sleep_for (delay);
    child.kill();
    const auto end = child.wait();
    return ! end.exited;
}

/** Options whose copy waits to be killed once its nth copy has reached its temporary file
    (verified, not yet renamed), after saying so in `marker`. Meant for a forked child. */
CopyOptions pauseAtCopy (int n, const juce::File& marker)
{
    CopyOptions options;
    options.afterCopy = [n, marker, copies = 0] (const juce::File&, const juce::File&) mutable
    {
        if (++copies != n)
            return;

        writeBytes (marker, "paused");

        for (;;)
            std::this_thread::sleep_for (std::chrono::hours (1));
    };
    return options;
}

/** Runs `body` in a child and kills it once `marker` appears; true when it was killed there,
    false when the body ended first. */
bool runAndKillAtMarker (const std::function<int()>& body, const juce::File& marker)
{
    marker.deleteFile();
    const auto ended = marker.getSiblingFile (marker.getFileName() + "-ended");
    ended.deleteFile();
    platform::ForkedProcess child;

    if (! child.start ([&body, &ended] { const auto code = body(); writeBytes (ended, "ended"); return code; }))
        return false;

    const bool reached = eventually ([&] { return marker.existsAsFile() || ended.existsAsFile(); }) && marker.existsAsFile();
    child.kill();
    child.wait();
    return reached;
}

/** What the audio folder holds between kills: every file named after a row (a destination) holds
    exactly its source's bytes, the others are temporary files of an interrupted copy. Answers the
    number of destinations present. */
int checkAudioFolder (const juce::File& audio, const std::map<juce::String, uint64_t>& expectedByName)
{
    int destinations = 0;

    for (const auto& file : audio.findChildFiles (juce::File::findFiles, false, "*"))
    {
        const auto found = expectedByName.find (file.getFileName());

        if (found == expectedByName.end())
        {
            EXPECT_TRUE (file.getFileName().contains ("_temp")) << file.getFullPathName();
            continue;
        }

        EXPECT_EQ (fileHash (file), found->second) << "partial or foreign destination " << file.getFullPathName();
        ++destinations;
    }

    return destinations;
}
} // namespace

TEST (CopyKillHarness, AResumeAfterAKillAtAnyMomentFinishesWithIdenticalCopies)
{
    ScratchFolder scratch ("kill");
    std::mt19937 random (20240611u);
    juce::StringArray sources, titles;
    std::vector<uint64_t> sourceHashes;

    for (int i = 0; i < 20; ++i)
    {
        const auto file = scratch.path().getChildFile ("src/track" + juce::String (i) + (i % 4 == 0 ? ".MP3" : ".wav"));
        const auto size = 8192 + static_cast<size_t> (random() % 90000);
        writeBytes (file, patternBytes (size, static_cast<uint32_t> (i + 1)));
        sources.add (file.getFullPathName());
        titles.add ("Track " + juce::String (i));
        sourceHashes.push_back (fileHash (file));
    }

    auto copyInChild = [&] (const juce::File& root, const juce::File& journal, const CopyOptions& options = {})
    {
        return [&sources, &titles, root, journal, options]
        {
            const auto result = journal == juce::File() ? copyIntoLibrary (root, "pl", sources, titles, {}, options)
                                                        : copyIntoLibrary (root, {}, {}, {}, journal, options);
            return result.message.isEmpty() ? 0 : 1;
        };
    };
    const auto marker = scratch.path().getChildFile ("paused");

    // How long an uninterrupted copy takes here (the median of a few), so that the kills spread
    // over all of it.
    std::vector<Clock::duration> durations;

    for (int i = 0; i < 7; ++i)
    {
        const auto root = scratch.path().getChildFile ("calibrate" + juce::String (i));
        platform::ForkedProcess child;
        const auto start = Clock::now();
        ASSERT_TRUE (child.start (copyInChild (root, {})));
        const auto end = child.wait();
        durations.push_back (Clock::now() - start);
        ASSERT_TRUE (end.exited);
        ASSERT_EQ (end.exitCode, 0);
        root.deleteRecursively();
    }

    std::sort (durations.begin(), durations.end());
    auto window = std::chrono::duration_cast<std::chrono::microseconds> (durations[durations.size() / 2]);
    std::cout << "[ harness  ] uninterrupted copies (us):";

    for (const auto d : durations)
        std::cout << " " << std::chrono::duration_cast<std::chrono::microseconds> (d).count();

    std::cout << std::endl;
    auto pickDelay = [&] { return std::uniform_int_distribution<int64_t> (0, window.count()) (random); };
    int kills = 0, beforeJournal = 0, midCopy = 0, afterComplete = 0, resumesKilled = 0, leftovers = 0;
    int killedAtACopy = 0;
    constexpr int iterations = 160;

    // Every other run is killed at a random moment; the others once their nth copy reached its
    // temporary file, so that stops in mid-copy happen whatever the timing.
    for (int iteration = 0; iteration < iterations; ++iteration)
    {
        const bool atACopy = iteration % 2 == 1;
        const auto pauseAt = 1 + static_cast<int> (random() % 20);
        SCOPED_TRACE ("run " + std::to_string (iteration) + (atACopy ? " killed at copy " + std::to_string (pauseAt) : " killed at random"));
        const auto root = scratch.path().getChildFile ("run" + juce::String (iteration));
        const auto playlistFolder = root.getChildFile ("playlists/pl");

        if (atACopy)
        {
            ASSERT_TRUE (runAndKillAtMarker (copyInChild (root, {}, pauseAtCopy (pauseAt, marker)), marker));
            ++killedAtACopy;
        }
        else if (runAndKill (copyInChild (root, {}), std::chrono::microseconds (pickDelay())))
            ++kills;
        else
            window = window * 9 / 10;   // this disk copies faster now: keep the kills inside the copy

        auto journals = journalsIn (playlistFolder);
        ASSERT_LE (journals.size(), 1);
        ASSERT_TRUE (! atACopy || journals.size() == 1);

        if (journals.isEmpty())
        {
            // Stopped before its journal existed: nothing may have been copied.
            ++beforeJournal;
            const auto audio = playlistFolder.getChildFile ("audio");
            EXPECT_TRUE (! audio.exists() || audio.findChildFiles (juce::File::findFiles, false).isEmpty());
            continue;
        }

        const auto journal = journals.getFirst();
        juce::var json;
        ASSERT_TRUE (juce::JSON::parse (juce::String::fromUTF8 (readBytes (journal).c_str()), json).wasOk());
        const bool complete = json["complete"].isBool() && static_cast<bool> (json["complete"]);
        ++(complete ? afterComplete : midCopy);

        // The destinations that the journal names, with the hash each must have.
        std::map<juce::String, uint64_t> expected;
        const auto* rows = json["state"]["playlists"][0]["rows"].getArray();
        ASSERT_NE (rows, nullptr);
        ASSERT_EQ (rows->size(), 20);

        for (int i = 0; i < 20; ++i)
            expected[juce::File ((*rows)[i]["source"].toString()).getFileName()] = sourceHashes[static_cast<size_t> (i)];

        const auto audio = playlistFolder.getChildFile ("audio");
        const auto presentBefore = checkAudioFolder (audio, expected);
        std::map<juce::String, std::string> destinationsBefore;

        for (const auto& file : audio.findChildFiles (juce::File::findFiles, false, "*"))
            if (expected.count (file.getFileName()) > 0)
                destinationsBefore[file.getFileName()] = readBytes (file);

        if (atACopy)
        {
            // Stopped with pauseAt - 1 copies in place and the next one under its temporary name.
            EXPECT_FALSE (complete);
            EXPECT_EQ (presentBefore, pauseAt - 1);
            EXPECT_EQ (audio.findChildFiles (juce::File::findFiles, false, "*_temp*").size(), 1);
        }

        // Now and then the resume is killed as well: at its first copy, or at a random moment.
        if (! complete && iteration % 4 == 1)
        {
            resumesKilled += runAndKillAtMarker (copyInChild (root, journal, pauseAtCopy (1, marker)), marker) ? 1 : 0;
            checkAudioFolder (audio, expected);
        }
        else if (! complete && iteration % 4 == 0)
        {
            resumesKilled += runAndKill (copyInChild (root, journal), std::chrono::microseconds (pickDelay())) ? 1 : 0;
            checkAudioFolder (audio, expected);
        }

        const auto result = copyIntoLibrary (root, {}, {}, {}, journal);
        ASSERT_TRUE (result.message.isEmpty()) << result.message;
        ASSERT_EQ (result.playlist.rows.size(), 20u);

        for (size_t i = 0; i < 20; ++i)
        {
            const auto& row = result.playlist.rows[i];
            const juce::File copy (juce::String (row.source));
            const auto signature = readFileSignature (copy);
            EXPECT_EQ (fileHash (copy), sourceHashes[i]) << row.source;
            EXPECT_EQ (row.bytes, static_cast<uint64_t> (signature.size));
            EXPECT_EQ (row.modified, signature.modified.toMilliseconds());
        }

        EXPECT_EQ (checkAudioFolder (audio, expected), 20);
        EXPECT_GE (20, presentBefore);

        // A destination that existed before the resume is the same file with the same bytes.
        for (const auto& [name, bytes] : destinationsBefore)
            EXPECT_EQ (readBytes (audio.getChildFile (name)), bytes) << name;

        // The resume removed what the stops left under temporary names.
        const auto temporaries = audio.findChildFiles (juce::File::findFiles, false, "*_temp*");
        leftovers += temporaries.size();
        EXPECT_TRUE (temporaries.isEmpty()) << temporaries.getFirst().getFullPathName();
        juce::var completed;
        ASSERT_TRUE (juce::JSON::parse (juce::String::fromUTF8 (readBytes (journal).c_str()), completed).wasOk());
        EXPECT_EQ (completed["complete"], juce::var (true));
        root.deleteRecursively();
    }

    std::cout << "[ harness  ] " << iterations << " runs, " << killedAtACopy << " killed at a copy, " << kills
              << " at random (+" << resumesKilled << " resumes killed): " << beforeJournal << " before the journal, "
              << midCopy << " mid-copy, " << afterComplete << " after completion; " << leftovers
              << " temporary files left; window " << window.count() << " us" << std::endl;

    EXPECT_EQ (killedAtACopy, iterations / 2);
    EXPECT_GE (midCopy, killedAtACopy);   // each of those is a stop in the middle of the copying
}
