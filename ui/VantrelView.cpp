#include "ui/ViewImpl.h"

#include "session/CatalogValidation.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"
#include "ui/Pads.h"

#include <cmath>

namespace vantrel
{
namespace
{
constexpr std::array<int, 20> zoomTable { 10, 15, 20, 30, 40, 50, 60, 75, 90, 105,
                                          120, 150, 180, 210, 240, 300, 360, 420, 480, 600 };

void collectEditables (juce::Component& parent, juce::Array<juce::Label*>& labels, juce::Array<juce::Slider*>& sliders)
{
    for (auto* child : parent.getChildren())
    {
        if (auto* label = dynamic_cast<juce::Label*> (child))
            labels.add (label);
        if (auto* slider = dynamic_cast<juce::Slider*> (child))
            sliders.add (slider);
        collectEditables (*child, labels, sliders);
    }
}
} // namespace

double zoomSeconds (int zoom)
{
    return zoomTable[(size_t) juce::jlimit (0, (int) zoomTable.size() - 1, zoom)];
}

// ---- the wheel-first children -------------------------------------------------------------------

VantrelView::Impl::List::List (VantrelView& v, const juce::String& name, juce::ListBoxModel* model, bool rowsList)
    : juce::ListBox (name, model), view (v), holdsRows (rowsList)
{
}

bool VantrelView::Impl::List::isInterestedInDragSource (const SourceDetails& details)
{
    const auto description = details.description.toString();
    return holdsRows ? view.impl->rowsTakeDrag (description) : view.impl->treeTakesDrag (description);
}

void VantrelView::Impl::List::itemDropped (const SourceDetails& details)
{
    const auto description = details.description.toString();
    if (holdsRows)
        view.impl->dropOnRows (description, details.localPosition);
    else
        view.impl->dropOnTree (description, details.localPosition);
}

bool VantrelView::Impl::List::isInterestedInFileDrag (const juce::StringArray&) { return holdsRows; }

void VantrelView::Impl::List::filesDropped (const juce::StringArray& files, int, int)
{
    if (holdsRows)
        view.impl->filesDroppedOnRows (files);
}

void VantrelView::Impl::List::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::ListBox::mouseWheelMove (e, wheel);
}

void VantrelView::Impl::List::paintOverChildren (juce::Graphics& g)
{
    if (getProperties()["wheel-active"])
    {
        g.setColour (themeColour (*this, wheelTargetColourId));
        g.drawRect (getLocalBounds(), 2);
    }
}

void VantrelView::Impl::Slider::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::Slider::mouseWheelMove (e, wheel);
}

void VantrelView::Impl::Memo::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::TextEditor::mouseWheelMove (e, wheel);
}

void VantrelView::Impl::PadViewport::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::Viewport::mouseWheelMove (e, wheel);
}

// ---- building the parts ----------------------------------------------------------------------------

void VantrelView::Impl::wire (juce::Button& button, std::function<void()> action)
{
    button.setWantsKeyboardFocus (false);
    button.onClick = [this, action = std::move (action)]
    {
        action();
        view.refresh();
    };
}

void VantrelView::Impl::style (juce::Label& label, float points, int colourId, juce::Justification justification)
{
    label.setFont (juce::Font (points));
    paletteParts.bind (label, juce::Label::textColourId, colourId);
    label.setColour (juce::Label::textColourId, themeColour (view, colourId));
    label.setJustificationType (justification);
    label.setInterceptsMouseClicks (false, false);
}

void VantrelView::Impl::takeColours()
{
    paletteParts.apply (view);
    memo.setTextToShowWhenEmpty (memo.getTextToShowWhenEmpty(), themeColour (view, dimTextColourId));
    // The colours that follow the state (the status line's warning, the output, the VST button)
    // are chosen again by the next refresh.
}

