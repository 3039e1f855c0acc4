#include "platform/FileFaults.h"
#include "platform/Trash.h"
#include "support/EnvironmentVariable.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cctype>
#include <filesystem>

using namespace vantrel;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;

namespace
{
/** Whether `text` is `pattern` where every '0' of the pattern stands for one decimal digit. */
bool matchesDigitPattern (const std::string& text, const std::string& pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (pattern[i] == '0' ? ! std::isdigit (static_cast<unsigned char> (text[i])) : text[i] != pattern[i])
            return false;
    return true;
}
} // namespace

TEST (Trash, MovedFilesGetFreeNamesAndRecordsOfTheirPathsInFoldersMadeWhenMissing)
{
    vantrel::testing::TempFolder scratch ("trash");
    const auto trash = (scratch / "data/Trash").getFullPathName().toStdString();
    for (int n = 1; n <= 3; ++n)
    {
        const auto file = scratch / ("from " + juce::String (n) + "/Take #1 \xc3\xbc.wav");
        ASSERT_TRUE (file.getParentDirectory().createDirectory() && writeBytes (file, "take " + std::to_string (n)));
        std::string error;
        ASSERT_TRUE (platform::moveToTrashAt (file.getFullPathName().toStdString(), trash, error)) << error;
        EXPECT_FALSE (file.exists());

        const auto name = std::string ("Take #1 \xc3\xbc.wav") + (n == 1 ? "" : "." + std::to_string (n));
        EXPECT_EQ (readBytes (juce::File (trash + "/files/" + name)), "take " + std::to_string (n));
        const auto path = (scratch.path().getFullPathName() + "/from%20" + juce::String (n) + "/Take%20%231%20%C3%BC.wav").toStdString();
        const std::string head = "[Trash Info]\nPath=" + path + "\nDeletionDate=";
        const auto record = readBytes (juce::File (trash + "/info/" + name + ".trashinfo"));
        EXPECT_EQ (record.substr (0, head.size()), head);
        EXPECT_TRUE (record.size() >= head.size() && matchesDigitPattern (record.substr (head.size()), "0000-00-00T00:00:00\n"))
            << record;
    }
    const auto permissions = std::filesystem::status (trash).permissions();
    EXPECT_EQ (permissions & std::filesystem::perms::all, std::filesystem::perms::owner_all);
}

TEST (Trash, AFailedMoveKeepsTheFileAndLeavesNoRecord)
{
    // A file where a folder goes, or a rename that fails after the record was written (as it
    // does across file systems).
    for (const char* blocked : { "Trash", "Trash/files", "Trash/info", "" })
    {
        vantrel::testing::TempFolder scratch ("trash");
        platform::ScopedFileFaults faults;
        const auto file = scratch / "take.wav";
        ASSERT_TRUE (writeBytes (file, "take"));
        (scratch / "Trash/files").createDirectory();
        (scratch / "Trash/info").createDirectory();
        if (*blocked == 0)
            platform::FileFaults::arm ({ 1, EXDEV, platform::FileOp::renameFile, "/Trash/files/", "" });
        else if (! (scratch / blocked).deleteRecursively() || ! writeBytes (scratch / blocked, "a file where a folder goes"))
            FAIL();

        std::string error;
        EXPECT_FALSE (platform::moveToTrashAt (file.getFullPathName().toStdString(), (scratch / "Trash").getFullPathName().toStdString(), error)) << blocked;
        EXPECT_TRUE (*blocked != 0 || platform::FileFaults::fired());
        EXPECT_EQ (readBytes (file), "take") << blocked;
        EXPECT_FALSE ((scratch / "Trash/info/take.wav.trashinfo").exists()) << blocked;
    }
}

TEST (Trash, TheHomeTrashFollowsTheDataHomeVariable)
{
    const char* previous = std::getenv ("XDG_DATA_HOME");
    const std::string kept = previous != nullptr ? previous : "";
    ASSERT_TRUE (platform::setEnvironmentVariable ("XDG_DATA_HOME", "/srv/data-home"));
    EXPECT_EQ (platform::homeTrashFolder(), "/srv/data-home/Trash");
    platform::setEnvironmentVariable ("XDG_DATA_HOME", kept);
}
