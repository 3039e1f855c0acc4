#include "ui/DisplayRates.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace vantrel
{
void assumeCommonRefreshRates()
{
    JUCE_ASSERT_MESSAGE_THREAD

    // Desktop owns its Displays as a non-const object and hands it out only as const; the list is
    // rebuilt from the window system by each refresh, so a rate filled in here never outlives the
    // displays it was made for.
    auto& displays = const_cast<juce::Displays&> (juce::Desktop::getInstance().getDisplays());

    for (auto& display : displays.displays)
        if (! display.verticalFrequencyHz.has_value() || *display.verticalFrequencyHz <= 0.0)
            display.verticalFrequencyHz = assumedRefreshRateHz;
}
} // namespace vantrel
