#include "ui/LibraryPanel.h"

#include "platform/Reveal.h"
#include "session/UiText.h"
#include "ui/MenuPlacement.h"
#include "ui/Theme.h"

#include <algorithm>
#include <set>

namespace vantrel
{
namespace
{
const juce::Colour selectedRowFill { 0xFF203444 };

juce::String utf8 (const std::string& text) { return juce::String::fromUTF8 (text.c_str()); }

juce::String libraryKindText (LibraryFileKind kind)
{
    switch (kind)
    {
        case LibraryFileKind::PadCopy:      return translate ("PADコピー");
        case LibraryFileKind::PlaylistCopy: return translate ("プレイリスト用コピー");
        case LibraryFileKind::External:     break;
    }
    return translate ("外部参照");
}

/** A stored file that nothing uses and no copy or import waits for: the coordinator's own rule. */
bool removable (const LibraryItem& item)
{
    return item.kind != LibraryFileKind::External && item.exists && item.rowUses == 0 && item.padUses == 0 && ! item.pending;
}

enum Filter { all = 1, playlistAudio, padAudio, unusedStored };

bool passes (const LibraryItem& item, int filter)
{
    switch (filter)
    {
        case playlistAudio: return item.rowUses > 0 || item.kind == LibraryFileKind::PlaylistCopy;
        case padAudio:      return item.padUses > 0 || item.kind == LibraryFileKind::PadCopy;
        case unusedStored:  return item.kind != LibraryFileKind::External && item.rowUses == 0 && item.padUses == 0;
        default:            return true;
    }
}
} // namespace

LibraryPanel::LibraryPanel (SessionCoordinator& c, DialogHost& host) : coordinator (c), dialogs (host)
{
    reveal = [] (const juce::File& file) { return platform::revealInFileManager (file); };
    setComponentID ("library-panel");
    setSize (800, 500);

    title.setText (translate ("ライブラリ — すべての音源"), juce::dontSendNotification);
    title.setFont (juce::Font (16.0f, juce::Font::bold));
    paletteParts.bind (title, juce::Label::textColourId, libraryTextColourId);
    for (auto* label : { &summary, &hint })
    {
        label->setFont (juce::Font (11.0f));
        paletteParts.bind (*label, juce::Label::textColourId, libraryDimTextColourId);
    }
    hint.setJustificationType (juce::Justification::topLeft);
    summary.setComponentID ("library-summary");
    hint.setComponentID ("library-hint");

    filter.setComponentID ("library-filter");
    filter.addItem (translate ("すべて"), all);
    filter.addItem (translate ("プレイリスト音源"), playlistAudio);
    filter.addItem (translate ("PAD音源"), padAudio);
    filter.addItem (translate ("未使用の保存音源"), unusedStored);
    filter.setSelectedId (all, juce::dontSendNotification);
    filter.onChange = [this] { applyFilter(); };

    search.setComponentID ("library-search");
    search.setTextToShowWhenEmpty (translate ("名前・使用先・保存先で検索"), themeColour (*this, libraryDimTextColourId));
    search.onTextChange = [this] { applyFilter(); };

    list.setComponentID ("library-items");
    list.setModel (this);
    list.setRowHeight (55);
    list.setMultipleSelectionEnabled (true);
    list.setColour (juce::ListBox::backgroundColourId, juce::Colours::transparentBlack);
    paletteParts.apply (*this);

    target.setComponentID ("library-target");
    target.setTextWhenNothingSelected (translate ("追加先のプレイリスト"));
    target.onChange = [this] { updateSelectionState(); };

    const std::pair<juce::TextButton*, const char*> buttons[] {
        { &reloadButton, "再読込" }, { &addButton, "追加" }, { &removeButton, "ごみ箱へ…" }, { &revealButton, "保存場所" } };
    for (const auto& [button, text] : buttons)
    {
        button->setButtonText (translate (text));
        button->setWantsKeyboardFocus (false);
    }
    reloadButton.setComponentID ("library-reload");
    addButton.setComponentID ("library-add");
    removeButton.setComponentID ("library-remove");
    revealButton.setComponentID ("library-reveal");
    reloadButton.onClick = [this] { requestScan(); };
    addButton.onClick = [this] { requestAdd(); };
    removeButton.onClick = [this] { requestRemove(); };
    revealButton.onClick = [this] { revealSelected(); };

    for (juce::Component* child : std::initializer_list<juce::Component*> { &title, &summary, &hint, &filter, &target, &search,
                                                                            &reloadButton, &addButton, &removeButton,
                                                                            &revealButton, &list })
        addAndMakeVisible (child);
    if (isVisible())
        startTimer (250);
    refreshTargetPlaylists();
    updateSelectionState();
}

LibraryPanel::~LibraryPanel()
{
    stopTimer();
    list.setModel (nullptr);
    items.reset();
}

void LibraryPanel::refreshNow()
{
    requestScan();
    update();
}

void LibraryPanel::timerCallback()
{
    if (isVisible())
        update();
}

void LibraryPanel::visibilityChanged()
{
    // Hidden, it has nothing to show: its timer runs only while it is visible, and a panel that
    // comes into view shows the current snapshot at once.
    if (! isVisible())
    {
        stopTimer();
        return;
    }
    update();
    if (! isTimerRunning())
        startTimer (250);
}

void LibraryPanel::update()
{
    refreshTargetPlaylists();
    const auto snapshot = coordinator.mediaLibrary().items();
    if (snapshot.generation != generation)
    {
        const auto keep = selectedPaths();
        generation = snapshot.generation;
        items = snapshot.items;
        filtered.clear();   // the old rows' indices do not hold in the new items
        applyFilter (keep);
    }

    const auto text = snapshot.status.isNotEmpty()
                        ? snapshot.status
                        : juce::String ((int) filtered.size()) + translate ("音源 · 保存種別と使用先を表示")
                              + (snapshot.scanning ? translate (" · 読込中") : juce::String());
    summary.setText (text, juce::dontSendNotification);
    summary.setTooltip (text);
    updateSelectionState();

    // Every saved change of the catalog or the pads rescans, and so does a request that came
    // while a scan ran.
    if (! snapshot.scanning && (coordinator.stateRevision() != revisionSeen || scanWanted))
    {
        revisionSeen = coordinator.stateRevision();
        scanWanted = false;
        coordinator.refreshLibrary();
    }
}

void LibraryPanel::requestScan()
{
    if (coordinator.mediaLibrary().items().scanning)
        scanWanted = true;
    else
        coordinator.refreshLibrary();
}

// ---- the rows ----------------------------------------------------------------------------------

void LibraryPanel::applyFilter (const juce::StringArray& given)
{
    const auto keepList = given.isEmpty() ? selectedPaths() : given;
    const std::set<juce::String> keep (keepList.begin(), keepList.end());
    const auto needle = search.getText().trim();
    const int f = filter.getSelectedId();

    filtered.clear();
    for (int i = 0; i < (int) items->size(); ++i)
    {
        const auto& item = (*items)[(size_t) i];
        if (passes (item, f)
            && (needle.isEmpty() || (item.displayName + " " + item.usesText + " " + item.path).containsIgnoreCase (needle)))
            filtered.push_back (i);
    }

    list.updateContent();
    juce::SparseSet<int> rows;
    for (int row = 0; row < (int) filtered.size(); ++row)
        if (keep.count ((*items)[(size_t) filtered[(size_t) row]].path) > 0)
            rows.addRange ({ row, row + 1 });
    list.setSelectedRows (rows, juce::dontSendNotification);
    updateSelectionState();
    list.repaint();
}

const LibraryItem* LibraryPanel::itemAtRow (int row) const
{
    if (row < 0 || row >= (int) filtered.size())
        return nullptr;
    return &(*items)[(size_t) filtered[(size_t) row]];
}

juce::StringArray LibraryPanel::selectedPaths() const
{
    juce::StringArray paths;
    const auto rows = list.getSelectedRows();
    for (int i = 0; i < rows.size(); ++i)
        if (const auto* item = itemAtRow (rows[i]))
            paths.add (item->path);
    return paths;
}

void LibraryPanel::updateSelectionState()
{
    const auto rows = list.getSelectedRows();
    const int n = rows.size();
    const bool locked = coordinator.isLocked (LockScope::playlistEditing);
    bool canAdd = n > 0 && target.getSelectedId() > 0 && ! locked;
    bool canRemove = n > 0;
    for (int i = 0; i < n; ++i)
        if (const auto* item = itemAtRow (rows[i]))
        {
            canAdd = canAdd && item->exists && ! item->pending;
            canRemove = canRemove && removable (*item) && ! (locked && item->kind != LibraryFileKind::PadCopy);
        }

    juce::String text;
    if (n == 0)
        text = translate ("プレイリスト用コピー・PADコピー・外部参照をまとめて表示。未使用の保存音源は、追加して再利用できます。");
    else if (const auto* item = itemAtRow (rows[0]); n == 1 && item != nullptr)
        text = libraryKindText (item->kind) + juce::String::fromUTF8 (" · ") + item->usesText + "\n" + item->path;
    else
        text = juce::String (n) + translate ("音源を選択。使用中の音源や外部の元ファイルは削除できません。");
    hint.setText (text, juce::dontSendNotification);
    hint.setTooltip (text);

    // A CD import or a store that needs recovery would save over the files being removed.
    const bool importing = importRunning && importRunning();
    addButton.setEnabled (canAdd);
    removeButton.setEnabled (canRemove && ! importing && ! coordinator.needsRecovery());
    revealButton.setEnabled (n == 1);
}

void LibraryPanel::refreshTargetPlaylists()
{
    const auto& document = coordinator.undoHistory().current();
    juce::String signature;
    for (const auto& playlist : document.playlists)
        signature << utf8 (playlist.id) << "\n" << utf8 (playlist.name) << "\n";
    if (signature == targetSignature)
        return;
    targetSignature = signature;

    const int chosen = target.getSelectedId();
    const auto remembered = chosen > 0 && chosen <= (int) targetIds.size() ? targetIds[(size_t) chosen - 1] : document.current;
    target.clear (juce::dontSendNotification);
    targetIds.clear();
    for (const auto& playlist : document.playlists)
    {
        targetIds.push_back (playlist.id);
        target.addItem (utf8 (playlist.name.empty() ? playlist.id : playlist.name), (int) targetIds.size());
    }
    const auto found = std::find (targetIds.begin(), targetIds.end(), remembered);
    if (found != targetIds.end())
        target.setSelectedId ((int) (found - targetIds.begin()) + 1, juce::dontSendNotification);
    else if (! targetIds.empty())
        target.setSelectedId (1, juce::dontSendNotification);
}

int LibraryPanel::getNumRows()
{
    return (int) filtered.size();
}

juce::String LibraryPanel::getNameForRow (int row)
{
    const auto* item = itemAtRow (row);
    return item != nullptr ? item->displayName : juce::String();
}

void LibraryPanel::selectedRowsChanged (int)
{
    updateSelectionState();
}

void LibraryPanel::listBoxItemClicked (int row, const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu())
        rowMenu (row, menuAtPointer (list, e));
}

