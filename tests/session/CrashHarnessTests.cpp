#include "session/CatalogStore.h"
#include "session/SaveQueue.h"
#include "session/SessionDocuments.h"

#include "platform/ChildProcess.h"
#include "StateGenerator.h"
#include "StoreFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace vantrel;
using namespace vantrel::testing;

// The crash harness runs this test binary again as a child process that saves random states
// in a loop through the save worker and the store, and kills it (SIGKILL). Some kills land at
// random moments; the others at a chosen point, where the child waits to be killed: at the
// start of its nth save, after a step of that save, or after its nth report of a finished save.
// The child reports on its standard output, one line each:
//   LOADED <ok> <recoveryRequired> <fingerprint>   after its start-up load
//   SUBMIT <seed>                                   before handing generateState(seed) over
//   SAVED <seed> <ok>                                after waitIdle, for the newest state
//   PAUSED <fingerprint>                             waiting at the chosen point; the fingerprint
//                                                    of the state that must be on disk there

namespace
{
const char* const childRootVariable = "VANTREL_CRASH_CHILD_ROOT";
const char* const childSeedVariable = "VANTREL_CRASH_CHILD_SEED";
const char* const childPauseVariable = "VANTREL_CRASH_CHILD_PAUSE";   // "<point> <n>"

/** Where a child waits to be killed. */
enum class PausePoint
{
    none,                // killed at a random moment
    saveStarting,        // before the nth save writes anything: the previous save's state stays
    journalWritten,      // after a step of the nth save: that save's state is the one kept
    splitFilesWritten,
    snapshotWritten,
    journalRemoved,
    reportedDone         // after the nth SAVED report: the confirmed state stays
};

const char* const pausePointNames[] = { "none", "saveStarting", "journalWritten", "splitFilesWritten",
                                        "snapshotWritten", "journalRemoved", "reportedDone" };

PausePoint pausePointNamed (const std::string& name)
{
    for (size_t i = 0; i < std::size (pausePointNames); ++i)
        if (name == pausePointNames[i])
            return static_cast<PausePoint> (i);

    return PausePoint::none;
}

size_t fingerprint (const CatalogState& state)
{
    return std::hash<std::string>() (sessionJsonText (catalogToJson (state)).toStdString());
}

void report (const std::string& line)
{
    std::fputs ((line + "\n").c_str(), stdout);
    std::fflush (stdout);
}

[[noreturn]] void waitToBeKilled (size_t stateOnDisk)
{
    report ("PAUSED " + std::to_string (stateOnDisk));

    for (;;)
        std::this_thread::sleep_for (std::chrono::hours (1));
}

/** The real store, which waits to be killed at the chosen point of its nth save. */
class PausingStore : public CatalogStore
{
public:
    PausingStore (const juce::File& root, PausePoint point, int saveNumber)
        : CatalogStore (root), pausePoint (point), pauseAtSave (saveNumber)
    {
    }

    StoreResult save (const CatalogState& state) override
    {
        if (++saves == pauseAtSave && pausePoint == PausePoint::saveStarting)
            waitToBeKilled (lastSaved);

        auto result = CatalogStore::save (state);

        if (result.ok)
            lastSaved = fingerprint (state);

        return result;
    }

    size_t lastSaved = 0;   // the state that the last completed save wrote (or that was loaded)

protected:
    void saveStepDone (SaveStep step, const CatalogState& state) override
    {
        if (saves == pauseAtSave && pausePoint == pauseAfter (step))
            waitToBeKilled (fingerprint (state));
    }

private:
    static PausePoint pauseAfter (SaveStep step)
    {
        switch (step)
        {
            case SaveStep::journalWritten:    return PausePoint::journalWritten;
            case SaveStep::splitFilesWritten: return PausePoint::splitFilesWritten;
            case SaveStep::snapshotWritten:   return PausePoint::snapshotWritten;
            case SaveStep::journalRemoved:    return PausePoint::journalRemoved;
        }

        return PausePoint::none;
    }

