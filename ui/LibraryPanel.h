#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"
#include "ui/DialogHost.h"
#include "ui/Theme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <vector>

namespace vantrel
{
/** Every audio file the session stores or refers to, in the library's order: playlist copies,
    pad copies and outside files that rows point at, each with its display name, kind, users and
    size. The operator filters and searches the list, adds files to a playlist (copied or by
    reference), opens a file's folder, gives a stored file a display name and moves unused stored
    files to the Trash. It reads the library's published snapshots and acts only through the
    coordinator, whose status line reports every refusal. Its menu and dialogs are the view's,
    opened through the view's dialog host. */
class LibraryPanel : public juce::Component,
                     public juce::ListBoxModel,
                     public juce::Timer
{
public:
    LibraryPanel (SessionCoordinator& coordinator, DialogHost& dialogs);
    ~LibraryPanel() override;

    /** Starts a library scan and takes the current snapshot at once; the view calls it when it
        shows the panel. */
    void refreshNow();
    /** Asks whether the selected files go to the Trash, then removes them; nothing while a
        dialog of the view is up, the selection holds a file that cannot go or removal is
        disabled. */
    void requestRemove();

    /** Opens a file's folder in the file manager; replaced by tests. */
    std::function<bool (const juce::File&)> reveal;
    /** True while a CD import runs (removing files is then refused). Empty while the session has
        no CD importer; the view connects the importer's busy state here once there is one. */
    std::function<bool()> importRunning;

    /** Every 250 ms while visible: takes a new snapshot, refreshes the summary and the button
        states, and rescans after every saved change of the catalog or the pads. The timer runs
        only while the panel is visible; a panel that becomes visible takes this step at once. */
    void timerCallback() override;
    void visibilityChanged() override;

    int getNumRows() override;
    /** A row's display name, as accessibility clients read it. */
    juce::String getNameForRow (int row) override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void selectedRowsChanged (int lastRowSelected) override;
    /** A right click on a row opens its menu. */
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;

    void paint (juce::Graphics&) override;
    void resized() override;
    /** The parts' colours follow the palette ids (ui/Theme.h) of the window the panel is in. */
    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;
    void colourChanged() override;

private:
    /** Rebuilds the shown rows from the items, the filter and the search; `keep` (or, when
        empty, the current selection) stays selected where it is still shown. */
    void applyFilter (const juce::StringArray& keep = {});
    void updateSelectionState();
    /** Rebuilds the target box when the playlists changed, keeping the chosen playlist. */
    void refreshTargetPlaylists();
    juce::StringArray selectedPaths() const;
    const LibraryItem* itemAtRow (int row) const;
    /** Takes a new snapshot when there is one, then the summary, the buttons and a due rescan. */
    void update();
    void requestAdd();
    void revealSelected();
    /** The menu of a row, opened `at` the pointer: a stored file's display name can be changed. */
    void rowMenu (int row, const juce::PopupMenu::Options& at);
    void requestRename (const juce::String& path, const juce::String& name);
    /** A library scan, or one as soon as the running scan ends (the library drops a request
        that comes while it scans, and a scan that started before a rename shows the old name). */
    void requestScan();
    SessionCoordinator& coordinator;
    DialogHost& dialogs;
    juce::Label title, summary, hint;
    PaletteBindings paletteParts;
    juce::ComboBox filter, target;
    juce::TextEditor search;
    juce::TextButton reloadButton, addButton, removeButton, revealButton;
    juce::ListBox list;
    std::shared_ptr<const LibraryItemList> items = std::make_shared<const LibraryItemList>();
    std::vector<int> filtered;
    std::vector<std::string> targetIds;
    std::int64_t generation = 0;
    std::uint64_t revisionSeen = 0;
    juce::String targetSignature;
    bool scanWanted = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LibraryPanel)
};
} // namespace vantrel