// ---- actions -----------------------------------------------------------------------------------

void LibraryPanel::requestAdd()
{
    const int chosen = target.getSelectedId();
    const auto paths = selectedPaths();
    if (chosen <= 0 || chosen > (int) targetIds.size() || paths.isEmpty())
        return;
    const auto playlistId = targetIds[(size_t) chosen - 1];

    juce::Component::SafePointer<LibraryPanel> safe (this);
    dialogs.ask (translate ("音源を追加"), translate ("外部音源はコピーか参照を選べます。保存済みの音源は再利用します。"),
                 juce::MessageBoxIconType::QuestionIcon,
                 { { translate ("コピーして追加"), 1 }, { translate ("元の場所を参照"), 2 },
                   { translate ("キャンセル"), 0, juce::KeyPress (juce::KeyPress::escapeKey) } },
                 [safe, paths, playlistId] (int result)
    {
        if (safe == nullptr)
            return;
        if (result == 1 || result == 2)
            safe->coordinator.addLibraryFiles (paths, playlistId, result == 1);
        safe->requestScan();
    });
}

void LibraryPanel::requestRemove()
{
    updateSelectionState();   // LIVE LOCK or a recovery may have come since the last tick
    const auto paths = selectedPaths();
    if (paths.isEmpty() || dialogs.isOpen() || ! removeButton.isEnabled())
        return;
    const auto& playlists = coordinator.undoHistory().current().playlists;
    for (const auto& path : paths)
        if (! removable (coordinator.mediaLibrary().findFileUses (juce::File (path), playlists, coordinator.catalogState().pads)))
            return;

    const auto question = juce::String (paths.size()) + translate ("個のVantrel内の音源をごみ箱へ移しますか？\nこの操作はUndoで戻せません。");
    juce::Component::SafePointer<LibraryPanel> safe (this);
    dialogs.ask (translate ("未使用音源の整理"), question, juce::MessageBoxIconType::QuestionIcon,
                 { { translate ("残す"), 0, juce::KeyPress (juce::KeyPress::escapeKey) }, { translate ("ごみ箱へ移す"), 1 } },
                 [safe, paths] (int result)
    {
        if (safe == nullptr)
            return;
        if (result == 1)
            for (const auto& path : paths)
                safe->coordinator.removeLibraryFile (path);   // each may refuse with its own status
        safe->requestScan();
    });
}

