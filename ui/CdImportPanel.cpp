#include "ui/CdImportPanel.h"

#include "session/UiText.h"
#include "ui/Theme.h"

#include <algorithm>

namespace vantrel
{
namespace
{
constexpr int wavFormat = 1, mp3Format = 2;

/** A track's length as minutes:seconds, each at least two digits (75 sectors a second). */
juce::String lengthText (const CdTrack& track)
{
    const int minutes = track.sectorCount / 4500;
    const int seconds = track.sectorCount / 75 - minutes * 60;
    return juce::String (minutes).paddedLeft ('0', 2) + ":" + juce::String (seconds).paddedLeft ('0', 2);
}

/** Another count of discs, or another disc at some position. */
bool discsDiffer (const std::vector<CdDisc>& a, const std::vector<CdDisc>& b)
{
    if (a.size() != b.size())
        return true;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].discKey != b[i].discKey)
            return true;
    return false;
}
} // namespace

CdImportPanel::CdImportPanel (SessionCoordinator& c) : coordinator (c)
{
    setComponentID ("cd-import-panel");

    titleLabel.setText (translate ("音楽CD"), juce::dontSendNotification);
    titleLabel.setFont (juce::Font (12.0f, juce::Font::bold));
    paletteParts.bind (titleLabel, juce::Label::textColourId, textColourId);
    const std::pair<juce::Label*, const char*> captions[] { { &nameLabel, "新しいプレイリスト名" }, { &formatLabel, "形式" },
                                                           { &rateLabel, "サンプリング周波数" },
                                                           { &bitrateLabel, "MP3 ビットレート" } };
    for (const auto& [label, text] : captions)
    {
        label->setText (translate (text), juce::dontSendNotification);
        label->setFont (juce::Font (12.0f));
        paletteParts.bind (*label, juce::Label::textColourId, dimTextColourId);
    }
    hintLabel.setText (translate ("曲名は取込後に変更できます。音源はPCに保存され、CDを取り出しても再生できます。"),
                       juce::dontSendNotification);
    hintLabel.setFont (juce::Font (11.0f));
    paletteParts.bind (hintLabel, juce::Label::textColourId, dimTextColourId);
    hintLabel.setJustificationType (juce::Justification::topLeft);
    statusLabel.setFont (juce::Font (12.0f));
    statusLabel.setJustificationType (juce::Justification::topLeft);
    statusLabel.setComponentID ("cd-status");

    discCombo.setComponentID ("cd-discs");
    discCombo.onChange = [this] { showSelectedDisc(); };
    formatCombo.setComponentID ("cd-format");
    formatCombo.addItem ("WAV / 44.1 kHz / 16-bit", wavFormat);
    formatCombo.addItem ("MP3", mp3Format);
    formatCombo.setSelectedId (wavFormat, juce::dontSendNotification);
    formatCombo.onChange = [this] { timerCallback(); };   // the rate and bit rate follow at once
    rateCombo.setComponentID ("cd-rate");
    for (const int rate : { 32000, 44100, 48000 })
        rateCombo.addItem (juce::String (rate / 1000.0, 1) + " kHz", rate);
    rateCombo.setSelectedId (44100, juce::dontSendNotification);
    bitrateCombo.setComponentID ("cd-bitrate");
    for (const int kbps : { 128, 192, 256, 320 })
        bitrateCombo.addItem (juce::String (kbps) + " kbps", kbps);
    bitrateCombo.setSelectedId (320, juce::dontSendNotification);
    nameEditor.setComponentID ("cd-name");

    const std::pair<juce::TextButton*, const char*> buttons[] { { &selectAllButton, "全曲選択" }, { &selectNoneButton, "選択解除" },
                                                               { &importButton, "新しいプレイリストへ取込" },
                                                               { &cancelButton, "取込をキャンセル" } };
    for (const auto& [button, text] : buttons)
    {
        button->setButtonText (translate (text));
        button->setWantsKeyboardFocus (false);
    }
    selectAllButton.setComponentID ("cd-select-all");
    selectNoneButton.setComponentID ("cd-select-none");
    importButton.setComponentID ("cd-start");
    cancelButton.setComponentID ("cd-cancel");
    selectAllButton.onClick = [this]
    {
        std::fill (selection.begin(), selection.end(), true);
        trackList.repaint();
    };
    selectNoneButton.onClick = [this]
    {
        std::fill (selection.begin(), selection.end(), false);
        trackList.repaint();
    };
    importButton.onClick = [this] { startImport(); };
    cancelButton.onClick = [this]
    {
        coordinator.cancelCdImport();
    };

    trackList.setComponentID ("cd-tracks");
    trackList.setModel (this);
    trackList.setRowHeight (28);
    paletteParts.bind (trackList, juce::ListBox::backgroundColourId, fieldColourId);
    paletteParts.bind (trackList, juce::ListBox::outlineColourId, lineColourId);
    paletteParts.apply (*this);
    trackList.setOutlineThickness (1);
    progressBar.setComponentID ("cd-progress");

    for (juce::Component* child : std::initializer_list<juce::Component*> {
             &titleLabel, &nameLabel, &formatLabel, &rateLabel, &bitrateLabel, &statusLabel, &hintLabel, &discCombo,
             &formatCombo, &rateCombo, &bitrateCombo, &nameEditor, &selectAllButton, &selectNoneButton, &importButton,
             &cancelButton, &trackList, &progressBar })
        addAndMakeVisible (child);
    setSize (610, 560);

    startTimerHz (3);
    timerCallback();
}

