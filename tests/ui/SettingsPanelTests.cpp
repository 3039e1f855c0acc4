#include "ViewTestSupport.h"

#include "session/PreferencesFile.h"
#include "session/UiLanguage.h"
#include "ui/ProductInfoWindow.h"
#include "ui/SettingsPanel.h"
#include "ui/Theme.h"
#include "ui/ViewWindows.h"

#include <gtest/gtest.h>

namespace vantrel
{
namespace
{
using namespace vantrel::test;
using vantrel::testing::ja;

constexpr std::uint32_t offPalette = 0xFF123456;

/** The main view over an offline session whose OUTGOING colour is not in the palette, with the
    settings window opened by the view's button; Japanese again afterwards. */
struct SettingsRig : ViewRig
{
    SettingsRig()  { SessionCoordinatorTestAccess::preferences (*session).colours[0] = offPalette; makeView().setBounds (0, 0, 1380, 860); }
    ~SettingsRig()  { setUiLanguage (false); }

    ViewWindow* window() { return dynamic_cast<ViewWindow*> (view->window ("settings-window")); }
    SettingsPanel& panel() { return *dynamic_cast<SettingsPanel*> (window()->panel()); }
    SettingsPanel& open()
    {
        if (window() != nullptr)
            window()->panel()->getProperties().set ("replaced", true);   // a new panel may take the old one's address
        byId<juce::Button> (*view, "settings").triggerClick();
        EXPECT_TRUE (runMessagesUntil ([&] {
            return window() != nullptr && window()->isVisible() && ! window()->panel()->getProperties().contains ("replaced");
        }));
        return panel();
    }
    template <typename Type = juce::Button>
    Type& part (const juce::String& id) { return byId<Type> (panel(), id); }
    void click (const char* id) { part (id).triggerClick(); runPendingMessages(); }
    /** Picks the item with this text as the box's menu does. */
    void choose (const char* id, const juce::String& text)
    {
        auto& box = part<juce::ComboBox> (id);
        for (int i = 0; i < box.getNumItems(); ++i)
            if (box.getItemText (i) == text)
                box.setSelectedId (box.getItemId (i));
        runPendingMessages();
    }
    juce::String statusLine() { return part<juce::Label> ("settings-status").getText(); }
    /** All eight scope switches enabled (or all disabled). */
    bool scopesEnabled (bool enabled)
    {
        int matching = 0;
        for (int i = 0; i < Preferences::numLocks; ++i)
            matching += part ("settings-lock-" + juce::String (i)).isEnabled() == enabled;
        return matching == Preferences::numLocks;
    }
    Preferences saved() { Preferences p; EXPECT_TRUE (readPreferences (rig.local().getChildFile ("preferences.json"), p).ok); return p; }
};

#define START_SETTINGS_RIG(r)  \
    SettingsRig r;             \
    if (! r.display.running()) \
        GTEST_SKIP() << r.display.problem;

// The page's background and its secondary lines are the palette's, looked up in the look-and-feel
// of the window it is shown in.
TEST (SettingsPanel, ThePageTakesThePanelAndDimTextColoursFromItsWindow)
{
    START_SETTINGS_RIG (r);
    auto& panel = r.open();
    EXPECT_EQ (r.part<juce::Label> ("settings-os-status").findColour (juce::Label::textColourId), colours::textDim);
    const auto corner = panel.createComponentSnapshot ({ 0, 0, 4, 4 }, false);   // the page alone
    EXPECT_EQ (corner.getPixelAt (2, 2), colours::panel);
}

TEST (SettingsPanel, SavesColoursAndScopeThroughTheCoordinatorAndTheScopeSwitchesFollowLiveLock)
{
    START_SETTINGS_RIG (r);
    // Each case picks a MAIN colour and clicks scope switch 3; a switch greyed by LIVE LOCK ignores the click.
    struct Case { bool lockBefore, lockAfter; const char* colour; std::uint32_t argb; const char* status; };
    for (const auto& c : std::vector<Case> { { false, false, "Violet", 0xFFB398ED, "保存して反映しました。" },
                                             { true, false, "Lime", 0xFFCADF7B, "保存して反映しました。" },
                                             { false, true, "Pink", 0xFFE799C7, "LIVE LOCKを解除してから固定範囲を変更してください" } })
    {
        if (r.session->isLiveLockOn() != c.lockBefore)
            r.session->toggleLiveLock();
        r.open();
        EXPECT_EQ (r.part<juce::ComboBox> ("settings-colour-outgoing").getSelectedId(), 0);
        const auto before = r.session->currentPreferences();
        r.choose ("settings-colour-main", c.colour);
        r.click ("settings-lock-3");
        if (c.lockAfter)
            r.session->toggleLiveLock();
        EXPECT_TRUE (runMessagesUntil ([&] { return r.scopesEnabled (! r.session->isLiveLockOn()); }));   // the panel's timer
        r.click ("settings-apply");
        EXPECT_EQ (r.statusLine(), ja (c.status));

        const bool saved = ! c.lockAfter;
        const auto file = r.saved();
        EXPECT_EQ (file, r.session->currentPreferences());
        EXPECT_EQ (file.colours[0], offPalette);
        EXPECT_EQ (file.colours[1], saved ? c.argb : before.colours[1]) << c.colour;
        EXPECT_EQ (file.locks[3], saved && ! c.lockBefore ? ! before.locks[3] : before.locks[3]) << c.colour;
    }
}

TEST (SettingsPanel, KeyEditsReportConflictsUnbindAndResetClearsTheReport)
{
    START_SETTINGS_RIG (r);
    SessionCoordinatorTestAccess::preferences (*r.session).keys[1] = { "PAUSE", vk::space, false, true };   // Shift+Space: no choice offers it
    r.open();
    r.choose ("settings-action", "PAUSE");
    EXPECT_EQ (r.part<juce::ComboBox> ("settings-key").getSelectedId(), 0);

    struct Case { const char* action; const char* key; const char* status; };
    for (const auto& c : std::vector<Case> { { "PAUSE", "Enter", "Duplicate shortcut: Enter" },
                                             { "GO", "—", "" },                    // GO unbound frees Enter
                                             { "VST", "Ctrl+Shift+Z", "Duplicate shortcut: Ctrl+Shift+Z" },
                                             { "VST", "F5", "" } })
    {
        r.choose ("settings-action", c.action);
        r.choose ("settings-key", ja (c.key));
        EXPECT_EQ (r.statusLine(), ja (c.status)) << c.action << " " << c.key;
    }
    r.click ("settings-apply");
    EXPECT_EQ (r.session->currentPreferences().keys[0].key, vk::none);
    EXPECT_EQ (r.saved().keys[1].key, vk::enter);

    r.choose ("settings-key", "Enter");   // VST on Enter, which PAUSE holds
    r.click ("settings-reset");
    EXPECT_EQ (r.statusLine(), "");
    EXPECT_EQ (r.part<juce::ComboBox> ("settings-key").getText(), "—");   // VST's default: no key
}

TEST (SettingsPanel, SavingEnglishReopensTheWindowInEnglish)
{
    START_SETTINGS_RIG (r);
    r.open();
    r.choose ("settings-language", "English");
    r.click ("settings-apply");
    EXPECT_EQ (r.statusLine(), "Saved and applied.");
    EXPECT_TRUE (r.saved().english);

    r.view->timerCallback();   // the view rebuilds in the new language and reopens its windows
    ASSERT_TRUE (r.view->builtInEnglish());
    ASSERT_TRUE (r.window() != nullptr && r.window()->isVisible());
    EXPECT_EQ (r.part<juce::Label> ("settings-title").getText(), "Vantrel! Settings");
    EXPECT_EQ (r.part<juce::ComboBox> ("settings-language").getSelectedId(), 2);
}

TEST (SettingsPanel, TheMuterLineFollowsItsStateInTheCurrentLanguage)
{
    START_SETTINGS_RIG (r);
    auto& panel = r.open();
    struct Case { SystemSoundsStatus status; bool mute, english; const char* line; };
    for (const auto& c : std::vector<Case> {
             { { true, true, 2, ja ("一部のシステム音をミュートできません。") }, true, false, "システム音制御: 一部のシステム音をミュートできません。" },
             { { true, true, 2, ja ("一部のシステム音をミュートできません。") }, true, true, "System sound control: Some system sounds cannot be muted." },
             { { true, false, 0, {} }, true, true, "System sound control: checking the sound server..." },
             { { true, true, 3, {} }, true, false, "ミュートしたシステム音セッション: 3" },
             { { true, true, 0, {} }, false, true, "System sound mute is off; restoring the original state." },
             { { false, false, 0, {} }, true, false, "" } })
    {
        panel.soundsStatus = [&c] { return c.status; };
        SessionCoordinatorTestAccess::preferences (*r.session).muteSystemSounds = c.mute;
        setUiLanguage (c.english);
        panel.timerCallback();
        EXPECT_EQ (r.part<juce::Label> ("settings-os-status").getText(), ja (c.line));
    }
}

TEST (SettingsPanel, ProductInfoHidesOnEscapeAndComesBackTheSameInItsFirstLanguage)
{
    START_SETTINGS_RIG (r);
    auto& panel = r.open();
    r.click ("settings-about");
    auto* info = panel.productInfo();
    ASSERT_NE (info, nullptr);
    EXPECT_TRUE (info->isVisible() && info->isAlwaysOnTop());
    EXPECT_EQ (info->getName(), ja ("Vantrel! — 製品情報"));

    ASSERT_NE (info->getPeer(), nullptr);
    EXPECT_TRUE (info->getPeer()->handleKeyPress (juce::KeyPress (juce::KeyPress::escapeKey)));
    EXPECT_FALSE (info->isVisible());

    setUiLanguage (true);
    r.click ("settings-about");
    EXPECT_EQ (panel.productInfo(), info);
    EXPECT_TRUE (info->isVisible());
    EXPECT_EQ (info->getName(), ja ("Vantrel! — 製品情報"));

    r.click ("settings-cancel");
    EXPECT_FALSE (r.window()->isVisible());
}
} // namespace
} // namespace vantrel