void LibraryPanel::revealSelected()
{
    const auto paths = selectedPaths();
    if (paths.size() == 1 && reveal && ! reveal (juce::File (paths[0])))
        coordinator.setAlert (translate ("保存場所を開けませんでした"));
}

void LibraryPanel::rowMenu (int row, const juce::PopupMenu::Options& at)
{
    const auto* item = itemAtRow (row);
    if (item == nullptr || dialogs.isOpen())
        return;
    juce::PopupMenu menu;
    menu.addSectionHeader (item->displayName);
    menu.addItem (1, translate ("表示名を変更…"), item->kind != LibraryFileKind::External);
    juce::Component::SafePointer<LibraryPanel> safe (this);
    dialogs.showMenu (menu, at, MenuLeadsTo::nameDialog, [safe, path = item->path, name = item->displayName] (int result)
    {
        if (safe != nullptr && result == 1)
            safe->requestRename (path, name);
    });
}

void LibraryPanel::requestRename (const juce::String& path, const juce::String& name)
{
    juce::Component::SafePointer<LibraryPanel> safe (this);
    dialogs.textDialog (translate ("表示名"), translate ("表示名"), name, [safe, path] (juce::String text)
    {
        text = text.trim();
        if (safe == nullptr || text.isEmpty())
            return;
        safe->coordinator.renameLibraryFile (juce::File (path), text);
        safe->requestScan();
    }, false, {});
}

