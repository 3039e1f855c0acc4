#include "session/Preferences.h"
#include "session/PreferencesFile.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

using namespace vantrel;

namespace
{
const juce::String invalidFile = "Invalid settings file; original retained";
const juce::String emDash = juce::String::fromUTF8 ("\xe2\x80\x94");

/** A private folder for one test, removed afterwards. */
struct TempFolder
{
    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("vantrel-prefs-" + juce::Uuid().toString());

    TempFolder()   { folder.createDirectory(); }
    ~TempFolder()  { folder.deleteRecursively(); }

    juce::File file (const juce::String& name) const  { return folder.getChildFile (name); }

    juce::StringArray names() const
    {
        juce::StringArray result;

        for (const auto& child : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
            result.add (child.getFileName());

        result.sort (false);
        return result;
    }
};

/** Preferences that differ from the defaults in every member. */
Preferences distinctivePreferences()
{
    Preferences p;
    p.english = ! p.english;
    p.preventSleep = false;
    p.preventDisplayOff = false;
    p.muteSystemSounds = false;
    p.locks = { { false, true, false, true, true, false, false, true } };
    p.colours = { { 0xff010203u, 0xffa0b0c0u, 0xff00ff00u } };
    p.keys[19] = { "SEEK BACK", vk::left, false, false };
    p.keys[20] = { "SEEK FORWARD", vk::right, false, true };
    p.keys[26] = { "LIVE LOCK", 'L', true, false };
    p.keys[32] = { "PAD MUTE", vk::f1 + 4, false, true };
    p.keys[0].key = vk::none;
    return p;
}

/** The written text of the defaults, changed by a text edit that must apply. */
juce::String editedDefaults (const juce::String& from, const juce::String& to)
{
    const auto text = preferencesToJson (Preferences());
    const auto edited = text.replaceFirstOccurrenceOf (from, to);
    EXPECT_NE (edited, text) << "the edit did not apply: " << from;
    return edited;
}

/** The written text of the defaults, changed through its parsed JSON. */
juce::String mutatedDefaults (const std::function<void (juce::DynamicObject&)>& mutate)
{
    auto root = juce::JSON::parse (preferencesToJson (Preferences()));
    mutate (*root.getDynamicObject());
    return juce::JSON::toString (root);
}

juce::var keyEntry (const char* action, int key, bool ctrl, bool shift)
{
    auto* entry = new juce::DynamicObject();
    entry->setProperty ("action", action);
    entry->setProperty ("key", key);
    entry->setProperty ("ctrl", ctrl);
    entry->setProperty ("shift", shift);
    return entry;
}

juce::Array<juce::var>& keysOf (juce::DynamicObject& root)
{
    return *root.getProperty ("keys").getArray();
}

juce::String textOfSize (juce::String text, int bytes)
{
    // Blank padding before the final brace keeps the JSON valid.
    const auto padding = bytes - (int) text.getNumBytesAsUTF8();
    return text.dropLastCharacters (1) + juce::String::repeatedString (" ", padding) + "}";
}
} // namespace

//==============================================================================
TEST (PreferencesDefaults, MatchTheFixedTable)
{
    const Preferences p;
    EXPECT_EQ (p.english, firstRunEnglish());
    EXPECT_TRUE (p.preventSleep);
    EXPECT_TRUE (p.preventDisplayOff);
    EXPECT_TRUE (p.muteSystemSounds);
    EXPECT_EQ (p.locks, (std::array<bool, 8> { { true, true, true, false, false, true, true, true } }));
    EXPECT_TRUE (p.isLocked (LockScope::playlistEditing));
    EXPECT_FALSE (p.isLocked (LockScope::masterGain));
    EXPECT_FALSE (p.isLocked (LockScope::masterEq));
    EXPECT_TRUE (p.isLocked (LockScope::audioOutput));
    EXPECT_EQ (p.colours[(size_t) WaveLane::outgoing], 0xff48de8au);
    EXPECT_EQ (p.colours[(size_t) WaveLane::main], 0xff48de8au);
    EXPECT_EQ (p.colours[(size_t) WaveLane::ready], 0xffe4b263u);
    EXPECT_EQ (p.validateShortcuts(), juce::String());
}

TEST (PreferencesDefaults, ActionTableInOrderWithItsKeyTexts)
{
    const char* expected[][2] = {
        { "GO", "Enter" }, { "PAUSE", "Space" }, { "PAD STOP", "Num 0" }, { "DELETE", "Delete" },
        { "DELETE (alternate)", "Backspace" }, { "PREVIOUS ROW", "Up" }, { "NEXT ROW", "Down" },
        { "UNDO", "Ctrl+Z" }, { "REDO", "Ctrl+Y" }, { "REDO (alternate)", "Ctrl+Shift+Z" },
        { "PAD 1", "Num 1" }, { "PAD 2", "Num 2" }, { "PAD 3", "Num 3" }, { "PAD 4", "Num 4" },
        { "PAD 5", "Num 5" }, { "PAD 6", "Num 6" }, { "PAD 7", "Num 7" }, { "PAD 8", "Num 8" },
        { "PAD 9", "Num 9" }, { "SEEK BACK", "" }, { "SEEK FORWARD", "" }, { "MAIN STOP", "" },
        { "OUT STOP", "" }, { "AUTO CUE", "" }, { "AUTO READY", "" }, { "REPEAT", "" },
        { "LIVE LOCK", "" }, { "MASTER EQ", "" }, { "PLAYLIST EQ", "" }, { "VST", "" },
        { "ZOOM IN", "" }, { "ZOOM OUT", "" }, { "PAD MUTE", "" }, { "PLAYLIST PANEL", "" },
        { "PAD PANEL", "" }, { "MEMO PANEL", "" }, { "LIMITER", "" },
    };

    const Preferences p;
    ASSERT_EQ (p.keys.size(), 37u);
    ASSERT_EQ (p.keys, defaultKeyBindings());

    for (size_t i = 0; i < p.keys.size(); ++i)
    {
        EXPECT_EQ (p.keys[i].action, expected[i][0]) << i;
        const juce::String shown (expected[i][1]);
        EXPECT_EQ (shortcutText (p.keys[i]), shown.isEmpty() ? emDash : shown) << i;
    }
}

//==============================================================================
TEST (ShortcutText, NamesKeysWithTheirModifiers)
{
    struct Case { int key; bool ctrl; bool shift; const char* text; };
    const Case cases[] = {
        { 90, true, true, "Ctrl+Shift+Z" }, { 96, false, false, "Num 0" }, { 105, false, false, "Num 9" },
        { 112, false, false, "F1" }, { 123, false, false, "F12" }, { 8, false, false, "Backspace" },
        { 13, false, true, "Shift+Enter" }, { 32, false, false, "Space" }, { 37, false, false, "Left" },
        { 38, false, false, "Up" }, { 39, false, false, "Right" }, { 40, false, false, "Down" },
        { 46, true, false, "Ctrl+Delete" }, { 65, true, false, "Ctrl+A" }, { 77, false, false, "M" },
        { -5, false, false, "Key -5" }, { 0xd800, true, false, "Ctrl+Key 55296" }, { 0x110000, false, false, "Key 1114112" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (shortcutText ({ "X", c.key, c.ctrl, c.shift }), c.text) << c.key;

    EXPECT_EQ (shortcutText ({ "X", 0, false, false }), emDash);
    EXPECT_EQ (shortcutText ({ "X", 0, true, true }), emDash);
}

TEST (ShortcutValidation, SupportedKeysAreExactlyTheListedOnes)
{
    int plain = 0, withCtrl = 0;

    for (int key = -2; key <= 300; ++key)
    {
        plain += isSupportedShortcut (key, false) ? 1 : 0;
        withCtrl += isSupportedShortcut (key, true) ? 1 : 0;
    }

    EXPECT_EQ (plain, 30);     // Backspace, Enter, Space, 4 arrows, Delete, 10 keypad digits, 12 F keys
    EXPECT_EQ (withCtrl, 26);  // A..Z
    for (int key : { 8, 13, 32, 37, 40, 46, 96, 105, 112, 123 })
        EXPECT_TRUE (isSupportedShortcut (key, false)) << key;
    for (int key : { 0, 9, 36, 41, 45, 47, 65, 90, 95, 106, 111, 124 })
        EXPECT_FALSE (isSupportedShortcut (key, false)) << key;
    for (int key : { 64, 91, 13, 112 })
        EXPECT_FALSE (isSupportedShortcut (key, true)) << key;
}

TEST (ShortcutValidation, ReportsTheFirstProblem)
{
    struct Case { const char* name; std::function<void (Preferences&)> change; const char* message; };
    const Case cases[] = {
        { "one binding missing", [] (Preferences& p) { p.keys.pop_back(); }, "Invalid shortcuts" },
        { "one binding extra", [] (Preferences& p) { p.keys.push_back ({ "EXTRA", 0, false, false }); }, "Invalid shortcuts" },
        { "actions swapped", [] (Preferences& p) { std::swap (p.keys[0], p.keys[1]); }, "Invalid action" },
        { "action renamed", [] (Preferences& p) { p.keys[36].action = "limiter"; }, "Invalid action" },
        { "Ctrl+F1", [] (Preferences& p) { p.keys[20] = { "SEEK FORWARD", vk::f1, true, false }; }, "Unsupported shortcut" },
        { "bare letter", [] (Preferences& p) { p.keys[20] = { "SEEK FORWARD", 'A', false, false }; }, "Unsupported shortcut" },
        { "negative key", [] (Preferences& p) { p.keys[20].key = -1; }, "Unsupported shortcut" },
        { "GO and PAUSE on Space", [] (Preferences& p) { p.keys[0].key = vk::space; }, "Duplicate shortcut: Space" },
        { "later duplicate named", [] (Preferences& p) { p.keys[36] = { "LIMITER", 'Z', true, true }; }, "Duplicate shortcut: Ctrl+Shift+Z" },
        { "unsupported before duplicate", [] (Preferences& p) { p.keys[0].key = 9; p.keys[2].key = vk::space; }, "Unsupported shortcut" },
    };

    for (const auto& c : cases)
    {
        Preferences p;
        c.change (p);
        EXPECT_EQ (p.validateShortcuts(), c.message) << c.name;
        EXPECT_EQ (Preferences::validateShortcuts (p), c.message) << c.name;
    }
}

TEST (ShortcutValidation, UnboundKeysNeverCollideAndModifiersTellKeysApart)
{
    Preferences p;
    p.keys[0].key = vk::none;
    p.keys[0].ctrl = true;
    p.keys[1].key = vk::none;
    p.keys[19] = { "SEEK BACK", vk::space, false, true };      // Shift+Space beside Space
    p.keys[20] = { "SEEK FORWARD", 'Y', true, true };           // Ctrl+Shift+Y beside Ctrl+Y
    EXPECT_EQ (p.validateShortcuts(), juce::String());
}

//==============================================================================
TEST (PreferencesFile, WrittenTextHasTheFixedLayout)
{
    const auto text = preferencesToJson (distinctivePreferences());
    EXPECT_TRUE (text.containsChar ('\n'));

    juce::var root;
    ASSERT_TRUE (juce::JSON::parse (text, root).wasOk());
    const auto& props = root.getDynamicObject()->getProperties();
    const char* order[] = { "version", "english", "preventSleep", "preventDisplayOff", "muteSystemSounds", "locks", "colours", "keys" };
    ASSERT_EQ (props.size(), 8);

    for (int i = 0; i < 8; ++i)
        EXPECT_EQ (props.getName (i).toString(), order[i]);

    EXPECT_TRUE (root["version"].isInt());
    EXPECT_EQ ((int) root["version"], 1);
    EXPECT_EQ (root["colours"][0].toString(), "ff010203");
    EXPECT_EQ (root["colours"][1].toString(), "ffa0b0c0");
    EXPECT_EQ (root["keys"].size(), 37);
    EXPECT_EQ (root["keys"][26]["action"].toString(), "LIVE LOCK");
    EXPECT_TRUE (root["keys"][26]["key"].isInt());
    EXPECT_EQ ((int) root["keys"][26]["key"], 76);
    EXPECT_TRUE ((bool) root["keys"][26]["ctrl"]);

    // An alpha byte other than ff is never written.
    Preferences translucent;
    translucent.colours[0] = 0x0012abcdu;
    EXPECT_EQ (juce::JSON::parse (preferencesToJson (translucent))["colours"][0].toString(), "ff12abcd");
}

TEST (PreferencesFile, SaveThenReadIntoFreshPreferencesGivesEqualRecords)
{
    TempFolder temp;
    const auto file = temp.file ("local").getChildFile ("preferences.json");   // folder not there yet
    const auto saved = distinctivePreferences();

    const auto written = savePreferences (file, saved);
    ASSERT_TRUE (written.ok) << written.message;
    EXPECT_EQ (written.message, juce::String());

    Preferences loaded;
    const auto read = readPreferences (file, loaded);
    ASSERT_TRUE (read.ok) << read.message;
    EXPECT_EQ (read.message, juce::String());
    EXPECT_EQ (loaded, saved);
}

TEST (PreferencesFile, SecondSaveKeepsThePreviousTextAsBackup)
{
    TempFolder temp;
    const auto file = temp.file ("preferences.json");

    ASSERT_TRUE (savePreferences (file, Preferences()).ok);
    const auto first = file.loadFileAsString();
    EXPECT_FALSE (temp.file ("preferences.json.bak").exists());

    ASSERT_TRUE (savePreferences (file, distinctivePreferences()).ok);
    EXPECT_EQ (temp.file ("preferences.json.bak").loadFileAsString(), first);
    EXPECT_EQ (file.loadFileAsString(), preferencesToJson (distinctivePreferences()));
}

TEST (PreferencesFile, SaveRefusesAnInvalidKeyTableBeforeWriting)
{
    TempFolder temp;
    const auto file = temp.file ("preferences.json");
    ASSERT_TRUE (savePreferences (file, Preferences()).ok);
    const auto before = file.loadFileAsString();

    auto bad = Preferences();
    bad.keys[1].key = vk::enter;   // PAUSE on GO's key
    const auto result = savePreferences (file, bad);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Duplicate shortcut: Enter");
    EXPECT_EQ (file.loadFileAsString(), before);
    EXPECT_EQ (temp.names(), juce::StringArray ("preferences.json"));

    bad = Preferences();
    bad.keys.resize (36);
    EXPECT_EQ (savePreferences (temp.file ("other.json"), bad).message, "Invalid shortcuts");
    EXPECT_FALSE (temp.file ("other.json").exists());
}

TEST (PreferencesFile, SaveOverANonEmptyFolderFailsAndKeepsIt)
{
    TempFolder temp;
    const auto target = temp.file ("preferences.json");
    ASSERT_TRUE (target.getChildFile ("keep.txt").create().wasOk());

    const auto result = savePreferences (target, Preferences());
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, juce::String::fromUTF8 ("保存の確定に失敗しました: preferences.json"));
    EXPECT_TRUE (target.getChildFile ("keep.txt").existsAsFile());
    EXPECT_EQ (temp.names(), juce::StringArray ("preferences.json"));   // no temporary left behind
}

//==============================================================================
TEST (PreferencesFile, MissingFileReadsAsSuccessAndChangesNothing)
{
    TempFolder temp;
    auto p = distinctivePreferences();
    const auto result = readPreferences (temp.file ("preferences.json"), p);
    EXPECT_TRUE (result.ok);
    EXPECT_EQ (result.message, juce::String());
    EXPECT_EQ (p, distinctivePreferences());
    EXPECT_FALSE (temp.file ("preferences.json").exists());
}

TEST (PreferencesFile, AcceptedVariations)
{
    struct Case { const char* name; juce::String text; std::function<void (Preferences&)> expect; };
    const Case cases[] = {
        { "upper-case colour digits", editedDefaults ("\"ff48de8a\"", "\"FF12ABCD\""),
          [] (Preferences& p) { p.colours[0] = 0xff12abcdu; } },
        { "alpha 00 read as ff", editedDefaults ("\"ffe4b263\"", "\"00e4b263\""), [] (Preferences&) {} },
        { "members beyond the listed ones", mutatedDefaults ([] (juce::DynamicObject& root)
          {
              root.setProperty ("futureSetting", juce::JSON::parse ("{\"a\": [[[1]]], \"b\": \"[[[[\"}"));
              keysOf (root).getReference (0).getDynamicObject()->setProperty ("comment", "x");
          }), [] (Preferences&) {} },
        { "GO without a key", mutatedDefaults ([] (juce::DynamicObject& root)
          { keysOf (root).set (0, keyEntry ("GO", 0, false, false)); }),
          [] (Preferences& p) { p.keys[0].key = 0; } },
        { "a new binding", mutatedDefaults ([] (juce::DynamicObject& root)
          { keysOf (root).set (26, keyEntry ("LIVE LOCK", 'L', true, true)); }),
          [] (Preferences& p) { p.keys[26] = { "LIVE LOCK", 'L', true, true }; } },
        { "exactly 1 MiB", textOfSize (preferencesToJson (Preferences()), 1048576), [] (Preferences&) {} },
        { "byte-order mark", juce::String::fromUTF8 ("\xef\xbb\xbf") + preferencesToJson (Preferences()), [] (Preferences&) {} },
    };

    for (const auto& c : cases)
    {
        TempFolder temp;
        const auto file = temp.file ("preferences.json");
        ASSERT_TRUE (file.replaceWithText (c.text, false, false, nullptr)) << c.name;

        auto p = distinctivePreferences();
        const auto result = readPreferences (file, p);
        ASSERT_TRUE (result.ok) << c.name << ": " << result.message;

        Preferences expected;
        c.expect (expected);
        EXPECT_EQ (p, expected) << c.name;
    }
}

TEST (PreferencesFile, RefusedFilesLeaveFileAndPreferencesUntouched)
{
    const auto defaults = preferencesToJson (Preferences());
    const auto setTo = [] (const char* name, juce::var value)
    {
        return mutatedDefaults ([=] (juce::DynamicObject& root) { root.setProperty (name, value); });
    };
    const auto removed = [] (const char* name)
    {
        return mutatedDefaults ([=] (juce::DynamicObject& root) { root.removeProperty (name); });
    };
    const auto withKey = [] (int index, juce::var entry)
    {
        return mutatedDefaults ([=] (juce::DynamicObject& root) { keysOf (root).set (index, entry); });
    };

    struct Case { const char* name; juce::String text; juce::String message; };
    const Case cases[] = {
        { "version 2", setTo ("version", 2), invalidFile },
        { "version true", setTo ("version", true), invalidFile },
        { "version \"1\"", setTo ("version", "1"), invalidFile },
        { "version 1.7", editedDefaults ("\"version\": 1,", "\"version\": 1.7,"), invalidFile },
        { "version 1.0", editedDefaults ("\"version\": 1,", "\"version\": 1.0,"), invalidFile },
        { "no version", removed ("version"), invalidFile },
        { "1 MiB plus one byte", textOfSize (defaults, 1048577), invalidFile },
        { "empty file", "", invalidFile },
        { "not JSON", "preferences", invalidFile },
        { "truncated", defaults.dropLastCharacters (5), invalidFile },
        { "text after the object", defaults + " x", invalidFile },
        { "a second object", defaults + defaults, invalidFile },
        { "an array", "[" + defaults + "]", invalidFile },
        { "brackets a million deep", juce::String::repeatedString ("[", 1000000), invalidFile },
        { "no english", removed ("english"), "Invalid settings field" },
        { "preventSleep 1", setTo ("preventSleep", 1), "Invalid settings field" },
        { "muteSystemSounds \"true\"", setTo ("muteSystemSounds", "true"), "Invalid settings field" },
        { "36 keys", mutatedDefaults ([] (juce::DynamicObject& root) { keysOf (root).removeLast(); }), "Invalid settings arrays" },
        { "7 locks", mutatedDefaults ([] (juce::DynamicObject& root) { root.getProperty ("locks").getArray()->removeLast(); }), "Invalid settings arrays" },
        { "4 colours", mutatedDefaults ([] (juce::DynamicObject& root) { root.getProperty ("colours").getArray()->add ("ff000000"); }), "Invalid settings arrays" },
        { "keys not an array", setTo ("keys", "none"), "Invalid settings arrays" },
        { "lock as text", mutatedDefaults ([] (juce::DynamicObject& root) { root.getProperty ("locks").getArray()->set (7, "true"); }), "Invalid lock setting" },
        { "colour with 0x prefix", editedDefaults ("\"ff48de8a\"", "\"0xff48de8a\""), "Invalid colour" },
        { "colour 0x + 6 digits", editedDefaults ("\"ff48de8a\"", "\"0x48de8a\""), "Invalid colour" },
        { "colour of 7 digits", editedDefaults ("\"ffe4b263\"", "\"fe4b263\""), "Invalid colour" },
        { "colour as number", editedDefaults ("\"ffe4b263\"", "4293177955"), "Invalid colour" },
        { "key 13.0", editedDefaults ("\"key\": 13,", "\"key\": 13.0,"), "Invalid key setting" },
        { "key \"13\"", editedDefaults ("\"key\": 13,", "\"key\": \"13\","), "Invalid key setting" },
        { "key past 32 bits", editedDefaults ("\"key\": 13,", "\"key\": 4294967309,"), "Invalid key setting" },
        { "key past 64 bits (would wrap to 13)", editedDefaults ("\"key\": 13,", "\"key\": 18446744073709551629,"), invalidFile },
        { "entry without shift", mutatedDefaults ([] (juce::DynamicObject& root)
          { keysOf (root).getReference (3).getDynamicObject()->removeProperty ("shift"); }), "Invalid key setting" },
        { "entry not an object", withKey (3, "DELETE"), "Invalid key setting" },
        { "actions reordered", mutatedDefaults ([] (juce::DynamicObject& root) { keysOf (root).swap (0, 1); }), "Invalid action" },
        { "Ctrl+F1", withKey (20, keyEntry ("SEEK FORWARD", 112, true, false)), "Unsupported shortcut" },
        { "bare letter", withKey (20, keyEntry ("SEEK FORWARD", 'Q', false, false)), "Unsupported shortcut" },
        { "GO and PAUSE on Space", withKey (0, keyEntry ("GO", 32, false, false)), "Duplicate shortcut: Space" },
    };

    for (const auto& c : cases)
    {
        TempFolder temp;
        const auto file = temp.file ("preferences.json");
        ASSERT_TRUE (file.replaceWithText (c.text, false, false, nullptr)) << c.name;
        const auto before = vantrel::testing::readBytes (file);

        auto p = distinctivePreferences();
        const auto result = readPreferences (file, p);
        EXPECT_FALSE (result.ok) << c.name;
        EXPECT_EQ (result.message, c.message) << c.name;
        EXPECT_EQ (p, distinctivePreferences()) << c.name;

        EXPECT_EQ (vantrel::testing::readBytes (file), before) << c.name;
        EXPECT_EQ (temp.names(), juce::StringArray ("preferences.json")) << c.name;
    }
}

TEST (PreferencesFile, DamagedUtf8IsRefused)
{
    TempFolder temp;
    const auto file = temp.file ("preferences.json");
    auto bytes = preferencesToJson (Preferences()).toStdString();
    const auto at = bytes.find ("PAUSE");
    ASSERT_NE (at, std::string::npos);
    bytes[at + 1] = '\xc3';   // a lead byte followed by 'U', not a continuation byte
    ASSERT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));

