#pragma once
// Message thread only. The main view's show panels in their first, plain form: each draws the
// coordinator's data and calls its operations, at the size and with the id the layout gives it.

#include "app/SessionCoordinator.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace vantrel
{
/** A text that can be clicked. */
class ClickableText : public juce::Label
{
public:
    void mouseUp (const juce::MouseEvent&) override;
    std::function<void()> onClick;
};

/** One of the three wave lanes (0 OUTGOING, 1 MAIN, 2 READY): the lane's track, its place and
    time, in the lane colour; OUTGOING and MAIN have a stop button ("stop-lane"). */
class WaveLaneView : public juce::Component
{
public:
    explicit WaveLaneView (int kind);

    /** The lane's new status; fromPrevious: its track came from the lane above by a GO. */
    void setStatus (const WaveLaneInfo& info, bool fromPrevious);
    void setLaneColour (juce::Colour colour);
    void setSecondsShown (double seconds);
    void setSeekProtected (bool protectedFromSeek);
    void setDetailedTime (bool detailed);

    const WaveLaneInfo& status() const { return info; }

    void paint (juce::Graphics&) override;
    void resized() override;

    const int kind;
    juce::TextButton stopButton;
    ClickableText timeReadout;   // "wave-time": a click toggles the detailed readout
    std::function<void (double seconds)> onScrub;

private:
    WaveLaneInfo info;
    juce::Colour laneColour { 0xff48de8a };
    double secondsShown = 300.0;
    bool seekProtected = false, detailedTime = false;
};

/** One line of the playlist tree: a folder or a playlist, at its depth. */
struct TreeEntry
{
    bool isFolder = false;
    std::string id, name;
    int depth = 0;
    bool collapsed = false;

    /** The key the tree selects by: "folder:" + id for a folder, the playlist id otherwise. */
    std::string key() const { return isFolder ? "folder:" + id : id; }
};

/** The tree's lines from the catalog: folders depth first (a collapsed folder hides what it
    holds), each folder's playlists after its sub-folders, the top level's playlists last. */
std::vector<TreeEntry> buildTreeEntries (const CatalogState& state);

/** The playlist tree: a click on a playlist opens it, on a folder folds it. */
class PlaylistModel : public juce::ListBoxModel
{
public:
    PlaylistModel (SessionCoordinator&, std::vector<TreeEntry>& entries, std::function<void()> afterAction);
    int getNumRows() override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;

private:
    SessionCoordinator& coordinator;
    std::vector<TreeEntry>& entries;
    std::function<void()> afterAction;
};

/** The open playlist's rows: number, title, time; a click makes the row READY. */
class RowsModel : public juce::ListBoxModel
{
public:
    RowsModel (SessionCoordinator&, std::function<void()> afterAction);
    int getNumRows() override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;

private:
    const Playlist* openPlaylist() const;
    SessionCoordinator& coordinator;
    std::function<void()> afterAction;
};

/** The library panel's first form: every audio file the catalog refers to, once, by name. */
class LibraryList : public juce::Component
{
public:
    explicit LibraryList (SessionCoordinator&);
    void paint (juce::Graphics&) override;

private:
    SessionCoordinator& coordinator;
};

/** "62:05" for 3725.9 s: whole minutes and seconds, truncated; nothing negative or non-finite. */
juce::String formatDuration (double seconds);

/** One pad of the current bank (1..9): its name, lit while it sounds; a click triggers it. */
class Pad : public juce::Button
{
public:
    Pad (SessionCoordinator&, int number);
    /** Reads the pad's slot and whether it sounds. */
    void refreshFromSession();
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;

    const int number;

private:
    SessionCoordinator& coordinator;
    juce::String name;
    bool assigned = false, active = false;
};
} // namespace vantrel
