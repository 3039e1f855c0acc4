#include "platform/Reveal.h"
#include "support/TestFiles.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

using namespace vantrel;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;

namespace
{
/** Checks the condition every millisecond until it holds or a starved machine's patience ran out. */
template <typename Condition>
bool eventually (Condition condition)
{
    return vantrel::testing::waitUntil (condition, std::chrono::minutes (2));
}

/** The pids of this process's children, zombies included ("pid (name) state ppid ..." in /proc). */
std::set<std::string> childProcesses()
{
    namespace fs = std::filesystem;
    const auto self = fs::read_symlink ("/proc/self").string();
    std::set<std::string> children;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator ("/proc", error))
    {
        std::string line, state, parent;
        if (std::getline (std::ifstream (entry.path() / "stat"), line) && line.rfind (')') != std::string::npos
            && (std::istringstream (line.substr (line.rfind (')') + 1)) >> state >> parent) && parent == self)
            children.insert (entry.path().filename().string());
    }
    return children;
}
} // namespace

TEST (Reveal, TheOpenerGetsTheFolderAsItsOnlyArgumentNoShellReadsItAndNothingIsLeftBehind)
{
    vantrel::testing::TempFolder scratch ("reveal");
    const auto injected = juce::File::getCurrentWorkingDirectory().getChildFile ("x");
    ASSERT_FALSE (injected.exists());
    struct Case { const char* folder; const char* revealed; bool opens; };   // revealed: a file in it, or the folder
    const Case cases[] { { "a$(touch x)b", "take.wav", true }, { "say \"hi\"", "", true }, { "one;touch x", "take.wav", true },
                         { "  spaced  out ", "take.wav", true }, { "-rf", "", true }, { "`touch x`'", "", true },
                         { "gone", "take.wav", false }, { "no opener", "", false } };
    int n = 0;
    for (const auto& c : cases)
    {
        const auto place = scratch / juce::String (++n);
        const auto folder = place.getChildFile (juce::String::fromUTF8 (c.folder));
        const auto record = place.getChildFile ("argv");
        const auto revealed = *c.revealed == 0 ? folder : folder.getChildFile (c.revealed);
        ASSERT_TRUE (juce::String (c.folder) == "gone" || (folder.createDirectory() && (revealed == folder || writeBytes (revealed, "take"))));
        // The opener writes each of its arguments followed by a NUL, in one go.
        const auto opener = place.getChildFile (juce::String (c.folder) == "no opener" ? "missing" : "opener");
        const auto path = record.getFullPathName().toStdString();
        writeBytes (place.getChildFile ("opener"), "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + path
                                                       + ".part' && mv '" + path + ".part' '" + path + "'\n");
        place.getChildFile ("opener").setExecutePermission (true);
        const auto before = childProcesses();

        ASSERT_EQ (platform::revealInFileManager (revealed, opener.getFullPathName().toStdString()), c.opens) << c.folder;
        if (c.opens)
        {
            ASSERT_TRUE (eventually ([&] { return record.existsAsFile(); })) << c.folder;
            EXPECT_EQ (readBytes (record), folder.getFullPathName().toStdString() + std::string (1, '\0')) << c.folder;
        }
        EXPECT_TRUE (eventually ([&] { return childProcesses() == before; })) << c.folder;   // ended and reaped
        EXPECT_FALSE (injected.exists() || place.getChildFile ("x").exists() || folder.getChildFile ("x").exists()) << c.folder;
    }
    EXPECT_FALSE (platform::revealInFileManager (scratch.path(), "vantrel-no-such-opener-on-path"));
}
