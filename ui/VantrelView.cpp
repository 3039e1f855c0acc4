#include "ui/ViewImpl.h"

#include "session/CatalogValidation.h"
#include "session/UiLanguage.h"
#include "session/UiText.h"

#include <cmath>
#include <map>

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

// ---- the view's private part ----------------------------------------------------------------------

void VantrelView::Impl::takeColours()
{
    paletteParts.apply (view);
    rowsColumn.takeColours();
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
      rowsColumn ({ v, c, paletteParts, dialogs, *this })
{
    addPartsInZOrder();
}

std::vector<ViewSection*> VantrelView::Impl::sections()
{
    return { &transport, &lanes, &master, &status, &padColumn, &playlists, &rowsColumn };
}

void VantrelView::Impl::addPartsInZOrder()
{
    std::map<std::string, std::pair<juce::Component*, bool>> all;   // by id: the part, whether it starts hidden
    for (auto* section : sections())
        for (const auto& [id, part] : section->parts())
            all[id] = { part, section->startsHidden (*part) };
    // The z-order is the order of adding.
    for (const auto& id : mainScreenZOrder())
    {
        const auto [part, hidden] = all.at (id);
        if (hidden)
            view.addChildComponent (part);
        else
            view.addAndMakeVisible (part);
    }
}

void VantrelView::Impl::showLibrary()
{
    view.commitPendingEdits();
    flags.libraryShown = true;
    rowsColumn.refreshLibraryNow();
    view.refresh();
}

void VantrelView::Impl::offerOwnedCleanup (const juce::StringArray& paths)
{
    rowsColumn.offerOwnedCleanup (paths);
}

VantrelView::Impl::~Impl()
{
    dialogs.closeAll();
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
    for (auto* section : sections())
        section->layOut (layout);
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
    // The clock first: the parts are built to move on its frames.
    frames = std::make_unique<platform::FrameClock> ([this] { displayFrame(); });
    buildImpl();
    addKeyListener (this);
    setWantsKeyboardFocus (true);
    setSize (1380, 860);
    if (frames->isValid())
        frames->run (restingFramesHz);
    else
        startTimer (tickIntervalMs);
    refresh();
}

VantrelView::~VantrelView()
{
    stopTicking();
    frames.reset();
    removeMouseListener (this);
    removeKeyListener (this);
    impl.reset();
}

void VantrelView::buildImpl()
{
    removeMouseListener (this);
    impl.reset();
    impl = std::make_unique<Impl> (*this, coordinator);
    if (paintsOnItsOwnFrames())
        impl->lanes.takeFramesFromView();
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
    handsOn();
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
    handsOn();
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
    impl->rowsColumn.saveMemo();
}
} // namespace vantrel
