#include "session/PreferencesFile.h"

#include "session/AtomicFileWriter.h"
#include "session/StoredJson.h"

#include "platform/ThreadContract.h"

#include <algorithm>
#include <string>

namespace vantrel
{
namespace
{
const char* const invalidFileMessage = "Invalid settings file; original retained";

constexpr const char* versionId = "version";
constexpr const char* englishId = "english";
constexpr const char* preventSleepId = "preventSleep";
constexpr const char* preventDisplayOffId = "preventDisplayOff";
constexpr const char* muteSystemSoundsId = "muteSystemSounds";
constexpr const char* locksId = "locks";
constexpr const char* coloursId = "colours";
constexpr const char* keysId = "keys";
constexpr const char* actionId = "action";
constexpr const char* keyId = "key";
constexpr const char* ctrlId = "ctrl";
constexpr const char* shiftId = "shift";

/** Reads at most the size limit and parses exactly one JSON object with nothing
    after it. False for a missing, unreadable or larger file and for any text that
    is not one clean JSON object (damaged UTF-8 and out-of-range numbers included). */
bool readPreferencesObject (const juce::File& file, juce::var& object)
{
    if (! file.existsAsFile())
        return false;

    juce::FileInputStream stream (file);

    if (! stream.openedOk())
        return false;

    juce::MemoryBlock block;
    stream.readIntoMemoryBlock (block, maxPreferencesFileBytes + 1);

    if ((juce::int64) block.getSize() > maxPreferencesFileBytes)
        return false;

    std::string text (static_cast<const char*> (block.getData()), block.getSize());
    static const std::string byteOrderMark = "\xef\xbb\xbf";

    if (text.compare (0, byteOrderMark.size(), byteOrderMark) == 0)
        text.erase (0, byteOrderMark.size());

    // The framework's parser stops after the first value and ignores what follows;
    // inside an array anything after the object is a syntax error or a second entry.
    juce::var wrapped;

    if (parseStoredJson ("[" + text + "\n]", wrapped).failed())
        return false;

    const auto* entries = wrapped.getArray();

    if (entries == nullptr || entries->size() != 1 || ! entries->getReference (0).isObject())
        return false;

    object = entries->getReference (0);
    return true;
}

/** A JSON integer equal to the expected value: true, "1" and 1.7 are not 1. */
bool isInteger (const juce::var& value, int expected)
{
    return (value.isInt() || value.isInt64()) && (juce::int64) value == (juce::int64) expected;
}

bool readBool (const juce::var& value, bool& out)
{
    if (! value.isBool())
        return false;

    out = (bool) value;
    return true;
}

bool readColour (const juce::var& value, uint32_t& out)
{
    if (! value.isString())
        return false;

    const auto text = value.toString();

    if (text.length() != 8 || ! text.containsOnly ("0123456789abcdefABCDEF"))
        return false;

    out = (uint32_t) text.getHexValue32() | 0xff000000u;
    return true;
}

bool readKeyBinding (const juce::var& entry, KeyBinding& out)
{
    const auto action = entry.getProperty (actionId, {});
    const auto key = entry.getProperty (keyId, {});
    const auto ctrl = entry.getProperty (ctrlId, {});
    const auto shift = entry.getProperty (shiftId, {});

    // "key" must be a number the parser gives as a 32-bit integer (13.0 is a double).
    if (! entry.isObject() || ! action.isString() || ! key.isInt() || ! ctrl.isBool() || ! shift.isBool())
        return false;

    out = { action.toString(), (int) key, (bool) ctrl, (bool) shift };
    return true;
}

StoreResult parsePreferences (const juce::var& root, Preferences& working)
{
    if (! isInteger (root.getProperty (versionId, {}), 1))
        return StoreResult::failure (invalidFileMessage);

    if (! readBool (root.getProperty (englishId, {}), working.english)
        || ! readBool (root.getProperty (preventSleepId, {}), working.preventSleep)
        || ! readBool (root.getProperty (preventDisplayOffId, {}), working.preventDisplayOff)
        || ! readBool (root.getProperty (muteSystemSoundsId, {}), working.muteSystemSounds))
        return StoreResult::failure ("Invalid settings field");

    const auto* locks = root.getProperty (locksId, {}).getArray();
    const auto* colours = root.getProperty (coloursId, {}).getArray();
    const auto* keys = root.getProperty (keysId, {}).getArray();

    if (locks == nullptr || locks->size() != Preferences::numLocks
        || colours == nullptr || colours->size() != Preferences::numColours
        || keys == nullptr || keys->size() != (int) defaultKeyBindings().size())
        return StoreResult::failure ("Invalid settings arrays");

    for (int i = 0; i < Preferences::numLocks; ++i)
        if (! readBool (locks->getReference (i), working.locks[(size_t) i]))
            return StoreResult::failure ("Invalid lock setting");

    for (int i = 0; i < Preferences::numColours; ++i)
        if (! readColour (colours->getReference (i), working.colours[(size_t) i]))
            return StoreResult::failure ("Invalid colour");

    working.keys = defaultKeyBindings();

    for (int i = 0; i < keys->size(); ++i)
        if (! readKeyBinding (keys->getReference (i), working.keys[(size_t) i]))
            return StoreResult::failure ("Invalid key setting");

    const auto problem = working.validateShortcuts();

    if (problem.isNotEmpty())
        return StoreResult::failure (problem);

    return StoreResult::success();
}
} // namespace

StoreResult readPreferences (const juce::File& file, Preferences& out)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! file.exists())
        return StoreResult::success();

    juce::var root;

    if (! readPreferencesObject (file, root))
        return StoreResult::failure (invalidFileMessage);

    Preferences working;
    auto result = parsePreferences (root, working);

    if (result.ok)
        out = std::move (working);

    return result;
}