void VantrelView::Impl::toggleDetailedTime()
{
    flags.detailedTime = ! flags.detailedTime;
    for (auto* lane : { &outgoingLane, &mainLane, &readyLane })
    {
        lane->time.detailed = flags.detailedTime;
        lane->time.getProperties().set ("detailed-time", flags.detailedTime);
        lane->time.repaint();
    }
}

VantrelView::Impl::Impl (VantrelView& v, SessionCoordinator& c)
    : view (v),
      coordinator (c),
      dialogs (v, c, theme, flags.dialogOpen, v.fileChooser),
      zoom (v),
      rowDensity (v),
      memo (v),
      playlistModel (*this),
      rowsModel (*this),
      tree (v, "playlists", &playlistModel, false),
      rows (v, "setlist", &rowsModel, true),
      padEditor (v)
{
    auto& co = coordinator;
    const auto openPlaylistId = [&co] { return co.catalogState().document.current; };

    go.setComponentID ("go");
    go.setWantsKeyboardFocus (false);
    go.onClick = [this]
    {
        coordinator.go();
        view.refresh();
    };
    brand.setComponentID ("brand");
    padBrand.setComponentID ("pad-brand");
    repeat.setComponentID ("repeat");
    wire (repeat, [&co] { co.cycleRepeat(); });
    outgoingLane.setComponentID ("wave-outgoing");
    mainLane.setComponentID ("wave-main");
    readyLane.setComponentID ("wave-ready");
    wire (outgoingLane.stopButton, [&co] { co.stop (false); });
    wire (mainLane.stopButton, [&co] { co.stop (true); });
    mainLane.onScrub = [this] (double seconds)
    {
        coordinator.seekMain (seconds, true);
        view.refresh();
    };
    for (auto* lane : { &outgoingLane, &mainLane, &readyLane })
        lane->time.onClick = [this] { toggleDetailedTime(); };

    masterGain.setComponentID ("master-gain");
    masterGain.onValue = [&co] (float db) { co.setMasterGain (db); };
    padBusGain.setComponentID ("pad-bus");
    padBusGain.onValue = [&co] (float db) { co.setPadBusGain (db); };
    playlistGain.setComponentID ("playlist-gain");
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

    const auto text = [] (juce::Button& b, const char* t) { b.setButtonText (translate (t)); };
    seekBack.setComponentID ("seek-back");
    text (seekBack, "◀◀");
    wire (seekBack, [&co] { co.seekMain (-5.0, false); });
    pause.setComponentID ("pause");
    text (pause, "▶ / Ⅱ");
    wire (pause, [&co] { co.togglePause(); });
    seekForward.setComponentID ("seek-forward");
    text (seekForward, "▶▶");
    wire (seekForward, [&co] { co.seekMain (5.0, false); });
    for (auto* b : { &seekBack, &seekForward })
        b->setRepeatSpeed (450, 180, 100);
    autoCue.setComponentID ("auto-cue");
    autoCue.setButtonText ("AUTO CUE");
    wire (autoCue, [&co] { co.toggleAutoCue(); });
    autoReady.setComponentID ("auto-ready");
    autoReady.setButtonText ("AUTO READY");
    wire (autoReady, [&co] { co.toggleAutoReady(); });
    lock.setComponentID ("lock");
    lock.setButtonText ("LIVE LOCK");
    wire (lock, [this]
    {
        view.commitPendingEdits();
        if (! coordinator.isLiveLockOn())
            coordinator.toggleLiveLock();
        else
            view.confirm (translate ("LIVE LOCKを解除しますか？"), [this] { coordinator.toggleLiveLock(); });
    });
    outputDevice.setComponentID ("output-device");
    text (outputDevice, "出力先 ⚙");
    wire (outputDevice, [this] { dialogs.openOutputDialog(); });

    style (outputLabel, 10.0f, dimTextColourId, juce::Justification::centredRight);
    style (statusLabel, 11.0f, dimTextColourId);
    style (playlistsHeading, 11.0f, dimTextColourId);
    playlistsHeading.setText ("PLAYLISTS", juce::dontSendNotification);
    style (playlistTitle, 15.0f, textColourId);
    style (padPresetLabel, 10.0f, dimTextColourId);
    padPresetLabel.setComponentID ("pad-preset-label");
    padPresetLabel.setText (translate ("プリセット"), juce::dontSendNotification);
    style (masterHeading, 11.0f, dimTextColourId);
    masterHeading.setText ("MASTER", juce::dontSendNotification);
    style (grReadout, 10.0f, accentColourId);
    grReadout.setText ("GR  0.0 dB", juce::dontSendNotification);
    style (safetyMark, 9.0f, alertColourId);
    safetyMark.setText ("SAFETY", juce::dontSendNotification);
    style (stateHeader, 10.0f, dimTextColourId, juce::Justification::centred);
    stateHeader.setComponentID ("state-header");
    stateHeader.setText (translate ("状態"), juce::dontSendNotification);
    style (numberHeader, 10.0f, dimTextColourId, juce::Justification::centred);
    numberHeader.setComponentID ("number-header");
    numberHeader.setText ("No.", juce::dontSendNotification);
    style (trackHeader, 10.0f, dimTextColourId);
    trackHeader.setComponentID ("track-header");
    trackHeader.setText (translate ("タイトル / 備考"), juce::dontSendNotification);
    style (durationHeader, 10.0f, dimTextColourId, juce::Justification::centredRight);
    durationHeader.setComponentID ("duration-header");
    durationHeader.setText (translate ("時間"), juce::dontSendNotification);
    style (gainHeader, 10.0f, dimTextColourId);
    gainHeader.setComponentID ("gain-header");
    gainHeader.setText ("TRACK GAIN", juce::dontSendNotification);
    style (padBusHeading, 10.0f, dimTextColourId);
    padBusHeading.setText ("PAD BUS GAIN", juce::dontSendNotification);
    style (zoomLabel, 10.0f, dimTextColourId);
    zoomLabel.setComponentID ("wave-zoom-label");
    style (rowDensityLabel, 10.0f, dimTextColourId);
    rowDensityLabel.setComponentID ("row-density-label");
    rowDensityLabel.setText (translate ("行間"), juce::dontSendNotification);

    text (playlistsFold, "‹");
    wire (playlistsFold, [this] { coordinator.togglePlaylistPanel(); view.resized(); });
    addTreeButton.setComponentID ("add-playlist-folder");
    addTreeButton.setButtonText ("+");
    addTreeButton.setTooltip (translate ("プレイリスト／フォルダーを追加・右クリックで整理"));
    wire (addTreeButton, [this] { addTreeAtSelection(); });
    text (removeTreeButton, "削除");
    wire (removeTreeButton, [this] { removeSelectedTree(); });
    addAudio.setComponentID ("add-audio");
    text (addAudio, "＋ 音源");
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
    text (rowUp, "↑");
    wire (rowUp, [this]
    {
        view.commitPendingEdits();
        if (selectedRow > 0)
            coordinator.moveRow (selectedRow, selectedRow - 1);
    });
    text (rowDown, "↓");
    wire (rowDown, [this]
    {
        view.commitPendingEdits();
        if (selectedRow >= 0)
            coordinator.moveRow (selectedRow, selectedRow + 1);
    });
    text (removeRows, "削除");
    wire (removeRows, [this] { deleteSelected(); });
    text (memoFold, "メモ ▸");
    wire (memoFold, [this] { coordinator.toggleMemoPanel(); view.resized(); });
    text (padsFold, "›");
    wire (padsFold, [this] { coordinator.togglePadPanel(); view.resized(); });
    allMute.setButtonText ("ALL MUTE");
    paletteParts.bind (allMute, juce::TextButton::textColourOnId, noticeColourId);
    allMute.setColour (juce::TextButton::textColourOnId, themeColour (view, noticeColourId));
    wire (allMute, [&co] { co.setPadMute (! co.isPadMuteOn()); });
    stopPads.setComponentID ("stop-pads");
    text (stopPads, "■ ALL");
    wire (stopPads, [&co] { co.stopAllPads(); });
    padEdit.setComponentID ("pad-edit");
    text (padEdit, "編集");
    wire (padEdit, [this] { flags.padEditMode = ! flags.padEditMode; });
    limiter.setComponentID ("master-limiter");
    limiter.setButtonText ("LIMITER");
    limiter.setTooltip (translate ("LIMITER + SAFETY を同時にON/OFF・終了時の状態を保存"));
    wire (limiter, [&co] { co.setLimiterEnabled (! co.isLimiterOn()); });
    dynamicsFold.setComponentID ("dynamics-fold");
    text (dynamicsFold, "DYNAMICS ▸");
    wire (dynamicsFold, [this] { flags.dynamicsOpen = ! flags.dynamicsOpen; view.resized(); });
    vst.setComponentID ("vst-rack");
    vst.setButtonText ("VST");
    wire (vst, [this] { view.openMasterVst(); });
    text (recover, "復旧");
    wire (recover, [this]
    {
        view.confirm (translate ("保全済みバックアップから保存データを復旧しますか？"), [this] { coordinator.recoverStore(); });
    });
    masterEq.setComponentID ("master-eq");
    masterEq.setButtonText ("EQ");
    masterEq.setTooltip ("MASTER EQ");
    wire (masterEq, [this] { view.openEq ("@master"); });
    playlistEq.setComponentID ("playlist-eq");
    playlistEq.setButtonText ("EQ");
    playlistEq.setTooltip ("PLAYLIST EQ");
    wire (playlistEq, [this, openPlaylistId]
    {
        if (! openPlaylistId().empty())
            view.openEq ("@playlist:" + juce::String::fromUTF8 (openPlaylistId().c_str()));
    });
    settings.setComponentID ("settings");
    settings.setButtonText (uiLanguage() ? juce::String::fromUTF8 ("⚙ Settings") : translate ("⚙ 設定"));
    wire (settings, [this] { view.openSettingsWindow(); });

    zoom.setComponentID ("wave-zoom");
    zoom.setSliderStyle (juce::Slider::LinearHorizontal);
    zoom.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    zoom.setRange (0.0, 19.0, 1.0);
    zoom.setTooltip (translate ("3段共通の波形ズーム · 10秒〜10分"));
    zoom.onValueChange = [this]
    {
        if (flags.syncing)
            return;
        coordinator.setZoom ((int) zoom.getValue());
        view.refresh();
    };
    rowDensity.setComponentID ("row-density");
    rowDensity.setSliderStyle (juce::Slider::LinearHorizontal);
    rowDensity.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    rowDensity.setRange (0.0, 19.0, 1.0);
    rowDensity.setTooltip (translate ("行間 · 左: ゆったり / 右: コンパクト"));
    rowDensity.onValueChange = [this]
    {
        if (flags.syncing)
            return;
        coordinator.setRowHeight (49 - (int) rowDensity.getValue());
        view.refresh();
    };
    memo.setComponentID ("playlist-memo");
    memo.setMultiLine (true, true);
    memo.setReturnKeyStartsNewLine (true);
    memo.setFont (juce::Font (12.0f));
    memo.setTextToShowWhenEmpty (translate ("プレイリスト全体のメモ"), themeColour (view, dimTextColourId));
    memo.onFocusLost = [this]
    {
        if (! flags.syncing && ! memoPlaylistId.empty())
            coordinator.setPlaylistMemo (memoPlaylistId, memo.getText().toStdString());
    };
    tree.setComponentID ("playlists");
    tree.setRowHeight (36);
    // Lines are selected when the button comes up: a drag moves the line it started on and
    // opens nothing on the way.
    tree.setRowSelectedOnMouseDown (false);
    rows.setComponentID ("setlist");
    for (auto* list : { &tree, &rows })
    {
        list->setWantsKeyboardFocus (false);
        list->setColour (juce::ListBox::backgroundColourId, juce::Colours::transparentBlack);
        list->setOutlineThickness (0);
    }

    // The z-order is the order of adding.
    for (juce::Component* c : std::initializer_list<juce::Component*> {
             &go, &outgoingLane, &mainLane, &readyLane, &meter, &masterGain, &padBusGain, &seekBack, &pause,
             &seekForward, &autoCue, &autoReady, &repeat, &lock, &outputDevice, &brand, &outputLabel, &statusLabel,
             &playlistsHeading, &playlistTitle, &padBrand, &padPresetLabel, &masterHeading, &grReadout, &safetyMark,
             &stateHeader, &numberHeader, &trackHeader, &durationHeader, &gainHeader, &rowDensityLabel, &rowDensity,
             &padBusHeading, &zoomLabel, &playlistsFold, &addTreeButton, &removeTreeButton, &addAudio, &rowUp,
             &rowDown, &removeRows, &memoFold, &padsFold, &allMute, &stopPads, &padEdit, &limiter, &dynamicsFold, &vst,
             &recover, &masterEq, &playlistEq, &playlistGain, &settings, &zoom, &memo, &tree, &rows })
        view.addAndMakeVisible (c);

    libraryButton.setComponentID ("library-button");
    text (libraryButton, "ライブラリ · すべての音源");
    libraryButton.setWantsKeyboardFocus (false);
    libraryButton.onClick = [this]
    {
        view.commitPendingEdits();
        flags.libraryShown = true;
        libraryPanel.refreshNow();
        view.refresh();
    };
    libraryPanel.setComponentID ("library-panel");
    libraryPanel.importRunning = [this] { return cdImportState (coordinator).busy; };
    cdImport.setComponentID ("cd-import");
    text (cdImport, "CDを取り込む…");
    cdImport.setWantsKeyboardFocus (false);
    cdImport.onClick = [this] { dialogs.openCdWindow(); };
    cdSummary.setComponentID ("cd-summary");
    style (cdSummary, 10.0f, dimTextColourId);
    padEditor.setComponentID ("pad-editor-list");
    padEditor.setScrollBarsShown (true, false);
    padEditor.setViewedComponent (&padEditorContainer, false);
    for (juce::Component* c : std::initializer_list<juce::Component*> { &libraryButton, &libraryPanel, &cdImport, &cdSummary, &padEditor })
        view.addAndMakeVisible (c);
    safetyMark.setVisible (false);
    recover.setVisible (false);

    static const char* const limiterNames[] = { "THRESHOLD", "CEILING", "RELEASE", "MAXIMIZE" };
    static const double ranges[][3] = { { -30.0, 0.0, 0.1 }, { -12.0, 0.0, 0.1 }, { 10.0, 2000.0, 1.0 }, { 0.0, 24.0, 0.1 } };
    for (int i = 0; i < 4; ++i)
    {
        style (limiterLabels[(size_t) i], 9.0f, dimTextColourId);
        limiterLabels[(size_t) i].setText (limiterNames[i], juce::dontSendNotification);
        auto& slider = *(limiterSliders[(size_t) i] = std::make_unique<Slider> (view));
        slider.setSliderStyle (juce::Slider::LinearHorizontal);
        slider.setTextBoxStyle (juce::Slider::TextBoxRight, false, 46, 20);
        slider.setRange (ranges[i][0], ranges[i][1], ranges[i][2]);
        slider.onValueChange = [this, i, &slider]
        {
            if (! flags.syncing)
                coordinator.setLimiterParameter (i, (float) slider.getValue());
        };
        view.addAndMakeVisible (limiterLabels[(size_t) i]);
        view.addAndMakeVisible (slider);
    }
    for (int n = 1; n <= 5; ++n)
    {
        auto& bank = bankButtons[(size_t) n - 1];
        bank.setButtonText (juce::String (n));
        bank.setWantsKeyboardFocus (false);
        bank.onClick = [this, n]
        {
            view.commitPendingEdits();
            coordinator.selectPadBank (n);
            view.refresh();
        };
        view.addAndMakeVisible (bank);
    }
    for (int n = 1; n <= 9; ++n)
    {
        pads[(size_t) n - 1] = std::make_unique<Pad> (*this, n);
        view.addAndMakeVisible (*pads[(size_t) n - 1]);
    }

    // The remaining parts take their layout names as ids; every part the layout places is then
    // found by its id, by the layout and by whatever drives the window from outside.
    const std::pair<const char*, juce::Component*> named[] = {
        { "master-heading", &masterHeading }, { "meter", &meter }, { "gr-readout", &grReadout },
        { "safety-mark", &safetyMark }, { "output-label", &outputLabel }, { "status-label", &statusLabel },
        { "recover", &recover }, { "playlists-fold", &playlistsFold }, { "playlists-heading", &playlistsHeading },
        { "tree-remove", &removeTreeButton }, { "playlist-title", &playlistTitle }, { "row-up", &rowUp },
        { "row-down", &rowDown }, { "remove-rows", &removeRows }, { "memo-fold", &memoFold },
        { "pads-fold", &padsFold }, { "pad-bus-heading", &padBusHeading }, { "pad-mute-all", &allMute }
    };
    for (const auto& [name, component] : named)
        component->setComponentID (name);
    for (int i = 0; i < 4; ++i)
    {
        limiterLabels[(size_t) i].setComponentID ("limiter-label-" + juce::String (i));
        limiterSliders[(size_t) i]->setComponentID ("limiter-slider-" + juce::String (i));
    }
    for (int n = 1; n <= 5; ++n)
        bankButtons[(size_t) n - 1].setComponentID ("pad-bank-" + juce::String (n));
    for (juce::Component* c : view.getChildren())
        if (c->getComponentID().isNotEmpty())
            parts[c->getComponentID().toStdString()] = c;
}

