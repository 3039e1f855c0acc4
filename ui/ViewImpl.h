#pragma once
// The main view's private part, shared by the view's source files only. Message thread.

#include "app/SessionCoordinator.h"
#include "ui/GainControl.h"
#include "ui/MainScreenLayout.h"
#include "ui/Meters.h"
#include "ui/Theme.h"
#include "ui/VantrelView.h"
#include "ui/FileChoosing.h"
#include "ui/LibraryPanel.h"
#include "ui/PlaylistTree.h"
#include "ui/RowsList.h"
#include "ui/WaveLane.h"
#include "ui/DialogHost.h"
#include "ui/MasterStrip.h"
#include "ui/PadColumn.h"
#include "ui/RefusedTyping.h"
#include "ui/StatusRow.h"
#include "ui/TransportRow.h"
#include "ui/WaveLanes.h"
#include "ui/ViewSection.h"

#include <array>
#include <map>
#include <memory>

namespace vantrel
{
struct VantrelView::Impl : public ViewDoors
{
    Impl (VantrelView& view, SessionCoordinator& coordinator);
    ~Impl();

    /** A list of the view (the tree or the rows): ui/ViewSection.h. */
    using List = ViewList;

    /** A slider that offers wheel turns to the view first. */
    using Slider = WheelFirstSlider;

    /** The memo editor, which offers wheel turns to the view first. */
    class Memo : public juce::TextEditor
    {
    public:
        explicit Memo (VantrelView& view) : view (view) {}
        void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

    private:
        VantrelView& view;
    };

    /** Gives a button its action: no keyboard focus; a click runs the action, then refreshes. */
    void wire (juce::Button& button, std::function<void()> action);
    /** Sets a label's font and justification; its text colour follows the palette id `colourId`. */
    void style (juce::Label& label, float points, int colourId,
                juce::Justification justification = juce::Justification::centredLeft);
    /** The parts' colours from the view's palette ids (ui/Theme.h), again after a theme change. */
    void takeColours();
    void applyLayout();
    /** The lanes' and the meter's part of a refresh. */
    void showLanes (const LaneSnapshot& snapshot);
    /** The sections that own their parts. */
    std::vector<ViewSection*> sections();
    /** Gives a part its component ID and counts it among the parts the view places itself. */
    void legacyPart (juce::Component& part, const juce::String& id);
    /** Adds every part of the screen to the view in the screen's z-order. */
    void addPartsInZOrder();
    void buildRows();
    void buildRowButtons();
    void buildPlaylistGain();
    /** The areas, in the view's coordinates, that the wave lanes, the GO button and the pads cover
        with their own opaque faces: inside their rounded corners and anti-aliased edges by a margin
        of more than one pixel at any scale the window uses. The view's background is not painted
        there, since those faces paint over every pixel of it. Empty while the palette's panel or
        field colour lets the background show through. */
    juce::RectangleList<int> opaqueFaces() const;
    /** The DELETE shortcut: the row READY stepping counts from, after a confirmation. */
    void deleteSelected();
    /** Removes a row of the open playlist and offers its stored copy for removal. */
    void removeRowAndOffer (const std::string& rowId);
    /** After rows or a pad let go of stored files: the library is scanned again, and the stored
        copies among them that nothing uses any more are offered for the Trash. */
    void offerOwnedCleanup (const juce::StringArray& paths) override;
    /** The library panel replaces the rows list, scanned afresh (the library button). */
    void showLibrary() override;
    // Drops on the two lists (ui/PlaylistTree.cpp and ui/RowsList.cpp); the point is the list's own.
    bool rowsTakeDrag (const juce::String& description) const;
    void dropOnRows (const juce::String& description, juce::Point<int> point);
    void filesDroppedOnRows (const juce::StringArray& files);

    // The rows list (ui/RowsList.cpp). Its edits are refused while LIVE LOCK guards playlist
    // editing ("the rows are locked").
    bool rowsLocked() const;
    /** The rows' part of the refresh: row height, content, the rows the cue moved, captions. */
    void refreshRows();
    /** Puts the five captions over the rows list's columns. */
    void layoutRowHeader();
    /** The row menu: relink, edit the note, remove; nothing while a dialog is up. */
    void rowMenu (const std::string& rowId, const juce::PopupMenu::Options& at);
    /** A click landed on a text box that refuses editing for `reason`: the status line says so,
        and what is typed at the box does nothing (RefusedTyping). */
    void refuseTyping (juce::Component& box, const juce::String& reason);
    /** A left press at `pressed`: when it is on a value box, or the memo, that refuses editing,
        the refusal of refuseTyping; true then. */
    bool refuseEditAt (juce::Component* pressed);
    /** Opens the note editor of a row of the open playlist, scrolled into view. */
    void editRowNote (const std::string& rowId);
    /** Asks whether files join the open playlist as library copies or by reference. */
    void requestAdd (const juce::StringArray& files);

    using Pad = vantrel::Pad;   // ui/Pads.h

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
    GainControl playlistGain { false };
    juce::Label playlistTitle, stateHeader, numberHeader, trackHeader, durationHeader, gainHeader,
        rowDensityLabel;
    juce::TextButton addAudio, rowUp, rowDown, removeRows, memoFold,
        playlistEq;
    Slider rowDensity;
    Memo memo;
    LibraryPanel libraryPanel { coordinator };
    juce::TooltipWindow tooltips { nullptr, 650 };

    RowsModel rowsModel;
    RowsListShown rowsShown;
    List rows;

    int layoutKey = -1;
    int layoutCount = 0;
    std::function<void()> onQuit;
    RefusedTyping refusedTyping;   // the keys typed at a box that refuses editing
    MainScreenLayout layout;   // the last one applied
    /** The view's background (its gradient and the sections' boxes) in screen pixels at the scale
        it was last painted at, and what it was drawn from. */
    juce::Image background;
    std::vector<juce::uint32> backgroundDrawnFrom;
    int selectedRow = -1;
    std::string memoPlaylistId;
    juce::String eqTarget;
    std::map<std::string, juce::Component*> parts;

    // The wheel binding.
    juce::Component::SafePointer<GainControl> wheelTarget;
    juce::var wheelBinding;
    double wheelResidual = 0.0;
    bool readyWheel = false;
};
} // namespace vantrel