juce::String preferencesToJson (const Preferences& preferences)
{
    auto* object = new juce::DynamicObject();
    const juce::var root (object);

    object->setProperty (versionId, 1);
    object->setProperty (englishId, preferences.english);
    object->setProperty (preventSleepId, preferences.preventSleep);
    object->setProperty (preventDisplayOffId, preferences.preventDisplayOff);
    object->setProperty (muteSystemSoundsId, preferences.muteSystemSounds);

    juce::Array<juce::var> locks;

    for (auto lock : preferences.locks)
        locks.add (lock);

    juce::Array<juce::var> colours;

    for (auto colour : preferences.colours)
        colours.add (juce::String::toHexString ((juce::int64) (colour | 0xff000000u)).paddedLeft ('0', 8));

    juce::Array<juce::var> keys;

    for (const auto& binding : preferences.keys)
    {
        auto* entry = new juce::DynamicObject();
        const juce::var entryVar (entry);
        entry->setProperty (actionId, binding.action);
        entry->setProperty (keyId, binding.key);
        entry->setProperty (ctrlId, binding.ctrl);
        entry->setProperty (shiftId, binding.shift);
        keys.add (entryVar);
    }

    object->setProperty (locksId, locks);
    object->setProperty (coloursId, colours);
    object->setProperty (keysId, keys);

    return juce::JSON::toString (root, false, 15);
}

StoreResult savePreferences (const juce::File& file, const Preferences& preferences)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto problem = preferences.validateShortcuts();

    if (problem.isNotEmpty())
        return StoreResult::failure (problem);

    return writeFileAtomically (file, preferencesToJson (preferences), true);
}

StoreResult loadPreferences (const juce::File& file, Preferences& preferences)
{
    // A save stopped mid-write leaves its temporary sibling; nothing else writes this file now.
    const auto name = file.getFileName();
    removeStaleTemporaryFiles (file.getParentDirectory(), [&name] (const juce::String& target)
    {
        return target == name || target == name + ".bak";
    });

    const auto existed = file.exists();
    const auto result = readPreferences (file, preferences);

    if (! result.ok || existed)
        return result;

    return savePreferences (file, preferences);
}
} // namespace vantrel
