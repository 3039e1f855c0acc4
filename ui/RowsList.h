#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"
#include "ui/GainControl.h"
#include "ui/Theme.h"
#include "ui/LibraryPanel.h"
#include "ui/VantrelView.h"
#include "ui/ViewSection.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <optional>
#include <string>
#include <utility>

namespace vantrel
{
/** The six columns of a row of the rows list and of the caption band above it. */
struct RowColumnAreas
{
    juce::Rectangle<int> status, number, title, duration, eq, gain;
};

/** The columns of a row of this size: from x 5, status (44) and number (43), then gain (190), EQ
    (42) and duration (88) taken from the right in that order out of what is left, so that a
    narrow row loses its title first; each the full height, none negative. */
RowColumnAreas rowColumns (int width, int height);

/** "62:05" for 3725.9 s: whole minutes and seconds, truncated; nothing negative or non-finite. */
juce::String formatDuration (double seconds);

/** One line of the rows list: number, title with its note, duration, EQ button and the row's own
    gain. A click makes the row READY, a right click opens the row menu, a double click edits the
    title or the note in place, a drag beyond 7 px carries "row:" + its index. The list reuses
    the component for other rows; what was typed into it goes to the row it was typed for. */
class RowsColumn;

class RowComponent : public juce::Component
{
public:
    explicit RowComponent (RowsColumn&);
    ~RowComponent() override;

    /** Shows row `index` of the open playlist; nothing when there is none. */
    void showRow (int index);
    /** Ends the inline edits of title, note and gain, reporting what was typed to the row shown. */
    void closeEdits();
    /** Opens the note's editor, also for a row that has no note yet. */
    void editNote();
    bool isEditingText() const  { return titleLabel.isBeingEdited() || noteLabel.isBeingEdited(); }

    void resized() override;
    void paint (juce::Graphics&) override;
    /** A row made for the list takes the view's colours once it is placed in it: the gain's
        value box copies its colours from the look-and-feel it sees then. */
    void parentHierarchyChanged() override;
    /** The labels' colours follow the palette ids (ui/Theme.h) the row finds. */
    void lookAndFeelChanged() override;
    void colourChanged() override;
    /** A left press makes the row READY at once; the second press of a double-click keeps
        what the first one did. */
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    /** A double-click on the title or the note is an edit, not a READY choice: READY goes back
        to where it was before its first click, whether the editor opened or was refused (then
        the status line says why, and what is typed at the label does nothing). */
    void mouseDoubleClick (const juce::MouseEvent&) override;
    /** A bound wheel is offered the turn before the list's viewport would scroll with it. */
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

    int rowIndex = -1;
    std::string rowId;
    juce::Label numberLabel, titleLabel, noteLabel, durationLabel;
    GainControl gain { false };
    juce::TextButton eqButton { "EQ" };

private:
    void reportText (bool title);
    bool noteShown() const;
    /** Whether the label shows its text cut (then it is not edited in place). */
    bool isCut (const juce::Label& label) const  { return &label == &titleLabel ? titleCut : noteCut; }

    RowsColumn& column;
    PaletteBindings paletteParts;

    bool closing = false;       // closeEdits is reporting: the refresh's guard does not hold
    bool noteOpening = false;   // editNote gives an empty note its place before its editor opens
    bool titleCut = false, noteCut = false;   // the label shows the head of a text too long to edit here
    bool dragStarted = false;   // by the press that is down
    std::string editRowId;      // the row a gain drag edits, whatever the component shows later
    /** READY before and after the last single click on this row, until its double-click or the
        next single click. */
    std::optional<std::pair<ReadyMark, ReadyMark>> clickReady;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RowComponent)
};

/** The open playlist's rows as reused RowComponents. */
class RowsModel : public juce::ListBoxModel
{
public:
    explicit RowsModel (RowsColumn&);
    int getNumRows() override;
    void paintListBoxItem (int, juce::Graphics&, int, int, bool) override {}
    juce::Component* refreshComponentForRow (int row, bool isSelected, juce::Component* existing) override;

private:
    RowsColumn& column;
};

