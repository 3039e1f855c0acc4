#include "SessionTestSupport.h"

#include "app/ProfileFolder.h"
#include "app/StartupReport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{
using namespace vantrel;

// Which folder holds the saved data: the current version's, the previous one's when only it
// exists, and a refusal whenever two versions exist or anything on the way is not a plain folder.
TEST (ProfileFolder, PicksTheOneVersionThatExistsAndRefusesEverythingElse)
{
    struct Case { const char* name; std::vector<const char*> folders; std::vector<const char*> files;
                  std::vector<std::pair<const char*, const char*>> links; ProfileFolderStatus status; const char* chosen; };
    const Case cases[] = {
        { "fresh machine", {}, {}, {}, ProfileFolderStatus::ok, "Vantrel/Ver1" },
        { "current only", { "Vantrel/Ver1/music" }, {}, {}, ProfileFolderStatus::ok, "Vantrel/Ver1" },
        { "previous only", { "Vantrel_Lumaro/Ver1C5/local" }, {}, {}, ProfileFolderStatus::ok, "Vantrel_Lumaro/Ver1C5" },
        { "both", { "Vantrel/Ver1", "Vantrel_Lumaro/Ver1C5" }, {}, {}, ProfileFolderStatus::bothVersionsExist, "" },
        { "a file named music", { "Vantrel/Ver1" }, { "Vantrel/Ver1/music" }, {}, ProfileFolderStatus::cannotVerify, "" },
        { "a file named local in the previous", { "Vantrel_Lumaro/Ver1C5" }, { "Vantrel_Lumaro/Ver1C5/local" }, {}, ProfileFolderStatus::cannotVerify, "" },
        { "product folder is a file", {}, { "Vantrel" }, {}, ProfileFolderStatus::cannotVerify, "" },
        { "version folder is a file", { "Vantrel" }, { "Vantrel/Ver1" }, {}, ProfileFolderStatus::cannotVerify, "" },
        { "version folder is a link", { "elsewhere", "Vantrel" }, {}, { { "Vantrel/Ver1", "elsewhere" } }, ProfileFolderStatus::cannotVerify, "" },
        { "product folder is a link", { "elsewhere" }, {}, { { "Vantrel_Lumaro", "elsewhere" } }, ProfileFolderStatus::cannotVerify, "" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        vantrel::testing::TempFolder temp;
        const auto base = temp.path();
        for (auto* f : c.folders)
            ASSERT_TRUE (base.getChildFile (f).createDirectory());
        for (auto* f : c.files)
            ASSERT_TRUE (base.getChildFile (f).replaceWithText ("x"));
        for (const auto& [link, target] : c.links)
            ASSERT_TRUE (base.getChildFile (target).createSymbolicLink (base.getChildFile (link), true));
        const auto result = resolveProfileFolder (base);
        EXPECT_EQ (result.status, c.status);
        EXPECT_EQ (result.path, c.status == ProfileFolderStatus::ok ? base.getChildFile (c.chosen) : juce::File());
    }
    EXPECT_EQ (resolveProfileFolder ({}).status, ProfileFolderStatus::cannotVerify);
    EXPECT_EQ (resolveProfileFolder (juce::File ("/nonexistent-base-of-a-test")).status, ProfileFolderStatus::cannotVerify);
}

// A data home that does not exist yet is made, with its missing parents, owner-only; one that
// exists keeps its mode; one that cannot be made says where and why.
TEST (ProfileFolder, MakesAMissingDataHomeOwnerOnlyAndSaysWhyWhenItCannot)
{
    namespace fs = std::filesystem;
    struct Case { const char* name; const char* dataHome; std::vector<const char*> folders; const char* file;
                  std::vector<const char*> made; const char* problemNames; };
    const Case cases[] = {
        { "fresh account", "home/.local/share", { "home" }, nullptr, { "home/.local", "home/.local/share" }, nullptr },
        { "deep and missing", "a/b/c", {}, nullptr, { "a", "a/b", "a/b/c" }, nullptr },
        { "already there", "home/.local/share", { "home/.local/share" }, nullptr, {}, nullptr },
        { "a file in its place", "home/.local/share", { "home/.local" }, "home/.local/share", {}, "home/.local/share'" },
        { "a file in a parent's place", "home/.local/share", { "home" }, "home/.local", {}, "home/.local'" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        vantrel::testing::TempFolder temp;
        for (auto* f : c.folders)
        {
            ASSERT_TRUE (temp.path().getChildFile (f).createDirectory());
            fs::permissions (temp.path().getChildFile (f).getFullPathName().toStdString(), fs::perms (0755));
        }
        if (c.file != nullptr)
        {
            ASSERT_TRUE (temp.path().getChildFile (c.file).replaceWithText ("x"));
        }
        const auto base = temp.path().getChildFile (c.dataHome);
        const auto problem = createMissingDataHome (base);
        if (c.problemNames != nullptr)
        {
            EXPECT_TRUE (problem.contains (temp.path().getChildFile (c.problemNames).getFullPathName())) << problem;
            EXPECT_TRUE (problem.contains ("a file is in the place of the folder")) << problem;
            EXPECT_EQ (temp.path().getChildFile (c.file).loadFileAsString(), "x");
            EXPECT_EQ (resolveProfileFolder (base).status, ProfileFolderStatus::cannotVerify);
            continue;
        }
        EXPECT_TRUE (problem.isEmpty()) << problem;
        EXPECT_EQ (resolveProfileFolder (base).status, ProfileFolderStatus::ok);
        for (auto* m : c.made)
            EXPECT_EQ (fs::status (temp.path().getChildFile (m).getFullPathName().toStdString()).permissions(),
                       fs::perms::owner_all) << m;
        for (auto* f : c.folders)
            EXPECT_EQ (fs::status (temp.path().getChildFile (f).getFullPathName().toStdString()).permissions(),
                       fs::perms (0755)) << f << " was changed";
    }
    EXPECT_TRUE (createMissingDataHome ({}).contains ("HOME"));
}

TEST (StartupReport, HoldsItsTwentyKeysInTheirOrder)
{
    test::SessionRig rig;
    auto session = rig.make();
    StartupFacts facts;
    facts.windowCreated = true;
    facts.systemSoundsError = "none";
    const auto report = startupReport (*session, facts);
    juce::StringArray keys;
    for (const auto& property : report.getDynamicObject()->getProperties())
        keys.add (property.name.toString());
    EXPECT_EQ (keys.joinIntoString (","),
               "application,version,windowCreated,english,profileRoot,audioOpened,actualOutput,keyboardEdgeFilter,"
               "powerRequest,automaticPlayback,physicalAudibility,status,sampleRate,bufferSamples,"
               "reportedOutputLatencySamples,dspLatencySamples,systemSoundsGuardRunning,systemSoundsReady,"
               "systemSoundsMutedSessions,systemSoundsError");
    EXPECT_EQ (report["profileRoot"].toString(), rig.music().getFullPathName());
    EXPECT_FALSE ((bool) report["audioOpened"]);
    EXPECT_EQ (report["actualOutput"].toString(), "");
    EXPECT_EQ ((int) report["dspLatencySamples"], 192);
}
} // namespace