CdImportPanel::~CdImportPanel()
{
    stopTimer();
    trackList.setModel (nullptr);
}

const CdDisc* CdImportPanel::selectedDisc() const
{
    const int index = discCombo.getSelectedId() - 1;
    return index >= 0 && index < (int) discs.size() ? &discs[(size_t) index] : nullptr;
}

void CdImportPanel::showSelectedDisc()
{
    if (const auto* disc = selectedDisc(); disc == nullptr)
    {
        shownDiscKey.clear();
        selection.clear();
    }
    else if (disc->discKey != shownDiscKey)
    {
        shownDiscKey = disc->discKey;
        selection.assign (disc->tracks.size(), true);
        nameEditor.setText (disc->title, false);
    }
    trackList.updateContent();
    trackList.repaint();
}

std::vector<int> CdImportPanel::tickedTracks() const
{
    std::vector<int> numbers;
    if (const auto* disc = selectedDisc())
        for (size_t i = 0; i < disc->tracks.size() && i < selection.size(); ++i)
            if (selection[i])
                numbers.push_back (disc->tracks[i].number);
    return numbers;
}

bool CdImportPanel::editingLocked() const
{
    return coordinator.isLocked (LockScope::playlistEditing);
}

void CdImportPanel::startImport()
{
    const auto* disc = selectedDisc();
    if (disc == nullptr)
        return;
    CdImportOptions options;
    options.discKey = disc->discKey;
    options.playlistName = nameEditor.getText();
    options.mp3 = formatCombo.getSelectedId() == mp3Format;
    options.mp3SampleRate = rateCombo.getSelectedId();
    options.mp3BitrateKbps = bitrateCombo.getSelectedId();
    options.tracks = tickedTracks();
    coordinator.startCdImport (std::move (options));
    timerCallback();
}

juce::String CdImportPanel::unavailableText() const
{
    // The importer is made when the session starts with audio and its data needs no recovery.
    if (coordinator.needsRecovery())
        return translate ("保存データの復旧確認が終わるまでCD取込は使えません");
    if (! coordinator.hasAudio())
        return translate ("音声なしで起動しているためCD取込は使えません");
    return translate ("CD取込はVantrel!の再起動後に使えます");
}

void CdImportPanel::timerCallback()
{
    const auto s = cdImportState (coordinator);

    // While an import runs the list stays that of the disc being imported.
    if (! s.busy && discsDiffer (s.discs, discs))
    {
        const auto remembered = shownDiscKey;
        discs = s.discs;
        discCombo.clear (juce::dontSendNotification);
        int chosen = discs.empty() ? 0 : 1;
        for (size_t i = 0; i < discs.size(); ++i)
        {
            discCombo.addItem (discs[i].title + " (" + discs[i].drive + ")", (int) i + 1);
            if (discs[i].discKey == remembered)
                chosen = (int) i + 1;
        }
        discCombo.setSelectedId (chosen, juce::dontSendNotification);
        showSelectedDisc();
    }

    const bool idle = ! s.busy, locked = editingLocked();
    for (juce::Component* control : std::initializer_list<juce::Component*> { &discCombo, &nameEditor, &formatCombo, &selectAllButton,
                                                                               &selectNoneButton, &trackList })
        control->setEnabled (idle);
    const bool mp3 = formatCombo.getSelectedId() == mp3Format;
    rateCombo.setEnabled (idle && mp3);
    bitrateCombo.setEnabled (idle && mp3);
    // Enabled only when a click would reach the importer with a request it takes.
    importButton.setEnabled (idle && coordinator.hasCdImporter() && ! locked && ! coordinator.needsRecovery()
                             && selectedDisc() != nullptr && nameEditor.getText().trim().isNotEmpty() && ! tickedTracks().empty());
    cancelButton.setEnabled (s.busy);
    progress = s.progress;

    juce::String text;
    if (s.error.isNotEmpty())
        text = s.error;
    else if (! coordinator.hasCdImporter())
        text = unavailableText();
    else if (locked)
        text = translate ("LIVE LOCKを解除すると取込・登録できます");
    else if (s.status.isNotEmpty())
        text = s.status;
    else if (discs.empty())
        text = translate ("音楽CDを入れると表示します");
    else
        text = translate ("取り込む曲と形式を選んでください");
    statusLabel.setText (text, juce::dontSendNotification);
    statusLabel.setColour (juce::Label::textColourId, themeColour (*this, s.error.isNotEmpty() ? alertColourId : accentColourId));
}

