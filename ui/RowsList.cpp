// The rows list of the main view: its row components, the row menu, the flows that add, relink
// and remove rows, the offer to move unused stored copies to the Trash, and the rows' drops.

#include "ui/RowsList.h"

#include "ui/DialogHost.h"
#include "ui/KeyRouting.h"

#include "session/CatalogValidation.h"
#include "session/UiText.h"
#include "ui/MenuPlacement.h"
#include "ui/ShownText.h"
#include "ui/Theme.h"

#include <algorithm>
#include <tuple>
#include <cmath>

namespace vantrel
{
namespace
{
juce::String utf8 (const std::string& text) { return juce::String::fromUTF8 (text.c_str()); }

const Row* rowAt (const SessionCoordinator& c, int index)
{
    const auto* playlist = currentPlaylist (c.catalogState().document);
    if (playlist == nullptr || ! juce::isPositiveAndBelow (index, (int) playlist->rows.size()))
        return nullptr;
    return &playlist->rows[(size_t) index];
}

int indexOfRow (const SessionCoordinator& c, const std::string& rowId)
{
    if (const auto* playlist = currentPlaylist (c.catalogState().document))
        for (int i = 0; i < (int) playlist->rows.size(); ++i)
            if (playlist->rows[(size_t) i].id == rowId)
                return i;
    return -1;
}

void setTextIfChanged (juce::Label& label, const juce::String& text)
{
    if (label.getText() != text)
        label.setText (text, juce::dontSendNotification);
}
} // namespace

RowColumnAreas rowColumns (int width, int height)
{
    const int usable = width >= 11 ? width - 10 : 0;
    const int status = std::min (usable, 44);
    const int number = std::min (usable - status, 43);
    int rest = usable - status - number;
    const auto take = [&rest] (int most)
    {
        const int w = std::min (rest, most);
        rest -= w;
        return w;
    };
    const int gain = take (190), eq = take (42), duration = take (88);
    const int h = std::max (height, 0);
    juce::Rectangle<int> area (5, 0, usable, h);
    RowColumnAreas c;
    c.status = area.removeFromLeft (status);
    c.number = area.removeFromLeft (number);
    c.gain = area.removeFromRight (gain);
    c.eq = area.removeFromRight (eq);
    c.duration = area.removeFromRight (duration);
    c.title = area;
    return c;
}

juce::String formatDuration (double seconds)
{
    if (! std::isfinite (seconds) || seconds < 0.0)
        seconds = 0.0;
    const auto whole = (long long) std::min (seconds, 1.0e9);
    return juce::String (whole / 60).paddedLeft ('0', 2) + ":" + juce::String (whole % 60).paddedLeft ('0', 2);
}

// ---- one row ---------------------------------------------------------------------------------------

RowComponent::RowComponent (RowsColumn& owner) : column (owner)
{
    const std::pair<juce::Label*, const char*> labels[] = {
        { &numberLabel, "track-number" }, { &titleLabel, "track-title" }, { &noteLabel, "track-note" }, { &durationLabel, "track-duration" }
    };
    for (auto [label, id] : labels)
    {
        label->setComponentID (id);
        label->setMouseClickGrabsKeyboardFocus (false);
        addAndMakeVisible (*label);
    }
    paletteParts.bind (numberLabel, juce::Label::textColourId, goColourId);
    paletteParts.bind (titleLabel, juce::Label::textColourId, textColourId);
    paletteParts.bind (noteLabel, juce::Label::textColourId, dimTextColourId);
    paletteParts.bind (durationLabel, juce::Label::textColourId, dimTextColourId);
    paletteParts.apply (*this);
    numberLabel.setJustificationType (juce::Justification::centred);
    noteLabel.setFont (juce::Font (10.0f));
    noteLabel.setBorderSize ({ 0, 5, 0, 5 });   // an 11 px note keeps its 10 px text whole
    durationLabel.setJustificationType (juce::Justification::centredRight);
    // Clicks on the number and the time are the row's own; those on title and note (and their
    // editors) reach the row as their listener, so that the labels still see double clicks.
    numberLabel.setInterceptsMouseClicks (false, false);
    durationLabel.setInterceptsMouseClicks (false, false);
    titleLabel.addMouseListener (this, true);
    noteLabel.addMouseListener (this, true);
    titleLabel.onTextChange = [this] { reportText (true); };
    noteLabel.onTextChange = [this] { reportText (false); };
    noteLabel.onEditorShow = [this] { resized(); };
    noteLabel.onEditorHide = [this]
    {
        noteOpening = false;
        resized();
    };

    gain.setComponentID ("track-gain");
    // The row a drag edits is the row it began on, even if the list shows another one here meanwhile.
    // An undo or LIVE LOCK during the drag closes its edit under the control: the end still
    // commits the final value, as the playlist gain does.
    gain.onEditStart = [this]
    {
        editRowId = rowId;
        column.coordinator.beginEqEdit();
    };
    gain.onEditEnd = [this] (float finalDb)
    {
        if (! column.coordinator.commitEqEdit() && ! editRowId.empty())
            column.coordinator.commitRowGain (editRowId, finalDb);
    };
    gain.onValue = [this] (float db)
    {
        auto& c = column.coordinator;
        if (gain.editing)
        {
            if (! c.isEqEditPending())
                c.beginEqEdit();
            c.setLiveRowGain (editRowId, db);
        }
        else if (! rowId.empty())
        {
            c.commitRowGain (rowId, db);
        }
    };
    addAndMakeVisible (gain);

    eqButton.setComponentID ("track-eq");
    eqButton.setWantsKeyboardFocus (false);
    eqButton.setTooltip (translate ("この曲の8バンドEQ"));
    eqButton.onClick = [this] { column.view.openEq (utf8 (rowId)); };
    addAndMakeVisible (eqButton);
}

RowComponent::~RowComponent()
{
    // The labels close their editors as they go, when the view's parts may be gone already.
    titleLabel.onTextChange = nullptr;
    noteLabel.onTextChange = nullptr;
    noteLabel.onEditorShow = nullptr;
    noteLabel.onEditorHide = nullptr;
}

void RowComponent::showRow (int index)
{
    auto& c = column.coordinator;
    const auto* row = rowAt (c, index);
    if (row == nullptr)
        return;
    const bool otherRow = row->id != rowId;
    if (otherRow)
    {
        // What was typed here belongs to the row shown so far; reporting it replaces the document.
        closeEdits();
        if ((row = rowAt (c, index)) == nullptr)
            return;
    }

    if (otherRow)
        clickReady.reset();
    rowIndex = index;
    rowId = row->id;
    gain.getProperties().set ("wheel-binding", utf8 (rowId));
    setTextIfChanged (numberLabel, juce::String (index + 1).paddedLeft ('0', 2));
    if (! titleLabel.isBeingEdited())
        setTextIfChanged (titleLabel, labelTextOf (row->title, titleCut));
    if (! noteLabel.isBeingEdited())
        setTextIfChanged (noteLabel, labelTextOf (row->note, noteCut));
    setTextIfChanged (durationLabel, row->duration > 0.0 ? formatDuration (row->duration) : juce::String ("--:--"));
    eqButton.setToggleState (row->eq.enabled, juce::dontSendNotification);
    gain.syncValue (row->gainDb);

    gain.setEnabled (! c.isLocked (LockScope::trackGainEq));
    // A cut text is never edited in place: what the editor got would replace the whole text.
    const bool editable = ! column.rowsLocked();
    for (auto* label : { &titleLabel, &noteLabel })
        if (label->isEditableOnDoubleClick() != (editable && ! isCut (*label)))
            label->setEditable (false, editable && ! isCut (*label), false);

    resized();
    if (otherRow)
        repaint();
}

void RowComponent::closeEdits()
{
    const juce::ScopedValueSetter<bool> reporting (closing, true);
    for (auto* label : { &titleLabel, &noteLabel })
        if (label->isBeingEdited())
            label->hideEditor (false);
    gain.slider.hideTextBox (false);
}

void RowComponent::editNote()
{
    if (column.rowsLocked() || noteCut)
        return;
    noteOpening = true;
    resized();
    noteLabel.showEditor();
}

void RowComponent::reportText (bool title)
{
    if (column.view.flags().syncing && ! closing)
        return;
    auto& c = column.coordinator;
    if (const auto* row = findRowById (c.undoHistory().current(), rowId))
    {
        const auto typed = (title ? titleLabel : noteLabel).getText().toStdString();
        const auto other = title ? row->note : row->title;
        c.setRowText (rowId, title ? typed : other, title ? other : typed);
    }
    resized();   // a note that was just written takes its place
}

bool RowComponent::noteShown() const
{
    return noteOpening || noteLabel.isBeingEdited() || noteLabel.getText().isNotEmpty();
}

void RowComponent::resized()
{
    const int h = getHeight();
    const auto columns = rowColumns (getWidth(), h);
    const juce::Font font (std::max (17.0f, std::min ((float) (h - 6) / 32.0f, 1.0f) * 22.0f));
    for (auto* label : { &numberLabel, &titleLabel, &durationLabel })
        label->setFont (font);

    numberLabel.setBounds (columns.number.reduced (0, 3));
    durationLabel.setBounds (columns.duration.reduced (0, 3));
    eqButton.setBounds (juce::Rectangle<int> (std::min (36, columns.eq.getWidth()), std::max (0, std::min (h - 4, 26)))
                            .withCentre (columns.eq.getCentre()));
    const int gainHeight = std::max (0, std::min (h - 6, 29));
    gain.setBounds (columns.gain.getX(), (h - gainHeight) / 2, columns.gain.getWidth(), gainHeight);

    auto title = columns.title.reduced (0, 3);
    const int m = title.getHeight();
    const bool shown = noteShown();
    noteLabel.setVisible (shown);
    if (! shown)
    {
        noteLabel.setBounds ({});
    }
    else if (h < 42)
    {
        const int width = std::min (juce::jlimit (55, 150, title.getWidth() / 3), title.getWidth());
        noteLabel.setBounds (title.removeFromRight (width));
        title.removeFromRight (5);
    }
    else
    {
        const bool editing = noteOpening || noteLabel.isBeingEdited();
        noteLabel.setBounds (title.removeFromBottom (editing ? std::min (m, std::min (m / 2, 19)) : std::min (m, 11)));
    }
    titleLabel.setBounds (title);
}

void RowComponent::paint (juce::Graphics& g)
{
    const auto& cue = column.coordinator.cueState();
    const float w = (float) getWidth(), h = (float) getHeight(), middle = h * 0.5f;
    const auto is = [this] (const std::optional<std::string>& slot) { return slot && *slot == rowId; };

    const auto line = themeColour (*this, lineColourId);
    if (is (cue.anchor))
    {
        const auto selection = themeColour (*this, selectionColourId);
        g.setColour (selection.withAlpha (0.15f));
        g.fillRoundedRectangle (2.0f, 1.0f, w - 4.0f, h - 2.0f, 5.0f);
        g.setColour (selection);
        g.fillRect (2.0f, 7.0f, 2.0f, h - 14.0f);
    }
    g.setColour (line.withAlpha (0.55f));
    g.drawLine (48.5f, 6.0f, 48.5f, h - 6.0f);

    if (is (cue.main) || is (cue.outgoing))
    {
        const auto go = themeColour (*this, goColourId);
        g.setColour (cue.paused ? go.darker (0.38f) : go);
        if (cue.paused)
        {
            g.fillRect (8.0f, middle - 11.0f, 6.0f, 22.0f);
            g.fillRect (19.0f, middle - 11.0f, 6.0f, 22.0f);
        }
        else
        {
            juce::Path triangle;
            triangle.addTriangle (7.0f, middle - 11.0f, 7.0f, middle + 11.0f, 29.0f, middle);
            g.fillPath (triangle);
        }
    }
    if (is (cue.ready))
    {
        g.setColour (themeColour (*this, readyColourId));
        g.fillEllipse (33.0f, middle - 5.5f, 11.0f, 11.0f);
    }
    g.setColour (line.withAlpha (0.35f));
    g.drawLine (8.0f, h - 0.5f, w - 8.0f, h - 0.5f);
}

void RowComponent::parentHierarchyChanged()
{
    if (getParentComponent() != nullptr)
        sendLookAndFeelChange();
}

void RowComponent::lookAndFeelChanged()
{
    paletteParts.apply (*this);
}

void RowComponent::colourChanged()
{
    paletteParts.apply (*this);
}

void RowComponent::mouseDown (const juce::MouseEvent& e)
{
    dragStarted = false;
    if (e.mods.isPopupMenu())
    {
        clickReady.reset();
        column.rowMenu (rowId, menuAtPointer (column.rows, e));
        return;
    }
    auto& c = column.coordinator;
    if (e.getNumberOfClicks() > 1 && clickReady)
        return;   // the same gesture's second press: READY is this row's since the first
    const auto before = c.readyMark();
    if (c.selectReady (rowId))
        clickReady.emplace (before, c.readyMark());
    else
        clickReady.reset();
    column.view.refresh();
}

void RowComponent::mouseDoubleClick (const juce::MouseEvent& e)
{
    const auto onLabel = [&e] (juce::Label& label) { return e.eventComponent == &label || label.isParentOf (e.eventComponent); };
    juce::Label* label = onLabel (titleLabel) ? &titleLabel : onLabel (noteLabel) ? &noteLabel : nullptr;
    if (label == nullptr || e.mods.isPopupMenu())
        return;
    auto& c = column.coordinator;
    if (clickReady)
        c.restoreReady (clickReady->first, clickReady->second);
    clickReady.reset();
    if (! label->isBeingEdited() && column.rowsLocked())
        column.doors.refuseTyping (*label, translate ("LIVE LOCK中、または再生中のため編集できません"));
    else if (! label->isBeingEdited() && isCut (*label))
        column.doors.refuseTyping (*label, translate ("長すぎるため、ここでは編集できません"));
    column.view.refresh();
}

void RowComponent::mouseDrag (const juce::MouseEvent& e)
{
    // The gain control and the EQ button keep their own presses: no drag starts from them.
    if (dragStarted || e.mods.isPopupMenu() || e.getDistanceFromDragStart() <= 7 || isEditingText() || column.rowsLocked())
        return;
    dragStarted = true;
    column.view.startDragging ("row:" + juce::String (rowIndex), this, juce::ScaledImage(), false);
}

void RowComponent::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::Component::mouseWheelMove (e, wheel);
}