    const PausePoint pausePoint;
    const int pauseAtSave;
    int saves = 0;
};

[[noreturn]] void runCrashChild (const char* rootPath, uint64_t baseSeed, PausePoint pausePoint, int pauseAt)
{
    PausingStore store { juce::File (juce::String::fromUTF8 (rootPath)), pausePoint, pauseAt };
    CatalogState state;
    const auto loaded = store.load (state);
    store.lastSaved = fingerprint (state);
    report ("LOADED " + std::to_string (loaded.ok) + " " + std::to_string (store.recoveryRequired.load()) + " "
            + std::to_string (fingerprint (state)));

    std::mt19937 random (static_cast<uint32_t> (baseSeed));
    SaveQueue queue (&store);

    for (uint64_t i = 1; i < 100000; ++i)
    {
        const auto burst = 1 + random() % 3;
        uint64_t seed = 0;

        for (uint64_t b = 0; b < burst; ++b)
        {
            seed = baseSeed * 1000000 + i * 10 + b;
            const auto playlists = 1 + static_cast<int> (random() % 4);
            const auto rows = 4 + static_cast<int> (random() % 24);
            auto next = generateState (seed, playlists, rows);
            report ("SUBMIT " + std::to_string (seed));
            queue.submit (std::move (next));
        }

        const auto ok = queue.waitIdle();
        report ("SAVED " + std::to_string (seed) + " " + std::to_string (ok));

        if (pausePoint == PausePoint::reportedDone && static_cast<int> (i) == pauseAt)
            waitToBeKilled (store.lastSaved);
    }

    std::_Exit (3);
}

/** In the child, takes over before any test runs. */
class CrashChildEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (const char* root = std::getenv (childRootVariable))
        {
            std::istringstream pause (std::getenv (childPauseVariable));
            std::string point;
            int pauseAt = 0;
            pause >> point >> pauseAt;
            runCrashChild (root, std::strtoull (std::getenv (childSeedVariable), nullptr, 10), pausePointNamed (point), pauseAt);
        }
    }
};

[[maybe_unused]] auto* const crashChildEnvironment = ::testing::AddGlobalTestEnvironment (new CrashChildEnvironment);

struct ChildReport
{
    bool loadedReported = false;
    bool loadedOk = false;
    bool loadedRecoveryRequired = false;
    size_t loadedFingerprint = 0;
    std::optional<size_t> pausedWith;   // the state that must be on disk where the child waited
    std::vector<uint64_t> submitted;   // in order
    std::optional<uint64_t> lastConfirmed;   // the newest state that a SAVED line confirmed
    int failedSaves = 0;
};

ChildReport parseReport (const std::string& output)
{
    ChildReport parsed;
    std::istringstream lines (output);
    std::string line;

    while (std::getline (lines, line))
    {
        std::istringstream words (line);
        std::string word;
        words >> word;

        if (word == "LOADED")
        {
            parsed.loadedReported = true;
            words >> parsed.loadedOk >> parsed.loadedRecoveryRequired >> parsed.loadedFingerprint;
        }
        else if (word == "PAUSED")
        {
            size_t expected = 0;
            if (words >> expected)
                parsed.pausedWith = expected;
        }
        else if (word == "SUBMIT")
        {
            uint64_t seed = 0;
            if (words >> seed)
                parsed.submitted.push_back (seed);
        }
        else if (word == "SAVED")
        {
            uint64_t seed = 0;
            bool ok = false;
            if (! (words >> seed >> ok))
                continue;

            if (ok)
                parsed.lastConfirmed = seed;
            else
                ++parsed.failedSaves;
        }
    }

    return parsed;
}

/** The state that a child rebuilds from a seed, with the same shape parameters it drew. */
std::map<uint64_t, CatalogState> candidatesOf (const ChildReport& report, uint64_t baseSeed)
{
    // The child draws the shape of each state from its own generator; replay it.
    std::mt19937 random (static_cast<uint32_t> (baseSeed));
    std::map<uint64_t, CatalogState> states;
    size_t index = 0;

    for (uint64_t i = 1; index < report.submitted.size() && i <= report.submitted.size(); ++i)
    {
        const auto burst = 1 + random() % 3;

        for (uint64_t b = 0; b < burst; ++b)
        {
            const auto seed = baseSeed * 1000000 + i * 10 + b;
            const auto playlists = 1 + static_cast<int> (random() % 4);
            const auto rows = 4 + static_cast<int> (random() % 24);

            if (index < report.submitted.size() && report.submitted[index] == seed)
            {
                states.emplace (seed, generateState (seed, playlists, rows));
                ++index;
            }
        }
    }

    return states;
}
} // namespace