    auto p = distinctivePreferences();
    EXPECT_EQ (readPreferences (file, p).message, invalidFile);
    EXPECT_EQ (p, distinctivePreferences());
}

TEST (PreferencesFile, AFolderInPlaceOfTheFileIsRefused)
{
    TempFolder temp;
    const auto file = temp.file ("preferences.json");
    ASSERT_TRUE (file.createDirectory().wasOk());

    auto p = distinctivePreferences();
    EXPECT_EQ (readPreferences (file, p).message, invalidFile);
    EXPECT_EQ (p, distinctivePreferences());
}

//==============================================================================
TEST (LoadPreferences, FirstStartWritesTheDefaultsAndTheSecondReadsThemBack)
{
    TempFolder temp;
    const auto file = temp.file ("local").getChildFile ("preferences.json");

    Preferences first;
    const auto created = loadPreferences (file, first);
    ASSERT_TRUE (created.ok) << created.message;
    EXPECT_EQ (first, Preferences());
    ASSERT_TRUE (file.existsAsFile());

    const auto written = juce::JSON::parse (file.loadFileAsString());
    EXPECT_EQ ((int) written["version"], 1);
    EXPECT_EQ (written["keys"].size(), 37);

    const auto text = file.loadFileAsString();
    auto second = distinctivePreferences();
    const auto reread = loadPreferences (file, second);
    ASSERT_TRUE (reread.ok) << reread.message;
    EXPECT_EQ (second, Preferences());
    EXPECT_EQ (file.loadFileAsString(), text);
    EXPECT_FALSE (file.getSiblingFile ("preferences.json.bak").exists());
}