// ---- the model --------------------------------------------------------------------------------------

RowsModel::RowsModel (RowsColumn& owner) : column (owner) {}

int RowsModel::getNumRows()
{
    const auto* playlist = currentPlaylist (column.coordinator.catalogState().document);
    return playlist != nullptr ? (int) playlist->rows.size() : 0;
}

juce::Component* RowsModel::refreshComponentForRow (int row, bool, juce::Component* existing)
{
    auto* component = dynamic_cast<RowComponent*> (existing);
    if (! juce::isPositiveAndBelow (row, getNumRows()))
    {
        if (component != nullptr)
            component->closeEdits();
        delete existing;
        return nullptr;
    }
    if (component == nullptr)
    {
        delete existing;
        component = new RowComponent (column);
    }
    component->showRow (row);
    return component;
}

// ---- the column --------------------------------------------------------------------------------------

void RowsColumn::Memo::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::TextEditor::mouseWheelMove (e, wheel);
}

RowsColumn::RowsColumn (const SectionContext& context)
    : ViewSection (context), libraryPanel (context.coordinator, context.dialogs), rows ("setlist", &rowsModel, true)
{
    style (playlistTitle, 15.0f, textColourId);
    buildCaptions();
    buildButtons();
    buildPlaylistGain();
    buildMemo();
    rows.setWantsKeyboardFocus (false);
    rows.setColour (juce::ListBox::backgroundColourId, juce::Colours::transparentBlack);
    rows.setOutlineThickness (0);
    rows.takesDrag = [this] (const juce::String& description) { return rowsTakeDrag (description); };
    rows.onDrop = [this] (const juce::String& description, juce::Point<int> point) { dropOnRows (description, point); };
    rows.onFilesDropped = [this] (const juce::StringArray& files) { filesDroppedOnRows (files); };
    libraryPanel.importRunning = [this] { return cdImportState (coordinator).busy; };

    addPart (playlistTitle, "playlist-title");
    for (auto* caption : { &stateHeader, &numberHeader, &trackHeader, &durationHeader, &gainHeader })
        addPart (*caption, caption->getComponentID());
    addPart (rowDensityLabel, "row-density-label");
    addPart (rowDensity, "row-density");
    addPart (addAudio, "add-audio");
    addPart (rowUp, "row-up");
    addPart (rowDown, "row-down");
    addPart (removeRows, "remove-rows");
    addPart (memoFold, "memo-fold");
    addPart (playlistEq, "playlist-eq");
    addPart (playlistGain, "playlist-gain");
    addPart (memo, "playlist-memo");
    addPart (rows, "setlist");
    addPart (libraryPanel, "library-panel");
}

