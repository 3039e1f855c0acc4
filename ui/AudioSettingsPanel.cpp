#include "ui/AudioSettingsPanel.h"

#include "app/SystemSoundsGuard.h"
#include "audio/output/DeviceCatalogue.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"
#include "ui/Theme.h"

namespace vantrel
{
namespace
{
juce::String utf8 (const char* text)  { return juce::String::fromUTF8 (text); }

const char* const unconfirmedMark = "（保存値・未確認）";
const char* const jackType = "JACK";

/** The type box's text for an output kind; only the JACK item follows the UI language. */
juce::String typeItemText (const juce::String& typeName)
{
    if (typeName == jackType)
        return utf8 (uiLanguage() ? "JACK — Audio server" : "JACK — オーディオサーバー");
    if (typeName == "ALSA")
        return translate ("ALSA（機器・システム出力）");
    return typeName;
}

juce::String typeHintText (const juce::String& typeName)
{
    if (typeName == jackType)
        return translate ("JACKサーバーのレートとバッファーで動作します。バッファーを大きくすると処理に余裕ができます。");
    return translate ("機器名の出力はシステムのミキサーを通しません。default・pulseはシステムの音量に従います。");
}

/** The muter's state as it was when the panel was built, with the error as the tooltip. */
void showSystemSounds (juce::Label& label)
{
    const auto status = SystemSoundsGuard::instance().status();
    const char* text = "システム音: Vantrel起動中は自動ミュート／終了時に復元";
    if (status.error.isNotEmpty())
        text = "システム音: 自動ミュートを確認できません";
    else if (status.mutedSessions > 0)
        text = "システム音: ミュート中（Vantrel終了時に元へ戻します）";
    else if (status.running)
        text = "システム音: 対象を監視中（終了時に元へ戻します）";
    label.setText (translate (text), juce::dontSendNotification);
    label.setTooltip (status.error.isNotEmpty()
                          ? translateMessage (status.error)
                          : translate ("デスクトップのイベント音（システム音）が対象です。各アプリ独自の通知音は、そのアプリ側で設定してください。"));
}

/** A channel's name, or its number when the device gives none (a combo box drops empty items). */
juce::String channelName (const juce::StringArray& names, int index)
{
    return names[index].isNotEmpty() ? names[index] : juce::String (index + 1);
}

/** A quarter-inch plug over the two driver names, in the palette colours `owner` finds: a plain
    mark of our own. */
juce::Image plugMark (const juce::Component& owner)
{
    const auto colour = [&owner] (int colourId) { return themeColour (owner, colourId); };
    juce::Image image (juce::Image::ARGB, 240, 224, true);
    juce::Graphics g (image);
    const float y = 84.0f;
    g.setColour (colour (dimTextColourId));
    g.drawLine (10.0f, y, 76.0f, y, 10.0f);                                 // cable
    g.setColour (colour (accentColourId));
    g.fillRoundedRectangle ({ 70.0f, y - 24.0f, 76.0f, 48.0f }, 10.0f);     // handle
    g.setColour (colour (panelColourId));
    for (const float x : { 86.0f, 100.0f, 114.0f, 128.0f })
        g.fillRect (x, y - 16.0f, 4.0f, 32.0f);                             // grip
    g.setColour (colour (textColourId));
    g.fillRect (146.0f, y - 10.0f, 54.0f, 20.0f);                           // sleeve
    g.setColour (colour (lineColourId));
    g.fillRect (200.0f, y - 9.0f, 6.0f, 18.0f);                             // insulating ring
    juce::Path tip;
    tip.startNewSubPath (206.0f, y - 9.0f);
    tip.lineTo (216.0f, y - 9.0f);
    tip.quadraticTo (232.0f, y, 216.0f, y + 9.0f);
    tip.lineTo (206.0f, y + 9.0f);
    tip.closeSubPath();
    g.setColour (colour (textColourId));
    g.fillPath (tip);
    g.setColour (colour (accentColourId));
    g.setFont (juce::Font (46.0f, juce::Font::bold));
    g.drawText ("JACK", 0, 124, 240, 52, juce::Justification::centred);
    g.setColour (colour (dimTextColourId));
    g.setFont (juce::Font (26.0f, juce::Font::bold));
    g.drawText ("ALSA", 0, 176, 240, 36, juce::Justification::centred);
    return image;
}
} // namespace

// ---- the credit block -------------------------------------------------------------------------------

AsioBranding::AsioBranding()
{
    setComponentID ("asio-branding");
    logo.setComponentID ("asio-official-logo");
    title.setComponentID ("asio-credit-title");
    title.setText (utf8 (uiLanguage() ? "JACK audio server support" : "JACK オーディオサーバー対応"), juce::dontSendNotification);
    title.setFont (juce::Font (15.0f, juce::Font::bold));
    credit.setComponentID ("asio-trademark-credit");
    credit.setText ("Audio output through the JACK Audio Connection\nKit and ALSA; libjack and alsa-lib are free\n"
                    "software under the GNU LGPL",
                    juce::dontSendNotification);
    credit.setFont (juce::Font (13.0f));
    credit.setJustificationType (juce::Justification::topLeft);
    for (auto* child : std::initializer_list<juce::Component*> { &logo, &title, &credit })
        addAndMakeVisible (child);
    lookAndFeelChanged();   // the mark exists before the block is placed
}

void AsioBranding::lookAndFeelChanged()
{
    logo.setImage (plugMark (*this), juce::RectanglePlacement::centred);
}

void AsioBranding::parentHierarchyChanged()
{
    lookAndFeelChanged();
}

void AsioBranding::colourChanged()
{
    lookAndFeelChanged();
}

void AsioBranding::resized()
{
    auto area = getLocalBounds();
    logo.setBounds (area.removeFromLeft (185).reduced (4));
    area.removeFromLeft (16);
    title.setBounds (area.getX(), area.getY() + 22, area.getWidth(), 32);
    credit.setBounds (area.getX(), title.getBottom() + 10, area.getWidth(), 100);
}

// ---- the panel --------------------------------------------------------------------------------------

AudioSettingsPanel::AudioSettingsPanel (SessionCoordinator& c) : coordinator (c)
{
    setComponentID ("audio-settings-panel");
    addAndMakeVisible (branding);
    const char* const rowTexts[] { "出力方式", "出力デバイス", "サンプルレート", "バッファー", "出力チャンネル" };
    for (size_t i = 0; i < rowLabels.size(); ++i)
    {
        rowLabels[i].setText (translate (rowTexts[i]), juce::dontSendNotification);
        addAndMakeVisible (rowLabels[i]);
    }
    typeBox.setComponentID ("audio-output-mode");
    deviceBox.setComponentID ("audio-output-endpoint");
    rateBox.setComponentID ("audio-sample-rate");
    bufferBox.setComponentID ("audio-buffer-size");
    pairBox.setComponentID ("audio-output-pair");
    deviceBox.setTextWhenNothingSelected (translate ("出力デバイスを選択"));
    for (auto* box : { &typeBox, &deviceBox, &rateBox, &bufferBox, &pairBox })
        addAndMakeVisible (box);

    typeHint.setComponentID ("audio-type-hint");
    typeHint.setFont (juce::Font (11.0f));
    applyResult.setComponentID ("audio-apply-result");
    applyResult.setFont (juce::Font (12.0f));
    applyResult.setJustificationType (juce::Justification::topLeft);
    applyResult.setColour (juce::Label::textColourId, juce::Colour (0xFFF5BD64));
    systemSounds.setComponentID ("system-sounds-status");
    systemSounds.setFont (juce::Font (11.0f));
    showSystemSounds (systemSounds);
    driverButton.setComponentID ("audio-driver-settings");
    driverButton.setButtonText (utf8 (uiLanguage() ? "Re-read JACK settings" : "JACK設定を再読込"));
    applyButton.setComponentID ("audio-apply");
    applyButton.setButtonText (translate ("適用"));
    for (auto* child : std::initializer_list<juce::Component*> { &typeHint, &applyResult, &systemSounds, &driverButton, &applyButton })
        addAndMakeVisible (child);

    typeNames = outputTypeNames();
    for (int i = 0; i < typeNames.size(); ++i)
        typeBox.addItem (typeItemText (typeNames[i]), i + 1);
    // An applied kind this build does not offer falls back to the last one listed.
    const int applied = typeNames.indexOf (coordinator.audioAdapter().storedOutputSettings().type);
    typeBox.setSelectedId ((applied >= 0 ? applied : typeNames.size() - 1) + 1, juce::dontSendNotification);

    typeBox.onChange = [this] { refreshDevices (false); };
    deviceBox.onChange = [this] { refreshCapabilities (false); };
    driverButton.onClick = [this] { driverSettings(); };
    applyButton.onClick = [this] { apply(); };

    refreshDevices (true);
    // With no output open the result line says from the start what was tried and why it failed.
    applyResult.setText (coordinator.outputProblem(), juce::dontSendNotification);
    setSize (650, 564);
}

AudioSettingsPanel::~AudioSettingsPanel() = default;

void AudioSettingsPanel::refreshDevices (bool initial)
{
    devices.clear();
    deviceBox.clear (juce::dontSendNotification);
    const int typeIndex = typeBox.getSelectedId() - 1;
    if (juce::isPositiveAndBelow (typeIndex, typeNames.size()))
        devices = coordinator.audioAdapter().listOutputDevices ({ typeNames[typeIndex], {}, {}, 0.0, 0, 0 });

    const auto& current = coordinator.audioAdapter().storedOutputSettings();
    // Only the open output is shown as chosen.
    const bool open = coordinator.isOutputOpen();
    int chosen = -1;
    for (size_t i = 0; i < devices.size(); ++i)
    {
        const auto& device = devices[i];
        deviceBox.addItem (device.name.isNotEmpty() ? device.name : device.id, (int) i + 1);
        if (open && device.type == current.type && device.id == current.id)
            chosen = (int) i;
    }
    // A saved device that is not present, or did not open, is not replaced silently: the box
    // shows no choice until the operator makes one.
    deviceBox.setSelectedId (chosen + 1, juce::dontSendNotification);

    refreshCapabilities (initial);
    typeHint.setText (typeHintText (typeNames[typeIndex]), juce::dontSendNotification);
}

void AudioSettingsPanel::refreshCapabilities (bool initial)
{
    for (auto* box : { &rateBox, &bufferBox, &pairBox })
        box->clear (juce::dontSendNotification);
    rateBox.addItem (translate ("自動（対応レート）"), 1);
    bufferBox.addItem (translate ("ドライバー既定"), 1);
    capabilities = {};
    rateUnconfirmed = bufferUnconfirmed = false;

    const int deviceIndex = deviceBox.getSelectedId() - 1;
    if (juce::isPositiveAndBelow (deviceIndex, (int) devices.size()))
        capabilities = coordinator.audioAdapter().deviceCapabilities (devices[(size_t) deviceIndex]);

    // A device change starts from the automatic choices.
    const auto reference = initial ? coordinator.audioAdapter().storedOutputSettings() : OutputDeviceSettings {};
    if (capabilities.sampleRates.isEmpty() && reference.sampleRate > 0.0)
    {
        capabilities.sampleRates.add (reference.sampleRate);
        rateUnconfirmed = true;
    }
    if (capabilities.bufferSizes.isEmpty() && reference.bufferSize > 0)
    {
        capabilities.bufferSizes.add (reference.bufferSize);
        bufferUnconfirmed = true;
    }

    int rateId = 1, bufferId = 1, pairId = 1;
    for (int i = 0; i < capabilities.sampleRates.size(); ++i)
    {
        const double rate = capabilities.sampleRates[i];
        rateBox.addItem (juce::String (rate / 1000.0, 1) + " kHz" + (rateUnconfirmed ? translate (unconfirmedMark) : juce::String()), i + 2);
        if (rate == reference.sampleRate)
            rateId = i + 2;
    }
    for (int i = 0; i < capabilities.bufferSizes.size(); ++i)
    {
        const int size = capabilities.bufferSizes[i];
        bufferBox.addItem (juce::String (size) + " samples" + (bufferUnconfirmed ? translate (unconfirmedMark) : juce::String()), i + 2);
        if (size == reference.bufferSize)
            bufferId = i + 2;
    }
    const auto& channels = capabilities.outputChannelNames;
    for (int i = 0; i < channels.size(); i += 2)
    {
        const auto text = channelName (channels, i) + (i + 1 < channels.size() ? " / " + channelName (channels, i + 1) : juce::String());
        pairBox.addItem (text, i / 2 + 1);
        if (i / 2 == reference.outputPair)
            pairId = i / 2 + 1;
    }
    if (channels.isEmpty())
        pairBox.addItem (translate ("1 / 2（機器接続時に確認）"), 1);

    rateBox.setSelectedId (rateId, juce::dontSendNotification);
    bufferBox.setSelectedId (bufferId, juce::dontSendNotification);
    pairBox.setSelectedId (pairId, juce::dontSendNotification);
    updateDriverButton();
}

OutputDeviceSettings AudioSettingsPanel::selectedSettings() const
{
    const int deviceIndex = deviceBox.getSelectedId() - 1;
    if (! juce::isPositiveAndBelow (deviceIndex, (int) devices.size()))
        return {};
    auto settings = devices[(size_t) deviceIndex];
    const int rateIndex = rateBox.getSelectedId() - 2;
    const int bufferIndex = bufferBox.getSelectedId() - 2;
    settings.sampleRate = juce::isPositiveAndBelow (rateIndex, capabilities.sampleRates.size()) ? capabilities.sampleRates[rateIndex] : 0.0;
    settings.bufferSize = juce::isPositiveAndBelow (bufferIndex, capabilities.bufferSizes.size()) ? capabilities.bufferSizes[bufferIndex] : 0;
    settings.outputPair = pairBox.getSelectedId() >= 2 ? pairBox.getSelectedId() - 1 : 0;
    return settings;
}

void AudioSettingsPanel::apply()
{
    const auto settings = selectedSettings();
    if (settings.id.isEmpty())
    {
        applyResult.setText (translate ("出力デバイスを選択してください。設定はまだ変更していません。"), juce::dontSendNotification);
        return;
    }
    // A refused or failed change keeps the choice on screen; the coordinator has put the
    // previous output back and says what happened.
    const bool applied = coordinator.applyOutputDevice (settings);
    applyResult.setText (applied ? translate ("出力設定を適用しました") : coordinator.outputMessage(), juce::dontSendNotification);
    updateDriverButton();
    if (applied && onDone != nullptr)
        onDone();
}

void AudioSettingsPanel::driverSettings()
{
    // Refused silently while the output may not change; the boxes show what the driver offers
    // now either way.
    if (coordinator.canChangeOutput())
        coordinator.showDriverControlPanel();
    refreshCapabilities (true);
}

void AudioSettingsPanel::updateDriverButton()
{
    driverButton.setEnabled (coordinator.audioAdapter().storedOutputSettings().type == jackType && coordinator.isOutputOpen());
}

void AudioSettingsPanel::paint (juce::Graphics& g)
{
    g.fillAll (themeColour (*this, panelColourId));
}

void AudioSettingsPanel::resized()
{
    auto content = getLocalBounds().reduced (6);
    applyButton.setBounds (content.removeFromBottom (32).removeFromRight (105));
    branding.setBounds (content.removeFromBottom (180));
    content.removeFromBottom (8);

    juce::Component* const boxes[] { &typeBox, &deviceBox, &rateBox, &bufferBox, &pairBox };
    for (size_t i = 0; i < rowLabels.size(); ++i)
    {
        auto row = content.removeFromTop (35);
        rowLabels[i].setBounds (row.removeFromLeft (125));
        boxes[i]->setBounds (row.withTrimmedTop (3).withHeight (row.getHeight() - 6));
    }
    driverButton.setBounds (content.removeFromTop (32).removeFromRight (175));
    typeHint.setBounds (content.removeFromTop (40).withHeight (32));
    systemSounds.setBounds (content.removeFromTop (28));
    applyResult.setBounds (content.withTrimmedTop (3));
}
} // namespace vantrel
