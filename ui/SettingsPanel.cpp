#include "ui/SettingsPanel.h"

#include "session/UiLanguage.h"
#include "session/UiText.h"
#include "ui/ProductInfoWindow.h"
#include "ui/Theme.h"

#include <algorithm>

namespace vantrel
{
namespace
{
juce::String utf8 (const char* text) { return juce::String::fromUTF8 (text); }

std::vector<KeyBinding> makeKeyChoices()
{
    std::vector<KeyBinding> keys { {} };
    for (const int code : { vk::enter, vk::space, vk::backspace, vk::del, vk::left, vk::up, vk::right, vk::down })
        keys.push_back ({ {}, code, false, false });
    for (int code = vk::numpad0; code <= vk::numpad9; ++code)
        keys.push_back ({ {}, code, false, false });
    for (int code = vk::f1; code <= vk::f12; ++code)
        keys.push_back ({ {}, code, false, false });
    for (const bool shift : { false, true })
        for (int code = vk::letterA; code <= vk::letterZ; ++code)
            keys.push_back ({ {}, code, true, shift });
    return keys;
}

/** One text of the page in both languages. */
struct PageText
{
    const char* japanese;
    const char* english;
};

constexpr PageText scopeTexts[Preferences::numLocks] {
    { "プレイリスト・曲の編集", "Playlist / track editing" }, { "各トラックの音量・EQ", "Track gain / EQ" },
    { "波形の直接シーク", "Direct waveform seek" }, { "マスター音量", "Master gain" }, { "マスターEQ", "Master EQ" },
    { "LIMITER・DYNAMICS", "Limiter / dynamics" }, { "VST", "VST" }, { "出力設定", "Audio output" },
};
constexpr const char* colourRowNames[Preferences::numColours] { "OUTGOING", "MAIN", "READY" };
constexpr const char* colourRowIds[Preferences::numColours] { "settings-colour-outgoing", "settings-colour-main",
                                                              "settings-colour-ready" };

/** The muter's status line in the current language; empty while the muter does not run. */
juce::String soundsLine (const SystemSoundsStatus& s, bool muteWanted)
{
    const bool en = uiLanguage() != 0;
    const auto say = [en] (const char* japanese, const char* english) { return en ? utf8 (english) : utf8 (japanese); };

    if (s.error.isNotEmpty())
        return say ("システム音制御: ", "System sound control: ") + translateMessage (s.error);
    if (! s.running)
        return {};
    if (! s.ready)
        return say ("システム音制御: サウンドサーバーの状態を確認中…", "System sound control: checking the sound server...");
    if (muteWanted)
        return say ("ミュートしたシステム音セッション: ", "System sound sessions muted: ") + juce::String (s.mutedSessions);
    return say ("システム音ミュートはOFF・元の状態へ復元します。", "System sound mute is off; restoring the original state.");
}
} // namespace

const std::array<SettingsPanel::PaletteEntry, 9>& SettingsPanel::palette()
{
    static const std::array<PaletteEntry, 9> entries { { { "Green", 0xFF48DE8A }, { "Amber", 0xFFE4B263 },
                                                         { "Blue", 0xFF77ADF5 }, { "Cyan", 0xFF9CDDE8 },
                                                         { "Red", 0xFFEF7776 }, { "Violet", 0xFFB398ED },
                                                         { "Pink", 0xFFE799C7 }, { "White", 0xFFEDF3F6 },
                                                         { "Lime", 0xFFCADF7B } } };
    return entries;
}

const std::vector<KeyBinding>& SettingsPanel::keyChoices()
{
    static const std::vector<KeyBinding> keys = makeKeyChoices();
    return keys;
}

SettingsPanel::SettingsPanel (SessionCoordinator& c)
    : coordinator (c), prefs (c.currentPreferences()), english (uiLanguage() != 0)
{
    setComponentID ("settings-panel");
    soundsStatus = [] { return SystemSoundsGuard::instance().status(); };

    title.setText (pick ("Vantrel! 設定", "Vantrel! Settings"), juce::dontSendNotification);
    title.setFont (juce::Font (20.0f, juce::Font::bold));
    title.setComponentID ("settings-title");
    languageCaption.setText (pick ("表示言語", "Language"), juce::dontSendNotification);
    note.setText (pick ("音の設定はサウンドサーバー（PulseAudio・PipeWire）の「イベント音」だけが対象です。"
                        "独自に音を鳴らすアプリは対象外です。\n"
                        "終了時に元のミュート状態へ戻します。PADとプレイリスト全体の音量・EQはLIVE LOCKの対象外です。",
                        "Sound control applies to the sound server's event sounds (PulseAudio / PipeWire). "
                        "Other apps keep their own audio.\n"
                        "Original mute state is restored on exit. PAD and playlist bus gain/EQ remain outside LIVE LOCK."),
                  juce::dontSendNotification);
    note.setFont (juce::Font (11.0f));
    note.setJustificationType (juce::Justification::topLeft);
    note.setMinimumHorizontalScale (1.0f);
    scopeCaption.setText (pick ("LIVE LOCKで固定する操作", "Operations protected by LIVE LOCK"), juce::dontSendNotification);
    coloursCaption.setText (pick ("波形の色", "Waveform colours"), juce::dontSendNotification);
    shortcutsCaption.setText (pick ("ショートカット（文字入力・変換中は無効）", "Shortcuts (disabled during text input / IME)"),
                              juce::dontSendNotification);
    status.setComponentID ("settings-status");
    osStatus.setComponentID ("settings-os-status");
    osStatus.setFont (juce::Font (11.0f));

    language.setComponentID ("settings-language");
    language.addItem (utf8 ("日本語"), 1);
    language.addItem ("English", 2);
    language.setSelectedId (prefs.english ? 2 : 1, juce::dontSendNotification);

    // The muter works on the sound server's event sounds (the PulseAudio / PipeWire event role).
    const std::pair<juce::ToggleButton*, PageText> switches[] {
        { &sleep, { "起動中のスリープを防ぐ", "Prevent sleep while running" } },
        { &display, { "起動中の画面消灯を防ぐ", "Keep display on while running" } },
        { &sounds, { "デスクトップのシステム音・通知音（イベント音）をミュート", "Mute desktop system/notification sounds (event sounds)" } },
    };
    for (const auto& [toggle, text] : switches)
        toggle->setButtonText (pick (text.japanese, text.english));
    sleep.setComponentID ("settings-sleep");
    display.setComponentID ("settings-display");
    sounds.setComponentID ("settings-sounds");
    sleep.setToggleState (prefs.preventSleep, juce::dontSendNotification);
    display.setToggleState (prefs.preventDisplayOff, juce::dontSendNotification);
    sounds.setToggleState (prefs.muteSystemSounds, juce::dontSendNotification);

    for (size_t i = 0; i < scopes.size(); ++i)
    {
        scopes[i].setButtonText (pick (scopeTexts[i].japanese, scopeTexts[i].english));
        scopes[i].setComponentID ("settings-lock-" + juce::String ((int) i));
        scopes[i].setToggleState (prefs.locks[i], juce::dontSendNotification);
    }

    for (size_t i = 0; i < colourBoxes.size(); ++i)
    {
        colourCaptions[i].setText (colourRowNames[i], juce::dontSendNotification);
        auto& box = colourBoxes[i];
        box.setComponentID (colourRowIds[i]);
        for (size_t entry = 0; entry < palette().size(); ++entry)
            box.addItem (palette()[entry].name, (int) entry + 1);
        // A stored colour that the palette does not hold leaves the box empty; saving keeps it.
        const auto found = std::find_if (palette().begin(), palette().end(),
                                         [&] (const PaletteEntry& e) { return e.argb == prefs.colours[i]; });
        box.setSelectedId (found != palette().end() ? (int) (found - palette().begin()) + 1 : 0, juce::dontSendNotification);
    }

    action.setComponentID ("settings-action");
    for (size_t i = 0; i < prefs.keys.size(); ++i)
        action.addItem (prefs.keys[i].action, (int) i + 1);
    key.setComponentID ("settings-key");
    for (size_t i = 0; i < keyChoices().size(); ++i)
        key.addItem (shortcutText (keyChoices()[i]), (int) i + 1);
    action.onChange = [this] { actionChanged(); };
    key.onChange = [this] { keyChanged(); };

    reset.setButtonText (pick ("キー設定を初期値へ", "Reset shortcuts"));
    reset.setComponentID ("settings-reset");
    apply.setButtonText (pick ("保存して適用", "Save and apply"));
    apply.setComponentID ("settings-apply");
    cancelButton.setButtonText (pick ("キャンセル", "Cancel"));
    cancelButton.setComponentID ("settings-cancel");
    about.setButtonText (pick ("製品情報", "About"));
    about.setComponentID ("settings-about");
    reset.onClick = [this] { resetKeys(); };
    apply.onClick = [this] { saveAndApply(); };
    cancelButton.onClick = [this] { cancel(); };
    about.onClick = [this] { showAbout(); };

    for (juce::Component* child : std::initializer_list<juce::Component*> {
             &title, &about, &languageCaption, &language, &sleep, &display, &sounds, &note, &scopeCaption })
        addAndMakeVisible (child);
    for (auto& scope : scopes)
        addAndMakeVisible (scope);
    addAndMakeVisible (coloursCaption);
    for (size_t i = 0; i < colourBoxes.size(); ++i)
    {
        addAndMakeVisible (colourCaptions[i]);
        addAndMakeVisible (colourBoxes[i]);
    }
    for (juce::Component* child : std::initializer_list<juce::Component*> {
             &shortcutsCaption, &action, &key, &reset, &status, &osStatus, &cancelButton, &apply })
        addAndMakeVisible (child);

    action.setSelectedId (1, juce::dontSendNotification);
    actionChanged();
    setSize (790, 620);
    timerCallback();
    startTimerHz (2);
}

SettingsPanel::~SettingsPanel()
{
    stopTimer();
    productInfoWindow.reset();
}

juce::String SettingsPanel::pick (const char* ja, const char* en) const
{
    return utf8 (english ? en : ja);
}

void SettingsPanel::paint (juce::Graphics& g)
{
    g.fillAll (themeColour (*this, panelColourId));
}

void SettingsPanel::parentHierarchyChanged()
{
    takeColours();
}

void SettingsPanel::lookAndFeelChanged()
{
    takeColours();
}

void SettingsPanel::takeColours()
{
    for (auto* dim : { &note, &osStatus })
        dim->setColour (juce::Label::textColourId, themeColour (*this, dimTextColourId));
}

void SettingsPanel::resized()
{
    // The page runs 750 wide from 18 px in and 10 px down; its rows are carved from its top in
    // reading order, each row's parts from its left, the buttons from its right. The second of
    // two columns starts 377 px in; the right column and the buttons end 3 px inside the page.
    constexpr int secondColumn = 377, rightInset = 3, columnWidth = 370;
    auto page = getLocalBounds().withTrimmedLeft (18).withWidth (750).withTrimmedTop (10);

    auto header = page.removeFromTop (34);
    title.setBounds (header.removeFromLeft (570));
    about.setBounds (header.withTrimmedRight (rightInset).removeFromRight (145).withHeight (32));
    page.removeFromTop (8);

    auto languageRow = page.removeFromTop (28);
    languageCaption.setBounds (languageRow.removeFromLeft (250));
    languageRow.removeFromLeft (12);
    language.setBounds (languageRow.removeFromLeft (220));
    page.removeFromTop (12);

    auto powerRow = page.removeFromTop (28);
    sleep.setBounds (powerRow.removeFromLeft (secondColumn).withWidth (350));
    display.setBounds (powerRow.withTrimmedRight (rightInset));
    page.removeFromTop (6);
    sounds.setBounds (page.removeFromTop (28).withWidth (730));
    page.removeFromTop (4);
    note.setBounds (page.removeFromTop (52));
    page.removeFromTop (12);

    scopeCaption.setBounds (page.removeFromTop (25));
    page.removeFromTop (4);
    for (size_t i = 0; i < scopes.size(); i += 2)   // two switches a line, 2 px between the lines
    {
        auto line = page.removeFromTop (29).withHeight (27);
        scopes[i].setBounds (line.removeFromLeft (secondColumn).withWidth (columnWidth));
        if (i + 1 < scopes.size())
            scopes[i + 1].setBounds (line.withTrimmedRight (rightInset));
    }
    page.removeFromTop (11);

    coloursCaption.setBounds (page.removeFromTop (26));
    page.removeFromTop (6);
    auto colourRow = page.removeFromTop (26);
    for (size_t i = 0; i < colourBoxes.size(); ++i)   // caption and box, 20 px to the next pair
    {
        colourCaptions[i].setBounds (colourRow.removeFromLeft (87));
        colourRow.removeFromLeft (3);
        colourBoxes[i].setBounds (colourRow.removeFromLeft (143));
        colourRow.removeFromLeft (20);
    }
    page.removeFromTop (14);

    shortcutsCaption.setBounds (page.removeFromTop (25));
    page.removeFromTop (6);
    auto keyRow = page.removeFromTop (30);
    action.setBounds (keyRow.removeFromLeft (260));
    keyRow.removeFromLeft (8);
    key.setBounds (keyRow.removeFromLeft (210));
    keyRow.removeFromLeft (16);
    reset.setBounds (keyRow.removeFromLeft (250));
    page.removeFromTop (14);

    status.setBounds (page.removeFromTop (28));
    osStatus.setBounds (page.removeFromTop (20));
    page.removeFromTop (1);
    auto footer = page.removeFromTop (30).withTrimmedRight (rightInset);
    apply.setBounds (footer.removeFromRight (175));
    footer.removeFromRight (10);
    cancelButton.setBounds (footer.removeFromRight (140));
}

void SettingsPanel::timerCallback()
{
    for (auto& scope : scopes)
        scope.setEnabled (! coordinator.isLiveLockOn());

    const auto line = soundsLine (soundsStatus(), coordinator.currentPreferences().muteSystemSounds);
    osStatus.setText (line, juce::dontSendNotification);
    osStatus.setTooltip (line);
}

void SettingsPanel::actionChanged()
{
    const int a = action.getSelectedId() - 1;
    if (a < 0 || a >= (int) prefs.keys.size())
        return;

    // A binding the boxes do not offer (a hand-edited file) shows no key rather than the last one.
    const auto& binding = prefs.keys[(size_t) a];
    const auto& choices = keyChoices();
    const auto found = std::find_if (choices.begin(), choices.end(), [&] (const KeyBinding& k) {
        return k.key == binding.key && k.ctrl == binding.ctrl && k.shift == binding.shift;
    });
    const juce::ScopedValueSetter<bool> guard (syncingKey, true);
    key.setSelectedId (found != choices.end() ? (int) (found - choices.begin()) + 1 : 0, juce::dontSendNotification);
}

void SettingsPanel::keyChanged()
{
    const int a = action.getSelectedId() - 1, k = key.getSelectedId() - 1;
    if (syncingKey || a < 0 || a >= (int) prefs.keys.size() || k < 0 || k >= (int) keyChoices().size())
        return;

    // An invalid table stays in the working copy: the line says why, and the save refuses it.
    auto& binding = prefs.keys[(size_t) a];
    const auto& choice = keyChoices()[(size_t) k];
    binding.key = choice.key;
    binding.ctrl = choice.ctrl;
    binding.shift = choice.shift;
    status.setText (prefs.validateShortcuts(), juce::dontSendNotification);
}

void SettingsPanel::resetKeys()
{
    prefs.keys = defaultKeyBindings();
    actionChanged();
    // The default table is valid: a conflict reported before no longer holds.
    status.setText (prefs.validateShortcuts(), juce::dontSendNotification);
}

void SettingsPanel::saveAndApply()
{
    prefs.english = language.getSelectedId() == 2;
    prefs.preventSleep = sleep.getToggleState();
    prefs.preventDisplayOff = display.getToggleState();
    prefs.muteSystemSounds = sounds.getToggleState();
    for (size_t i = 0; i < scopes.size(); ++i)
        prefs.locks[i] = scopes[i].getToggleState();
    for (size_t i = 0; i < colourBoxes.size(); ++i)
        if (const int id = colourBoxes[i].getSelectedId(); id >= 1 && id <= (int) palette().size())
            prefs.colours[i] = palette()[(size_t) id - 1].argb;

    const auto result = coordinator.applyPreferences (prefs);
    if (result.ok)
        status.setText (prefs.english ? "Saved and applied." : utf8 ("保存して反映しました。"), juce::dontSendNotification);
    else
        status.setText (result.message, juce::dontSendNotification);
}

void SettingsPanel::cancel()
{
    // The page and its working copy stay as they are until the window is built again.
    if (auto* window = findParentComponentOfClass<juce::DocumentWindow>())
        window->setVisible (false);
}

void SettingsPanel::showAbout()
{
    if (productInfoWindow == nullptr)
        productInfoWindow = std::make_unique<ProductInfoWindow>();
    productInfoWindow->setVisible (true);
    productInfoWindow->toFront (true);
}
} // namespace vantrel