RowsColumn::~RowsColumn()
{
    rows.setModel (nullptr);
}

void RowsColumn::buildCaptions()
{
    const std::tuple<juce::Label*, const char*, const char*, bool, juce::Justification> captions[] = {
        { &stateHeader, "state-header", "状態", true, juce::Justification::centred },
        { &numberHeader, "number-header", "No.", false, juce::Justification::centred },
        { &trackHeader, "track-header", "タイトル / 備考", true, juce::Justification::centredLeft },
        { &durationHeader, "duration-header", "時間", true, juce::Justification::centredRight },
        { &gainHeader, "gain-header", "TRACK GAIN", false, juce::Justification::centredLeft }
    };
    for (const auto& [label, id, text, translated, justification] : captions)
    {
        style (*label, 10.0f, dimTextColourId, justification);
        label->setText (translated ? translate (text) : juce::String (text), juce::dontSendNotification);
        label->setComponentID (id);
    }
    style (rowDensityLabel, 10.0f, dimTextColourId);
    rowDensityLabel.setText (translate ("行間"), juce::dontSendNotification);
}

void RowsColumn::buildButtons()
{
    auto& co = coordinator;
    addAudio.setButtonText (translate ("＋ 音源"));
    wire (addAudio, [this]
    {
        view.chooseFiles (true, [this] (juce::Array<juce::File> files)
        {
            juce::StringArray paths;
            for (const auto& file : files)
                paths.add (file.getFullPathName());
            requestAdd (paths);
        });
    });
    rowUp.setButtonText (translate ("↑"));
    wire (rowUp, [this]
    {
        view.commitPendingEdits();
        if (selectedRow > 0)
            coordinator.moveRow (selectedRow, selectedRow - 1);
    });
    rowDown.setButtonText (translate ("↓"));
    wire (rowDown, [this]
    {
        view.commitPendingEdits();
        if (selectedRow >= 0)
            coordinator.moveRow (selectedRow, selectedRow + 1);
    });
    removeRows.setButtonText (translate ("削除"));
    wire (removeRows, [this] { deleteSelected(); });
    memoFold.setButtonText (translate ("メモ ▸"));
    wire (memoFold, [this] { coordinator.toggleMemoPanel(); view.resized(); });
    playlistEq.setButtonText ("EQ");
    playlistEq.setTooltip ("PLAYLIST EQ");
    wire (playlistEq, [this, &co]
    {
        const auto id = co.catalogState().document.current;
        if (! id.empty())
            view.openEq ("@playlist:" + juce::String::fromUTF8 (id.c_str()));
    });
}

