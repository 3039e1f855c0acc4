#include "platform/DurableFile.h"

#include "platform/FileFaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace vantrel;
using vantrel::testing::TempFolder;

// The comparison of a file with the bytes it should hold, as the atomic writer's read-backs use
// it: in pieces of 1 MiB, so the cases straddle a piece's end.
TEST (FileHoldsExactly, AnswersWhetherTheFileHoldsExactlyTheBytes)
{
    const std::string large (3 * 1024 * 1024 + 17, 'x');
    auto changedAt = [&large] (size_t at) { auto bytes = large; bytes[at] = 'y'; return bytes; };

    const struct
    {
        const char* what;
        std::string onDisk, expected;
        bool same;
    } cases[] {
        { "both empty", "", "", true },
        { "equal", "{\"a\": 1}", "{\"a\": 1}", true },
        { "equal over several pieces", large, large, true },
        { "differs in the first piece", changedAt (5), large, false },
        { "differs at a piece's end", changedAt (1024 * 1024 - 1), large, false },
        { "differs in the last byte", changedAt (large.size() - 1), large, false },
        { "shorter file", large.substr (0, large.size() - 1), large, false },
        { "longer file", large + "z", large, false },
        { "empty file, bytes expected", "", "x", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        TempFolder folder;
        const auto file = folder / "f.json";
        vantrel::testing::writeBytes (file, c.onDisk);
        ASSERT_EQ (file.getSize(), static_cast<juce::int64> (c.onDisk.size()));

        bool same = ! c.same;
        const auto error = platform::fileHoldsExactly (file.getFullPathName().toStdString(), c.expected, same);
        EXPECT_FALSE (error.failed()) << error.text;
        EXPECT_EQ (same, c.same);
    }
}

TEST (FileHoldsExactly, AMissingFileAFolderAndAnInjectedFaultFail)
{
    TempFolder folder;
    bool same = true;
    EXPECT_EQ (platform::fileHoldsExactly ((folder / "missing").getFullPathName().toStdString(), "", same).code, ENOENT);
    EXPECT_FALSE (same);

    same = true;
    EXPECT_EQ (platform::fileHoldsExactly (folder.path().getFullPathName().toStdString(), "", same).code, EISDIR);
    EXPECT_FALSE (same);

    const auto file = folder / "f.json";
    ASSERT_TRUE (file.replaceWithText ("[]"));
    platform::ScopedFileFaults seam;
    platform::FileFaults::arm (platform::FileFault { 1, EIO, platform::FileOp::readFile, {}, {} });
    same = true;
    EXPECT_EQ (platform::fileHoldsExactly (file.getFullPathName().toStdString(), "[]", same).code, EIO);
    EXPECT_FALSE (same);
    EXPECT_TRUE (platform::FileFaults::fired());
}
