#pragma once

#include <juce_graphics/juce_graphics.h>

#include <map>
#include <string>
#include <vector>

namespace vantrel
{
/** The fold and mode switches the main screen is laid out for. */
struct MainScreenState
{
    bool dynamicsOpen = false;
    bool libraryShown = false;
    bool padEditMode = false;
    bool playlistsFolded = false;
    bool padsFolded = false;
    bool memoFolded = true;
    bool english = false;          // the coordinator's uiLanguage
    int scrollBarThickness = 0;    // of the pad editor's viewport

    /** The six fold and mode bits; the view lays itself out again when they change. */
    int layoutKey() const noexcept;
};

/** Where one part of the main screen goes, in the view's coordinates (the pads in edit mode:
    in the pad editor's container). */
struct PartPlacement
{
    juce::Rectangle<int> bounds;
    bool visible = true;
};

/** The main screen's geometry for one size and state, keyed by component id. Parts without a
    component id of their own are keyed by these names: "master-heading", "meter", "gr-readout",
    "safety-mark", "limiter-label-0".."limiter-label-3", "limiter-slider-0".."limiter-slider-3",
    "output-label", "status-label", "recover", "playlists-fold", "playlists-heading",
    "tree-remove", "playlist-title", "row-up", "row-down", "remove-rows", "memo-fold",
    "pads-fold", "pad-bank-1".."pad-bank-5", "pad-bus-heading", "pad-mute-all". */
struct MainScreenLayout
{
    std::map<std::string, PartPlacement> parts;

    /** The four panels the view paints behind the controls. */
    juce::Rectangle<int> masterPanel, playlistPanel, rowsPanel, padsPanel;

    /** The fold buttons' source texts (the view passes them through translate). */
    juce::String playlistsFoldText, padsFoldText, memoFoldText;

    /** In edit mode the pads "pad-1".."pad-9" are placed in the container inside
        "pad-editor-list", whose size is padEditorContainer. */
    bool padsInEditor = false;
    juce::Rectangle<int> padEditorContainer;

    /** The placement of a part; a name the layout does not know gives an empty, hidden one. */
    const PartPlacement& operator[] (const std::string& name) const;
};

/** The main screen's parts by component id in the order the view adds them, which is their
    z-order: the first lies at the back. */
const std::vector<std::string>& mainScreenZOrder();

/** Lays the main screen out over the view's local bounds. Pure; any size, nothing negative. */
MainScreenLayout layoutMainScreen (juce::Rectangle<int> localBounds, const MainScreenState& state);
} // namespace vantrel
