#include "platform/FileFaults.h"
#include "platform/Trash.h"
#include "support/EnvironmentVariable.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>

using namespace vantrel;
using vantrel::testing::readBytes;
using vantrel::testing::writeBytes;

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
        const std::regex record ("\\[Trash Info\\]\nPath=" + std::regex_replace (path, std::regex ("[.]"), "\\.")
                                 + "\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
        EXPECT_TRUE (std::regex_match (readBytes (juce::File (trash + "/info/" + name + ".trashinfo")), record));
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
