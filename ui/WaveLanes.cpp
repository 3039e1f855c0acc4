#include "ui/WaveLanes.h"

namespace vantrel
{
WaveLanes::WaveLanes (const SectionContext& context) : ViewSection (context)
{
    auto& co = coordinator;
    wire (outgoingLane.stopButton, [&co] { co.stop (false); });
    wire (mainLane.stopButton, [&co] { co.stop (true); });
    mainLane.onScrub = [this] (double seconds)
    {
        coordinator.seekMain (seconds, true);
        view.refresh();
    };
    for (auto* lane : { &outgoingLane, &mainLane, &readyLane })
        lane->time.onClick = [this] { toggleDetailedTime(); };
    addPart (outgoingLane, "wave-outgoing");
    addPart (mainLane, "wave-main");
    addPart (readyLane, "wave-ready");
}

bool WaveLanes::needFrames() const
{
    return outgoingLane.needsFrames() || mainLane.needsFrames() || readyLane.needsFrames();
}

void WaveLanes::takeFramesFromView()
{
    for (auto* lane : { &outgoingLane, &mainLane, &readyLane })
        lane->takeFramesFromView();
}

void WaveLanes::frame()
{
    for (auto* lane : { &outgoingLane, &mainLane, &readyLane })
        lane->frame();
}

void WaveLanes::toggleDetailedTime()
{
    auto& flags = view.flags();
    flags.detailedTime = ! flags.detailedTime;
    for (auto* lane : { &outgoingLane, &mainLane, &readyLane })
    {
        lane->time.detailed = flags.detailedTime;
        lane->time.getProperties().set ("detailed-time", flags.detailedTime);
        lane->time.repaint();
    }
}

void WaveLanes::refresh (const ViewSnapshot& snapshot)
{
    showLanes (snapshot.lanes);
}

void WaveLanes::showLanes (const LaneSnapshot& s)
{
    const auto mainBefore = mainLane.status.rowId;
    const auto readyBefore = readyLane.status.rowId;
    const auto& mainInfo = s.lanes[1];
    const auto& outgoingInfo = s.lanes[0];

    // A GO since the last refresh moved MAIN's row to OUTGOING and READY's to MAIN.
    bool outgoingFromMain = false, mainFromReady = false;
    if (s.goCount != lastGoCount)
    {
        lastGoCount = s.goCount;
        outgoingFromMain = ! outgoingInfo.rowId.empty() && outgoingInfo.rowId == mainBefore;
        mainFromReady = ! mainInfo.rowId.empty() && mainInfo.rowId == readyBefore;
    }
    outgoingLane.setStatus (outgoingInfo, outgoingFromMain);
    mainLane.setStatus (mainInfo, mainFromReady);
    readyLane.setStatus (s.lanes[2], false);

    WaveLaneView* lanes[] = { &outgoingLane, &mainLane, &readyLane };
    for (size_t i = 0; i < 3; ++i)
    {
        lanes[i]->setLaneColour (s.colours[i]);
        lanes[i]->setSecondsShown (s.secondsShown);
        lanes[i]->setSeekProtected (s.seekLocked);
    }
    outgoingLane.stopButton.setEnabled (s.outgoingSounds);
    mainLane.stopButton.setEnabled (s.mainSounds);
}

void WaveLanes::addOpaqueFaces (juce::RectangleList<int>& faces) const
{
    for (const auto* lane : { &outgoingLane, &mainLane, &readyLane })
        addFace (faces, *lane, 10);   // a 7 px corner inside an outline 0.7 px in
}
} // namespace vantrel