TEST (CrashHarness, AKilledSaverAlwaysLeavesTheNewestOrThePreviousState)
{
    constexpr int kills = 220;
    TempFolder folder;
    const auto root = folder / "music";
    const auto home = folder / "home";
    home.createDirectory();
    const auto executable = platform::ChildProcess::currentExecutable();
    ASSERT_FALSE (executable.empty());

    // One kill in three lands at a random moment; the others at each chosen point in turn.
    const std::vector<PausePoint> schedule { PausePoint::none, PausePoint::saveStarting, PausePoint::journalWritten,
                                             PausePoint::none, PausePoint::splitFilesWritten, PausePoint::snapshotWritten,
                                             PausePoint::none, PausePoint::journalRemoved, PausePoint::reportedDone };

    std::mt19937 random (20240611);
    CatalogState confirmed;   // the state on disk before the current child: a fresh root at first
    int killedDuringLoad = 0;
    int loadedNewest = 0;
    int loadedPrevious = 0;
    int killedAtAChosenPoint = 0;

    for (int iteration = 1; iteration <= kills; ++iteration)
    {
        const auto pausePoint = schedule[static_cast<size_t> (iteration) % schedule.size()];
        const auto pauseAt = 1 + static_cast<int> (random() % 4);
        SCOPED_TRACE ("kill " + std::to_string (iteration) + " " + pausePointNames[static_cast<int> (pausePoint)] + " "
                      + std::to_string (pauseAt));
        const uint64_t baseSeed = static_cast<uint64_t> (iteration);

        platform::ChildProcess child;
        ASSERT_TRUE (child.start (executable, { "--gtest_filter=CrashHarness.*" },
                                  { std::string (childRootVariable) + "=" + root.getFullPathName().toStdString(),
                                    std::string (childSeedVariable) + "=" + std::to_string (baseSeed),
                                    std::string (childPauseVariable) + "=" + pausePointNames[static_cast<int> (pausePoint)]
                                        + " " + std::to_string (pauseAt),
                                    "HOME=" + home.getFullPathName().toStdString(),
                                    "XDG_DATA_HOME=" + home.getChildFile ("data").getFullPathName().toStdString() }));

        std::string output;

        if (pausePoint == PausePoint::none)
        {
            // A random moment, during start-up and the journal completion now and then.
            const bool killEarly = random() % 5 == 0;

            if (! killEarly)
                while (output.find ("LOADED") == std::string::npos && child.readOutput (output, 1000)) {}

            std::this_thread::sleep_for (std::chrono::microseconds (random() % (killEarly ? 15000 : 25000)));
        }
        else
        {
            while (output.find ("PAUSED") == std::string::npos && child.readOutput (output, 1000)) {}
            ASSERT_NE (output.find ("PAUSED"), std::string::npos) << "the child ended without reaching its point:\n" << output;
            ++killedAtAChosenPoint;
        }

        child.kill();

        while (child.readOutput (output, 1000)) {}
        EXPECT_TRUE (child.waitUntilEnded()) << "the child ended before it was killed:\n" << output;

        const auto report = parseReport (output);
        EXPECT_EQ (report.failedSaves, 0) << output;

        if (! report.loadedReported)
            ++killedDuringLoad;
        else
        {
            EXPECT_TRUE (report.loadedOk);
            EXPECT_FALSE (report.loadedRecoveryRequired);
            EXPECT_EQ (report.loadedFingerprint, fingerprint (confirmed));
        }

        // The states that may be on disk: the last confirmed one and every one submitted after it.
        auto states = candidatesOf (report, baseSeed);
        std::vector<std::pair<uint64_t, const CatalogState*>> allowed;
        const CatalogState* previous = &confirmed;

        for (const auto seed : report.submitted)
        {
            if (report.lastConfirmed && seed <= *report.lastConfirmed)
            {
                if (seed == *report.lastConfirmed)
                    previous = &states.at (seed);

                continue;
            }

            allowed.push_back ({ seed, &states.at (seed) });
        }

        // Load a copy, so that the next child finds the folder exactly as the kill left it.
        const auto copy = folder / ("check-" + std::to_string (iteration)).c_str();
        ASSERT_TRUE (! root.exists() || root.copyDirectoryTo (copy));

        CatalogStore store (copy);
        CatalogState loaded;
        const auto result = store.load (loaded);
        const auto leftOver = temporaryFiles (copy);
        copy.deleteRecursively();

        ASSERT_EQ (result, StoreResult::success()) << output;
        ASSERT_FALSE (store.recoveryRequired.load());
        EXPECT_TRUE (leftOver.empty()) << "a temporary file of the killed save outlived the load: " << leftOver.front();

        // Where the child waited, exactly the state it said must be there.
        if (report.pausedWith)
        {
            EXPECT_EQ (fingerprint (loaded), *report.pausedWith) << output;
        }

        if (pausePoint == PausePoint::reportedDone)
        {
            EXPECT_EQ (loaded, *previous);
        }

        if (loaded == *previous)
        {
            ++loadedPrevious;
            confirmed = *previous;
            continue;
        }

        bool found = false;
        for (const auto& [seed, state] : allowed)
        {
            if (loaded == *state)
            {
                found = true;
                confirmed = *state;
                ++loadedNewest;
            }
        }

        ASSERT_TRUE (found) << "the loaded state is none of the states submitted since the last confirmed save";
    }

    std::cout << kills << " kills (" << killedAtAChosenPoint << " at a chosen point): " << loadedNewest
              << " loaded a state in flight, " << loadedPrevious << " the previous one, " << killedDuringLoad
              << " killed before their start-up load ended\n";

    // The chosen points bring about both outcomes whatever the timing of the random kills.
    EXPECT_GT (loadedNewest, 0);
    EXPECT_GT (loadedPrevious, 0);
}