void RowsColumn::buildPlaylistGain()
{
    auto& co = coordinator;
    const auto openPlaylistId = [&co] { return co.catalogState().document.current; };
    playlistGain.onEditStart = [&co] { co.beginEqEdit(); };
    // An undo or LIVE LOCK during a drag closes the drag's edit under the control: the drag's
    // next value opens a new one, and an end with none open still commits its value, so that
    // where the drag ends is always one undo step and saved.
    playlistGain.onEditEnd = [&co, openPlaylistId] (float finalDb)
    {
        if (! co.commitEqEdit() && ! openPlaylistId().empty())
            co.commitPlaylistGain (openPlaylistId(), finalDb);
    };
    playlistGain.onValue = [this, openPlaylistId] (float db)
    {
        const auto id = openPlaylistId();
        if (id.empty())
            return;
        if (playlistGain.editing)
        {
            if (! coordinator.isEqEditPending())
                coordinator.beginEqEdit();
            coordinator.setLivePlaylistGain (id, db);
        }
        else
        {
            coordinator.commitPlaylistGain (id, db);
        }
    };
}

void RowsColumn::buildMemo()
{
    rowDensity.setSliderStyle (juce::Slider::LinearHorizontal);
    rowDensity.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    rowDensity.setRange (0.0, 19.0, 1.0);
    rowDensity.setTooltip (translate ("行間 · 左: ゆったり / 右: コンパクト"));
    rowDensity.onValueChange = [this]
    {
        if (view.flags().syncing)
            return;
        coordinator.setRowHeight (49 - (int) rowDensity.getValue());
        view.refresh();
    };
    memo.setMultiLine (true, true);
    memo.setReturnKeyStartsNewLine (true);
    memo.setFont (juce::Font (12.0f));
    memo.setTextToShowWhenEmpty (translate ("プレイリスト全体のメモ"), themeColour (view, dimTextColourId));
    memo.onFocusLost = [this]
    {
        if (! view.flags().syncing && ! memoPlaylistId.empty() && ! memoCut)
            coordinator.setPlaylistMemo (memoPlaylistId, memo.getText().toStdString());
    };
}

