// "master-vst.json": what the writer emits, what the reader accepts, and every damaged form it
// refuses.
#include "RackTestSupport.h"

#include "audio/rack/RackConfigFile.h"
#include "audio/rack/VstPaths.h"

#include <gtest/gtest.h>

namespace
{
using namespace vantrel;
using namespace vantrel::rack_testing;

const juce::String uidA = "0123456789ABCDEF0123456789ABCDEF";

RackConfigContents sampleContents()
{
    RackConfigContents contents;
    contents.slots[0] = { uidA, "Comp", "Vendor A", "1.2", "00ff10", true };
    contents.slots[1] = { "", ja ("イコライザー"), "B", "", "", false };   // an empty slot
    contents.searchFolders = { "/opt/vst3", "/home/show/VST3 Plug-ins" };
    return contents;
}

/** A valid file text with one member replaced (slot members as "slot0.<key>"). */
juce::String textWith (const juce::String& key, const juce::var& value)
{
    auto root = juce::JSON::parse (rackConfigText (sampleContents()));

    if (key.startsWith ("slot0."))
        root["slots"][0].getDynamicObject()->setProperty (key.fromFirstOccurrenceOf (".", false, false), value);
    else if (key.startsWith ("slot1."))
        root["slots"][1].getDynamicObject()->setProperty (key.fromFirstOccurrenceOf (".", false, false), value);
    else
        root.getDynamicObject()->setProperty (key, value);

    return juce::JSON::toString (root);
}

juce::var array (std::initializer_list<juce::var> items)
{
    juce::Array<juce::var> list;

    for (const auto& item : items)
        list.add (item);

    return list;
}

TEST (RackConfigFile, WritesMultiLineJsonInTheFixedOrderAndReadsItBack)
{
    TempFolder folder ("rack-config");
    const auto file = folder / "master-vst.json";
    const auto contents = sampleContents();

    ASSERT_TRUE (writeRackConfig (file, contents).ok);
    const auto text = file.loadFileAsString();
    EXPECT_TRUE (text.containsChar ('\n'));

    int last = -1;

    for (const auto* key : { "\"schema\"", "\"searchFolders\"", "\"slots\"", "\"uid\"", "\"name\"", "\"vendor\"",
                             "\"version\"", "\"enabled\"", "\"stateHex\"" })
    {
        const auto at = text.indexOf (key);
        EXPECT_GT (at, last) << key;
        last = at;
    }

    RackConfigContents read;
    ASSERT_EQ (readRackConfig (file, read), RackConfigRead::loaded);
    EXPECT_TRUE (read == contents);

    // The second write keeps the first as the backup.
    auto changed = contents;
    changed.slots[0].enabled = false;
    ASSERT_TRUE (writeRackConfig (file, changed).ok);
    EXPECT_EQ ((folder / "master-vst.json.bak").loadFileAsString(), text);
}

TEST (RackConfigFile, AMissingFileLeavesTheDefaults)
{
    TempFolder folder ("rack-config");
    RackConfigContents read;
    read.searchFolders.add ("/kept");
    EXPECT_EQ (readRackConfig (folder / "master-vst.json", read), RackConfigRead::missing);
    EXPECT_EQ (read.searchFolders, juce::StringArray { "/kept" });
}

TEST (RackConfigFile, DamagedFormsAreRefusedAndChangeNothing)
{
    juce::StringArray seventeen;

    for (int i = 0; i < 17; ++i)
        seventeen.add ("/f" + juce::String (i));

    juce::Array<juce::var> seventeenVar;

    for (const auto& f : seventeen)
        seventeenVar.add (f);

    const std::pair<const char*, juce::String> cases[] = {
        { "schema 2", textWith ("schema", 2) },
        { "schema as text", textWith ("schema", "1") },
        { "schema missing", textWith ("schema", juce::var()) },
        { "17 folders", textWith ("searchFolders", seventeenVar) },
        { "relative folder", textWith ("searchFolders", array ({ "plugins/vst3" })) },
        { "home-relative folder", textWith ("searchFolders", array ({ "~/vst3" })) },
        { "folder with a tab", textWith ("searchFolders", array ({ "/a\tb" })) },
        { "folder not a text", textWith ("searchFolders", array ({ 5 })) },
        { "folders not an array", textWith ("searchFolders", "/opt") },
        { "one slot", textWith ("slots", array ({ juce::JSON::parse (rackConfigText (sampleContents()))["slots"][0] })) },
        { "slots not an array", textWith ("slots", juce::var()) },
        { "slot not an object", textWith ("slots", array ({ 1, 2 })) },
        { "enabled 1", textWith ("slot0.enabled", 1) },
        { "enabled missing", textWith ("slot0.enabled", juce::var()) },
        { "uid of 31 digits", textWith ("slot0.uid", uidA.dropLastCharacters (1)) },
        { "uid not hex", textWith ("slot0.uid", uidA.replace ("A", "G")) },
        { "uid a number", textWith ("slot0.uid", 12345) },
        { "empty uid enabled", textWith ("slot1.enabled", true) },
        { "empty uid with state", textWith ("slot1.stateHex", "00") },
        { "state of odd length", textWith ("slot0.stateHex", "abc") },
        { "state not hex", textWith ("slot0.stateHex", "zz") },
        { "state an object", textWith ("slot0.stateHex", juce::var (new juce::DynamicObject())) },
        { "not JSON", "{ \"schema\": 1, " },
        { "an array", "[1, 2]" },
        { "empty file", "" },
    };

    TempFolder folder ("rack-config");
    const auto file = folder / "master-vst.json";

    for (const auto& [name, text] : cases)
    {
        ASSERT_TRUE (vantrel::testing::writeBytes (file, text.toStdString())) << name;
        auto read = sampleContents();
        read.slots[0].name = "untouched";
        EXPECT_EQ (readRackConfig (file, read), RackConfigRead::damaged) << name;
        EXPECT_EQ (read.slots[0].name, "untouched") << name;
    }

    // A folder where the file should be, and a file over the size limit.
    file.deleteFile();
    ASSERT_TRUE (file.createDirectory());
    RackConfigContents read;
    EXPECT_EQ (readRackConfig (file, read), RackConfigRead::damaged);
    ASSERT_TRUE (file.deleteRecursively());

    const auto big = rackConfigText (sampleContents()) + juce::String::repeatedString (" ", (int) maxRackConfigBytes);
    ASSERT_TRUE (vantrel::testing::writeBytes (file, big.toStdString()));
    EXPECT_EQ (readRackConfig (file, read), RackConfigRead::damaged);
}

TEST (RackConfigFile, LenientWhereTheFormatAllows)
{
    TempFolder folder ("rack-config");
    const auto file = folder / "master-vst.json";

    // A lower-case uid, free texts of any kind, exact duplicate folders merged, 16 folders.
    juce::Array<juce::var> sixteen;

    for (int i = 0; i < 15; ++i)
        sixteen.add ("/f" + juce::String (i));

    sixteen.add ("/f0");
    auto root = juce::JSON::parse (textWith ("searchFolders", sixteen));
    root["slots"][0].getDynamicObject()->setProperty ("uid", uidA.toLowerCase());
    root["slots"][0].getDynamicObject()->setProperty ("version", 3);
    root["slots"][1].getDynamicObject()->removeProperty ("name");
    ASSERT_TRUE (file.replaceWithText (juce::JSON::toString (root)));

    RackConfigContents read;
    ASSERT_EQ (readRackConfig (file, read), RackConfigRead::loaded);
    EXPECT_EQ (read.slots[0].uid, uidA.toLowerCase());
    EXPECT_EQ (read.slots[0].version, "3");
    EXPECT_EQ (read.slots[1].name, "");
    EXPECT_EQ (read.searchFolders.size(), 15);

    // Paths differing only in case are different folders here.
    ASSERT_TRUE (file.replaceWithText (textWith ("searchFolders", array ({ "/VST", "/vst" }))));
    ASSERT_EQ (readRackConfig (file, read), RackConfigRead::loaded);
    EXPECT_EQ (read.searchFolders, (juce::StringArray { "/VST", "/vst" }));
}

TEST (RackConfigFile, TwoFullStatesTravelThroughTheWriterAndTheReader)
{
    TempFolder folder ("rack-config");
    const auto file = folder / "master-vst.json";
    auto contents = sampleContents();
    contents.slots[0].stateHex = juce::String::repeatedString ("ab", 0x1000000);   // 0x2000000 digits
    contents.slots[1].uid = uidA;
    contents.slots[1].stateHex = contents.slots[0].stateHex;

    // Over 64 MiB in all: the writer must allow what the reader accepts.
    const auto written = writeRackConfig (file, contents);
    ASSERT_TRUE (written.ok) << written.message;
    EXPECT_GT (file.getSize(), 64 * 1024 * 1024);

    RackConfigContents read;
    ASSERT_EQ (readRackConfig (file, read), RackConfigRead::loaded);
    EXPECT_TRUE (read == contents);

    // One digit pair more is refused.
    contents.slots[1].stateHex += "00";
    ASSERT_TRUE (vantrel::testing::writeBytes (file, rackConfigText (contents).toStdString()));
    EXPECT_EQ (readRackConfig (file, read), RackConfigRead::damaged);
}

TEST (VstPaths, UidsStatesAndPaths)
{
    EXPECT_TRUE (isVstUid (uidA));
    EXPECT_TRUE (isVstUid (uidA.toLowerCase()));
    EXPECT_FALSE (isVstUid (uidA + "0"));
    EXPECT_FALSE (isVstUid (uidA.replace ("F", "-")));
    EXPECT_FALSE (isVstUid (""));

    EXPECT_TRUE (isVstStateHex (""));
    EXPECT_TRUE (isVstStateHex ("00AAff"));
    EXPECT_FALSE (isVstStateHex ("0"));
    EXPECT_FALSE (isVstStateHex ("0g"));

    TempFolder folder ("vst-paths");
    const auto real = folder / "real";
    ASSERT_TRUE (real.createDirectory());
    ASSERT_TRUE (real.createSymbolicLink (folder / "link", true));
    const auto base = normalizeVstPath (folder.path());

    EXPECT_EQ (normalizeVstPath (folder / "link"), base + "/real");
    EXPECT_EQ (normalizeVstPath (juce::File (folder.path().getFullPathName() + "/real/../real/./x.vst3")), base + "/real/x.vst3");
    EXPECT_EQ (normalizeVstPath (juce::File (folder.path().getFullPathName() + "/missing/y.vst3")), base + "/missing/y.vst3");
    EXPECT_EQ (normalizeVstPath (juce::File()), "");
}
} // namespace
