#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"
#include "app/SystemSoundsGuard.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vantrel
{
class ProductInfoWindow;

/** The settings page: language, power, system sounds, the LIVE LOCK scope, lane colours and
    shortcuts. The operator edits a working copy of the preferences, taken when the panel is
    built; nothing takes effect before "Save and apply", which hands the copy to the
    coordinator in one step. The page's texts keep the language it was built in; the muter's
    status line follows the current language. */
class SettingsPanel : public juce::Component,
                      private juce::Timer
{
public:
    explicit SettingsPanel (SessionCoordinator& coordinator);
    ~SettingsPanel() override;

    /** One lane colour that the colour boxes offer. */
    struct PaletteEntry
    {
        const char* name;
        std::uint32_t argb;
    };

    /** The nine colours in box order (item id = index + 1). */
    static const std::array<PaletteEntry, 9>& palette();

    /** The keys an action can be given, in box order (item id = index + 1): none, Enter, Space,
        Backspace, Delete, the arrows, keypad 0-9, F1-F12, Ctrl+A-Z, Ctrl+Shift+A-Z. */
    static const std::vector<KeyBinding>& keyChoices();

    /** The muter's state as the status line shows it; the process's guard unless replaced. */
    std::function<SystemSoundsStatus()> soundsStatus;

    /** The scope switches follow LIVE LOCK and the muter's line its state. Every half second and
        once at construction. */
    void timerCallback() override;

    /** The product information window once "About" built it, else null. */
    ProductInfoWindow* productInfo() const  { return productInfoWindow.get(); }

    /** The page's background and its secondary texts come from the look-and-feel's palette ids
        (ui/Theme.h), taken when the page is placed in a window or its look-and-feel changes. */
    void paint (juce::Graphics& g) override;
    void parentHierarchyChanged() override;
    void lookAndFeelChanged() override;
    void resized() override;

private:
    /** The page's text in the language the panel was built in. */
    juce::String pick (const char* ja, const char* en) const;
    void actionChanged();
    void keyChanged();
    void resetKeys();
    void saveAndApply();
    void cancel();
    void showAbout();
    void takeColours();

    SessionCoordinator& coordinator;
    Preferences prefs;
    const bool english;
    bool syncingKey = false;

    juce::Label title, languageCaption, note, scopeCaption, coloursCaption, shortcutsCaption, status, osStatus;
    std::array<juce::Label, Preferences::numColours> colourCaptions;
    juce::ComboBox language, action, key;
    std::array<juce::ComboBox, Preferences::numColours> colourBoxes;
    juce::ToggleButton sleep, display, sounds;
    std::array<juce::ToggleButton, Preferences::numLocks> scopes;
    juce::TextButton reset, apply, cancelButton, about;
    std::unique_ptr<ProductInfoWindow> productInfoWindow;
};
} // namespace vantrel
