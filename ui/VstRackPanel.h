#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"
#include "ui/Theme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <memory>

namespace vantrel
{
/** The master VST window's content: the signal chain, the rack's two insert slots (plug-in
    choice, ON/OFF, editor, state), the VST3 search folders with add, delete and rescan, the
    added latency and the scan or fault state. It keeps no rack state of its own: every refresh
    reads the rack's snapshot and every action goes through the coordinator, which decides
    whether the rack acts (LIVE LOCK, playback, a busy rack). Refreshes itself 4 times a second. */
class VstRackPanel : public juce::Component,
                     public juce::Timer,
                     public juce::ListBoxModel
{
public:
    explicit VstRackPanel (SessionCoordinator& coordinator);
    ~VstRackPanel() override;

    /** Shows the folder question of the add button; `answer` gets the chosen folder, or no file
        when the operator cancelled, later on the message thread. By default the system's folder
        dialog; tests answer it themselves. */
    std::function<void (juce::FileChooser&, std::function<void (const juce::File&)> answer)> launchFolderChooser;

    /** Reads the rack's snapshot and brings every control, text and list up to date. */
    void refreshStatus();
    void timerCallback() override;

    int getNumRows() override;
    juce::String getTooltipForRow (int row) override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void selectedRowsChanged (int lastRowSelected) override;

    void paint (juce::Graphics&) override;
    void resized() override;
    /** The parts' colours follow the palette ids (ui/Theme.h) of the window the panel is in. */
    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;
    void colourChanged() override;

private:
    /** The controls of one insert slot. */
    struct SlotControls
    {
        juce::Label title, status;
        juce::ComboBox plugin;
        juce::TextButton enable, editor;
        /** The slot's choice the box last showed, "unset" before the first: the box is set again
            only when the rack's choice changed, so that the operator's choice, whose change
            message is still on its way, is not overwritten by a periodic refresh. */
        juce::String shownUid = "unset";
    };

    /** Rebuilds both plug-in boxes when the catalogue or a slot's choice changed, so that an open
        box is not disturbed by the periodic refresh. */
    void refreshPluginItems (const VstRackStatus& status);
    void refreshSlot (int slot, const VstRackStatus& status, bool vstLocked);
    void refreshFolders (const VstRackStatus& status);
    juce::String latencyText (const VstRackStatus& status) const;

    void pluginChosen (int slot);
    void chooseSearchFolder();
    void searchFolderChosen (const juce::File& folder);
    void finishFolderChooser();
    void removeSelectedFolder();

    SessionCoordinator& coordinator;
    std::array<SlotControls, 2> slots;
    juce::Label chain, folderSummary, folderHint, bottomStatus, latencyLine;
    juce::ListBox folderList;
    juce::TextButton addButton, deleteButton, rescanButton;

    juce::StringArray classIds;      // behind each plug-in item: item id = index + 1; entry 0 "" is "none"
    juce::StringArray seenFolders;   // the rack's added search folders as last shown
    juce::StringArray rows;          // the list: the standard folders, then seenFolders
    int standardCount = 0;
    juce::String listSignature;      // what the plug-in items were last built from
    bool refreshing = false;
    std::unique_ptr<juce::FileChooser> folderChooser;
    PaletteBindings paletteParts;
};
} // namespace vantrel