TEST (LoadPreferences, AnExistingFileIsReadAndNotRewritten)
{
    TempFolder temp;
    const auto file = temp.file ("preferences.json");
    const auto text = preferencesToJson (distinctivePreferences()).replace ("\n", "\n\n");   // our writer never writes this
    ASSERT_TRUE (file.replaceWithText (text, false, false, nullptr));

    Preferences p;
    ASSERT_TRUE (loadPreferences (file, p).ok);
    EXPECT_EQ (p, distinctivePreferences());
    EXPECT_EQ (file.loadFileAsString(), text);
    EXPECT_EQ (temp.names(), juce::StringArray ("preferences.json"));
}

TEST (LoadPreferences, ADamagedFileIsNeverOverwritten)
{
    const juce::String damaged[] = {
        "{\"version\": 1, \"english\": tru",
        editedDefaults ("\"version\": 1,", "\"version\": 2,"),
        editedDefaults ("\"ffe4b263\"", "\"red\""),
        juce::String::repeatedString ("{\"a\":", 200000),
    };

    for (const auto& text : damaged)
    {
        TempFolder temp;
        const auto file = temp.file ("preferences.json");
        ASSERT_TRUE (file.replaceWithText (text, false, false, nullptr));

        auto p = distinctivePreferences();
        const auto result = loadPreferences (file, p);
        EXPECT_FALSE (result.ok);
        EXPECT_TRUE (result.message.isNotEmpty());
        EXPECT_EQ (p, distinctivePreferences());
        EXPECT_EQ (file.loadFileAsString(), text);
        EXPECT_EQ (temp.names(), juce::StringArray ("preferences.json"));
    }
}

