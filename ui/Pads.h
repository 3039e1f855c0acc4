#pragma once
// Message thread only. The nine pads of the main view.

#include "ui/GainControl.h"
#include "ui/PadColumn.h"

namespace vantrel
{
/** Pad 1..9 of the current bank. A click fires it; in pad edit mode a click opens its menu, the
    pad shows its own gain and can be dragged onto another pad to swap the two slots. One audio
    file dropped on it from outside is assigned to it. */
class Pad : public juce::Button,
            public juce::FileDragAndDropTarget,
            public juce::DragAndDropTarget
{
public:
    Pad (PadColumn& column, int number);

    /** Shows the slot and whether the pad sounds; run by every refresh of the view. The name the
        face shows becomes the pad's title (what accessibility clients read). */
    void refresh (const ViewSnapshot& snapshot);
    /** The name the pad shows: the slot's, or the unassigned text of the current mode. */
    juce::String labelText() const;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void resized() override;
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;

    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    void filesDropped (const juce::StringArray& files, int x, int y) override;
    bool isInterestedInDragSource (const SourceDetails&) override;
    void itemDropped (const SourceDetails&) override;

    PadColumn& column;
    const int number;
    /** Set once a drag of this pad has started: the release that ends it is no click. */
    bool suppressClick = false;
    GainControl gain { false };

private:
    const PadSlot* slot() const;
    int bank() const;

    bool rightPress = false;   // the press that is down opened the menu
    // What the face shows, to repaint only when it changes.
    juce::String shownName;
    bool shownAsset = false, shownActive = false, shownEditMode = false;
};
} // namespace vantrel
