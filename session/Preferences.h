#pragma once

#include "session/StoreResult.h"
#include "session/UiLanguage.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace vantrel
{
/** Windows virtual-key codes, the key codes of the shortcut table and of
    preferences.json. The view maps its own key presses onto them. */
namespace vk
{
constexpr int none = 0;
constexpr int backspace = 8;
constexpr int enter = 13;
constexpr int space = 32;
constexpr int left = 37;
constexpr int up = 38;
constexpr int right = 39;
constexpr int down = 40;
constexpr int del = 46;
constexpr int letterA = 65;
constexpr int letterZ = 90;
constexpr int numpad0 = 96;
constexpr int numpad9 = 105;
constexpr int f1 = 112;
constexpr int f12 = 123;
} // namespace vk

/** One named action of the shortcut table and its key. */
struct KeyBinding
{
    juce::String action;   // the action's name, also the text shown for it
    int key = vk::none;    // Windows virtual-key code; 0 = no key
    bool ctrl = false;
    bool shift = false;

    bool operator== (const KeyBinding& other) const
    {
        return action == other.action && key == other.key && ctrl == other.ctrl && shift == other.shift;
    }
    bool operator!= (const KeyBinding& other) const  { return ! operator== (other); }
};

/** Positions in Preferences::locks: the LIVE LOCK scopes. */
enum class LockScope : int
{
    playlistEditing = 0,   // "Playlist / track editing"
    trackGainEq,           // "Track gain / EQ"
    waveformSeek,          // "Direct waveform seek"
    masterGain,            // "Master gain"
    masterEq,              // "Master EQ"
    limiter,               // "Limiter / dynamics"
    vst,                   // "VST"
    audioOutput            // "Audio output"
};

/** Positions in Preferences::colours: the waveform lanes. */
enum class WaveLane : int
{
    outgoing = 0,
    main,
    ready
};

/** This machine's settings, kept in preferences.json in the profile's local folder.
    A plain value: copyable, member-wise equality. */
struct Preferences
{
    static constexpr int numLocks = 8;
    static constexpr int numColours = 3;
    static constexpr int numActions = 37;

    bool english;                 // English user interface; defaults to firstRunEnglish()
    bool preventSleep = true;
    bool preventDisplayOff = true;
    bool muteSystemSounds = true;
    std::array<bool, numLocks> locks { { true, true, true, false, false, true, true, true } };
    std::array<uint32_t, numColours> colours { { 0xff48de8au, 0xff48de8au, 0xffe4b263u } };   // ARGB, alpha ff
    std::vector<KeyBinding> keys;   // one entry per action, in table order

    /** The defaults: first-run language, switches on, default scopes, colours and keys. */
    Preferences();

    bool isLocked (LockScope scope) const  { return locks[(size_t) scope]; }

    /** Empty when the key table is valid, else the first problem: "Invalid shortcuts",
        "Invalid action", "Unsupported shortcut" or "Duplicate shortcut: " + key text. */
    juce::String validateShortcuts() const;

    /** The same check for the given preferences. */
    static juce::String validateShortcuts (const Preferences& preferences)  { return preferences.validateShortcuts(); }

    bool operator== (const Preferences& other) const;
    bool operator!= (const Preferences& other) const  { return ! operator== (other); }
};

/** The fixed action table with its default keys, in table order (37 entries,
    "GO" first). Built once; any thread. */
const std::vector<KeyBinding>& defaultKeyBindings();

/** True when the key may carry a shortcut with these modifiers: without Ctrl
    Backspace, Enter, Space, the arrows, Delete, numeric keypad 0-9 and F1-F12;
    with Ctrl the letters A-Z; Shift may accompany either. Key 0 is not a key. */
bool isSupportedShortcut (int key, bool ctrl);

/** The text shown for a binding: "—" for no key, otherwise "Ctrl+", "Shift+" and
    the key's name ("Enter", "Num 3", "F12", "Z" ...). */
juce::String shortcutText (const KeyBinding& binding);
} // namespace vantrel