TEST (LoadPreferences, TheTemporaryFilesOfStoppedSavesOfThisFileAreRemovedAndNothingElse)
{
    const juce::String hex ("0123456789abcdef0123456789abcdef");
    const juce::StringArray stale { "preferences.json.tmp-" + hex, "preferences.json.bak.tmp-" + hex };
    const juce::StringArray foreign {
        "device.json.tmp-" + hex, "master-vst.json.tmp-" + hex, "audio-diagnostics.json.bak.tmp-" + hex,
        "preferences.json.tmp-" + hex.toUpperCase(), "preferences.json.tmp-" + hex.dropLastCharacters (1),
        "preferences.json.tmp-" + hex + ".old", "old-preferences.json.tmp-" + hex,
    };

    // With and without the file itself: a first start may have been stopped in its first save.
    for (const bool fileExists : { true, false })
    {
        SCOPED_TRACE (fileExists ? "file present" : "first start");
        TempFolder temp;
        const auto file = temp.file ("preferences.json");

        if (fileExists)
        {
            ASSERT_TRUE (savePreferences (file, distinctivePreferences()).ok);
        }

        for (const auto& name : stale)
            ASSERT_TRUE (temp.file (name).replaceWithText ("{\"version\": 1, \"eng", false, false, nullptr));

        for (const auto& name : foreign)
            ASSERT_TRUE (temp.file (name).replaceWithText ("keep " + name, false, false, nullptr));

        Preferences p;
        ASSERT_TRUE (loadPreferences (file, p).ok);
        EXPECT_EQ (p, fileExists ? distinctivePreferences() : Preferences());

        auto expected = foreign;
        expected.add ("preferences.json");
        expected.sort (false);
        EXPECT_EQ (temp.names(), expected);

        for (const auto& name : foreign)
            EXPECT_EQ (temp.file (name).loadFileAsString(), "keep " + name);
    }
}

