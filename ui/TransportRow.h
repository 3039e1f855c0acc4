#pragma once
// Message thread only.

#include "ui/Meters.h"
#include "ui/ViewSection.h"

namespace vantrel
{
/** The control row: the brand mark, GO, the seek and pause buttons, AUTO CUE, AUTO READY, REPEAT,
    LIVE LOCK, the wave zoom with its readout and the output button with its label. */
class TransportRow : public ViewSection
{
public:
    explicit TransportRow (const SectionContext& context);

    void refresh (const ViewSnapshot& snapshot) override;
    void addOpaqueFaces (juce::RectangleList<int>& faces) const override;
    /** The LIVE LOCK shortcut: a click of the LIVE LOCK button (it asks before switching it off). */
    void clickLiveLock();

private:
    GoButton go;
    BrandMark brand;
    RepeatButton repeat;
    juce::TextButton seekBack, pause, seekForward, autoCue, autoReady, lock, outputDevice;
    juce::Label outputLabel, zoomLabel;
    WheelFirstSlider zoom;
};
} // namespace vantrel