void RowsColumn::layOut (const MainScreenLayout& layout)
{
    memoFold.setButtonText (translate (layout.memoFoldText.toRawUTF8()));
    ViewSection::layOut (layout);
}

void RowsColumn::takeColours()
{
    memo.setTextToShowWhenEmpty (memo.getTextToShowWhenEmpty(), themeColour (view, dimTextColourId));
}

void RowsColumn::saveMemo()
{
    // A cut memo is shown, never saved: its text on screen is not the memo.
    if (! memoPlaylistId.empty() && ! memoCut)
        coordinator.setPlaylistMemo (memoPlaylistId, memo.getText().toStdString());
}

juce::String RowsColumn::editRefusal (juce::Component& pressed) const
{
    if (auto* slider = lockedSliderOf (pressed))
    {
        auto* gain = dynamic_cast<GainControl*> (slider->getParentComponent());
        if (gain == &playlistGain)
            return translate ("プレイリスト未選択");
        if (gain != nullptr && gain->findParentComponentOfClass<RowComponent>() != nullptr)
            return translate ("LIVE LOCK中はトラックゲインを変更できません");
        return {};
    }
    if ((&pressed == &memo || memo.isParentOf (&pressed)) && memo.isReadOnly())
        return currentPlaylist (coordinator.catalogState().document) == nullptr ? translate ("プレイリスト未選択")
             : memoCut                                                          ? translate ("長すぎるため、ここでは編集できません")
                                                                                : translate ("LIVE LOCK中、または再生中のため編集できません");
    return {};
}

