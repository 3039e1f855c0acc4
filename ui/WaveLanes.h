#pragma once
// Message thread only.

#include "ui/ViewSection.h"
#include "ui/WaveLane.h"

namespace vantrel
{
/** The three wave lanes of the top band: OUTGOING, MAIN and READY, their stop buttons, MAIN's
    seek by dragging and the time readouts that switch the detailed time on and off. */
class WaveLanes : public ViewSection
{
public:
    explicit WaveLanes (const SectionContext& context);

    void refresh (const ViewSnapshot& snapshot) override;
    /** The lanes' part of every timer tick: the rows they show, a GO's hand-over, colours, zoom. */
    void showLanes (const LaneSnapshot& snapshot);
    /** Flips the view's detailed time readout and shows it on the three lanes. */
    void toggleDetailedTime();
    /** True while a lane plays or flashes: its waveform moves at every frame. */
    bool needFrames() const;
    /** The lanes move on the view's frames (frame()) instead of timers of their own. */
    void takeFramesFromView();
    void frame();
    void addOpaqueFaces (juce::RectangleList<int>& faces) const override;

private:
    WaveLaneView outgoingLane { 0 }, mainLane { 1 }, readyLane { 2 };
    std::int64_t lastGoCount = 0;   // the coordinator's GO counter at the last lane refresh
};
} // namespace vantrel
