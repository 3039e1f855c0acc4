#include "session/Preferences.h"

#include <algorithm>

namespace vantrel
{
namespace
{
std::vector<KeyBinding> makeDefaultKeyBindings()
{
    std::vector<KeyBinding> keys {
        { "GO", vk::enter, false, false },
        { "PAUSE", vk::space, false, false },
        { "PAD STOP", vk::numpad0, false, false },
        { "DELETE", vk::del, false, false },
        { "DELETE (alternate)", vk::backspace, false, false },
        { "PREVIOUS ROW", vk::up, false, false },
        { "NEXT ROW", vk::down, false, false },
        { "UNDO", 'Z', true, false },
        { "REDO", 'Y', true, false },
        { "REDO (alternate)", 'Z', true, true },
    };

    for (int digit = 1; digit <= 9; ++digit)
        keys.push_back ({ "PAD " + juce::String (digit), vk::numpad0 + digit, false, false });

    for (const char* unbound : { "SEEK BACK", "SEEK FORWARD", "MAIN STOP", "OUT STOP", "AUTO CUE",
                                 "AUTO READY", "REPEAT", "LIVE LOCK", "MASTER EQ", "PLAYLIST EQ", "VST",
                                 "ZOOM IN", "ZOOM OUT", "PAD MUTE", "PLAYLIST PANEL", "PAD PANEL",
                                 "MEMO PANEL", "LIMITER" })
        keys.push_back ({ unbound, vk::none, false, false });

    jassert ((int) keys.size() == Preferences::numActions);
    return keys;
}

bool isValidCodePoint (int key)
{
    return key > 0 && key <= 0x10ffff && ! (key >= 0xd800 && key <= 0xdfff);
}
} // namespace

const std::vector<KeyBinding>& defaultKeyBindings()
{
    static const std::vector<KeyBinding> keys = makeDefaultKeyBindings();
    return keys;
}

Preferences::Preferences()
    : english (firstRunEnglish()),
      keys (defaultKeyBindings())
{
}

bool Preferences::operator== (const Preferences& other) const
{
    return english == other.english && preventSleep == other.preventSleep
        && preventDisplayOff == other.preventDisplayOff && muteSystemSounds == other.muteSystemSounds
        && locks == other.locks && colours == other.colours && keys == other.keys;
}

bool isSupportedShortcut (int key, bool ctrl)
{
    if (ctrl)
        return key >= vk::letterA && key <= vk::letterZ;

    return key == vk::backspace || key == vk::enter || key == vk::space
        || (key >= vk::left && key <= vk::down) || key == vk::del
        || (key >= vk::numpad0 && key <= vk::numpad9) || (key >= vk::f1 && key <= vk::f12);
}

juce::String Preferences::validateShortcuts() const
{
    const auto& table = defaultKeyBindings();

    if (keys.size() != table.size())
        return "Invalid shortcuts";

    for (size_t i = 0; i < keys.size(); ++i)
    {
        const auto& binding = keys[i];

        if (binding.action != table[i].action)
            return "Invalid action";

        if (binding.key == vk::none)
            continue;

        if (! isSupportedShortcut (binding.key, binding.ctrl))
            return "Unsupported shortcut";

        const auto usedBefore = std::any_of (keys.begin(), keys.begin() + (std::ptrdiff_t) i, [&] (const KeyBinding& earlier)
        {
            return earlier.key != vk::none && earlier.key == binding.key && earlier.ctrl == binding.ctrl
                && earlier.shift == binding.shift;
        });

        if (usedBefore)
            return "Duplicate shortcut: " + shortcutText (binding);
    }

    return {};
}

juce::String shortcutText (const KeyBinding& binding)
{
    const auto key = binding.key;

    if (key == vk::none)
        return juce::String (juce::CharPointer_UTF8 ("\xe2\x80\x94"));   // em dash

    juce::String text;

    if (binding.ctrl)
        text << "Ctrl+";

    if (binding.shift)
        text << "Shift+";

    switch (key)
    {
        case vk::backspace: return text + "Backspace";
        case vk::enter:     return text + "Enter";
        case vk::space:     return text + "Space";
        case vk::left:      return text + "Left";
        case vk::up:        return text + "Up";
        case vk::right:     return text + "Right";
        case vk::down:      return text + "Down";
        case vk::del:       return text + "Delete";
        default:            break;
    }

    if (key >= vk::numpad0 && key <= vk::numpad9)
        return text + "Num " + juce::String (key - vk::numpad0);

    if (key >= vk::f1 && key <= vk::f12)
        return text + "F" + juce::String (key - vk::f1 + 1);

    // A code that is no character at all (negative, a surrogate, past U+10FFFF)
    // would make an invalid string; show its number instead.
    if (! isValidCodePoint (key))
        return text + "Key " + juce::String (key);

    return text + juce::String::charToString ((juce::juce_wchar) key);
}
} // namespace vantrel
