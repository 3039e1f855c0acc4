#include "ui/VstRackPanel.h"

#include "audio/rack/RackConfigFile.h"
#include "audio/rack/Vst3BundleSearch.h"
#include "session/UiText.h"
#include "ui/Theme.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vantrel
{
namespace
{
const juce::Colour labelText { 0xFFB2C3CB };
const juce::Colour warningText { 0xFFECB75F };
const juce::Colour enabledFace { 0xFF9ADFE7 };
const juce::Colour selectedRowFill { 0xFF223445 };
const juce::Colour rowText { 0xFFD2E0E5 };

void setUpLabel (juce::Label& label, float height, std::optional<juce::Colour> colour = {})
{
    label.setFont (juce::Font (height));
    if (colour)
        label.setColour (juce::Label::textColourId, *colour);
}
} // namespace

VstRackPanel::VstRackPanel (SessionCoordinator& c) : coordinator (c)
{
    setComponentID ("vst-rack-panel");
    setSize (650, 440);

    launchFolderChooser = [] (juce::FileChooser& chooser, std::function<void (const juce::File&)> answer)
    {
        chooser.launchAsync (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectDirectories,
                             [answer] (const juce::FileChooser& done) { answer (done.getResult()); });
    };

    for (int i = 0; i < (int) slots.size(); ++i)
    {
        auto& s = slots[(size_t) i];
        const auto number = juce::String (i + 1);
        s.title.setText ("SLOT " + number, juce::dontSendNotification);
        setUpLabel (s.title, 13.0f, labelText);
        setUpLabel (s.status, 11.0f, labelText);
        s.status.setComponentID ("vst-status-" + number);
        s.plugin.setComponentID ("vst-select-" + number);
        s.plugin.onChange = [this, i] { pluginChosen (i); };
        s.enable.setComponentID ("vst-enable-" + number);
        s.enable.setButtonText ("OFF");
        s.enable.setColour (juce::TextButton::buttonOnColourId, enabledFace);
        // The rack owns the switch's state: a click asks for the opposite, the refresh shows the answer.
        s.enable.setClickingTogglesState (false);
        s.enable.onClick = [this, i]
        {
            coordinator.setVstSlotEnabled (i, ! slots[(size_t) i].enable.getToggleState());
            refreshStatus();
        };
        s.editor.setComponentID ("vst-edit-" + number);
        s.editor.setButtonText (translate ("編集…"));
        s.editor.setTooltip (translate ("再生中でも開いて調整できます"));
        s.editor.onClick = [this, i] { coordinator.openVstEditor (i); };   // the timer shows the result
        for (juce::Component* child : std::initializer_list<juce::Component*> { &s.title, &s.plugin, &s.enable, &s.editor, &s.status })
            addAndMakeVisible (child);
    }

    chain.setText (translate ("TRACK EQ / GAIN → PLAYLIST EQ / GAIN → + PAD → MASTER EQ → VST 1 → VST 2 → MASTER / LIMITER"),
                   juce::dontSendNotification);
    setUpLabel (chain, 12.0f, labelText);
    setUpLabel (folderSummary, 12.0f);
    folderHint.setText (translate ("一覧の選択は削除用です。すべてのフォルダを検索します。"), juce::dontSendNotification);
    setUpLabel (folderHint, 11.0f);
    setUpLabel (bottomStatus, 11.0f);
    bottomStatus.setJustificationType (juce::Justification::topLeft);
    setUpLabel (latencyLine, 11.0f);
    folderSummary.setComponentID ("vst-folder-summary");
    bottomStatus.setComponentID ("vst-rack-status");
    latencyLine.setComponentID ("vst-latency");

    folderList.setComponentID ("vst-search-folders");
    folderList.setModel (this);
    folderList.setRowHeight (25);
    paletteParts.bind (folderList, juce::ListBox::backgroundColourId, fieldColourId);
    paletteParts.bind (folderList, juce::ListBox::outlineColourId, lineColourId);
    paletteParts.apply (*this);
    folderList.setOutlineThickness (1);

    addButton.setButtonText (translate ("追加…"));
    deleteButton.setButtonText (translate ("削除"));
    rescanButton.setButtonText (translate ("再検索"));
    addButton.setComponentID ("vst-folder-add");
    deleteButton.setComponentID ("vst-folder-delete");
    rescanButton.setComponentID ("vst-rescan");
    addButton.onClick = [this] { chooseSearchFolder(); };
    deleteButton.onClick = [this] { removeSelectedFolder(); };
    rescanButton.onClick = [this]
    {
        coordinator.rescanVst();
        refreshStatus();
    };

    for (juce::Component* child : std::initializer_list<juce::Component*> { &chain, &folderSummary, &rescanButton, &folderList,
                                                                            &folderHint, &addButton, &deleteButton, &latencyLine,
                                                                            &bottomStatus })
        addAndMakeVisible (child);

    refreshStatus();
    startTimer (250);
}

VstRackPanel::~VstRackPanel()
{
    stopTimer();
    folderList.setModel (nullptr);
    folderChooser.reset();
}

void VstRackPanel::timerCallback()
{
    refreshStatus();
}

void VstRackPanel::refreshStatus()
{
    const juce::ScopedValueSetter<bool> guard (refreshing, true);
    const auto status = coordinator.audioAdapter().rack().status();
    const bool vstLocked = coordinator.isLocked (LockScope::vst);
    const bool foldersEditable = coordinator.canChangeOutput() && ! status.scanning && ! status.busy && ! status.configCorrupt;

    refreshPluginItems (status);
    for (int i = 0; i < (int) slots.size(); ++i)
        refreshSlot (i, status, vstLocked);
    refreshFolders (status);

    folderSummary.setText (translate ("検索先すべてを読み込み · 標準＋追加 ") + juce::String (seenFolders.size()) + translate ("件"),
                           juce::dontSendNotification);
    const auto selected = folderList.getSelectedRow();
    addButton.setEnabled (foldersEditable && seenFolders.size() < maxRackSearchFolders);
    deleteButton.setEnabled (foldersEditable && selected >= standardCount && selected < rows.size());
    rescanButton.setEnabled (foldersEditable);

    latencyLine.setText (latencyText (status), juce::dontSendNotification);

    juce::String state;
    if (status.audioFault)
        state = translate ("処理が間に合わず、全VSTをバイパスしました。OFF→ONで再読込できます。");
    else if (status.scanning)
        state = translate ("検索中 ") + juce::String (status.scanDone) + " / " + juce::String (status.scanTotal);
    else
        state = translateMessage (status.message)
              + translate ("\n再生中に編集画面を開き、そのまま調整できます。\n入替中は一時バイパスします。フォルダ変更は停止時に行えます。");
    bottomStatus.setText (state, juce::dontSendNotification);
}

void VstRackPanel::refreshPluginItems (const VstRackStatus& status)
{
    juce::String signature;
    for (const auto& plugin : status.plugins)
        signature << plugin.uid << '\t' << plugin.name << '\t' << plugin.vendor << '\t' << plugin.bundlePath << '\t'
                  << (plugin.duplicate ? 1 : 0) << '\n';
    for (const auto& slot : status.slots)
        signature << slot.uid << '\t' << slot.name << '\t' << (slot.failedInScan ? 1 : 0) << '\n';
    if (signature == listSignature && ! classIds.isEmpty())
        return;

    listSignature = signature;
    classIds = juce::StringArray (juce::String());
    juce::StringArray items (translate ("なし"));
    // A class id found in more than one bundle cannot be loaded: it is never offered.
    for (const auto& plugin : status.plugins)
        if (! plugin.duplicate && ! classIds.contains (plugin.uid, false))
        {
            classIds.add (plugin.uid);
            items.add (plugin.name + juce::String::fromUTF8 (" — ") + plugin.vendor);
        }
    // A slot's choice that is no longer offered keeps its item, marked.
    for (const auto& slot : status.slots)
        if (slot.uid.isNotEmpty() && ! classIds.contains (slot.uid, false))
        {
            classIds.add (slot.uid);
            items.add (slot.name + (slot.failedInScan ? translate ("（検索で読込失敗）") : translate ("（不在 / ID重複）")));
        }
    for (auto& s : slots)
    {
        s.plugin.clear (juce::dontSendNotification);
        s.plugin.addItemList (items, 1);
        s.shownUid = "unset";   // the box lost its selection with its items
    }
}

void VstRackPanel::refreshSlot (int slot, const VstRackStatus& status, bool vstLocked)
{
    auto& s = slots[(size_t) slot];
    const auto& rack = status.slots[(size_t) slot];
    const bool chosen = rack.uid.isNotEmpty();

    if (rack.uid != s.shownUid)
    {
        s.plugin.setSelectedId (classIds.indexOf (rack.uid, false) + 1, juce::dontSendNotification);
        s.shownUid = rack.uid;
    }
    s.plugin.setEnabled (! vstLocked && ! status.scanning && ! status.busy && ! status.configCorrupt);

    s.enable.setToggleState (rack.enabled, juce::dontSendNotification);
    s.enable.setButtonText (rack.enabled ? "ON" : "OFF");
    s.enable.setEnabled (! vstLocked && ! status.busy && ! status.configCorrupt && chosen);
    // A scan leaves the editor usable: it changes the catalogue, not the loaded plug-in.
    s.editor.setEnabled (! vstLocked && rack.loaded && ! status.busy);

    // While the rack plays dry nothing passes through any slot, loaded and switched on or not:
    // each chosen slot says so, after a reason of its own.
    const auto dry = translate ("ラック全体をドライ再生中: ") + translateMessage (status.faultText);
    const bool warned = rack.message.isNotEmpty() || (chosen && status.audioFault);
    juce::String text;
    if (rack.message.isNotEmpty())
    {
        text = translate ("バイパス: ") + translateMessage (rack.message);
        if (status.audioFault)
            text += juce::String::fromUTF8 (" · ") + dry;
    }
    else if (chosen && status.audioFault)
        text = dry;
    else if (chosen && rack.loaded)
        text = (rack.enabled ? translate ("有効") : translate ("OFF · 遅延を保持")) + translate (" / 遅延 ")
             + juce::String (rack.latency) + translate (" samples");
    else if (chosen)
        text = translate ("読込待ち / 保存状態を保持");
    else
        text = translate ("プラグイン未選択");
    s.status.setText (text, juce::dontSendNotification);
    s.status.setTooltip (text);
    s.status.setColour (juce::Label::textColourId, warned ? warningText : labelText);
}

void VstRackPanel::refreshFolders (const VstRackStatus& status)
{
    if (status.searchFolders == seenFolders && ! rows.isEmpty())
        return;

    const auto selected = folderList.getSelectedRow();
    const auto remembered = juce::isPositiveAndBelow (selected, rows.size()) ? rows[selected] : juce::String();
    const auto oldSize = seenFolders.size();
    seenFolders = status.searchFolders;
    // The folders the rack really scans before the added ones: a test's rack may name its own.
    rows = coordinator.sessionOptions().rackOptions.standardFolders.value_or (defaultVst3Folders());
    standardCount = rows.size();
    rows.addArray (seenFolders);
    folderList.updateContent();

    if (seenFolders.size() > oldSize)
    {
        folderList.selectRow (rows.size() - 1);
        folderList.scrollToEnsureRowIsOnscreen (rows.size() - 1);
    }
    else if (const auto index = rows.indexOf (remembered); remembered.isNotEmpty() && index >= 0)
        folderList.selectRow (index);
    else
        folderList.deselectAllRows();
    folderList.repaint();
}

juce::String VstRackPanel::latencyText (const VstRackStatus& status) const
{
    // Before any output has set a rate there is no time to show for the samples.
    const auto rate = coordinator.audioAdapter().sampleRate();
    const auto samples = (double) status.latencySum + (double) status.bridgeLatency;
    const auto ms = samples * 1000.0 / rate;
    const auto shown = std::isfinite (ms) && rate > 0.0 ? juce::String (ms, 1) : juce::String::fromUTF8 ("—");
    return translate ("追加遅延: ") + shown + translate (" ms · VST3 / 64-bit / ステレオエフェクト");
}

void VstRackPanel::pluginChosen (int slot)
{
    if (refreshing)
        return;
    const auto item = slots[(size_t) slot].plugin.getSelectedId();
    if (item >= 1 && item <= classIds.size())
        coordinator.chooseVstPlugin (slot, classIds[item - 1]);   // "none" empties the slot
    slots[(size_t) slot].shownUid = "unset";   // shows the rack's answer: a refused choice goes back
    refreshStatus();
}

void VstRackPanel::chooseSearchFolder()
{
    if (folderChooser != nullptr)
        return;
    folderChooser = std::make_unique<juce::FileChooser> (translate ("VST3フォルダを選択"), juce::File(), "*", true);
    juce::Component::SafePointer<VstRackPanel> safe (this);
    launchFolderChooser (*folderChooser, [safe] (const juce::File& folder)
    {
        if (safe != nullptr)
            safe->searchFolderChosen (folder);
    });
}

void VstRackPanel::searchFolderChosen (const juce::File& folder)
{
    if (folder != juce::File())
        coordinator.addVstSearchFolder (folder);
    // The chooser is still inside its own callback: it goes once that has returned.
    juce::Component::SafePointer<VstRackPanel> safe (this);
    juce::MessageManager::callAsync ([safe]
    {
        if (safe != nullptr)
            safe->finishFolderChooser();
    });
}

void VstRackPanel::finishFolderChooser()
{
    folderChooser.reset();
    refreshStatus();
}

void VstRackPanel::removeSelectedFolder()
{
    // A standard folder is never removed: only the rows after them are the rack's search folders.
    const auto index = folderList.getSelectedRow() - standardCount;
    if (juce::isPositiveAndBelow (index, seenFolders.size()))
        coordinator.removeVstSearchFolder (seenFolders[index]);
    refreshStatus();
}

int VstRackPanel::getNumRows()
{
    return rows.size();
}

juce::String VstRackPanel::getTooltipForRow (int row)
{
    return rows[row];
}

void VstRackPanel::paintListBoxItem (int row, juce::Graphics& g, int width, int height, bool selected)
{
    if (! juce::isPositiveAndBelow (row, rows.size()))
        return;
    if (selected)
        g.fillAll (selectedRowFill);
    g.setColour (rowText);
    g.setFont (juce::Font (12.0f));
    const auto text = (row < standardCount ? translate ("標準: ") : translate ("追加: ")) + rows[row];
    g.drawText (text, 7, 0, width - 14, height, juce::Justification::centredLeft, true);
}

void VstRackPanel::selectedRowsChanged (int)
{
    if (! refreshing)
        refreshStatus();
}

void VstRackPanel::paint (juce::Graphics& g)
{
    g.fillAll (themeColour (*this, panelColourId));
}

void VstRackPanel::lookAndFeelChanged()
{
    paletteParts.apply (*this);
}

void VstRackPanel::parentHierarchyChanged()
{
    paletteParts.apply (*this);
}

void VstRackPanel::colourChanged()
{
    paletteParts.apply (*this);
}

void VstRackPanel::resized()
{
    auto area = getLocalBounds().reduced (4);
    chain.setBounds (area.removeFromTop (25));

    for (auto& s : slots)
    {
        auto block = area.removeFromTop (std::min (79, area.getHeight()));
        s.title.setBounds (block.removeFromTop (20));
        auto row = block.removeFromTop (29);
        s.editor.setBounds (row.removeFromRight (64).withTrimmedLeft (4));
        s.enable.setBounds (row.removeFromRight (62).withTrimmedLeft (4));
        s.plugin.setBounds (row);
        s.status.setBounds (block.removeFromTop (25));
    }

    auto summaryRow = area.removeFromTop (27);
    rescanButton.setBounds (summaryRow.removeFromRight (72));
    folderSummary.setBounds (summaryRow);
    folderList.setBounds (area.removeFromTop (100));

    area.removeFromTop (4);
    auto buttonRow = area.removeFromTop (30);
    deleteButton.setBounds (buttonRow.removeFromRight (60));
    addButton.setBounds (buttonRow.removeFromRight (70));
    folderHint.setBounds (buttonRow);

    area.removeFromTop (6);
    latencyLine.setBounds (area.removeFromTop (24));
    bottomStatus.setBounds (area);
}
} // namespace vantrel