void RowsColumn::markReadyWheel (bool active)
{
    rows.getProperties().set ("wheel-active", active);
    rows.repaint();
}

void RowsColumn::refresh (const ViewSnapshot& s)
{
    for (auto* b : { &addAudio, &rowUp, &rowDown, &removeRows })
        b->setEnabled (! s.catalogLocked);
    showPlaylist (s);
    // The list is drawn again only where what it shows changed: a whole-screen repaint ten
    // times a second would cost more than everything else the view does.
    refreshRows (s);
    showSelection (s);
    showValue (rowDensity, 49 - juce::jlimit (30, 49, s.catalog.ui.rowHeight));
}

void RowsColumn::showPlaylist (const ViewSnapshot& s)
{
    const auto* p = s.openPlaylist;
    playlistGain.setEnabled (p != nullptr);
    playlistEq.setEnabled (p != nullptr);
    playlistGain.getProperties().set ("wheel-binding", p != nullptr ? utf8 (p->id) : juce::String());
    playlistGain.syncValue (p != nullptr ? p->gainDb : 0.0f);
    showToggle (playlistEq, p != nullptr && p->eq.enabled);
    showText (playlistTitle, p != nullptr ? labelTextOf (p->name) : translate ("プレイリスト未選択"));

    // The memo: left alone while the operator types into it. Only its head is ever converted
    // and laid out: a memo too long for the editor shows cut, after a note, and read-only, so
    // that it is never saved back cut.
    const std::string openId = p != nullptr ? p->id : std::string();
    if (! (memo.hasKeyboardFocus (true) && memoPlaylistId == openId))
    {
        memoPlaylistId = openId;
        bool cut = false;
        auto memoText = p != nullptr ? headOfText (p->memo, memoTextLimit, cut) : juce::String();
        if (cut)
            memoText = translate ("［メモが長すぎるため、先頭だけを表示しています。ここでは編集できません。保存されたメモはそのまま残ります。］")
                     + "\n\n" + memoText + juce::String::fromUTF8 ("…");
        memoCut = cut;
        if (memo.getText() != memoText)
            memo.setText (memoText, false);
    }

    // Read-only without a playlist, so that nothing typed is lost. A memo that refuses editing
    // takes no keyboard focus either: the keys stay the show's.
    const bool memoRefuses = p == nullptr || s.catalogLocked || memoCut;
    memo.setReadOnly (memoRefuses);
    if (memo.getWantsKeyboardFocus() == memoRefuses)
    {
        memo.setWantsKeyboardFocus (! memoRefuses);
        memo.setMouseClickGrabsKeyboardFocus (! memoRefuses);
        if (memoRefuses && memo.hasKeyboardFocus (true))
            view.grabKeyboardFocus();
    }
}

