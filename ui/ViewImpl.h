#pragma once
// The main view's private part, shared by the view's source files only. Message thread.

#include "app/SessionCoordinator.h"
#include "ui/DialogHost.h"
#include "ui/FileChoosing.h"
#include "ui/MainScreenLayout.h"
#include "ui/MasterStrip.h"
#include "ui/PadColumn.h"
#include "ui/Pads.h"
#include "ui/PlaylistTree.h"
#include "ui/RefusedTyping.h"
#include "ui/RowsList.h"
#include "ui/StatusRow.h"
#include "ui/Theme.h"
#include "ui/TooltipsOnDemand.h"
#include "ui/TransportRow.h"
#include "ui/VantrelView.h"
#include "ui/ViewSection.h"
#include "ui/WaveLanes.h"

#include <functional>
#include <memory>
#include <vector>

namespace vantrel
{
/** The view's private part: the theme, the view's state, the dialog host and the seven sections
    of the screen, each owning its widgets (ui/README.md maps them). It carries out what reaches
    from one section to another (its doors). */
struct VantrelView::Impl : public ViewDoors
{
    Impl (VantrelView& view, SessionCoordinator& coordinator);
    ~Impl();

    /** A list of the view (the tree or the rows): ui/ViewSection.h. */
    using List = ViewList;
    /** A slider that offers wheel turns to the view first. */
    using Slider = WheelFirstSlider;
    using Pad = vantrel::Pad;   // ui/Pads.h

    /** The parts' colours from the view's palette ids (ui/Theme.h), again after a theme change. */
    void takeColours();
    void applyLayout();
    /** The lanes' and the meter's part of a refresh. */
    void showLanes (const LaneSnapshot& snapshot);
    /** The sections of the screen. */
    std::vector<ViewSection*> sections();
    /** Adds every part of the screen to the view in the screen's z-order. */
    void addPartsInZOrder();
    /** The areas, in the view's coordinates, that the wave lanes, the GO button and the pads cover
        with their own opaque faces: inside their rounded corners and anti-aliased edges by a margin
        of more than one pixel at any scale the window uses. The view's background is not painted
        there, since those faces paint over every pixel of it. Empty while the palette's panel or
        field colour lets the background show through. */
    juce::RectangleList<int> opaqueFaces() const;

    // The doors.
    void offerOwnedCleanup (const juce::StringArray& paths) override;
    void showLibrary() override;
    void refuseTyping (juce::Component& box, const juce::String& reason) override;
    /** A left press at `pressed`: when it is on a value box, or the memo, that refuses editing,
        the refusal of refuseTyping; true then. */
    bool refuseEditAt (juce::Component* pressed);

    VantrelView& view;
    SessionCoordinator& coordinator;
    Theme theme;
    PaletteBindings paletteParts;
    ViewFlags flags;
    /** Opens every menu, dialog and window of the view; it alone writes flags.dialogOpen. */
    DialogHost dialogs;

    TransportRow transport;
    WaveLanes lanes;
    MasterStrip master;
    StatusRow status;
    PadColumn padColumn;
    PlaylistColumn playlists;
    RowsColumn rowsColumn;
    static constexpr int tooltipRestMs = 5000;   // a tip goes after the pointer has rested this long
    TooltipsOnDemand tooltips { 650, tooltipRestMs };

    int layoutKey = -1;
    int layoutCount = 0;
    std::function<void()> onQuit;
    RefusedTyping refusedTyping;   // the keys typed at a box that refuses editing
    MainScreenLayout layout;   // the last one applied
    /** The view's background (its gradient and the sections' boxes) in screen pixels at the scale
        it was last painted at, and what it was drawn from. */
    juce::Image background;
    std::vector<juce::uint32> backgroundDrawnFrom;
    juce::String eqTarget;

    // The wheel binding.
    juce::Component::SafePointer<GainControl> wheelTarget;
    juce::var wheelBinding;
    double wheelResidual = 0.0;
    bool readyWheel = false;
};
} // namespace vantrel