VantrelView::Impl::~Impl()
{
    dialogs.closeAll();
    tree.setModel (nullptr);
    rows.setModel (nullptr);
    view.setLookAndFeel (nullptr);
    for (auto& pad : pads)
        pad.reset();
}

void VantrelView::Impl::applyLayout()
{
    MainScreenState state;
    state.dynamicsOpen = flags.dynamicsOpen;
    state.libraryShown = flags.libraryShown;
    state.padEditMode = flags.padEditMode;
    state.playlistsFolded = coordinator.catalogState().ui.playlistsFolded;
    state.padsFolded = coordinator.catalogState().ui.padsFolded;
    state.memoFolded = coordinator.catalogState().ui.memoFolded;
    state.english = uiLanguage();
    state.scrollBarThickness = padEditor.getScrollBarThickness();
    layout = layoutMainScreen (view.getLocalBounds(), state);
    playlistsFold.setButtonText (translate (layout.playlistsFoldText.toRawUTF8()));
    padsFold.setButtonText (translate (layout.padsFoldText.toRawUTF8()));
    memoFold.setButtonText (translate (layout.memoFoldText.toRawUTF8()));

    padEditorContainer.setSize (layout.padEditorContainer.getWidth(), layout.padEditorContainer.getHeight());
    for (auto& pad : pads)
    {
        auto& parent = layout.padsInEditor ? padEditorContainer : static_cast<juce::Component&> (view);
        if (pad->getParentComponent() != &parent)
            parent.addChildComponent (*pad);
    }
    for (const auto& [name, component] : parts)
    {
        const auto& place = layout[name];
        component->setBounds (place.bounds);
        // The refresh shows the SAFETY mark and the recover button only while they apply.
        const bool shownByRefresh = component == &safetyMark || component == &recover;
        if (! shownByRefresh || ! place.visible)
            component->setVisible (place.visible && ! place.bounds.isEmpty());
    }
    ++layoutCount;
}

