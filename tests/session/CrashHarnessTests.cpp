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
#include <random>
#include <sstream>
#include <thread>

using namespace vantrel;
using namespace vantrel::testing;

// The crash harness runs this test binary again as a child process that saves random states
// in a loop through the save worker and the store, and kills it (SIGKILL) at random moments.
// The child reports on its standard output, one line each:
//   LOADED <ok> <recoveryRequired> <fingerprint>   after its start-up load
//   SUBMIT <seed>                                   before handing generateState(seed) over
//   SAVED <seed> <ok>                                after waitIdle, for the newest state

namespace
{
const char* const childRootVariable = "VANTREL_CRASH_CHILD_ROOT";
const char* const childSeedVariable = "VANTREL_CRASH_CHILD_SEED";

size_t fingerprint (const CatalogState& state)
{
    return std::hash<std::string>() (sessionJsonText (catalogToJson (state)).toStdString());
}

void report (const std::string& line)
{
    std::fputs ((line + "\n").c_str(), stdout);
    std::fflush (stdout);
}

[[noreturn]] void runCrashChild (const char* rootPath, uint64_t baseSeed)
{
    CatalogStore store { juce::File (juce::String::fromUTF8 (rootPath)) };
    CatalogState state;
    const auto loaded = store.load (state);
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
            runCrashChild (root, std::strtoull (std::getenv (childSeedVariable), nullptr, 10));
    }
};

[[maybe_unused]] auto* const crashChildEnvironment = ::testing::AddGlobalTestEnvironment (new CrashChildEnvironment);

struct ChildReport
{
    bool loadedReported = false;
    bool loadedOk = false;
    bool loadedRecoveryRequired = false;
    size_t loadedFingerprint = 0;
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

    std::mt19937 random (20240611);
    CatalogState confirmed;   // the state on disk before the current child: a fresh root at first
    int killedDuringLoad = 0;
    int loadedNewest = 0;
    int loadedPrevious = 0;

    for (int iteration = 1; iteration <= kills; ++iteration)
    {
        SCOPED_TRACE ("kill " + std::to_string (iteration));
        const uint64_t baseSeed = static_cast<uint64_t> (iteration);

        platform::ChildProcess child;
        ASSERT_TRUE (child.start (executable, { "--gtest_filter=CrashHarness.*" },
                                  { std::string (childRootVariable) + "=" + root.getFullPathName().toStdString(),
                                    std::string (childSeedVariable) + "=" + std::to_string (baseSeed),
                                    "HOME=" + home.getFullPathName().toStdString(),
                                    "XDG_DATA_HOME=" + home.getChildFile ("data").getFullPathName().toStdString() }));

        std::string output;
        const bool killEarly = random() % 5 == 0;   // during start-up and the journal completion

        if (! killEarly)
            while (output.find ("LOADED") == std::string::npos && child.readOutput (output, 1000)) {}

        std::this_thread::sleep_for (std::chrono::microseconds (random() % (killEarly ? 15000 : 25000)));
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
        copy.deleteRecursively();

        ASSERT_EQ (result, StoreResult::success()) << output;
        ASSERT_FALSE (store.recoveryRequired.load());

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

    std::cout << kills << " kills: " << loadedNewest << " loaded a state in flight, " << loadedPrevious
              << " the previous one, " << killedDuringLoad << " killed before their start-up load ended\n";
    EXPECT_GT (loadedNewest, 0);
    EXPECT_GT (loadedPrevious, 0);
}
