// The audio side's files in the profile's local folder: a save killed mid-write leaves a temporary
// sibling, and the first read (or, for the diagnostics, the first write) of each file removes the
// ones of its own targets and nothing else.
#include "audio/output/DiagnosticsWriter.h"
#include "audio/output/OutputDeviceSettingsFile.h"
#include "audio/rack/MasterVstRack.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
using namespace vantrel;

const juce::String hex32 = "0123456789abcdef0123456789abcdef";

struct LocalFile
{
    const char* target;
    std::vector<const char*> alsoOwned;   // other targets the same reader owns
    std::function<void (const juce::File& file)> readOrWrite;
};

class LocalFolderTemporaries : public ::testing::TestWithParam<int>
{
};

std::vector<LocalFile> localFiles()
{
    return {
        { "device.json", { "device-before-independent-output.json" },
          [] (const juce::File& file)
          {
              OutputDeviceSettings settings;
              readOutputDeviceSettings (file, settings);
          } },
        { "master-vst.json", {},
          [] (const juce::File& file)
          {
              // The rack clears them when it starts, before its control thread writes anything.
              MasterVstRackOptions options;
              options.standardFolders = juce::StringArray();
              MasterVstRack rack ([] { return std::int64_t { 0 }; }, options);
              rack.start (file, file.getSiblingFile ("no-worker-here"));
              rack.stop();
          } },
        { "audio-diagnostics.json", {},
          [] (const juce::File& file)
          {
              DiagnosticsWriter writer;
              writer.setPath (file);
              writer.tick (10000, [] { return DiagnosticsWriter::Build ([] { return juce::var ("diagnostics"); }); });
              writer.waitUntilIdle();
          } },
    };
}

TEST_P (LocalFolderTemporaries, TheFirstUseRemovesItsOwnStaleTemporariesAndNothingElse)
{
    const auto entry = localFiles()[static_cast<std::size_t> (GetParam())];
    const vantrel::testing::TempFolder folder;
    const auto local = folder.path();
    const juce::String target = entry.target;

    std::vector<juce::File> stale { local.getChildFile (target + ".tmp-" + hex32),
                                    local.getChildFile (target + ".tmp-ffffffffffffffffffffffffffffffff") };
    for (const auto* other : entry.alsoOwned)
        stale.push_back (local.getChildFile (juce::String (other) + ".tmp-" + hex32));

    // Names close to the writer's, files of other owners, and a folder with the writer's name.
    const std::vector<juce::File> kept { local.getChildFile (target + ".tmp-" + hex32.substring (1)),
                                         local.getChildFile (target + ".tmp-" + hex32.toUpperCase()),
                                         local.getChildFile (target + ".tmp-" + hex32 + ".x"),
                                         local.getChildFile ("preferences.json.tmp-" + hex32),
                                         local.getChildFile ("other.json.tmp-" + hex32) };
    const auto folderNamedLikeOne = local.getChildFile (target + ".tmp-aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");

    for (const auto& file : stale)
        ASSERT_TRUE (file.replaceWithText ("partial"));
    for (const auto& file : kept)
        ASSERT_TRUE (file.replaceWithText ("not ours"));
    ASSERT_TRUE (folderNamedLikeOne.createDirectory());

    entry.readOrWrite (local.getChildFile (target));

    for (const auto& file : stale)
        EXPECT_FALSE (file.exists()) << file.getFileName();
    for (const auto& file : kept)
        EXPECT_TRUE (file.existsAsFile()) << file.getFileName();
    EXPECT_TRUE (folderNamedLikeOne.isDirectory());
}

INSTANTIATE_TEST_SUITE_P (AudioLocalFiles, LocalFolderTemporaries, ::testing::Range (0, 3),
                          [] (const auto& info) { return juce::String (localFiles()[static_cast<std::size_t> (info.param)].target)
                                                      .replaceCharacters ("-.", "__").toStdString(); });
} // namespace
