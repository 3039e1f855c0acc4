// Walking the VST3 folders for bundles: nesting, links, limits and duplicates.
#include "RackTestSupport.h"

#include "audio/rack/Vst3BundleSearch.h"
#include "audio/rack/VstPaths.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

const auto never = [] { return false; };

std::vector<juce::String> bundlesIn (const juce::StringArray& folders, int& excluded)
{
    return findVst3Bundles (folders, never, excluded).paths();
}

TEST (Vst3BundleSearch, FindsBundlesAtAnyDepthButNotInsideABundleOrThroughLinks)
{
    TempFolder folder ("bundle-search");
    const auto root = folder.path();
    const auto base = normalizeVstPath (root);

    ASSERT_TRUE ((folder / "A.vst3/Contents/Inner.vst3").createDirectory());   // found once, as A
    ASSERT_TRUE ((folder / "vendor/sub/B.VST3").createDirectory());             // any case of the extension
    ASSERT_TRUE ((folder / ".hidden/H.vst3").createDirectory());                // hidden folders are walked
    ASSERT_TRUE ((folder / "single-file.vst3").replaceWithText ("x"));          // a file with the extension too
    ASSERT_TRUE ((folder / "elsewhere/L.vst3").createDirectory());
    ASSERT_TRUE ((folder / "elsewhere/L.vst3").createSymbolicLink (folder / "linked.vst3", true));
    ASSERT_TRUE ((folder / "elsewhere").createSymbolicLink (folder / "linked-folder", true));

    // Depth 12 is walked, depth 13 is not.
    juce::String deep;

    for (int depth = 1; depth <= 13; ++depth)
    {
        deep += "/d" + juce::String (depth);
        ASSERT_TRUE ((folder / (deep.substring (1) + "/At" + juce::String (depth) + ".vst3")).createDirectory());
    }

    int excluded = 0;
    const auto found = findVst3Bundles ({ root.getFullPathName() }, never, excluded).paths();
    juce::StringArray names;

    for (const auto& path : found)
        names.add (path.fromFirstOccurrenceOf (base + "/", false, false));

    names.sort (false);
    juce::StringArray expected { "A.vst3", "vendor/sub/B.VST3", ".hidden/H.vst3", "single-file.vst3", "elsewhere/L.vst3" };
    deep.clear();

    for (int depth = 1; depth <= 12; ++depth)
    {
        deep += "d" + juce::String (depth) + "/";
        expected.add (deep + "At" + juce::String (depth) + ".vst3");
    }

    expected.sort (false);
    EXPECT_EQ (names, expected);
    EXPECT_EQ (excluded, 0);

    // A search folder that is itself a bundle is that bundle.
    EXPECT_EQ (bundlesIn ({ (folder / "A.vst3").getFullPathName() }, excluded), std::vector<juce::String> { base + "/A.vst3" });
}

TEST (Vst3BundleSearch, TheSameBundleThroughTwoFoldersIsListedOnce)
{
    TempFolder folder ("bundle-search");
    ASSERT_TRUE ((folder / "outer/inner/X.vst3").createDirectory());
    ASSERT_TRUE ((folder / "outer/inner/x.vst3").createDirectory());   // another bundle on this system

    int excluded = 0;
    const auto found = bundlesIn ({ (folder / "outer").getFullPathName(), (folder / "outer/inner").getFullPathName(),
                                    (folder / "outer/../outer/inner").getFullPathName() }, excluded);
    EXPECT_EQ (found.size(), 2u);
}

TEST (Vst3BundleSearch, AFolderStopsAfter4999EntriesAndCountsAsExcluded)
{
    TempFolder folder ("bundle-search");
    const auto crowded = folder / "crowded";
    ASSERT_TRUE (crowded.createDirectory());

    for (int i = 0; i < 6000; ++i)
        ASSERT_TRUE (crowded.getChildFile ("P" + juce::String (i) + ".vst3").createDirectory());

    ASSERT_TRUE ((folder / "quiet/Q.vst3").createDirectory());

    int excluded = 0;
    const auto found = bundlesIn ({ crowded.getFullPathName(), (folder / "quiet").getFullPathName() }, excluded);
    EXPECT_EQ (found.size(), 4999u + 1u);
    EXPECT_EQ (excluded, 1);
}

TEST (Vst3BundleSearch, MissingFoldersAddNothingAndCancellationStops)
{
    TempFolder folder ("bundle-search");
    ASSERT_TRUE ((folder / "a/One.vst3").createDirectory());
    ASSERT_TRUE ((folder / "b/Two.vst3").createDirectory());

    int excluded = 0;
    EXPECT_TRUE (bundlesIn ({ (folder / "nothing-here").getFullPathName() }, excluded).empty());

    int asked = 0;
    const auto cancelAfterOne = [&] { return ++asked > 2; };
    const auto found = findVst3Bundles ({ (folder / "a").getFullPathName(), (folder / "b").getFullPathName() }, cancelAfterOne, excluded);
    EXPECT_EQ (found.paths().size(), 1u);
    EXPECT_EQ (excluded, 0);
}

TEST (Vst3BundleSearch, DefaultFoldersAreTheSystemsVst3Locations)
{
    struct Case
    {
        const char* home;
        juce::StringArray folders;
    };

    const Case cases[] = {
        { "/home/operator", { "/home/operator/.vst3", "/usr/lib/vst3", "/usr/local/lib/vst3" } },
        { "/root/", { "/root/.vst3", "/usr/lib/vst3", "/usr/local/lib/vst3" } },
        { "", { "/usr/lib/vst3", "/usr/local/lib/vst3" } },
        { "relative/home", { "/usr/lib/vst3", "/usr/local/lib/vst3" } },
    };

    for (const auto& c : cases)
        EXPECT_EQ (defaultVst3Folders (c.home), c.folders) << c.home;

    // Without an argument, this process's home folder.
    EXPECT_EQ (defaultVst3Folders(), defaultVst3Folders (juce::SystemStats::getEnvironmentVariable ("HOME", {})));
}
} // namespace
