#include "ui/PadColumn.h"

#include "session/UiText.h"
#include "ui/KeyRouting.h"
#include "ui/Pads.h"

namespace vantrel
{
void PadColumn::PadViewport::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! offerWheelToRouter (*this, e, wheel))
        juce::Viewport::mouseWheelMove (e, wheel);
}

PadColumn::PadColumn (const SectionContext& context) : ViewSection (context)
{
    auto& co = coordinator;
    padBusGain.onValue = [&co] (float db) { co.setPadBusGain (db); };
    style (padPresetLabel, 10.0f, dimTextColourId);
    padPresetLabel.setText (translate ("プリセット"), juce::dontSendNotification);
    style (padBusHeading, 10.0f, dimTextColourId);
    padBusHeading.setText ("PAD BUS GAIN", juce::dontSendNotification);
    padsFold.setButtonText (translate ("›"));
    wire (padsFold, [this] { coordinator.togglePadPanel(); view.resized(); });
    allMute.setButtonText ("ALL MUTE");
    palette.bind (allMute, juce::TextButton::textColourOnId, noticeColourId);
    allMute.setColour (juce::TextButton::textColourOnId, themeColour (view, noticeColourId));
    wire (allMute, [&co] { co.setPadMute (! co.isPadMuteOn()); });
    stopPads.setButtonText (translate ("■ ALL"));
    wire (stopPads, [&co] { co.stopAllPads(); });
    padEdit.setButtonText (translate ("編集"));
    wire (padEdit, [this] { view.flags().padEditMode = ! view.flags().padEditMode; });
    padEditor.setScrollBarsShown (true, false);
    padEditor.setViewedComponent (&padEditorContainer, false);

    addPart (padBrand, "pad-brand");
    addPart (padBusGain, "pad-bus");
    addPart (padPresetLabel, "pad-preset-label");
    addPart (padBusHeading, "pad-bus-heading");
    addPart (padsFold, "pads-fold");
    addPart (allMute, "pad-mute-all");
    addPart (stopPads, "stop-pads");
    addPart (padEdit, "pad-edit");
    addPart (padEditor, "pad-editor-list");
    for (int n = 1; n <= 5; ++n)
    {
        auto& bank = bankButtons[(size_t) n - 1];
        bank.setButtonText (juce::String (n));
        bank.setWantsKeyboardFocus (false);
        bank.onClick = [this, n]
        {
            view.commitPendingEdits();
            coordinator.selectPadBank (n);
            view.refresh();
        };
        addPart (bank, "pad-bank-" + juce::String (n));
    }
    for (int n = 1; n <= 9; ++n)
    {
        pads[(size_t) n - 1] = std::make_unique<Pad> (*this, n);
        addPart (*pads[(size_t) n - 1], "pad-" + juce::String (n));
    }
}

PadColumn::~PadColumn()
{
    for (auto& pad : pads)
        pad.reset();
}

void PadColumn::startDrag (const juce::String& description, juce::Component& source)
{
    view.startDragging (description, &source, juce::ScaledImage(), false);
}

void PadColumn::layOut (const MainScreenLayout& layout)
{
    padsFold.setButtonText (translate (layout.padsFoldText.toRawUTF8()));
    padEditorContainer.setSize (layout.padEditorContainer.getWidth(), layout.padEditorContainer.getHeight());
    // In pad edit mode the pads are listed in the editor's container, else they lie in the grid.
    for (auto& pad : pads)
    {
        auto& parent = layout.padsInEditor ? padEditorContainer : static_cast<juce::Component&> (view);
        if (pad->getParentComponent() != &parent)
            parent.addChildComponent (*pad);
    }
    ViewSection::layOut (layout);
}

void PadColumn::refresh (const ViewSnapshot& s)
{
    showToggle (allMute, s.padMute);
    showToggle (padEdit, s.flags.padEditMode);
    for (int n = 1; n <= 5; ++n)
        showToggle (bankButtons[(size_t) n - 1], s.padBank == n);
    for (auto& pad : pads)
        pad->refresh (s);
    padBusGain.syncValue (s.padBusGain);
}

void PadColumn::addOpaqueFaces (juce::RectangleList<int>& faces) const
{
    for (const auto& pad : pads)
        if (pad != nullptr)
            addFace (faces, *pad, 10);   // a 7 px corner, 1 px in
}
} // namespace vantrel
