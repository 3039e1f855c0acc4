// The plug-in scan with the real worker and the worker's test bundles, and a bundle that hangs
// while loading.
#include "RackTestSupport.h"

#include "audio/rack/RackTexts.h"
#include "audio/rack/Vst3BundleSearch.h"
#include "audio/rack/WorkerReplyFields.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"

#include <gtest/gtest.h>

#include <set>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

/** The classes the worker accepts from one bundle, asked directly: (uid, name). */
std::set<std::pair<juce::String, juce::String>> classesOf (const juce::File& bundle)
{
    std::set<std::pair<juce::String, juce::String>> classes;
    VstWorkerClient client;
    std::vector<juce::String> lines;
    juce::String error;

    if (client.start (realWorker(), error) && client.command ("SCAN_VST3\t" + bundle.getFullPathName(), lines, error, 7000))
        for (const auto& line : lines)
            if (line.startsWith ("CLASS\t"))
                classes.insert ({ splitReplyFields (line)[1], splitReplyFields (line)[2] });

    return classes;
}

TEST (RackScan, ListsTheAcceptedClassesOfEveryBundleAndGoesOnPastAHangingOne)
{
    // The fixture's rack scans its plug-in folder only, none of the machine's own.
    RackFixture fixture;

    for (const auto& bundle : { probeBundle(), probeBundle ("OrvaneProbeRefused"), gainBundle(), hangBundle() })
        ASSERT_TRUE (bundle.copyDirectoryTo (fixture.pluginFolder().getChildFile (bundle.getFileName()))) << bundle.getFullPathName();

    fixture.writeConfig ({});
    std::set<std::pair<juce::String, juce::String>> expected;

    for (const auto& name : { "OrvaneProbe.vst3", "OrvaneTestGain.vst3" })
    {
        const auto classes = classesOf (fixture.pluginFolder().getChildFile (name));
        ASSERT_FALSE (classes.empty()) << name;
        expected.insert (classes.begin(), classes.end());
    }

    fixture.start (realWorker());
    const auto scanStart = std::chrono::steady_clock::now();
    ASSERT_TRUE (eventually ([&] { return fixture.status().scanning || fixture.rack->catalogueGeneration() > 0; }, 60000));
    ASSERT_TRUE (fixture.waitForCatalogue (1, 60000));
    const auto scanSeconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - scanStart).count();

    const auto status = fixture.status();
    std::set<std::pair<juce::String, juce::String>> listed;
    const auto base = normalizeVstPath (fixture.pluginFolder());

    for (const auto& plugin : status.plugins)
    {
        listed.insert ({ plugin.uid, plugin.name });
        EXPECT_FALSE (plugin.duplicate);
        EXPECT_TRUE (isVstUid (plugin.uid));
        EXPECT_EQ (plugin.uid, plugin.uid.toUpperCase());
        EXPECT_TRUE (plugin.bundlePath == base + "/OrvaneProbe.vst3" || plugin.bundlePath == base + "/OrvaneTestGain.vst3");
    }

    EXPECT_EQ (listed, expected);

    // Sorted by name, ignoring case.
    for (size_t i = 1; i < status.plugins.size(); ++i)
        EXPECT_LE (status.plugins[i - 1].name.compareIgnoreCase (status.plugins[i].name), 0);

    // The refused bundle and the hanging one (after its 7 s deadline) are excluded.
    EXPECT_GE (scanSeconds, 7.0);
    EXPECT_EQ (status.scanTotal, 4);
    EXPECT_EQ (status.scanDone, status.scanTotal);
    EXPECT_FALSE (status.scanning);
    EXPECT_EQ (status.message, rackText::scanSummary (expected.size(), 2));

    EXPECT_TRUE (zombieChildren().empty());
}

TEST (RackScan, TheStandardFoldersAndTheSearchFoldersAreEachScannedOnce)
{
    RackFixture fixture;
    TempFolder standard ("rack-standard");
    ASSERT_TRUE ((standard / "FakeGainL64.vst3").createDirectory());
    fixture.addBundle ("FakeGain");
    fixture.options.standardFolders = juce::StringArray { standard.path().getFullPathName(), normalizeVstPath (fixture.pluginFolder()) };
    fixture.writeConfig ({});   // the plug-in folder is the search folder as well
    fixture.start();
    ASSERT_TRUE (fixture.waitForCatalogue());

    const auto status = fixture.status();
    EXPECT_EQ (status.scanTotal, 2);
    std::set<juce::String> bundles;

    for (const auto& plugin : status.plugins)
        bundles.insert (plugin.bundlePath);

    EXPECT_EQ (bundles, (std::set<juce::String> { normalizeVstPath (standard / "FakeGainL64.vst3"),
                                                  normalizeVstPath (fixture.pluginFolder().getChildFile ("FakeGain.vst3")) }));
}
TEST (RackScan, AConfiguredPluginWhoseBundleCrashedOrHungInTheScanSaysSo)
{
    // Slot 1's plug-in is named like the crashing bundle; slot 2's like none, so it names every
    // bundle that failed. The hanging bundle fails at the scan's 7 s deadline.
    RackFixture fixture;
    for (const auto& bundle : { crashBundle(), hangBundle(), gainBundle() })
        ASSERT_TRUE (bundle.copyDirectoryTo (fixture.pluginFolder().getChildFile (bundle.getFileName()))) << bundle.getFullPathName();
    auto crashing = slotWith ("0123456789ABCDEF0123456789ABCDEF", true, "00");
    crashing.name = "Orvane Probe Crash";
    auto unknown = slotWith ("FEDCBA9876543210FEDCBA9876543210", true);
    unknown.name = "Reverb Deluxe";
    fixture.writeConfig (crashing, unknown);
    const auto before = fixture.stored();

    fixture.start (realWorker());
    ASSERT_TRUE (fixture.waitForCatalogue (1, 120000));
    const auto status = fixture.status();
    ASSERT_EQ (status.plugins.size(), 1u);   // the gain plug-in

    const auto crashed = juce::String ("OrvaneProbeCrash.vst3: ") + workerText::exited;
    const auto hung = juce::String ("OrvaneProbeHang.vst3: ") + workerText::timeout;
    EXPECT_TRUE (status.slots[0].message.startsWith (rackText::text (rackText::failedInScan) + crashed)) << status.slots[0].message;
    EXPECT_TRUE (status.slots[0].failedInScan);
    const auto& listing = status.slots[1].message;
    EXPECT_TRUE (listing.startsWith (rackText::text (rackText::missingAfterScanFailures))) << listing;
    EXPECT_TRUE (listing.contains (crashed) && listing.contains (hung)) << listing;
    EXPECT_FALSE (status.slots[1].failedInScan);
    for (const auto& slot : status.slots)
        EXPECT_FALSE (slot.loaded);
    EXPECT_TRUE (fixture.rack->needsAttention());

    // In English the whole reason is English, the bundle and the failure as they stand.
    setUiLanguage (true);
    const auto english = translateMessage (status.slots[0].message);
    setUiLanguage (false);
    EXPECT_EQ (english, "This plug-in failed to load in the VST3 scan. Saved settings retained: " + crashed);

    // The settings are kept for the day the bundle loads again.
    ASSERT_TRUE (fixture.rack->saveAndWait().ok);
    EXPECT_TRUE (fixture.stored() == before);
}
} // namespace