namespace
{
/** The view's gradient and the sections' boxes. */
void paintViewBackground (juce::Graphics& g, const juce::Component& view, const MainScreenLayout& layout)
{
    g.setGradientFill (juce::ColourGradient (themeColour (view, fieldColourId), 0.0f, 0.0f, juce::Colour (0xFF111B24),
                                             (float) view.getWidth(), (float) view.getHeight(), false));
    g.fillAll();
    for (const auto& panel : { layout.masterPanel, layout.playlistPanel, layout.rowsPanel, layout.padsPanel })
        if (panel.getWidth() > 0 && panel.getHeight() > 0)
            paintSectionBox (g, panel.toFloat(), view);
}
} // namespace

// ---- the view --------------------------------------------------------------------------------------

VantrelView::VantrelView (SessionCoordinator& c) : coordinator (c)
{
    buildImpl();
    addKeyListener (this);
    setWantsKeyboardFocus (true);
    setSize (1380, 860);
    startTimer (1000 / 30);
    refresh();
}

VantrelView::~VantrelView()
{
    stopTimer();
    removeMouseListener (this);
    removeKeyListener (this);
    impl.reset();
}

void VantrelView::buildImpl()
{
    removeMouseListener (this);
    impl.reset();
    impl = std::make_unique<Impl> (*this, coordinator);
    setLookAndFeel (&impl->theme);
    languageAtBuild = uiLanguage();
    tickCount = 0;
    addMouseListener (this, true);
}