// ---- drawing -----------------------------------------------------------------------------------

void LibraryPanel::paint (juce::Graphics& g)
{
    g.fillAll (themeColour (*this, panelColourId));
    g.setColour (themeColour (*this, libraryLineColourId));
    g.drawHorizontalLine (79, 0.0f, (float) getWidth());
}

void LibraryPanel::lookAndFeelChanged()
{
    paletteParts.apply (*this);
    search.setTextToShowWhenEmpty (search.getTextToShowWhenEmpty(), themeColour (*this, libraryDimTextColourId));
}

void LibraryPanel::parentHierarchyChanged()
{
    lookAndFeelChanged();
}

void LibraryPanel::colourChanged()
{
    lookAndFeelChanged();
}

void LibraryPanel::paintListBoxItem (int row, juce::Graphics& g, int w, int h, bool selected)
{
    const auto* item = itemAtRow (row);
    if (item == nullptr)
        return;
    const int c = std::min (w / 3, 170), L = w - c - 15;
    const auto colour = [this] (int colourId) { return themeColour (list, colourId); };
    const auto text = colour (libraryTextColourId), dimText = colour (libraryDimTextColourId);
    const auto highlight = colour (libraryHighlightColourId);
    if (selected)
    {
        g.setColour (selectedRowFill);
        g.fillRoundedRectangle (1.0f, 1.0f, (float) w - 2.0f, (float) h - 2.0f, 4.0f);
    }
    g.setColour (colour (libraryLineColourId).withMultipliedAlpha (0.6f));
    g.drawHorizontalLine (h - 1, 8.0f, (float) w - 8.0f);

    const bool used = item->rowUses > 0 || item->padUses > 0;
    g.setFont (juce::Font (13.0f, juce::Font::bold));
    g.setColour (item->exists ? text : highlight);
    g.drawText (item->displayName, 8, 3, L, 24, juce::Justification::centredLeft, true);
    g.setFont (juce::Font (11.0f));
    g.setColour (item->kind == LibraryFileKind::PadCopy ? colour (libraryAccentColourId) : dimText);
    g.drawText (libraryKindText (item->kind), w - c, 3, c - 8, 24, juce::Justification::centredRight, true);
    g.setColour (used ? dimText : highlight);
    g.drawText (item->usesText, 8, 28, L, 20, juce::Justification::centredLeft, true);
    g.setColour (dimText);
    g.drawText (item->exists ? juce::File::descriptionOfSizeInBytes (item->bytes) : translate ("ファイル未検出"), w - c, 28, c - 8,
                20, juce::Justification::centredRight, true);
}

void LibraryPanel::resized()
{
    auto r = getLocalBounds();
    title.setBounds (r.removeFromTop (28));

    auto tools = r.removeFromTop (33);
    const int fw = std::min (getWidth() / 3, 195);
    reloadButton.setBounds (tools.removeFromRight (68).reduced (2));
    filter.setBounds (tools.removeFromLeft (fw).reduced (2));
    search.setBounds (tools.reduced (2));

    summary.setBounds (r.removeFromTop (24));

    auto bottom = r.removeFromBottom (32);
    removeButton.setBounds (bottom.removeFromRight (106).reduced (2));
    revealButton.setBounds (bottom.removeFromRight (77).reduced (2));
    addButton.setBounds (bottom.removeFromRight (58).reduced (2));
    target.setBounds (bottom.reduced (2));

    hint.setBounds (r.removeFromBottom (58).reduced (2, 4));
    list.setBounds (r);
}
} // namespace vantrel
