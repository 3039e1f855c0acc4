#pragma once
// Message thread only.

#include "ui/GainControl.h"
#include "ui/Meters.h"
#include "ui/ViewSection.h"

#include <memory>

namespace vantrel
{
/** The master section of the top band: its heading, the MASTER EQ and VST buttons, the meter,
    the master gain, the GR readout with the SAFETY mark, LIMITER, the DYNAMICS fold and the four
    limiter rows it unfolds. */
class MasterStrip : public ViewSection
{
public:
    explicit MasterStrip (const SectionContext& context);

    void layOut (const MainScreenLayout& layout) override;
    void refresh (const ViewSnapshot& snapshot) override;
    juce::String editRefusal (juce::Component& pressed) const override;
    /** The meter's part of every timer tick. */
    void showMeter (const orvane::audio::MasterOutputMeters& meters);

private:
    Meter meter;
    GainControl masterGain { true };
    juce::Label masterHeading, grReadout, safetyMark;
    juce::TextButton limiter, dynamicsFold, vst, masterEq;
    std::array<juce::Label, 4> limiterLabels;
    std::array<std::unique_ptr<WheelFirstSlider>, 4> limiterSliders;
    bool safetyPlaced = false;   // the layout shows the SAFETY mark's place
};
} // namespace vantrel