ViewFlags& VantrelView::flags() { return impl->flags; }

const ViewFlags& VantrelView::flags() const { return impl->flags; }

juce::String VantrelView::eqTarget() const { return impl->eqTarget; }

int VantrelView::layoutCount() const { return impl->layoutCount; }

juce::RectangleList<int> VantrelView::Impl::opaqueFaces() const
{
    juce::RectangleList<int> faces;
    if (! themeColour (view, panelColourId).isOpaque() || ! themeColour (view, fieldColourId).isOpaque())
        return faces;
    const auto add = [&] (const juce::Component& part, int cornerMargin)
    {
        // Only a part drawn straight onto the view: one in a scrolled container may be cut by it.
        if (part.getParentComponent() == &view && part.isVisible() && part.getWidth() > 2 * cornerMargin && part.getHeight() > 8)
            faces.add (part.getBounds().reduced (cornerMargin, 4));
    };
    for (const auto* lane : { &outgoingLane, &mainLane, &readyLane })
        add (*lane, 10);   // a 7 px corner inside an outline 0.7 px in
    add (go, 12);          // a 9 px corner, 1 px in
    for (const auto& pad : pads)
        if (pad != nullptr)
            add (*pad, 10);   // a 7 px corner, 1 px in
    return faces;
}

void VantrelView::paint (juce::Graphics& g)
{
    for (const auto& face : impl->opaqueFaces())
        g.excludeClipRegion (face);

    // The background is the same until the size, the scale, the panels or the palette change:
    // drawn once into an image of screen pixels with the very transform it is painted with, it is
    // copied pixel for pixel where a repaint needs it. That holds where the view's origin falls on
    // a whole screen pixel and it is only scaled; elsewhere it is drawn directly.
    const auto& t = getTransform();
    const float scale = t.isIdentity() ? 1.0f : t.mat00;
    const bool plainScale = t.mat01 == 0.0f && t.mat10 == 0.0f && t.mat00 == t.mat11 && t.mat02 == 0.0f && t.mat12 == 0.0f
                         && scale > 0.0f && std::abs (g.getInternalContext().getPhysicalPixelScaleFactor() - scale) < 1.0e-4f;
    if (plainScale)
    {
        const auto& layout = impl->layout;
        std::vector<juce::uint32> drawnFrom { (juce::uint32) getWidth(), (juce::uint32) getHeight(),
                                              (juce::uint32) juce::roundToInt (scale * 1.0e6f),
                                              themeColour (*this, fieldColourId).getARGB(),
                                              themeColour (*this, panelColourId).getARGB(),
                                              themeColour (*this, lineColourId).getARGB() };
        for (const auto& panel : { layout.masterPanel, layout.playlistPanel, layout.rowsPanel, layout.padsPanel })
            for (const auto v : { panel.getX(), panel.getY(), panel.getWidth(), panel.getHeight() })
                drawnFrom.push_back ((juce::uint32) v);
        auto& image = impl->background;
        if (image.isNull() || drawnFrom != impl->backgroundDrawnFrom)
        {
            image = juce::Image (juce::Image::ARGB, std::max (1, (int) std::ceil ((float) getWidth() * scale)),
                                 std::max (1, (int) std::ceil ((float) getHeight() * scale)), false);
            juce::Graphics cached (image);
            if (scale != 1.0f)
                cached.addTransform (juce::AffineTransform::scale (scale));
            paintViewBackground (cached, *this, impl->layout);
            impl->backgroundDrawnFrom = std::move (drawnFrom);
        }
        g.setOpacity (1.0f);
        if (scale == 1.0f)
            g.drawImageAt (image, 0, 0);
        else
            g.drawImageTransformed (image, juce::AffineTransform::scale (1.0f / scale));
        return;
    }
    paintViewBackground (g, *this, impl->layout);
}