void RowsColumn::showSelection (const ViewSnapshot& s)
{
    selectedRow = -1;
    const auto* p = s.openPlaylist;
    if (p != nullptr && s.cue.anchor)
        for (int i = 0; i < (int) p->rows.size(); ++i)
            if (p->rows[(size_t) i].id == *s.cue.anchor)
                selectedRow = i;
    if (selectedRow < 0)
        rows.deselectAllRows();
    else if (! rows.isRowSelected (selectedRow))
        rows.selectRow (selectedRow, false, true);
}

void RowsColumn::deleteSelected()
{
    if (view.flags().libraryShown)
        return libraryPanel.requestRemove();
    if (! coordinator.cueState().anchor)
        return;
    const auto id = *coordinator.cueState().anchor;
    view.confirm (translate ("プレイリストから削除しますか？"), [this, id] { removeRowAndOffer (id); });
}

void RowsColumn::removeRowAndOffer (const std::string& rowId)
{
    const auto* playlist = currentPlaylist (coordinator.catalogState().document);
    if (playlist == nullptr)
        return;
    const auto row = std::find_if (playlist->rows.begin(), playlist->rows.end(), [&] (const Row& r) { return r.id == rowId; });
    if (row == playlist->rows.end())
        return;
    const auto source = juce::String::fromUTF8 (row->source.c_str());
    if (coordinator.removeRow (rowId))
        offerOwnedCleanup (juce::StringArray { source });
}

// ---- the rows list's flows ---------------------------------------------------------------------------

bool RowsColumn::rowsLocked() const { return coordinator.isLocked (LockScope::playlistEditing); }

void RowsColumn::refreshRows (const ViewSnapshot& s)
{
    const int height = juce::jlimit (30, 49, s.catalog.ui.rowHeight);
    if (rows.getRowHeight() != height)
        rows.setRowHeight (height);   // which loads the rows again

    // The rows are loaded again only when the document, the open playlist, the height or a lock
    // changed; a change of the cue repaints just the rows it concerns.
    const auto content = juce::String (s.changeCount) + "|" + juce::String (s.stateRevision) + "|"
                       + utf8 (s.catalog.document.current) + "|" + juce::String (height) + "|"
                       + (s.rowsLocked ? "e" : "") + (s.trackGainLocked ? "g" : "");
    if (content != rowsShown.content)
    {
        rowsShown.content = content;
        rows.updateContent();
    }
    const auto id = [] (const std::optional<std::string>& slot) { return slot.value_or (std::string()); };
    const std::array<std::string, 4> cue { id (s.cue.main), id (s.cue.outgoing), id (s.cue.ready), id (s.cue.anchor) };
    if (cue != rowsShown.cue || s.cue.paused != rowsShown.paused)
    {
        const auto concerned = [&] (const std::string& rowId)
        {
            return ! rowId.empty()
                && (std::find (cue.begin(), cue.end(), rowId) != cue.end()
                    || std::find (rowsShown.cue.begin(), rowsShown.cue.end(), rowId) != rowsShown.cue.end());
        };
        const int first = rows.getViewport()->getViewPositionY() / height;
        for (int i = first; i <= first + rows.getNumRowsOnScreen() + 1; ++i)
            if (auto* row = dynamic_cast<RowComponent*> (rows.getComponentForRowNumber (i)); row != nullptr && concerned (row->rowId))
                row->repaint();
        rowsShown.cue = cue;
        rowsShown.paused = s.cue.paused;
    }
    layoutRowHeader();
}

void RowsColumn::layoutRowHeader()
{
    const auto list = rows.getBounds();
    const auto columns = rowColumns (list.getWidth(), 23);
    const juce::Point<int> origin (list.getX(), list.getY() - 23);
    const std::pair<juce::Label*, juce::Rectangle<int>> captions[] = {
        { &stateHeader, columns.status }, { &numberHeader, columns.number }, { &trackHeader, columns.title },
        { &durationHeader, columns.duration }, { &gainHeader, columns.gain }
    };
    for (const auto& [caption, column] : captions)
        caption->setBounds (column + origin);
}

void RowsColumn::rowMenu (const std::string& rowId, const juce::PopupMenu::Options& at)
{
    if (dialogs.isOpen())
        return;
    const bool editable = ! rowsLocked();
    juce::PopupMenu menu;
    menu.addItem (1, translate ("音源を再リンク…"), editable);
    menu.addItem (3, translate ("備考を編集…"), editable);   // the only way to a note on a row that has none
    menu.addItem (2, translate ("プレイリストから削除…"), editable);
    dialogs.showMenu (menu, at, MenuLeadsTo::noNameDialog, [this, rowId] (int result)
    {
        auto& co = coordinator;
        if (result == 1)
            view.chooseFiles (false, [&co, rowId] (juce::Array<juce::File> files) { co.relinkRow (rowId, files[0]); });
        else if (result == 2)
            view.confirm (translate ("プレイリストから削除しますか？"), [this, rowId] { removeRowAndOffer (rowId); });
        else if (result == 3)
            editRowNote (rowId);
    });
}

