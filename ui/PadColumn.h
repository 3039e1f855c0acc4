#pragma once
// Message thread only.

#include "ui/GainControl.h"
#include "ui/Meters.h"
#include "ui/ViewSection.h"

#include <memory>

namespace vantrel
{
class Pad;

/** The pads column: its brand, the fold, stop-pads and edit buttons, the preset heading, the five
    bank buttons, the nine pads of the current bank (in the grid, or listed in the pad editor's
    scrolled container in pad edit mode), the pad bus gain and ALL MUTE. */
class PadColumn : public ViewSection
{
public:
    explicit PadColumn (const SectionContext& context);
    ~PadColumn() override;

    void layOut (const MainScreenLayout& layout) override;
    void refresh (const ViewSnapshot& snapshot) override;
    void addOpaqueFaces (juce::RectangleList<int>& faces) const override;
    /** The pad editor viewport's scroll-bar thickness, which the layout takes into account. */
    int scrollBarThickness() const  { return padEditor.getScrollBarThickness(); }

    // What the pads use of their section.
    SessionCoordinator& session() const  { return coordinator; }
    bool editMode() const  { return view.flags().padEditMode; }
    /** The menu of pad n of the current bank, opened `at` the pad or at the pointer; nothing while
        a dialog is up. */
    void padMenu (int n, const juce::PopupMenu::Options& at);
    /** A pad did something: the view shows the result. */
    void changed() const  { view.refresh(); }
    /** Starts the drag of a pad from the view's drag container. */
    void startDrag (const juce::String& description, juce::Component& source);

private:
    /** The pad editor's viewport, which offers wheel turns to the view first. */
    class PadViewport : public juce::Viewport
    {
    public:
        void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    };

    /** The effect of the pad menu's item for pad n of bank b (the bank when the menu opened). */
    void runPadMenuItem (int item, int b, int n);

    PadBrand padBrand;
    juce::Label padPresetLabel, padBusHeading;
    GainControl padBusGain { false };
    juce::TextButton padsFold, allMute, stopPads, padEdit;
    std::array<juce::TextButton, 5> bankButtons;
    PadViewport padEditor;
    juce::Component padEditorContainer;
    std::array<std::unique_ptr<Pad>, 9> pads;
};
} // namespace vantrel