void VantrelView::lookAndFeelChanged()
{
    if (impl != nullptr)
        impl->takeColours();
}

void VantrelView::colourChanged()
{
    lookAndFeelChanged();
}

void VantrelView::resized()
{
    if (impl != nullptr)
        impl->applyLayout();
}

void VantrelView::mouseDown (const juce::MouseEvent& e)
{
    // A press outside the text field being typed into ends the typing (a value box commits): the
    // controls the press lands on mostly take no focus of their own, which would leave it there.
    auto* focused = juce::Component::getCurrentlyFocusedComponent();
    if (dynamic_cast<juce::TextEditor*> (focused) != nullptr && isParentOf (focused) && e.eventComponent != focused
        && ! focused->isParentOf (e.eventComponent))
        grabKeyboardFocus();
    if (e.mods.isLeftButtonDown())
        bindWheelTarget (e.eventComponent);
    // Any press ends the typing at a box that refuses editing, unless it is on such a box again.
    if (! e.mods.isLeftButtonDown() || ! impl->refuseEditAt (e.eventComponent))
        impl->refusedTyping.disarm();
}

void VantrelView::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    // Called twice for a turn over a child: as the children's listener and when the turn bubbles
    // up. The router applies a turn once, whichever path brings it first.
    if (! offerWheelToRouter (*this, e, wheel))
        juce::Component::mouseWheelMove (e, wheel);
}

bool VantrelView::keyPressed (const juce::KeyPress&, juce::Component*)
{
    return false;   // keys reach the view through the window's router and handleShortcut
}

bool VantrelView::keyStateChanged (bool, juce::Component*)
{
    // Held keys are released by the window's router, which reads key-ups from the X keyboard
    // state: JUCE's isKeyCurrentlyDown knows neither virtual-key codes nor the keypad.
    return false;
}

void VantrelView::commitPendingEdits()
{
    juce::Array<juce::Label*> labels;
    juce::Array<juce::Slider*> sliders;
    collectEditables (*this, labels, sliders);
    for (auto* label : labels)
        if (label->isBeingEdited())
            label->hideEditor (false);
    for (auto* slider : sliders)
        slider->hideTextBox (false);
    if (! impl->memoPlaylistId.empty())
        coordinator.setPlaylistMemo (impl->memoPlaylistId, impl->memo.getText().toStdString());
}
} // namespace vantrel
