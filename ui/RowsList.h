#pragma once
// Message thread only.

#include "app/SessionCoordinator.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace vantrel
{
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

/** "62:05" for 3725.9 s: whole minutes and seconds, truncated; nothing negative or non-finite. */
juce::String formatDuration (double seconds);
} // namespace vantrel
