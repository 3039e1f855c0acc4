#pragma once
// The sections of the main screen and what they share. Message thread only.

#include "app/SessionCoordinator.h"
#include "ui/MainScreenLayout.h"
#include "ui/Theme.h"
#include "ui/VantrelView.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vantrel
{
class DialogHost;

/** The seconds one lane shows at each zoom step, 0..19 (step 15 is five minutes). */
double zoomSeconds (int zoom);

/** What the lanes and the meter show, read from the coordinator once per lane refresh. */
struct LaneSnapshot
{
    std::array<WaveLaneInfo, 3> lanes;   // OUTGOING, MAIN, READY
    std::int64_t goCount = 0;
    std::array<juce::Colour, 3> colours;
    double secondsShown = 0.0;
    bool seekLocked = false;             // LIVE LOCK guards the waveform seek
    bool outgoingSounds = false, mainSounds = false;
    orvane::audio::MasterOutputMeters meters;
};

/** What a full refresh shows, read from the coordinator once per refresh: the sections refresh
    from it and from nothing else of the coordinator. */
struct ViewSnapshot
{
    ViewSnapshot (const CatalogState& catalogState, const orvane::audio::CueState& cueState, const Preferences& prefs)
        : catalog (catalogState), cue (cueState), preferences (prefs)
    {
    }

    const CatalogState& catalog;
    const orvane::audio::CueState& cue;
    const Preferences& preferences;
    const Playlist* openPlaylist = nullptr;   // null while none is open
    ViewFlags flags;
    LaneSnapshot lanes;
    bool autoCue = false, liveLock = false, padMute = false, limiterOn = false;
    bool catalogLocked = false, limiterLocked = false, masterGainLocked = false;
    bool rowsLocked = false, trackGainLocked = false;   // the coordinator's LIVE LOCK guards of the rows
    std::uint64_t changeCount = 0, stateRevision = 0;   // the history's changes, the saved state's revision
    bool canChangeOutput = false, outputOpen = false;
    juce::String outputName;
    bool rackReady = false, rackNeedsAttention = false;
    CdImportState cd;
    int padBank = 1;
    std::array<bool, 9> padsActive {};   // pads 1..9 of the current bank
    float masterGain = 0.0f, padBusGain = 0.0f;
    std::array<float, 4> limiterValues {};
    bool needsRecovery = false;
    bool canRecover = false;     // a backup can be read: the recovery is offered
    juce::String statusText;
    bool statusIsWarning = false;
};

/** Sets a label's text without notification when it changed. */
void showText (juce::Label& label, const juce::String& text);
/** Sets a button's toggle state without notification when it changed. */
void showToggle (juce::Button& button, bool on);
/** Sets a slider's value without notification when it changed. */
void showValue (juce::Slider& slider, double value);

/** A slider that offers wheel turns to the view first. */
class WheelFirstSlider : public juce::Slider
{
public:
    WheelFirstSlider() = default;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
};

/** A list of the view (the tree or the rows) that offers wheel turns to the view first and
    takes the drops of its own kind, as its section tells: the tree its entries, the rows list
    rows and files. */
class ViewList : public juce::ListBox,
                 public juce::DragAndDropTarget,
                 public juce::FileDragAndDropTarget
{
public:
    ViewList (const juce::String& name, juce::ListBoxModel* model, bool holdsRows);
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    void paintOverChildren (juce::Graphics&) override;
    bool isInterestedInDragSource (const SourceDetails&) override;
    void itemDropped (const SourceDetails&) override;
    bool isInterestedInFileDrag (const juce::StringArray&) override;
    void filesDropped (const juce::StringArray&, int x, int y) override;

    /** Whether a drag with this description may be dropped here. */
    std::function<bool (const juce::String& description)> takesDrag;
    /** A drop of that drag at a point of the list's own. */
    std::function<void (const juce::String& description, juce::Point<int> point)> onDrop;
    /** Files dropped from outside (only on the rows list). */
    std::function<void (const juce::StringArray& files)> onFilesDropped;

private:
    const bool holdsRows;
};

/** What a section may ask of the view beyond the view's own operations: the effects that reach
    another section, carried out by the view. */
class ViewDoors
{
public:
    virtual ~ViewDoors() = default;
    /** The library panel replaces the rows list, scanned afresh. */
    virtual void showLibrary() = 0;
    /** After rows or a pad let go of stored files: the library is scanned again, and the stored
        copies among them that nothing uses any more are offered for the Trash. */
    virtual void offerOwnedCleanup (const juce::StringArray& paths) = 0;
    /** A click landed on a text box that refuses editing for `reason`: the status line says so,
        and what is typed at the box does nothing. */
    virtual void refuseTyping (juce::Component& box, const juce::String& reason) = 0;
};

/** What a section is built with: the view it lives in, the coordinator, the palette bindings of
    the view's parts, the dialog host and the view's doors to the other sections. */
struct SectionContext
{
    VantrelView& view;
    SessionCoordinator& coordinator;
    PaletteBindings& palette;
    DialogHost& dialogs;
    ViewDoors& doors;
};

/** One section of the main screen. It owns its widgets privately, builds them in its own
    constructor, places them from the layout's rectangles and refreshes them from the snapshot.
    It hands its parts to the view only as components keyed by their IDs, so that the view adds
    them in the screen's z-order; it never reaches another section: an effect on another section
    goes through the view or the coordinator and the next refresh. */
class ViewSection
{
public:
    explicit ViewSection (const SectionContext& context);
    virtual ~ViewSection() = default;

    /** The section's parts by component ID. */
    const std::vector<std::pair<std::string, juce::Component*>>& parts() const  { return partList; }
    /** Whether a part starts hidden when the view adds it: the refresh shows it while it applies,
        the layout only hides it. */
    bool startsHidden (const juce::Component& part) const;
    /** Places the parts from the layout: each at its rectangle, shown where the layout shows it
        (one that starts hidden only hidden where the layout hides it). */
    virtual void layOut (const MainScreenLayout& layout);
    virtual void refresh (const ViewSnapshot& snapshot) = 0;
    /** Why a press on one of the section's text boxes that refuses editing does nothing (the
        status line says it and what is typed at the box does nothing); empty for any other. */
    virtual juce::String editRefusal (juce::Component&) const  { return {}; }
    /** The areas of the view that the section's opaque faces cover (see the view's paint). */
    virtual void addOpaqueFaces (juce::RectangleList<int>&) const {}

protected:
    /** Gives the part its component ID and counts it among the section's parts. */
    void addPart (juce::Component& part, const juce::String& id, bool hiddenAtFirst = false);
    /** Gives a button its action: no keyboard focus; a click runs the action, then refreshes. */
    void wire (juce::Button& button, std::function<void()> action);
    /** Sets a label's font and justification; its text colour follows the palette id `colourId`. */
    void style (juce::Label& label, float points, int colourId,
                juce::Justification justification = juce::Justification::centredLeft);
    /** The slider whose value box (a label of its own) was pressed, when the slider is locked
        (the whole control disabled); null otherwise. */
    static juce::Slider* lockedSliderOf (juce::Component& pressed);
    /** Puts one part where the layout has it. */
    static void place (juce::Component& part, const PartPlacement& placement);
    /** Adds the part's area to the faces when it is drawn straight onto the view, shown and large
        enough: its bounds less the corner margin at the sides and 4 at the top and bottom. */
    void addFace (juce::RectangleList<int>& faces, const juce::Component& part, int cornerMargin) const;

    VantrelView& view;
    SessionCoordinator& coordinator;
    PaletteBindings& palette;
    DialogHost& dialogs;
    ViewDoors& doors;

private:
    std::vector<std::pair<std::string, juce::Component*>> partList;
    std::vector<const juce::Component*> hidden;
};
} // namespace vantrel
