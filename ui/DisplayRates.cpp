#include "ui/DisplayRates.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace vantrel
{
namespace
{
// Desktop owns its Displays as a non-const object and hands it out only as const; the list is
// rebuilt from the window system by each refresh, so a rate filled in here never outlives the
// displays it was made for.
juce::Displays& desktopDisplays()
{
    return const_cast<juce::Displays&> (juce::Desktop::getInstance().getDisplays());
}
} // namespace

void assumeCommonRefreshRates()
{
    JUCE_ASSERT_MESSAGE_THREAD
    for (auto& display : desktopDisplays().displays)
        if (! display.verticalFrequencyHz.has_value() || *display.verticalFrequencyHz <= 0.0)
            display.verticalFrequencyHz = assumedRefreshRateHz;
}

void slowWindowFrameTimers()
{
    JUCE_ASSERT_MESSAGE_THREAD
    for (auto& display : desktopDisplays().displays)
        display.verticalFrequencyHz = standInFrameRateHz;
}
} // namespace vantrel