void RowsColumn::editRowNote (const std::string& rowId)
{
    const int index = indexOfRow (coordinator, rowId);
    if (index < 0)
        return;
    rows.scrollToEnsureRowIsOnscreen (index);
    if (auto* row = dynamic_cast<RowComponent*> (rows.getComponentForRowNumber (index)))
        row->editNote();
}

void RowsColumn::requestAdd (const juce::StringArray& files)
{
    if (dialogs.isOpen() || files.isEmpty() || rowsLocked())
        return;
    view.commitPendingEdits();
    dialogs.ask (translate ("音源を追加"), translate ("ライブラリにコピーするか、元のファイルを参照するか選んでください。"),
                 juce::MessageBoxIconType::QuestionIcon,
                 { { translate ("コピーして追加"), 1 }, { translate ("元の場所を参照"), 2 },
                   { translate ("キャンセル"), 0, juce::KeyPress (juce::KeyPress::escapeKey) } },
                 [this, files] (int result)
    {
        if (result == 1 || result == 2)
            coordinator.addFiles (files, result == 1);
    });
}

void RowsColumn::offerOwnedCleanup (const juce::StringArray& paths)
{
    auto& c = coordinator;
    const auto& playlists = c.undoHistory().current().playlists;
    juce::StringArray candidates, names;
    for (const auto& path : paths)
    {
        if (! juce::File::isAbsolutePath (path) || candidates.contains (path))
            continue;
        const auto item = c.mediaLibrary().findFileUses (juce::File (path), playlists, c.catalogState().pads);
        const bool managed = item.kind == LibraryFileKind::PlaylistCopy || item.kind == LibraryFileKind::PadCopy;
        if (managed && item.exists && item.rowUses == 0 && item.padUses == 0 && ! item.pending
            && (item.kind == LibraryFileKind::PadCopy || ! rowsLocked()))
        {
            candidates.add (path);
            names.add (item.displayName);
        }
    }
    c.refreshLibrary();
    if (candidates.isEmpty() || dialogs.isOpen())
        return;

    auto message = translate ("一覧から外しました。Vantrel内の音源もごみ箱へ移しますか？\n残した音源はライブラリの「未使用」で後から整理できます。\n\n");
    for (int i = 0; i < std::min (4, names.size()); ++i)
        message << names[i] << "\n";
    if (names.size() > 4)
        message << translate ("ほか ") << juce::String (names.size() - 4) << translate ("音源\n");
    message << translate ("\nごみ箱への移動はUndoで戻せません。");

    dialogs.ask (translate ("保存音源の扱い"), message, juce::MessageBoxIconType::QuestionIcon,
                 { { translate ("ファイルを残す"), 0, juce::KeyPress (juce::KeyPress::escapeKey) }, { translate ("ごみ箱へ移す"), 1 } },
                 [this, candidates] (int result)
    {
        if (result == 1)
        {
            for (const auto& path : candidates)
                coordinator.removeLibraryFile (path);
            coordinator.refreshLibrary();
        }
    });
}

// ---- drops on the rows list -------------------------------------------------------------------------

bool RowsColumn::rowsTakeDrag (const juce::String& description) const
{
    return ! rowsLocked() && description.startsWith ("row:");
}

void RowsColumn::dropOnRows (const juce::String& description, juce::Point<int> point)
{
    view.commitPendingEdits();
    if (! rowsLocked() && description.startsWith ("row:"))
    {
        // Below the last row (or beside the list) is the end of the list.
        const int from = description.fromFirstOccurrenceOf (":", false, false).getIntValue();
        const int target = rows.getRowContainingPosition (point.x, point.y);
        coordinator.moveRow (from, target >= 0 ? target : std::max (0, rowsModel.getNumRows() - 1));
    }
    view.refresh();
}

void RowsColumn::filesDroppedOnRows (const juce::StringArray& files)
{
    requestAdd (files);
    view.refresh();
}
} // namespace vantrel
