#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"
#include "ui/Theme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

namespace vantrel
{
/** The audio CD import: choose a disc, tick its tracks, name the new playlist, choose WAV or MP3
    (with its rate and bit rate), start, watch the progress, cancel. It shows the coordinator's
    importer three times a second and acts only through its start and cancel; the finished
    playlist reaches the catalog through the coordinator's tick. While an import runs everything
    but the cancel button is disabled and the disc list is not rebuilt, so the tracks shown stay
    those of the disc being imported. */
class CdImportPanel : public juce::Component,
                      public juce::Timer,
                      public juce::ListBoxModel
{
public:
    explicit CdImportPanel (SessionCoordinator& coordinator);
    ~CdImportPanel() override;

    /** The panel's copy of the disc chosen in the disc box; null when none is chosen. */
    const CdDisc* selectedDisc() const;
    /** Shows the chosen disc's tracks: a disc not shown before comes with every track ticked and
        its title as the name; the one already shown keeps the operator's ticks and name. */
    void showSelectedDisc();
    /** Asks the importer for the chosen disc's ticked tracks in the chosen format. A request it
        refuses leaves it idle; only the refresh shows the outcome. */
    void startImport();
    /** Flips the tick of one track of the shown disc (a click on its row). */
    void toggleTrack (int row);
    /** The numbers of the ticked tracks in the disc's order: what an import takes. */
    std::vector<int> tickedTracks() const;

    /** The refresh: the discs (only while idle), the enabled states, the progress and the status. */
    void timerCallback() override;

    int getNumRows() override;
    /** A track's name and length, as accessibility clients read the row. */
    juce::String getNameForRow (int row) override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;

    void paint (juce::Graphics&) override;
    void resized() override;
    /** The parts' colours follow the palette ids (ui/Theme.h) of the window the panel is in. */
    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;
    void colourChanged() override;

private:
    /** What the status line says when the session has no importer. */
    juce::String unavailableText() const;
    bool editingLocked() const;

    SessionCoordinator& coordinator;
    juce::Label titleLabel, nameLabel, formatLabel, rateLabel, bitrateLabel, statusLabel, hintLabel;
    juce::ComboBox discCombo, formatCombo, rateCombo, bitrateCombo;
    juce::TextEditor nameEditor;
    juce::TextButton selectAllButton, selectNoneButton, importButton, cancelButton;
    juce::ListBox trackList { "CD tracks", nullptr };
    double progress = 0.0;   // read by the progress bar
    juce::ProgressBar progressBar { progress };
    std::vector<CdDisc> discs;
    juce::String shownDiscKey;
    std::vector<bool> selection;
    PaletteBindings paletteParts;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CdImportPanel)
};
} // namespace vantrel