TEST (LoadPreferences, AFailedFirstWriteIsReported)
{
    TempFolder temp;
    const auto blocker = temp.file ("local");
    ASSERT_TRUE (blocker.replaceWithText ("a file where the folder belongs", false, false, nullptr));

    Preferences p;
    const auto result = loadPreferences (blocker.getChildFile ("preferences.json"), p);
    EXPECT_FALSE (result.ok);
    EXPECT_TRUE (result.message.isNotEmpty());
    EXPECT_EQ (p, Preferences());
    EXPECT_TRUE (blocker.existsAsFile());
}

//==============================================================================
TEST (DefaultLanguage, OnlyAShortFileSayingEnSelectsEnglish)
{
    struct Case { const char* name; const char* text; bool english; };
    const Case cases[] = {
        { "en", "en", true },
        { "blanks and a line break", " en\n", true },
        { "CRLF and tabs", "\t en \r\n", true },
        { "16 bytes", "en              ", true },
        { "byte-order mark", "\xef\xbb\xbf" "en", true },
        { "upper case", "EN", false },
        { "more letters", "enx", false },
        { "letters apart", "e n", false },
        { "17 bytes", "en               ", false },
        { "empty", "", false },
        { "Japanese", "ja", false },
    };

    for (const auto& c : cases)
    {
        TempFolder temp;
        ASSERT_TRUE (temp.file ("default-language.txt").replaceWithText (juce::String::fromUTF8 (c.text), false, false, nullptr));
        ASSERT_TRUE (temp.file ("default-language.txt").getSize() == (juce::int64) strlen (c.text));
        EXPECT_EQ (defaultLanguageIsEnglish (temp.folder), c.english) << c.name;
    }

    TempFolder none;
    EXPECT_FALSE (defaultLanguageIsEnglish (none.folder));

    TempFolder folderOfThatName;
    ASSERT_TRUE (folderOfThatName.file ("default-language.txt").createDirectory().wasOk());
    EXPECT_FALSE (defaultLanguageIsEnglish (folderOfThatName.folder));
}

TEST (DefaultLanguage, FirstRunLanguageIsWorkedOutOnceForAllThreads)
{
    const auto programFolder = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
    const auto expected = defaultLanguageIsEnglish (programFolder);

    std::vector<std::thread> threads;
    std::vector<int> answers (8, -1);

    for (size_t i = 0; i < answers.size(); ++i)
        threads.emplace_back ([&answers, i] { answers[i] = firstRunEnglish() ? 1 : 0; });

    for (auto& t : threads)
        t.join();

    for (auto answer : answers)
        EXPECT_EQ (answer, expected ? 1 : 0);

    EXPECT_EQ (Preferences().english, expected);
}