/** What the rows list showed at the last refresh, so that a refresh touches only what changed. */
struct RowsListShown
{
    juce::String content;               // the document's change, the open playlist, row height, locks
    std::array<std::string, 4> cue;     // the MAIN, OUTGOING, READY and anchor rows ("" for none)
    bool paused = false;
};

/** The rows column: the open playlist's title, PLAYLIST EQ and gain, the add, move and remove
    buttons, the captions, the rows list, the memo with its fold and the row density; the library
    panel takes the column's place while it is shown. Its edits are refused while LIVE LOCK
    guards playlist editing ("the rows are locked"). */
class RowsColumn : public ViewSection
{
public:
    explicit RowsColumn (const SectionContext& context);
    ~RowsColumn() override;

    void layOut (const MainScreenLayout& layout) override;
    void refresh (const ViewSnapshot& snapshot) override;
    juce::String editRefusal (juce::Component& pressed) const override;
    /** The memo editor's placeholder colour follows the palette. */
    void takeColours();
    /** Saves the memo being typed (the view's end of inline edits). */
    void saveMemo();
    /** The DELETE shortcut: the row READY stepping counts from, after a confirmation; with the
        library shown, the library's own remove request. */
    void deleteSelected();
    /** After rows or a pad let go of stored files: the library is scanned again, and the stored
        copies among them that nothing uses any more are offered for the Trash. */
    void offerOwnedCleanup (const juce::StringArray& paths);
    /** The library panel's own refresh, when the library button shows it. */
    void refreshLibraryNow()  { libraryPanel.refreshNow(); }

    // The wheel's READY stepping, bound by a press on the rows list.
    bool isRowsList (const juce::Component* component) const  { return component == &rows; }
    bool rowsListShowing() const  { return rows.isShowing(); }
    /** Marks the rows list as the wheel's target ("wheel-active"), or not. */
    void markReadyWheel (bool active);

private:
    friend class RowComponent;
    friend class RowsModel;

    /** The memo editor, which offers wheel turns to the view first. */
    class Memo : public juce::TextEditor
    {
    public:
        void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    };

    void buildCaptions();
    void buildButtons();
    void buildPlaylistGain();
    void buildMemo();
    bool rowsLocked() const;
    /** The open playlist's part of the refresh: gain, EQ, title and memo. */
    void showPlaylist (const ViewSnapshot& snapshot);
    /** The rows' part of the refresh: row height, content, the rows the cue moved, captions. */
    void refreshRows (const ViewSnapshot& snapshot);
    /** The row selection follows the anchor. */
    void showSelection (const ViewSnapshot& snapshot);
    /** Puts the five captions over the rows list's columns. */
    void layoutRowHeader();
    /** The row menu: relink, edit the note, remove; nothing while a dialog is up. */
    void rowMenu (const std::string& rowId, const juce::PopupMenu::Options& at);
    /** Opens the note editor of a row of the open playlist, scrolled into view. */
    void editRowNote (const std::string& rowId);
    /** Asks whether files join the open playlist as library copies or by reference. */
    void requestAdd (const juce::StringArray& files);
    /** Removes a row of the open playlist and offers its stored copy for removal. */
    void removeRowAndOffer (const std::string& rowId);
    bool rowsTakeDrag (const juce::String& description) const;
    void dropOnRows (const juce::String& description, juce::Point<int> point);
    void filesDroppedOnRows (const juce::StringArray& files);

    juce::Label playlistTitle, stateHeader, numberHeader, trackHeader, durationHeader, gainHeader, rowDensityLabel;
    juce::TextButton addAudio, rowUp, rowDown, removeRows, memoFold, playlistEq;
    GainControl playlistGain { false };
    WheelFirstSlider rowDensity;
    Memo memo;
    LibraryPanel libraryPanel;
    RowsModel rowsModel { *this };
    RowsListShown rowsShown;
    ViewList rows;
    int selectedRow = -1;          // the row of the open playlist the list shows selected
    std::string memoPlaylistId;    // the playlist whose memo the editor shows ("" = none)
    bool memoCut = false;          // the editor shows the head of a memo too long for it: read-only
    juce::String memoShownFor;     // the change, saved state and playlist whose memo the editor shows
};
} // namespace vantrel
