#include "ui/ViewImpl.h"

#include "session/CatalogValidation.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"

#include <cmath>

namespace vantrel
{
namespace
{
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

// ---- the wheel-first children -------------------------------------------------------------------

void VantrelView::Impl::Memo::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::TextEditor::mouseWheelMove (e, wheel);
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

VantrelView::Impl::Impl (VantrelView& v, SessionCoordinator& c)
    : view (v),
      coordinator (c),
      dialogs (v, c, theme, flags.dialogOpen, v.fileChooser),
      transport ({ v, c, paletteParts, dialogs, *this }),
      lanes ({ v, c, paletteParts, dialogs, *this }),
      master ({ v, c, paletteParts, dialogs, *this }),
      status ({ v, c, paletteParts, dialogs, *this }),
      padColumn ({ v, c, paletteParts, dialogs, *this }),
      playlists ({ v, c, paletteParts, dialogs, *this }),
      memo (v),
      rowsModel (*this),
      rows ("setlist", &rowsModel, true)
{
    buildRows();
    addPartsInZOrder();
}

void VantrelView::Impl::legacyPart (juce::Component& part, const juce::String& id)
{
    part.setComponentID (id);
    parts[id.toStdString()] = &part;
}

std::vector<ViewSection*> VantrelView::Impl::sections()
{
    return { &transport, &lanes, &master, &status, &padColumn, &playlists };
}

void VantrelView::Impl::addPartsInZOrder()
{
    std::map<std::string, juce::Component*> all (parts);
    std::map<std::string, bool> hidden;
    for (auto* section : sections())
        for (const auto& [id, part] : section->parts())
        {
            all[id] = part;
            hidden[id] = section->startsHidden (*part);
        }
    // The z-order is the order of adding.
    for (const auto& id : mainScreenZOrder())
    {
        auto* part = all.at (id);
        if (hidden[id])
            view.addChildComponent (part);
        else
            view.addAndMakeVisible (part);
    }
}

void VantrelView::Impl::showLibrary()
{
    view.commitPendingEdits();
    flags.libraryShown = true;
    libraryPanel.refreshNow();
    view.refresh();
}

void VantrelView::Impl::buildRowButtons()
{
    const auto openPlaylistId = [this] { return coordinator.catalogState().document.current; };
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
    legacyPart (addAudio, "add-audio");
    rowUp.setButtonText (translate ("↑"));
    wire (rowUp, [this]
    {
        view.commitPendingEdits();
        if (selectedRow > 0)
            coordinator.moveRow (selectedRow, selectedRow - 1);
    });
    legacyPart (rowUp, "row-up");
    rowDown.setButtonText (translate ("↓"));
    wire (rowDown, [this]
    {
        view.commitPendingEdits();
        if (selectedRow >= 0)
            coordinator.moveRow (selectedRow, selectedRow + 1);
    });
    legacyPart (rowDown, "row-down");
    removeRows.setButtonText (translate ("削除"));
    wire (removeRows, [this] { deleteSelected(); });
    legacyPart (removeRows, "remove-rows");
    memoFold.setButtonText (translate ("メモ ▸"));
    wire (memoFold, [this] { coordinator.toggleMemoPanel(); view.resized(); });
    legacyPart (memoFold, "memo-fold");
    playlistEq.setButtonText ("EQ");
    playlistEq.setTooltip ("PLAYLIST EQ");
    wire (playlistEq, [this, openPlaylistId]
    {
        if (! openPlaylistId().empty())
            view.openEq ("@playlist:" + juce::String::fromUTF8 (openPlaylistId().c_str()));
    });
    legacyPart (playlistEq, "playlist-eq");
}

void VantrelView::Impl::buildPlaylistGain()
{
    auto& co = coordinator;
    const auto openPlaylistId = [&co] { return co.catalogState().document.current; };
    legacyPart (playlistGain, "playlist-gain");
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

void VantrelView::Impl::buildRows()
{
    style (playlistTitle, 15.0f, textColourId);
    legacyPart (playlistTitle, "playlist-title");
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
        legacyPart (*label, id);
    }
    style (rowDensityLabel, 10.0f, dimTextColourId);
    rowDensityLabel.setText (translate ("行間"), juce::dontSendNotification);
    legacyPart (rowDensityLabel, "row-density-label");
    buildRowButtons();
    buildPlaylistGain();

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
    legacyPart (rowDensity, "row-density");
    memo.setMultiLine (true, true);
    memo.setReturnKeyStartsNewLine (true);
    memo.setFont (juce::Font (12.0f));
    memo.setTextToShowWhenEmpty (translate ("プレイリスト全体のメモ"), themeColour (view, dimTextColourId));
    memo.onFocusLost = [this]
    {
        if (! flags.syncing && ! memoPlaylistId.empty())
            coordinator.setPlaylistMemo (memoPlaylistId, memo.getText().toStdString());
    };
    legacyPart (memo, "playlist-memo");
    rows.setWantsKeyboardFocus (false);
    rows.setColour (juce::ListBox::backgroundColourId, juce::Colours::transparentBlack);
    rows.setOutlineThickness (0);
    rows.takesDrag = [this] (const juce::String& description) { return rowsTakeDrag (description); };
    rows.onDrop = [this] (const juce::String& description, juce::Point<int> point) { dropOnRows (description, point); };
    rows.onFilesDropped = [this] (const juce::StringArray& files) { filesDroppedOnRows (files); };
    legacyPart (rows, "setlist");
    libraryPanel.importRunning = [this] { return cdImportState (coordinator).busy; };
    legacyPart (libraryPanel, "library-panel");
}

VantrelView::Impl::~Impl()
{
    dialogs.closeAll();
    rows.setModel (nullptr);
    view.setLookAndFeel (nullptr);
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
    state.scrollBarThickness = padColumn.scrollBarThickness();
    layout = layoutMainScreen (view.getLocalBounds(), state);
    memoFold.setButtonText (translate (layout.memoFoldText.toRawUTF8()));

    for (auto* section : sections())
        section->layOut (layout);
    for (const auto& [name, component] : parts)
    {
        const auto& place = layout[name];
        component->setBounds (place.bounds);
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
    lanes.addOpaqueFaces (faces);
    transport.addOpaqueFaces (faces);
    padColumn.addOpaqueFaces (faces);
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