// ---- the track list ----------------------------------------------------------------------------

int CdImportPanel::getNumRows()
{
    const auto* disc = selectedDisc();
    return disc != nullptr ? (int) disc->tracks.size() : 0;
}

juce::String CdImportPanel::getNameForRow (int row)
{
    const auto* disc = selectedDisc();
    if (disc == nullptr || row < 0 || row >= (int) disc->tracks.size())
        return {};
    const auto& track = disc->tracks[(size_t) row];
    return track.name + " " + lengthText (track);
}

void CdImportPanel::toggleTrack (int row)
{
    if (row < 0 || row >= (int) selection.size())
        return;
    selection[(size_t) row] = ! selection[(size_t) row];
    trackList.repaint();
}

void CdImportPanel::listBoxItemClicked (int row, const juce::MouseEvent&)
{
    toggleTrack (row);
}

void CdImportPanel::paintListBoxItem (int row, juce::Graphics& g, int width, int height, bool)
{
    const auto* disc = selectedDisc();
    if (disc == nullptr || row < 0 || row >= (int) disc->tracks.size())
        return;
    const auto& track = disc->tracks[(size_t) row];
    g.setColour (themeColour (trackList, dimTextColourId));
    g.drawRect (5, 7, 14, 14, 1);
    if (row < (int) selection.size() && selection[(size_t) row])
    {
        g.setColour (themeColour (trackList, goColourId));
        g.fillRect (8, 10, 8, 8);
    }
    g.setColour (themeColour (trackList, textColourId));
    g.setFont (13.0f);
    g.drawText (track.name, 28, 0, width - 95, height, juce::Justification::centredLeft, true);
    g.drawText (lengthText (track), width - 65, 0, 60, height, juce::Justification::centredRight, false);
}

// ---- painting and layout -----------------------------------------------------------------------

void CdImportPanel::paint (juce::Graphics& g)
{
    g.fillAll (themeColour (*this, panelColourId));
}

void CdImportPanel::lookAndFeelChanged()
{
    paletteParts.apply (*this);
}

void CdImportPanel::parentHierarchyChanged()
{
    paletteParts.apply (*this);
}

void CdImportPanel::colourChanged()
{
    paletteParts.apply (*this);
}

void CdImportPanel::resized()
{
    auto area = getLocalBounds().reduced (12);
    const int W = area.getWidth();

    titleLabel.setBounds (area.removeFromTop (18));
    discCombo.setBounds (area.removeFromTop (30));
    area.removeFromTop (8);
    nameLabel.setBounds (area.removeFromTop (18));
    nameEditor.setBounds (area.removeFromTop (29));
    area.removeFromTop (8);

    const int c1 = std::min (W, 230), c2 = std::min (W - c1, 175);
    auto captions = area.removeFromTop (18);
    formatLabel.setBounds (captions.removeFromLeft (c1));
    rateLabel.setBounds (captions.removeFromLeft (c2));
    bitrateLabel.setBounds (captions);
    auto choices = area.removeFromTop (30);
    formatCombo.setBounds (choices.removeFromLeft (c1).withWidth (std::max (c1 - 8, 0)));
    rateCombo.setBounds (choices.removeFromLeft (c2).withWidth (std::max (c2 - 8, 0)));
    bitrateCombo.setBounds (choices);
    area.removeFromTop (8);

    auto selectRow = area.removeFromTop (25);
    const int b = std::min (W, 86);
    selectAllButton.setBounds (selectRow.removeFromLeft (b));
    selectRow.removeFromLeft (std::min (W - b, 6));
    selectNoneButton.setBounds (selectRow.removeFromLeft (std::min (selectRow.getWidth(), 86)));

    // Below the select buttons: the tracks, then a block at the bottom with the hint, the
    // progress, the status and the import and cancel buttons.
    const int R = area.getHeight(), G = std::min (R, 125);
    auto block = area.removeFromBottom (G);
    trackList.setBounds (area.getX(), area.getY() + 5, W, std::max (R - G - 10, 0));
    hintLabel.setBounds (block.removeFromTop (33));
    progressBar.setBounds (block.removeFromTop (17));
    statusLabel.setBounds (block.removeFromTop (36));
    auto buttons = block.removeFromTop (32);
    const int cancelWidth = std::min (W, 155);
    cancelButton.setBounds (buttons.removeFromLeft (cancelWidth));
    importButton.setBounds (buttons.removeFromRight (std::min (W - cancelWidth, 260)));
}
} // namespace vantrel
